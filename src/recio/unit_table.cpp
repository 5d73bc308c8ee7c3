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

// The block a statement on `unit` works on, or the refusal. Only unit -5
// takes a block from the internal stack.
[[gnu::always_inline]] inline msg::Id block_of(std::int32_t unit, StatementKind kind,
                                               UnitBlock** out) {
  UnitTable& t = for__lub_table;
  UnitBlock* u = nullptr;
  if (has_direct_slot(unit)) [[likely]] {
    u = direct_slot(unit).get();
    if (u == nullptr && (u = find_or_create_block(unit)) == nullptr) return msg::kNoMemory;
  } else if (unit == kInternalUnit) {
    // Unit -5 names internal records only; an external statement on it would
    // connect a recycled internal block.
    if (!is_internal_kind(kind)) return msg::kInvalidUnit;
    if (t.internal_top >= kInternalDepth) return msg::kNoMemory;
    u = &t.internal[static_cast<std::size_t>(t.internal_top++)];
    u->unit = kInternalUnit;
  } else {
    if (unit < kInternalUnit) return msg::kInvalidUnit;
    if ((u = find_or_create_block(unit)) == nullptr) return msg::kNoMemory;
  }
  *out = u;
  return 0;
}

}  // namespace

msg::Id for__acquire_lun(std::int32_t unit, UnitBlock** out, IoControlBlock* cb,
                         StatementKind kind) {
  rt::for__handover_point();  // before the table is looked at
  UnitBlock* u = nullptr;
  msg::Id id = block_of(unit, kind, &u);
  if (id == 0 && u->busy != 0) id = msg::kRecursiveIo;
  if (id != 0) [[unlikely]] {
    *out = nullptr;
    return id;
  }
  u->busy = 1;
  u->kind = kind;
  if (cb != nullptr) cb->unit = u;
  *out = u;
  return 0;
}

int for__internal_depth() {
  return for__lub_table.internal_top;
}

void for__pop_internal_block(UnitBlock* u) {
  UnitTable& t = for__lub_table;
  // Blocks are released in reverse order of acquisition.
  if (t.internal_top > 0 && u == &t.internal[static_cast<std::size_t>(t.internal_top - 1)])
    --t.internal_top;
  u->internal_target = nullptr;
  u->internal_length = 0;
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

UnitBlock* for__find_lub(std::int32_t unit) {
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
  const std::int32_t unit = u->unit;
  const std::uint32_t busy = u->busy;
  const StatementKind kind = u->kind;
  const std::uint32_t flags = u->stmt_flags;
  *u = UnitBlock{};
  u->unit = unit;
  u->busy = busy;
  u->kind = kind;
  u->stmt_flags = flags;
}

}  // namespace recio
