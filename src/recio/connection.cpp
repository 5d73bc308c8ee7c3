// OPEN and CLOSE.
#include "recio/connection.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "recio/foreign.h"
#include "recio/io_api.h"
#include "recio/io_return.h"
#include "recio/lf_table.h"
#include "recio/record_io.h"
#include "recio/unit_table.h"
#include "recio/unit_termination.h"
#include "rt/startup.h"

namespace recio {
namespace {

struct KeyValue {
  const char* text;
  std::uint8_t code;
};

constexpr KeyValue kStatusValues[] = {
    {"OLD", 1}, {"NEW", 2}, {"SCRATCH", 3}, {"UNKNOWN", 4}, {"REPLACE", 5}};
constexpr KeyValue kFormValues[] = {{"FORMATTED", 1}, {"UNFORMATTED", 2}, {"BINARY", 4}};
constexpr KeyValue kBlankValues[] = {{"ZERO", 1}, {"NULL", 2}};
constexpr KeyValue kAccessValues[] = {
    {"SEQUENTIAL", 1}, {"DIRECT", 2}, {"APPEND", 3}, {"KEYED", 4}};
// First-column control (code 1) has no text form; it is reachable by code.
constexpr KeyValue kCarriageValues[] = {{nullptr, 1}, {"LIST", 2}, {"NONE", 3}};
constexpr KeyValue kRecordTypeValues[] = {{"FIXED", 1},  {"VARIABLE", 4},  {"SEGMENTED", 3},
                                          {"STREAM", 5}, {"STREAM_LF", 6}, {"STREAM_CR", 7}};
constexpr KeyValue kOrganizationValues[] = {{"SEQUENTIAL", 1}, {"RELATIVE", 2}, {"INDEXED", 3}};
constexpr KeyValue kActionValues[] = {{"READ", 1}, {"WRITE", 2}, {"READWRITE", 3}};
constexpr KeyValue kPositionValues[] = {{"ASIS", 1}, {"REWIND", 2}, {"APPEND", 3}};
constexpr KeyValue kPadValues[] = {{"YES", 1}, {"NO", 2}};
constexpr KeyValue kConvertValues[] = {{"BIG_ENDIAN", 1}, {"LITTLE_ENDIAN", 2}, {"TYRD", 3},
                                       {"TYRG", 4},       {"IBM", 5},           {"CRAY", 6},
                                       {"FDX", 7},        {"FGX", 8},           {"NATIVE", 9}};
constexpr KeyValue kShareValues[] = {{"DENYRW", 1}, {"DENYWR", 2}, {"DENYRD", 3}, {"DENYNONE", 4}};
constexpr KeyValue kDispositionValues[] = {{"SAVE", 1},         {"KEEP", 1},   {"DELETE", 2},
                                           {"PRINT", 3},        {"SUBMIT", 4}, {"PRINT/DELETE", 5},
                                           {"SUBMIT/DELETE", 6}};

struct TableRef {
  const KeyValue* values;
  std::size_t count;
};

template <std::size_t N>
constexpr TableRef ref(const KeyValue (&v)[N]) {
  return {v, N};
}

// Indexed by KeyTable.
constexpr TableRef kKeyTables[] = {
    ref(kStatusValues),      ref(kFormValues),       ref(kBlankValues),        ref(kAccessValues),
    ref(kCarriageValues),    ref(kRecordTypeValues), ref(kOrganizationValues), ref(kActionValues),
    ref(kPositionValues),    ref(kPadValues),        ref(kConvertValues),      ref(kShareValues),
    ref(kDispositionValues),
};

// Keywords of OPEN: code, value table (or none for numbers, texts and flags).
enum class KeyKind : std::uint8_t { kTable, kNumber, kText, kFlag };
struct KeywordInfo {
  std::uint8_t code;
  KeyKind kind;
  KeyTable table;
};
constexpr KeywordInfo kOpenKeywords[] = {
    {kKeyAccess, KeyKind::kTable, KeyTable::kAccess},
    {kKeyAction, KeyKind::kTable, KeyTable::kAction},
    {kKeyBlank, KeyKind::kTable, KeyTable::kBlank},
    {kKeyBlocksize, KeyKind::kNumber, KeyTable::kStatus},
    {kKeyBuffercount, KeyKind::kNumber, KeyTable::kStatus},
    {kKeyCarriageControl, KeyKind::kTable, KeyTable::kCarriageControl},
    {kKeyDisposition, KeyKind::kTable, KeyTable::kDisposition},
    {kKeyFile, KeyKind::kText, KeyTable::kStatus},
    {kKeyForm, KeyKind::kTable, KeyTable::kForm},
    {kKeyOrganization, KeyKind::kTable, KeyTable::kOrganization},
    {kKeyPad, KeyKind::kTable, KeyTable::kPad},
    {kKeyReadonly, KeyKind::kFlag, KeyTable::kStatus},
    {kKeyRecl, KeyKind::kNumber, KeyTable::kStatus},
    {kKeyRecordType, KeyKind::kTable, KeyTable::kRecordType},
    {kKeyShared, KeyKind::kFlag, KeyTable::kStatus},
    {kKeyStatus, KeyKind::kTable, KeyTable::kStatus},
    {kKeyPosition, KeyKind::kTable, KeyTable::kPosition},
    {kKeyShare, KeyKind::kTable, KeyTable::kShare},
    {kKeyConvert, KeyKind::kTable, KeyTable::kConvert},
};

// The gathered OPEN (or CLOSE) keywords; 0 selects the default.
struct OpenRequest {
  std::array<std::int64_t, 72> value{};  // by keyword code
  std::array<bool, 72> given{};
  const char* file = nullptr;
  std::int32_t file_length = 0;

  std::int64_t get(std::uint8_t key) const { return given[key] ? value[key] : 0; }
};

const KeywordInfo* find_keyword(std::uint8_t code) {
  for (const KeywordInfo& k : kOpenKeywords)
    if (k.code == code) return &k;
  return nullptr;
}

// Fills the request from four-byte descriptor entries (type, mode, keyword,
// 0), ended by an entry of type 1.
msg::Id for__open_args(Descriptor desc, IoArgs args, OpenRequest* rq, bool close_statement) {
  std::size_t pos = 0, next_arg = 0;
  for (;;) {
    if (pos + 1 >= desc.size()) return msg::kArgumentError;
    if (desc[pos] == kTypeEnd) return 0;
    if (pos + 3 >= desc.size()) return msg::kArgumentError;
    const std::uint8_t type = desc[pos], mode = desc[pos + 1], key = desc[pos + 2];
    pos += 4;
    Item item;
    if (!decode_item(type, mode, args, &next_arg, &item)) return msg::kArgumentError;
    if (key < 2 || key > 71) return msg::kArgumentError;
    if (close_statement != (key == kKeyDisposition)) return msg::kArgumentError;
    const KeywordInfo* info = find_keyword(key);
    if (info == nullptr) return msg::kArgumentError;

    const bool is_text = type == kTypeChar;
    std::int64_t number = 0;
    if (!is_text && !item_integer(item, &number)) return msg::kArgumentError;
    switch (info->kind) {
      case KeyKind::kText:
        if (!is_text) return msg::kArgumentError;
        rq->file = static_cast<const char*>(item.addr);
        rq->file_length = item.length;
        break;
      case KeyKind::kTable:
        if (is_text) {
          number = for__open_key(info->table, static_cast<const char*>(item.addr), item.length);
          if (number == 0) return msg::kKeywordValue;
        } else {
          // A code given as a number must be one of the table's codes (0: default).
          const TableRef& t = kKeyTables[static_cast<int>(info->table)];
          bool known = number == 0;
          for (std::size_t i = 0; i < t.count && !known; ++i) known = t.values[i].code == number;
          if (!known) return msg::kKeywordValue;
        }
        break;
      case KeyKind::kNumber:
      case KeyKind::kFlag:
        if (is_text) return msg::kArgumentError;
        if (info->kind == KeyKind::kFlag) number = 1;
        break;
    }
    rq->value[key] = number;
    rq->given[key] = true;
  }
}

bool is_blank_or_nul(char c) {
  return c == ' ' || c == '\0';
}

// The name given or derived, trimmed; sets *from_file when FILE was given.
// False when a FORTn value does not fit a unit's name (*name holds its start).
bool derive_name(const UnitBlock* u, const OpenRequest& rq, FileName* name, bool* from_file,
                 bool* console_default) {
  *from_file = false;
  *console_default = false;
  std::string_view given;
  if (rq.file != nullptr) {
    *from_file = true;
    given = std::string_view(
        rq.file, static_cast<std::size_t>(std::clamp<std::int32_t>(rq.file_length, 0, 256)));
  } else {
    char var[32];
    std::snprintf(var, sizeof var, "FORT%d", u->unit);
    const char* env = plat::get_env(var);
    if (env != nullptr) {
      given = env;
    } else if (u->unit == 5 || u->unit == 6 || u->unit == 0) {
      *console_default = true;
      name->assign(u->unit == 5 ? "CONIN$" : "CONOUT$");
      return true;
    } else if (!u->file_name.empty()) {
      given = u->file_name.view();
    } else {
      std::snprintf(var, sizeof var, "fort.%d", u->unit);
      name->assign(var);
      return true;
    }
  }
  // Leading and trailing blanks go, and trailing NULs; an empty name stays empty.
  std::size_t b = 0, e = given.size();
  while (b < e && given[b] == ' ') ++b;
  while (e > b && is_blank_or_nul(given[e - 1])) --e;
  *name = given.substr(b, e - b);
  return name->size() == e - b;
}

struct Connection {
  std::uint8_t access, form, organization, record_type, carriage_control, status;
  std::int32_t recl;
  bool recl_defaulted;
};

msg::Id decide_defaults(const OpenRequest& rq, Connection* c) {
  auto or_default = [&rq](std::uint8_t key, std::int64_t fallback) {
    return static_cast<std::uint8_t>(rq.get(key) != 0 ? rq.get(key) : fallback);
  };
  c->access = or_default(kKeyAccess, kAccessSequential);
  c->organization = or_default(kKeyOrganization, kOrgSequential);
  const bool direct_like = c->access == kAccessDirect || c->access == kAccessKeyed;
  c->form = or_default(kKeyForm, direct_like ? kFormUnformatted : kFormFormatted);
  c->status = static_cast<std::uint8_t>(rq.get(kKeyStatus));
  std::uint8_t rectype = static_cast<std::uint8_t>(rq.get(kKeyRecordType));
  if (rectype == kRecVariableAlias) rectype = kRecVariable;

  // A fixed default is known before the carriage control, which it decides.
  const bool fixed_org =
      direct_like || c->organization == kOrgRelative || c->organization == kOrgIndexed;
  if (rectype == 0 && fixed_org) rectype = kRecFixed;

  if (rq.get(kKeyCarriageControl) != 0) {
    c->carriage_control = static_cast<std::uint8_t>(rq.get(kKeyCarriageControl));
  } else if (c->form != kFormFormatted || rectype == kRecFixed || rectype == kRecVariable) {
    c->carriage_control = kCcNone;
  } else {
    c->carriage_control = kCcList;
  }

  if (rectype == 0) {
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

  if (rq.given[kKeyRecl]) {
    std::int64_t recl = rq.get(kKeyRecl);
    if (recl <= 0) return msg::kInconsistentRecl;
    if (c->form != kFormFormatted) recl *= 4;
    if (rectype == kRecVariable) recl += 8;
    if (rectype == kRecSegmented) recl += 4;
    if (recl > INT32_MAX - 1) return msg::kInconsistentRecl;
    c->recl = static_cast<std::int32_t>(recl);
    c->recl_defaulted = false;
  } else {
    if (rectype == kRecFixed || c->access == kAccessDirect) return msg::kInconsistentRecl;
    // Unformatted: 510 four-byte units of data plus the two length fields.
    c->recl = c->form == kFormFormatted ? 133 : 2048;
    c->recl_defaulted = true;
  }
  return 0;
}

msg::Id map_open_error(const plat::OpenResult& r, UnitBlock* u) {
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
      u->os_error = r.error;  // shown as the operating-system error line
      return msg::kOpenFailure;
  }
}

// Chooses the foreign conversion of an unformatted unit: a selection compiled
// into the flag word, then the CONVERT keyword, then FORT_CONVERTn.
msg::Id for__set_foreign_bits(UnitBlock* u, const OpenRequest& rq) {
  const std::uint32_t compiled = (u->stmt_flags >> kFlagForeignShift) & 0xFFu;
  if (compiled != 0 && compiled != 0xFFu) {
    u->foreign_code = static_cast<std::uint8_t>(compiled);
    u->convert = true;
  }
  if ((u->stmt_flags & kFlagBigEndian) != 0) u->convert = u->big_endian = true;
  if (rq.given[kKeyConvert]) {
    if (msg::Id id = for__apply_foreign_selection(u, static_cast<int>(rq.get(kKeyConvert)), false))
      return id;
  }
  return for__apply_foreign_env(u);
}

// Performs the connection of an unconnected unit.
msg::Id for__open_proc(UnitBlock* u, const OpenRequest& rq) {
  Connection c{};
  if (msg::Id id = decide_defaults(rq, &c)) return id;

  FileName name;
  bool from_file = false, console_default = false;
  if (!derive_name(u, rq, &name, &from_file, &console_default)) {
    u->file_name = name;
    return msg::kFileNameError;
  }

  const std::int64_t action = rq.get(kKeyAction);
  bool read_only = rq.given[kKeyReadonly] || action == 1;
  plat::Handle handle = plat::kInvalidHandle;
  bool standard = false;
  int device = kDeviceFile;
  FileName stored_name;
  bool scratch = c.status == kStatusScratch;

  if (console_default) {
    standard = true;
    device = u->unit == 5 ? kDeviceConsoleIn : kDeviceConsoleOut;
    handle = plat::std_handle(u->unit == 5   ? plat::StdStream::kInput
                              : u->unit == 6 ? plat::StdStream::kOutput
                                             : plat::StdStream::kError);
    stored_name = name;
  } else if (scratch) {
    char temp[512];
    plat::OpenResult r = plat::create_temp_file("FOR", temp, sizeof temp);
    if (r.handle == plat::kInvalidHandle) return map_open_error(r, u);
    handle = r.handle;
    if (!stored_name.assign(temp)) {
      int err = 0;
      plat::close_handle(handle, &err);
      plat::delete_file(temp, &err);
      u->file_name = temp;
      return msg::kFileNameError;
    }
  } else {
    std::string_view dev_name;
    device = from_file || !name.empty() ? for__is_special_device(name, &dev_name) : kDeviceFile;
    switch (device) {
      case kDeviceConsoleOut:
      case kDeviceUser:
        standard = true;
        handle = plat::std_handle(plat::StdStream::kOutput);
        stored_name = dev_name;
        break;
      case kDeviceConsoleIn:
        standard = true;
        handle = plat::std_handle(plat::StdStream::kInput);
        stored_name = dev_name;
        break;
      case kDeviceError:
        standard = true;
        handle = plat::std_handle(plat::StdStream::kError);
        stored_name = dev_name;
        break;
      case kDevicePrinter:
      case kDeviceSerial:
        // Devices this platform does not have.
        u->file_name = dev_name;
        return msg::kNoSuchDevice;
      default:
        break;
    }
    if (!standard) {
      const char* open_name = name.c_str();
      if (device == kDeviceNull) {
        open_name = "/dev/null";
        stored_name = dev_name;
      } else {
        char path[260];
        std::size_t n = name.empty() ? 0 : plat::full_path(name.c_str(), path, 256);
        stored_name = n != 0 ? std::string_view(path, n) : name.view();
        open_name = stored_name.c_str();
      }
      plat::Disposition disp = plat::Disposition::kOpenAlways;
      if (c.status == kStatusOld)
        disp = plat::Disposition::kOpenExisting;
      else if (c.status == kStatusNew)
        disp = plat::Disposition::kCreateNew;
      else if (read_only)
        disp = plat::Disposition::kOpenExisting;
      plat::Access acc = read_only     ? plat::Access::kRead
                         : action == 2 ? plat::Access::kWrite
                                       : plat::Access::kReadWrite;
      // A pipe carries data one way; opened both ways the process is its own
      // writer and a read never sees the end of the data. The unit takes the
      // way it can use: formatted units read it (as after the read-only
      // retry), unformatted units, which are only ever written, write it.
      if (acc == plat::Access::kReadWrite && device == kDeviceFile &&
          plat::file_type_of_name(open_name) == plat::FileType::kPipe) {
        read_only = c.form == kFormFormatted;
        acc = read_only ? plat::Access::kRead : plat::Access::kWrite;
      }
      u->file_name = stored_name;  // diagnostics name the file even when the open fails
      plat::OpenResult r = plat::open_file(open_name, acc, disp);
      if (r.handle == plat::kInvalidHandle &&
          (r.kind == plat::OpenError::kAccessDenied ||
           r.kind == plat::OpenError::kWriteProtected) &&
          action == 0 && !read_only) {
        plat::OpenResult retry = plat::open_file(open_name, plat::Access::kRead, disp);
        if (retry.handle != plat::kInvalidHandle) {
          r = retry;
          read_only = true;
        }
      }
      if (r.handle == plat::kInvalidHandle) return map_open_error(r, u);
      handle = r.handle;
      if (c.status == kStatusReplace) {
        int err = 0;
        if (!plat::set_end_of_file(handle, &err)) {
          plat::close_handle(handle, &err);
          u->os_error = err;
          return msg::kOpenFailure;
        }
      }
    }
  }

  u->file_name = stored_name;
  u->handle = handle;
  u->standard_handle = standard;
  u->device_kind = device;
  u->access = c.access;
  u->form = c.form;
  u->organization = c.organization;
  u->record_type = c.record_type;
  u->carriage_control = c.carriage_control;
  u->open_status = scratch ? std::uint8_t{kStatusScratch} : c.status;
  u->recl = c.recl;
  u->recl_defaulted = c.recl_defaulted;
  u->read_only = read_only;
  u->blank_null = rq.get(kKeyBlank) == 2;
  u->pad = rq.get(kKeyPad) != 2;
  if (c.carriage_control != kCcNone && c.record_type != kRecFixed) u->recl += 1;

  const plat::FileType type = plat::file_type(handle);
  u->disk_file = type == plat::FileType::kDisk;
  auto fail_closed = [&](msg::Id id) {
    int err = 0;
    if (!standard) plat::close_handle(handle, &err);
    // A scratch file exists only for its connection.
    if (scratch) plat::delete_file(stored_name.c_str(), &err);
    u->handle = plat::kInvalidHandle;
    return id;
  };
  if (c.access == kAccessDirect && !u->disk_file) return fail_closed(msg::kInconsistentOrg);

  if (rq.given[kKeyRecl]) {
    u->lis_width = u->recl;
  } else {
    u->lis_width = c.carriage_control == kCcFortran ? (c.record_type == kRecFixed ? 81 : 85) : 80;
  }

  if (c.form == kFormUnformatted || c.form == kFormBinary) {
    if (msg::Id id = for__set_foreign_bits(u, rq)) return fail_closed(id);
  }

  // Records written from the start replace the old contents of a reused file;
  // standard handles belong to the caller of the program and are never cut.
  u->truncate_pending = u->disk_file && !standard && c.access == kAccessSequential;
  if (c.access == kAccessAppend || rq.get(kKeyPosition) == 3) {
    int err = 0;
    if (u->disk_file && !plat::seek(handle, 0, plat::Whence::kEnd, nullptr, &err)) {
      u->os_error = err;
      return fail_closed(msg::kOpenFailure);
    }
  }

  std::int64_t block = 8192;
  if (rq.given[kKeyBlocksize] && rq.get(kKeyBlocksize) > 0)
    block = (rq.get(kKeyBlocksize) + 511) / 512 * 512;
  std::int64_t count = rq.get(kKeyBuffercount) > 0 ? rq.get(kKeyBuffercount) : 1;
  const std::int64_t size = std::max<std::int64_t>(block * count, u->recl);
  // A few bytes beyond the record area hold a record terminator or trailing length.
  if (!u->buffer.resize(static_cast<std::size_t>(size) + kBufferSlack))
    return fail_closed(msg::kNoMemory);
  u->rec_start = u->cur = 0;
  u->area_end = static_cast<std::size_t>(u->recl);
  u->rec_end = u->ahead_begin = u->ahead_end = 0;

  if (c.form == kFormFormatted && (device == kDeviceConsoleIn || device == kDeviceConsoleOut)) {
    u->lf_entry = for__add_to_lf_table(u->file_name, type == plat::FileType::kCharacter);
  }
  u->connected = true;
  u->record_count = 0;
  rt::for__declare_exit_handler(for__close_all_units);
  return 0;
}

bool names_same_device(const UnitBlock* u, std::string_view name) {
  std::string_view dev;
  int kind = for__is_special_device(name, &dev);
  if (kind == kDeviceFile) return false;
  return u->device_kind != kDeviceFile && dev.size() == u->file_name.size() &&
         std::equal(dev.begin(), dev.end(), u->file_name.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

// OPEN of a connected unit: the same file keeps the connection.
bool for__reopen_file(UnitBlock* u, const OpenRequest& rq) {
  FileName name;
  bool from_file = false, console_default = false;
  if (!derive_name(u, rq, &name, &from_file, &console_default)) return false;
  bool same;
  if (console_default) {
    same = u->standard_handle && name.view() == u->file_name.view();
  } else if (u->device_kind != kDeviceFile ||
             for__is_special_device(name, nullptr) != kDeviceFile) {
    same = names_same_device(u, name);
  } else {
    same = !name.empty() && plat::same_file(name.c_str(), u->handle);
  }
  if (!same) return false;
  // Only the properties that may change on a connected unit are taken over.
  if (rq.given[kKeyBlank]) u->blank_null = rq.get(kKeyBlank) == 2;
  if (rq.given[kKeyPad]) u->pad = rq.get(kKeyPad) != 2;
  return true;
}

}  // namespace

int for__open_key(KeyTable table, const char* text, std::int32_t length) {
  if (length < 0) return 0;
  std::size_t n = static_cast<std::size_t>(length);
  while (n > 1 && text[n - 1] == ' ') --n;
  if (n == 1 && text[0] == ' ') return 0;  // one blank matches no entry
  const TableRef& t = kKeyTables[static_cast<int>(table)];
  for (std::size_t i = 0; i < t.count; ++i) {
    const char* v = t.values[i].text;
    if (v == nullptr || std::strlen(v) != n) continue;
    bool equal = true;
    for (std::size_t k = 0; k < n && equal; ++k)
      equal = std::toupper(static_cast<unsigned char>(text[k])) == v[k];
    if (equal) return t.values[i].code;
  }
  return 0;
}

int for__is_special_device(std::string_view name, std::string_view* device) {
  struct DeviceRow {
    const char* name;
    int kind;
    bool device_with_extension;  // stays a device when an extension follows
  };
  static constexpr DeviceRow kDevices[] = {
      {"CON", kDeviceConsoleOut, true},    {"CONOUT$", kDeviceConsoleOut, false},
      {"CONIN$", kDeviceConsoleIn, false}, {"ERR", kDeviceError, false},
      {"USER", kDeviceUser, false},        {"PRN", kDevicePrinter, true},
      {"LPT1", kDevicePrinter, false},     {"LPT2", kDevicePrinter, false},
      {"LPT3", kDevicePrinter, false},     {"LPT4", kDevicePrinter, false},
      {"COM1", kDeviceSerial, true},       {"COM2", kDevicePrinter, true},
      {"COM3", kDevicePrinter, true},      {"COM4", kDevicePrinter, true},
      {"NUL", kDeviceNull, true},          {"AUX", kDeviceSerial, true},
      {"LINE", kDeviceSerial, false},
  };
  // A directory of the path never names a device: "nul.d/out" is a file.
  const std::string_view last = plat::last_path_component(name);
  const std::size_t dot = last.rfind('.');
  const std::string_view base = dot == std::string_view::npos ? last : last.substr(0, dot);
  const bool has_extension = dot != std::string_view::npos && dot + 1 < last.size();
  const std::size_t n = base.size();
  if (n != 3 && n != 4 && n != 6 && n != 7) return kDeviceFile;
  for (const DeviceRow& d : kDevices) {
    if (std::strlen(d.name) != n) continue;
    bool equal = true;
    for (std::size_t k = 0; k < n && equal; ++k)
      equal = std::toupper(static_cast<unsigned char>(base[k])) == d.name[k];
    if (!equal) continue;
    if (has_extension && !d.device_with_extension) return kDeviceFile;
    if (device != nullptr) *device = base;
    return d.kind;
  }
  return kDeviceFile;
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

namespace {

// Disconnects: the owed output is written, the handle closed (standard
// handles stay open), the disposition applied. The block is reset.
msg::Id for__close_proc(UnitBlock* u, int disposition) {
  msg::Id result = 0;
  if (u->form == kFormFormatted) {
    for__rm_from_lf_table(u->lf_entry);
    u->lf_entry = nullptr;
  }
  int err = 0;
  if (u->standard_handle) {
    // Bytes read ahead of standard input are given back where the platform can.
    if (u->ahead_end > u->ahead_begin && u->disk_file) {
      plat::seek(u->handle, -static_cast<std::int64_t>(u->ahead_end - u->ahead_begin),
                 plat::Whence::kCurrent, nullptr, &err);
    }
  } else if (u->handle != plat::kInvalidHandle) {
    if (!plat::close_handle(u->handle, &err)) {
      u->os_error = err;
      result = msg::kCloseError;
    }
  }
  u->handle = plat::kInvalidHandle;
  if (disposition == 2 && !u->standard_handle && u->device_kind == kDeviceFile) {
    if (!plat::delete_file(u->file_name.c_str(), &err) && result == 0) {
      u->os_error = err;
      result = msg::kCloseError;
    }
  }
  u->connected = false;
  return result;
}

}  // namespace

msg::Id for__close_default(UnitBlock* u, bool free_block) {
  if (!u->connected) return 0;
  const int disposition = u->open_status == kStatusScratch ? 2 : 1;
  msg::Id id = for__close_proc(u, disposition);
  if (id == 0) {
    if (free_block)
      for__deallocate_lub(u->unit);
    else
      reset_unit_block(u);
  }
  return id;
}

msg::Id for__close_without_release(UnitBlock* u) {
  if (!u->connected) return 0;
  return for__close_proc(u, u->open_status == kStatusScratch ? 2 : 1);
}

int for_open(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
             IoArgs args) {
  UnitBlock* u = nullptr;
  if (msg::Id id = for__acquire_lun(unit, &u, cb, StatementKind::kOpen))
    return for__io_fail_no_unit(flags, id, unit);
  u->stmt_flags = flags;
  OpenRequest rq;
  if (msg::Id id = for__open_args(desc, args, &rq, false)) {
    return for__io_return(u->connected ? kUnitRelease : kUnitReset, id, msg::number(id), u);
  }
  if (u->connected) {
    if (for__reopen_file(u, rq)) {
      for__release_lun(u);
      cb->unit = nullptr;
      return 0;
    }
    if (msg::Id id = for__close_default(u, false))
      return for__io_return(kUnitReset, id, msg::number(id), u);
  }
  if (msg::Id id = for__open_proc(u, rq)) return for__io_return(kUnitReset, id, msg::number(id), u);
  for__release_lun(u);
  cb->unit = nullptr;
  return 0;
}

int for_close(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
              IoArgs args) {
  UnitBlock* u = nullptr;
  if (msg::Id id = for__acquire_lun(unit, &u, cb, StatementKind::kClose))
    return for__io_fail_no_unit(flags, id, unit);
  u->stmt_flags = flags;
  if (!u->connected) {
    for__release_lun(u);
    for__deallocate_lub(unit);
    cb->unit = nullptr;
    return 0;
  }
  OpenRequest rq;
  if (msg::Id id = for__open_args(desc, args, &rq, true))
    return for__io_return(kUnitRelease, id, msg::number(id), u);
  int disposition = static_cast<int>(rq.get(kKeyDisposition));
  if (disposition == 0) disposition = u->open_status == kStatusScratch ? 2 : 1;
  if (disposition > 2) {
    // The print and submit dispositions need a command interpreter this
    // platform layer does not offer.
    return for__io_return(kUnitRelease, msg::kInconsistentOpen, msg::number(msg::kInconsistentOpen),
                          u);
  }
  if (msg::Id id = for__close_proc(u, disposition))
    return for__io_return(kUnitRelease, id, msg::number(id), u);
  for__release_lun(u);
  for__deallocate_lub(unit);
  cb->unit = nullptr;
  return 0;
}

}  // namespace recio
