// The unformatted reader over random bytes read as a map, in random read
// sizes and representations: every statement must give what a plain walk of
// the variable-record framing says: a record's bytes in its text items, end
// of file (-1) only at a record's start, 39 for a file that ends inside a
// record, 67 for items beyond the record, 37 for a trailing length unlike
// the leading one. Real and integer items go through the foreign
// conversions unchecked, for the sanitizers.
//
// Input: byte 0 the representation, byte 1 the number of read sizes, the
// sizes, a byte with the number of items per statement, one byte per item,
// then the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "harness.h"
#include "recio/io_api.h"
#include "recio/record_io.h"
#include "scripted_reads.h"
#include "support/units.h"

namespace {

using recio::IoArg;
using testsupport::statements::kEnd;
using testsupport::statements::kMore;

constexpr std::int32_t kUnit = 21;
constexpr const char* kRepresentations[] = {"",     "BIG_ENDIAN", "IBM",           "CRAY",
                                            "TYRD", "TYRG",       "LITTLE_ENDIAN", "FDX"};
constexpr bool kBigEndianLengths[] = {false, true, true, true, false, false, false, false};

const char* empty_file = nullptr;

// OPEN of the scratch file, with a CONVERT keyword unless the representation
// is empty.
int open_unit(std::string_view representation) {
  std::vector<testsupport::UnitKeyword> keywords = {
      {recio::kKeyFile, empty_file}, {recio::kKeyStatus, "old"}, {recio::kKeyForm, "unformatted"}};
  if (!representation.empty()) keywords.push_back({recio::kKeyConvert, representation});
  return testsupport::open_unit(kUnit, recio::kFlagsErrBranch, keywords);
}

std::uint32_t length_at(std::string_view s, std::size_t at, bool big) {
  std::uint32_t n = 0;
  for (int i = 0; i < 4; ++i) {
    const auto b = static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    n |= static_cast<std::uint32_t>(b) << (big ? 8 * (3 - i) : 8 * i);
  }
  return n;
}

// One item of a statement: a text of `size` bytes, or a number.
struct Plan {
  std::uint8_t type;
  std::int32_t size;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  empty_file = fuzz::start_scripted_reads();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::size_t selection = in.take() & 7u;
  fuzz::new_read_script(in);
  std::vector<Plan> plan;
  for (std::size_t i = 0, n = in.take() & 7u; i < n; ++i) {
    const std::uint8_t b = in.take();
    switch (b >> 6) {
      case 0:
        plan.push_back({recio::kTypeChar, static_cast<std::int32_t>(b & 63u) * 3});
        break;
      case 1:
        plan.push_back({recio::kTypeReal4, 4});
        break;
      case 2:
        plan.push_back({recio::kTypeInt4, 4});
        break;
      default:
        plan.push_back({recio::kTypeReal8, 8});
        break;
    }
  }
  fuzz::read_script.stream = std::string_view(in.rest(), in.rest_size());
  const std::string_view file = fuzz::read_script.stream;
  const bool big = kBigEndianLengths[selection];

  if (open_unit(kRepresentations[selection]) != 0) fuzz::fail("open failed");
  std::vector<char> item(256);
  std::size_t at = 0;
  try {
    for (int statement = 0; statement < 64; ++statement) {
      recio::IoControlBlock cb{};
      const int start = recio::for_read_seq(&cb, kUnit, recio::kFlagsErrBranch, kMore, {});
      const std::size_t left = file.size() - at;
      if (left == 0 || left < 4) {
        if (start != (left == 0 ? -1 : 39)) fuzz::fail("record at %zu: start gave %d", at, start);
        break;
      }
      if (start != 0) fuzz::fail("record at %zu: start gave %d", at, start);
      const std::uint32_t length = length_at(file, at, big);
      std::size_t taken = 0;
      int failed = 0;
      for (const Plan& p : plan) {
        const recio::PassMode mode =
            p.type == recio::kTypeChar ? recio::kPassLenAddr : recio::kPassSizeAddr;
        const auto desc =
            recio::item_descriptor({{recio::TypeCode{p.type}, mode}}, recio::Terminator::kMore);
        const IoArg args[] = {IoArg::val(p.size), IoArg::address(item.data())};
        const int r = recio::for_read_seq_xmit(&cb, desc, args);
        const auto n = static_cast<std::size_t>(p.size);
        const int want = taken + n > length ? 67 : at + 4 + taken + n > file.size() ? 39 : 0;
        if (r != want) fuzz::fail("record at %zu, item at %zu: %d, want %d", at, taken, r, want);
        if (r != 0) {
          failed = r;
          break;
        }
        if (p.type == recio::kTypeChar &&
            std::memcmp(item.data(), file.data() + at + 4 + taken, n) != 0)
          fuzz::fail("record at %zu: the bytes of the item at %zu differ", at, taken);
        taken += n;
      }
      if (failed != 0) break;
      const int r = recio::for_read_seq_xmit(&cb, kEnd, {});
      const bool whole = file.size() - at >= std::size_t{length} + 8;
      const int want = !whole ? 39 : length_at(file, at + 4 + length, big) != length ? 37 : 0;
      if (r != want) fuzz::fail("record at %zu: end gave %d, want %d", at, r, want);
      if (r != 0) break;
      recio::RecordPlace place;
      recio::for_inquire_record_place(kUnit, &place);
      if (place.offset != static_cast<std::int64_t>(at) || place.leading != length)
        fuzz::fail("record at %zu: place %lld, %lld", at, static_cast<long long>(place.offset),
                   static_cast<long long>(place.leading));
      at += std::size_t{length} + 8;
    }
  } catch (const fuzz::ProcessEnd& end) {
    fuzz::fail("severe end with 0x%08X", end.status);
  }
  if (testsupport::close_unit(kUnit, recio::kFlagsErrBranch) != 0) fuzz::fail("close");
  fuzz::check_units_released("reading a map");
  return 0;
}
