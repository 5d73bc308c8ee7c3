// The whole conversion on random map texts: the input is written to a file,
// CONVERT runs on it with an output file beside it, and the program's
// termination follows. A severe condition ends the "process" through the
// seam as an exception; the exit handler has closed every unit by then.
// Properties: CONVERT returns one of its status codes or ends with a severe
// condition a map text can cause; afterwards no unit is connected or held,
// so the next input starts from a clean unit table, and no replacement of the
// output is left. A converted map holds the values a small reference of its
// own reads from the text: the title and date verbatim, the counts, and every
// grid point whose line is three plain decimal numbers (other syntax is
// left to the unit tests of the list-directed scanner).
//
// The output file is limited in size (a full disk, as far as the writer can
// tell): empty planes of an enormous NZ would otherwise take minutes.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert.h"
#include "harness.h"

namespace {

constexpr rlim_t kOutputLimit = 256 * 1024;

char work_dir[64];
char input_name[app::kNameLength];
char output_name[app::kNameLength];
float field[app::MXS];
char message[app::kMessageLength];

void set_name(char (&name)[app::kNameLength], const char* file) {
  std::string path = std::string(work_dir) + "/" + file;
  path.resize(app::kNameLength, ' ');
  std::memcpy(name, path.data(), app::kNameLength);
}

void remove_work_dir() {
  for (const char* file : {"in.map", "out.map"})
    ::unlink((std::string(work_dir) + "/" + file).c_str());
  ::rmdir(work_dir);
}

// ---- The reference ------------------------------------------------------

// The records of the map text as the record reader cuts them: at LF, one CR
// before it dropped, a last line without LF included, a Ctrl-Z record the
// end; each as the conversion reads it, in 80 columns, blank-padded.
std::vector<std::string> map_lines(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < size) {
    const auto* lf = static_cast<const std::uint8_t*>(std::memchr(data + at, '\n', size - at));
    const std::size_t end = lf != nullptr ? static_cast<std::size_t>(lf - data) : size;
    std::size_t stop = end;
    if (lf != nullptr && stop > at && data[stop - 1] == '\r') --stop;
    if (stop - at == 1 && data[at] == 26) break;
    std::string line(reinterpret_cast<const char*>(data + at),
                     std::min<std::size_t>(stop - at, 80));
    line.resize(80, ' ');
    lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

// The first `n` blank- or tab-separated words of a line, when the line
// holds nothing a list-directed read treats specially (separators other
// than blanks, repeat counts, quotes, the slash).
bool plain_words(const std::string& line, std::size_t n, std::vector<std::string>* words) {
  words->clear();
  if (line.find_first_of(",/*'\"()") != std::string::npos) return false;
  std::size_t at = 0;
  while (words->size() < n) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return false;
    const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
    words->push_back(line.substr(at, end - at));
    at = end;
  }
  return true;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// [+-] digits [. digits] [E [+-] digits], or with the digits after the point.
bool plain_real(const std::string& w) {
  std::size_t i = w[0] == '+' || w[0] == '-' ? 1 : 0;
  std::size_t digits = 0;
  while (i < w.size() && is_digit(w[i])) ++i, ++digits;
  if (i < w.size() && w[i] == '.') {
    ++i;
    while (i < w.size() && is_digit(w[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < w.size() && (w[i] == 'E' || w[i] == 'e')) {
    ++i;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
    const std::size_t first = i;
    while (i < w.size() && is_digit(w[i])) ++i;
    if (i == first || i - first > 4) return false;
  }
  return i == w.size();
}

bool plain_integer(const std::string& w, std::int64_t* value) {
  std::size_t i = w[0] == '+' || w[0] == '-' ? 1 : 0;
  if (i == w.size() || w.size() - i > 9) return false;
  for (std::size_t k = i; k < w.size(); ++k)
    if (!is_digit(w[k])) return false;
  *value = std::strtoll(w.c_str(), nullptr, 10);
  return true;
}

std::uint32_t load32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

// The output's records (little-endian length fields), or false when the
// framing itself is broken.
bool output_records(const std::string& out, std::vector<std::string_view>* records) {
  std::size_t at = 0;
  while (at < out.size()) {
    if (out.size() - at < 8) return false;
    const std::uint32_t n = load32(out, at);
    if (out.size() - at - 8 < n || load32(out, at + 4 + n) != n) return false;
    records->emplace_back(out.data() + at + 4, n);
    at += 8 + n;
  }
  return true;
}

// Compares a converted map with what the reference reads from its text.
void check_values(const std::uint8_t* data, std::size_t size, const std::string& out) {
  std::vector<std::string_view> records;
  if (!output_records(out, &records) || records.size() < 5)
    fuzz::fail("converted, but the output's records are broken");
  const std::vector<std::string> lines = map_lines(data, size);
  if (lines.size() < 10) fuzz::fail("converted a map of %zu lines", lines.size());
  if (records[0] != std::string_view(lines[0]).substr(0, 80)) fuzz::fail("TITLE differs");
  if (records[1] != std::string_view(lines[1]).substr(0, 18)) fuzz::fail("DATE differs");
  if (records[4].size() != 24) fuzz::fail("the counts record has %zu bytes", records[4].size());
  std::int32_t n[3];
  std::memcpy(n, records[4].data() + 12, sizeof n);
  std::vector<std::string> words;
  if (plain_words(lines[9], 3, &words)) {
    for (int k = 0; k < 3; ++k) {
      std::int64_t v = 0;
      if (plain_integer(words[k], &v) && v != n[k])
        fuzz::fail("count %d is %d, the text says %lld", k, n[k], static_cast<long long>(v));
    }
  }
  const bool has_points = n[0] >= 1 && n[1] >= 1 && n[2] >= 1;
  const std::size_t planes = static_cast<std::size_t>(std::max(n[2], 0));
  if (records.size() != 5 + planes) fuzz::fail("%zu records for NZ %d", records.size(), n[2]);
  if (!has_points) return;
  const std::size_t per_plane = static_cast<std::size_t>(n[0]) * static_cast<std::size_t>(n[1]);
  for (std::size_t p = 0; p < per_plane * planes; ++p) {
    if (10 + p >= lines.size()) fuzz::fail("converted without a line for point %zu", p);
    if (!plain_words(lines[10 + p], 3, &words)) continue;
    for (std::size_t m = 0; m < 3; ++m) {
      if (!plain_real(words[m])) continue;
      float expected = std::strtof(words[m].c_str(), nullptr);
      // A text without a significant digit ("-0", "-.0E5") is +0.0; only an
      // underflow such as "-1e-50" keeps the sign of its zero.
      const std::string& w = words[m];
      if (w.find_first_of("123456789") >= w.find_first_of("eE")) expected = 0.0f;
      // Beyond the normal range the scanner's own rules decide.
      if (std::isinf(expected) || (expected != 0.0f && std::fabs(expected) < FLT_MIN)) continue;
      float got = 0;
      std::memcpy(&got, records[5 + p / per_plane].data() + ((p % per_plane) * 3 + m) * 4, 4);
      if (std::memcmp(&got, &expected, 4) != 0)
        fuzz::fail("point %zu component %zu: %.9g for \"%s\"", p, m, static_cast<double>(got),
                   words[m].c_str());
    }
  }
}

// ---- The target -----------------------------------------------------------

bool known_status(std::int32_t s) {
  switch (s) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 104:
    case 5:
    case 105:
    case 205:
    case 305:
    case 6:
    case 106:
    case 7:
    case 8:
      return true;
    default:
      return false;
  }
}

// Severe ends a map text can cause: too few values on a line, a value of the
// wrong syntax or type, and a full output.
bool known_end(std::uint32_t status) {
  return status == msg::kEndOfFile || status == msg::kListSyntax ||
         status == msg::kInputConversion || status == msg::kFormatMismatch ||
         status == msg::kWriteError;
}

std::string read_output(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.append(block, n);
    std::fclose(f);
  }
  return bytes;
}

rlimit saved_limit;

void limit_output(rlim_t bytes) {
  // A write beyond the limit fails with an error instead of a signal. Set
  // here, not at initialisation: libFuzzer installs its own handler after.
  static const bool ignored = ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
  if (!ignored) fuzz::fail("cannot ignore SIGXFSZ");
  rlimit limit = saved_limit;
  if (bytes < limit.rlim_cur) limit.rlim_cur = bytes;
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) fuzz::fail("setrlimit");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_run_time();
  const char* dir = std::getenv("TMPDIR");
  std::snprintf(work_dir, sizeof work_dir, "%s/mapconv-fuzz-XXXXXX",
                dir != nullptr && std::strlen(dir) < 40 ? dir : "/tmp");
  if (::mkdtemp(work_dir) == nullptr) fuzz::fail("no temporary directory");
  std::atexit(remove_work_dir);
  set_name(input_name, "in.map");
  set_name(output_name, "out.map");
  if (::getrlimit(RLIMIT_FSIZE, &saved_limit) != 0) fuzz::fail("getrlimit");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    const std::string in = std::string(work_dir) + "/in.map";
    std::FILE* f = std::fopen(in.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
      fuzz::fail("cannot write the input file");
  }
  const std::string out = std::string(work_dir) + "/out.map";
  ::unlink(out.c_str());
  app::reset_convert_storage();
  std::memset(message, '#', sizeof message);
  std::int32_t status = -1;
  limit_output(kOutputLimit);
  try {
    app::CONVERT(input_name, app::kNameLength, output_name, app::kNameLength, field, &app::MXS,
                 message, app::kMessageLength, &status);
    // The program's termination: closes unit 20 after an early return.
    rt::for_rtl_finish_();
    if (!known_status(status)) fuzz::fail("CONVERT returned status %d", status);
    // A failure fills the whole message and creates no output; success
    // leaves the message alone.
    const bool written = std::memchr(message, '#', sizeof message) == nullptr;
    const bool untouched =
        std::all_of(message, message + sizeof message, [](char c) { return c == '#'; });
    const bool output = ::access(out.c_str(), F_OK) == 0;
    if (status == 0 ? (!output || !untouched) : (output || !written))
      fuzz::fail("status %d: message %s, output %s", status, written ? "written" : "not written",
                 output ? "created" : "missing");
    if (status == 0) check_values(data, size, read_output(out));
  } catch (const fuzz::ProcessEnd& end) {
    if (!known_end(end.status)) fuzz::fail("severe end with 0x%08X", end.status);
  }
  limit_output(RLIM_INFINITY);
  fuzz::check_units_released("a conversion");
  // However the run ended, no replacement of the output is left.
  if (DIR* dir = ::opendir(work_dir)) {
    while (const dirent* e = ::readdir(dir)) {
      if (std::strncmp(e->d_name, ".out.map.", 9) == 0) fuzz::fail("left %s", e->d_name);
    }
    ::closedir(dir);
  }
  return 0;
}
