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

// Internal statements do not nest in this system beyond a routine called
// while an item is transferred; a few levels are plenty.

// for__lub_table: the run-time's process-wide unit table.
struct LubTable {
  std::array<BlockPtr, kDirectSlots> slots;
  std::array<rt::VmUnique<ChainNode>, kHashChains> chains;
  std::array<UnitBlock, kInternalDepth> internal;  // reused: no allocation per statement
  int internal_top = 0;
};

// for__lub_table: the run-time's process-wide unit table. Constant-initialised
// (no guard on the per-statement path).
LubTable lub_table;

LubTable& for__lub_table() {
  return lub_table;
}

int chain_index(std::int32_t unit) {
  return static_cast<int>((static_cast<std::int64_t>(unit) + 5) % kHashChains);
}

// The slot holding the unit's block; with `create`, a chain entry is made
// for a new unit of 100 and above (null when memory is short).
BlockPtr* find_slot(std::int32_t unit, bool create) {
  LubTable& t = for__lub_table();
  if (unit < 100) return &t.slots[static_cast<std::size_t>(unit + 5)];
  rt::VmUnique<ChainNode>* link = &t.chains[static_cast<std::size_t>(chain_index(unit))];
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

}  // namespace

namespace {

// The block of a unit not yet referenced, made zero-filled in its slot.
[[gnu::noinline]] UnitBlock* create_block(std::int32_t unit) {
  BlockPtr* slot = find_slot(unit, true);
  if (slot == nullptr) return nullptr;
  if (!*slot) {
    *slot = rt::vm_create<UnitBlock>();
    if (!*slot) return nullptr;
    (*slot)->unit = unit;
  }
  return slot->get();
}

// Every case: the hand-over, new blocks, chains, refusals.
[[gnu::noinline]] msg::Id acquire_general(std::int32_t unit, UnitBlock** out, IoControlBlock* cb,
                                          StatementKind kind) {
  rt::for__handover_point();  // before the table is looked at
  *out = nullptr;
  LubTable& t = for__lub_table();
  UnitBlock* u = nullptr;
  if (unit > kInternalUnit && unit < 100) {
    // A direct slot: no search once the block exists.
    u = t.slots[static_cast<std::size_t>(unit + 5)].get();
    if (u == nullptr && (u = create_block(unit)) == nullptr) return msg::kNoMemory;
    if (u->busy != 0) return msg::kRecursiveIo;
  } else if (unit == kInternalUnit) {
    // Unit -5 names internal records only; an external statement on it would
    // connect a recycled internal block.
    if (kind != StatementKind::kInternalRead && kind != StatementKind::kInternalWrite)
      return msg::kInvalidUnit;
    if (t.internal_top >= kInternalDepth) return msg::kNoMemory;
    u = &t.internal[static_cast<std::size_t>(t.internal_top)];
    u->unit = kInternalUnit;
    ++t.internal_top;
  } else {
    if (unit < kInternalUnit) return msg::kInvalidUnit;
    if ((u = create_block(unit)) == nullptr) return msg::kNoMemory;
    if (u->busy != 0) return msg::kRecursiveIo;
  }
  u->busy = 1;
  u->kind = kind;
  if (cb != nullptr) cb->unit = u;
  *out = u;
  return 0;
}

bool is_internal_kind(StatementKind kind) {
  return kind == StatementKind::kInternalRead || kind == StatementKind::kInternalWrite;
}

}  // namespace

msg::Id for__acquire_lun(std::int32_t unit, UnitBlock** out, IoControlBlock* cb,
                         StatementKind kind) {
  // The common statement without a call: no hand-over asked for, and an
  // existing free block in a direct slot or room on the internal stack.
  LubTable& t = for__lub_table();
  UnitBlock* u = nullptr;
  if (!rt::for__handover_asked()) {
    if (unit > kInternalUnit && unit < 100) {
      u = t.slots[static_cast<std::size_t>(unit + 5)].get();
      if (u != nullptr && u->busy != 0) u = nullptr;
    } else if (unit == kInternalUnit && is_internal_kind(kind) && t.internal_top < kInternalDepth) {
      u = &t.internal[static_cast<std::size_t>(t.internal_top++)];
      u->unit = kInternalUnit;
    }
  }
  if (u == nullptr) return acquire_general(unit, out, cb, kind);
  u->busy = 1;
  u->kind = kind;
  if (cb != nullptr) cb->unit = u;
  *out = u;
  return 0;
}

int for__internal_depth() {
  return for__lub_table().internal_top;
}

void for__pop_internal_block(UnitBlock* u) {
  LubTable& t = for__lub_table();
  // Blocks are released in reverse order of acquisition.
  if (t.internal_top > 0 && u == &t.internal[static_cast<std::size_t>(t.internal_top - 1)])
    --t.internal_top;
  u->internal_target = nullptr;
  u->internal_length = 0;
}

void for__deallocate_lub(std::int32_t unit) {
  if (unit <= kInternalUnit) return;
  LubTable& t = for__lub_table();
  if (unit < 100) {
    t.slots[static_cast<std::size_t>(unit + 5)].reset();
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

UnitBlock* for__get_next_lub(LubCursor* cursor) {
  LubTable& t = for__lub_table();
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
