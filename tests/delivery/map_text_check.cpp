// Compares what a reader printed for an unformatted map file with the text
// map it was converted from: the header lines, then one line per grid point,
// numbers as the C library reads them. Exit status 0 when they agree,
// 1 with the first difference, 2 on bad use.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << path << "\n";
    std::exit(2);
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string rstrip(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// Tokens separated by blanks, tabs or commas.
std::vector<std::string> tokens(const std::string& line) {
  std::vector<std::string> out;
  std::string token;
  for (char c : line + ' ') {
    if (c == ' ' || c == '\t' || c == ',') {
      if (!token.empty()) out.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  return out;
}

bool as_number(const std::string& text, bool integer, double* value) {
  char* end = nullptr;
  errno = 0;
  *value = integer ? static_cast<double>(std::strtol(text.c_str(), &end, 10))
                   : static_cast<double>(std::strtof(text.c_str(), &end));
  return errno == 0 && end != text.c_str() && *end == '\0';
}

int fail(std::size_t line, const std::string& what, const std::string& expected,
         const std::string& got) {
  std::cerr << "line " << line << ": " << what << ": expected \"" << expected << "\", got \"" << got
            << "\"\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: map_text_check TEXT_MAP READER_OUTPUT\n";
    return 2;
  }
  const std::vector<std::string> map = lines_of(argv[1]);
  const std::vector<std::string> got = lines_of(argv[2]);
  if (map.size() < 10) return fail(0, "text map", "10 header lines", std::to_string(map.size()));
  const std::vector<std::string> n = tokens(map[9]);
  const long points =
      n.size() < 3 ? 0
                   : std::atol(n[0].c_str()) * std::atol(n[1].c_str()) * std::atol(n[2].c_str());
  const std::size_t expected_lines = 10 + static_cast<std::size_t>(points > 0 ? points : 0);
  if (got.size() != expected_lines)
    return fail(got.size(), "line count", std::to_string(expected_lines),
                std::to_string(got.size()));

  if (rstrip(map[0].substr(0, 80)) != rstrip(got[0]))
    return fail(1, "title", map[0].substr(0, 80), got[0]);
  if (rstrip(map[1].substr(0, 18)) != rstrip(got[1]))
    return fail(2, "date", map[1].substr(0, 18), got[1]);
  const std::vector<std::string> labels = tokens(map[2]), printed = tokens(got[2]);
  for (std::size_t a = 0; a < 3; ++a) {
    const std::string want = a < labels.size() ? labels[a].substr(0, 8) : "";
    if (a >= printed.size() || printed[a] != want)
      return fail(3, "axis label", want, a < printed.size() ? printed[a] : "");
  }
  for (std::size_t l = 3; l < got.size(); ++l) {
    const bool integer = l == 5 || l == 6 || l == 7 || l == 9;
    const std::size_t count = l == 3 ? 1 : 3;
    const std::vector<std::string> want = tokens(map[l].substr(0, 80)), have = tokens(got[l]);
    if (want.size() < count || have.size() != count)
      return fail(l + 1, "value count", std::to_string(count), got[l]);
    for (std::size_t v = 0; v < count; ++v) {
      double a = 0, b = 0;
      if (!as_number(want[v], integer, &a) || !as_number(have[v], integer, &b) || a != b)
        return fail(l + 1, "value " + std::to_string(v + 1), want[v], have[v]);
    }
  }
  return 0;
}
