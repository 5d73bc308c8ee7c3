// The one end of a failed statement: the outcome its flag word decides,
// what becomes of its unit, and the diagnostic.
#include "recio/io_return.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/platform.h"
#include "recio/connection.h"
#include "recio/io_api.h"
#include "recio/unit_table.h"
#include "rt/catalog.h"
#include "rt/diagnostics.h"

namespace recio {
namespace {

constexpr std::size_t kMaxShownName = 259;

// Platform error of the last failure a caller handled (0: none).
int handled_reason = 0;

bool is_end_of_file(msg::Id id) {
  return id == msg::kEndOfFile || id == msg::kEndOfFileEncountered;
}

bool is_end_of_record(msg::Id id) {
  return id == msg::kEndOfRecord || id == msg::kEndOfRecordEncountered;
}

// What a failed statement shows as its file: an internal record's statement,
// the unit's file, or "Unknown" for a unit without one. Copied: the unit may
// be reset before the diagnostic is issued.
std::size_t shown_name(const UnitBlock* u, char* name) {
  std::string_view shown = "\"Unknown\"";
  if (u->statement.name != nullptr) {
    shown = u->statement.name;
  } else if (!u->connection.file_name.empty()) {
    shown = u->connection.file_name.view();
  }
  const std::size_t length = std::min(shown.size(), kMaxShownName);
  std::memcpy(name, shown.data(), length);
  return length;
}

}  // namespace

bool StatementFlags::caller_handles(msg::Id id, int status, int* result) const {
  if (has(kFlagErrorCheck) || (has(kFlagOutConvStatus) && id == msg::kOutputConversion)) {
    *result = is_end_of_file(id)     ? -1
              : is_end_of_record(id) ? -2
                                     : static_cast<std::int16_t>(status);
    return true;
  }
  if (has(kFlagEndBranch) && (is_end_of_file(id) || id == msg::kTooManyRecords)) {
    *result = -1;
    return true;
  }
  if (has(kFlagEorBranch) && is_end_of_record(id)) {
    *result = -2;
    return true;
  }
  return false;
}

int StatementFlags::finish_failed(msg::Id id, int status, std::int32_t unit, UnitBlock* u,
                                  UnitDisposition disposition) const {
  int result = 0;
  const bool handled = caller_handles(id, status, &result);
  if (u == nullptr) {
    if (handled) return result;
    rt::for__issue_diagnostic_io(id, unit, "unknown");
    return static_cast<std::int16_t>(msg::number(id));
  }

  char name[kMaxShownName];
  const std::size_t name_length = shown_name(u, name);
  if (handled) {
    handled_reason = u->statement.os_error != 0 ? u->statement.os_error : u->statement.reason;
  } else if (u->statement.os_error != 0) {
    // Formatted records are written whole at the end of their statement, so
    // no console unit holds a partial record that would need ending here.
    rt::write_os_error_line(u->statement.os_error);
  }
  u->statement.os_error = 0;
  u->statement.reason = 0;

  switch (disposition) {
    case kUnitLeave:
      break;
    case kUnitRelease:
      for__release_lun(u);
      break;
    case kUnitReset:
      reset_unit_block(u);
      for__release_lun(u);
      break;
    case kUnitClose:
      for__close_default(u, false);
      for__release_lun(u);
      break;
    default: {
      const std::array<rt::FormatArg, 2> where{rt::FormatArg(__FILE__), rt::FormatArg(__LINE__)};
      rt::for__issue_diagnostic_args(msg::kInternalCheck, where);
      break;
    }
  }

  if (handled) return result;
  rt::for__issue_diagnostic_io(id, unit, std::string_view(name, name_length));
  return static_cast<std::int16_t>(msg::number(id));
}

int for__io_return(int disposition, msg::Id id, int status, UnitBlock* u) {
  return u->statement.flags.finish_failed(id, status, u->unit, u,
                                          static_cast<UnitDisposition>(disposition));
}

std::string_view for__handled_reason(char* out, std::size_t cap) {
  if (handled_reason == 0 || cap == 0) return {};
  plat::error_text(handled_reason, out, cap);
  std::size_t n = std::strlen(out);
  while (n > 0 &&
         (out[n - 1] == '\n' || out[n - 1] == '\r' || out[n - 1] == ' ' || out[n - 1] == '.'))
    --n;
  return {out, n};
}

}  // namespace recio
