// The map header as the program holds it: the fields of the ten header lines
// of the text and of the five header records, in their order.
#pragma once

#include <cstdint>

namespace app {

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

// The unformatted map file's layout, from the fields its records hold.
inline constexpr int kComponents = 3;  // per grid point
inline constexpr std::int64_t kPointBytes = kComponents * sizeof(float);
inline constexpr int kHeaderRecordCount = 5;
inline constexpr std::int64_t kTitleRecordBytes = sizeof MapHeader::TITLE;
inline constexpr std::int64_t kDateRecordBytes = sizeof MapHeader::DATE;
inline constexpr std::int64_t kAxesRecordBytes = 3 * sizeof MapHeader::AXA + sizeof(float);
inline constexpr std::int64_t kOriginRecordBytes = 3 * sizeof(float) + 9 * sizeof(std::int32_t);
inline constexpr std::int64_t kGridRecordBytes = 3 * sizeof(float) + 3 * sizeof(std::int32_t);
// A record's length field, before and after its data.
inline constexpr std::int64_t kLengthFieldBytes = sizeof(std::uint32_t);
inline constexpr std::int64_t kRecordFramingBytes = 2 * kLengthFieldBytes;
// Where the first plane record starts.
inline constexpr std::int64_t kFirstPlaneOffset =
    kTitleRecordBytes + kDateRecordBytes + kAxesRecordBytes + kOriginRecordBytes +
    kGridRecordBytes + kHeaderRecordCount * kRecordFramingBytes;
static_assert(kFirstPlaneOffset == 238);

}  // namespace app
