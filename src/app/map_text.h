// The canonical text of a map, as mapdump writes it: the ten header lines
// and one line per grid point, every line at most 80 columns, in a form that
// the converter reads back to the same header and values bit for bit.
//
// Reals are written in the shortest form that reads back exactly (a -0.0,
// which a text without a significant digit cannot give, as an underflow:
// -1e-50), in columns of 16 that start with the sign's place (a blank for a
// value without a minus sign); integers right-aligned in columns of 12. Title
// and date are the line itself, trailing blanks dropped where that reads the
// same; axis labels are quoted with apostrophes (doubled inside), and a label
// of eight NUL bytes (never assigned) is a null value.
#pragma once

#include <cstddef>
#include <string>

#include "app/map_header.h"

namespace app {

// Width of a real's column: the longest shortest form (-1.1754942e-38) and
// blanks after it.
inline constexpr std::size_t kRealColumn = 16;
// Longest line of a grid point: two columns, the last value, the line end.
inline constexpr std::size_t kPointLineMax = 3 * kRealColumn + 1;

// Writes v in the shortest form that reads back to the same bits; v must be
// finite. Returns the number of characters (at most 15).
std::size_t format_real(float v, char* out);

// Appends the ten header lines to *text, each ended by LF. False, with *why
// naming the field and the reason, when a field cannot be written so that it
// reads back: a NaN or infinity, a line end inside a text, a title ending in
// a carriage return at column 80, a label with a NUL byte among others.
bool append_header_lines(const MapHeader& h, std::string* text, std::string* why);

// A finite real in its column: the sign's place and the shortest form, blank
// padded to kRealColumn unless it is the last of its line. Returns the
// characters written.
std::size_t format_real_column(float v, bool last, char* out);

// Writes the line of one grid point (three finite components), ended by LF;
// returns its length (at most kPointLineMax).
std::size_t format_point_line(const float* components, char* out);

}  // namespace app
