// The lines that say where in a map file something is wrong. The failing
// value is found again by running the list-directed scanner over the line
// once more, item by item, only when a diagnostic is due; the line number
// and length come from the input unit. So reading a line costs nothing here.
#include "app/map_location.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "recio/io_api.h"
#include "recio/io_return.h"
#include "recio/list_input.h"
#include "recio/unit_table.h"
#include "rt/append_text.h"
#include "rt/catalog.h"
#include "rt/diagnostics.h"

namespace app {
namespace {

// The program's name, as every line starts with it; set once by a program
// other than the converter before it reads a map.
const char* kPrefix = "mapconv: ";

MapReading reading;

using rt::append_text;

// The name of item `index` of a header line of integers: "IS~A/B/C" names
// ISA, ISB, ISC.
std::string_view item_name(const MapReading& r, int index, char (&out)[16]) {
  const std::string_view names = r.names;
  const std::size_t tilde = names.find('~');
  if (tilde == std::string_view::npos) return names;
  const std::string_view stem = names.substr(0, tilde);
  const std::size_t part = tilde + 1 + 2 * static_cast<std::size_t>(index);
  if (part >= names.size()) return names;
  const int n = std::snprintf(out, sizeof out, "%.*s%c", static_cast<int>(stem.size()), stem.data(),
                              names[part]);
  return {out, static_cast<std::size_t>(std::max(n, 0))};
}

bool is_value_end(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/';
}

// One value of the line as the read saw it.
struct ScannedValue {
  msg::Id status = 0;
  std::int32_t start = -1;       // 0-based column where its text begins, -1 when none
  std::int32_t end = -1;         // one past its text
  bool written_as_real = false;  // numeric with a point or an exponent
};

// The values of the line, scanned again as the read scanned them. Returns
// how many items were scanned (up to and including a failing one).
int rescan(const char* text, std::int32_t columns, const ValueKind* kinds, int count,
           ScannedValue* values) {
  recio::ListScanState state;
  recio::list_scan_begin(state, text, columns, recio::kFlagsNoBranch);
  char text_item[8];
  std::int32_t int_item = 0;
  float real_item = 0;
  int n = 0;
  for (; n < count; ++n) {
    recio::Item item;
    switch (kinds[n]) {
      case ValueKind::kText:
        item = {recio::kTypeChar, recio::kPassLenAddr, text_item, 0, 8};
        break;
      case ValueKind::kInteger:
        item = {recio::kTypeInt4, recio::kPassAddress, &int_item, 0, 4};
        break;
      case ValueKind::kReal:
        item = {recio::kTypeReal4, recio::kPassAddress, &real_item, 0, 4};
        break;
    }
    // The value begins after blanks, tabs and one separating comma.
    std::int32_t at = state.pos;
    auto skip_blanks = [&] {
      while (at < columns && (text[at] == ' ' || text[at] == '\t')) ++at;
    };
    skip_blanks();
    if (n > 0 && at < columns && text[at] == ',') {
      ++at;
      skip_blanks();
    }
    ScannedValue& v = values[n];
    v.status = recio::list_read_item(state, item);
    if (at < columns) {
      v.start = at;
      v.end = at;
      while (v.end < columns && !is_value_end(text[v.end])) ++v.end;
    }
    v.written_as_real = state.marks.numeric && !state.marks.integer_syntax;
    if (v.status != 0) return n + 1;
  }
  return n;
}

// Column (0-based) after the line's last non-blank character within `columns`.
std::int32_t text_end(const char* text, std::int32_t columns) {
  std::int32_t n = columns;
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
  return n;
}

// The line's text with control and non-ASCII bytes escaped; *marker_at
// becomes the display column of text column `marker` (0-based).
std::size_t append_shown_text(char* out, std::size_t length, std::size_t cap, const char* text,
                              std::int32_t columns, std::int32_t marker, std::size_t* marker_at) {
  std::size_t shown = 0;
  *marker_at = 0;
  length = append_text(out, length, cap, "%s    ", kPrefix);
  for (std::int32_t c = 0; c < columns; ++c) {
    if (c == marker) *marker_at = shown;
    const auto b = static_cast<unsigned char>(text[c]);
    const std::size_t before = length;
    if (b == '\t') {
      length = append_text(out, length, cap, "\\t");
    } else if (b < 0x20 || b >= 0x7F || b == '\\') {
      length = b == '\\' ? append_text(out, length, cap, "\\\\")
                         : append_text(out, length, cap, "\\x%02X", b);
    } else {
      length = append_text(out, length, cap, "%c", static_cast<char>(b));
    }
    shown += length - before;
  }
  if (marker >= columns) *marker_at = shown + static_cast<std::size_t>(marker - columns);
  return append_text(out, length, cap, "\n");
}

// The line the map reader read last: its number, length and 81st column, from
// the unit (its values are read from a copy, so the record stays), or as r
// gives them.
struct LastLine {
  std::int64_t number = 0;
  std::int64_t length = 0;
  char next = ' ';
};
LastLine last_line(const MapReading& r) {
  if (r.unit == 0) return {r.line, r.length, r.next};
  const MapRecord record = map_record(r.unit);
  if (record.block == nullptr) return {};
  return {record.block->position.record_count, record.length(), record.column81()};
}

std::size_t context_writer(msg::Id id, char* text, std::size_t length, std::size_t cap) {
  return write_map_location(reading, id, text, length, cap);
}

// One line "mapconv: <text>\n" where diagnostics go; a text that does not
// fit is cut.
[[gnu::format(printf, 1, 2)]] void note_line(const char* format, ...) {
  char text[512];
  std::size_t n = std::strlen(kPrefix);
  std::memcpy(text, kPrefix, n);
  std::va_list args;
  va_start(args, format);
  const int m = std::vsnprintf(text + n, sizeof text - n - 1, format, args);
  va_end(args);
  if (m < 0) return;
  n = std::min(n + static_cast<std::size_t>(m), sizeof text - 2);
  text[n++] = '\n';
  rt::for__write_diagnostic_text(text, n);
}

// Why a statement returned `status`: the platform's reason when there is
// one, else the condition's own words where they stand alone (no unit or
// file to fill in), else its number.
const char* failure_reason(int status, char* reason, std::size_t cap) {
  const std::string_view text = recio::for__handled_reason(reason, cap);
  if (!text.empty()) {
    reason[text.size()] = '\0';
    return reason;
  }
  const char* words = rt::catalog_lookup(msg::severe(static_cast<std::uint16_t>(status)));
  std::size_t n = std::strcspn(words, "%\r\n");
  if (words[n] == '%' || n == 0 || words == rt::kMessageNotFound) {
    std::snprintf(reason, cap, "error %d", status);
  } else {
    std::snprintf(reason, cap, "%.*s", static_cast<int>(n), words);
  }
  return reason;
}

// A line's read failed with `status` (not end of file).
const char* read_failure_reason(int status, char* reason, std::size_t cap) {
  if (status == static_cast<int>(msg::number(msg::kRecordTooLong)))
    return "the line is too long to be read";
  return failure_reason(status, reason, cap);
}

}  // namespace

MapReading& map_reading() {
  return reading;
}

void map_messages_prefix(const char* prefix) {
  kPrefix = prefix;
}

void map_reading_begin(std::int32_t unit, const char* text) {
  reading = MapReading{};
  reading.unit = unit;
  reading.text = text;
  if (const recio::UnitBlock* u = recio::for__find_unit_block(unit)) {
    const std::string_view name = u->connection.file_name.view();
    const std::size_t n = std::min(name.size(), sizeof reading.path - 1);
    std::memcpy(reading.path, name.data(), n);
    reading.path[n] = '\0';
  }
  rt::for__set_context_writer(context_writer);
}

bool map_is_own_disk_file(std::int32_t unit) {
  const recio::UnitBlock* u = recio::for__find_unit_block(unit);
  return u != nullptr && u->connected && u->connection.disk_file && !u->connection.standard_handle;
}

void map_reading_end() {
  rt::for__set_context_writer(nullptr);
}

MapRecord map_record(std::int32_t unit) {
  const recio::UnitBlock* u = recio::for__find_unit_block(unit);
  return {u != nullptr && u->connected ? u : nullptr};
}

std::int32_t map_line_columns(const char* line, char next) {
  if (is_value_end(next)) return kMapColumns;
  std::int32_t c = kMapColumns;
  while (c > 0 && !is_value_end(line[c - 1])) --c;
  return c;
}

std::size_t write_map_location(const MapReading& r, msg::Id id, char* text, std::size_t length,
                               std::size_t cap) {
  const LastLine last = last_line(r);
  const std::int64_t line = last.number;
  if (line == 0) return length;
  length = append_text(text, length, cap, "%sline %lld of %s", kPrefix,
                       static_cast<long long>(line), r.path);
  const std::int64_t point = line - 11;
  if (r.grid && point >= 0 && r.nx > 0 && r.ny > 0) {
    const std::int64_t i = point % r.nx + 1;
    const std::int64_t j = point / r.nx % r.ny + 1;
    const std::int64_t k = point / (static_cast<std::int64_t>(r.nx) * r.ny) + 1;
    length =
        append_text(text, length, cap, ", grid point (%lld, %lld, %lld)", static_cast<long long>(i),
                    static_cast<long long>(j), static_cast<long long>(k));
  } else if (!r.names.empty()) {
    length =
        append_text(text, length, cap, " (%.*s)", static_cast<int>(r.names.size()), r.names.data());
  }
  if (!r.parsing || r.text == nullptr)
    return append_text(text, length, cap, ", while reading it\n");
  length = append_text(text, length, cap, ":\n");

  const std::int32_t columns = map_line_columns(r.text, last.next);
  ScannedValue values[3];
  const int scanned = r.kinds != nullptr ? rescan(r.text, columns, r.kinds, r.count, values) : 0;
  const ScannedValue* failed =
      scanned > 0 && values[scanned - 1].status != 0 ? &values[scanned - 1] : nullptr;
  const bool end_of_line = msg::number(id) == msg::number(msg::kEndOfFile);
  const bool cut = columns < kMapColumns;
  // Under a value that failed, its first column; where a value is missing,
  // the cut value's first column or the column after the text.
  std::int32_t marker = -1;
  if (failed != nullptr && !end_of_line && failed->start >= 0) marker = failed->start;
  if (end_of_line) marker = cut ? columns : std::min(text_end(r.text, kMapColumns), kMapColumns);
  const std::int32_t shown = cut ? text_end(r.text, kMapColumns) : text_end(r.text, columns);
  if (shown > 0) {
    std::size_t marker_at = 0;
    length = append_shown_text(text, length, cap, r.text, shown, marker, &marker_at);
    if (marker >= 0)
      length =
          append_text(text, length, cap, "%s    %*s^\n", kPrefix, static_cast<int>(marker_at), "");
  }
  if (!end_of_line) return length;
  if (cut) {
    return append_text(
        text, length, cap,
        "%sthe value at column %d runs past column 80: only the first 80 columns of a "
        "line are read\n",
        kPrefix, static_cast<int>(columns) + 1);
  }
  if (last.length > kMapColumns) {
    return append_text(text, length, cap,
                       "%sthe line is %lld columns long: only the first 80 columns are read\n",
                       kPrefix, static_cast<long long>(last.length));
  }
  if (shown == 0) {
    return append_text(text, length, cap, "%sthe line is blank; it must hold %d value%s\n", kPrefix,
                       r.count, r.count == 1 ? "" : "s");
  }
  if (failed != nullptr) {
    return append_text(text, length, cap,
                       "%sthe line ends after %d of the %d values it must hold\n", kPrefix,
                       scanned - 1, r.count);
  }
  return length;
}

void explain_open_failure(std::string_view name, int status) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  if (name.empty()) return note_line("the input file name is empty");
  char reason[256];
  note_line("cannot open %.*s: %s", static_cast<int>(name.size()), name.data(),
            failure_reason(status, reason, sizeof reason));
}

void explain_header_failure(const MapReading& r, int status, std::int64_t lines) {
  char reason[256];
  if (status == -1) {
    if (lines == 0) return note_line("%s is empty", r.path);
    return note_line("%s ends after line %lld; line %lld (%.*s) is missing", r.path,
                     static_cast<long long>(lines), static_cast<long long>(lines + 1),
                     static_cast<int>(r.names.size()), r.names.data());
  }
  note_line("line %lld (%.*s) of %s cannot be read: %s", static_cast<long long>(lines + 1),
            static_cast<int>(r.names.size()), r.names.data(), r.path,
            read_failure_reason(status, reason, sizeof reason));
}

void explain_field_failure(const MapReading& r, int status, std::int64_t lines, std::int32_t nx,
                           std::int32_t ny, std::int32_t nz) {
  const std::int64_t wanted = static_cast<std::int64_t>(nx) * ny * nz;
  const std::int64_t got = lines - 10;
  if (status == -1) {
    return note_line(
        "NX*NY*NZ = %d*%d*%d asks for %lld grid lines; %s ends after %lld of them (its last line "
        "is line %lld)",
        static_cast<int>(nx), static_cast<int>(ny), static_cast<int>(nz),
        static_cast<long long>(wanted), r.path, static_cast<long long>(got),
        static_cast<long long>(lines));
  }
  char reason[256];
  note_line("line %lld of %s (grid line %lld of %lld) cannot be read: %s",
            static_cast<long long>(lines + 1), r.path, static_cast<long long>(got + 1),
            static_cast<long long>(wanted), read_failure_reason(status, reason, sizeof reason));
}

bool warn_integer_written_as_real(const MapReading& r) {
  ScannedValue values[3];
  const int n =
      rescan(r.text, map_line_columns(r.text, last_line(r).next), r.kinds, r.count, values);
  for (int i = 0; i < n; ++i) {
    const ScannedValue& v = values[i];
    if (v.status != 0 || r.kinds[i] != ValueKind::kInteger || !v.written_as_real || v.start < 0)
      continue;
    char name[16];
    const std::string_view item = item_name(r, i, name);
    note_line(
        "warning: line %lld of %s: %.*s is written as %.*s, which is read as an integer cut "
        "toward zero: is a header line missing or shifted?",
        static_cast<long long>(r.line), r.path, static_cast<int>(item.size()), item.data(),
        static_cast<int>(v.end - v.start), r.text + v.start);
    return true;
  }
  return false;
}

void warn_empty_counts(const MapReading& r, std::int32_t nx, std::int32_t ny, std::int32_t nz) {
  const std::int32_t counts[3] = {nx, ny, nz};
  static constexpr const char* kNames[3] = {"NX", "NY", "NZ"};
  for (int i = 0; i < 3; ++i) {
    if (counts[i] > 0) continue;
    return note_line("warning: line 10 of %s: %s is %d: the field is empty", r.path, kNames[i],
                     static_cast<int>(counts[i]));
  }
}

void warn_data_after_field(const MapReading& r, std::int64_t line, std::int64_t last_grid_line) {
  note_line(
      "warning: line %lld of %s holds data after the last grid point (line %lld): the counts on "
      "line 10 may be wrong",
      static_cast<long long>(line), r.path, static_cast<long long>(last_grid_line));
}

}  // namespace app
