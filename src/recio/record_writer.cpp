// Records on files, written: formatted records (blank-filled, ended by their
// record type's terminator) and unformatted sequential writing, one record per
// write statement, framed by record type. Items are laid end to end in the
// unit's record buffer and the record goes to the platform in one write when
// the statement ends; a record that memory cannot hold is written straight to
// the file (direct-write mode).
#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "recio/connection.h"
#include "recio/foreign.h"
#include "recio/io_api.h"
#include "recio/record_io.h"
#include "recio/statement.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"
#include "rt/handover.h"

namespace recio {
namespace {

void store_length(char* at, std::uint32_t n, bool big_endian) {
  unsigned char b[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                        static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
  if (big_endian) std::reverse(b, b + 4);
  std::memcpy(at, b, 4);
}

void store_u16(char* at, std::uint16_t v) {
  at[0] = static_cast<char>(v & 0xFF);
  at[1] = static_cast<char>(v >> 8);
}

// The first record written after OPEN also ends the file, so that nothing of
// an older, longer file survives behind the records of this connection.
msg::Id apply_truncation(UnitBlock* u) {
  if (!u->position.truncate_pending) return 0;
  int err = 0;
  if (!plat::set_end_of_file(u->connection.handle, &err)) {
    u->statement.os_error = err;
    return msg::kWriteError;
  }
  u->position.truncate_pending = false;
  return 0;
}

// How each record type frames its data, indexed by record type code.
struct RecordFraming {
  std::uint8_t lead;     // bytes before the data: a length or the segment control
  std::uint8_t reserve;  // bytes of the record length kept after the data area
  const char* terminator;
  std::uint8_t terminator_length;
  bool length_fields;  // variable: the data length before and after the data
  bool segmented;      // written in segments, each with its own control
  bool padded;         // fixed: filled up to the record length
};

constexpr RecordFraming kFramings[] = {
    {0, 0, "", 0, false, false, false},      // none given: as stream
    {0, 0, "", 0, false, false, true},       // fixed
    {4, 4, "", 0, true, false, false},       // variable (alias code)
    {4, 0, "", 0, false, true, false},       // segmented
    {4, 4, "", 0, true, false, false},       // variable
    {0, 0, "", 0, false, false, false},      // stream
    {0, 1, "\r\n", 2, false, false, false},  // stream LF
    {0, 1, "\r", 1, false, false, false},    // stream CR
};

static_assert(std::size(kFramings) == kRecStreamCR + 1);
static_assert(kFramings[kRecFixed].padded && kFramings[kRecSegmented].segmented);
static_assert(kFramings[kRecVariable].length_fields && kFramings[kRecVariableAlias].length_fields);
static_assert(kFramings[kRecStreamLF].terminator_length == 2 &&
              kFramings[kRecStreamCR].terminator_length == 1);

const RecordFraming& framing_of(const UnitBlock* u) {
  return u->connection.record_type < std::size(kFramings) ? kFramings[u->connection.record_type]
                                                          : kFramings[0];
}

bool is_numeric(std::uint8_t type) {
  return type != kTypeChar;
}

// Lays out an empty record for the unit's record type.
void start_record(UnitBlock* u) {
  const RecordFraming& f = framing_of(u);
  u->position.rec_start = 0;
  if (f.segmented) u->statement.writer.segment_continued = false;
  u->position.cur = u->position.rec_start + f.lead;
  u->position.area_end =
      u->position.rec_start + static_cast<std::size_t>(u->position.record_area) - f.reserve;
  u->statement.writer.direct_write = false;
  u->statement.writer.leading_len_set = false;
  u->statement.writer.direct_count = 0;
}

// Writes the filled segment and starts the next one.
msg::Id write_segment(UnitBlock* u, bool last) {
  const std::size_t data = u->position.cur - u->position.rec_start - 4;
  std::uint16_t control = u->statement.writer.segment_continued ? 0 : 1;
  if (last) control = static_cast<std::uint16_t>(control + 2);
  store_u16(u->position.buffer.data() + u->position.rec_start,
            static_cast<std::uint16_t>(data + 2));
  store_u16(u->position.buffer.data() + u->position.rec_start + 2, control);
  std::size_t total = data + 4;
  if (total % 2 != 0) u->position.buffer.data()[u->position.rec_start + total++] = 0;
  if (msg::Id id =
          for__write_record_to_file(u, u->position.buffer.data() + u->position.rec_start, total))
    return id;
  u->statement.writer.segment_continued = true;
  u->position.cur = u->position.rec_start + 4;
  return 0;
}

// Direct-write mode: the buffered part and the rest of the item go straight
// to the file, because memory cannot hold the record.
msg::Id write_direct(UnitBlock* u, const char* src, std::size_t n, bool last_item) {
  char* base = u->position.buffer.data();
  const std::size_t buffered = u->position.cur - u->position.rec_start;
  int err = 0;
  if (!u->statement.writer.direct_write) {
    u->statement.writer.direct_write = true;
    // Where the record starts: its leading length is filled in there at the
    // end, and an unfinished record is cut back to it.
    const bool placed = plat::seek(u->connection.handle, 0, plat::Whence::kCurrent,
                                   &u->statement.writer.rec_file_pos, &err);
    if (!placed) u->statement.writer.rec_file_pos = -1;
    if (!framing_of(u).length_fields) {
      // A stream record has no leading length to fill in.
    } else if (last_item) {
      const std::uint64_t data = buffered + n - 4;
      store_length(base + u->position.rec_start, static_cast<std::uint32_t>(data),
                   u->connection.big_endian);
      u->statement.writer.leading_len_set = true;
    } else if (!placed) {
      u->statement.os_error = err;
      return msg::kWriteError;
    }
  }
  if (msg::Id id = for__write_record_to_file(u, base + u->position.rec_start, buffered)) return id;
  if (msg::Id id = for__write_record_to_file(u, src, n)) return id;
  u->statement.writer.direct_count += static_cast<std::int64_t>(buffered + n);
  u->position.cur = u->position.rec_start;
  return 0;
}

msg::Id place_bytes(UnitBlock* u, const char* src, std::size_t n, bool last_item) {
  if (u->position.cur + n <= u->position.area_end) [[likely]] {
    // Field values are 4 bytes: a fixed-size copy is one move.
    if (n == 4) {
      std::memcpy(u->position.buffer.data() + u->position.cur, src, 4);
    } else {
      std::memcpy(u->position.buffer.data() + u->position.cur, src, n);
    }
    u->position.cur += n;
    return 0;
  }
  const RecordFraming& f = framing_of(u);
  while (u->position.cur + n > u->position.area_end) {
    if (f.segmented) {
      const std::size_t room = u->position.area_end - u->position.cur;
      std::memcpy(u->position.buffer.data() + u->position.cur, src, room);
      u->position.cur += room;
      src += room;
      n -= room;
      if (msg::Id id = write_segment(u, false)) return id;
      continue;
    }
    if (!u->connection.recl_defaulted || f.padded) return msg::kOutputOverflow;
    const std::size_t still = n - (u->position.area_end - u->position.cur);
    if (for__adjust_buffer(u, std::max<std::size_t>(still, 512)) != 0)
      return write_direct(u, src, n, last_item);
  }
  std::memcpy(u->position.buffer.data() + u->position.cur, src, n);
  u->position.cur += n;
  return 0;
}

msg::Id place_item(UnitBlock* u, const Item& item, bool last_item) {
  const char* src = item.mode == kPassValue ? reinterpret_cast<const char*>(&item.value)
                                            : static_cast<const char*>(item.addr);
  const auto n = static_cast<std::size_t>(item.length);
  if (u->connection.convert && is_numeric(item.type)) {
    unsigned char converted[16];
    const msg::Id id = for__cvt_foreign_write(src, item.length, item.type, *u, converted);
    if (id == msg::kForeignConversion) {
      // The value the format cannot hold is still written; the statement goes on.
      rt::for__issue_diagnostic(id);
    } else if (id != 0) {
      return id;
    }
    return place_bytes(u, reinterpret_cast<const char*>(converted), n, last_item);
  }
  return place_bytes(u, src, n, last_item);
}

// End of a record written in direct-write mode: the tail, then the framing of
// the record type: a stream terminator, or for a variable record the trailing
// length and, when it could not be filled before, the leading length.
msg::Id finish_direct(UnitBlock* u) {
  char* base = u->position.buffer.data();
  const std::size_t tail = u->position.cur - u->position.rec_start;
  if (msg::Id id = for__write_record_to_file(u, base + u->position.rec_start, tail)) return id;
  const RecordFraming& f = framing_of(u);
  if (f.terminator_length != 0) {
    if (msg::Id id = for__write_record_to_file(u, f.terminator, f.terminator_length)) return id;
    return apply_truncation(u);
  }
  if (!f.length_fields) return apply_truncation(u);
  char length[4];
  const std::uint64_t data =
      static_cast<std::uint64_t>(u->statement.writer.direct_count) + tail - 4;
  store_length(length, static_cast<std::uint32_t>(data), u->connection.big_endian);
  if (msg::Id id = for__write_record_to_file(u, length, 4)) return id;
  if (!u->statement.writer.leading_len_set) {
    std::int64_t here = 0;
    int err = 0;
    if (!plat::seek(u->connection.handle, 0, plat::Whence::kCurrent, &here, &err) ||
        !plat::seek(u->connection.handle, u->statement.writer.rec_file_pos, plat::Whence::kBegin,
                    nullptr, &err)) {
      u->statement.os_error = err;
      return msg::kWriteError;
    }
    if (msg::Id id = for__write_record_to_file(u, length, 4)) return id;
    if (!plat::seek(u->connection.handle, here, plat::Whence::kBegin, nullptr, &err)) {
      u->statement.os_error = err;
      return msg::kWriteError;
    }
  }
  return apply_truncation(u);
}

// The descriptor walk: every item, then the record's end on the last call.
[[gnu::noinline]] int walk_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args) {
  return run_items(
      cb, u, desc, args,
      [u](const Item& item, const ItemCursor& cursor) {
        return place_item(u, item, cursor.next_is_end());
      },
      [u]() -> msg::Id {
        const msg::Id id = u->statement.writer.direct_write ? finish_direct(u) : for__put_su(u);
        if (id == 0) {
          u->position.record_count += 1;
          u->statement.writer.direct_write = false;
        }
        return id;
      });
}

// Every write call's items. Its fast case is the call of a record built in a
// loop: one 4-byte value given as size and address, more calls to follow, room
// in the record, no conversion; the walk would place it just the same.
[[gnu::always_inline]] inline int write_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc,
                                              IoArgs args) {
  Item item;
  if (element_call(desc, args, &item) && item.length == 4 && !u->connection.convert &&
      u->position.cur + 4 <= u->position.area_end) [[likely]] {
    std::memcpy(u->position.buffer.data() + u->position.cur, item.addr, 4);
    u->position.cur += 4;
    return 0;
  }
  return walk_items(cb, u, desc, args);
}

}  // namespace

int for__write_output(UnitBlock* u, const char* bytes, std::size_t count) {
  if (u->connection.replace_deferred) [[unlikely]]
    for__start_deferred_replacement(u);
  int err = 0;
  bool written;
  {
    // A pipe nobody reads or a FIFO may hold the write without limit; the
    // unit is touched again only after the call.
    rt::BlockingCall blocking;
    written = plat::write_bytes(u->connection.handle, bytes, count, &err);
  }
  if (!written) {
    u->statement.os_error = err;
    return -1;
  }
  return 0;
}

msg::Id for__write_record_to_file(UnitBlock* u, const char* bytes, std::size_t count) {
  return for__write_output(u, bytes, count) == 0 ? 0 : msg::kWriteError;
}

msg::Id for__adjust_buffer(UnitBlock* u, std::size_t extra) {
  const RecordFraming& f = framing_of(u);
  if (!u->connection.recl_defaulted || f.padded || f.segmented) return msg::kNoMemory;
  if (u->connection.form != kFormFormatted) extra = (extra + 3) & ~std::size_t{3};
  const std::size_t new_area = static_cast<std::size_t>(u->position.record_area) + extra;
  if (new_area > static_cast<std::size_t>(INT32_MAX)) return msg::kNoMemory;
  const std::size_t needed = u->position.rec_start + new_area + kBufferSlack;
  if (needed > u->position.buffer.size()) {
    // Doubling keeps a large record linear in time; the bytes written are
    // the same as with any other growth step.
    const std::size_t grown = std::max(needed, u->position.buffer.size() * 2);
    if (!u->position.buffer.resize(grown) && !u->position.buffer.resize(needed))
      return msg::kNoMemory;
  }
  u->position.record_area = static_cast<std::int32_t>(new_area);
  u->position.area_end += extra;
  return 0;
}

msg::Id for__flush_readahead(UnitBlock* u) {
  const std::size_t ahead = u->position.ahead_end - u->position.ahead_begin;
  if (ahead != 0 && u->connection.disk_file) {
    int err = 0;
    if (!plat::seek(u->connection.handle, -static_cast<std::int64_t>(ahead), plat::Whence::kCurrent,
                    nullptr, &err)) {
      u->statement.os_error = err;
      return msg::kWriteError;
    }
  }
  u->position.ahead_begin = u->position.ahead_end = 0;
  u->position.rec_end = 0;
  return 0;
}

void for__discard_unfinished_record(UnitBlock* u) {
  UnformattedRecord& w = u->statement.writer;
  // Only a write statement's own record: the writer's state of an earlier
  // statement means nothing to another kind.
  if (u->statement.kind == StatementKind::kWriteUnformatted && w.direct_write &&
      u->connection.disk_file && w.rec_file_pos >= 0) {
    int err = 0;
    if (plat::seek(u->connection.handle, w.rec_file_pos, plat::Whence::kBegin, nullptr, &err))
      plat::set_end_of_file(u->connection.handle, &err);
  }
  w.direct_write = false;
}

msg::Id for__put_su(UnitBlock* u) {
  const RecordFraming& f = framing_of(u);
  if (f.segmented) {
    if (msg::Id id = write_segment(u, true)) return id;
    return apply_truncation(u);
  }
  char* base = u->position.buffer.data();
  std::size_t end = u->position.cur;
  if (f.length_fields) {
    const auto data = static_cast<std::uint32_t>(u->position.cur - u->position.rec_start - 4);
    store_length(base + u->position.rec_start, data, u->connection.big_endian);
    store_length(base + u->position.cur, data, u->connection.big_endian);
    end += 4;
  } else if (f.padded) {
    std::memset(base + u->position.cur, 0, u->position.area_end - u->position.cur);
    end = u->position.area_end;
  }
  std::memcpy(base + end, f.terminator, f.terminator_length);
  end += f.terminator_length;
  if (msg::Id id =
          for__write_record_to_file(u, base + u->position.rec_start, end - u->position.rec_start))
    return id;
  return apply_truncation(u);
}

void for__start_output_record(UnitBlock* u) {
  u->position.rec_start = u->position.cur = 0;
  u->position.area_end = static_cast<std::size_t>(u->position.record_area);
  std::memset(u->position.buffer.data(), ' ', u->position.area_end);
  u->statement.high_water = 0;
  u->statement.no_advance = false;
}

msg::Id for__put_sf(UnitBlock* u) {
  const RecordFraming& f = framing_of(u);
  char* base = u->position.buffer.data();
  std::size_t end = std::max(u->position.cur, u->statement.high_water);
  if (!u->statement.no_advance) {
    std::memcpy(base + end, f.terminator, f.terminator_length);
    end += f.terminator_length;
    if (f.padded) end = std::max(end, static_cast<std::size_t>(u->position.record_area));
  }
  if (msg::Id id =
          for__write_record_to_file(u, base + u->position.rec_start, end - u->position.rec_start))
    return id;
  // A reused file written from its start keeps nothing of its old contents.
  if (msg::Id id = apply_truncation(u)) return id;
  u->position.record_count += 1;
  u->statement.no_advance = false;
  return 0;
}

int for_write_seq(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                  IoArgs args) {
  int result = 0;
  UnitBlock* u = start_sequential(
      cb, unit, flags,
      SequentialStatement{StatementKind::kWriteUnformatted, kFormUnformatted, kStatusUnknown, true},
      &result);
  if (u == nullptr) return result;
  start_record(u);
  return write_items(cb, u, desc, args);
}

int for_write_seq_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  UnitBlock* u = statement_unit(cb);
  return u != nullptr ? write_items(cb, u, desc, args) : no_statement();
}

}  // namespace recio
