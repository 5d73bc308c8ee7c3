// Where the reading of a formatted map file stands, and the lines that tell
// the user about it: after a severe diagnostic raised while the map is read,
// the line number, the file, the grid point and the line's text with a
// marker under the failing value (the run-time calls them as its context
// writer); before a result message, why the step failed; and warnings for
// maps that convert but are probably wrong. Every line starts with
// "mapconv: " and goes where the run-time's diagnostics go. One map is read
// at a time; nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rt/messages.h"

namespace app {

// Only the first 80 columns of a line count; the 81st is read too, to tell
// whether a value runs on past them.
inline constexpr std::int32_t kMapColumns = 80;
inline constexpr std::int32_t kMapLineBuffer = kMapColumns + 1;

enum class ValueKind : std::uint8_t { kText, kInteger, kReal };

// Where reading stands. The reader keeps it up to date (plain stores, no
// calls, on the per-line path); the lines below read it.
struct MapReading {
  char path[260] = {};        // the file's full path
  std::int64_t line = 0;      // number of the line being read (1-based), 0 before the first
  bool parsing = false;       // the line is read; its values are being taken
  const char* text = nullptr;  // the line as read: kMapLineBuffer characters
  std::int32_t columns = kMapColumns;  // columns the values are taken from
  std::int64_t length = 0;    // the line's length when it exceeds 80 columns, else 0
  // What the line holds: its item kinds and, for a header line, their names
  // (as in the result messages, "N~X/Y/Z").
  const ValueKind* kinds = nullptr;
  int count = 0;
  std::string_view names;
  std::int64_t point = -1;  // grid point of a grid line (0-based, file order), -1 in the header
  std::int32_t nx = 0, ny = 0;
};

// The state the program's reading of a map updates.
MapReading& map_reading();
// Starts a map: the full path of `unit`'s file, the state reset, and the
// location lines registered with the run-time.
void map_reading_begin(std::int32_t unit);
// The map is read: no more location lines.
void map_reading_end();

// The columns of a line (kMapLineBuffer characters) that its values are
// taken from: 80, or fewer when a value runs on past column 80, which is then
// not in the line at all.
std::int32_t map_line_columns(const char* line);

// The location lines for a severe condition `id`, appended to
// text[0..length) within cap; the new length. Nothing when no line is being
// read.
std::size_t write_map_location(const MapReading& r, msg::Id id, char* text, std::size_t length,
                               std::size_t cap);

// One line "mapconv: <text>\n" where diagnostics go.
void map_note(std::string_view text);

// The reasons before a result message. `status` is what the failed
// statement returned (-1 at end of file); `lines` how many lines had been
// read.
void explain_open_failure(std::string_view name, int status);
void explain_header_failure(const MapReading& r, int status, std::int64_t lines);
void explain_field_failure(const MapReading& r, int status, std::int64_t lines, std::int32_t nx,
                           std::int32_t ny, std::int32_t nz);

// Warnings for a map that converts. After an integer header line has been
// parsed (r.text, r.kinds): a value written with a point or an exponent.
// True when it warned.
bool warn_integer_written_as_real(const MapReading& r);
// After the header: a count of 0 or less.
void warn_empty_counts(const MapReading& r, std::int32_t nx, std::int32_t ny, std::int32_t nz);
// After the last grid point (line `last_grid_line`), when `line` of the file
// holds data.
void warn_data_after_field(const MapReading& r, std::int64_t line, std::int64_t last_grid_line);
// True when `unit` reads a disk file of its own (not standard input): one
// that may be read on past what the conversion needs.
bool map_is_own_disk_file(std::int32_t unit);

}  // namespace app
