// mapdump: shows a map as text. An unformatted map file is read record by
// record through the run-time's unformatted input and checked as it streams
// (five header records of 80, 18, 28, 48 and 24 bytes, NZ planes of 12·NX·NY
// bytes, nothing after them); a text map is read by CONVERT itself. The
// result is the map's canonical text (map_text.h), which mapconv converts to
// the same bytes again, or with -s a summary.
#pragma once

namespace app {

// Exit statuses, for scripts.
enum DumpStatus : int {
  kDumpDone = 0,
  kDumpInvalidMap = 1,  // not a map, a malformed map, or a value the text cannot hold
  kDumpUsage = 2,       // the command line
  kDumpFileError = 3,   // the map cannot be opened or read, or the output not written
};

// The program's main routine, run by the run-time's frame.
int dump_front_end();

}  // namespace app
