// Files a program writes under a temporary name and renames when they are
// whole (mapdump's text output). The run-time knows them so that an end it
// forces before the rename (a console event, a severe diagnostic, a
// processor exception) leaves none behind: the exit handler closes each
// registered file and removes it. The program's own end removes or renames
// them itself and forgets them first.
//
// Process-wide: a few slots, written by the program's one thread; the exit
// handler reads them once the main thread has stopped (the hand-over) or on
// that thread itself. Nothing here allocates, so the removal is safe while a
// processor exception is handled.
#pragma once

#include <cstdio>

namespace rt {

inline constexpr int kTemporaryFileSlots = 4;

// Registers the file `name`, open as `stream`. `name` must stay valid until
// the file is forgotten. Returns the slot, or -1 when every slot is taken or
// the stream has no file beneath it.
int for__register_temporary(const char* name, std::FILE* stream);
// The program takes the file back (before closing or renaming it).
void for__forget_temporary(int slot);
// Exit handler: closes and removes every registered file, then forgets it.
// A file that cannot be removed is named where diagnostics go.
void for__remove_temporaries();

}  // namespace rt
