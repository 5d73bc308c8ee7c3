#include "recio/unit_table.h"

#include <array>

#include "recio/io_api.h"
#include "rt/handover.h"
#include "rt/memory.h"

namespace recio {
namespace {

// Blocks come from the run-time's allocator: running out of memory is the
// condition 41 of the statement, never an exception.
using BlockPtr = rt::VmUnique<UnitBlock>;

struct ChainNode {
  BlockPtr block;
  rt::VmUnique<ChainNode> next;
};

struct UnitTable {
  std::array<BlockPtr, kDirectSlots> slots;
  std::array<rt::VmUnique<ChainNode>, kHashChains> chains;
  std::array<UnitBlock, kInternalDepth> internal;  // reused: no allocation per statement
  int internal_top = 0;
};

// The run-time's process-wide unit table. Constant-initialised (no guard on
// the per-statement path).
UnitTable for__lub_table;

bool has_direct_slot(std::int32_t unit) {
  return unit > kInternalUnit && unit < kFirstChainedUnit;
}

BlockPtr& direct_slot(std::int32_t unit) {
  return for__lub_table.slots[static_cast<std::size_t>(unit - kInternalUnit)];
}

int chain_index(std::int32_t unit) {
  return static_cast<int>((static_cast<std::int64_t>(unit) - kInternalUnit) % kHashChains);
}

// The slot holding the unit's block; with `create`, a chain entry is made
// for a new chained unit (null when memory is short).
BlockPtr* find_slot(std::int32_t unit, bool create) {
  if (has_direct_slot(unit)) return &direct_slot(unit);
  rt::VmUnique<ChainNode>* link =
      &for__lub_table.chains[static_cast<std::size_t>(chain_index(unit))];
  while (*link && (*link)->block->unit < unit) link = &(*link)->next;
  if (*link && (*link)->block->unit == unit) return &(*link)->block;
  if (!create) return nullptr;
  rt::VmUnique<ChainNode> node = rt::vm_create<ChainNode>();
  if (!node) return nullptr;
  node->block = rt::vm_create<UnitBlock>();
  if (!node->block) return nullptr;
  node->block->unit = unit;
  node->next = std::move(*link);
  *link = std::move(node);
  return &(*link)->block;
}

// The block of a unit not yet referenced, made zero-filled in its slot, or
// the chained unit's block. Off the statement path: only a new unit or a
// chained one comes here.
[[gnu::noinline]] UnitBlock* find_or_create_block(std::int32_t unit) {
  BlockPtr* slot = find_slot(unit, true);
  if (slot == nullptr) return nullptr;
  if (!*slot) {
    *slot = rt::vm_create<UnitBlock>();
    if (!*slot) return nullptr;
    (*slot)->unit = unit;
  }
  return slot->get();
}

bool is_internal_kind(StatementKind kind) {
  return kind == StatementKind::kInternalRead || kind == StatementKind::kInternalWrite;
}

// The common case, an existing free block in a direct slot or room on the
// internal stack (only unit -5 takes from it); null for any other.
[[gnu::always_inline]] inline UnitBlock* free_block(std::int32_t unit, StatementKind kind) {
  UnitTable& t = for__lub_table;
  if (has_direct_slot(unit)) [[likely]] {
    UnitBlock* u = direct_slot(unit).get();
    return u != nullptr && u->busy == 0 ? u : nullptr;
  }
  // Unit -5 names internal records only; an external statement on it would
  // connect a recycled internal block.
  if (unit != kInternalUnit || !is_internal_kind(kind) || t.internal_top >= kInternalDepth)
    return nullptr;
  UnitBlock* u = &t.internal[static_cast<std::size_t>(t.internal_top++)];
  u->unit = kInternalUnit;
  return u;
}

// Every case free_block does not take: a unit referenced for the first
// time, a chained unit, a held unit, and the refusals.
msg::Id make_or_refuse(std::int32_t unit, StatementKind kind, UnitBlock** out) {
  if (unit == kInternalUnit)
    return is_internal_kind(kind) ? msg::kNoMemory : msg::kInvalidUnit;  // stack full
  if (unit < kInternalUnit) return msg::kInvalidUnit;
  UnitBlock* u = find_or_create_block(unit);
  if (u == nullptr) return msg::kNoMemory;
  if (u->busy != 0) return msg::kRecursiveIo;
  *out = u;
  return 0;
}

[[gnu::always_inline]] inline msg::Id claim(UnitBlock* u, UnitBlock** out, IoControlBlock* cb,
                                            StatementKind kind) {
  u->busy = 1;
  u->statement.kind = kind;
  if (cb != nullptr) cb->unit = u;
  *out = u;
  return 0;
}

// Off the statement path: the hand-over point first, then any unit.
[[gnu::noinline]] msg::Id acquire_other(std::int32_t unit, UnitBlock** out, IoControlBlock* cb,
                                        StatementKind kind) {
  rt::for__handover_point();  // before the table is looked at
  UnitBlock* u = free_block(unit, kind);
  if (u == nullptr) {
    if (msg::Id id = make_or_refuse(unit, kind, &u)) {
      *out = nullptr;
      return id;
    }
  }
  return claim(u, out, cb, kind);
}

}  // namespace

msg::Id for__acquire_lun(std::int32_t unit, UnitBlock** out, IoControlBlock* cb,
                         StatementKind kind) {
  // No call on the common path: the hand-over is looked at only when asked.
  UnitBlock* u = rt::for__handover_asked() ? nullptr : free_block(unit, kind);
  if (u == nullptr) [[unlikely]]
    return acquire_other(unit, out, cb, kind);
  return claim(u, out, cb, kind);
}

int for__internal_depth() {
  return for__lub_table.internal_top;
}

void for__pop_internal_block(UnitBlock* u) {
  UnitTable& t = for__lub_table;
  // Blocks are released in reverse order of acquisition.
  if (t.internal_top > 0 && u == &t.internal[static_cast<std::size_t>(t.internal_top - 1)])
    --t.internal_top;
  u->statement.internal.target = nullptr;
  u->statement.internal.length = 0;
}

void for__deallocate_lub(std::int32_t unit) {
  if (unit <= kInternalUnit) return;
  UnitTable& t = for__lub_table;
  if (has_direct_slot(unit)) {
    direct_slot(unit).reset();
    return;
  }
  rt::VmUnique<ChainNode>* link = &t.chains[static_cast<std::size_t>(chain_index(unit))];
  while (*link && (*link)->block->unit != unit) link = &(*link)->next;
  if (*link) *link = std::move((*link)->next);
}

UnitBlock* for__find_unit_block(std::int32_t unit) {
  if (unit <= kInternalUnit) return nullptr;
  BlockPtr* slot = find_slot(unit, false);
  return slot != nullptr ? slot->get() : nullptr;
}

UnitBlock* for__get_next_lub(UnitTableCursor* cursor) {
  UnitTable& t = for__lub_table;
  while (cursor->slot < kDirectSlots) {
    UnitBlock* u = t.slots[static_cast<std::size_t>(cursor->slot++)].get();
    if (u != nullptr) return u;
  }
  while (cursor->chain < kHashChains) {
    for (ChainNode* n = t.chains[static_cast<std::size_t>(cursor->chain)].get(); n != nullptr;
         n = n->next.get()) {
      if (n->block->unit > cursor->after_unit) {
        cursor->after_unit = n->block->unit;
        return n->block.get();
      }
    }
    ++cursor->chain;
    cursor->after_unit = INT64_MIN;
  }
  return nullptr;
}

void reset_unit_block(UnitBlock* u) {
  // The statement that holds the unit goes on holding it; a platform error
  // saved for it belonged to the connection.
  u->connected = false;
  u->connection = UnitConnection{};
  u->position = UnitPosition{};
  u->statement.os_error = 0;
  u->statement.reason = 0;
}

}  // namespace recio
