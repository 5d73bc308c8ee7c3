// Connection of units to files and devices: OPEN, CLOSE, the implicit
// connection at a unit's first use, file names, the special device table and
// the connection defaults. Defaults are decided once, at OPEN, and stored in
// the unit block.
#pragma once

#include <cstdint>
#include <string_view>

#include "recio/descriptor.h"
#include "recio/unit.h"
#include "rt/messages.h"

namespace recio {

// Value tables of the keywords given as text.
enum class KeyTable : std::uint8_t {
  kStatus,
  kForm,
  kBlank,
  kAccess,
  kCarriageControl,
  kRecordType,
  kOrganization,
  kAction,
  kPosition,
  kPad,
  kConvert,
  kShare,
  kDisposition,
};

// Matches a keyword value: upper-cased, trailing blanks removed (all blanks
// keep one), compared in full. Returns the code, or 0 when nothing matches.
int for__open_key(KeyTable table, const char* text, std::int32_t length);

enum StatusCode : std::uint8_t {
  kStatusOld = 1,
  kStatusNew = 2,
  kStatusScratch = 3,
  kStatusUnknown = 4,
  kStatusReplace = 5
};

// Special device lookup on the last component of the path. Returns the device
// kind (kDeviceFile for an ordinary file); *device receives the device name
// without its extension.
int for__is_special_device(std::string_view name, std::string_view* device);

// Implicit connection of an unconnected unit by the first statement on it.
msg::Id for__open_default(UnitBlock* u, std::uint8_t access, std::uint8_t status,
                          std::uint8_t form);

// Disconnects with the default disposition (keep; delete for scratch units).
// The block stays; the caller frees it when `free_block` is set.
msg::Id for__close_default(UnitBlock* u, bool free_block);

// The same disconnection without releasing any memory of the block: the
// close at exit after a processor exception, when the heap may be
// inconsistent.
msg::Id for__close_without_release(UnitBlock* u);

}  // namespace recio
