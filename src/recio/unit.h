// The unit block: what the record I/O services know about one logical unit,
// cut by lifetime. Plain data; the unit table owns the blocks.
//   - The block's own words: the unit number, connected, and the busy word
//     that a statement holds from its first call to its end.
//   - UnitConnection: decided by OPEN (or the implicit connection) and kept
//     until CLOSE; afterwards only the connection itself changes it (a reopen
//     of the same file takes BLANK over, a replacement's start and
//     end, console output moved off standard output).
//   - UnitPosition: where the unit stands in its file and what it read
//     ahead; kept from statement to statement.
//   - UnitStatement: owned by the statement that holds the unit, from its
//     acquisition to its release; each statement sets up the parts it uses
//     when it starts, and nothing reads them between statements.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/platform.h"
#include "recio/io_api.h"
#include "recio/list_input.h"
#include "recio/statement_flags.h"
#include "rt/memory.h"

namespace recio {

enum class StatementKind : std::uint8_t {
  kNone,
  kOpen,
  kClose,
  kWriteUnformatted,
  kReadUnformatted,
  kWriteFormatted,
  kWriteList,
  kReadFormatted,
  kInternalRead,
  kInternalWrite,
  kTermination,
};

enum AccessCode : std::uint8_t {
  kAccessSequential = 1,
  kAccessDirect = 2,
  kAccessAppend = 3,
  kAccessKeyed = 4
};
enum FormCode : std::uint8_t { kFormFormatted = 1, kFormUnformatted = 2, kFormBinary = 4 };
enum OrganizationCode : std::uint8_t { kOrgSequential = 1, kOrgRelative = 2, kOrgIndexed = 3 };
enum RecordType : std::uint8_t {
  kRecFixed = 1,
  kRecVariableAlias = 2,  // an explicit "VARIABLE" is stored as kRecVariable
  kRecSegmented = 3,
  kRecVariable = 4,
  kRecStream = 5,
  kRecStreamLF = 6,
  kRecStreamCR = 7,
};
enum CarriageControl : std::uint8_t { kCcFortran = 1, kCcList = 2, kCcNone = 3 };
enum StatusCode : std::uint8_t {
  kStatusOld = 1,
  kStatusNew = 2,
  kStatusScratch = 3,
  kStatusUnknown = 4,
  kStatusReplace = 5
};

// Result of the special device lookup.
enum DeviceKind : int {
  kDeviceFile = -1,
  kDeviceConsoleIn = 0,
  kDeviceConsoleOut = 1,
  kDeviceError = 2,
  // Printer and serial ports opened under their own name: PRN, LPT1 to LPT4,
  // COM2 to COM4.
  kDeviceNamedPort = -2,
  kDeviceNull = -3,
  // The first serial port and its other names (AUX, LINE): opened as COM1.
  kDeviceFirstSerialPort = -4,
  kDeviceUser = -6,
};

struct LfEntry;  // pending-line-feed table entry (console devices)

// A file name held in the unit block itself, so that connecting a unit
// allocates nothing for it. Always NUL-terminated for the platform open.
class FileName {
 public:
  static constexpr std::size_t kCapacity = 256;

  // False, and the name left as it was, when `text` is longer than kCapacity.
  bool assign(std::string_view text) {
    if (text.size() > kCapacity) return false;
    std::memmove(text_, text.data(), text.size());
    text_[text.size()] = '\0';
    length_ = static_cast<std::uint16_t>(text.size());
    return true;
  }
  bool assign(const char* text, std::size_t length) { return assign({text, length}); }
  // Keeps at most kCapacity characters.
  FileName& operator=(std::string_view text) {
    assign(text.substr(0, std::min(text.size(), kCapacity)));
    return *this;
  }
  void clear() { assign({}); }

  const char* c_str() const { return text_; }
  const char* data() const { return text_; }
  std::size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  char operator[](std::size_t i) const { return text_[i]; }
  const char* begin() const { return text_; }
  const char* end() const { return text_ + length_; }
  std::string_view view() const { return {text_, length_}; }
  operator std::string_view() const { return view(); }
  friend bool operator==(const FileName& a, std::string_view b) { return a.view() == b; }

 private:
  char text_[kCapacity + 1] = {};
  std::uint16_t length_ = 0;
};

// Decided by OPEN: what the unit is connected to and how its records look.
struct UnitConnection {
  plat::Handle handle = plat::kInvalidHandle;
  bool standard_handle = false;  // a console handle: never closed
  DeviceKind device_kind = kDeviceFile;
  AccessCode access{};
  FormCode form{};
  RecordType record_type{};
  CarriageControl carriage_control{};
  StatusCode open_status{};  // STATUS the unit was opened with (0: not given)
  bool recl_defaulted = false;
  bool read_only = false;
  bool disk_file = false;
  bool blank_null = false;  // BLANK='NULL': blanks in numeric input fields are ignored
  bool convert = false;     // foreign conversion on transfer
  bool big_endian = false;  // length fields and integers most significant byte first
  std::uint8_t foreign_code = 0;
  std::int32_t recl = 0;  // record length in bytes (incl. framing room)
  std::int32_t list_width = 80;
  LfEntry* lf_entry = nullptr;

  // Output that replaces a regular file whole: written under replace_temp,
  // which takes the name replace_target when the program closes the unit;
  // any other end removes it and leaves the old file as it was.
  bool replacing = false;
  bool replace_existing = false;  // the file existed at OPEN
  // An existing file is replaced only once the unit writes it from its
  // start: until then it may be read, in place.
  bool replace_deferred = false;

  // Name used for the platform open (normally the full path); diagnostics
  // show it, also of an OPEN that failed.
  FileName file_name;
  FileName replace_temp;
  FileName replace_target;
};

// Where the unit stands: the record buffer, the current record, the bytes
// read ahead of it, and what the file received or gave so far.
struct UnitPosition {
  // Positions are offsets into buffer, so growth may move it.
  rt::VmBuffer buffer;
  std::size_t rec_start = 0;
  std::size_t cur = 0;
  std::size_t area_end = 0;
  // The record area's size: RECL, grown for longer records when RECL was
  // defaulted.
  std::int32_t record_area = 0;

  // Reading: the current record and the bytes read beyond it. A record
  // longer than its statement can use is kept only up to what it can use:
  // rec_beyond counts the bytes of it that were not kept.
  std::size_t rec_end = 0;
  std::size_t rec_beyond = 0;
  std::size_t ahead_begin = 0;
  std::size_t ahead_end = 0;

  // Unformatted reading: bytes taken since the connection (the offset of the
  // read-ahead's first byte), and where the last record read stands.
  std::int64_t read_offset = 0;
  RecordPlace read_place;

  std::int64_t record_count = 0;  // records read or written since OPEN
  // The next record written ends the file (a reused file keeps nothing of
  // its old contents behind the records of this connection).
  bool truncate_pending = false;
};

// An unformatted record being written: in direct-write mode (a record that
// memory cannot hold) its bytes go to the file as they come.
struct UnformattedRecord {
  bool direct_write = false;
  bool leading_len_set = false;    // direct write: the leading length is in the file
  bool segment_continued = false;  // segmented: the next segment is not the first
  std::int64_t direct_count = 0;   // direct write: data bytes in the file so far
  std::int64_t rec_file_pos = -1;  // direct write: where the record starts (-1 unknown)
};

// An internal record: the caller's variable and its length, and the scan of
// a list-directed read from it (kept with the block, which the unit table
// reuses, so a statement allocates nothing for it).
struct InternalRecord {
  char* target = nullptr;
  std::int32_t length = 0;
  ListScanState scan;
};

// The statement that holds the unit.
struct UnitStatement {
  StatementKind kind = StatementKind::kNone;
  StatementFlags flags;
  // Internal records are named by their statement ("Internal List-Directed
  // Read"); a constant, so no name is built per statement.
  const char* name = nullptr;
  int os_error = 0;  // saved platform error of the last failed call
  // The platform error behind a failure that has a message of its own (so no
  // operating-system error line): kept for a caller that handles the failure.
  int reason = 0;

  UnformattedRecord writer;
  std::int64_t read_taken = 0;  // unformatted read: data taken of the record

  // Formatted writing: the rightmost column written, and "$" seen (the
  // record is written without terminator).
  std::size_t high_water = 0;
  bool no_advance = false;

  InternalRecord internal;
};

struct UnitBlock {
  std::int32_t unit = 0;
  bool connected = false;
  std::uint32_t busy = 0;
  UnitConnection connection;
  UnitPosition position;
  UnitStatement statement;
};

}  // namespace recio
