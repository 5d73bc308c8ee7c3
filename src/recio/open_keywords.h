// The keywords of OPEN and CLOSE: the value tables of the keywords given as
// text, and the decoding of a statement's keyword entries into a request.
// Decoding checks every entry and value; it connects nothing.
#pragma once

#include <array>
#include <cstdint>

#include "recio/descriptor.h"
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

// Codes of the keyword values that are not stored in the unit block as such
// (the stored ones are in unit.h).
enum BlankCode : std::uint8_t { kBlankZero = 1, kBlankNull = 2 };
enum ActionCode : std::uint8_t { kActionRead = 1, kActionWrite = 2, kActionReadWrite = 3 };
enum PositionCode : std::uint8_t { kPositionAsIs = 1, kPositionRewind = 2, kPositionAppend = 3 };
enum PadCode : std::uint8_t { kPadYes = 1, kPadNo = 2 };
enum ShareCode : std::uint8_t {
  kShareDenyRw = 1,
  kShareDenyWr = 2,
  kShareDenyRd = 3,
  kShareDenyNone = 4
};
enum DispositionCode : std::uint8_t {
  kDispositionKeep = 1,  // also SAVE
  kDispositionDelete = 2,
  kDispositionPrint = 3,
  kDispositionSubmit = 4,
  kDispositionPrintDelete = 5,
  kDispositionSubmitDelete = 6,
};

// Matches a keyword value: upper-cased, trailing blanks removed (all blanks
// keep one), compared in full. Returns the code, or 0 when nothing matches.
int for__open_key(KeyTable table, const char* text, std::int32_t length);

// The gathered OPEN (or CLOSE) keywords, by keyword code; 0 selects the
// default.
struct OpenRequest {
  static constexpr std::size_t kKeywordSlots = 72;  // keyword codes are below 72
  std::array<std::int64_t, kKeywordSlots> value{};
  std::array<bool, kKeywordSlots> given{};
  const char* file = nullptr;  // FILE, not NUL-terminated
  std::int32_t file_length = 0;

  std::int64_t get(std::uint8_t key) const { return given[key] ? value[key] : 0; }
};

// Fills *rq from four-byte descriptor entries (type, mode, keyword, 0) ended
// by an entry of type kTypeEnd. CLOSE takes DISPOSITION only, OPEN all other
// keywords. Returns 0, msg::kArgumentError for a malformed entry or a keyword
// the statement does not take, msg::kKeywordValue for a value outside its
// table.
msg::Id for__open_args(Descriptor desc, IoArgs args, OpenRequest* rq, bool close_statement);

}  // namespace recio
