// CONVERT: the map header as a table of its ten lines walked by one loop,
// then the field loop and the plane records. Owns the static header and the
// line buffer; all file and text handling is the record I/O services'.
#include "app/convert.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>

#include "app/descriptors.h"
#include "app/map_header.h"
#include "app/map_location.h"
#include "recio/format.h"
#include "recio/io_api.h"
#include "rt/memory.h"

namespace app {
namespace {

using namespace desc;
using recio::Descriptor;
using recio::IoArg;
using recio::IoControlBlock;

constexpr std::int32_t kLineLength = kMapColumns;

constexpr std::uint32_t kNoBranch = recio::kFlagsNoBranch;
constexpr std::uint32_t kErrBranch = recio::kFlagsErrBranch;
constexpr std::int64_t kBlankNull = 2;

// Wide enough for 3 * NX * NY * NZ of any three 32-bit counts.
__extension__ typedef __int128 WideCount;

// The map header, in static storage: zero bits until read.
MapHeader header;
char line[kLineLength];
// The unit's record behind the line buffer: its length and 81st column.
MapRecord input_record;

// One item of a statement: its descriptor, its variable and, for a text, its
// length (0 for a number, passed by address alone).
struct Value {
  Descriptor desc;
  void* addr;
  std::int32_t text_length;
};

// Arguments of one value appended at out; returns how many.
std::size_t value_args(const Value& v, IoArg* out) {
  if (v.text_length > 0) {
    out[0] = IoArg::val(v.text_length);
    out[1] = IoArg::address(v.addr);
    return 2;
  }
  out[0] = IoArg::address(v.addr);
  return 1;
}

// One header line: the status and message of a failed read, and what the
// line holds. A whole line is read straight into its one text; otherwise the
// line goes to the line buffer and its values are read from there
// list-directed (the first descriptor carries the line as its record).
struct HeaderLine {
  std::int32_t status;
  const char* message;
  bool whole_line;
  std::size_t count;
  Value values[3];
};

constexpr HeaderLine kHeaderLines[] = {
    {2, "Reading error: TITLE", true, 1, {{kTextEnd, header.TITLE, 80}}},
    {3, "Reading error: DATE", true, 1, {{kTextEnd, header.DATE, 18}}},
    {4,
     "Reading error: AX~A/B/C",
     false,
     3,
     {{kRecordTextMore, header.AXA, 8}, {kTextMore, header.AXB, 8}, {kTextEnd, header.AXC, 8}}},
    {104, "Reading error: angle", false, 1, {{kRecordRealEnd, &header.ANGLE, 0}}},
    {5,
     "Reading error: X/Y/Z~MIN",
     false,
     3,
     {{kRecordRealMore, &header.XMIN, 0},
      {kRealMore, &header.YMIN, 0},
      {kRealEnd, &header.ZMIN, 0}}},
    {105,
     "Reading error: IS~A/B/C",
     false,
     3,
     {{kRecordIntMore, &header.ISA, 0}, {kIntMore, &header.ISB, 0}, {kIntEnd, &header.ISC, 0}}},
    {205,
     "Reading error: IM~A/B/C",
     false,
     3,
     {{kRecordIntMore, &header.IMA, 0}, {kIntMore, &header.IMB, 0}, {kIntEnd, &header.IMC, 0}}},
    {305,
     "Reading error: ID~A/B/C",
     false,
     3,
     {{kRecordIntMore, &header.IDA, 0}, {kIntMore, &header.IDB, 0}, {kIntEnd, &header.IDC, 0}}},
    {6,
     "Reading error: D~X/Y/Z",
     false,
     3,
     {{kRecordRealMore, &header.DX, 0}, {kRealMore, &header.DY, 0}, {kRealEnd, &header.DZ, 0}}},
    {106,
     "Reading error: N~X/Y/Z",
     false,
     3,
     {{kRecordIntMore, &header.NX, 0}, {kIntMore, &header.NY, 0}, {kIntEnd, &header.NZ, 0}}},
};

// The header records of the output, in order: one statement each.
constexpr Value kTitleRecord[] = {{kTextEnd, header.TITLE, 80}};
constexpr Value kDateRecord[] = {{kTextEnd, header.DATE, 18}};
constexpr Value kAxesRecord[] = {{kTextMore, header.AXA, 8},
                                 {kTextMore, header.AXB, 8},
                                 {kTextMore, header.AXC, 8},
                                 {kRealEnd, &header.ANGLE, 0}};
constexpr Value kOriginRecord[] = {
    {kRealMore, &header.XMIN, 0}, {kRealMore, &header.YMIN, 0}, {kRealMore, &header.ZMIN, 0},
    {kIntMore, &header.ISA, 0},   {kIntMore, &header.ISB, 0},   {kIntMore, &header.ISC, 0},
    {kIntMore, &header.IMA, 0},   {kIntMore, &header.IMB, 0},   {kIntMore, &header.IMC, 0},
    {kIntMore, &header.IDA, 0},   {kIntMore, &header.IDB, 0},   {kIntEnd, &header.IDC, 0}};
constexpr Value kGridRecord[] = {{kRealMore, &header.DX, 0}, {kRealMore, &header.DY, 0},
                                 {kRealMore, &header.DZ, 0}, {kIntMore, &header.NX, 0},
                                 {kIntMore, &header.NY, 0},  {kIntEnd, &header.NZ, 0}};
constexpr std::span<const Value> kHeaderRecords[] = {kTitleRecord, kDateRecord, kAxesRecord,
                                                     kOriginRecord, kGridRecord};

void set_message(char* message, std::int32_t length, const char* text) {
  const std::size_t n = std::min(std::strlen(text), static_cast<std::size_t>(length));
  std::memcpy(message, text, n);
  std::memset(message + n, ' ', static_cast<std::size_t>(length) - n);
}

// OPEN of a map file with its STATUS and FORM texts; the statement's status.
int open_map(std::int32_t unit, std::uint32_t flags, Descriptor desc, const char* name,
             std::int32_t name_length, const char* status, const char* form) {
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(name_length),
                        IoArg::address(name),
                        IoArg::val(static_cast<std::int64_t>(std::strlen(status))),
                        IoArg::address(status),
                        IoArg::val(static_cast<std::int64_t>(std::strlen(form))),
                        IoArg::address(form),
                        IoArg::val(kBlankNull)};
  return recio::for_open(&cb, unit, flags, desc, args);
}

void close_unit(std::int32_t unit) {
  IoControlBlock cb{};
  recio::for_close(&cb, unit, kNoBranch, kCloseNoKeywords, {});
}

// One line of the input into a text; non-zero on any failure (end of file too).
int read_line(char* into, std::int32_t length) {
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(length), IoArg::address(into)};
  return recio::for_read_seq_fmt(&cb, kInputUnit, kErrBranch, kTextEnd, args, recio::kFormatA);
}

// One header line whose values are read list-directed, into the line
// buffer. The read's result.
int read_list_line(MapReading& r) {
  r.parsing = false;
  if (const int status = read_line(line, kLineLength)) return status;
  r.parsing = true;
  return 0;
}

ValueKind kind_of(const HeaderLine& h, std::size_t i) {
  const Value& v = h.values[i];
  if (v.text_length > 0) return ValueKind::kText;
  // The first descriptor carries the record before the item.
  return v.desc[i == 0 ? 2 : 0] == recio::kTypeInt4 ? ValueKind::kInteger : ValueKind::kReal;
}

// Reads one header line; the read's result (non-zero when the line could not
// be read).
int read_header_line(const HeaderLine& h, MapReading& r) {
  const Value& first = h.values[0];
  if (h.whole_line) return read_line(static_cast<char*>(first.addr), first.text_length);
  static ValueKind kinds[3];
  for (std::size_t i = 0; i < h.count; ++i) kinds[i] = kind_of(h, i);
  r.kinds = kinds;
  r.count = static_cast<int>(h.count);
  if (const int status = read_list_line(r)) return status;
  IoControlBlock cb{};
  // A value cut at column 80 is not taken: the values come from the columns
  // before it.
  IoArg args[4] = {IoArg::val(map_line_columns(line, input_record.column81())),
                   IoArg::address(line)};
  const std::size_t n = 2 + value_args(first, args + 2);
  recio::for_read_int_lis(&cb, kNoBranch, first.desc, std::span<const IoArg>(args, n));
  for (std::size_t i = 1; i < h.count; ++i) {
    const std::size_t m = value_args(h.values[i], args);
    recio::for_read_int_lis_xmit(&cb, h.values[i].desc, std::span<const IoArg>(args, m));
  }
  return 0;
}

// Status 7: the message asks for the capacity the field needs.
void report_capacity(WideCount needed, char* message, std::int32_t message_length) {
  static constexpr char kChange[] = "Change the program parameter MXS to";
  static constexpr std::int32_t kChangeLength = sizeof kChange - 1;
  if (needed <= INT32_MAX) {
    IoControlBlock cb{};
    const IoArg a[] = {IoArg::val(message_length), IoArg::address(message),
                       IoArg::val(kChangeLength), IoArg::address(kChange)};
    recio::for_write_int_lis(&cb, kNoBranch, kRecordTextMore, a);
    const IoArg b[] = {IoArg::val(static_cast<std::int32_t>(needed))};
    recio::for_write_int_lis_xmit(&cb, kIntValueEnd, b);
    return;
  }
  // Beyond 32 bits the count is shown in as many columns as it needs.
  char digits[48];
  std::size_t n = 0;
  for (WideCount v = needed; v > 0; v /= 10)
    digits[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
  char text[96];
  std::size_t pos = 0;
  text[pos++] = ' ';
  std::memcpy(text + pos, kChange, kChangeLength);
  pos += kChangeLength;
  text[pos++] = ' ';
  while (n > 0) text[pos++] = digits[--n];
  text[pos] = '\0';
  set_message(message, message_length, text);
}

// The field lines, three values each, into the field in file order
// (component, i, j, k); the failed read's result (*read: the grid lines read
// before it), or 0. Out of line, as write_planes: the loop keeps its
// pointers in registers instead of CONVERT's stack slots.
[[gnu::noinline]] int read_field(float* field, std::int64_t points, MapReading& r,
                                 std::int64_t* read) {
  static constexpr ValueKind kGridKinds[3] = {ValueKind::kReal, ValueKind::kReal, ValueKind::kReal};
  r.kinds = kGridKinds;
  r.count = 3;
  r.names = {};
  // A severe condition can only come from the values (the reads have their
  // error branch), and the unit counts the lines: r needs nothing per line.
  r.parsing = true;
  r.grid = true;
  for (std::int64_t p = 0; p < points; ++p) {
    if (const int status = read_line(line, kLineLength)) {
      *read = p;
      return status;
    }
    // A value cut at column 80 is not taken: only a longer line can have one.
    const std::int32_t columns = input_record.length() <= kLineLength
                                     ? kLineLength
                                     : map_line_columns(line, input_record.column81());
    float* at = field + 3 * p;
    IoControlBlock cb{};
    const IoArg record[] = {IoArg::val(columns), IoArg::address(line)};
    recio::for_read_int_lis(&cb, kNoBranch, kTextMore, record);
    // The three calls written out: a loop of three costs more than it
    // saves on the hottest path.
    IoArg value[] = {IoArg::val(4), IoArg::address(at)};
    recio::for_read_int_lis_xmit(&cb, kFieldValueMore, value);
    value[1] = IoArg::address(at + 1);
    recio::for_read_int_lis_xmit(&cb, kFieldValueMore, value);
    value[1] = IoArg::address(at + 2);
    recio::for_read_int_lis_xmit(&cb, kFieldValueMore, value);
    recio::for_read_int_lis_xmit(&cb, kEnd, {});
  }
  return 0;
}

// Data after the last grid point (line `last`) means the counts may be
// wrong. Looked for only in a disk file of the map's own, and the look never
// fails the run: at most it warns.
void look_past_field(const MapReading& r, std::int64_t last) {
  if (!map_is_own_disk_file(kInputUnit)) return;
  for (std::int64_t n = last + 1;; ++n) {
    const int status = read_line(line, kLineLength);
    const bool too_long = status == static_cast<int>(msg::number(msg::kRecordTooLong));
    if (status != 0 && !too_long) return;
    const char* const text =
        input_record.block->position.buffer.data() + input_record.block->position.rec_start;
    const bool blank = !too_long && std::all_of(text, text + input_record.length(),
                                                [](char c) { return c == ' ' || c == '\t'; });
    if (!blank) return warn_data_after_field(r, n, last);
  }
}

// One output record, one call per value.
void write_record(std::span<const Value> values) {
  IoControlBlock cb{};
  IoArg args[2];
  std::size_t n = value_args(values[0], args);
  recio::for_write_seq(&cb, kOutputUnit, kNoBranch, values[0].desc,
                       std::span<const IoArg>(args, n));
  for (std::size_t i = 1; i < values.size(); ++i) {
    n = value_args(values[i], args);
    recio::for_write_seq_xmit(&cb, values[i].desc, std::span<const IoArg>(args, n));
  }
}

// One record per plane even when it is empty; a 64-bit counter, since NZ
// may be the largest 32-bit value.
[[gnu::noinline]] void write_planes(const float* field, std::int64_t planes,
                                    std::int64_t plane_values) {
  const float* value = field;
  for (std::int64_t k = 0; k < planes; ++k) {
    IoControlBlock cb{};
    recio::for_write_seq(&cb, kOutputUnit, kNoBranch, kMore, {});
    IoArg v[] = {IoArg::val(4), IoArg::address(value)};
    for (const float* const end = value + plane_values; value != end; ++value) {
      v[1] = IoArg::address(value);
      recio::for_write_seq_xmit(&cb, kFieldValueMore, v);
    }
    recio::for_write_seq_xmit(&cb, kEnd, {});
  }
}

}  // namespace

void CONVERT(const char* input_name, std::int32_t input_length, const char* output_name,
             std::int32_t output_length, float* field, const std::int32_t* capacity, char* message,
             std::int32_t message_length, std::int32_t* status) {
  auto fail = [&](std::int32_t code, const char* text) {
    *status = code;
    set_message(message, message_length, text);
  };

  if (const int open = open_map(kInputUnit, kErrBranch, kOpenInput, input_name, input_length, "old",
                                "formatted")) {
    explain_open_failure(std::string_view(input_name, static_cast<std::size_t>(input_length)),
                         open);
    return fail(1, "Cannot open the MAP file");
  }
  // While the map is read, a severe diagnostic says where.
  map_reading_begin(kInputUnit, line);
  input_record = map_record(kInputUnit);
  struct EndReading {
    ~EndReading() { map_reading_end(); }
  } end_reading;
  MapReading& r = map_reading();
  bool warned_integer = false;
  for (std::size_t n = 0; n < std::size(kHeaderLines); ++n) {
    const HeaderLine& h = kHeaderLines[n];
    r.line = static_cast<std::int64_t>(n) + 1;
    r.names = std::string_view(h.message).substr(sizeof "Reading error: " - 1);
    if (const int read = read_header_line(h, r)) {
      explain_header_failure(r, read, r.line - 1);
      return fail(h.status, h.message);
    }
    if (!h.whole_line && !warned_integer && r.kinds[0] == ValueKind::kInteger) {
      warned_integer = warn_integer_written_as_real(r);  // once points at the header
    }
  }

  const std::int32_t nx = header.NX, ny = header.NY, nz = header.NZ;
  warn_empty_counts(r, nx, ny, nz);
  // Counts of any sign and size: the product is exact in 128 bits.
  const WideCount needed = static_cast<WideCount>(3) * nx * ny * nz;
  if (needed > *capacity) {
    *status = 7;
    return report_capacity(needed, message, message_length);
  }

  // Grid points exist only when every count is at least 1; then the check
  // above bounds them by the capacity. Otherwise no field line is read and
  // every plane record is empty, however large the other counts are.
  const bool has_points = nx >= 1 && ny >= 1 && nz >= 1;
  const std::int64_t points = has_points ? static_cast<std::int64_t>(nx) * ny * nz : 0;
  const std::int64_t plane_values = has_points ? 3 * static_cast<std::int64_t>(nx) * ny : 0;
  // The field is filled front to back: its first touch is most of the cost
  // of a large map's memory.
  rt::for__advise_whole_use(field, static_cast<std::size_t>(points) * 3 * sizeof(float));
  r.nx = nx;
  r.ny = ny;
  std::int64_t grid_lines = 0;
  if (const int read = read_field(field, points, r, &grid_lines)) {
    explain_field_failure(r, read, 10 + grid_lines, nx, ny, nz);
    return fail(8, "Reading error: FIELDs");
  }
  r.parsing = false;
  r.grid = false;
  look_past_field(r, 10 + points);
  map_reading_end();

  close_unit(kInputUnit);
  open_map(kOutputUnit, kNoBranch, kOpenOutput, output_name, output_length, "unknown",
           "unformatted");
  for (std::span<const Value> record : kHeaderRecords) write_record(record);
  write_planes(field, nz, plane_values);

  *status = 0;
  close_unit(kOutputUnit);
}

const MapHeader& last_map_header() {
  return header;
}

void reset_convert_storage() {
  header = MapHeader{};
  std::memset(line, 0, sizeof line);
}

}  // namespace app
