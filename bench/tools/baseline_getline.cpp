// baseline_getline: the straightforward way to convert a formatted map, as a yardstick
// for the converter's speed.
//
//   baseline_getline IN OUT
//
// std::getline per line, strtof/strtol per value, the field in a vector, records written
// through std::ofstream. Produces the same bytes as the converter for well-formed maps
// whose values are plain decimal numbers separated by blanks, tabs or a comma, and whose
// axis labels are plain words. Forms it does not handle (quoted labels, null values,
// repeat counts, slashes, D or Q exponent letters) stop it with an error rather than
// giving different output. Exit status: 0 on success, 1 for a problem the converter
// reports as a message, 2 for anything else.

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "records are written from memory as they are; the file format is little-endian");

namespace {

constexpr std::int64_t kCapacity = 3000000;  // single-precision values the field may hold
constexpr std::size_t kLineWidth = 80;       // columns of a line that are ever looked at

struct Failure {
  int exit_code;
  std::string text;
};

class LineReader {
 public:
  explicit LineReader(const std::string& path) : in_(path, std::ios::binary) {}
  bool is_open() const { return in_.is_open(); }
  void close() { in_.close(); }
  long line_number() const { return line_number_; }

  // Next line without its LF and without one CR before the LF. False at end of file,
  // which a line holding only Ctrl-Z also stands for.
  bool next(std::string& line) {
    if (!std::getline(in_, line)) return false;
    ++line_number_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line != "\x1a";
  }

 private:
  std::ifstream in_;
  long line_number_ = 0;
};

// Cuts or blank-pads to exactly n characters.
std::string fixed_text(std::string_view s, std::size_t n) {
  std::string out(s.substr(0, n));
  out.resize(n, ' ');
  return out;
}

// Walks the values of one line (its first 80 columns).
class Values {
 public:
  Values(const std::string& line, long line_number)
      : buf_(line.substr(0, kLineWidth)), p_(buf_.c_str()), line_number_(line_number) {}

  float real() {
    const char* start = begin_value();
    char* end = nullptr;
    errno = 0;
    float v = std::strtof(start, &end);
    end_value(start, end);
    if (errno == ERANGE && std::isinf(v)) fail("real value out of range");
    if (v == 0.0f && !has_nonzero_mantissa(start, end)) v = 0.0f;  // "-0.0" reads as +0.0
    return v;
  }

  std::int32_t integer() {
    const char* start = begin_value();
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(start, &end, 10);
    end_value(start, end);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) fail("integer out of range");
    return static_cast<std::int32_t>(v);
  }

  std::string label(std::size_t n) {
    const char* start = begin_value();
    if (*start == '\'' || *start == '"') fail("quoted labels are not supported");
    const char* end = start;
    while (*end != '\0' && std::strchr(" \t,/", *end) == nullptr) ++end;
    p_ = end;
    skip_separator();
    return fixed_text(std::string_view(start, static_cast<std::size_t>(end - start)), n);
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw Failure{2, "line " + std::to_string(line_number_) + ": " + why};
  }

  const char* begin_value() {
    while (*p_ == ' ' || *p_ == '\t') ++p_;
    if (*p_ == '\0') fail("too few values");
    if (*p_ == ',' || *p_ == '/') fail("null values and slashes are not supported");
    return p_;
  }

  void end_value(const char* start, const char* end) {
    if (end == start || (*end != '\0' && std::strchr(" \t,", *end) == nullptr))
      fail("unsupported value '" + std::string(start, std::strcspn(start, " \t,")) + "'");
    p_ = end;
    skip_separator();
  }

  // Blanks, then at most one comma: a comma only separates.
  void skip_separator() {
    while (*p_ == ' ' || *p_ == '\t') ++p_;
    if (*p_ == ',') ++p_;
  }

  static bool has_nonzero_mantissa(const char* p, const char* end) {
    for (; p < end && *p != 'e' && *p != 'E'; ++p)
      if (*p >= '1' && *p <= '9') return true;
    return false;
  }

  std::string buf_;
  const char* p_;
  long line_number_;
};

class RecordWriter {
 public:
  explicit RecordWriter(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {}
  bool is_open() const { return out_.is_open(); }

  // One record: length, data, length.
  void record(const std::string& data) { record(data.data(), data.size()); }
  void record(const void* data, std::size_t size) {
    const auto n = static_cast<std::uint32_t>(size);
    out_.write(reinterpret_cast<const char*>(&n), sizeof n);
    out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out_.write(reinterpret_cast<const char*>(&n), sizeof n);
  }
  bool close() {
    out_.close();
    return !out_.fail();
  }

 private:
  std::ofstream out_;
};

template <typename T>
void put(std::string& rec, T v) {
  rec.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// Wide enough for 3*nx*ny*nz with any 32-bit counts (below 2^95 in magnitude).
__extension__ using Wide = __int128;

std::string to_string(Wide v) {
  std::string digits;
  const bool negative = v < 0;
  do {
    const auto d = static_cast<int>(v % 10);
    digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -d : d)));
    v /= 10;
  } while (v != 0);
  return negative ? "-" + digits : digits;
}

void convert(const std::string& in_path, const std::string& out_path) {
  LineReader in(in_path);
  if (!in.is_open()) throw Failure{1, "Cannot open the MAP file"};

  std::string line;
  const auto read = [&](const char* what) {
    if (!in.next(line)) throw Failure{1, std::string("Reading error: ") + what};
  };

  read("TITLE");
  const std::string title = fixed_text(line, 80);
  read("DATE");
  const std::string date = fixed_text(line, 18);

  read("AX~A/B/C");
  std::string axes;
  {
    Values v(line, in.line_number());
    for (int a = 0; a < 3; ++a) axes += v.label(8);
  }
  read("angle");
  const float angle = Values(line, in.line_number()).real();

  const auto reals = [&](const char* what) {
    read(what);
    Values v(line, in.line_number());
    std::vector<float> r;
    for (int a = 0; a < 3; ++a) r.push_back(v.real());
    return r;
  };
  const auto integers = [&](const char* what) {
    read(what);
    Values v(line, in.line_number());
    std::vector<std::int32_t> r;
    for (int a = 0; a < 3; ++a) r.push_back(v.integer());
    return r;
  };
  const std::vector<float> origin = reals("X/Y/Z~MIN");
  const std::vector<std::int32_t> is = integers("IS~A/B/C");
  const std::vector<std::int32_t> im = integers("IM~A/B/C");
  const std::vector<std::int32_t> id = integers("ID~A/B/C");
  const std::vector<float> spacing = reals("D~X/Y/Z");
  const std::vector<std::int32_t> counts = integers("N~X/Y/Z");
  const std::int32_t nx = counts[0], ny = counts[1], nz = counts[2];

  // Negative counts may multiply to a small or negative number: only the exact product
  // decides, as in the converter.
  const Wide needed = Wide{3} * nx * ny * nz;
  if (needed > kCapacity)
    throw Failure{1, "Change the program parameter MXS to " + to_string(needed)};

  const std::size_t points =
      (nx > 0 && ny > 0 && nz > 0) ? static_cast<std::size_t>(nx) * ny * nz : 0;
  std::vector<float> field;
  field.reserve(3 * points);
  for (std::size_t p = 0; p < points; ++p) {
    read("FIELDs");
    Values v(line, in.line_number());
    for (int m = 0; m < 3; ++m) field.push_back(v.real());
  }
  in.close();

  RecordWriter out(out_path);
  if (!out.is_open()) throw Failure{2, "cannot create " + out_path};
  out.record(title);
  out.record(date);
  std::string rec = axes;
  put(rec, angle);
  out.record(rec);
  rec.clear();
  for (const float f : origin) put(rec, f);
  for (const auto* triple : {&is, &im, &id})
    for (const std::int32_t n : *triple) put(rec, n);
  out.record(rec);
  rec.clear();
  for (const float f : spacing) put(rec, f);
  for (const std::int32_t n : counts) put(rec, n);
  out.record(rec);

  const std::size_t plane = (nx > 0 && ny > 0) ? 3 * static_cast<std::size_t>(nx) * ny : 0;
  for (std::int32_t k = 0; k < nz; ++k)
    out.record(plane ? field.data() + k * plane : nullptr, plane * sizeof(float));
  if (!out.close()) throw Failure{2, "write error on " + out_path};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: baseline_getline IN OUT\n";
    return 2;
  }
  try {
    convert(argv[1], argv[2]);
  } catch (const Failure& f) {
    if (f.exit_code == 1) {
      std::cout << ' ' << f.text << "\r\n";
    } else {
      std::cerr << "baseline_getline: " << f.text << '\n';
    }
    return f.exit_code;
  }
  std::cout << " conversion done.\r\n";
  return 0;
}
