// The list-directed read statement on an internal record (unit -5): the
// record is copied into the statement's private buffer and scanned there.
// The scan states live on a stack parallel to the internal unit blocks, so a
// statement allocates nothing once the buffers have their size.
#include <array>
#include <cstring>

#include "recio/io_api.h"
#include "recio/list_input.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"

namespace recio {
namespace {

constexpr char kInternalReadName[] = "Internal List-Directed Read";

// One scan state per level of the internal statement stack.
std::array<ListScanState, kInternalDepth> scan_states;

ListScanState& scan_state(const UnitBlock* u) {
  return scan_states[static_cast<std::size_t>(u->internal_depth)];
}

int read_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args) {
  ItemCursor cursor(desc, args);
  Item item;
  ListScanState& state = scan_state(u);
  for (;;) {
    switch (cursor.next(&item)) {
      case ItemCursor::Step::kMore:
        return 0;
      case ItemCursor::Step::kEnd:
        for__release_lun(u);
        cb->unit = nullptr;
        return 0;
      case ItemCursor::Step::kItem:
        if (msg::Id id = list_read_item(state, item))
          return rt::for__io_return(rt::kUnitRelease, id, msg::number(id), u);
        break;
      case ItemCursor::Step::kBad:
        return rt::for__io_return(rt::kUnitRelease, msg::kArgumentError,
                                  msg::number(msg::kArgumentError), u);
    }
  }
}

}  // namespace

int for_read_int_lis(IoControlBlock* cb, std::uint32_t flags, Descriptor desc, IoArgs args) {
  UnitBlock* u = nullptr;
  if (msg::Id id = for__acquire_lun(kInternalUnit, &u, cb, StatementKind::kInternalRead))
    return rt::for__io_fail_no_unit(flags, id, kInternalUnit);
  u->stmt_flags = flags;
  u->statement_name = kInternalReadName;
  Item record;
  std::size_t next = 0;
  if (desc.size() < 2 || desc[0] != kTypeChar ||
      !decode_item(desc[0], desc[1], args, &next, &record))
    return rt::for__io_return(rt::kUnitRelease, msg::kArgumentError,
                              msg::number(msg::kArgumentError), u);
  const std::size_t length = static_cast<std::size_t>(record.length);
  if (u->buffer.size() < length && !u->buffer.resize(length))
    return rt::for__io_return(rt::kUnitRelease, msg::kNoMemory, msg::number(msg::kNoMemory), u);
  // The statement reads a private copy: an item may overlap the record.
  std::memcpy(u->buffer.data(), record.addr, length);
  u->internal_length = record.length;
  list_scan_begin(scan_state(u), u->buffer.data(), record.length, flags);
  return read_items(cb, u, desc.subspan(2), args.subspan(next));
}

int for_read_int_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  if (cb == nullptr || cb->unit == nullptr) return msg::number(msg::kArgumentError);
  return read_items(cb, cb->unit, desc, args);
}

}  // namespace recio
