// Where the reading of a formatted map file stands, and the lines that tell
// the user about it: after a severe diagnostic raised while the map is read,
// the line number, the file, the grid point and the line's text with a
// marker under the failing value (the run-time calls them as its context
// writer); before a result message, why the step failed; and warnings for
// maps that convert but are probably wrong. Every line starts with the
// program's name ("mapconv: ") and goes where the run-time's diagnostics go. One map is read
// at a time; nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "recio/unit.h"
#include "rt/messages.h"

namespace app {

// Only the first 80 columns of a line count; the 81st tells whether a value
// runs on past them.
inline constexpr std::int32_t kMapColumns = 80;

enum class ValueKind : std::uint8_t { kText, kInteger, kReal };

// Where reading stands. The reader sets it per header line and once for the
// grid; a grid line costs it nothing, since the unit counts the lines read
// and the line buffer still holds the last one.
struct MapReading {
  char path[260] = {};         // the file's full path
  std::int32_t unit = 0;       // the unit the map is read on; 0: line, length and next say
  std::int64_t line = 0;       // the line read last (1-based), 0 before the first
  std::int64_t length = 0;     // its length
  char next = ' ';             // its 81st column (blank when it has no more)
  bool parsing = false;        // the line is read; its values are being taken
  const char* text = nullptr;  // the line as read: its first 80 columns
  // What the line holds: its item kinds and, for a header line, their names
  // (as in the result messages, "N~X/Y/Z").
  const ValueKind* kinds = nullptr;
  int count = 0;
  std::string_view names;
  bool grid = false;  // the grid lines are being read: line 11 is grid point (1, 1, 1)
  std::int32_t nx = 0, ny = 0;
};

// Every line starts with `prefix` ("mapconv: " unless a program says
// otherwise, as mapdump does); a literal, kept by address.
void map_messages_prefix(const char* prefix);

// The state the program's reading of a map updates.
MapReading& map_reading();
// Starts a map read on `unit` into the line buffer `text`: the file's full
// path, the state reset, and the location lines registered with the run-time.
void map_reading_begin(std::int32_t unit, const char* text);
// The map is read: no more location lines.
void map_reading_end();

// The columns of a line that its values are taken from, given its first 80
// columns and its 81st (`next`): 80, or fewer when a value runs on past
// column 80, which is then not in the line at all.
std::int32_t map_line_columns(const char* line, char next);

// The line a unit read last, as the column rule needs it: its length and,
// when it is longer than 80 columns, its 81st. The unit's block is found once
// per map; a line costs two loads, and the line buffer is not read back (it
// has just been written).
struct MapRecord {
  const recio::UnitBlock* block = nullptr;  // set while the unit is connected
  std::int64_t length() const {
    return static_cast<std::int64_t>(block->position.rec_end) -
           static_cast<std::int64_t>(block->position.rec_start);
  }
  char column81() const {
    return length() > kMapColumns
               ? block->position.buffer.data()[block->position.rec_start + kMapColumns]
               : ' ';
  }
};
MapRecord map_record(std::int32_t unit);

// The location lines for a severe condition `id`, appended to
// text[0..length) within cap; the new length. Nothing when no line is being
// read.
std::size_t write_map_location(const MapReading& r, msg::Id id, char* text, std::size_t length,
                               std::size_t cap);

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
