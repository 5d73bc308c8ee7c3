// The shape every I/O statement shares. A start call acquires the unit
// (start_statement) and checks it; each call then runs its descriptor
// entries: items go to the statement's own transfer, the terminator 1 ends
// the statement. A failure is a message identifier handed to the statement's
// flags, which finish it (StatementFlags::finish_failed): before the unit is
// obtained directly, afterwards through fail_statement and for__io_return,
// and the control block lets go of the unit so that later item calls of the
// failed statement are refused (48) instead of working on a released unit.
#pragma once

#include <cstdint>
#include <cstring>

#include "recio/connection.h"
#include "recio/descriptor.h"
#include "recio/io_api.h"
#include "recio/io_return.h"
#include "recio/record_io.h"
#include "recio/unit.h"
#include "recio/unit_table.h"
#include "rt/messages.h"

namespace recio {

// Ends a failed statement that holds its unit; `status` is what a caller
// with an error branch sees (the message number unless given).
inline int fail_statement(IoControlBlock* cb, UnitDisposition disposition, msg::Id id, UnitBlock* u,
                          int status = -1) {
  cb->unit = nullptr;
  return for__io_return(disposition, id, status < 0 ? msg::number(id) : status, u);
}

// Ends a statement that succeeded.
inline int end_statement(IoControlBlock* cb, UnitBlock* u) {
  for__release_lun(u);
  cb->unit = nullptr;
  return 0;
}

// The unit of a statement in progress, or null when it ended or failed.
inline UnitBlock* statement_unit(const IoControlBlock* cb) {
  return cb != nullptr ? cb->unit : nullptr;
}

// Result of an item call that has no statement in progress.
inline int no_statement() {
  return msg::number(msg::kArgumentError);
}

// Runs the entries of one call. on_item(item, cursor) transfers an item and
// on_end() completes the statement's record; each returns 0 or a message
// identifier.
template <typename OnItem, typename OnEnd>
int run_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args, OnItem&& on_item,
              OnEnd&& on_end) {
  ItemCursor cursor(desc, args);
  Item item;
  for (;;) {
    switch (cursor.next(&item)) {
      case ItemCursor::Step::kMore:
        return 0;  // the statement stays open for the next call
      case ItemCursor::Step::kEnd:
        if (msg::Id id = on_end()) return fail_statement(cb, kUnitRelease, id, u);
        return end_statement(cb, u);
      case ItemCursor::Step::kItem:
        if (msg::Id id = on_item(item, cursor)) return fail_statement(cb, kUnitRelease, id, u);
        break;
      case ItemCursor::Step::kBad:
        return fail_statement(cb, kUnitRelease, msg::kArgumentError, u);
    }
  }
}

// Acquires the unit of a statement and records its flag word. Returns the
// unit, or null with *result holding the statement's result (the failure
// finished by the flags: no unit to name, to keep or to release).
inline UnitBlock* start_statement(IoControlBlock* cb, std::int32_t unit, StatementFlags flags,
                                  StatementKind kind, int* result) {
  UnitBlock* u = nullptr;  // set by the acquisition, also when it fails
  if (msg::Id id = for__acquire_lun(unit, &u, cb, kind)) [[unlikely]] {
    *result = flags.finish_failed(id, msg::number(id), unit, nullptr, kUnitLeave);
    return nullptr;
  }
  u->statement.flags = flags;
  return u;
}

// What a sequential statement needs of its unit.
struct SequentialStatement {
  StatementKind kind;
  std::uint8_t form;            // kFormFormatted or kFormUnformatted
  std::uint8_t default_status;  // STATUS of the implicit connection
  bool write;
};

// Acquires the unit, records the flag word, connects the unit by default
// when needed, and refuses a read-only unit (writes), direct access and the
// other form. Returns the unit, or null with *result holding the statement's
// result.
// Inline: it starts every read and write of a file.
inline UnitBlock* start_sequential(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags,
                                   const SequentialStatement& how, int* result) {
  UnitBlock* u = start_statement(cb, unit, flags, how.kind, result);
  if (u == nullptr) return nullptr;
  if (!u->connected) {
    if (msg::Id id = for__open_default(u, kAccessSequential, how.default_status, how.form)) {
      *result = fail_statement(cb, kUnitReset, id, u);
      return nullptr;
    }
  }
  msg::Id refused = 0;
  if (how.write && u->connection.read_only) {
    refused = msg::kReadOnly;
  } else if (u->connection.access == kAccessDirect) {
    refused = msg::kSequentialToDirect;
  } else if (how.form == kFormFormatted && u->connection.form != kFormFormatted) {
    refused = msg::kFormattedToUnformatted;
  } else if (how.form != kFormFormatted && u->connection.form == kFormFormatted) {
    refused = msg::kUnformattedToFormatted;
  }
  if (refused != 0) {
    // The access checks show their own number but return "mixed access".
    const int status = refused == msg::kReadOnly ? -1 : msg::number(msg::kMixedAccess);
    *result = fail_statement(cb, kUnitRelease, refused, u, status);
    return nullptr;
  }
  // A write lands where the last record read ended.
  if (how.write) {
    if (msg::Id id = for__flush_readahead(u)) {
      *result = fail_statement(cb, kUnitRelease, id, u);
      return nullptr;
    }
  }
  return u;
}

// Starts a statement on an internal record (unit -5): the first descriptor
// entry is the record; it is copied into the unit's private buffer (`copy`),
// or the buffer is blanked. *desc and *args are advanced past the record.
// Returns the unit, or null with *result holding the statement's result.
// Inline: it starts every internal statement.
inline UnitBlock* start_internal(IoControlBlock* cb, std::uint32_t flags, StatementKind kind,
                                 const char* statement_name, bool copy, Descriptor* desc,
                                 IoArgs* args, int* result) {
  UnitBlock* u = start_statement(cb, kInternalUnit, flags, kind, result);
  if (u == nullptr) return nullptr;
  u->statement.name = statement_name;
  Item record;
  std::size_t next = 0;
  if (desc->size() < 2 || (*desc)[0] != kTypeChar ||
      !decode_item((*desc)[0], (*desc)[1], *args, &next, &record)) {
    *result = fail_statement(cb, kUnitRelease, msg::kArgumentError, u);
    return nullptr;
  }
  const auto length = static_cast<std::size_t>(record.length);
  // The buffer keeps its size from statement to statement: no allocation once
  // grown. A copy is followed by NUL bytes, which end any scan.
  const std::size_t size = length + kBufferSlack;
  if (u->position.buffer.size() < size && !u->position.buffer.resize(size)) {
    *result = fail_statement(cb, kUnitRelease, msg::kNoMemory, u);
    return nullptr;
  }
  if (copy) {
    std::memcpy(u->position.buffer.data(), record.addr, length);
    std::memset(u->position.buffer.data() + length, 0, kBufferSlack);
  } else {
    std::memset(u->position.buffer.data(), ' ', length);
  }
  u->statement.internal.target = static_cast<char*>(record.addr);
  u->statement.internal.length = record.length;
  u->position.cur = 0;
  *desc = desc->subspan(2);
  *args = args->subspan(next);
  return u;
}

}  // namespace recio
