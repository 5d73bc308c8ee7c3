// Scratch files for tests: a fresh directory per test, whole-file reads and writes.
#pragma once

#include <string>
#include <vector>

// Skips a test that needs what only POSIX has; the Windows build defines it.
#ifndef SKIP_ON_WINDOWS
#define SKIP_ON_WINDOWS(reason) static_cast<void>(0)
#endif

namespace testsupport {

#ifdef _WIN32
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

// False for a value that the platform's environment cannot hold: the C
// library of Windows removes a variable set to the empty text. A table row
// that needs it is left out there; the rest of its table still runs.
inline bool environment_holds(const char* value) {
  return !kOnWindows || value == nullptr || *value != '\0';
}

// A new empty directory under the system's temporary directory, removed with
// its contents when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Joined with the platform's own separator, as the run-time's full paths
  // show it.
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// Bytes from a list of small integers, for expected-bytes tables.
std::string bytes(std::initializer_list<int> values);

}  // namespace testsupport
