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
  ListScanState& state = u->statement.internal.scan;
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
  list_scan_begin(u->statement.internal.scan, u->position.buffer.data(),
                  u->statement.internal.length, flags, true);
  // A start call with the record alone (a field line) has nothing more to do.
  if (desc.size() >= 2 && desc[0] == kTypeMore) return 0;
  return read_items(cb, u, desc, args);
}

int for_read_int_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  UnitBlock* u = statement_unit(cb);
  if (u == nullptr) return no_statement();
  // The calls of a field line: one 4-byte real element each, then the bare
  // end. The descriptor walk would do the same.
  if (desc.size() == 4 && desc[0] == kTypeReal4 && desc[1] == kPassSizeAddr &&
      desc[2] == kTypeMore && args.size() == 2 && args[0].value == 4 && args[1].addr != nullptr) {
    if (const msg::Id id =
            list_read_real4(u->statement.internal.scan, static_cast<float*>(args[1].addr)))
      return fail_statement(cb, kUnitRelease, id, u);
    return 0;
  }
  Item item;
  if (element_call(desc, args, &item)) {
    if (const msg::Id id = list_read_item(u->statement.internal.scan, item))
      return fail_statement(cb, kUnitRelease, id, u);
    return 0;
  }
  if (end_call(desc)) return end_statement(cb, u);
  return read_items(cb, u, desc, args);
}

}  // namespace recio
