// The canonical text of a map (map_text.h).
#include "app/map_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "app/map_location.h"

namespace app {
namespace {

// A text that the converter reads verbatim (title, date): its trailing
// blanks can go, unless the line would then end in a CR (dropped as part of
// the line end) or be the single byte 26 (read as end of file).
bool append_verbatim(const char* name, const char* bytes, std::size_t size, std::string* text,
                     std::string* why) {
  const std::string_view whole(bytes, size);
  if (const std::size_t lf = whole.find('\n'); lf != std::string_view::npos) {
    *why = std::string(name) + " holds a line end (byte 10) at column " + std::to_string(lf + 1);
    return false;
  }
  std::string_view line = whole.substr(0, whole.find_last_not_of(' ') + 1);
  if ((!line.empty() && line.back() == '\r') || line == "\x1a") line = whole;
  const bool ends_in_cr = !line.empty() && line.back() == '\r';
  // A CR that would end the line goes with the line end; a blank after it
  // keeps it, where the line has room for one.
  if (ends_in_cr && line.size() >= static_cast<std::size_t>(kMapColumns)) {
    *why = std::string(name) + " ends in a carriage return (byte 13) at column " +
           std::to_string(kMapColumns);
    return false;
  }
  text->append(line);
  if (ends_in_cr) text->push_back(' ');
  text->push_back('\n');
  return true;
}

bool append_labels(const MapHeader& h, std::string* text, std::string* why) {
  const char* labels[] = {h.AXA, h.AXB, h.AXC};
  const char* names[] = {"AXA", "AXB", "AXC"};
  constexpr std::size_t kLabelLength = sizeof h.AXA;
  static constexpr char kUnset[kLabelLength] = {};
  for (std::size_t i = 0; i < std::size(labels); ++i) {
    const std::string_view label(labels[i], kLabelLength);
    if (i > 0) text->append(", ");
    if (label.find('\n') != std::string_view::npos) {
      *why = std::string(names[i]) + " holds a line end (byte 10)";
      return false;
    }
    // Never assigned: a null value leaves it so.
    if (std::memcmp(labels[i], kUnset, kLabelLength) == 0) continue;
    // The converter's list-directed scan ends at a NUL byte, quoted or not.
    if (const std::size_t nul = label.find('\0'); nul != std::string_view::npos) {
      *why = std::string(names[i]) + " holds a NUL byte at column " + std::to_string(nul + 1);
      return false;
    }
    text->push_back('\'');
    for (char c : label.substr(0, label.find_last_not_of(' ') + 1)) {
      if (c == '\'') text->push_back('\'');
      text->push_back(c);
    }
    text->push_back('\'');
  }
  // A last null value before the line end would leave a trailing comma.
  if (text->back() == ' ') text->push_back('/');
  text->push_back('\n');
  return true;
}

bool append_reals(std::initializer_list<std::pair<const char*, float>> values, std::string* text,
                  std::string* why) {
  for (const auto& [name, v] : values) {
    if (!std::isfinite(v)) {
      *why = std::string(name) + " is " + (std::isnan(v) ? "NaN" : "infinite");
      return false;
    }
  }
  char line[3 * kRealColumn + 1];
  std::size_t n = 0;
  std::size_t i = 0;
  for (const auto& value : values)
    n += format_real_column(value.second, ++i == values.size(), line + n);
  line[n++] = '\n';
  text->append(line, n);
  return true;
}

void append_integers(std::int32_t a, std::int32_t b, std::int32_t c, std::string* text) {
  constexpr std::size_t kIntegerColumn = 12;
  char line[3 * kIntegerColumn + sizeof "\n"];
  const int n = std::snprintf(line, sizeof line, "%12d%12d%12d\n", a, b, c);
  text->append(line, static_cast<std::size_t>(n));
}

}  // namespace

std::size_t format_real(float v, char* out) {
  if (v == 0.0f && std::signbit(v)) {
    // "-0" reads as +0.0: only an underflow gives the negative zero.
    static constexpr char kNegativeZero[] = "-1e-50";
    std::memcpy(out, kNegativeZero, sizeof kNegativeZero - 1);
    return sizeof kNegativeZero - 1;
  }
  const std::to_chars_result r = std::to_chars(out, out + kRealColumn - 1, v);
  return static_cast<std::size_t>(r.ptr - out);
}

bool append_header_lines(const MapHeader& h, std::string* text, std::string* why) {
  if (!append_verbatim("TITLE", h.TITLE, sizeof h.TITLE, text, why) ||
      !append_verbatim("DATE", h.DATE, sizeof h.DATE, text, why) || !append_labels(h, text, why) ||
      !append_reals({{"ANGLE", h.ANGLE}}, text, why) ||
      !append_reals({{"XMIN", h.XMIN}, {"YMIN", h.YMIN}, {"ZMIN", h.ZMIN}}, text, why))
    return false;
  append_integers(h.ISA, h.ISB, h.ISC, text);
  append_integers(h.IMA, h.IMB, h.IMC, text);
  append_integers(h.IDA, h.IDB, h.IDC, text);
  if (!append_reals({{"DX", h.DX}, {"DY", h.DY}, {"DZ", h.DZ}}, text, why)) return false;
  append_integers(h.NX, h.NY, h.NZ, text);
  return true;
}

std::size_t format_real_column(float v, bool last, char* out) {
  std::size_t n = 0;
  if (!std::signbit(v)) out[n++] = ' ';  // the sign's place
  n += format_real(v, out + n);
  if (last) return n;
  std::memset(out + n, ' ', kRealColumn - n);
  return kRealColumn;
}

std::size_t format_point_line(const float* components, char* out) {
  std::size_t n = format_real_column(components[0], false, out);
  n += format_real_column(components[1], false, out + n);
  n += format_real_column(components[2], true, out + n);
  out[n++] = '\n';
  return n;
}

}  // namespace app
