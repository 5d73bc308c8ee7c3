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
  if (!u->truncate_pending) return 0;
  int err = 0;
  if (!plat::set_end_of_file(u->handle, &err)) {
    u->os_error = err;
    return msg::kWriteError;
  }
  u->truncate_pending = false;
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
  return u->record_type < std::size(kFramings) ? kFramings[u->record_type] : kFramings[0];
}

bool is_numeric(std::uint8_t type) {
  return type != kTypeChar;
}

// Lays out an empty record for the unit's record type.
void start_record(UnitBlock* u) {
  const RecordFraming& f = framing_of(u);
  u->rec_start = 0;
  if (f.segmented) u->segment_continued = false;
  u->cur = u->rec_start + f.lead;
  u->area_end = u->rec_start + static_cast<std::size_t>(u->recl) - f.reserve;
  u->direct_write = false;
  u->leading_len_set = false;
  u->direct_count = 0;
  u->first_item = true;
}

// Writes the filled segment and starts the next one.
msg::Id write_segment(UnitBlock* u, bool last) {
  const std::size_t data = u->cur - u->rec_start - 4;
  std::uint16_t control = u->segment_continued ? 0 : 1;
  if (last) control = static_cast<std::uint16_t>(control + 2);
  store_u16(u->buffer.data() + u->rec_start, static_cast<std::uint16_t>(data + 2));
  store_u16(u->buffer.data() + u->rec_start + 2, control);
  std::size_t total = data + 4;
  if (total % 2 != 0) u->buffer.data()[u->rec_start + total++] = 0;
  if (msg::Id id = for__write_record_to_file(u, u->buffer.data() + u->rec_start, total)) return id;
  u->segment_continued = true;
  u->cur = u->rec_start + 4;
  return 0;
}

// Direct-write mode: the buffered part and the rest of the item go straight
// to the file, because memory cannot hold the record.
msg::Id write_direct(UnitBlock* u, const char* src, std::size_t n, bool last_item) {
  char* base = u->buffer.data();
  const std::size_t buffered = u->cur - u->rec_start;
  int err = 0;
  if (!u->direct_write) {
    u->direct_write = true;
    // Where the record starts: its leading length is filled in there at the
    // end, and an unfinished record is cut back to it.
    const bool placed = plat::seek(u->handle, 0, plat::Whence::kCurrent, &u->rec_file_pos, &err);
    if (!placed) u->rec_file_pos = -1;
    if (!framing_of(u).length_fields) {
      // A stream record has no leading length to fill in.
    } else if (last_item) {
      const std::uint64_t data = buffered + n - 4;
      store_length(base + u->rec_start, static_cast<std::uint32_t>(data), u->big_endian);
      u->leading_len_set = true;
    } else if (!placed) {
      u->os_error = err;
      return msg::kWriteError;
    }
  }
  if (msg::Id id = for__write_record_to_file(u, base + u->rec_start, buffered)) return id;
  if (msg::Id id = for__write_record_to_file(u, src, n)) return id;
  u->direct_count += static_cast<std::int64_t>(buffered + n);
  u->cur = u->rec_start;
  return 0;
}

msg::Id place_bytes(UnitBlock* u, const char* src, std::size_t n, bool last_item) {
  if (u->cur + n <= u->area_end) [[likely]] {
    // Field values are 4 bytes: a fixed-size copy is one move.
    if (n == 4) {
      std::memcpy(u->buffer.data() + u->cur, src, 4);
    } else {
      std::memcpy(u->buffer.data() + u->cur, src, n);
    }
    u->cur += n;
    return 0;
  }
  const RecordFraming& f = framing_of(u);
  while (u->cur + n > u->area_end) {
    if (f.segmented) {
      const std::size_t room = u->area_end - u->cur;
      std::memcpy(u->buffer.data() + u->cur, src, room);
      u->cur += room;
      src += room;
      n -= room;
      if (msg::Id id = write_segment(u, false)) return id;
      continue;
    }
    if (!u->recl_defaulted || f.padded) return msg::kOutputOverflow;
    const std::size_t still = n - (u->area_end - u->cur);
    if (for__adjust_buffer(u, std::max<std::size_t>(still, 512)) != 0)
      return write_direct(u, src, n, last_item);
  }
  std::memcpy(u->buffer.data() + u->cur, src, n);
  u->cur += n;
  return 0;
}

msg::Id place_item(UnitBlock* u, const Item& item, bool last_item) {
  u->first_item = false;
  const char* src = item.mode == kPassValue ? reinterpret_cast<const char*>(&item.value)
                                            : static_cast<const char*>(item.addr);
  const auto n = static_cast<std::size_t>(item.length);
  if (u->convert && is_numeric(item.type)) {
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
  char* base = u->buffer.data();
  const std::size_t tail = u->cur - u->rec_start;
  if (msg::Id id = for__write_record_to_file(u, base + u->rec_start, tail)) return id;
  const RecordFraming& f = framing_of(u);
  if (f.terminator_length != 0) {
    if (msg::Id id = for__write_record_to_file(u, f.terminator, f.terminator_length)) return id;
    return apply_truncation(u);
  }
  if (!f.length_fields) return apply_truncation(u);
  char length[4];
  const std::uint64_t data = static_cast<std::uint64_t>(u->direct_count) + tail - 4;
  store_length(length, static_cast<std::uint32_t>(data), u->big_endian);
  if (msg::Id id = for__write_record_to_file(u, length, 4)) return id;
  if (!u->leading_len_set) {
    std::int64_t here = 0;
    int err = 0;
    if (!plat::seek(u->handle, 0, plat::Whence::kCurrent, &here, &err) ||
        !plat::seek(u->handle, u->rec_file_pos, plat::Whence::kBegin, nullptr, &err)) {
      u->os_error = err;
      return msg::kWriteError;
    }
    if (msg::Id id = for__write_record_to_file(u, length, 4)) return id;
    if (!plat::seek(u->handle, here, plat::Whence::kBegin, nullptr, &err)) {
      u->os_error = err;
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
        const msg::Id id = u->direct_write ? finish_direct(u) : for__put_su(u);
        if (id == 0) {
          u->record_count += 1;
          u->direct_write = false;
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
  if (element_call(desc, args, &item) && item.length == 4 && !u->convert &&
      u->cur + 4 <= u->area_end) [[likely]] {
    std::memcpy(u->buffer.data() + u->cur, item.addr, 4);
    u->cur += 4;
    u->first_item = false;
    return 0;
  }
  return walk_items(cb, u, desc, args);
}

}  // namespace

int for__write_output(UnitBlock* u, const char* bytes, std::size_t count) {
  if (u->replace_deferred) [[unlikely]]
    for__start_deferred_replacement(u);
  int err = 0;
  bool written;
  {
    // A pipe nobody reads or a FIFO may hold the write without limit; the
    // unit is touched again only after the call.
    rt::BlockingCall blocking;
    written = plat::write_bytes(u->handle, bytes, count, &err);
  }
  if (!written) {
    u->os_error = err;
    return -1;
  }
  return 0;
}

msg::Id for__write_record_to_file(UnitBlock* u, const char* bytes, std::size_t count) {
  return for__write_output(u, bytes, count) == 0 ? 0 : msg::kWriteError;
}

msg::Id for__adjust_buffer(UnitBlock* u, std::size_t extra) {
  const RecordFraming& f = framing_of(u);
  if (!u->recl_defaulted || f.padded || f.segmented) return msg::kNoMemory;
  if (u->form != kFormFormatted) extra = (extra + 3) & ~std::size_t{3};
  const std::size_t new_recl = static_cast<std::size_t>(u->recl) + extra;
  if (new_recl > static_cast<std::size_t>(INT32_MAX)) return msg::kNoMemory;
  const std::size_t needed = u->rec_start + new_recl + kBufferSlack;
  if (needed > u->buffer.size()) {
    // Doubling keeps a large record linear in time; the bytes written are
    // the same as with any other growth step.
    const std::size_t grown = std::max(needed, u->buffer.size() * 2);
    if (!u->buffer.resize(grown) && !u->buffer.resize(needed)) return msg::kNoMemory;
  }
  u->recl = static_cast<std::int32_t>(new_recl);
  u->area_end += extra;
  return 0;
}

msg::Id for__flush_readahead(UnitBlock* u) {
  const std::size_t ahead = u->ahead_end - u->ahead_begin;
  if (ahead != 0 && u->disk_file) {
    int err = 0;
    if (!plat::seek(u->handle, -static_cast<std::int64_t>(ahead), plat::Whence::kCurrent, nullptr,
                    &err)) {
      u->os_error = err;
      return msg::kWriteError;
    }
  }
  u->ahead_begin = u->ahead_end = 0;
  u->rec_end = 0;
  return 0;
}

void for__discard_unfinished_record(UnitBlock* u) {
  if (u->direct_write && u->disk_file && u->rec_file_pos >= 0) {
    int err = 0;
    if (plat::seek(u->handle, u->rec_file_pos, plat::Whence::kBegin, nullptr, &err))
      plat::set_end_of_file(u->handle, &err);
  }
  u->direct_write = false;
}

msg::Id for__put_su(UnitBlock* u) {
  const RecordFraming& f = framing_of(u);
  if (f.segmented) {
    if (msg::Id id = write_segment(u, true)) return id;
    return apply_truncation(u);
  }
  char* base = u->buffer.data();
  std::size_t end = u->cur;
  if (f.length_fields) {
    const auto data = static_cast<std::uint32_t>(u->cur - u->rec_start - 4);
    store_length(base + u->rec_start, data, u->big_endian);
    store_length(base + u->cur, data, u->big_endian);
    end += 4;
  } else if (f.padded) {
    std::memset(base + u->cur, 0, u->area_end - u->cur);
    end = u->area_end;
  }
  std::memcpy(base + end, f.terminator, f.terminator_length);
  end += f.terminator_length;
  if (msg::Id id = for__write_record_to_file(u, base + u->rec_start, end - u->rec_start)) return id;
  return apply_truncation(u);
}

void for__start_output_record(UnitBlock* u) {
  u->rec_start = u->cur = 0;
  u->area_end = static_cast<std::size_t>(u->recl);
  std::memset(u->buffer.data(), ' ', u->area_end);
  u->high_water = 0;
  u->no_advance = false;
}

msg::Id for__put_sf(UnitBlock* u) {
  const RecordFraming& f = framing_of(u);
  char* base = u->buffer.data();
  std::size_t end = std::max(u->cur, u->high_water);
  if (!u->no_advance) {
    std::memcpy(base + end, f.terminator, f.terminator_length);
    end += f.terminator_length;
    if (f.padded) end = std::max(end, static_cast<std::size_t>(u->recl));
  }
  if (msg::Id id = for__write_record_to_file(u, base + u->rec_start, end - u->rec_start)) return id;
  // A reused file written from its start keeps nothing of its old contents.
  if (msg::Id id = apply_truncation(u)) return id;
  u->record_count += 1;
  u->no_advance = false;
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
