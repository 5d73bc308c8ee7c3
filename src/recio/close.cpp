// CLOSE and the disconnection of a unit: the owed output, the handle and
// the disposition.
#include <cstdint>

#include "platform/platform.h"
#include "recio/connection.h"
#include "recio/io_api.h"
#include "recio/io_return.h"
#include "recio/lf_table.h"
#include "recio/statement.h"
#include "recio/unit_table.h"
#include "rt/startup.h"

namespace recio {
namespace {

// Disconnects: the owed output is written, the handle closed (standard
// handles stay open), the disposition applied. The block is reset.
msg::Id for__close_proc(UnitBlock* u, int disposition) {
  msg::Id result = 0;
  if (u->connection.form == kFormFormatted) {
    for__rm_from_lf_table(u->connection.lf_entry);
    u->connection.lf_entry = nullptr;
  }
  int err = 0;
  if (u->connection.standard_handle) {
    // Bytes read ahead of standard input are given back where the platform can.
    if (u->position.ahead_end > u->position.ahead_begin && u->connection.disk_file) {
      plat::seek(u->connection.handle,
                 -static_cast<std::int64_t>(u->position.ahead_end - u->position.ahead_begin),
                 plat::Whence::kCurrent, nullptr, &err);
    }
  } else if (u->connection.handle != plat::kInvalidHandle) {
    if (!plat::close_handle(u->connection.handle, &err)) {
      u->statement.os_error = err;
      result = msg::kCloseError;
    }
  }
  u->connection.handle = plat::kInvalidHandle;
  // A file that did not exist before this connection has nothing to delete.
  bool delete_target = !u->connection.replacing || u->connection.replace_existing;
  if (u->connection.replacing) {
    // The new contents take the name only when everything reached the file
    // and the program closes the unit itself, or ends normally.
    const bool commit = result == 0 && disposition == kDispositionKeep && !rt::for__run_failed();
    if (msg::Id id = for__end_replacement(u, commit); id != 0 && result == 0) result = id;
  }
  if (disposition == kDispositionDelete && delete_target && !u->connection.standard_handle &&
      u->connection.device_kind == kDeviceFile) {
    if (!plat::delete_file(u->connection.file_name.c_str(), &err) && result == 0) {
      u->statement.os_error = err;
      result = msg::kCloseError;
    }
  }
  u->connected = false;
  return result;
}

int default_disposition(const UnitBlock* u) {
  return u->connection.open_status == kStatusScratch ? kDispositionDelete : kDispositionKeep;
}

}  // namespace

msg::Id for__end_replacement(UnitBlock* u, bool commit) {
  if (!u->connection.replacing) return 0;
  u->connection.replacing = false;
  int err = 0;
  if (commit && plat::commit_replacement(u->connection.replace_temp.c_str(),
                                         u->connection.replace_target.c_str(), &err))
    return 0;
  const int rename_error = err;
  // Kept only when it cannot be removed; the diagnostic names its file.
  if (!plat::delete_file(u->connection.replace_temp.c_str(), &err)) {
    u->statement.os_error = err;
    u->connection.file_name = u->connection.replace_temp.view();
    return msg::kCloseError;
  }
  if (!commit) return 0;
  u->statement.os_error = rename_error;
  return msg::kCloseError;
}

msg::Id for__close_default(UnitBlock* u, bool free_block) {
  if (!u->connected) return 0;
  msg::Id id = for__close_proc(u, default_disposition(u));
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
  return for__close_proc(u, default_disposition(u));
}

namespace {

// A closed unit's block is freed: the unit number may be connected anew.
int end_close(IoControlBlock* cb, UnitBlock* u, std::int32_t unit) {
  end_statement(cb, u);
  for__deallocate_lub(unit);
  return 0;
}

}  // namespace

int for_close(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
              IoArgs args) {
  int result = 0;
  UnitBlock* u = start_statement(cb, unit, flags, StatementKind::kClose, &result);
  if (u == nullptr) return result;
  if (!u->connected) return end_close(cb, u, unit);
  OpenRequest rq;
  if (msg::Id id = for__open_args(desc, args, &rq, true))
    return fail_statement(cb, kUnitRelease, id, u);
  int disposition = static_cast<int>(rq.get(kKeyDisposition));
  if (disposition == 0) disposition = default_disposition(u);
  // The print and submit dispositions need a command interpreter this
  // platform layer does not offer.
  if (disposition > kDispositionDelete)
    return fail_statement(cb, kUnitRelease, msg::kInconsistentOpen, u);
  if (msg::Id id = for__close_proc(u, disposition)) return fail_statement(cb, kUnitRelease, id, u);
  return end_close(cb, u, unit);
}

}  // namespace recio
