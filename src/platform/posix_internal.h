// Shared between the files of the POSIX layer; not part of the interface.
#pragma once

#include <sys/stat.h>

#include <climits>
#include <cstdint>

namespace plat {

// A path as the system takes it, terminator included.
inline constexpr std::size_t kPathSize = PATH_MAX;
// The system's text of an error, before the line end is added.
inline constexpr std::size_t kErrorTextSize = 256;
// A new file may be read and written by all, less what the umask takes.
inline constexpr mode_t kNewFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
// Every permission bit of a mode: access, set-user-ID, set-group-ID, sticky.
inline constexpr mode_t kPermissionBits = S_ISUID | S_ISGID | S_ISVTX | S_IRWXU | S_IRWXG | S_IRWXO;

// The program counter saved in an exception context.
std::uintptr_t exception_context_pc(const void* context);

// Coverage builds only (otherwise nothing): writes the coverage counters
// before an end that runs no exit handlers, which would lose them.
void flush_coverage();

}  // namespace plat
