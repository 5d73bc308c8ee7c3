#include "rt/catalog.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using rt::FormatArg;

// Rows whose wording other parts of the run-time and its users rely on.
struct Listed {
  msg::Id id;
  const char* text;  // without the CR LF
};

const Listed kListed[] = {
    {msg::severe(8), "internal consistency check failure, file %s, line %d"},
    {msg::severe(9), "permission to access file denied, unit %d, file %s"},
    {msg::severe(10), "cannot overwrite existing file, unit %d, file %s"},
    {msg::severe(21), "duplicate file specifications, unit %d, file %s"},
    {msg::severe(22), "input record too long, unit %d, file %s"},
    {msg::severe(24), "end-of-file during read, unit %d, file %s"},
    {msg::severe(27), "too many records in I/O statement, unit %d, file %s"},
    {msg::severe(28), "CLOSE error, unit %d, file %s"},
    {msg::severe(29), "file not found, unit %d, file %s"},
    {msg::severe(30), "open failure, unit %d, file %s"},
    {msg::severe(31), "mixed file access modes, unit %d, file %s"},
    {msg::severe(32), "invalid logical unit number, unit %d, file %s"},
    {msg::severe(34), "unit already open, unit %d, file %s"},
    {msg::severe(37), "inconsistent record length, unit %d, file %s"},
    {msg::severe(38), "error during write, unit %d, file %s"},
    {msg::severe(39), "error during read, unit %d, file %s"},
    {msg::severe(40), "recursive I/O operation, unit %d, file %s"},
    {msg::severe(41), "insufficient virtual memory"},
    {msg::severe(42), "no such device, unit %d, file %s"},
    {msg::severe(43), "file name specification error, unit %d, file %s"},
    {msg::severe(44), "inconsistent record type, unit %d, file %s"},
    {msg::severe(45), "keyword value error in OPEN statement, unit %d, file %s"},
    {msg::severe(46), "inconsistent OPEN/CLOSE parameters, unit %d, file %s"},
    {msg::severe(47), "write to READONLY file, unit %d, file %s"},
    {msg::severe(51), "inconsistent file organization, unit %d, file %s"},
    {msg::severe(59), "list-directed I/O syntax error, unit %d, file %s"},
    {msg::severe(60), "infinite format loop, unit %d, file %s"},
    {msg::severe(61), "format/variable-type mismatch, unit %d, file %s"},
    {msg::severe(62), "syntax error in format, unit %d, file %s"},
    {msg::error(63), "output conversion error, unit %d, file %s"},
    {msg::severe(64), "input conversion error, unit %d, file %s"},
    {msg::error(65), "floating invalid"},
    {msg::severe(66), "output statement overflows record, unit %d, file %s"},
    {msg::severe(67), "input statement requires too much data, unit %d, file %s"},
    {msg::severe(68), "variable format expression value error, unit %d, file %s"},
    {msg::error(72), "floating overflow"},
    {msg::error(73), "floating divide by zero"},
    {msg::error(74), "floating underflow"},
    {msg::info(95), "floating point conversion failed"},
    {msg::severe(108), "cannot stat file, unit %d, file %s"},
    {msg::severe(120), "operation requires seek ability, unit %d, file %s"},
    {msg::severe(140), "floating inexact"},
    {msg::severe(157), "Program Exception - access violation"},
    {msg::severe(158), "Program Exception - datatype misalignment"},
    {msg::severe(159), "Program Exception - breakpoint"},
    {msg::severe(160), "Program Exception - single step"},
    {msg::severe(161), "Program Exception - array bounds exceeded"},
    {msg::severe(162), "Program Exception - denormal floating-point operand"},
    {msg::severe(163), "Program Exception - floating stack check"},
    {msg::severe(164), "Program Exception - integer divide by zero"},
    {msg::severe(165), "Program Exception - integer overflow"},
    {msg::severe(166), "Program Exception - privileged instruction"},
    {msg::severe(167), "Program Exception - in page error"},
    {msg::severe(168), "Program Exception - illegal instruction"},
    {msg::severe(169), "Program Exception - noncontinuable exception"},
    {msg::severe(170), "Program Exception - stack overflow"},
    {msg::severe(171), "Program Exception - invalid disposition"},
    {msg::severe(172), "Program Exception - exception code = 0x%lx (%ld)"},
    {msg::error(200), "program aborting due to %s event"},
    {msg::severe(201), "Floating-point divide flaw detected, please update the processor"},
    {msg::severe(256), "unformatted I/O to unit open for formatted transfers, unit %d, file %s"},
    {msg::severe(257), "formatted I/O to unit open for unformatted transfers, unit %d, file %s"},
    {msg::severe(259), "sequential-access I/O to unit open for direct access, unit %d, file %s"},
    {msg::severe(264), "operation requires file to be on disk or tape, unit %d, file %s"},
    {msg::severe(265),
     "operation requires sequential file organization and access, unit %d, file %s"},
    {msg::severe(268), "end of record during read, unit %d, file %s"},
    {msg::info(297), "%d floating invalid traps"},
    {msg::info(298), "%d floating overflow traps"},
    {msg::info(299), "%d floating divide-by-zero traps"},
    {msg::info(300), "%d floating underflow traps"},
    {msg::severe(613), "end of file encountered"},
    {msg::severe(758), "End of record encountered"},
};

TEST(Catalog, ListedRowsHaveTheirExactText) {
  for (const Listed& row : kListed) {
    EXPECT_EQ(rt::catalog_lookup(row.id), std::string(row.text) + "\r\n")
        << "number " << msg::number(row.id);
  }
}

// Numbers by class as closed ranges.
const std::vector<std::pair<int, int>> kNumbersOfClass[4] = {
    {{0, 0}},
    {{3, 6}, {11, 11}, {58, 58}, {95, 95}, {267, 267}, {297, 300}},
    {{63, 63}, {65, 65}, {69, 69}, {72, 76}, {78, 79}, {89, 89}, {200, 200}, {266, 266}},
    {{1, 2},
     {8, 10},
     {17, 57},
     {59, 62},
     {64, 64},
     {66, 68},
     {70, 71},
     {77, 77},
     {80, 84},
     {87, 88},
     {93, 94},
     {108, 108},
     {120, 120},
     {130, 131},
     {133, 172},
     {201, 201},
     {256, 265},
     {268, 268},
     {540, 759}},
};

TEST(Catalog, RowsAreExactlyTheNumberedConditionsSorted) {
  const auto rows = rt::catalog_rows();
  ASSERT_EQ(rows.size(), 368u);

  std::set<msg::Id> expected;
  for (unsigned cls = 0; cls < 4; ++cls) {
    for (auto [lo, hi] : kNumbersOfClass[cls]) {
      for (int n = lo; n <= hi; ++n)
        expected.insert((msg::Id{cls} << 30) | static_cast<msg::Id>(n));
    }
  }
  std::vector<msg::Id> ids;
  std::size_t per_class[4] = {};
  for (const auto& row : rows) {
    ids.push_back(row.id);
    ++per_class[msg::severity(row.id)];
  }
  EXPECT_EQ(std::vector<msg::Id>(expected.begin(), expected.end()), ids);  // sorted, unique
  EXPECT_EQ(per_class[0], 1u);
  EXPECT_EQ(per_class[1], 12u);
  EXPECT_EQ(per_class[2], 13u);
  EXPECT_EQ(per_class[3], 342u);
}

// The conversions of a template, in order.
std::vector<std::string> placeholders(std::string_view t) {
  static const char* const kKnown[] = {"%.*s", "%lx", "%ld", "%d", "%s", "%c", "%i", "%u"};
  std::vector<std::string> found;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '%') continue;
    std::string p = "%?";
    for (const char* k : kKnown) {
      if (t.substr(i).starts_with(k)) {
        p = k;
        break;
      }
    }
    found.push_back(p);
  }
  return found;
}

TEST(Catalog, TemplatesAreWellFormed) {
  for (const auto& row : rt::catalog_rows()) {
    const std::string_view t = row.text;
    SCOPED_TRACE(t);
    EXPECT_EQ(row.id & 0x3FFF0000u, 0u);
    EXPECT_TRUE(t.ends_with("\r\n"));
    EXPECT_LT(t.size(), rt::kTemplateBufferSize);
    const auto found = placeholders(t);
    for (const auto& p : found) EXPECT_NE(p, "%?");
    if (t.find("unit %d") != std::string_view::npos) {
      EXPECT_TRUE(t.ends_with(", unit %d, file %s\r\n"));
      EXPECT_EQ(found, (std::vector<std::string>{"%d", "%s"}));
    }
  }
}

TEST(Catalog, LookupMissesGiveMessageNotFound) {
  for (msg::Id id : {msg::severe(7), msg::info(29), msg::severe(760), msg::error(0),
                     msg::Id{0xC001001Du}, msg::Id{0xFFFFFFFFu}}) {
    EXPECT_STREQ(rt::catalog_lookup(id), "Message not found\n") << std::hex << id;
  }
}

TEST(Catalog, SeverityWords) {
  EXPECT_STREQ(rt::severity_word(0), "forrtl");
  EXPECT_STREQ(rt::severity_word(1), "forrtl: info");
  EXPECT_STREQ(rt::severity_word(2), "forrtl: error");
  EXPECT_STREQ(rt::severity_word(3), "forrtl: severe");
}

std::string line_of(msg::Id id, const std::vector<FormatArg>& args) {
  char out[rt::kDiagnosticLineMax + 1];
  const int n = rt::format_diagnostic_line(out, sizeof out, id, args);
  EXPECT_EQ(n, static_cast<int>(std::char_traits<char>::length(out)));
  return out;
}

TEST(DiagnosticLine, Forms) {
  struct Case {
    msg::Id id;
    std::vector<FormatArg> args;
    const char* line;
  };
  const Case cases[] = {
      {msg::kFileNotFound,
       {21, "/tmp/x"},
       "forrtl: severe (29): file not found, unit 21, file /tmp/x\r\n"},
      {msg::kListSyntax,
       {-5, "Internal List-Directed Read"},
       "forrtl: severe (59): list-directed I/O syntax error, unit -5, file Internal List-Directed "
       "Read\r\n"},
      {msg::kNoMemory, {}, "forrtl: severe (41): insufficient virtual memory\r\n"},
      {msg::kEventAbort,
       {"control-C"},
       "forrtl: error (200): program aborting due to control-C event\r\n"},
      {msg::info(297), {3}, "forrtl: info (297): 3 floating invalid traps\r\n"},
      {msg::success(0), {}, "forrtl (0): successful completion\r\n"},
      {msg::severe(172),
       {0x1D, 0x1D},
       "forrtl: severe (172): Program Exception - exception code = 0x1d (29)\r\n"},
      {msg::kInternalCheck,
       {"unit_table.cpp", 412},
       "forrtl: severe (8): internal consistency check failure, file unit_table.cpp, line 412\r\n"},
      {msg::severe(7), {21, "x"}, "forrtl: severe (7): Message not found\n"},
      // The number is shown as a signed 16-bit value.
      {msg::severe(0xFFFF), {}, "forrtl: severe (-1): Message not found\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(line_of(c.id, c.args), c.line);

  // The variadic form builds the same argument list.
  char out[64];
  const std::string expected = "forrtl: severe (29): file not found, unit 20, file in.map\r\n";
  EXPECT_EQ(rt::format_diagnostic_line(out, sizeof out, msg::kFileNotFound, 20, "in.map"),
            static_cast<int>(expected.size()));
  EXPECT_EQ(out, expected);
}

std::string format(const char* tmpl, const std::vector<FormatArg>& args, std::size_t cap = 512) {
  std::vector<char> out(cap);
  const int n = rt::format_template(out.data(), cap, tmpl, args);
  EXPECT_EQ(n, static_cast<int>(std::char_traits<char>::length(out.data())));
  return out.data();
}

TEST(FormatTemplate, Conversions) {
  struct Case {
    const char* tmpl;
    std::vector<FormatArg> args;
    const char* text;
  };
  const Case cases[] = {
      // No arguments: taken as it stands, placeholders included.
      {"%d floating invalid traps\r\n", {}, "%d floating invalid traps\r\n"},
      {"100%% %d", {7}, "100% 7"},
      {"%i|%ld|%u|%lx|%c",
       {-3, -9223372036854775807LL - 1, -1, 0xC0000005u, 'A'},
       "-3|-9223372036854775808|4294967295|c0000005|A"},
      {"[%.*s]", {3, "abcdef"}, "[abc]"},
      {"[%.*s]", {-1, "abcdef"}, "[abcdef]"},
      {"[%.*s]", {"abcdef"}, "[abcdef]"},
      // A fixed-length text travels with its length and needs no terminator.
      {"file %s", {std::string_view("in.map  xyz", 6)}, "file in.map"},
      // The wrong kind is shown in its own form; a missing argument leaves the conversion.
      {"%d/%s", {"name", 12}, "name/12"},
      {"unit %d, file %s\r\n", {21}, "unit 21, file %s\r\n"},
      {"%q %", {1}, "%q %"},
  };
  for (const Case& c : cases) EXPECT_EQ(format(c.tmpl, c.args), c.text) << c.tmpl;
}

TEST(FormatTemplate, Limits) {
  // A template must fit the work buffer together with its terminator.
  const std::string fits(rt::kTemplateBufferSize - 1, 'a');
  const std::string too_long(rt::kTemplateBufferSize, 'a');
  EXPECT_EQ(format(fits.c_str(), {}), fits);
  EXPECT_EQ(format(too_long.c_str(), {}), "Message not found\n");
  EXPECT_EQ(format(nullptr, {}), "Message not found\n");

  // The text is cut at 395 characters (or the buffer) but still ends its line.
  const std::string name(500, 'n');
  const std::string cut = format("file %s\r\n", {std::string_view(name)});
  EXPECT_EQ(cut.size(), rt::kMessageTextMax);
  EXPECT_EQ(cut, "file " + std::string(rt::kMessageTextMax - 7, 'n') + "\r\n");
  EXPECT_EQ(format("file not found, unit %d, file %s\r\n", {21, "x"}, 10), "file no\r\n");

  char out[4] = "zzz";
  EXPECT_EQ(rt::format_template(out, 0, "x", {}), -1);
  EXPECT_STREQ(out, "zzz");
  EXPECT_EQ(rt::format_template(nullptr, 4, "x", {}), -1);
  EXPECT_EQ(rt::format_message(out, 1, msg::kNoMemory), 0);
  EXPECT_STREQ(out, "");

  // The longest possible line fits the documented bound and keeps its line end.
  const std::string line =
      line_of(msg::kSequentialToDirect, {-2147483647 - 1, std::string_view(name)});
  EXPECT_LE(line.size(), rt::kDiagnosticLineMax);
  EXPECT_TRUE(line.ends_with("nnn\r\n"));
}

}  // namespace
