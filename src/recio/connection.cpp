// OPEN: the connection defaults, the opening of consoles, scratch files,
// devices and disk files, and the set-up of a connected unit for transfer.
#include "recio/connection.h"

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"
#include "recio/foreign.h"
#include "recio/io_api.h"
#include "recio/io_return.h"
#include "recio/lf_table.h"
#include "recio/record_io.h"
#include "recio/statement.h"
#include "recio/unit_table.h"
#include "recio/unit_termination.h"
#include "rt/handover.h"
#include "rt/startup.h"

namespace recio {
namespace {

// See for__console_diverted.
bool console_diverted = false;

// Framing room of a record type, in bytes: a variable record's two length
// fields, a segment's control word.
constexpr std::int64_t kLengthField = 4;
constexpr std::int64_t kSegmentControl = 4;
// Record length without RECL: a formatted record of a line printer's 133
// columns; an unformatted record of 510 four-byte units of data and its two
// length fields.
constexpr std::int32_t kDefaultFormattedRecl = 133;
constexpr std::int32_t kDefaultUnformattedRecl = 510 * 4 + 2 * kLengthField;
static_assert(kDefaultUnformattedRecl == 2048);
// List-directed line width without RECL: 80 columns, or under first-column
// control 81 for fixed records (the control column) and 85 for the others.
constexpr std::int32_t kListWidth = 80;
constexpr std::int32_t kListWidthFirstColumnFixed = kListWidth + 1;
constexpr std::int32_t kListWidthFirstColumn = 85;
// The record buffer holds BLOCKSIZE rounded up to whole disk blocks, 16
// blocks when BLOCKSIZE is not given, times BUFFERCOUNT.
constexpr std::int64_t kDiskBlock = 512;
constexpr std::int64_t kDefaultBlockSize = 16 * kDiskBlock;
// A full path of at most 255 characters and its NUL.
constexpr std::size_t kFullPathCap = FileName::kCapacity;

// The connection decided from the keywords and their defaults.
struct Connection {
  AccessCode access;
  FormCode form;
  OrganizationCode organization;
  RecordType record_type;
  CarriageControl carriage_control;
  StatusCode status;
  std::int32_t recl;
  bool recl_defaulted;
};

// The carriage control and the record type, which decide each other.
msg::Id decide_record_layout(const OpenRequest& rq, bool fixed_org, Connection* c) {
  auto rectype = static_cast<RecordType>(rq.get(kKeyRecordType));
  if (rectype == kRecVariableAlias) rectype = kRecVariable;
  // A fixed default is known before the carriage control, which it decides.
  if (rectype == RecordType{} && fixed_org) rectype = kRecFixed;

  if (rq.get(kKeyCarriageControl) != 0) {
    c->carriage_control = static_cast<CarriageControl>(rq.get(kKeyCarriageControl));
  } else if (c->form != kFormFormatted || rectype == kRecFixed || rectype == kRecVariable) {
    c->carriage_control = kCcNone;
  } else {
    c->carriage_control = kCcList;
  }

  if (rectype == RecordType{}) {
    if (c->form == kFormUnformatted)
      rectype = kRecVariable;
    else if (c->form == kFormBinary)
      rectype = kRecStream;
    else
      rectype = c->carriage_control != kCcNone ? kRecStreamLF : kRecStream;
  }
  if (fixed_org && rectype != kRecFixed) return msg::kInconsistentOpen;
  if (rectype == kRecVariable && c->carriage_control != kCcNone) return msg::kInconsistentOpen;
  c->record_type = rectype;
  return 0;
}

// The record area: RECL in bytes, with the room of the record framing.
msg::Id decide_recl(const OpenRequest& rq, Connection* c) {
  if (rq.given[kKeyRecl]) {
    std::int64_t recl = rq.get(kKeyRecl);
    if (recl <= 0) return msg::kInconsistentRecl;
    if (c->form != kFormFormatted) recl *= 4;
    if (c->record_type == kRecVariable) recl += 2 * kLengthField;
    if (c->record_type == kRecSegmented) recl += kSegmentControl;
    if (recl > INT32_MAX - 1) return msg::kInconsistentRecl;
    c->recl = static_cast<std::int32_t>(recl);
    c->recl_defaulted = false;
  } else {
    if (c->record_type == kRecFixed || c->access == kAccessDirect) return msg::kInconsistentRecl;
    c->recl = c->form == kFormFormatted ? kDefaultFormattedRecl : kDefaultUnformattedRecl;
    c->recl_defaulted = true;
  }
  return 0;
}

msg::Id decide_defaults(const OpenRequest& rq, Connection* c) {
  // Decoding admitted only the codes of each keyword's table.
  auto or_default = [&rq]<typename Code>(std::uint8_t key, Code fallback) {
    return rq.get(key) != 0 ? static_cast<Code>(rq.get(key)) : fallback;
  };
  c->access = or_default(kKeyAccess, kAccessSequential);
  c->organization = or_default(kKeyOrganization, kOrgSequential);
  const bool direct_like = c->access == kAccessDirect || c->access == kAccessKeyed;
  c->form = or_default(kKeyForm, direct_like ? kFormUnformatted : kFormFormatted);
  c->status = static_cast<StatusCode>(rq.get(kKeyStatus));
  const bool fixed_org =
      direct_like || c->organization == kOrgRelative || c->organization == kOrgIndexed;
  if (msg::Id id = decide_record_layout(rq, fixed_org, c)) return id;
  return decide_recl(rq, c);
}

msg::Id map_open_error(const plat::OpenResult& r, UnitBlock* u) {
  u->statement.reason = r.error;
  switch (r.kind) {
    case plat::OpenError::kFileNotFound:
    case plat::OpenError::kPathNotFound:
      return msg::kFileNotFound;
    case plat::OpenError::kAccessDenied:
    case plat::OpenError::kWriteProtected:
      return msg::kPermissionDenied;
    case plat::OpenError::kBadUnit:
      return msg::kNoSuchDevice;
    case plat::OpenError::kFileExists:
      return msg::kCannotOverwrite;
    case plat::OpenError::kNameTooLong:
      return msg::kFileNameError;
    case plat::OpenError::kTooManyOpenFiles:
      return msg::kOpenFailure;
    default:
      u->statement.os_error = r.error;  // shown as the operating-system error line
      return msg::kOpenFailure;
  }
}

// Chooses the foreign conversion of an unformatted unit: a selection compiled
// into the flag word, then the CONVERT keyword, then FORT_CONVERTn.
msg::Id for__set_foreign_bits(UnitBlock* u, const OpenRequest& rq) {
  const std::uint32_t compiled = (u->statement.flags.word() >> kFlagForeignShift) & 0xFFu;
  if (compiled != 0 && compiled != 0xFFu) {
    u->connection.foreign_code = static_cast<std::uint8_t>(compiled);
    u->connection.convert = true;
  }
  if (u->statement.flags.has(kFlagBigEndian))
    u->connection.convert = u->connection.big_endian = true;
  if (rq.given[kKeyConvert]) {
    if (msg::Id id = for__apply_foreign_selection(u, static_cast<int>(rq.get(kKeyConvert)), false))
      return id;
  }
  return for__apply_foreign_env(u);
}

// What an OPEN opened: the handle and how the unit names it.
struct OpenedFile {
  plat::Handle handle = plat::kInvalidHandle;
  bool standard = false;  // a standard handle: never closed by the unit
  DeviceKind device = kDeviceFile;
  bool read_only = false;
  FileName stored_name;
  // Writes a regular file from its start: a replacement takes its place at
  // CLOSE (replacing set) where one can be made beside it.
  bool may_replace = false;
  bool replacing = false;
  bool replace_deferred = false;
  bool existing = false;
  FileName temp, target;
};

// Units 0, 5 and 6 without a name of their own take the process's standard
// handles.
void open_console_default(const UnitBlock* u, const FileName& name, OpenedFile* f) {
  f->standard = true;
  f->device = u->unit == 5 ? kDeviceConsoleIn : kDeviceConsoleOut;
  f->handle = plat::std_handle(u->unit == 5                        ? plat::StdStream::kInput
                               : u->unit == 6 && !console_diverted ? plat::StdStream::kOutput
                                                                   : plat::StdStream::kError);
  f->stored_name = name;
}

// A scratch file is a fresh temporary file, named by the platform.
msg::Id open_scratch(UnitBlock* u, OpenedFile* f) {
  char temp[512];
  plat::OpenResult r = plat::create_temp_file("FOR", temp, sizeof temp);
  if (r.handle == plat::kInvalidHandle) return map_open_error(r, u);
  f->handle = r.handle;
  if (!f->stored_name.assign(temp)) {
    int err = 0;
    plat::close_handle(f->handle, &err);
    plat::delete_file(temp, &err);
    u->connection.file_name = temp;
    return msg::kFileNameError;
  }
  return 0;
}

// A special device other than the null device: the console devices take a
// standard handle, the others do not exist on this platform.
msg::Id open_device(UnitBlock* u, std::string_view dev_name, OpenedFile* f) {
  switch (f->device) {
    case kDeviceConsoleOut:
    case kDeviceUser:
      f->handle = plat::std_handle(plat::StdStream::kOutput);
      break;
    case kDeviceConsoleIn:
      f->handle = plat::std_handle(plat::StdStream::kInput);
      break;
    case kDeviceError:
      f->handle = plat::std_handle(plat::StdStream::kError);
      break;
    default:  // printer and serial ports
      u->connection.file_name = dev_name;
      return msg::kNoSuchDevice;
  }
  f->standard = true;
  f->stored_name = dev_name;
  return 0;
}

plat::Disposition disposition_of(const Connection& c, bool read_only) {
  if (c.status == kStatusOld) return plat::Disposition::kOpenExisting;
  if (c.status == kStatusNew) return plat::Disposition::kCreateNew;
  if (read_only) return plat::Disposition::kOpenExisting;
  return plat::Disposition::kOpenAlways;
}

plat::Access access_of(const Connection& c, std::int64_t action, const char* open_name,
                       OpenedFile* f) {
  const plat::Access acc = f->read_only             ? plat::Access::kRead
                           : action == kActionWrite ? plat::Access::kWrite
                                                    : plat::Access::kReadWrite;
  // A pipe carries data one way; opened both ways the process is its own
  // writer and a read never sees the end of the data. The unit takes the
  // way it can use: formatted units read it (as after the read-only
  // retry), unformatted units, which are only ever written, write it.
  if (acc == plat::Access::kReadWrite && f->device == kDeviceFile &&
      plat::file_type_of_name(open_name) == plat::FileType::kPipe) {
    f->read_only = c.form == kFormFormatted;
    return f->read_only ? plat::Access::kRead : plat::Access::kWrite;
  }
  return acc;
}

// A platform open that may wait without limit (a FIFO without its other
// end): a console event may take the units meanwhile.
plat::OpenResult open_blocking(const char* name, plat::Access access, plat::Disposition disp) {
  rt::BlockingCall blocking;
  return plat::open_file(name, access, disp);
}

// The unit writes a temporary file beside `name`, which takes its place when
// the unit is closed. False where none can be made: the unit writes in place.
bool start_replacement(const char* name, bool existing, OpenedFile* f) {
  char temp[FileName::kCapacity + 1];
  char target[FileName::kCapacity + 1];
  const plat::OpenResult r =
      plat::create_replacement(name, temp, sizeof temp, target, sizeof target);
  if (r.handle == plat::kInvalidHandle) return false;
  f->handle = r.handle;
  f->replacing = true;
  f->existing = existing;
  f->temp.assign(temp);
  f->target.assign(target);
  return true;
}

// An ordinary file, or the null device: opened under its full path, read-only
// when reading and writing is refused and ACTION leaves the choice open.
msg::Id open_disk_file(UnitBlock* u, const Connection& c, std::int64_t action, const FileName& name,
                       std::string_view dev_name, OpenedFile* f) {
  const char* open_name = name.c_str();
  if (f->device == kDeviceNull) {
    open_name = plat::null_device_name();
    f->stored_name = dev_name;
  } else {
    char path[kFullPathCap];
    std::size_t n = name.empty() ? 0 : plat::full_path(name.c_str(), path, sizeof path);
    f->stored_name = n != 0 ? std::string_view(path, n) : name.view();
    open_name = f->stored_name.c_str();
  }
  const plat::Disposition disp = disposition_of(c, f->read_only);
  const plat::Access acc = access_of(c, action, open_name, f);
  u->connection.file_name = f->stored_name;  // diagnostics name the file even when the open fails
  f->may_replace = f->may_replace && f->device == kDeviceFile && !f->read_only;
  // An existing file is opened first all the same: every refusal of the name
  // (permission, a read-only file, STATUS='NEW') comes as it always did.
  const bool existing =
      f->may_replace && plat::file_type_of_name(open_name) == plat::FileType::kDisk;
  if (f->may_replace && !existing && disp != plat::Disposition::kOpenExisting &&
      start_replacement(open_name, false, f))
    return 0;
  plat::OpenResult r = open_blocking(open_name, acc, disp);
  if (r.handle == plat::kInvalidHandle &&
      (r.kind == plat::OpenError::kAccessDenied || r.kind == plat::OpenError::kWriteProtected) &&
      action == 0 && !f->read_only) {
    plat::OpenResult retry = plat::open_file(open_name, plat::Access::kRead, disp);
    if (retry.handle != plat::kInvalidHandle) {
      r = retry;
      f->read_only = true;
    }
  }
  if (r.handle == plat::kInvalidHandle) return map_open_error(r, u);
  f->handle = r.handle;
  if (existing && !f->read_only && plat::file_type(r.handle) == plat::FileType::kDisk) {
    // Emptied at OPEN, the file is replaced at once; otherwise the unit may
    // read it first, and it is replaced when the unit writes from its start.
    plat::Handle opened = f->handle;
    if (c.status != kStatusReplace) {
      f->replace_deferred = true;
    } else if (start_replacement(open_name, true, f)) {
      int err = 0;
      plat::close_handle(opened, &err);  // only opened to be refused; nothing written
      return 0;
    }
  }
  if (c.status == kStatusReplace) {
    int err = 0;
    if (!plat::set_end_of_file(f->handle, &err)) {
      plat::close_handle(f->handle, &err);
      u->statement.os_error = err;
      return msg::kOpenFailure;
    }
  }
  return 0;
}

// Opens what the name designates.
msg::Id open_target(UnitBlock* u, const Connection& c, std::int64_t action, const FileName& name,
                    NameSource source, OpenedFile* f) {
  if (source == NameSource::kConsole) {
    open_console_default(u, name, f);
    return 0;
  }
  if (c.status == kStatusScratch) return open_scratch(u, f);
  std::string_view dev_name;
  f->device = source == NameSource::kFile || !name.empty() ? for__is_special_device(name, &dev_name)
                                                           : kDeviceFile;
  if (f->device != kDeviceFile && f->device != kDeviceNull) return open_device(u, dev_name, f);
  return open_disk_file(u, c, action, name, dev_name, f);
}

void store_connection(UnitBlock* u, const Connection& c, const OpenRequest& rq,
                      const OpenedFile& f) {
  u->connection.file_name = f.stored_name;
  u->connection.handle = f.handle;
  u->connection.standard_handle = f.standard;
  u->connection.device_kind = f.device;
  u->connection.access = c.access;
  u->connection.form = c.form;
  u->connection.record_type = c.record_type;
  u->connection.carriage_control = c.carriage_control;
  u->connection.open_status = c.status;
  u->connection.recl = c.recl;
  u->connection.recl_defaulted = c.recl_defaulted;
  u->connection.read_only = f.read_only;
  u->connection.replacing = f.replacing;
  u->connection.replace_deferred = f.replace_deferred;
  u->connection.replace_existing = f.existing;
  u->connection.replace_temp = f.temp;
  u->connection.replace_target = f.target;
  u->connection.blank_null = rq.get(kKeyBlank) == kBlankNull;
  if (c.carriage_control != kCcNone && c.record_type != kRecFixed) u->connection.recl += 1;
}

// The list width, the foreign conversion, the position and the record
// buffer of a unit whose file is open.
msg::Id prepare_transfer(UnitBlock* u, const Connection& c, const OpenRequest& rq, bool standard) {
  if (c.access == kAccessDirect && !u->connection.disk_file) return msg::kInconsistentOrg;

  if (rq.given[kKeyRecl]) {
    u->connection.list_width = u->connection.recl;
  } else if (c.carriage_control == kCcFortran) {
    u->connection.list_width =
        c.record_type == kRecFixed ? kListWidthFirstColumnFixed : kListWidthFirstColumn;
  } else {
    u->connection.list_width = kListWidth;
  }

  if (c.form == kFormUnformatted || c.form == kFormBinary) {
    if (msg::Id id = for__set_foreign_bits(u, rq)) return id;
  }

  // Records written from the start replace the old contents of a reused file;
  // standard handles belong to the caller of the program and are never cut.
  u->position.truncate_pending =
      u->connection.disk_file && !standard && c.access == kAccessSequential;
  if (c.access == kAccessAppend || rq.get(kKeyPosition) == kPositionAppend) {
    int err = 0;
    if (u->connection.disk_file &&
        !plat::seek(u->connection.handle, 0, plat::Whence::kEnd, nullptr, &err)) {
      u->statement.os_error = err;
      return msg::kOpenFailure;
    }
  }

  std::int64_t block = kDefaultBlockSize;
  if (rq.given[kKeyBlocksize] && rq.get(kKeyBlocksize) > 0)
    block = (rq.get(kKeyBlocksize) + kDiskBlock - 1) / kDiskBlock * kDiskBlock;
  std::int64_t count = rq.get(kKeyBuffercount) > 0 ? rq.get(kKeyBuffercount) : 1;
  const std::int64_t size = std::max<std::int64_t>(block * count, u->connection.recl);
  // A few bytes beyond the record area hold a record terminator or trailing length.
  if (!u->position.buffer.resize(static_cast<std::size_t>(size) + kBufferSlack))
    return msg::kNoMemory;
  u->position.rec_start = u->position.cur = 0;
  u->position.record_area = u->connection.recl;
  u->position.area_end = static_cast<std::size_t>(u->position.record_area);
  u->position.rec_end = u->position.ahead_begin = u->position.ahead_end = 0;
  return 0;
}

// Unformatted records on standard output: the console output units move
// to standard error, those connected already included, so that no console
// record lands among the records.
void divert_console_if_shared(const UnitBlock* u, NameSource source, const OpenedFile& f) {
  if (source == NameSource::kConsole || u->connection.form == kFormFormatted ||
      f.device == kDeviceNull)
    return;
  const plat::Handle out = plat::std_handle(plat::StdStream::kOutput);
  const bool shared =
      f.standard ? f.handle == out : plat::same_file(u->connection.file_name.c_str(), out);
  if (!shared) return;
  console_diverted = true;
  UnitTableCursor cursor;
  while (UnitBlock* other = for__get_next_lub(&cursor)) {
    if (other != u && other->connected && other->connection.standard_handle &&
        other->connection.handle == out && other->connection.form == kFormFormatted)
      other->connection.handle = plat::std_handle(plat::StdStream::kError);
  }
}

// Performs the connection of an unconnected unit.
msg::Id for__open_proc(UnitBlock* u, const OpenRequest& rq) {
  Connection c{};
  if (msg::Id id = decide_defaults(rq, &c)) return id;

  FileName name;
  NameSource source{};
  if (!derive_file_name(u, rq.file, rq.file_length, &name, &source)) {
    u->connection.file_name = name;
    return msg::kFileNameError;
  }
  const std::int64_t action = rq.get(kKeyAction);
  OpenedFile f;
  f.read_only = rq.given[kKeyReadonly] || action == kActionRead;
  // An unformatted or binary unit that writes sequentially from the start
  // of a new or unknown file replaces it. STATUS='OLD' names a file the unit
  // is meant to read first: it stays in place, and so does a unit for
  // reading.
  f.may_replace = (c.form == kFormUnformatted || c.form == kFormBinary) &&
                  c.access == kAccessSequential && c.status != kStatusScratch &&
                  c.status != kStatusOld && rq.get(kKeyPosition) != kPositionAppend;
  if (msg::Id id = open_target(u, c, action, name, source, &f)) return id;

  store_connection(u, c, rq, f);
  const plat::FileType type = plat::file_type(f.handle);
  u->connection.disk_file = type == plat::FileType::kDisk;
  if (msg::Id id = prepare_transfer(u, c, rq, f.standard)) {
    int err = 0;
    if (!f.standard) plat::close_handle(f.handle, &err);
    // A scratch file exists only for its connection, a replacement only
    // for the unit that writes it.
    if (c.status == kStatusScratch) plat::delete_file(f.stored_name.c_str(), &err);
    if (f.replacing) plat::delete_file(f.temp.c_str(), &err);
    u->connection.replacing = false;
    u->connection.handle = plat::kInvalidHandle;
    return id;
  }
  if (c.form == kFormFormatted && (f.device == kDeviceConsoleIn || f.device == kDeviceConsoleOut)) {
    u->connection.lf_entry =
        for__add_to_lf_table(u->connection.file_name, type == plat::FileType::kCharacter);
  }
  divert_console_if_shared(u, source, f);
  u->connected = true;
  u->position.record_count = 0;
  rt::for__declare_exit_handler(for__close_all_units);
  return 0;
}

// OPEN of a connected unit: the same file keeps the connection.
bool for__reopen_file(UnitBlock* u, const OpenRequest& rq) {
  FileName name;
  NameSource source{};
  if (!derive_file_name(u, rq.file, rq.file_length, &name, &source)) return false;
  bool same;
  if (source == NameSource::kConsole) {
    same = u->connection.standard_handle && name.view() == u->connection.file_name.view();
  } else if (u->connection.device_kind != kDeviceFile ||
             for__is_special_device(name, nullptr) != kDeviceFile) {
    same = names_same_device(u, name);
  } else if (u->connection.replacing) {
    // The handle is the replacement's: the name is compared instead. Room
    // for any path as long as a stored name.
    char path[FileName::kCapacity + 1];
    const std::size_t n = name.empty() ? 0 : plat::full_path(name.c_str(), path, sizeof path);
    same = n != 0 && std::string_view(path, n) == u->connection.file_name.view();
  } else {
    same = !name.empty() && plat::same_file(name.c_str(), u->connection.handle);
  }
  if (!same) return false;
  // Only the properties that may change on a connected unit are taken over
  // (PAD is decoded and checked, and no transfer here depends on it).
  if (rq.given[kKeyBlank]) u->connection.blank_null = rq.get(kKeyBlank) == kBlankNull;
  return true;
}

}  // namespace

void for__start_deferred_replacement(UnitBlock* u) {
  u->connection.replace_deferred = false;
  // From its start only: after a record read the write goes on the file in
  // place.
  if (!u->position.truncate_pending || u->position.record_count != 0 ||
      u->position.ahead_end != u->position.ahead_begin)
    return;
  OpenedFile f;
  if (!start_replacement(u->connection.file_name.c_str(), true, &f)) return;
  int err = 0;
  plat::close_handle(u->connection.handle, &err);  // nothing was written to it
  u->connection.handle = f.handle;
  u->connection.replacing = true;
  u->connection.replace_existing = true;
  u->connection.replace_temp = f.temp;
  u->connection.replace_target = f.target;
}

bool for__console_diverted() {
  return console_diverted;
}

void for__end_console_diversion() {
  console_diverted = false;
}

msg::Id for__open_default(UnitBlock* u, std::uint8_t access, std::uint8_t status,
                          std::uint8_t form) {
  OpenRequest rq;
  rq.value[kKeyAccess] = access;
  rq.given[kKeyAccess] = true;
  rq.value[kKeyStatus] = status;
  rq.given[kKeyStatus] = true;
  rq.value[kKeyForm] = form;
  rq.given[kKeyForm] = true;
  return for__open_proc(u, rq);
}

int for_open(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
             IoArgs args) {
  int result = 0;
  UnitBlock* u = start_statement(cb, unit, flags, StatementKind::kOpen, &result);
  if (u == nullptr) return result;
  OpenRequest rq;
  if (msg::Id id = for__open_args(desc, args, &rq, false))
    return fail_statement(cb, u->connected ? kUnitRelease : kUnitReset, id, u);
  if (u->connected) {
    if (for__reopen_file(u, rq)) return end_statement(cb, u);
    if (msg::Id id = for__close_default(u, false)) return fail_statement(cb, kUnitReset, id, u);
  }
  if (msg::Id id = for__open_proc(u, rq)) return fail_statement(cb, kUnitReset, id, u);
  return end_statement(cb, u);
}

}  // namespace recio
