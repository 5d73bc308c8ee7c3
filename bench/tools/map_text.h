// map_text.h: the text side of the baseline converters that parse with std::from_chars
// (baseline_fast, baseline_stream): value scanning, the map header and its five records.
//
// Handles well-formed maps whose values are plain decimal numbers separated by blanks,
// tabs or a comma, and whose axis labels are plain words. Forms it does not handle
// (quoted labels, null values, repeat counts, slashes, D or Q exponent letters) throw a
// Failure rather than giving different output. A zero written without a significant
// digit ("-0.0") reads as +0.0, as in the converter; std::from_chars alone keeps the sign.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

static_assert(std::endian::native == std::endian::little,
              "values are copied from memory as they are; the file format is little-endian");

namespace maptext {

constexpr std::int64_t kCapacity = 3000000;  // single-precision values the field may hold
constexpr std::size_t kLineWidth = 80;       // columns of a line that are ever looked at

struct Failure {
  int exit_code;
  std::string text;
};

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Walks the values of one line (its first 80 columns).
class Values {
 public:
  Values(std::string_view line, long line_number)
      : p_(line.data()),
        end_(line.data() + std::min(line.size(), kLineWidth)),
        line_number_(line_number) {}

  float real() {
    const char* start = begin_value();
    float v = 0.0f;
    auto [end, ec] = std::from_chars(start, end_, v);
    if (ec == std::errc::result_out_of_range) {
      v = slow_real(start, end);
    } else if (ec != std::errc()) {
      end = start;
    }
    end_value(start, end);
    if (v == 0.0f && !has_nonzero_mantissa(start, end)) v = 0.0f;  // "-0.0" reads as +0.0
    return v;
  }

  std::int32_t integer() {
    const char* start = begin_value();
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(start, end_, v);
    if (ec == std::errc::result_out_of_range) fail("integer out of range");
    end_value(start, ec == std::errc() ? end : start);
    return v;
  }

  // Cut or blank-padded to n characters.
  void label(char* out, std::size_t n) {
    const char* start = begin_value();
    if (*start == '\'' || *start == '"') fail("quoted labels are not supported");
    const char* end = start;
    while (end != end_ && !is_blank(*end) && *end != ',' && *end != '/') ++end;
    const auto len = std::min(static_cast<std::size_t>(end - start), n);
    std::memcpy(out, start, len);
    std::memset(out + len, ' ', n - len);
    p_ = end;
    skip_separator();
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw Failure{2, "line " + std::to_string(line_number_) + ": " + why};
  }

  const char* begin_value() {
    while (p_ != end_ && is_blank(*p_)) ++p_;
    if (p_ == end_) fail("too few values");
    if (*p_ == ',' || *p_ == '/') fail("null values and slashes are not supported");
    // from_chars takes no plus sign.
    if (*p_ == '+' && p_ + 1 != end_ && *(p_ + 1) != '-' && *(p_ + 1) != '+') ++p_;
    return p_;
  }

  void end_value(const char* start, const char* end) {
    if (end == start || (end != end_ && !is_blank(*end) && *end != ',')) {
      const char* stop = start;
      while (stop != end_ && !is_blank(*stop) && *stop != ',') ++stop;
      fail("unsupported value '" + std::string(start, stop) + "'");
    }
    p_ = end;
    skip_separator();
  }

  // Blanks, then at most one comma: a comma only separates.
  void skip_separator() {
    while (p_ != end_ && is_blank(*p_)) ++p_;
    if (p_ != end_ && *p_ == ',') ++p_;
  }

  // Out of range: an underflow reads as zero (or a subnormal), an overflow is an error.
  float slow_real(const char* start, const char* end) const {
    const std::string text(start, end);
    errno = 0;
    const float v = std::strtof(text.c_str(), nullptr);
    if (std::isinf(v)) fail("real value out of range");
    return v;
  }

  static bool has_nonzero_mantissa(const char* p, const char* end) {
    for (; p < end && *p != 'e' && *p != 'E'; ++p)
      if (*p >= '1' && *p <= '9') return true;
    return false;
  }

  const char* p_;
  const char* end_;
  long line_number_;
};

__extension__ using Wide = __int128;  // holds 3*nx*ny*nz for any 32-bit counts

inline std::string to_string(Wide v) {
  std::string digits;
  const bool negative = v < 0;
  do {
    const auto d = static_cast<int>(v % 10);
    digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -d : d)));
    v /= 10;
  } while (v != 0);
  return negative ? "-" + digits : digits;
}

// Everything of the header that goes to the output, already in record order.
struct Header {
  char title[80];
  char date[18];
  char axes[24];
  float angle;
  float origin[3];
  std::int32_t triples[9];
  float spacing[3];
  std::int32_t counts[3];  // NX, NY, NZ

  static constexpr std::size_t kRecordBytes = 238;  // the five records, framed

  // Values per plane record and number of plane records; nothing is read from the
  // field when a count is below 1, but NZ plane records are still written.
  std::size_t plane_values() const {
    return counts[0] > 0 && counts[1] > 0 ? 3 * static_cast<std::size_t>(counts[0]) * counts[1] : 0;
  }
  std::size_t planes() const { return counts[2] > 0 ? static_cast<std::size_t>(counts[2]) : 0; }
  std::size_t points_per_plane() const { return planes() > 0 ? plane_values() / 3 : 0; }

  // Writes the five framed records (kRecordBytes) to out.
  void records(char* out) const {
    const auto record = [&out](std::size_t n) {
      const auto len = static_cast<std::uint32_t>(n);
      std::memcpy(out, &len, 4);
      std::memcpy(out + 4 + n, &len, 4);
      char* data = out + 4;
      out += n + 8;
      return data;
    };
    const auto put = [](char* p, const auto& v) {
      std::memcpy(p, &v, sizeof v);
      return p + sizeof v;
    };
    std::memcpy(record(80), title, 80);
    std::memcpy(record(18), date, 18);
    char* p = record(28);
    std::memcpy(p, axes, 24);
    put(p + 24, angle);
    put(put(record(48), origin), triples);
    put(put(record(24), spacing), counts);
  }
};

// Reads the ten header lines from `lines` (next(std::string_view&) -> bool and
// line_number()) and checks the field against the capacity.
template <typename Lines>
Header read_header(Lines& lines) {
  std::string_view line;
  const auto read = [&](const char* what) {
    if (!lines.next(line)) throw Failure{1, std::string("Reading error: ") + what};
    return Values(line, lines.line_number());
  };
  const auto copy_text = [&](char* dst, std::size_t n) {
    const std::size_t len = std::min(line.size(), n);
    std::memcpy(dst, line.data(), len);
    std::memset(dst + len, ' ', n - len);
  };

  Header h;
  read("TITLE");
  copy_text(h.title, sizeof h.title);
  read("DATE");
  copy_text(h.date, sizeof h.date);
  {
    Values v = read("AX~A/B/C");
    for (int a = 0; a < 3; ++a) v.label(h.axes + 8 * a, 8);
  }
  h.angle = read("angle").real();
  {
    Values v = read("X/Y/Z~MIN");
    for (float& f : h.origin) f = v.real();
  }
  const char* triple_names[] = {"IS~A/B/C", "IM~A/B/C", "ID~A/B/C"};
  for (int t = 0; t < 3; ++t) {
    Values v = read(triple_names[t]);
    for (int a = 0; a < 3; ++a) h.triples[3 * t + a] = v.integer();
  }
  {
    Values v = read("D~X/Y/Z");
    for (float& f : h.spacing) f = v.real();
  }
  {
    Values v = read("N~X/Y/Z");
    for (std::int32_t& n : h.counts) n = v.integer();
  }
  // Negative counts may multiply to a small or negative number: only the exact product
  // decides, as in the converter.
  const Wide needed = Wide{3} * h.counts[0] * h.counts[1] * h.counts[2];
  if (needed > kCapacity)
    throw Failure{1, "Change the program parameter MXS to " + to_string(needed)};
  return h;
}

// Writes all of [p, p + n) to fd.
inline bool write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace maptext
