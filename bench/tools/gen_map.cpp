// gen_map: writes a synthetic formatted map (text) of any size to standard output.
//
//   gen_map NX NY NZ [--seed S] [--crlf] > file
//
// The field is a vortex around a slowly precessing axis plus a gentle linear gradient.
// Output is byte-identical for the same arguments on every machine: the field uses only
// +, -, *, / on doubles (exactly rounded everywhere), every number is formatted from
// integers we round ourselves, and the few choices that look random come from a
// counter-based integer generator.
//
// Each real is also kept clear of the midpoint between two neighbouring single-precision
// values, so that any converter that parses with a few units of double rounding error
// (rather than exactly) still lands on the same single value; without that, benchmark
// outputs could differ in a last bit for reasons that have nothing to do with the
// converters under test.

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// splitmix64: tiny, well distributed, and defined purely on 64-bit integers.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi); the 53-bit fraction is exact, so the result is portable.
  double uniform(double lo, double hi) {
    const double unit = static_cast<double>(next() >> 11) * 0x1p-53;
    return lo + (hi - lo) * unit;
  }
  unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }

 private:
  std::uint64_t state_;
};

// Powers of ten up to 1e22 are exact doubles.
constexpr std::array<double, 23> kPow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// True when the decimal text lies far enough from every midpoint between adjacent
// single-precision values that its single-precision value cannot depend on small
// errors of the parser.
bool single_rounding_is_robust(std::string_view text) {
  double d = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (d == 0.0) return true;
  const float f = static_cast<float>(d);
  if (!std::isfinite(f) || std::fabs(f) < std::numeric_limits<float>::min()) return false;
  if (static_cast<double>(f) == d) return true;
  const float toward =
      std::nextafter(f, d > static_cast<double>(f) ? std::numeric_limits<float>::infinity()
                                                   : -std::numeric_limits<float>::infinity());
  // Both floats and their midpoint are exact in double.
  const double mid = (static_cast<double>(f) + static_cast<double>(toward)) / 2.0;
  return std::fabs(d - mid) > std::fabs(d) * 0x1p-40;
}

void append_uint(std::string& out, std::uint64_t v, int min_digits) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (; n < min_digits; ++n) digits[n] = '0';
  while (n > 0) out.push_back(digits[--n]);
}

// "-1.2345678E-03": eight significant digits, like printf's %.7E, rounded here so that
// the text does not depend on the C library. Values below 1e-22 in magnitude are
// written as zero, which also keeps every value a normal single.
std::string format_sci(double v) {
  std::string s;
  const double a = std::fabs(v);
  if (!(a >= 1e-22)) return "0.0000000E+00";
  if (a >= 1e22) return "9.9999999E+21";  // never produced by the field; keeps text bounded
  int e = 0;
  if (a >= 1.0) {
    while (e < 21 && a >= kPow10[static_cast<std::size_t>(e + 1)]) ++e;
  } else {
    while (e > -22 && a < 1.0 / kPow10[static_cast<std::size_t>(-e)]) --e;
  }
  const double scaled =
      e >= 0 ? a / kPow10[static_cast<std::size_t>(e)] : a * kPow10[static_cast<std::size_t>(-e)];
  auto m = static_cast<std::uint64_t>(scaled * 1e7 + 0.5);
  if (m >= 100000000) {
    m = 10000000;
    ++e;
  } else if (m < 10000000) {
    m = 10000000;  // rounding pushed a value just below the decade
  }
  for (;; ++m) {
    s.clear();
    if (v < 0) s.push_back('-');
    append_uint(s, m / 10000000, 1);
    s.push_back('.');
    append_uint(s, m % 10000000, 7);
    s.push_back('E');
    s.push_back(e < 0 ? '-' : '+');
    append_uint(s, static_cast<std::uint64_t>(e < 0 ? -e : e), 2);
    if (single_rounding_is_robust(s) || m >= 99999999) return s;
  }
}

// Fixed notation with at most `decimals` digits after the point, trailing zeros dropped
// but one kept ("0.5", "12.25", "3.0"). Never writes a negative zero.
std::string format_fixed(double v, int decimals) {
  const double scale = kPow10[static_cast<std::size_t>(decimals)];
  auto n = static_cast<std::uint64_t>(std::fabs(v) * scale + 0.5);
  const auto unit = static_cast<std::uint64_t>(scale);
  std::string s;
  for (;; ++n) {
    s.clear();
    if (v < 0 && n != 0) s.push_back('-');
    append_uint(s, n / unit, 1);
    s.push_back('.');
    append_uint(s, n % unit, decimals);
    while (s.size() >= 2 && s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
    if (single_rounding_is_robust(s)) return s;
  }
}

struct Args {
  long nx = 0, ny = 0, nz = 0;
  std::uint64_t seed = 1;
  bool crlf = false;
};

bool parse_count(const char* text, long& out) {
  const char* end = text + std::strlen(text);
  const auto [p, ec] = std::from_chars(text, end, out);
  return ec == std::errc() && p == end && out >= 0 && out <= 100000000;
}

bool parse_args(int argc, char** argv, Args& args) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--crlf") {
      args.crlf = true;
    } else if (a == "--seed" && i + 1 < argc) {
      const char* t = argv[++i];
      const char* end = t + std::strlen(t);
      const auto [p, ec] = std::from_chars(t, end, args.seed);
      if (ec != std::errc() || p != end) return false;
    } else if (positional < 3) {
      long* dst[] = {&args.nx, &args.ny, &args.nz};
      if (!parse_count(argv[i], *dst[positional])) return false;
      ++positional;
    } else {
      return false;
    }
  }
  return positional == 3;
}

// Buffers standard output in large blocks; a failed write is reported once at the end.
class Out {
 public:
  explicit Out(bool crlf) : eol_(crlf ? "\r\n" : "\n") { buf_.reserve(kFlushAt + 256); }
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;
  ~Out() = default;

  void text(std::string_view s) { buf_.append(s); }
  void line(std::string_view s) {
    buf_.append(s);
    end_line();
  }
  void end_line() {
    buf_.append(eol_);
    if (buf_.size() >= kFlushAt) flush();
  }
  bool finish() {
    flush();
    return ok_ && std::fflush(stdout) == 0;
  }

 private:
  static constexpr std::size_t kFlushAt = 1 << 20;
  void flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), stdout) != buf_.size())
      ok_ = false;
    buf_.clear();
  }
  std::string_view eol_;
  std::string buf_;
  bool ok_ = true;
};

struct Field {
  double speed, omega, core2, tilt, precess, gx, gy, gz, w0;
};

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!parse_args(argc, argv, args)) {
    std::fputs("usage: gen_map NX NY NZ [--seed S] [--crlf] > file\n", stderr);
    return 2;
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  Rng params(args.seed);
  const Field fp{
      params.uniform(5.0, 50.0),   params.uniform(0.8, 2.0),    params.uniform(0.04, 0.12),
      params.uniform(-0.3, 0.3),   params.uniform(0.5, 1.5),    params.uniform(-0.05, 0.05),
      params.uniform(-0.05, 0.05), params.uniform(-0.05, 0.05), params.uniform(0.1, 0.4)};

  // Grid spacing: a short fixed value, the origin centres the grid on zero.
  const double dx = 0.025, dy = 0.025, dz = 0.05;
  const long nx = args.nx, ny = args.ny, nz = args.nz;

  Out out(args.crlf);
  {
    std::string title = "Synthetic vortex field  NX=" + std::to_string(nx) +
                        " NY=" + std::to_string(ny) + " NZ=" + std::to_string(nz) +
                        "  seed=" + std::to_string(args.seed);
    out.line(title);
  }
  out.line("08-Dec-2026");
  out.line("XAXIS YAXIS ZAXIS");
  out.line("90.0");
  const auto origin = [](long n, double d) { return -0.5 * static_cast<double>(n - 1) * d; };
  out.line(format_fixed(origin(nx, dx), 4) + ", " + format_fixed(origin(ny, dy), 4) + ", " +
           format_fixed(origin(nz, dz), 4));
  out.line("0 0 0");
  out.line(std::to_string(nx > 0 ? nx - 1 : 0) + " " + std::to_string(ny > 0 ? ny - 1 : 0) + " " +
           std::to_string(nz > 0 ? nz - 1 : 0));
  out.line(std::to_string(nx) + " " + std::to_string(ny) + " " + std::to_string(nz));
  out.line(format_fixed(dx, 4) + " " + format_fixed(dy, 4) + " " + format_fixed(dz, 4));
  out.line(std::to_string(nx) + " " + std::to_string(ny) + " " + std::to_string(nz));

  // Normalised coordinates in [-1, 1] (0 for a single point along an axis).
  const auto norm = [](long idx, long n) {
    return n > 1 ? (2.0 * static_cast<double>(idx) - static_cast<double>(n - 1)) /
                       static_cast<double>(n - 1)
                 : 0.0;
  };
  Rng form(args.seed ^ 0xA5A5A5A5A5A5A5A5ULL);
  std::array<double, 3> v{};
  for (long k = 0; k < nz; ++k) {
    const double z = norm(k, nz);
    // The vortex axis leans by `tilt` and turns with height: a quadratic stands in for a
    // sine so that no library function is involved.
    const double t = fp.precess * z;
    const double cx = fp.tilt * (t - t * t * t / 6.0);
    const double cy = fp.tilt * (1.0 - t * t / 2.0) - fp.tilt;
    for (long j = 0; j < ny; ++j) {
      const double y = norm(j, ny);
      for (long i = 0; i < nx; ++i) {
        const double x = norm(i, nx);
        const double rx = x - cx, ry = y - cy;
        const double r2 = rx * rx + ry * ry;
        const double swirl = fp.omega / (1.0 + r2 / fp.core2);
        v[0] = -swirl * ry + fp.gx * z + fp.gy * y;
        v[1] = swirl * rx + fp.gy * x - fp.gz * z;
        v[2] = fp.w0 * fp.core2 / (fp.core2 + r2) + fp.gz * x * y;
        for (double& c : v) c *= fp.speed;
        // Mostly one separator style per line; the occasional comma-separated line and
        // fixed-notation value mimic hand-edited files.
        const bool commas = form.below(64) == 0;
        for (std::size_t m = 0; m < 3; ++m) {
          if (m > 0)
            out.text(commas ? ", " : "  ");
          else
            out.text(" ");
          if (form.below(16) == 0) {
            out.text(format_fixed(v[m], 1 + static_cast<int>(form.below(4))));
          } else {
            out.text(format_sci(v[m]));
          }
        }
        out.end_line();
      }
    }
  }
  if (!out.finish()) {
    std::fputs("gen_map: write error on standard output\n", stderr);
    return 1;
  }
  return 0;
}
