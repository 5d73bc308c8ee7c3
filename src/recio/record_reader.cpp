// Reading records of "STREAM_LF" units: read-ahead in the unit's buffer, a
// record ends at LF (one CR before it dropped), the buffer doubles for a long
// record up to what the longest record allowed needs.
//
// Standard input is shared with whoever runs the program. A console or pipe
// cannot give bytes back, so it is read one byte per platform read and
// nothing beyond the line end is ever taken. A disk file on standard input is
// read ahead like any file: what lies beyond the records taken is given back
// by moving the shared file position back, when the unit is closed (also at
// termination) and before another unit on standard input reads, so the bytes
// reach every reader, and the next process, in file order.
#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "recio/lf_table.h"
#include "recio/record_io.h"
#include "recio/unit_table.h"
#include "rt/handover.h"

namespace recio {
namespace {

// Disk files are read in blocks of this size at least: few system calls.
constexpr std::size_t kReadBlock = 64 * 1024;

ReadInputSeam read_input_seam = nullptr;

bool is_standard_input(const UnitBlock* u) {
  return u->connection.standard_handle &&
         u->connection.handle == plat::std_handle(plat::StdStream::kInput);
}

// Before `reader` reads from a seekable standard input, any other unit on it
// gives back what it read ahead: the file position then stands where the
// records taken so far end. At most one unit holds read-ahead of it.
msg::Id take_standard_input(UnitBlock* reader) {
  UnitTableCursor cursor;
  while (UnitBlock* other = for__get_next_lub(&cursor)) {
    if (other == reader || other->position.ahead_end == other->position.ahead_begin ||
        !other->connection.standard_handle || other->connection.handle != reader->connection.handle)
      continue;
    int err = 0;
    const auto ahead =
        static_cast<std::int64_t>(other->position.ahead_end - other->position.ahead_begin);
    if (!plat::seek(other->connection.handle, -ahead, plat::Whence::kCurrent, nullptr, &err)) {
      reader->statement.os_error = err;
      return msg::kReadError;
    }
    other->position.ahead_begin = other->position.ahead_end = 0;
  }
  return 0;
}

// No record is delivered; an unfinished one (drop_pending) gives up the bytes
// buffered for it, so that memory stays bounded.
msg::Id too_long(UnitBlock* u, bool drop_pending) {
  if (drop_pending) u->position.ahead_begin = u->position.ahead_end = 0;
  u->position.rec_start = u->position.cur = u->position.rec_end = u->position.rec_beyond = 0;
  return msg::kRecordTooLong;
}

// A record of the bytes buffer[begin, end) and, when `dropped` is not 0, as
// many more that were not kept: buffer[begin, begin + keep) is its start,
// the bytes from there to `end` its last ones.
msg::Id deliver(UnitBlock* u, std::size_t begin, std::size_t end, std::size_t max_record,
                std::size_t keep, std::size_t dropped) {
  const char* base = u->position.buffer.data();
  if (end > begin && base[end - 1] == '\r') --end;
  const std::size_t length = end - begin + dropped;
  if (length > max_record) return too_long(u, false);
  u->position.rec_start = u->position.cur = begin;
  u->position.rec_end = dropped == 0 ? end : begin + keep;
  u->position.rec_beyond = length - (u->position.rec_end - begin);
  u->position.record_count += 1;
  // A record of the single byte Ctrl-Z stands for end of file.
  if (end - begin == 1 && base[begin] == 26) {
    u->position.rec_end = u->position.rec_start;
    u->position.rec_beyond = 0;
    return msg::kEndOfFile;
  }
  return 0;
}

}  // namespace

long for__read_input(int handle, char* buffer, std::size_t count, int* error) {
  rt::BlockingCall blocking;
  if (read_input_seam != nullptr) return read_input_seam(handle, buffer, count, error);
  return plat::read_bytes(handle, buffer, count, error);
}

void for__set_read_input_seam(ReadInputSeam seam) {
  read_input_seam = seam;
}

msg::Id for__get_su(UnitBlock* u, std::size_t max_record, std::size_t keep) {
  keep = std::min(keep, max_record);
  // Bytes of the unfinished record given up already (beyond `keep`).
  std::size_t dropped = 0;
  if (u->connection.lf_entry != nullptr && u->connection.lf_entry->lf_owed) {
    static constexpr char kLf = '\n';
    int err = 0;
    {
      rt::BlockingCall blocking;
      plat::write_bytes(plat::std_handle(plat::StdStream::kOutput), &kLf, 1, &err);
    }
    u->connection.lf_entry->lf_owed = false;
  }
  // The record may already wait in the read-ahead.
  std::size_t searched = u->position.ahead_begin;
  for (;;) {
    char* base = u->position.buffer.data();
    if (u->position.ahead_end > searched) {
      const void* lf = std::memchr(base + searched, '\n', u->position.ahead_end - searched);
      if (lf != nullptr) {
        const auto at = static_cast<std::size_t>(static_cast<const char*>(lf) - base);
        const std::size_t begin = u->position.ahead_begin;
        u->position.ahead_begin = at + 1;
        return deliver(u, begin, at, max_record, keep, dropped);
      }
    }
    // Keep the unfinished line; read more behind it.
    const std::size_t pending = u->position.ahead_end - u->position.ahead_begin;
    if (u->position.ahead_begin != 0) {
      std::memmove(base, base + u->position.ahead_begin, pending);
      u->position.ahead_begin = 0;
      u->position.ahead_end = pending;
    }
    searched = pending;
    // Even with its CR dropped the record would be too long: no more memory
    // for it. The buffer so never needs more than max_record + 2 bytes.
    if (pending + dropped > max_record + 1) return too_long(u, true);
    const std::size_t cap = max_record + 2;
    const bool standard_input = is_standard_input(u);
    const bool one_byte = standard_input && !u->connection.disk_file;
    if (standard_input && !one_byte) {
      if (msg::Id id = take_standard_input(u)) return id;
    }
    const std::size_t block = std::min(kReadBlock, cap);
    // The larger block only saves calls: without memory for it, read on.
    if (!one_byte && u->position.buffer.size() < block && u->position.buffer.resize(block)) {
      base = u->position.buffer.data();
    }
    if (u->position.ahead_end == u->position.buffer.size() && pending > keep + 1) {
      // Nothing beyond `keep` is used: the bytes after it are counted and
      // given up, all but the last, which may be the CR before the LF.
      dropped += pending - keep - 1;
      base[keep] = base[pending - 1];
      u->position.ahead_end = keep + 1;
      searched = u->position.ahead_end;
    }
    if (u->position.ahead_end == u->position.buffer.size()) {
      const std::size_t grown = std::min(u->position.buffer.size() * 2, cap);
      if (grown <= u->position.buffer.size() || !u->position.buffer.resize(grown))
        return msg::kRecordTooLong;
      base = u->position.buffer.data();
    }
    const std::size_t room = u->position.buffer.size() - u->position.ahead_end;
    // A console or pipe can wait for ever; the wait is where a console event
    // takes the units over. Disk files never block for long.
    if (!u->connection.disk_file) rt::for__wait_input(u->connection.handle);
    int err = 0;
    const long n = for__read_input(u->connection.handle, base + u->position.ahead_end,
                                   one_byte ? 1 : room, &err);
    if (n < 0) {
      u->statement.os_error = err;
      // A record cut short of its kept part cannot be taken up again.
      if (dropped != 0) u->position.ahead_begin = u->position.ahead_end = 0;
      return msg::kReadError;
    }
    if (n == 0) {
      // Bytes after the last line feed are the last record, whatever the
      // read sizes were; the next read reports end of file.
      const std::size_t last = u->position.ahead_end;
      if (last == 0) {
        u->position.rec_start = u->position.cur = u->position.rec_end = u->position.rec_beyond = 0;
        return msg::kEndOfFile;
      }
      u->position.ahead_begin = u->position.ahead_end = 0;
      return deliver(u, 0, last, max_record, keep, dropped);
    }
    u->position.ahead_end += static_cast<std::size_t>(n);
  }
}

}  // namespace recio
