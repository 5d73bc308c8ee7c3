// Map texts to feed the converter and the unformatted files it must write,
// built independently of the program, plus a readable byte comparison.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// The two-point example map, one entry per line, without line ends.
inline std::vector<std::string> two_point_lines() {
  return {"Example field", "08-Dec-2026", "X Y Z",       "90.0",  "0.0, 0.0, 0.0", "0 0 0",
          "1 0 0",         "2 1 1",       "0.5 0.5 0.5", "2 1 1", "1.0 0.0 0.0",   "0.0 1.0 0.0"};
}

inline std::string join_lines(const std::vector<std::string>& lines, std::string_view eol = "\n",
                              bool final_eol = true) {
  std::string text;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    text += lines[n];
    if (n + 1 < lines.size() || final_eol) text += eol;
  }
  return text;
}

// Bytes from hex digit pairs; blanks between pairs are ignored.
inline std::string hex(std::string_view digits) {
  std::string out;
  int high = -1;
  for (char c : digits) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      continue;
    }
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

// A text cut or blank-padded to n characters.
inline std::string fixed(std::string_view text, std::size_t n) {
  std::string out(text.substr(0, n));
  out.resize(n, ' ');
  return out;
}

inline std::string word(std::uint32_t bits, bool big) {
  std::string out(4, '\0');
  for (int n = 0; n < 4; ++n) {
    const int shift = big ? 8 * (3 - n) : 8 * n;
    out[static_cast<std::size_t>(n)] = static_cast<char>((bits >> shift) & 0xFF);
  }
  return out;
}

// The values a map file holds, defaulting to the two-point example.
struct MapValues {
  std::string title = fixed("Example field", 80);
  std::string date = fixed("08-Dec-2026", 18);
  std::array<std::string, 3> axes{fixed("X", 8), fixed("Y", 8), fixed("Z", 8)};
  float angle = 90.0f;
  std::array<float, 3> origin{0.0f, 0.0f, 0.0f};
  std::array<std::int32_t, 3> is{0, 0, 0};
  std::array<std::int32_t, 3> im{1, 0, 0};
  std::array<std::int32_t, 3> id{2, 1, 1};
  std::array<float, 3> spacing{0.5f, 0.5f, 0.5f};
  std::array<std::int32_t, 3> counts{2, 1, 1};
  // Components of every grid point in file order: component fastest, then i,
  // j and k.
  std::vector<float> field{1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};
};

// The unformatted map file of `map`: five header records, then one record per
// plane, each framed by its data length before and after. `big_endian` puts
// the most significant byte first in every number, lengths included.
inline std::string unformatted_map(const MapValues& map, bool big_endian = false) {
  std::string file;
  std::string data;
  const auto text = [&](const std::string& s) { data += s; };
  const auto integer = [&](std::int32_t v) {
    data += word(static_cast<std::uint32_t>(v), big_endian);
  };
  const auto real = [&](float v) { data += word(std::bit_cast<std::uint32_t>(v), big_endian); };
  const auto end_record = [&] {
    const std::string length = word(static_cast<std::uint32_t>(data.size()), big_endian);
    file += length + data + length;
    data.clear();
  };

  text(map.title);
  end_record();
  text(map.date);
  end_record();
  for (const auto& axis : map.axes) text(axis);
  real(map.angle);
  end_record();
  for (float v : map.origin) real(v);
  for (const auto* triple : {&map.is, &map.im, &map.id})
    for (std::int32_t v : *triple) integer(v);
  end_record();
  for (float v : map.spacing) real(v);
  for (std::int32_t v : map.counts) integer(v);
  end_record();

  const std::int64_t nx = map.counts[0], ny = map.counts[1], nz = map.counts[2];
  if (nz < 1) return file;
  const std::size_t plane = nx >= 1 && ny >= 1 ? static_cast<std::size_t>(3 * nx * ny) : 0;
  for (std::int64_t k = 0; k < nz; ++k) {
    for (std::size_t n = 0; n < plane; ++n)
      real(map.field[static_cast<std::size_t>(k) * plane + n]);
    end_record();
  }
  return file;
}

// Empty when equal; otherwise the sizes and the first differing offset with
// the bytes around it, so that a failure on a large file stays readable.
inline std::string byte_difference(const std::string& expected, const std::string& actual) {
  if (expected == actual) return "";
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  const auto window = [&](const std::string& s) {
    std::string out;
    const std::size_t from = at >= 8 ? at - 8 : 0;
    for (std::size_t n = from; n < s.size() && n < at + 16; ++n) {
      char two[4];
      std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(s[n]));
      out.append(n == at ? "[" : " ").append(two).append(n == at ? "]" : "");
    }
    return out;
  };
  return "sizes " + std::to_string(expected.size()) + " (expected) and " +
         std::to_string(actual.size()) + " (actual); first difference at offset " +
         std::to_string(at) + "\n  expected:" + window(expected) + "\n  actual:  " + window(actual);
}

}  // namespace e2e
