#include "app/map_location.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using app::MapReading;
using app::ValueKind;

// A line as the reader holds it: 80 columns, blank-padded.
std::string buffer_of(const std::string& text) {
  std::string b = text.substr(0, app::kMapColumns);
  b.resize(app::kMapColumns, ' ');
  return b;
}

// Its 81st column: blank when there is none.
char next_of(const std::string& text) {
  return text.size() > 80 ? text[80] : ' ';
}

TEST(MapLocation, ColumnsOfALine) {
  struct Case {
    const char* name;
    std::string line;
    std::int32_t columns;
  };
  const std::string pad78 = std::string("1.0 2.0") + std::string(71, ' ');
  const Case cases[] = {
      {"short line", "1.0 2.0 3.0", 80},
      {"value ends at column 80", std::string(77, ' ') + "3.5", 80},
      {"value cut at column 80", pad78 + "3.25", 78},
      {"blank after column 80", pad78 + "3. x", 80},
      {"comma after column 80", pad78 + "3.,x", 80},
      {"slash after column 80", pad78 + "3./x", 80},
      {"tab after column 80", pad78 + "3.\tx", 80},
      {"value starts at column 81", std::string(76, ' ') + "1.0,3.25", 80},
      {"cut after a comma", std::string(75, ' ') + "1.0,3.25", 79},
      {"one value over the whole line", std::string(85, '7'), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::map_line_columns(buffer_of(c.line).c_str(), next_of(c.line)), c.columns)
        << c.name;
  }
}

constexpr ValueKind kReals[3] = {ValueKind::kReal, ValueKind::kReal, ValueKind::kReal};

struct LocationCase {
  const char* name;
  std::string text;
  msg::Id id;
  std::string expected;
  std::int64_t point = 5;  // grid point (2, 3, 1) of a 3 x 2 x 2 grid
  std::int64_t length = 0;
};

std::string location(const LocationCase& c, const ValueKind* kinds, std::string_view names) {
  const std::string line = buffer_of(c.text);
  MapReading r;
  std::strcpy(r.path, "/maps/in.map");
  r.line = c.point >= 0 ? 11 + c.point : 10;
  r.parsing = true;
  r.text = line.c_str();
  r.length = c.length != 0 ? c.length : static_cast<std::int64_t>(c.text.size());
  r.next = next_of(c.text);
  r.kinds = kinds;
  r.count = 3;
  r.names = names;
  r.grid = c.point >= 0;
  r.nx = 3;
  r.ny = 2;
  char out[2048];
  const std::size_t n = app::write_map_location(r, c.id, out, 0, sizeof out);
  return std::string(out, n);
}

// What the end-to-end tables do not show: the marker after a comma and
// blanks, and bytes that would disturb a terminal shown escaped, the marker
// still under its value.
TEST(MapLocation, MarkerAndEscapes) {
  const std::string where = "mapconv: line 16 of /maps/in.map, grid point (3, 2, 1):\n";
  const LocationCase cases[] = {
      {"conversion error after a comma", "1.0,  'a', 2.0", msg::kInputConversion,
       where + "mapconv:     1.0,  'a', 2.0\nmapconv:           ^\n"},
      {"control and other bytes escaped", "1.0\t\x01x\xC3\xA9 2.0", msg::kListSyntax,
       where + "mapconv:     1.0\\t\\x01x\\xC3\\xA9 2.0\nmapconv:          ^\n"},
  };
  for (const LocationCase& c : cases) EXPECT_EQ(location(c, kReals, {}), c.expected) << c.name;
}

TEST(MapLocation, NothingOrOnlyTheLineWhenNoTextIsAtHand) {
  MapReading r;
  char out[256];
  EXPECT_EQ(app::write_map_location(r, msg::kEndOfFile, out, 0, sizeof out), 0u);
  std::strcpy(r.path, "/maps/in.map");
  r.line = 4;
  r.names = "angle";
  const std::size_t n = app::write_map_location(r, msg::kNoMemory, out, 0, sizeof out);
  EXPECT_EQ(std::string(out, n), "mapconv: line 4 of /maps/in.map (angle), while reading it\n");
}

}  // namespace

namespace {

// The reasons and warnings as they reach standard error, line ends as written.
template <typename Write>
std::string noted(Write write) {
  testing::internal::CaptureStderr();
  write();
  std::string text = testing::internal::GetCapturedStderr();
  std::erase(text, '\r');  // a text-mode stream's CR before each LF
  return text;
}

TEST(MapLocation, ReasonsAndWarnings) {
  MapReading r;
  std::strcpy(r.path, "/maps/in.map");
  r.names = "angle";
  const std::string line4 = "mapconv: line 4 (angle) of /maps/in.map cannot be read: ";
  struct Case {
    const char* name;
    std::function<void()> write;
    std::string expected;
  };
  const std::string blank(80, ' ');
  const std::string real_count = std::string("2 1 1.5E+00") + std::string(69, ' ');
  // The end-to-end tables show the rest; a line too long for the record
  // bound would take gigabytes there.
  const Case cases[] = {
      {"header line too long", [&] { app::explain_header_failure(r, 22, 3); },
       line4 + "the line is too long to be read\n"},
      {"grid line too long", [&] { app::explain_field_failure(r, 22, 12, 3, 2, 1); },
       "mapconv: line 13 of /maps/in.map (grid line 3 of 6) cannot be read: the line is too long "
       "to be read\n"},
      {"counts of at least 1", [&] { app::warn_empty_counts(r, 1, 1, 1); }, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(noted(c.write), c.expected) << c.name;

  // The first integer written with a point or exponent names its item.
  constexpr ValueKind kInts3[3] = {ValueKind::kInteger, ValueKind::kInteger, ValueKind::kInteger};
  r.kinds = kInts3;
  r.count = 3;
  r.names = "N~X/Y/Z";
  r.line = 10;
  r.text = real_count.c_str();
  bool warned = false;
  EXPECT_EQ(noted([&] { warned = app::warn_integer_written_as_real(r); }),
            "mapconv: warning: line 10 of /maps/in.map: NZ is written as 1.5E+00, which is read "
            "as an integer cut toward zero: is a header line missing or shifted?\n");
  EXPECT_TRUE(warned);
  r.text = blank.c_str();
  EXPECT_EQ(noted([&] { warned = app::warn_integer_written_as_real(r); }), "");
  EXPECT_FALSE(warned);
}

}  // namespace
