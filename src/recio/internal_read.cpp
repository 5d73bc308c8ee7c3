// The list-directed read statement on an internal record (unit -5): the
// record is copied into the statement's private buffer and scanned there.
// The scan state lives in the internal unit block, so a statement allocates
// nothing once the buffers have their size.

#include "recio/io_api.h"
#include "recio/list_input.h"
#include "recio/record_io.h"
#include "recio/statement.h"

namespace recio {
namespace {

constexpr char kInternalReadName[] = "Internal List-Directed Read";

[[gnu::noinline]] int read_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args) {
  ListScanState& state = u->list_scan;
  return run_items(
      cb, u, desc, args,
      [&state](const Item& item, const ItemCursor&) { return list_read_item(state, item); },
      [] { return msg::Id{0}; });
}

}  // namespace

int for_read_int_lis(IoControlBlock* cb, std::uint32_t flags, Descriptor desc, IoArgs args) {
  int result = 0;
  // The statement reads a private copy: an item may overlap the record.
  UnitBlock* u = start_internal(cb, flags, StatementKind::kInternalRead, kInternalReadName, true,
                                &desc, &args, &result);
  if (u == nullptr) return result;
  static_assert(kBufferSlack >= static_cast<std::size_t>(kListRecordPadding));
  list_scan_begin(u->list_scan, u->buffer.data(), u->internal_length, flags, true);
  // A start call with the record alone (a field line) has nothing more to do.
  if (desc.size() >= 2 && desc[0] == kTypeMore) return 0;
  return read_items(cb, u, desc, args);
}

int for_read_int_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  UnitBlock* u = statement_unit(cb);
  if (u == nullptr) return no_statement();
  // The calls of a field line: one element each, then the bare end. The
  // descriptor walk would do the same.
  Item item;
  if (element_call(desc, args, &item)) {
    if (msg::Id id = list_read_item(u->list_scan, item))
      return fail_statement(cb, kUnitRelease, id, u);
    return 0;
  }
  if (end_call(desc)) return end_statement(cb, u);
  return read_items(cb, u, desc, args);
}

}  // namespace recio
