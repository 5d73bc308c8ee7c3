// The conversion routine: reads a formatted map file, checks its size against
// the caller's array, and writes the unformatted map file. Everything goes
// through the record I/O statement protocol; CONVERT has no file or text
// handling of its own.
#pragma once

#include <cstdint>

#include "app/capacity.h"

namespace app {

// Capacity of the field array in single-precision values: 3,000,000 unless
// the build sets MAPCONV_MXS.
inline constexpr std::int32_t MXS = kConfiguredCapacity;

// File names are used whole up to this length: the limit of a name given to
// OPEN. The front end refuses longer ones.
inline constexpr int kNameLength = 256;
inline constexpr int kMessageLength = 80;

// The logical units of the map files: the formatted input, the unformatted
// output.
inline constexpr std::int32_t kInputUnit = 20;
inline constexpr std::int32_t kOutputUnit = 21;

// Status codes: 0 success; 1 open of the input failed; 2, 3, 4, 104, 5, 105,
// 205, 305, 6, 106 reading header line 1..10 failed; 7 the field needs more
// than `capacity` values; 8 reading a field line failed. On failure `message`
// (80 characters) says what went wrong; on success it is left unchanged.
// Failures without a check (bad values, output errors) end the process with a
// run-time diagnostic.
void CONVERT(const char* input_name, std::int32_t input_length, const char* output_name,
             std::int32_t output_length, float* field, const std::int32_t* capacity, char* message,
             std::int32_t message_length, std::int32_t* status);

struct MapHeader;
// The header CONVERT read last; with the field it filled, the whole map that
// a reader of the text map other than the converter needs.
const MapHeader& last_map_header();

// Puts CONVERT's static map header and line buffer back to their contents at
// program start (all zero bits), so that a harness running many conversions
// in one process sees each one as the first. The program never calls it.
void reset_convert_storage();

}  // namespace app
