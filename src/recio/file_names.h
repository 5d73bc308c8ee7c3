// File names of a connection: the name a unit is opened under and the
// special device table. Nothing here opens or touches a file.
#pragma once

#include <cstdint>
#include <string_view>

#include "recio/unit.h"

namespace recio {

// Special device lookup on the last component of the path. Returns the device
// kind (kDeviceFile for an ordinary file); *device receives the device name
// without its extension.
DeviceKind for__is_special_device(std::string_view name, std::string_view* device);

// Where the name of an OPEN comes from, first match wins.
enum class NameSource : std::uint8_t {
  kFile,     // the FILE keyword
  kEnv,      // FORTn, n the unit number
  kConsole,  // units 0, 5 and 6: the console (CONIN$ or CONOUT$)
  kKept,     // the name the unit had before
  kDefault,  // fort.n
};

// The name a unit opens under; `file` (null when FILE was not given) and the
// FORTn value are trimmed of leading blanks and trailing blanks and NULs.
// False when a FORTn value does not fit a unit's name (*name holds its start).
bool derive_file_name(const UnitBlock* u, const char* file, std::int32_t file_length,
                      FileName* name, NameSource* source);

// True when `name` names the same special device the unit is connected to.
bool names_same_device(const UnitBlock* u, std::string_view name);

}  // namespace recio
