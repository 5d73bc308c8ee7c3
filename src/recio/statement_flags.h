// The flag word of the statement in progress and the one way a failed
// statement ends. A statement keeps its flag word from its start call on; a
// condition is raised once, as a message identifier, and finish_failed turns
// it into the statement's result: the branch the caller offered (-1, -2), the
// status it asked for, or a diagnostic. Every failure of every statement ends
// here, whether the statement obtained its unit or not.
#pragma once

#include <cstdint>

#include "rt/messages.h"

namespace recio {

struct UnitBlock;

// What finish_failed does with the unit once the outcome is decided.
enum UnitDisposition : int {
  kUnitLeave = 0,
  kUnitRelease = 1,  // end the statement's hold
  kUnitReset = 2,    // back to unconnected, then release
  kUnitClose = 3,    // close with the default disposition
};

class StatementFlags {
 public:
  constexpr StatementFlags() = default;
  // Implicit: a statement's flags are its flag word.
  constexpr StatementFlags(std::uint32_t word)
      : word_(word) {}  // NOLINT(google-explicit-constructor)

  constexpr std::uint32_t word() const { return word_; }
  constexpr bool has(std::uint32_t bits) const { return (word_ & bits) != 0; }

  // Ends a failed statement on `unit`. `u` is its block, or null when the
  // statement failed before it obtained one (the diagnostic then names the
  // file "unknown" and nothing becomes of a unit). Returns -1 (end of file)
  // or -2 (end of record) under the matching branch, the low 16 bits of
  // `status` under the error check (and for output conversion errors when
  // they are asked for as status), or the low 16 bits of the identifier
  // after a class 1-2 diagnostic; a severe diagnostic does not return. The
  // unit's saved platform error goes with the diagnostic, or is kept for
  // for__handled_reason when the caller handles the failure. An unknown
  // disposition is an internal error (8).
  int finish_failed(msg::Id id, int status, std::int32_t unit, UnitBlock* u,
                    UnitDisposition disposition) const;

 private:
  // True when the caller handles `id`; *result is then the statement's result.
  bool caller_handles(msg::Id id, int status, int* result) const;

  std::uint32_t word_ = 0;
};

}  // namespace recio
