// Entry points of the record I/O services: the statement protocol.
//
// A statement is one start call (control block, unit, flag word, descriptor,
// arguments) followed by one call per further item; the descriptor's
// terminator (kTypeEnd) ends the statement. The control block is owned by the
// caller and zeroed before the start call; it links the calls of a statement.
// Every entry returns 0, -1 (end of file), -2 (end of record) or the status
// number of a handled error; unhandled failures end the process with a
// diagnostic. Entry points are thin: decode, acquire the unit, delegate; a
// failure ends through the statement's flags (statement_flags.h), on a unit
// through for__io_return.
#pragma once

#include <cstdint>
#include <span>

#include "recio/descriptor.h"

namespace recio {

struct UnitBlock;

struct IoControlBlock {
  std::uint32_t state = 0;  // 0 before the start call
  UnitBlock* unit = nullptr;
  std::span<const std::uint32_t> format;  // compiled format of a formatted statement
  std::uint32_t format_pos = 0;           // next element
  std::uint32_t format_restart = 0;       // where the format resumes after its ")"
  std::uint32_t format_repeat = 0;        // items still owed to the current A
  std::size_t record_reach = 0;           // of a read: how much of a record it can use
};

// Bits of the flag word.
enum FlagBit : std::uint32_t {
  kFlagErrorCheck = 1u << 0,      // error branch or status variable
  kFlagEndBranch = 1u << 1,       // end-of-file branch
  kFlagForeignShift = 8,          // bits 8-15: compiled-in foreign format code (0/255 none)
  kFlagBigEndian = 1u << 16,      // compiled-in big-endian selection
  kFlagUndelimited = 1u << 18,    // undelimited character input; leading blank on internal output
  kFlagLfControl = 1u << 19,      // pending-line-feed control (never passed by this system)
  kFlagEorBranch = 1u << 21,      // end-of-record branch
  kFlagOutConvStatus = 1u << 25,  // output conversion errors returned as status
};

// No compiled-in foreign format (bits 8-15 all set).
inline constexpr std::uint32_t kFlagsNoForeignFormat = 0xFFu << kFlagForeignShift;
// Bits 23, 24 and 26: set in every flag word the program's compiler emits;
// options of statements this run-time does not act on.
inline constexpr std::uint32_t kFlagsCompilerDefaults = 1u << 23 | 1u << 24 | 1u << 26;

// The program's flag words.
inline constexpr std::uint32_t kFlagsNoBranch =
    kFlagsCompilerDefaults | kFlagOutConvStatus | kFlagUndelimited | kFlagsNoForeignFormat;
inline constexpr std::uint32_t kFlagsErrBranch = kFlagsNoBranch | kFlagErrorCheck;
inline constexpr std::uint32_t kFlagsEndBranch = kFlagsNoBranch | kFlagEndBranch;
static_assert(kFlagsNoBranch == 0x0784FF00u && kFlagsErrBranch == 0x0784FF01u &&
              kFlagsEndBranch == 0x0784FF02u);

// OPEN/CLOSE keyword codes (byte 2 of a four-byte descriptor entry).
enum OpenKeyword : std::uint8_t {
  kKeyAccess = 2,
  kKeyAction = 3,
  kKeyBlank = 6,
  kKeyBlocksize = 7,
  kKeyBuffercount = 8,
  kKeyCarriageControl = 10,
  kKeyDisposition = 12,
  kKeyFile = 13,
  kKeyForm = 15,
  kKeyOrganization = 19,
  kKeyPad = 20,
  kKeyReadonly = 22,
  kKeyRecl = 23,
  kKeyRecordType = 24,
  kKeyShared = 25,
  kKeyStatus = 26,
  kKeyPosition = 28,
  kKeyShare = 29,
  kKeyConvert = 52,
};

int for_open(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
             IoArgs args);
int for_close(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
              IoArgs args);

// Unformatted sequential write: one record per statement.
int for_write_seq(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                  IoArgs args);
int for_write_seq_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args);

// Unformatted sequential read: one variable record per statement, its items
// filled from the record's data in order, foreign values converted as the
// unit's CONVERT selection says. A record larger than the read-ahead streams
// into the items. Conditions: end of file at a record's start
// (msg::kEndOfFile, -1 under the end branch), a file that ends inside a
// record (kReadError), items that ask for more than the record holds
// (kTooMuchData), a trailing length unlike the leading one
// (kInconsistentRecl), a record type other than variable
// (kInconsistentRecordType). Items not asked for are skipped.
int for_read_seq(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                 IoArgs args);
int for_read_seq_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args);

// Where the last unformatted record read on a unit stands, so that a program
// can say which record failed and why. Offsets count the bytes read since
// the unit was connected; -1 marks what the file did not hold.
struct RecordPlace {
  std::int64_t offset = -1;       // where the record's leading length begins
  std::int64_t leading = -1;      // its leading length (-1: the file ended inside it)
  std::int64_t trailing = -1;     // its trailing length, once read
  std::int64_t end_of_file = -1;  // where the file ended inside the record
};
// 0, or msg::kInvalidUnit's number when the unit has no block.
int for_inquire_record_place(std::int32_t unit, RecordPlace* out);

// Formatted sequential read under a compiled format: one record per statement.
int for_read_seq_fmt(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                     IoArgs args, std::span<const std::uint32_t> format);
int for_read_seq_fmt_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args);

// Formatted sequential write under a compiled format.
int for_write_seq_fmt(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                      IoArgs args, std::span<const std::uint32_t> format);
int for_write_seq_fmt_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args);

// List-directed sequential write.
int for_write_seq_lis(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                      IoArgs args);
int for_write_seq_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args);

// List-directed read from an internal record; the first argument pair is the
// record (length, address).
int for_read_int_lis(IoControlBlock* cb, std::uint32_t flags, Descriptor desc, IoArgs args);
int for_read_int_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args);

// List-directed write into an internal record; the first argument pair is the
// record (length, address).
int for_write_int_lis(IoControlBlock* cb, std::uint32_t flags, Descriptor desc, IoArgs args);
int for_write_int_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args);

}  // namespace recio
