#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recio/io_api.h"
#include "support/test_files.h"
#include "support/units.h"

namespace {

using namespace testsupport::statements;
using testsupport::bytes;
using testsupport::ScratchDir;
using testsupport::write_file;

constexpr std::int32_t kUnit = 52;

// OPEN of an unformatted file, with a CONVERT selection when one is named.
int open_unit(const std::string& name, std::string_view convert = {},
              std::string_view form = "unformatted") {
  if (convert.empty())
    return testsupport::open_unit(kUnit, kCheck,
                                  {{recio::kKeyFile, name}, {recio::kKeyForm, form}});
  return testsupport::open_unit(
      kUnit, kCheck,
      {{recio::kKeyFile, name}, {recio::kKeyForm, form}, {recio::kKeyConvert, convert}});
}

int close_unit() {
  return testsupport::close_unit(kUnit, kCheck);
}

using StartCall = int (*)(IoControlBlock*, std::int32_t, std::uint32_t, recio::Descriptor,
                          recio::IoArgs);
using ItemCall = int (*)(IoControlBlock*, recio::Descriptor, recio::IoArgs);

// The header-like record: a text, two integers, two reals.
struct Mixed {
  char text[8];
  std::int32_t a, b;
  float x, y;
};

int mixed_statement(StartCall start, ItemCall xmit, Mixed* m) {
  IoControlBlock cb{};
  const IoArg t[] = {IoArg::val(8), IoArg::address(m->text)};
  if (int r = start(&cb, kUnit, kCheck, kTextMore, recio::IoArgs(t))) return r;
  const IoArg a[] = {IoArg::address(&m->a)}, b[] = {IoArg::address(&m->b)};
  const IoArg x[] = {IoArg::address(&m->x)}, y[] = {IoArg::address(&m->y)};
  if (int r = xmit(&cb, kIntMore, recio::IoArgs(a))) return r;
  if (int r = xmit(&cb, kIntMore, recio::IoArgs(b))) return r;
  if (int r = xmit(&cb, kRealMore, recio::IoArgs(x))) return r;
  return xmit(&cb, kRealEnd, recio::IoArgs(y));
}

// A plane as the program writes and reads it: one call per 4-byte value.
int value_statement(StartCall start, ItemCall xmit, std::vector<std::uint32_t>* values) {
  IoControlBlock cb{};
  if (int r = start(&cb, kUnit, kCheck, kMore, {})) return r;
  for (std::uint32_t& v : *values) {
    const IoArg a[] = {IoArg::val(4), IoArg::address(&v)};
    if (int r = xmit(&cb, kFieldValueMore, recio::IoArgs(a))) return r;
  }
  return xmit(&cb, kEnd, {});
}

// The same record read as one text item: larger than the read-ahead, it
// streams into the item.
int read_as_one_item(std::vector<std::uint32_t>* values) {
  IoControlBlock cb{};
  char none = 0;  // an empty item still has an address
  const IoArg a[] = {IoArg::val(static_cast<std::int64_t>(values->size() * 4)),
                     IoArg::address(values->empty() ? &none : static_cast<void*>(values->data()))};
  return recio::for_read_seq(&cb, kUnit, kCheck, kTextEnd, a);
}

std::vector<std::uint32_t> pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint32_t> v(n);
  for (std::uint32_t& x : v) {
    seed = seed * 1664525u + 1013904223u;
    x = seed & 0xBFFFFFFFu;  // never a NaN or infinity
  }
  return v;
}

struct SelectionCase {
  const char* name;
  const char* convert;  // empty: no keyword
};

// Values every representation holds exactly, so each comes back unchanged.
constexpr SelectionCase kSelections[] = {
    {"None", ""},
    {"BigEndian", "BIG_ENDIAN"},
    {"LittleEndian", "LITTLE_ENDIAN"},
    {"Native", "NATIVE"},
    {"Ibm", "IBM"},
    {"Cray", "CRAY"},
    {"Tyrd", "TYRD"},
    {"Tyrg", "TYRG"},
    {"Fdx", "FDX"},
    {"Fgx", "FGX"},
};

class ReaderSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(ReaderSelection, ReadsBackWhatTheWriterWrote) {
  ScratchDir dir;
  const std::string file = dir.file("sel.unf");
  const Mixed written[] = {
      {{'A', 'B', '\'', 'c', ',', ' ', 'd', '\0'}, -1, 258, 1.0f, -2.5f},
      {{'x', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, INT32_MAX, 0, 0.15625f, 1024.0f}};
  ASSERT_EQ(open_unit(file, GetParam().convert), 0);
  for (Mixed m : written)
    ASSERT_EQ(mixed_statement(recio::for_write_seq, recio::for_write_seq_xmit, &m), 0);
  std::vector<std::uint32_t> plane = {std::bit_cast<std::uint32_t>(65536.5f),
                                      std::bit_cast<std::uint32_t>(-0.75f), 0};
  ASSERT_EQ(value_statement(recio::for_write_seq, recio::for_write_seq_xmit, &plane), 0);
  ASSERT_EQ(close_unit(), 0);

  ASSERT_EQ(open_unit(file, GetParam().convert), 0);
  for (const Mixed& expected : written) {
    Mixed m{};
    ASSERT_EQ(mixed_statement(recio::for_read_seq, recio::for_read_seq_xmit, &m), 0);
    EXPECT_EQ(std::string_view(m.text, 8), std::string_view(expected.text, 8));
    EXPECT_EQ(m.a, expected.a);
    EXPECT_EQ(m.b, expected.b);
    EXPECT_EQ(m.x, expected.x);
    EXPECT_EQ(m.y, expected.y);
  }
  std::vector<std::uint32_t> back(plane.size());
  ASSERT_EQ(value_statement(recio::for_read_seq, recio::for_read_seq_xmit, &back), 0);
  EXPECT_EQ(back, plane);
  IoControlBlock cb{};
  EXPECT_EQ(recio::for_read_seq(&cb, kUnit, kCheck, kEnd, {}), -1);  // end of file
  EXPECT_EQ(close_unit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Selections, ReaderSelection, ::testing::ValuesIn(kSelections),
                         [](const auto& info) { return std::string(info.param.name); });

// Records around the record area (2040 data bytes), the unit's first buffer
// (8192) and the read-ahead block (65536), and one far beyond it.
constexpr std::size_t kRecordValues[] = {0,    1,     510,   511,   2046,  2047,
                                         2048, 16383, 16384, 16385, 50000, 300000};

struct SizeCase {
  const char* name;
  const char* convert;
  bool one_item;
};

class ReaderSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ReaderSizes, EveryRecordSizeComesBackWhole) {
  ScratchDir dir;
  const std::string file = dir.file("sizes.unf");
  std::vector<std::vector<std::uint32_t>> records;
  ASSERT_EQ(open_unit(file, GetParam().convert), 0);
  for (std::size_t n : kRecordValues) {
    records.push_back(pattern(n, static_cast<std::uint32_t>(n)));
    ASSERT_EQ(value_statement(recio::for_write_seq, recio::for_write_seq_xmit, &records.back()), 0);
  }
  ASSERT_EQ(close_unit(), 0);

  ASSERT_EQ(open_unit(file, GetParam().convert), 0);
  for (const auto& expected : records) {
    std::vector<std::uint32_t> back(expected.size(), 0xFFFFFFFFu);
    const bool raw_bytes = GetParam().one_item;  // a text item is never converted
    ASSERT_EQ(raw_bytes ? read_as_one_item(&back)
                        : value_statement(recio::for_read_seq, recio::for_read_seq_xmit, &back),
              0)
        << expected.size() << " values";
    if (raw_bytes && std::string_view(GetParam().convert) == "BIG_ENDIAN") {
      for (std::uint32_t& v : back) v = __builtin_bswap32(v);
    }
    EXPECT_EQ(back, expected) << expected.size() << " values";
  }
  EXPECT_EQ(close_unit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReaderSizes,
                         ::testing::Values(SizeCase{"ValuesNative", "", false},
                                           SizeCase{"OneTextNative", "", true},
                                           SizeCase{"ValuesBigEndian", "BIG_ENDIAN", false},
                                           SizeCase{"OneTextBigEndian", "BIG_ENDIAN", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Files the reader must refuse, each with its own condition and the place
// that tells the program where.
struct MalformedCase {
  const char* name;
  std::string file;
  std::size_t ask;  // data bytes the statement asks for
  int status;
  recio::RecordPlace place;
};

std::string le(std::uint32_t n) {
  return bytes({static_cast<int>(n & 0xFF), static_cast<int>((n >> 8) & 0xFF),
                static_cast<int>((n >> 16) & 0xFF), static_cast<int>(n >> 24)});
}

const MalformedCase kMalformed[] = {
    {"Empty", "", 4, -1, {0, -1, -1, -1}},
    {"PartLeadingLength", bytes({8, 0}), 4, 39, {0, -1, -1, 2}},
    {"EndsInsideData", le(8) + "abcd", 4, 39, {0, 8, -1, 8}},
    {"EndsInsideTrailingLength", le(4) + "abcd" + "\x04", 4, 39, {0, 4, -1, 9}},
    {"TrailingLengthDiffers", le(4) + "abcd" + le(5), 4, 37, {0, 4, 5, -1}},
    {"AsksForMoreThanTheRecord", le(4) + "abcd" + le(4), 8, 67, {0, 4, -1, -1}},
    {"OtherByteOrder",
     bytes({0, 0, 0, 4}) + "abcd" + bytes({0, 0, 0, 4}),
     4,
     39,
     {0, 0x04000000, -1, 12}},
};

class ReaderMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(ReaderMalformed, RefusesWithItsConditionAndPlace) {
  const MalformedCase& c = GetParam();
  ScratchDir dir;
  const std::string file = dir.file("bad.unf");
  write_file(file, c.file);
  ASSERT_EQ(open_unit(file), 0);
  std::string data(c.ask, '\0');
  const IoArg a[] = {IoArg::val(static_cast<std::int64_t>(c.ask)), IoArg::address(data.data())};
  IoControlBlock cb{};
  EXPECT_EQ(recio::for_read_seq(&cb, kUnit, kCheck, kTextEnd, a), c.status);
  recio::RecordPlace place;
  ASSERT_EQ(recio::for_inquire_record_place(kUnit, &place), 0);
  EXPECT_EQ(place.offset, c.place.offset);
  EXPECT_EQ(place.leading, c.place.leading);
  EXPECT_EQ(place.trailing, c.place.trailing);
  EXPECT_EQ(place.end_of_file, c.place.end_of_file);
  EXPECT_EQ(close_unit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, ReaderMalformed, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, SkipsWhatTheItemsLeaveAndPlacesTheNextRecord) {
  ScratchDir dir;
  const std::string file = dir.file("skip.unf");
  write_file(file, le(6) + "abcdef" + le(6) + le(2) + "gh" + le(2));
  ASSERT_EQ(open_unit(file), 0);
  char two[2];
  const IoArg a[] = {IoArg::val(2), IoArg::address(two)};
  IoControlBlock cb{};
  ASSERT_EQ(recio::for_read_seq(&cb, kUnit, kCheck, kTextEnd, a), 0);
  EXPECT_EQ(std::string_view(two, 2), "ab");
  ASSERT_EQ(recio::for_read_seq(&cb, kUnit, kCheck, kTextEnd, a), 0);
  EXPECT_EQ(std::string_view(two, 2), "gh");
  recio::RecordPlace place;
  ASSERT_EQ(recio::for_inquire_record_place(kUnit, &place), 0);
  EXPECT_EQ(place.offset, 14);
  EXPECT_EQ(place.trailing, 2);
  EXPECT_EQ(close_unit(), 0);
}

// The loop call carries values of any size, not only 4-byte ones.
TEST(Reader, EightByteValuesInTheLoopCall) {
  ScratchDir dir;
  const std::string file = dir.file("doubles.unf");
  constexpr auto kDoubleMore =
      recio::item_descriptor({{recio::kTypeReal8, recio::kPassSizeAddr}}, recio::Terminator::kMore);
  for (const char* convert : {"", "BIG_ENDIAN", "TYRG"}) {
    SCOPED_TRACE(convert);
    double values[] = {1.5, -2.25, 1e300};
    for (bool reading : {false, true}) {
      ASSERT_EQ(open_unit(file, convert), 0);
      const StartCall start = reading ? recio::for_read_seq : recio::for_write_seq;
      const ItemCall xmit = reading ? recio::for_read_seq_xmit : recio::for_write_seq_xmit;
      double back[3] = {};
      double* at = reading ? back : values;
      IoControlBlock cb{};
      ASSERT_EQ(start(&cb, kUnit, kCheck, kMore, {}), 0);
      for (int i = 0; i < 3; ++i) {
        const IoArg a[] = {IoArg::val(8), IoArg::address(at + i)};
        ASSERT_EQ(xmit(&cb, kDoubleMore, recio::IoArgs(a)), 0);
      }
      ASSERT_EQ(xmit(&cb, kEnd, {}), 0);
      if (reading) {
        EXPECT_EQ(back[0], values[0]);
        EXPECT_EQ(back[1], values[1]);
      }
      ASSERT_EQ(close_unit(), 0);
    }
  }
}

TEST(Reader, RefusesAFormattedUnit) {
  ScratchDir dir;
  const std::string file = dir.file("text.map");
  write_file(file, "title\n");
  ASSERT_EQ(open_unit(file, {}, "formatted"), 0);
  IoControlBlock cb{};
  EXPECT_EQ(recio::for_read_seq(&cb, kUnit, kCheck, kEnd, {}), 31);
  EXPECT_EQ(close_unit(), 0);
}

}  // namespace
