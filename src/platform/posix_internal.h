// Shared between the files of the POSIX layer; not part of the interface.
#pragma once

#include <cstdint>

namespace plat {

// The program counter saved in an exception context.
std::uintptr_t exception_context_pc(const void* context);

// Coverage builds only (otherwise nothing): writes the coverage counters
// before an end that runs no exit handlers, which would lose them.
void flush_coverage();

}  // namespace plat
