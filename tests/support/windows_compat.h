// Included first into every unit test file of the Windows build: the few
// POSIX calls the tests make, in terms of the C library of Windows, and the
// two expectations that Windows changes.
#pragma once

#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

// Files the tests open (captures of the standard streams included) are
// binary: the tests compare the run-time's own bytes. The C library's text
// mode on the program's console is checked by the end-to-end tests.
inline const int windows_compat_binary_files =
    (_fmode = _O_BINARY, _setmode(_fileno(stderr), _O_BINARY));

namespace testing {
// A process ends with the run-time's full 32-bit status; the tests state
// the low byte that a POSIX parent sees.
class ExitedWithLowByte {
 public:
  explicit ExitedWithLowByte(int code) : code_(code) {}
  bool operator()(int status) const { return (status & 0xFF) == code_; }

 private:
  int code_;
};
}  // namespace testing
#define ExitedWithCode ExitedWithLowByte

#define SKIP_ON_WINDOWS(reason) GTEST_SKIP() << "not on Windows: " << reason

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char* name) {
  return _putenv_s(name, "") == 0 ? 0 : -1;
}
inline char* mkdtemp(char* templ) {
  return _mktemp(templ) != nullptr && _mkdir(templ) == 0 ? templ : nullptr;
}
inline int pipe(int fds[2]) {
  return _pipe(fds, 65536, _O_BINARY);
}

// No counterpart on Windows: they fail, and the tests that need them are
// skipped before they get there.
#define F_GETFD 1
inline int fcntl(int, int, ...) {
  errno = ENOSYS;
  return -1;
}
inline int mkfifo(const char*, int) {
  errno = ENOSYS;
  return -1;
}
inline long readlink(const char*, char*, size_t) {
  errno = ENOSYS;
  return -1;
}
inline unsigned geteuid() {
  return 1;
}
inline int setuid(unsigned) {
  errno = ENOSYS;
  return -1;
}
inline int setgid(unsigned) {
  errno = ENOSYS;
  return -1;
}
