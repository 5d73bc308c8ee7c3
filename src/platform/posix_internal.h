// Shared between the files of the POSIX layer; not part of the interface.
#pragma once

#include <cstdint>

namespace plat {

// The program counter saved in an exception context.
std::uintptr_t exception_context_pc(const void* context);

}  // namespace plat
