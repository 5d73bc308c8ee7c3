// Unformatted sequential records read back: a variable record's leading
// length, its data into the statement's items, its trailing length checked
// against the leading one. Bytes come through a read-ahead in the unit's
// buffer; an item larger than the read-ahead is read straight into the
// caller's memory, so a record of any size streams and is never held whole.
// The unit remembers where the last record stands (RecordPlace) so that a
// program can name the record that failed.
#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "recio/foreign.h"
#include "recio/io_api.h"
#include "recio/record_io.h"
#include "recio/statement.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"

namespace recio {
namespace {

// Disk files are read in blocks of this size at least: few system calls.
constexpr std::size_t kReadBlock = 64 * 1024;

std::size_t buffered(const UnitBlock* u) {
  return u->position.ahead_end - u->position.ahead_begin;
}

// Refills the read-ahead so that it holds `want` bytes (at most the buffer's
// size) where the file has them. 0, or msg::kReadError with the platform's
// error saved.
msg::Id fill(UnitBlock* u, std::size_t want) {
  if (buffered(u) >= want) return 0;
  if (u->position.buffer.size() < kReadBlock) {
    // The larger block only saves calls: without memory for it, read on in less.
    const bool grown = u->position.buffer.resize(kReadBlock);
    static_cast<void>(grown);
  }
  char* base = u->position.buffer.data();
  const std::size_t pending = buffered(u);
  std::memmove(base, base + u->position.ahead_begin, pending);
  u->position.read_offset += static_cast<std::int64_t>(u->position.ahead_begin);
  u->position.ahead_begin = 0;
  u->position.ahead_end = pending;
  want = std::min(want, u->position.buffer.size());
  while (u->position.ahead_end < want) {
    int err = 0;
    const long n = for__read_input(u->connection.handle, base + u->position.ahead_end,
                                   u->position.buffer.size() - u->position.ahead_end, &err);
    if (n < 0) {
      u->statement.os_error = err;
      return msg::kReadError;
    }
    if (n == 0) break;
    u->position.ahead_end += static_cast<std::size_t>(n);
  }
  return 0;
}

// File offset of the next byte to be taken.
std::int64_t position(const UnitBlock* u) {
  return u->position.read_offset + static_cast<std::int64_t>(u->position.ahead_begin);
}

// The file ended inside the current record.
msg::Id ended_inside(UnitBlock* u) {
  u->position.read_place.end_of_file = position(u) + static_cast<std::int64_t>(buffered(u));
  u->position.ahead_begin = u->position.ahead_end;
  return msg::kReadError;
}

// Takes n bytes of the file into dst (null: skips them).
msg::Id take(UnitBlock* u, char* dst, std::size_t n) {
  while (n > 0) {
    if (buffered(u) == 0) {
      // A large remainder goes straight to its place, past the read-ahead.
      if (dst != nullptr && n >= u->position.buffer.size() && u->position.buffer.size() != 0) {
        int err = 0;
        const long got = for__read_input(u->connection.handle, dst, n, &err);
        if (got < 0) {
          u->statement.os_error = err;
          return msg::kReadError;
        }
        if (got == 0) return ended_inside(u);
        u->position.read_offset += got;
        dst += got;
        n -= static_cast<std::size_t>(got);
        continue;
      }
      if (msg::Id id = fill(u, n)) return id;
      if (buffered(u) == 0) return ended_inside(u);
    }
    const std::size_t step = std::min(n, buffered(u));
    if (dst != nullptr) {
      std::memcpy(dst, u->position.buffer.data() + u->position.ahead_begin, step);
      dst += step;
    }
    u->position.ahead_begin += step;
    n -= step;
  }
  return 0;
}

// Reads a 4-byte length field in the unit's byte order; *got tells how many
// of its bytes the file held.
msg::Id read_length(UnitBlock* u, std::uint32_t* length, std::size_t* got) {
  if (msg::Id id = fill(u, 4)) return id;
  *got = std::min<std::size_t>(buffered(u), 4);
  if (*got < 4) return 0;
  unsigned char b[4];
  std::memcpy(b, u->position.buffer.data() + u->position.ahead_begin, 4);
  u->position.ahead_begin += 4;
  if (u->connection.big_endian) std::reverse(b, b + 4);
  *length = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  return 0;
}

// The leading length of the next record: end of file before it, or a file
// that ends inside it.
msg::Id start_record(UnitBlock* u) {
  u->position.read_place = RecordPlace{};
  u->position.read_place.offset = position(u);
  u->statement.read_taken = 0;
  std::uint32_t length = 0;
  std::size_t got = 0;
  if (msg::Id id = read_length(u, &length, &got)) return id;
  if (got == 0) return msg::kEndOfFile;
  if (got < 4) return ended_inside(u);
  u->position.read_place.leading = length;
  return 0;
}

msg::Id read_item(UnitBlock* u, const Item& item) {
  if (item.mode == kPassValue) return msg::kArgumentError;  // nothing to read into
  const auto n = static_cast<std::size_t>(item.length);
  if (u->statement.read_taken + item.length > u->position.read_place.leading)
    return msg::kTooMuchData;
  char* dst = static_cast<char*>(item.addr);
  if (!u->connection.convert || item.type == kTypeChar) {
    if (msg::Id id = take(u, dst, n)) return id;
  } else {
    unsigned char raw[16];
    if (n > sizeof raw) return msg::kArgumentError;
    if (msg::Id id = take(u, reinterpret_cast<char*>(raw), n)) return id;
    const msg::Id id = for__cvt_foreign_read(raw, item.length, item.type, *u, dst);
    if (id == msg::kForeignConversion) {
      // The value the format could not give is still stored; the statement goes on.
      rt::for__issue_diagnostic(id);
    } else if (id != 0) {
      return id;
    }
  }
  u->statement.read_taken += item.length;
  return 0;
}

// The rest of the record is skipped and its trailing length checked.
msg::Id end_record(UnitBlock* u) {
  std::int64_t rest = u->position.read_place.leading - u->statement.read_taken;
  while (rest > 0) {
    const auto step = static_cast<std::size_t>(std::min<std::int64_t>(rest, 1 << 30));
    if (msg::Id id = take(u, nullptr, step)) return id;
    rest -= static_cast<std::int64_t>(step);
  }
  std::uint32_t trailing = 0;
  std::size_t got = 0;
  if (msg::Id id = read_length(u, &trailing, &got)) return id;
  if (got < 4) return ended_inside(u);
  u->position.read_place.trailing = trailing;
  if (trailing != u->position.read_place.leading) return msg::kInconsistentRecl;
  u->position.record_count += 1;
  return 0;
}

[[gnu::noinline]] int walk_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args) {
  return run_items(
      cb, u, desc, args, [u](const Item& item, const ItemCursor&) { return read_item(u, item); },
      [u]() { return end_record(u); });
}

// Every read call's items. The fast case is a value read in a loop: one
// 4-byte value given as size and address, in the read-ahead, no conversion.
[[gnu::always_inline]] inline int read_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc,
                                             IoArgs args) {
  Item item;
  if (element_call(desc, args, &item) && item.length == 4 && !u->connection.convert &&
      buffered(u) >= 4 && u->statement.read_taken + 4 <= u->position.read_place.leading)
      [[likely]] {
    std::memcpy(item.addr, u->position.buffer.data() + u->position.ahead_begin, 4);
    u->position.ahead_begin += 4;
    u->statement.read_taken += 4;
    return 0;
  }
  return walk_items(cb, u, desc, args);
}

}  // namespace

int for_read_seq(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                 IoArgs args) {
  int result = 0;
  UnitBlock* u = start_sequential(
      cb, unit, flags,
      SequentialStatement{StatementKind::kReadUnformatted, kFormUnformatted, kStatusOld, false},
      &result);
  if (u == nullptr) return result;
  if (u->connection.record_type != kRecVariable && u->connection.record_type != kRecVariableAlias)
    return fail_statement(cb, kUnitRelease, msg::kInconsistentRecordType, u);
  if (msg::Id id = start_record(u)) return fail_statement(cb, kUnitRelease, id, u);
  return read_items(cb, u, desc, args);
}

int for_read_seq_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  UnitBlock* u = statement_unit(cb);
  return u != nullptr ? read_items(cb, u, desc, args) : no_statement();
}

int for_inquire_record_place(std::int32_t unit, RecordPlace* out) {
  const UnitBlock* u = for__find_unit_block(unit);
  if (u == nullptr) return msg::number(msg::kInvalidUnit);
  *out = u->position.read_place;
  return 0;
}

}  // namespace recio
