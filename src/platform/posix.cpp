// POSIX implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

// ENOENT means "path not found" when the directory part does not exist.
OpenError classify_open_error(int err, const char* name) {
  switch (err) {
    case ENOENT: {
      const char* slash = std::strrchr(name, '/');
      if (slash == nullptr) return OpenError::kFileNotFound;
      char dir[4096];
      const std::size_t n = static_cast<std::size_t>(slash - name);
      if (n >= sizeof dir) return OpenError::kPathNotFound;
      std::memcpy(dir, name, n);
      dir[n] = '\0';
      if (n == 0) std::strcpy(dir, "/");
      struct stat st;
      return (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) ? OpenError::kFileNotFound
                                                            : OpenError::kPathNotFound;
    }
    case ENOTDIR:
      return OpenError::kPathNotFound;
    case EMFILE:
    case ENFILE:
      return OpenError::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
      return OpenError::kAccessDenied;
    case EROFS:
      return OpenError::kWriteProtected;
    case EEXIST:
      return OpenError::kFileExists;
    case ENAMETOOLONG:
      return OpenError::kNameTooLong;
    case ENXIO:
    case ENODEV:
      return OpenError::kBadUnit;
    default:
      return OpenError::kOther;
  }
}

}  // namespace

OpenResult open_file(const char* name, Access access, Disposition disposition) {
  OpenResult r;
  if (name[0] == '\0') {
    r.error = ENOENT;
    r.kind = OpenError::kPathNotFound;
    return r;
  }
  int flags = O_CLOEXEC;
  switch (access) {
    case Access::kRead:
      flags |= O_RDONLY;
      break;
    case Access::kWrite:
      flags |= O_WRONLY;
      break;
    case Access::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  switch (disposition) {
    case Disposition::kOpenExisting:
      break;
    case Disposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case Disposition::kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case Disposition::kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
  }
  int fd;
  do {
    fd = ::open(name, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    r.error = errno;
    r.kind = classify_open_error(r.error, name);
    return r;
  }
  // A directory opens read-only on POSIX; it is no file for records.
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    r.error = EISDIR;
    r.kind = OpenError::kAccessDenied;
    return r;
  }
  r.handle = fd;
  return r;
}

long read_bytes(Handle h, void* buffer, std::size_t count, int* error) {
  for (;;) {
    ssize_t n = ::read(h, buffer, count);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    *error = errno;
    return -1;
  }
}

bool write_bytes(Handle h, const void* buffer, std::size_t count, int* error) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    ssize_t n = ::write(h, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool seek(Handle h, std::int64_t offset, Whence whence, std::int64_t* position, int* error) {
  int w = whence == Whence::kBegin ? SEEK_SET : whence == Whence::kCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(h, static_cast<off_t>(offset), w);
  if (r < 0) {
    *error = errno;
    return false;
  }
  if (position != nullptr) *position = static_cast<std::int64_t>(r);
  return true;
}

bool set_end_of_file(Handle h, int* error) {
  off_t pos = ::lseek(h, 0, SEEK_CUR);
  if (pos < 0 || ::ftruncate(h, pos) != 0) {
    *error = errno;
    return false;
  }
  return true;
}

bool close_handle(Handle h, int* error) {
  if (::close(h) != 0 && errno != EINTR) {
    *error = errno;
    return false;
  }
  return true;
}

FileType file_type(Handle h) {
  struct stat st;
  if (::fstat(h, &st) != 0) return FileType::kOther;
  if (S_ISREG(st.st_mode)) return FileType::kDisk;
  if (S_ISCHR(st.st_mode)) return FileType::kCharacter;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FileType::kPipe;
  return FileType::kOther;
}

Handle std_handle(StdStream which) {
  switch (which) {
    case StdStream::kInput:
      return STDIN_FILENO;
    case StdStream::kOutput:
      return STDOUT_FILENO;
    case StdStream::kError:
      return STDERR_FILENO;
  }
  return kInvalidHandle;
}

std::size_t full_path(const char* name, char* out, std::size_t cap) {
  std::string joined;
  if (name[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return 0;
    joined = cwd;
    joined += '/';
  }
  joined += name;
  // Lexical canonical form: fold "//", drop ".", resolve "..".
  std::string result;
  std::size_t i = 0;
  while (i < joined.size()) {
    while (i < joined.size() && joined[i] == '/') ++i;
    std::size_t j = joined.find('/', i);
    if (j == std::string::npos) j = joined.size();
    std::string part = joined.substr(i, j - i);
    i = j;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      std::size_t cut = result.rfind('/');
      result.erase(cut == std::string::npos ? 0 : cut);
      continue;
    }
    result += '/';
    result += part;
  }
  if (result.empty()) result.push_back('/');
  if (result.size() + 1 > cap) return 0;
  std::memcpy(out, result.c_str(), result.size() + 1);
  return result.size();
}

bool same_file(const char* name, Handle h) {
  struct stat a, b;
  if (::stat(name, &a) != 0 || ::fstat(h, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void error_text(int error, char* out, std::size_t cap) {
  char text[256];
  const char* s = ::strerror_r(error, text, sizeof text);  // GNU variant returns the text
  std::snprintf(out, cap, "%s\n", s != nullptr ? s : "Unknown error");
}

OpenResult create_temp_file(const char* prefix, char* out, std::size_t cap) {
  OpenResult r;
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || dir[0] == '\0') dir = "/tmp";
  int n = std::snprintf(out, cap, "%s/%sXXXXXX", dir, prefix);
  if (n < 0 || static_cast<std::size_t>(n) >= cap) {
    r.error = ENAMETOOLONG;
    r.kind = OpenError::kNameTooLong;
    return r;
  }
  int fd = ::mkostemp(out, O_CLOEXEC);
  if (fd < 0) {
    r.error = errno;
    r.kind = classify_open_error(r.error, out);
    return r;
  }
  r.handle = fd;
  return r;
}

bool delete_file(const char* name, int* error) {
  if (::unlink(name) != 0) {
    *error = errno;
    return false;
  }
  return true;
}

const char* get_env(const char* name) {
  return std::getenv(name);
}

void exit_process(std::uint32_t status) {
  std::exit(static_cast<int>(status));
}

void exit_process_now(std::uint32_t status) {
  ::_exit(static_cast<int>(status));
}

void abort_process(int status) {
  ::_exit(status);
}

bool append_to_file(const char* name, const char* bytes, std::size_t length) {
  int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  int err = 0;
  bool ok = write_bytes(fd, bytes, length, &err);
  ::close(fd);
  return ok;
}

bool redirect_stderr_append(const char* name) {
  int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = ::dup2(fd, STDERR_FILENO) >= 0;
  ::close(fd);
  return ok;
}

void write_stderr(const char* text, std::size_t length) {
  int err = 0;
  write_bytes(STDERR_FILENO, text, length, &err);
}

void write_stdout(const char* text, std::size_t length) {
  int err = 0;
  write_bytes(STDOUT_FILENO, text, length, &err);
}

std::size_t module_path(char* out, std::size_t cap) {
  if (cap == 0) return 0;
  const ssize_t n = ::readlink("/proc/self/exe", out, cap);
  if (n <= 0 || static_cast<std::size_t>(n) >= cap) return 0;
  out[n] = '\0';
  return static_cast<std::size_t>(n);
}

}  // namespace plat
