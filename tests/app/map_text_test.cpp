#include "app/map_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

namespace {

std::string real_text(float v) {
  char out[app::kRealColumn];
  return std::string(out, app::format_real(v, out));
}

struct RealCase {
  float value;
  const char* text;
};

// The shortest form that reads back, and the one value no digits can give.
constexpr RealCase kReals[] = {
    {0.0f, "0"},
    {-0.0f, "-1e-50"},
    {1.0f, "1"},
    {0.025f, "0.025"},
    {FLT_TRUE_MIN, "1e-45"},
    {-FLT_MAX, "-3.4028235e+38"},
    {FLT_MIN, "1.1754944e-38"},
    {16777216.0f, "16777216"},
    {0.1f, "0.1"},
};

TEST(MapText, RealsInTheirShortestForm) {
  for (const RealCase& c : kReals) EXPECT_EQ(real_text(c.value), c.text) << c.text;
}

TEST(MapText, PointLinesStayWithinEightyColumns) {
  const float widest[3] = {-1.1754942e-38f, -1.1754942e-38f, -1.1754942e-38f};
  char line[app::kPointLineMax];
  const std::size_t n = app::format_point_line(widest, line);
  EXPECT_LE(n, app::kPointLineMax);
  EXPECT_EQ(line[n - 1], '\n');
  const float plain[3] = {1.0f, -2.5f, 0.0f};
  EXPECT_EQ(std::string(line, app::format_point_line(plain, line)),
            " 1              -2.5             0\n");
}

app::MapHeader example_header() {
  app::MapHeader h{};
  std::memset(h.TITLE, ' ', sizeof h.TITLE);
  std::memset(h.DATE, ' ', sizeof h.DATE);
  std::memcpy(h.AXA, "X       ", 8);
  std::memcpy(h.AXB, "Y       ", 8);
  std::memcpy(h.AXC, "Z       ", 8);
  h.NX = h.NY = h.NZ = 1;
  return h;
}

struct HeaderCase {
  const char* name;
  void (*change)(app::MapHeader*);
  const char* line;  // the line expected among the header lines ("" none)
  const char* why;   // the refusal ("" none)
};

const HeaderCase kHeaders[] = {
    {"blank title", [](app::MapHeader*) {}, "\n\n'X', 'Y', 'Z'\n", ""},
    {"quotes doubled", [](app::MapHeader* h) { std::memcpy(h->AXB, "it's a,b", 8); },
     "'X', 'it''s a,b', 'Z'\n", ""},
    {"labels never assigned",
     [](app::MapHeader* h) {
       std::memset(h->AXA, 0, 8);
       std::memset(h->AXC, 0, 8);
     },
     "\n, 'Y', /\n", ""},
    {"Ctrl-Z title kept whole", [](app::MapHeader* h) { h->TITLE[0] = 26; },
     "\x1a                                                                               \n", ""},
    {"date ending in CR", [](app::MapHeader* h) { h->DATE[17] = '\r'; }, "\n                 \r \n",
     ""},
    {"title with a line end", [](app::MapHeader* h) { h->TITLE[4] = '\n'; }, "",
     "TITLE holds a line end (byte 10) at column 5"},
    {"title ending in CR", [](app::MapHeader* h) { h->TITLE[79] = '\r'; }, "",
     "TITLE ends in a carriage return (byte 13) at column 80"},
    {"label with a line end", [](app::MapHeader* h) { h->AXC[0] = '\n'; }, "",
     "AXC holds a line end (byte 10)"},
    {"label with a NUL byte", [](app::MapHeader* h) { h->AXA[2] = '\0'; }, "",
     "AXA holds a NUL byte at column 3"},
    {"NaN spacing", [](app::MapHeader* h) { h->DY = NAN; }, "", "DY is NaN"},
    {"infinite origin", [](app::MapHeader* h) { h->ZMIN = -INFINITY; }, "", "ZMIN is infinite"},
};

TEST(MapText, HeaderLines) {
  for (const HeaderCase& c : kHeaders) {
    SCOPED_TRACE(c.name);
    app::MapHeader h = example_header();
    c.change(&h);
    std::string text, why;
    const bool written = app::append_header_lines(h, &text, &why);
    EXPECT_EQ(why, c.why);
    EXPECT_EQ(written, *c.why == '\0');
    if (*c.line != '\0') {
      EXPECT_NE(text.find(c.line), std::string::npos) << text;
    }
  }
}

}  // namespace
