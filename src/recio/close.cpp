// CLOSE and the disconnection of a unit: the owed output, the handle and
// the disposition.
#include <cstdint>

#include "platform/platform.h"
#include "recio/connection.h"
#include "recio/io_api.h"
#include "recio/lf_table.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"

namespace recio {
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
  if (disposition == kDispositionDelete && !u->standard_handle && u->device_kind == kDeviceFile) {
    if (!plat::delete_file(u->file_name.c_str(), &err) && result == 0) {
      u->os_error = err;
      result = msg::kCloseError;
    }
  }
  u->connected = false;
  return result;
}

int default_disposition(const UnitBlock* u) {
  return u->open_status == kStatusScratch ? kDispositionDelete : kDispositionKeep;
}

}  // namespace

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

int for_close(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
              IoArgs args) {
  UnitBlock* u = nullptr;
  if (msg::Id id = for__acquire_lun(unit, &u, cb, StatementKind::kClose))
    return rt::for__io_fail_no_unit(flags, id, unit);
  u->stmt_flags = flags;
  if (!u->connected) {
    for__release_lun(u);
    for__deallocate_lub(unit);
    cb->unit = nullptr;
    return 0;
  }
  OpenRequest rq;
  if (msg::Id id = for__open_args(desc, args, &rq, true))
    return rt::for__io_return(rt::kUnitRelease, id, msg::number(id), u);
  int disposition = static_cast<int>(rq.get(kKeyDisposition));
  if (disposition == 0) disposition = default_disposition(u);
  if (disposition > kDispositionDelete) {
    // The print and submit dispositions need a command interpreter this
    // platform layer does not offer.
    return rt::for__io_return(rt::kUnitRelease, msg::kInconsistentOpen,
                              msg::number(msg::kInconsistentOpen), u);
  }
  if (msg::Id id = for__close_proc(u, disposition))
    return rt::for__io_return(rt::kUnitRelease, id, msg::number(id), u);
  for__release_lun(u);
  for__deallocate_lub(unit);
  cb->unit = nullptr;
  return 0;
}

}  // namespace recio
