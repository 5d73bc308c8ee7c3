// The unit table (for__lub_table): one unit block per logical unit number.
// Units above kInternalUnit and below kFirstChainedUnit live in direct slots
// (no search); units from kFirstChainedUnit on in kHashChains chains sorted by
// unit number; unit -5 (internal records) gets a fresh block per statement
// from a small stack. Blocks are created zero-filled at the
// first reference and freed after CLOSE. Acquiring marks a unit busy for the
// length of one statement.
#pragma once

#include <climits>
#include <cstdint>

#include "recio/unit.h"
#include "rt/messages.h"

namespace recio {

inline constexpr std::int32_t kInternalUnit = -5;
// Units -4 to 99: every unit a program names by a small number.
inline constexpr std::int32_t kFirstChainedUnit = 100;
// Slot i holds unit kInternalUnit + i; slot 0 (the internal unit) stays empty.
inline constexpr int kDirectSlots = kFirstChainedUnit - kInternalUnit;
inline constexpr int kHashChains = 521;
// Internal statements nest only through a routine called while an item is
// transferred; a few levels are plenty.
inline constexpr int kInternalDepth = 8;

struct IoControlBlock;

// Finds or creates the unit's block, marks it busy, records the statement
// kind and links it to the control block (*out stays null on failure).
// Inline-cheap for an existing free block in a direct slot and for the
// internal stack. Returns 0, msg::kInvalidUnit (below -5, or -5 for a statement that
// is not an internal read or write), msg::kRecursiveIo (busy) or
// msg::kNoMemory.
msg::Id for__acquire_lun(std::int32_t unit, UnitBlock** out, IoControlBlock* cb,
                         StatementKind kind);
// Gives an internal block back to the stack it came from.
void for__pop_internal_block(UnitBlock* u);
// Ends the hold; an internal block is popped and recycled. Inline: it ends
// every statement.
inline void for__release_lun(UnitBlock* u) {
  if (u == nullptr) return;
  u->busy = 0;
  u->statement.kind = StatementKind::kNone;
  if (u->unit == kInternalUnit) for__pop_internal_block(u);
}
// Internal statements in progress (blocks taken from the internal stack).
int for__internal_depth();
// Frees the block of an unconnected unit after CLOSE.
void for__deallocate_lub(std::int32_t unit);

// The block of a unit if it exists (no creation, no hold).
UnitBlock* for__find_unit_block(std::int32_t unit);

// Position of a walk over the table; a block returned by the walk may be
// freed before the next step.
struct UnitTableCursor {
  int slot = 0;
  int chain = 0;
  std::int64_t after_unit = INT64_MIN;
};
// Walks the table in unit-table order: direct slots, then chains. Returns the
// next existing block or null at the end.
UnitBlock* for__get_next_lub(UnitTableCursor* cursor);

// Resets a block to unconnected: its connection and position go (buffers and
// name released; the handle is not closed here); the unit number, the hold
// and the statement that holds it stay.
void reset_unit_block(UnitBlock* u);

}  // namespace recio
