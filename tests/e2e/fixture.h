// Common frame of the end-to-end tests: a scratch directory to run the
// converter in, and the console texts it is expected to write.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "e2e/map_files.h"
#include "e2e/run_program.h"
#include "support/test_files.h"

namespace e2e {

inline const std::string kDone = " conversion done.\r\n";
inline const std::string kInputPrompt = " formatted MAP filename (input) [<RET>=exit]: ";
inline const std::string kOutputPrompt = " unformatted MAP filename (output) [<RET>=exit]: ";

// An 80-character message as the console shows it: a list-directed line holds
// 80 columns including its leading blank, so the 80th character goes on a
// second line.
inline std::string console_message(const std::string& text) {
  const std::string message = fixed(text, 80);
  std::string lines(1, ' ');
  lines.append(message, 0, 79).append("\r\n ").append(message, 79).append("\r\n");
  return lines;
}

// The diagnostic line of a severe run-time condition.
inline std::string severe(int number, const std::string& text) {
  std::string line = "forrtl: severe (";
  line.append(std::to_string(number)).append("): ").append(text).append("\r\n");
  return line;
}

// The system's words for an error, as a note on standard error ends with
// them. Under Wine they are the system's own text, so the tests compare
// notes with the reason masked (mask_reasons).
inline std::string reason(int error) {
  return kUnderWine ? "(reason)" : std::strerror(error);
}
inline std::string mask_reasons(const std::string& err) {
  if constexpr (!kUnderWine) return err;
  std::string out;
  for (std::size_t at = 0; at < err.size();) {
    std::size_t end = err.find('\n', at);
    end = end == std::string::npos ? err.size() : end + 1;
    std::string line = err.substr(at, end - at);
    if (line.starts_with("mapconv: cannot open ")) {
      const std::size_t colon = line.find(": ", 21);
      if (colon != std::string::npos) line = line.substr(0, colon + 2) + "(reason)\n";
    }
    out += line;
    at = end;
  }
  return out;
}

// The tests here compare diagnostic lines exactly: no traceback after them,
// unless a test sets the switch itself.
inline ProgramRun with_bare_diagnostics(ProgramRun r) {
  for (const std::string& e : r.env) {
    if (e.rfind("FOR_DISABLE_STACK_TRACE=", 0) == 0) return r;
  }
  r.env.push_back("FOR_DISABLE_STACK_TRACE=true");
  return r;
}

class ConverterTest : public ::testing::Test {
 protected:
  // Runs the converter in the scratch directory with the given arguments.
  ProgramResult run(std::vector<std::string> args, std::string input = "",
                    std::vector<std::string> env = {"LC_ALL=C"}) {
    ProgramRun r;
    r.args = std::move(args);
    r.input = std::move(input);
    r.cwd = dir.path();
    r.env = std::move(env);
    return run_mapconv(with_bare_diagnostics(std::move(r)));
  }

  // Writes `map_text` to in.map and converts it to out.unf.
  ProgramResult convert(const std::string& map_text, std::vector<std::string> env = {"LC_ALL=C"}) {
    testsupport::write_file(dir.file("in.map"), map_text);
    return run({"in.map", "out.unf"}, "", std::move(env));
  }

  std::string output() const { return testsupport::read_file(dir.file("out.unf")); }
  bool output_exists() const { return testsupport::file_exists(dir.file("out.unf")); }

  static void expect_done(const ProgramResult& r) {
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, kDone);
    EXPECT_EQ(r.err, "");
  }

  testsupport::ScratchDir dir;
};

}  // namespace e2e
