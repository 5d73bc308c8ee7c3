// End to end: mapdump's text converts back to the same bytes (the example,
// the converter's edge maps, random maps, both byte orders), its summary
// matches figures computed here, and every malformed file gets its own
// message and status, with no partial output file left behind.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "e2e/console_signals.h"
#include "e2e/fixture.h"
#include "e2e/under_wine.h"

namespace e2e {
namespace {

using testsupport::file_exists;
using testsupport::read_file;
using testsupport::write_file;

ProgramResult run_mapdump(const ProgramRun& run) {
  return run_program(MAPDUMP_BINARY, run);
}

class MapdumpE2e : public ConverterTest {
 protected:
  ProgramResult dump(std::vector<std::string> args, std::vector<std::string> env = {"LC_ALL=C"}) {
    ProgramRun r;
    r.args = std::move(args);
    r.cwd = dir.path();
    r.env = std::move(env);
    return run_mapdump(with_bare_diagnostics(std::move(r)));
  }

  // mapdump of `binary`, then mapconv of its text: the bytes must come back.
  void expect_round_trip(const std::string& binary, bool big_endian, const std::string& name) {
    SCOPED_TRACE(name + (big_endian ? " (big-endian)" : ""));
    std::vector<std::string> env{"LC_ALL=C"};
    if (big_endian) env.push_back("FORT_CONVERT21=BIG_ENDIAN");
    write_file(dir.file("map.unf"), binary);
    const ProgramResult shown = dump({"-o", "map.txt", "map.unf"});
    ASSERT_EQ(shown.exit_status, 0) << shown.err;
    EXPECT_EQ(shown.out, "");
    const std::string text = undo_text_mode(read_file(dir.file("map.txt")));
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) ASSERT_LE(line.size(), 80u) << line;
    const ProgramResult back = run({"map.txt", "again.unf"}, "", env);
    ASSERT_EQ(back.out, kDone) << back.err;
    EXPECT_EQ(byte_difference(binary, read_file(dir.file("again.unf"))), "");
  }
};

// Any single but a NaN or infinity, -0.0 and subnormals as likely as others.
float random_real(std::mt19937& rng) {
  static constexpr float kEdges[] = {-0.0f,   0.0f,        FLT_TRUE_MIN, -FLT_TRUE_MIN,
                                     FLT_MIN, -FLT_MAX,    FLT_MAX,      1e-40f,
                                     0.1f,    16777217.0f, 0.3f,         -1e-45f};
  switch (rng() % 4) {
    case 0:
      return kEdges[rng() % std::size(kEdges)];
    case 1:  // subnormal
      return std::bit_cast<float>(static_cast<std::uint32_t>((rng() & 0x807FFFFFu)));
    default: {
      std::uint32_t bits = rng();
      if ((bits & 0x7F800000u) == 0x7F800000u) bits &= 0xFF7FFFFFu;
      return std::bit_cast<float>(bits);
    }
  }
}

// Text bytes the converter can hold: any but a line end. A title's 80th
// byte is never CR (a line cannot keep it); labels hold no NUL (the
// list-directed scan stops there) unless never assigned.
std::string random_text(std::mt19937& rng, std::size_t n, bool label) {
  static const std::string kAwkward = std::string("'\",/ \t\r*=&!\x1a", 13) + '\0';
  std::string s;
  const std::size_t used = rng() % (n + 1);
  for (std::size_t i = 0; i < used; ++i) {
    char c = rng() % 3 == 0 ? kAwkward[rng() % kAwkward.size()] : static_cast<char>(rng());
    if (c == '\n' || (label && c == '\0')) c = 'x';
    s.push_back(c);
  }
  s.resize(n, ' ');
  if (!label && n == 80 && s.back() == '\r') s.back() = '.';
  return s;
}

MapValues random_map(std::uint32_t seed) {
  std::mt19937 rng(seed);
  MapValues m;
  m.title = random_text(rng, 80, false);
  m.date = random_text(rng, 18, false);
  for (auto& axis : m.axes)
    axis = rng() % 5 == 0 ? std::string(8, '\0') : random_text(rng, 8, true);
  m.angle = random_real(rng);
  for (float& v : m.origin) v = random_real(rng);
  for (auto* triple : {&m.is, &m.im, &m.id})
    for (std::int32_t& v : *triple) v = static_cast<std::int32_t>(rng());
  for (float& v : m.spacing) v = random_real(rng);
  for (std::int32_t& v : m.counts) v = static_cast<std::int32_t>(rng() % 6) - 1;
  const bool points = m.counts[0] >= 1 && m.counts[1] >= 1 && m.counts[2] >= 1;
  const std::size_t values =
      points ? 3u * static_cast<std::size_t>(m.counts[0] * m.counts[1] * m.counts[2]) : 0;
  m.field.resize(values);
  for (float& v : m.field) v = random_real(rng);
  return m;
}

// Maps the converter's own end-to-end tests write, by what they show.
std::vector<std::pair<std::string, MapValues>> edge_maps() {
  std::vector<std::pair<std::string, MapValues>> maps;
  maps.emplace_back("two points", MapValues{});
  MapValues no_planes;
  no_planes.counts = {2, 1, 0};
  no_planes.field.clear();
  maps.emplace_back("NZ = 0", no_planes);
  MapValues empty_planes;
  empty_planes.counts = {0, 5, 3};
  empty_planes.field.clear();
  maps.emplace_back("empty planes", empty_planes);
  MapValues negative;
  negative.counts = {-2, 3, 2};
  negative.field.clear();
  maps.emplace_back("negative count", negative);
  MapValues unset;
  unset.axes = {std::string(8, '\0'), fixed("Y", 8), std::string(8, '\0')};
  maps.emplace_back("labels never assigned", unset);
  MapValues blank;
  blank.title = fixed("", 80);
  blank.date = std::string(17, ' ') + "\r";
  blank.axes = {fixed("", 8), fixed("it's", 8), fixed("a, b /c", 8)};
  maps.emplace_back("blank texts, quotes, commas", blank);
  MapValues eof_like;
  eof_like.title = fixed("\x1a", 80);
  eof_like.date = fixed("\x1a", 18);
  maps.emplace_back("Ctrl-Z texts", eof_like);
  MapValues extremes;
  extremes.field = {-0.0f, FLT_TRUE_MIN, -FLT_MAX, FLT_MAX, FLT_MIN, 1e-45f};
  extremes.angle = -0.0f;
  maps.emplace_back("extreme values", extremes);
  return maps;
}

TEST_F(MapdumpE2e, TheExampleComesBackByteForByte) {
  for (const bool big : {false, true}) {
    std::vector<std::string> env{"LC_ALL=C"};
    if (big) env.push_back("FORT_CONVERT21=BIG_ENDIAN");
    ASSERT_EQ(run({MAPCONV_EXAMPLES "/field.map", "example.unf"}, "", env).out, kDone);
    expect_round_trip(read_file(dir.file("example.unf")), big, "example");
  }
}

TEST_F(MapdumpE2e, EdgeMapsComeBackByteForByte) {
  for (const auto& [name, map] : edge_maps()) {
    expect_round_trip(unformatted_map(map), false, name);
    expect_round_trip(unformatted_map(map, true), true, name);
  }
}

TEST_F(MapdumpE2e, RandomMapsComeBackByteForByte) {
  const std::uint32_t maps = kUnderWine ? 1 : 40;
  for (std::uint32_t seed = 1; seed <= maps; ++seed) {
    const MapValues map = random_map(seed);
    expect_round_trip(unformatted_map(map, seed % 2 == 0), seed % 2 == 0,
                      "seed " + std::to_string(seed));
  }
}

TEST_F(MapdumpE2e, ATextMapComesOutInTheSameText) {
  const ProgramResult from_text = dump({MAPCONV_EXAMPLES "/field.map"});
  ASSERT_EQ(from_text.exit_status, 0) << from_text.err;
  ASSERT_EQ(run({MAPCONV_EXAMPLES "/field.map", "example.unf"}).out, kDone);
  const ProgramResult from_binary = dump({"example.unf"});
  EXPECT_EQ(from_binary.out, from_text.out);
}

// The summary's figures against the example's text, parsed here.
TEST_F(MapdumpE2e, TheSummaryShowsTheHeaderAndTheFigures) {
  std::istringstream example(read_file(MAPCONV_EXAMPLES "/field.map"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(example, line);) lines.push_back(line);
  ASSERT_GT(lines.size(), 10u);
  int nx = 0, ny = 0, nz = 0;
  std::istringstream(lines[9]) >> nx >> ny >> nz;
  double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  double sum[3] = {};
  for (int p = 0; p < nx * ny * nz; ++p) {
    std::istringstream values(lines[static_cast<std::size_t>(10 + p)]);
    for (int m = 0; m < 3; ++m) {
      std::string token;
      values >> token;
      const double v = std::strtof(token.c_str(), nullptr);
      lo[m] = std::min(lo[m], v);
      hi[m] = std::max(hi[m], v);
      sum[m] += v;
    }
  }
  ASSERT_EQ(run({MAPCONV_EXAMPLES "/field.map", "example.unf"}).out, kDone);
  for (const char* map : {"example.unf", MAPCONV_EXAMPLES "/field.map"}) {
    SCOPED_TRACE(map);
    ProgramResult r = dump({"-s", map});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    r.out = as_written(r.out);  // the summary is text: CR LF on Windows
    const std::string title = lines[0].substr(0, lines[0].find_last_not_of(' ') + 1);
    EXPECT_NE(r.out.find("TITLE           " + title + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("NX              " + std::to_string(nx) + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("NZ              " + std::to_string(nz) + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("grid points     " + std::to_string(nx * ny * nz) + "\n"),
              std::string::npos);
    EXPECT_NE(r.out.find(std::string(map) == "example.unf" ? "representation  LITTLE_ENDIAN"
                                                           : "representation  text"),
              std::string::npos);
    for (const char* name :
         {"DATE", "AXA", "AXB", "AXC", "ANGLE", "XMIN", "YMIN", "ZMIN", "ISA", "ISB", "ISC",
          "IMA",  "IMB", "IMC", "IDA", "IDB",   "IDC",  "DX",   "DY",   "DZ",  "NY"})
      EXPECT_NE(r.out.find(std::string("\n") + name + " "), std::string::npos) << name;
    for (int m = 0; m < 3; ++m) {
      const std::size_t at =
          r.out.find(std::string("\n").append(std::to_string(m + 1)).append(" "));
      ASSERT_NE(at, std::string::npos) << r.out;
      double min = 0, max = 0, mean = 0;
      long not_finite = -1;
      std::istringstream(r.out.substr(at + 2)) >> min >> max >> mean >> not_finite;
      EXPECT_EQ(static_cast<float>(min), static_cast<float>(lo[m]));
      EXPECT_EQ(static_cast<float>(max), static_cast<float>(hi[m]));
      EXPECT_NEAR(mean, sum[m] / (nx * ny * nz), 1e-6 * (1 + std::fabs(mean)));
      EXPECT_EQ(not_finite, 0);
    }
  }
}

std::string with_length(const std::string& file, std::size_t at, std::uint32_t length) {
  std::string changed = file;
  changed.replace(at, 4, word(length, false));
  return changed;
}

struct Malformed {
  const char* name;
  std::string bytes;
  std::vector<std::string> args;  // before the map
  std::string message;            // after "mapdump: bad.unf: "
  std::string text_reason = {};   // a text map's reason, after "mapdump: <full path> "
};

std::vector<Malformed> malformed_files() {
  const std::string good = unformatted_map(MapValues{});  // 270 bytes, plane at 238
  MapValues two_planes;
  two_planes.counts = {2, 1, 2};
  two_planes.field.resize(12, 0.5f);
  const std::string longer = unformatted_map(two_planes);
  return {
      {"empty", "", {}, "the file is empty: no map"},
      {"truncated in a header record",
       good.substr(0, 100),
       {},
       "record 2 (DATE) at byte offset 88: expected 26 bytes with its length fields, found the "
       "end of the file after 12"},
      {"truncated in a plane",
       good.substr(0, 250),
       {},
       "record 6 (plane 1 of 1) at byte offset 238: expected 32 bytes with its length fields, "
       "found the end of the file after 12"},
      {"truncated in a length field",
       good.substr(0, 240),
       {},
       "record 6 (plane 1 of 1) at byte offset 238: expected a record of 24 bytes, found 2 bytes "
       "of its length field and the end of the file"},
      {"trailing length changed",
       with_length(good, 266, 25),
       {},
       "record 6 (plane 1 of 1) at byte offset 238: expected the trailing length field 24, as the "
       "leading one, found 25"},
      {"an extra byte at the end",
       good + "x",
       {},
       "byte offset 270, after the last record: expected the end of the file, found 1 byte more"},
      {"a record after the last",
       good + word(0, false) + word(0, false),
       {},
       "byte offset 270, after the last record: expected the end of the file, found another "
       "record, with a length field of 0"},
      {"a plane of the wrong length",
       longer.substr(0, 238) + word(12, false) + std::string(12, '\0') + word(12, false),
       {},
       "record 6 (plane 1 of 2) at byte offset 238: expected a record of 24 bytes, found a length "
       "field of 12"},
      {"a missing plane",
       longer.substr(0, 270),
       {},
       "record 7 (plane 2 of 2) at byte offset 270: expected a record of 24 bytes, found the end "
       "of the file"},
      {"the other byte order",
       unformatted_map(MapValues{}, true),
       {"-c", "little_endian"},
       "record 1 (TITLE) at byte offset 0: expected a record of 80 bytes, found a length field of "
       "1342177280 (80 with its bytes reversed: the file has another byte order)"},
      {"a header record of another length",
       with_length(with_length(good, 88, 17), 110, 17),
       {},
       "record 2 (DATE) at byte offset 88: expected a record of 18 bytes, found a length field of "
       "17"},
      {"a text file",
       "just some words\nand no map at all\n",
       {},
       "not a map: its first length field is 1953723754, not 80, and as a text map: Reading "
       "error: AX~A/B/C",
       "ends after line 2; line 3 (AX~A/B/C) is missing"},
      {"three bytes",
       "abc",
       {},
       "not a map: it is shorter than a length field, and as a text map: Reading error: DATE",
       "ends after line 1; line 2 (DATE) is missing"},
  };
}

TEST_F(MapdumpE2e, EachMalformedFileHasItsOwnMessage) {
  for (const Malformed& c : malformed_files()) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("bad.unf"), c.bytes);
    for (const bool to_file : {false, true}) {
      std::vector<std::string> args = c.args;
      if (to_file) args.insert(args.end(), {"-o", "out.txt"});
      args.push_back("bad.unf");
      const ProgramResult r = dump(args);
      EXPECT_EQ(r.exit_status, 1);
      // On standard output the text before the failure stays, said to be incomplete.
      const std::string partial =
          r.out.empty() ? "" : " (the text written before this is incomplete)";
      // A text map's failure is explained as the converter explains it.
      const std::string reason =
          c.text_reason.empty() ? ""
                                : "mapdump: " + dir.file("bad.unf") + " " + c.text_reason + "\n";
      EXPECT_EQ(r.err, reason + "mapdump: bad.unf: " + c.message + partial + "\n");
      if (to_file) {
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(file_exists(dir.file("out.txt")));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                                std::filesystem::directory_iterator()),
                  1);  // bad.unf alone: no temporary left either
      }
    }
  }
}

TEST_F(MapdumpE2e, APartialTextSaysSo) {
  MapValues two_planes;
  two_planes.counts = {2, 1, 2};
  two_planes.field.resize(12, 0.5f);
  write_file(dir.file("bad.unf"), unformatted_map(two_planes).substr(0, 300));
  const ProgramResult r = dump({"bad.unf"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("(the text written before this is incomplete)"), std::string::npos);
}

// A reader that stops reading (a pager the user left) blocks mapdump in its
// write to standard output. Control-C, control-BREAK and a hang-up still end
// it within a second, with the event's line and status.
TEST_F(MapdumpE2e, ConsoleEventsEndAWriteNobodyReads) {
  SKIP_UNDER_WINE("Wine cannot deliver console events from outside");
  MapValues map;
  map.counts = {40, 40, 40};
  map.field.assign(3u * 40 * 40 * 40, 2.25f);
  write_file(dir.file("big.unf"), unformatted_map(map));
  for (const ConsoleSignal& e : kConsoleSignals) {
    SCOPED_TRACE(e.name);
    int never_read[2];
    ASSERT_EQ(::pipe(never_read), 0);
    ProgramRun r;
    r.args = {"big.unf"};
    r.cwd = dir.path();
    r.output_fd = never_read[1];
    r.timeout = std::chrono::seconds(20);
    std::chrono::steady_clock::duration took{};
    // Sent while the main thread sleeps in the pipe's write.
    r.alongside = [&](pid_t pid) { took = signal_when_asleep_in(pid, e.signal, {"pipe"}); };
    const ProgramResult result = run_mapdump(with_bare_diagnostics(r));
    ::close(never_read[0]);
    ::close(never_read[1]);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, e.status);
    EXPECT_EQ(result.err, event_line(e.name));
    EXPECT_LT(took, std::chrono::seconds(1));
  }
}

TEST_F(MapdumpE2e, ValuesTheTextCannotHoldAreNamed) {
  struct Case {
    const char* name;
    MapValues map;
    std::string message;
  };
  std::vector<Case> cases(4);
  cases[0] = {"NaN in the field", {}, "grid point (2, 1, 1), component 2, is NaN"};
  cases[0].map.field[4] = NAN;
  cases[1] = {"infinite angle", {}, "ANGLE is infinite"};
  cases[1].map.angle = INFINITY;
  cases[2] = {"line end in the title", {}, "TITLE holds a line end (byte 10) at column 3"};
  cases[2].map.title[2] = '\n';
  cases[3] = {"title ending in CR", {}, "TITLE ends in a carriage return (byte 13) at column 80"};
  cases[3].map.title[79] = '\r';
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("odd.unf"), unformatted_map(c.map));
    const ProgramResult r = dump({"-o", "out.txt", "odd.unf"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "mapdump: odd.unf: " + c.message + ": the text cannot hold it\n");
    EXPECT_FALSE(file_exists(dir.file("out.txt")));
    // The summary still shows such a map, counting what is not finite.
    EXPECT_EQ(dump({"-s", "odd.unf"}).exit_status, 0);
  }
  write_file(dir.file("nan.unf"), unformatted_map(cases[0].map));
  const std::string summary = as_written(dump({"-s", "nan.unf"}).out);
  EXPECT_NE(summary.find("\n2 "), std::string::npos);
  EXPECT_NE(summary.find("           1\n3 "), std::string::npos) << summary;
}

TEST_F(MapdumpE2e, UsageAndInformation) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out_start, err;
  };
  const Case cases[] = {
      {{}, 2, "", "mapdump: no map named (mapdump --help shows the usage)\n"},
      {{"-x", "a"}, 2, "", "mapdump: unknown option -x (mapdump --help shows the usage)\n"},
      {{"a", "b"}, 2, "", "mapdump: one map at a time: b follows a\n"},
      {{"-o"}, 2, "", "mapdump: option -o needs a value (mapdump --help shows the usage)\n"},
      {{"-c", "VAX", "a"},
       2,
       "",
       "mapdump: unknown representation VAX (BIG_ENDIAN, LITTLE_ENDIAN, NATIVE, IBM, CRAY, TYRD, "
       "TYRG, FDX or FGX)\n"},
      {{"--help"}, 0, "Usage: mapdump [-s]", ""},
      {{"--version"}, 0, "mapdump " MAPCONV_VERSION "\n", ""},
      {{"missing.unf"}, 3, "", "mapdump: missing.unf: cannot open it: file not found\n"},
      // A file the platform cannot read from its start (Linux only: Windows has no /proc).
      {{"/proc/self/mem"}, 3, "", "mapdump: /proc/self/mem: cannot read it: error during read\n"},
  };
  for (const Case& c : cases) {
    if (kUnderWine && !c.args.empty() && c.args[0] == "/proc/self/mem") continue;
    const ProgramResult r = dump(c.args);
    EXPECT_EQ(r.exit_status, c.status) << r.err;
    EXPECT_TRUE(as_written(r.out).starts_with(c.out_start)) << r.out;
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(MapdumpE2e, ARepresentationIsChosenByName) {
  ASSERT_EQ(
      run({MAPCONV_EXAMPLES "/field.map", "ibm.unf"}, "", {"LC_ALL=C", "FORT_CONVERT21=IBM"}).out,
      kDone);
  const ProgramResult r = dump({"-c", "ibm", "-o", "ibm.txt", "ibm.unf"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(run({"ibm.txt", "again.unf"}, "", {"LC_ALL=C", "FORT_CONVERT21=IBM"}).out, kDone);
  EXPECT_EQ(byte_difference(read_file(dir.file("ibm.unf")), read_file(dir.file("again.unf"))), "");
  EXPECT_NE(as_written(dump({"-s", "-c", "IBM", "ibm.unf"}).out).find("representation  IBM\n"),
            std::string::npos);
  // The variable, as for mapconv, overrides the option.
  EXPECT_NE(as_written(dump({"-s", "ibm.unf"}, {"LC_ALL=C", "FORT_CONVERT21=ibm"}).out)
                .find("representation  IBM\n"),
            std::string::npos);
  const ProgramResult unknown = dump({"ibm.unf"}, {"LC_ALL=C", "FORT_CONVERT21=VAX"});
  EXPECT_EQ(unknown.exit_status, 2);
  EXPECT_EQ(unknown.err,
            "mapdump: ibm.unf: cannot open it: inconsistent OPEN/CLOSE parameters "
            "(FORT_CONVERT21 names no representation)\n");
}

}  // namespace
}  // namespace e2e
