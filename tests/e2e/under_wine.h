// The Windows build's end-to-end run: the same tests start the cross-built
// programs through Wine (MAPCONV_LAUNCHER). Everything the Windows layer
// changes in what a test sees is stated here, and only here:
//  - standard error, the diagnostic log file and the text of --help and
//    --version are the C library's streams in text mode, so every LF written
//    there arrives as CR LF (a catalog line ends in CR CR LF, a traceback
//    line in CR LF); as_written undoes it, and run_program applies it to
//    standard error, keeping the raw bytes in err_bytes;
//  - a Linux file /dir/name is Z:\dir\name to the program, and that is how
//    its full paths show;
//  - the programs' image names carry the suffix .exe;
//  - the exit status is the low byte of the program's 32-bit status, as on
//    Linux, but a process ended by an exception has the exception code as
//    its status, where Linux reports a signal (ended_by_exception in
//    run_program.h).
// Runs that need what only POSIX can give a child (signals sent to it as
// console events, where Wine makes only a terminal a console and the keys
// typed there are tested in terminal_e2e_test.cpp; FIFOs, closed standard
// descriptors, an address-space limit, no argument vector at all) are
// skipped with SKIP_UNDER_WINE.
#pragma once

#include <string>

namespace e2e {

#ifdef MAPCONV_LAUNCHER
inline constexpr bool kUnderWine = true;
#define SKIP_UNDER_WINE(reason) GTEST_SKIP() << "not under Wine: " << reason
#else
inline constexpr bool kUnderWine = false;
#define SKIP_UNDER_WINE(reason) static_cast<void>(0)
#endif

// What the program wrote to standard error, as the run-time wrote it: the
// text mode's CR before each LF taken out.
inline std::string undo_text_mode(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out.push_back(bytes[i]);
  }
  return out;
}

// The program's text with its Windows names in Linux form: Z:\dir\name as
// /dir/name, image.exe as image (blank-padded in a column).
inline std::string as_linux_names(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 3, "Z:\\") == 0) {
      i += 2;
      for (; i < text.size() && text[i] != ' ' && text[i] != '\r' && text[i] != '\n' &&
             text[i] != ',' && text[i] != '"';
           ++i)
        out.push_back(text[i] == '\\' ? '/' : text[i]);
      continue;
    }
    if (text.compare(i, 4, ".exe") == 0) {
      // In a traceback column the name keeps its width.
      if (i + 4 < text.size() && text[i + 4] == ' ') out.append(4, ' ');
      i += 4;
      continue;
    }
    out.push_back(text[i++]);
  }
  return out;
}

// Text the program wrote through the C library (see above), as written.
inline std::string as_written(const std::string& bytes) {
  if constexpr (kUnderWine) return as_linux_names(undo_text_mode(bytes));
  return bytes;
}

}  // namespace e2e
