// The two requests a command line can make instead of naming files: --help
// (or -h) and --version. Only arguments 1 and 2 are looked at, and only an
// exact match counts, so every other argument stays a file name.
#pragma once

namespace app {

// Writes the usage or the version to standard output (plain text, LF line
// ends) when argument 1 or 2 asks for it, and returns true; the caller then
// ends the run. A failed write is the severe diagnostic of a console write
// and does not return.
bool answer_information_request();

}  // namespace app
