// Statements for tests: what they are made of (argument words, flag word,
// named item descriptors), OPEN and CLOSE from keyword/value pairs, and a
// guard that closes a unit when a test leaves, also after a failed assertion.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "app/descriptors.h"
#include "recio/descriptor.h"
#include "recio/io_api.h"

namespace testsupport {

// What the tests' statements are made of, for a test file to take in with
// one using-directive: the argument words, the control block, the flag word
// of a statement that returns its status, and the item descriptors by what
// they move: the program's own (app/descriptors.h) and those only tests use.
// "Record" entries come first in an internal statement: the text the values
// are read from or written into. "FieldValue" is a REAL(4) element passed as
// size and address.
namespace statements {

using namespace app::desc;
using recio::IoArg;
using recio::IoControlBlock;
using recio::item_descriptor;
using recio::Terminator;

// Failures return their status instead of ending the process.
inline constexpr std::uint32_t kCheck = recio::kFlagsErrBranch;

inline constexpr auto kRecordTextEnd =
    item_descriptor({recio::kTextItem, recio::kTextItem}, Terminator::kEnd);

}  // namespace statements

// One keyword of OPEN or CLOSE: a text (length and address), or a number
// passed by value as INTEGER(4).
struct UnitKeyword {
  UnitKeyword(std::uint8_t code, std::string_view text) : code(code), text(text), is_text(true) {}
  UnitKeyword(std::uint8_t code, std::int64_t number) : code(code), number(number) {}

  std::uint8_t code;  // recio::kKey...
  std::string_view text;
  std::int64_t number = 0;
  bool is_text = false;
};

// The descriptor and argument words of an OPEN or CLOSE naming `keywords` in
// the order given.
struct KeywordList {
  std::vector<std::uint8_t> descriptor;
  std::vector<recio::IoArg> args;
};

inline KeywordList keyword_list(std::span<const UnitKeyword> keywords) {
  KeywordList list;
  for (const UnitKeyword& k : keywords) {
    const recio::ItemEntry item = k.is_text ? recio::kTextItem : recio::kInt4Value;
    list.descriptor.insert(list.descriptor.end(), {item.type, item.mode, k.code, 0});
    if (k.is_text) {
      list.args.push_back(recio::IoArg::val(static_cast<std::int64_t>(k.text.size())));
      list.args.push_back(recio::IoArg::address(k.text.data()));
    } else {
      list.args.push_back(recio::IoArg::val(k.number));
    }
  }
  constexpr auto end = recio::keyword_descriptor();
  list.descriptor.insert(list.descriptor.end(), end.begin(), end.end());
  return list;
}

// OPEN or CLOSE (`statement`) on `unit` naming `keywords` in the order given.
inline int keyword_statement(decltype(&recio::for_open) statement, std::int32_t unit,
                             std::uint32_t flags, std::span<const UnitKeyword> keywords) {
  const KeywordList list = keyword_list(keywords);
  recio::IoControlBlock cb{};
  return statement(&cb, unit, flags, list.descriptor, list.args);
}

inline int open_unit(std::int32_t unit, std::uint32_t flags,
                     const std::vector<UnitKeyword>& keywords) {
  return keyword_statement(recio::for_open, unit, flags, keywords);
}

inline int close_unit(std::int32_t unit, std::uint32_t flags,
                      const std::vector<UnitKeyword>& keywords = {}) {
  return keyword_statement(recio::for_close, unit, flags, keywords);
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
