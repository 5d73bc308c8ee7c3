#include "recio/statement.h"

#include <cstring>

#include "recio/connection.h"
#include "recio/record_io.h"

namespace recio {

UnitBlock* start_sequential(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags,
                            const SequentialStatement& how, int* result) {
  UnitBlock* u = nullptr;
  if (msg::Id id = for__acquire_lun(unit, &u, cb, how.kind)) {
    *result = rt::for__io_fail_no_unit(flags, id, unit);
    return nullptr;
  }
  u->stmt_flags = flags;
  if (!u->connected) {
    if (msg::Id id = for__open_default(u, kAccessSequential, how.default_status, how.form)) {
      *result = fail_statement(cb, rt::kUnitReset, id, u);
      return nullptr;
    }
  }
  msg::Id refused = 0;
  if (how.write && u->read_only) {
    refused = msg::kReadOnly;
  } else if (u->access == kAccessDirect) {
    refused = msg::kSequentialToDirect;
  } else if (how.form == kFormFormatted && u->form != kFormFormatted) {
    refused = msg::kFormattedToUnformatted;
  } else if (how.form != kFormFormatted && u->form == kFormFormatted) {
    refused = msg::kUnformattedToFormatted;
  }
  if (refused != 0) {
    // The access checks show their own number but return "mixed access".
    const int status = refused == msg::kReadOnly ? -1 : msg::number(msg::kMixedAccess);
    *result = fail_statement(cb, rt::kUnitRelease, refused, u, status);
    return nullptr;
  }
  // A write lands where the last record read ended.
  if (how.write) {
    if (msg::Id id = for__flush_readahead(u)) {
      *result = fail_statement(cb, rt::kUnitRelease, id, u);
      return nullptr;
    }
  }
  return u;
}

UnitBlock* start_internal(IoControlBlock* cb, std::uint32_t flags, StatementKind kind,
                          const char* statement_name, bool copy, Descriptor* desc, IoArgs* args,
                          int* result) {
  UnitBlock* u = nullptr;
  if (msg::Id id = for__acquire_lun(kInternalUnit, &u, cb, kind)) {
    *result = rt::for__io_fail_no_unit(flags, id, kInternalUnit);
    return nullptr;
  }
  u->stmt_flags = flags;
  u->statement_name = statement_name;
  Item record;
  std::size_t next = 0;
  if (desc->size() < 2 || (*desc)[0] != kTypeChar ||
      !decode_item((*desc)[0], (*desc)[1], *args, &next, &record)) {
    *result = fail_statement(cb, rt::kUnitRelease, msg::kArgumentError, u);
    return nullptr;
  }
  const auto length = static_cast<std::size_t>(record.length);
  // The buffer keeps its size from statement to statement: no allocation once
  // grown. A copy is followed by NUL bytes, which end any scan.
  const std::size_t size = length + kBufferSlack;
  if (u->buffer.size() < size && !u->buffer.resize(size)) {
    *result = fail_statement(cb, rt::kUnitRelease, msg::kNoMemory, u);
    return nullptr;
  }
  if (copy) {
    std::memcpy(u->buffer.data(), record.addr, length);
    std::memset(u->buffer.data() + length, 0, kBufferSlack);
  } else {
    std::memset(u->buffer.data(), ' ', length);
  }
  u->internal_target = static_cast<char*>(record.addr);
  u->internal_length = record.length;
  u->cur = 0;
  *desc = desc->subspan(2);
  *args = args->subspan(next);
  return u;
}

}  // namespace recio
