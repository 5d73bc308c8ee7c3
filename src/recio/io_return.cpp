// Completion of failed I/O statements: the unit's side of for__io_return.
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

rt::IoBranches branches_of(std::uint32_t flags) {
  return {(flags & kFlagErrorCheck) != 0, (flags & kFlagEndBranch) != 0,
          (flags & kFlagEorBranch) != 0, (flags & kFlagOutConvStatus) != 0};
}

}  // namespace

int for__io_return(int disposition, msg::Id id, int status, UnitBlock* u) {
  // The name is copied first: resetting the unit below releases it.
  char name[kMaxShownName + 1];
  std::size_t name_length = 0;
  if (u->statement.name != nullptr) {
    name_length = std::min(std::strlen(u->statement.name), kMaxShownName);
    std::memcpy(name, u->statement.name, name_length);
  } else if (!u->connection.file_name.empty()) {
    name_length = std::min(u->connection.file_name.size(), kMaxShownName);
    std::memcpy(name, u->connection.file_name.data(), name_length);
  } else {
    static constexpr char kUnknown[] = "\"Unknown\"";
    name_length = sizeof kUnknown - 1;
    std::memcpy(name, kUnknown, name_length);
  }
  const std::int32_t unit = u->unit;

  int result = 0;
  const bool diagnose =
      rt::for__io_outcome(branches_of(u->statement.flags.word()), id, status, &result);
  if (diagnose) {
    // Formatted records are written whole at the end of their statement, so
    // no console unit holds a partial record that would need ending here.
    if (u->statement.os_error != 0) rt::write_os_error_line(u->statement.os_error);
  } else {
    handled_reason = u->statement.os_error != 0 ? u->statement.os_error : u->statement.reason;
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

  if (diagnose) {
    rt::for__issue_diagnostic_io(id, unit, std::string_view(name, name_length));
    return static_cast<std::int16_t>(msg::number(id));
  }
  return result;
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

int for__io_fail_no_unit(std::uint32_t flags, msg::Id id, std::int32_t unit) {
  if ((flags & kFlagErrorCheck) == 0) rt::for__issue_diagnostic_io(id, unit, "unknown");
  return static_cast<std::int16_t>(msg::number(id));
}

}  // namespace recio
