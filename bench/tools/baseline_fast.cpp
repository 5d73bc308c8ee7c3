// baseline_fast: about as fast as a formatted map can be converted, as the lower bound
// for the converter's run time.
//
//   baseline_fast IN OUT
//
// The input is mapped whole, lines are found with memchr, numbers parsed with
// std::from_chars, and the field is parsed straight into its place in one output buffer
// that is written with a single write. The grid-point lines already come in the order of
// the plane records (component, then i, then j), so no separate field array is needed.
// Produces the same bytes as the converter for well-formed maps whose values are plain
// decimal numbers separated by blanks, tabs or a comma, and whose axis labels are plain
// words. Forms it does not handle (quoted labels, null values, repeat counts, slashes,
// D or Q exponent letters) stop it with an error rather than giving different output.
// Exit status: 0 on success, 1 for a problem the converter reports as a message, 2 for
// anything else.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "values are copied from memory as they are; the file format is little-endian");

namespace {

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

// The whole input file, read-only. Closed (unmapped) before the output is opened, so
// the output may be the input file itself.
class MappedFile {
 public:
  explicit MappedFile(const char* path) {
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return;
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ > 0) {
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.get(), 0);
      if (p == MAP_FAILED) return;
      data_ = static_cast<const char*>(p);
      ::madvise(p, size_, MADV_SEQUENTIAL);
    }
    ok_ = true;
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { close(); }

  void close() {
    if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
    data_ = nullptr;
  }
  bool ok() const { return ok_; }
  const char* begin() const { return data_; }
  const char* end() const { return data_ + size_; }

 private:
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool ok_ = false;
};

// Splits the mapped text into lines: LF ends a line, one CR before it is dropped, a
// last line without LF still counts, and a line holding only Ctrl-Z reads as the end.
class Lines {
 public:
  Lines(const char* begin, const char* end) : p_(begin), end_(end) {}
  long line_number() const { return line_number_; }

  bool next(std::string_view& line) {
    if (p_ == end_) return false;
    const auto* lf = static_cast<const char*>(std::memchr(p_, '\n', end_ - p_));
    const char* stop = lf != nullptr ? lf : end_;
    const char* last = stop;
    if (last != p_ && last[-1] == '\r') --last;
    line = std::string_view(p_, static_cast<std::size_t>(last - p_));
    p_ = lf != nullptr ? lf + 1 : end_;
    ++line_number_;
    return line != "\x1a";
  }

 private:
  const char* p_;
  const char* end_;
  long line_number_ = 0;
};

bool is_blank(char c) {
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

// Appends records into one buffer sized up front.
class Output {
 public:
  explicit Output(std::size_t size) : buf_(size) {}

  // Reserves a record of n data bytes and returns where its data go.
  char* record(std::size_t n) {
    const auto len = static_cast<std::uint32_t>(n);
    char* rec = buf_.data() + used_;
    std::memcpy(rec, &len, 4);
    std::memcpy(rec + 4 + n, &len, 4);
    used_ += n + 8;
    return rec + 4;
  }
  template <typename T>
  static char* put(char* p, T v) {
    std::memcpy(p, &v, sizeof v);
    return p + sizeof v;
  }

  void write_to(const char* path) const {
    Fd fd(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) throw Failure{2, std::string("cannot create ") + path};
    const char* p = buf_.data();
    std::size_t left = used_;
    while (left > 0) {
      const ssize_t n = ::write(fd.get(), p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw Failure{2, std::string("write error on ") + path};
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0) throw Failure{2, std::string("write error on ") + path};
  }

 private:
  std::vector<char> buf_;
  std::size_t used_ = 0;
};

__extension__ using Wide = __int128;  // holds 3*nx*ny*nz for any 32-bit counts

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

void convert(const char* in_path, const char* out_path) {
  MappedFile in(in_path);
  if (!in.ok()) throw Failure{1, "Cannot open the MAP file"};
  Lines lines(in.begin(), in.end());
  std::string_view line;
  const auto read = [&](const char* what) {
    if (!lines.next(line)) throw Failure{1, std::string("Reading error: ") + what};
    return Values(line, lines.line_number());
  };

  char title[80];
  char date[18];
  const auto copy_text = [&](char* dst, std::size_t n) {
    const std::size_t len = std::min(line.size(), n);
    std::memcpy(dst, line.data(), len);
    std::memset(dst + len, ' ', n - len);
  };
  read("TITLE");
  copy_text(title, sizeof title);
  read("DATE");
  copy_text(date, sizeof date);

  char axes[24];
  {
    Values v = read("AX~A/B/C");
    for (int a = 0; a < 3; ++a) v.label(axes + 8 * a, 8);
  }
  const float angle = read("angle").real();
  float origin[3], spacing[3];
  std::int32_t triples[9], counts[3];
  {
    Values v = read("X/Y/Z~MIN");
    for (float& f : origin) f = v.real();
  }
  const char* triple_names[] = {"IS~A/B/C", "IM~A/B/C", "ID~A/B/C"};
  for (int t = 0; t < 3; ++t) {
    Values v = read(triple_names[t]);
    for (int a = 0; a < 3; ++a) triples[3 * t + a] = v.integer();
  }
  {
    Values v = read("D~X/Y/Z");
    for (float& f : spacing) f = v.real();
  }
  {
    Values v = read("N~X/Y/Z");
    for (std::int32_t& n : counts) n = v.integer();
  }
  const std::int32_t nx = counts[0], ny = counts[1], nz = counts[2];
  // Negative counts may multiply to a small or negative number: only the exact product
  // decides, as in the converter.
  const Wide needed = Wide{3} * nx * ny * nz;
  if (needed > kCapacity)
    throw Failure{1, "Change the program parameter MXS to " + to_string(needed)};

  const std::size_t plane_values = (nx > 0 && ny > 0) ? 3 * static_cast<std::size_t>(nx) * ny : 0;
  const std::size_t planes = nz > 0 ? static_cast<std::size_t>(nz) : 0;
  Output out(88 + 26 + 36 + 56 + 32 + planes * (plane_values * 4 + 8));
  std::memcpy(out.record(80), title, 80);
  std::memcpy(out.record(18), date, 18);
  char* p = out.record(28);
  std::memcpy(p, axes, 24);
  Output::put(p + 24, angle);
  p = out.record(48);
  for (const float f : origin) p = Output::put(p, f);
  for (const std::int32_t n : triples) p = Output::put(p, n);
  p = out.record(24);
  for (const float f : spacing) p = Output::put(p, f);
  for (const std::int32_t n : counts) p = Output::put(p, n);

  // Nothing of the field is read when a count is below 1, but the planes are written.
  const std::size_t points_per_plane = planes > 0 ? plane_values / 3 : 0;
  for (std::size_t k = 0; k < planes; ++k) {
    char* data = out.record(plane_values * 4);
    for (std::size_t i = 0; i < points_per_plane; ++i) {
      Values v = read("FIELDs");
      const float a = v.real(), b = v.real(), c = v.real();
      data = Output::put(Output::put(Output::put(data, a), b), c);
    }
  }
  in.close();
  out.write_to(out_path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: baseline_fast IN OUT\n", stderr);
    return 2;
  }
  try {
    convert(argv[1], argv[2]);
  } catch (const Failure& f) {
    if (f.exit_code == 1) {
      std::printf(" %s\r\n", f.text.c_str());
    } else {
      std::fprintf(stderr, "baseline_fast: %s\n", f.text.c_str());
    }
    return f.exit_code;
  }
  std::fputs(" conversion done.\r\n", stdout);
  return 0;
}
