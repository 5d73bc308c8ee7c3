// The program's main routine, run by the run-time's main inside its frame
// (start-up, exit handler). Kept apart from the process entry so that a test
// driver can run the very same routine.
#pragma once

namespace app {

// Obtains the two file names from the command line or the console, runs
// CONVERT once and writes its result to the console. Returns 0.
int map_front_end();

}  // namespace app
