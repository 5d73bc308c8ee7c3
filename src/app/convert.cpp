#include "app/convert.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "app/descriptors.h"
#include "recio/format.h"
#include "recio/io_api.h"

namespace app {
namespace {

using recio::IoArg;
using recio::IoControlBlock;

constexpr std::int32_t kInputUnit = 20;
constexpr std::int32_t kOutputUnit = 21;

using namespace desc;

constexpr std::uint32_t kNoBranch = recio::kFlagsNoBranch;
constexpr std::uint32_t kErrBranch = recio::kFlagsErrBranch;
constexpr std::int64_t kBlankNull = 2;

// Wide enough for 3 * NX * NY * NZ of any three 32-bit counts.
__extension__ typedef __int128 WideCount;

// The map header, in static storage: zero bits until read.
struct MapHeader {
  char TITLE[80];
  char DATE[18];
  char AXA[8], AXB[8], AXC[8];
  float ANGLE;
  float XMIN, YMIN, ZMIN;
  std::int32_t ISA, ISB, ISC;
  std::int32_t IMA, IMB, IMC;
  std::int32_t IDA, IDB, IDC;
  float DX, DY, DZ;
  std::int32_t NX, NY, NZ;
};
MapHeader header;
char line[80];

void set_message(char* message, std::int32_t length, const char* text) {
  const std::size_t n = std::min(std::strlen(text), static_cast<std::size_t>(length));
  std::memcpy(message, text, n);
  std::memset(message + n, ' ', static_cast<std::size_t>(length) - n);
}

// One line of unit 20 into a text; non-zero on any failure (end of file too).
int read_line(char* into, std::int32_t length) {
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(length), IoArg::address(into)};
  return recio::for_read_seq_fmt(&cb, kInputUnit, kErrBranch, kTextEnd, args, recio::kFormatA);
}

// Three list-directed values from the line buffer, by descriptor entries.
void parse_three(recio::Descriptor first, recio::Descriptor middle, recio::Descriptor last, void* a,
                 void* b, void* c) {
  IoControlBlock cb{};
  const IoArg first_args[] = {IoArg::val(80), IoArg::address(line), IoArg::address(a)};
  recio::for_read_int_lis(&cb, kNoBranch, first, first_args);
  const IoArg second[] = {IoArg::address(b)};
  recio::for_read_int_lis_xmit(&cb, middle, second);
  const IoArg third[] = {IoArg::address(c)};
  recio::for_read_int_lis_xmit(&cb, last, third);
}

void parse_reals(float* a, float* b, float* c) {
  parse_three(kRecordRealMore, kRealMore, kRealEnd, a, b, c);
}
void parse_ints(std::int32_t* a, std::int32_t* b, std::int32_t* c) {
  parse_three(kRecordIntMore, kIntMore, kIntEnd, a, b, c);
}

void write_record(std::span<const std::uint8_t> desc, std::span<const IoArg> args) {
  IoControlBlock cb{};
  recio::for_write_seq(&cb, kOutputUnit, kNoBranch, desc, args);
}

}  // namespace

void CONVERT(const char* input_name, std::int32_t input_length, const char* output_name,
             std::int32_t output_length, float* field, const std::int32_t* capacity, char* message,
             std::int32_t message_length, std::int32_t* status) {
  auto fail = [&](std::int32_t code, const char* text) {
    *status = code;
    set_message(message, message_length, text);
  };

  {
    static constexpr char kOld[] = "old";
    static constexpr char kFormatted[] = "formatted";
    IoControlBlock cb{};
    const IoArg args[] = {IoArg::val(input_length),
                          IoArg::address(input_name),
                          IoArg::val(3),
                          IoArg::address(kOld),
                          IoArg::val(9),
                          IoArg::address(kFormatted),
                          IoArg::val(kBlankNull)};
    if (recio::for_open(&cb, kInputUnit, kErrBranch, kOpenInput, args) != 0)
      return fail(1, "Cannot open the MAP file");
  }

  if (read_line(header.TITLE, 80) != 0) return fail(2, "Reading error: TITLE");
  if (read_line(header.DATE, 18) != 0) return fail(3, "Reading error: DATE");

  if (read_line(line, 80) != 0) return fail(4, "Reading error: AX~A/B/C");
  {
    IoControlBlock cb{};
    const IoArg a[] = {IoArg::val(80), IoArg::address(line), IoArg::val(8),
                       IoArg::address(header.AXA)};
    recio::for_read_int_lis(&cb, kNoBranch, kRecordTextMore, a);
    const IoArg b[] = {IoArg::val(8), IoArg::address(header.AXB)};
    recio::for_read_int_lis_xmit(&cb, kTextMore, b);
    const IoArg c[] = {IoArg::val(8), IoArg::address(header.AXC)};
    recio::for_read_int_lis_xmit(&cb, kTextEnd, c);
  }

  if (read_line(line, 80) != 0) return fail(104, "Reading error: angle");
  {
    IoControlBlock cb{};
    const IoArg a[] = {IoArg::val(80), IoArg::address(line), IoArg::address(&header.ANGLE)};
    recio::for_read_int_lis(&cb, kNoBranch, kRecordRealEnd, a);
  }

  if (read_line(line, 80) != 0) return fail(5, "Reading error: X/Y/Z~MIN");
  parse_reals(&header.XMIN, &header.YMIN, &header.ZMIN);
  if (read_line(line, 80) != 0) return fail(105, "Reading error: IS~A/B/C");
  parse_ints(&header.ISA, &header.ISB, &header.ISC);
  if (read_line(line, 80) != 0) return fail(205, "Reading error: IM~A/B/C");
  parse_ints(&header.IMA, &header.IMB, &header.IMC);
  if (read_line(line, 80) != 0) return fail(305, "Reading error: ID~A/B/C");
  parse_ints(&header.IDA, &header.IDB, &header.IDC);
  if (read_line(line, 80) != 0) return fail(6, "Reading error: D~X/Y/Z");
  parse_reals(&header.DX, &header.DY, &header.DZ);
  if (read_line(line, 80) != 0) return fail(106, "Reading error: N~X/Y/Z");
  parse_ints(&header.NX, &header.NY, &header.NZ);

  const std::int32_t nx = header.NX, ny = header.NY, nz = header.NZ;
  // Counts of any sign and size: the product is exact in 128 bits.
  const WideCount needed = static_cast<WideCount>(3) * nx * ny * nz;
  if (needed > *capacity) {
    *status = 7;
    static constexpr char kChange[] = "Change the program parameter MXS to";
    if (needed <= INT32_MAX) {
      IoControlBlock cb{};
      const IoArg a[] = {IoArg::val(message_length), IoArg::address(message), IoArg::val(35),
                         IoArg::address(kChange)};
      recio::for_write_int_lis(&cb, kNoBranch, kRecordTextMore, a);
      const IoArg b[] = {IoArg::val(static_cast<std::int32_t>(needed))};
      recio::for_write_int_lis_xmit(&cb, kIntValueEnd, b);
    } else {
      // Beyond 32 bits the count is shown in as many columns as it needs.
      char digits[48];
      std::size_t n = 0;
      for (WideCount v = needed; v > 0; v /= 10)
        digits[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
      char text[96];
      std::size_t pos = 0;
      text[pos++] = ' ';
      std::memcpy(text + pos, kChange, 35);
      pos += 35;
      text[pos++] = ' ';
      while (n > 0) text[pos++] = digits[--n];
      text[pos] = '\0';
      set_message(message, message_length, text);
    }
    return;
  }

  // Grid points exist only when every count is at least 1; then the check
  // above bounds them by the capacity. Otherwise no field line is read and
  // every plane record is empty, however large the other counts are.
  const bool has_points = nx >= 1 && ny >= 1 && nz >= 1;
  const std::int64_t points = has_points ? static_cast<std::int64_t>(nx) * ny * nz : 0;
  const std::int64_t plane_values = has_points ? 3 * static_cast<std::int64_t>(nx) * ny : 0;
  // The field is stored in file order (component, i, j, k), so the lines
  // fill it front to back.
  for (std::int64_t p = 0; p < points; ++p) {
    if (read_line(line, 80) != 0) return fail(8, "Reading error: FIELDs");
    float* at = field + 3 * p;
    IoControlBlock cb{};
    const IoArg record[] = {IoArg::val(80), IoArg::address(line)};
    recio::for_read_int_lis(&cb, kNoBranch, kTextMore, record);
    for (int m = 0; m < 3; ++m) {
      const IoArg value[] = {IoArg::val(4), IoArg::address(at + m)};
      recio::for_read_int_lis_xmit(&cb, kFieldValueMore, value);
    }
    recio::for_read_int_lis_xmit(&cb, kEnd, {});
  }

  {
    IoControlBlock cb{};
    recio::for_close(&cb, kInputUnit, kNoBranch, kCloseNoKeywords, {});
  }
  {
    static constexpr char kUnknown[] = "unknown";
    static constexpr char kUnformatted[] = "unformatted";
    IoControlBlock cb{};
    const IoArg args[] = {IoArg::val(output_length),
                          IoArg::address(output_name),
                          IoArg::val(7),
                          IoArg::address(kUnknown),
                          IoArg::val(11),
                          IoArg::address(kUnformatted),
                          IoArg::val(kBlankNull)};
    recio::for_open(&cb, kOutputUnit, kNoBranch, kOpenOutput, args);
  }

  {
    const IoArg a[] = {IoArg::val(80), IoArg::address(header.TITLE)};
    write_record(kTextEnd, a);
    const IoArg b[] = {IoArg::val(18), IoArg::address(header.DATE)};
    write_record(kTextEnd, b);
  }
  {
    IoControlBlock cb{};
    const IoArg a[] = {IoArg::val(8), IoArg::address(header.AXA)};
    recio::for_write_seq(&cb, kOutputUnit, kNoBranch, kTextMore, a);
    const IoArg b[] = {IoArg::val(8), IoArg::address(header.AXB)};
    recio::for_write_seq_xmit(&cb, kTextMore, b);
    const IoArg c[] = {IoArg::val(8), IoArg::address(header.AXC)};
    recio::for_write_seq_xmit(&cb, kTextMore, c);
    const IoArg d[] = {IoArg::address(&header.ANGLE)};
    recio::for_write_seq_xmit(&cb, kRealEnd, d);
  }
  {
    IoControlBlock cb{};
    const IoArg first[] = {IoArg::address(&header.XMIN)};
    recio::for_write_seq(&cb, kOutputUnit, kNoBranch, kRealMore, first);
    const void* rest[] = {&header.YMIN, &header.ZMIN, &header.ISA, &header.ISB,
                          &header.ISC,  &header.IMA,  &header.IMB, &header.IMC,
                          &header.IDA,  &header.IDB,  &header.IDC};
    for (std::size_t n = 0; n < std::size(rest); ++n) {
      const IoArg a[] = {IoArg::address(rest[n])};
      const bool real = n < 2;  // YMIN, ZMIN
      const bool last = n + 1 == std::size(rest);
      recio::for_write_seq_xmit(&cb,
                                real   ? std::span<const std::uint8_t>(kRealMore)
                                : last ? std::span<const std::uint8_t>(kIntEnd)
                                       : std::span<const std::uint8_t>(kIntMore),
                                a);
    }
  }
  {
    IoControlBlock cb{};
    const IoArg first[] = {IoArg::address(&header.DX)};
    recio::for_write_seq(&cb, kOutputUnit, kNoBranch, kRealMore, first);
    const IoArg dy[] = {IoArg::address(&header.DY)};
    recio::for_write_seq_xmit(&cb, kRealMore, dy);
    const IoArg dz[] = {IoArg::address(&header.DZ)};
    recio::for_write_seq_xmit(&cb, kRealMore, dz);
    const IoArg nxa[] = {IoArg::address(&header.NX)};
    recio::for_write_seq_xmit(&cb, kIntMore, nxa);
    const IoArg nya[] = {IoArg::address(&header.NY)};
    recio::for_write_seq_xmit(&cb, kIntMore, nya);
    const IoArg nza[] = {IoArg::address(&header.NZ)};
    recio::for_write_seq_xmit(&cb, kIntEnd, nza);
  }
  // One record per plane even when it is empty; a 64-bit counter, since NZ
  // may be the largest 32-bit value.
  for (std::int64_t k = 0; k < nz; ++k) {
    IoControlBlock cb{};
    recio::for_write_seq(&cb, kOutputUnit, kNoBranch, kMore, {});
    for (std::int64_t n = 0; n < plane_values; ++n) {
      const IoArg v[] = {IoArg::val(4), IoArg::address(field + k * plane_values + n)};
      recio::for_write_seq_xmit(&cb, kFieldValueMore, v);
    }
    recio::for_write_seq_xmit(&cb, kEnd, {});
  }

  *status = 0;
  IoControlBlock cb{};
  recio::for_close(&cb, kOutputUnit, kNoBranch, kCloseNoKeywords, {});
}

void reset_convert_storage() {
  header = MapHeader{};
  std::memset(line, 0, sizeof line);
}

}  // namespace app
