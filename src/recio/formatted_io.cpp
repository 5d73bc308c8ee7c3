// Formatted sequential statements under a compiled format: reading one
// record per statement with the A edit (pad mode), and writing one record
// (1X moves right, A copies the text, $ leaves the record without its end).
#include <algorithm>
#include <cstring>

#include "recio/connection.h"
#include "recio/format.h"
#include "recio/io_api.h"
#include "recio/record_io.h"
#include "recio/statement.h"

namespace recio {
namespace {

enum class Direction { kRead, kWrite };

// Makes room for n more output bytes at the current position.
msg::Id output_room(UnitBlock* u, std::size_t n) {
  if (u->position.cur + n <= u->position.area_end) return 0;
  if (!u->connection.recl_defaulted) return msg::kOutputOverflow;
  const std::size_t old_end = u->position.area_end;
  if (for__adjust_buffer(u, u->position.cur + n - u->position.area_end) != 0) return msg::kNoMemory;
  std::memset(u->position.buffer.data() + old_end, ' ', u->position.area_end - old_end);
  return 0;
}

msg::Id transfer_a(UnitBlock* u, const Item& item, Direction dir) {
  char* var = static_cast<char*>(item.addr);
  const std::size_t n = static_cast<std::size_t>(item.length);
  if (item.mode == kPassValue) return msg::kFormatMismatch;
  if (dir == Direction::kRead) {
    const std::size_t left =
        u->position.rec_end > u->position.cur ? u->position.rec_end - u->position.cur : 0;
    const std::size_t take = std::min(n, left);
    std::memcpy(var, u->position.buffer.data() + u->position.cur, take);
    std::memset(var + take, ' ', n - take);
    u->position.cur += take;
    return 0;
  }
  if (msg::Id id = output_room(u, n)) return id;
  std::memcpy(u->position.buffer.data() + u->position.cur, var, n);
  u->position.cur += n;
  u->statement.high_water = std::max(u->statement.high_water, u->position.cur);
  return 0;
}

// The characters left in the input record, into an integer item; those the
// reader counted without keeping them too.
msg::Id transfer_remaining(UnitBlock* u, const Item& item, Direction dir) {
  if (dir == Direction::kWrite) return msg::kFormatSyntax;
  if (item.mode == kPassValue || item.type < kTypeInt1 || item.type > kTypeInt8)
    return msg::kFormatMismatch;
  const std::size_t left = u->position.rec_end >= u->position.cur
                               ? u->position.rec_end - u->position.cur + u->position.rec_beyond
                               : 0;
  store_integer(item.addr, type_size(item.type), static_cast<std::int64_t>(left));
  return 0;
}

// True when the format from `from` to its ")" holds an item edit, so that
// starting over there can take an item.
bool takes_item(std::span<const std::uint32_t> format, std::uint32_t from) {
  FormatElement e;
  for (std::uint32_t pos = from; for__interp_fmt(format, &pos, &e) == 0 && e.op != kFmtClose;) {
    if (e.op == kFmtA || e.op == kFmtRemaining) return true;
  }
  return false;
}

// Interprets the format until it needs an item that this call does not
// bring (item == null), or until the format's end on the statement's last call.
msg::Id run_format(IoControlBlock* cb, UnitBlock* u, const Item* item, bool last_call,
                   Direction dir) {
  for (;;) {
    if (cb->format_repeat > 0) {
      if (item == nullptr) return 0;
      if (msg::Id id = transfer_a(u, *item, dir)) return id;
      --cb->format_repeat;
      item = nullptr;
      continue;
    }
    const std::uint32_t at = cb->format_pos;
    FormatElement e;
    if (msg::Id id = for__interp_fmt(cb->format, &cb->format_pos, &e)) return id;
    switch (e.op) {
      case kFmtOpen:
        if (at == 0) cb->format_restart = cb->format_pos;
        break;
      case kFmtSkip: {
        const std::size_t n = e.count;
        if (dir == Direction::kWrite) {
          if (msg::Id id = output_room(u, n)) return id;
        }
        u->position.cur += n;
        break;
      }
      case kFmtA:
        cb->format_repeat = std::max<std::uint32_t>(e.repeat, 1);
        if (item == nullptr && !last_call) return 0;
        if (item == nullptr) {
          // The item list ended: the statement ends here.
          cb->format_repeat = 0;
          return 0;
        }
        break;
      case kFmtDollar:
        if (dir == Direction::kWrite) u->statement.no_advance = true;
        break;
      case kFmtRemaining:
        if (item == nullptr) {
          if (!last_call) cb->format_pos = at;  // taken up by the next call's item
          return 0;
        }
        if (msg::Id id = transfer_remaining(u, *item, dir)) return id;
        item = nullptr;
        break;
      case kFmtClose:
        if (item == nullptr) {
          cb->format_pos = at;  // wait at the end for more calls, or finish
          return 0;
        }
        // More items than the format holds: the format starts again on a
        // new record.
        if (cb->format_restart == 0 || !takes_item(cb->format, cb->format_restart))
          return msg::kFormatSyntax;
        if (dir == Direction::kRead) {
          if (msg::Id id = for__get_su(u, kMaxRecordLength, cb->record_reach)) return id;
        } else {
          if (msg::Id id = for__put_sf(u)) return id;
          for__start_output_record(u);
        }
        cb->format_pos = cb->format_restart;
        break;
      default:
        return msg::kFormatSyntax;
    }
  }
}

// How much of one record a read statement can use: the lengths of its text
// items and the columns its format skips. Unbounded when later calls bring
// more items, since what they take is not known yet.
std::size_t record_reach(Descriptor desc, IoArgs args, std::span<const std::uint32_t> format) {
  std::size_t reach = 0;
  ItemCursor cursor(desc, args);
  Item item;
  for (ItemCursor::Step step; (step = cursor.next(&item)) != ItemCursor::Step::kEnd;) {
    if (step != ItemCursor::Step::kItem) return kMaxRecordLength;
    if (item.type == kTypeChar) reach += static_cast<std::size_t>(item.length);
  }
  FormatElement e;
  for (std::uint32_t pos = 0; pos < format.size();) {
    if (for__interp_fmt(format, &pos, &e) != 0) return kMaxRecordLength;
    if (e.op == kFmtSkip) reach += e.count;
  }
  return std::min(reach, kMaxRecordLength);
}

int formatted_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args, Direction dir) {
  return run_items(
      cb, u, desc, args,
      [&](const Item& item, const ItemCursor&) { return run_format(cb, u, &item, false, dir); },
      [&]() -> msg::Id {
        if (msg::Id id = run_format(cb, u, nullptr, true, dir)) return id;
        return dir == Direction::kWrite ? for__put_sf(u) : 0;
      });
}

int start_formatted(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                    IoArgs args, std::span<const std::uint32_t> format, Direction dir) {
  const SequentialStatement how =
      dir == Direction::kRead
          ? SequentialStatement{StatementKind::kReadFormatted, kFormFormatted, kStatusOld, false}
          : SequentialStatement{StatementKind::kWriteFormatted, kFormFormatted, kStatusUnknown,
                                true};
  int result = 0;
  UnitBlock* u = start_sequential(cb, unit, flags, how, &result);
  if (u == nullptr) return result;
  cb->format = format;
  cb->format_pos = cb->format_restart = cb->format_repeat = 0;
  if (dir == Direction::kRead) {
    // The commonest statement, one text under (A), is one transfer: every
    // other step of the interpreter does nothing for it, and the text's
    // length is all of a record it can use.
    Item item;
    bool one_text = false;
    if (format.size() == kFormatA.size() &&
        std::equal(format.begin(), format.end(), kFormatA.begin()) && desc.size() == 4 &&
        desc[0] == kTypeChar && desc[2] == kTypeEnd) {
      std::size_t next = 0;
      one_text = decode_item(desc[0], desc[1], args, &next, &item) && item.mode != kPassValue;
    }
    cb->record_reach = one_text ? std::min(static_cast<std::size_t>(item.length), kMaxRecordLength)
                                : record_reach(desc, args, format);
    if (msg::Id id = for__get_su(u, kMaxRecordLength, cb->record_reach))
      return fail_statement(cb, kUnitRelease, id, u);
    if (one_text) {
      transfer_a(u, item, dir);
      return end_statement(cb, u);
    }
  } else {
    for__start_output_record(u);
  }
  return formatted_items(cb, u, desc, args, dir);
}

// A further call of the statement in progress.
int next_call(IoControlBlock* cb, Descriptor desc, IoArgs args, Direction dir) {
  UnitBlock* u = statement_unit(cb);
  return u != nullptr ? formatted_items(cb, u, desc, args, dir) : no_statement();
}

}  // namespace

int for_read_seq_fmt(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                     IoArgs args, std::span<const std::uint32_t> format) {
  return start_formatted(cb, unit, flags, desc, args, format, Direction::kRead);
}

int for_read_seq_fmt_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  return next_call(cb, desc, args, Direction::kRead);
}

int for_write_seq_fmt(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                      IoArgs args, std::span<const std::uint32_t> format) {
  return start_formatted(cb, unit, flags, desc, args, format, Direction::kWrite);
}

int for_write_seq_fmt_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  return next_call(cb, desc, args, Direction::kWrite);
}

}  // namespace recio
