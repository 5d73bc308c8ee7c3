// Opening and closing units for tests: OPEN from keyword/text pairs, CLOSE,
// and a guard that closes the unit when a test leaves, also after a failed
// assertion.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "recio/descriptor.h"
#include "recio/io_api.h"

namespace testsupport {

struct UnitKeyword {
  std::uint8_t code;  // recio::kKey...
  std::string_view text;
};

// OPEN on `unit` with each keyword passed as a text, in the order given.
inline int open_unit(std::int32_t unit, std::uint32_t flags,
                     const std::vector<UnitKeyword>& keywords) {
  std::vector<std::uint8_t> desc;
  std::vector<recio::IoArg> args;
  for (const UnitKeyword& k : keywords) {
    desc.insert(desc.end(), {recio::kTypeChar, recio::kPassLenAddr, k.code, 0});
    args.push_back(recio::IoArg::val(static_cast<std::int64_t>(k.text.size())));
    args.push_back(recio::IoArg::address(k.text.data()));
  }
  desc.insert(desc.end(), {recio::kTypeEnd, recio::kPassNone});
  recio::IoControlBlock cb{};
  return recio::for_open(&cb, unit, flags, desc, args);
}

inline int open_unit(std::int32_t unit, std::uint32_t flags,
                     std::initializer_list<UnitKeyword> keywords) {
  return open_unit(unit, flags, std::vector<UnitKeyword>(keywords));
}

// CLOSE without keywords.
inline int close_unit(std::int32_t unit, std::uint32_t flags) {
  constexpr auto desc = recio::keyword_descriptor();
  recio::IoControlBlock cb{};
  return recio::for_close(&cb, unit, flags, desc, {});
}

class UnitCloser {
 public:
  explicit UnitCloser(std::int32_t unit, std::uint32_t flags = recio::kFlagsNoBranch)
      : unit_(unit), flags_(flags) {}
  ~UnitCloser() { close_unit(unit_, flags_); }
  UnitCloser(const UnitCloser&) = delete;
  UnitCloser& operator=(const UnitCloser&) = delete;

 private:
  std::int32_t unit_;
  std::uint32_t flags_;
};

}  // namespace testsupport
