// POSIX implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

#ifdef MAPCONV_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace plat {

void flush_coverage() {
#ifdef MAPCONV_COVERAGE
  __gcov_dump();
#endif
}
namespace {

// ENOENT means "path not found" when the directory part does not exist.
OpenError classify_open_error(int err, const char* name) {
  switch (err) {
    case ENOENT: {
      const char* slash = std::strrchr(name, '/');
      if (slash == nullptr) return OpenError::kFileNotFound;
      char dir[kPathSize];
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

// A descriptor of 0, 1 or 2 would be taken for a standard stream, and console
// output or diagnostics would land in the file: it moves to 3 or above.
int keep_off_standard(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int err = errno;
  ::close(fd);
  errno = err;
  return moved;
}

FileType type_of_mode(mode_t mode) {
  if (S_ISREG(mode)) return FileType::kDisk;
  if (S_ISCHR(mode)) return FileType::kCharacter;
  if (S_ISFIFO(mode) || S_ISSOCK(mode)) return FileType::kPipe;
  return FileType::kOther;
}

bool write_all(Handle h, const void* buffer, std::size_t count, int* error) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    ssize_t n = ::write(h, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    // No progress without an error would repeat for ever.
    if (n == 0) {
      *error = EIO;
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int failure_code(FailureMeaning meaning) {
  static constexpr int kCodes[] = {EIO, EMFILE, ENOSPC};
  return kCodes[static_cast<int>(meaning)];
}

// A terminal passes bytes through unchanged, as the file calls take them.
void agree_console_code_pages() {}

void ensure_standard_handles() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Opened for the other direction: reading or writing it fails with
    // EBADF exactly as on the closed descriptor. The lower ones are open, so
    // the open takes this number.
    const int placeholder = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (placeholder >= 0 && placeholder != fd) {
      ::dup2(placeholder, fd);
      ::close(placeholder);
    }
  }
}

OpenResult open_file(const char* name, Access access, Disposition disposition) {
  OpenResult r;
  if (name[0] == '\0') {
    r.error = ENOENT;
    r.kind = OpenError::kPathNotFound;
    return r;
  }
  if (faults::injected(Operation::kOpen, &r.error)) {
    r.kind = classify_open_error(r.error, name);
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
    fd = ::open(name, flags, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  fd = keep_off_standard(fd);
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
  if (faults::injected(Operation::kRead, error)) return -1;
  for (;;) {
    ssize_t n = ::read(h, buffer, count);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    *error = errno;
    return -1;
  }
}

bool write_bytes(Handle h, const void* buffer, std::size_t count, int* error) {
  if (faults::injected(Operation::kWrite, error)) return false;
  return write_all(h, buffer, count, error);
}

bool seek(Handle h, std::int64_t offset, Whence whence, std::int64_t* position, int* error) {
  if (faults::injected(Operation::kSeek, error)) return false;
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
  if (faults::injected(Operation::kSetEndOfFile, error)) return false;
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
  return !faults::injected(Operation::kClose, error);
}

FileType file_type(Handle h) {
  struct stat st;
  return ::fstat(h, &st) == 0 ? type_of_mode(st.st_mode) : FileType::kOther;
}

FileType file_type_of_name(const char* name) {
  struct stat st;
  return ::stat(name, &st) == 0 ? type_of_mode(st.st_mode) : FileType::kOther;
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
  // The joined path is made canonical in place: each component written is no
  // longer than the text it was read from, so the write position never
  // passes the read position.
  char path[2 * PATH_MAX];
  std::size_t length = 0;
  const std::size_t name_length = std::strlen(name);
  if (name[0] != '/') {
    if (::getcwd(path, PATH_MAX) == nullptr) return 0;
    length = std::strlen(path);
    path[length++] = '/';
  }
  if (length + name_length >= sizeof path) return 0;
  std::memcpy(path + length, name, name_length);
  length += name_length;

  std::size_t read = 0, written = 0;
  while (read < length) {
    while (read < length && path[read] == '/') ++read;
    std::size_t end = read;
    while (end < length && path[end] != '/') ++end;
    const std::size_t part = end - read;
    if (part == 0 || (part == 1 && path[read] == '.')) {
      // nothing: "//" folded, "." dropped
    } else if (part == 2 && path[read] == '.' && path[read + 1] == '.') {
      while (written > 0 && path[--written] != '/') {
      }
    } else {
      path[written++] = '/';
      std::memmove(path + written, path + read, part);
      written += part;
    }
    read = end;
  }
  if (written == 0) path[written++] = '/';
  if (written + 1 > cap) return 0;
  std::memcpy(out, path, written);
  out[written] = '\0';
  return written;
}

const char* null_device_name() {
  return "/dev/null";
}

std::string_view last_path_component(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

bool same_file(const char* name, Handle h) {
  struct stat a, b;
  if (::stat(name, &a) != 0 || ::fstat(h, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void error_text(int error, char* out, std::size_t cap) {
  char text[kErrorTextSize];
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
  int fd = keep_off_standard(::mkostemp(out, O_CLOEXEC));
  if (fd < 0) {
    r.error = errno;
    r.kind = classify_open_error(r.error, out);
    return r;
  }
  r.handle = fd;
  return r;
}

namespace {

// The characters that end a temporary name, replaced by random ones, and
// how many names are tried.
constexpr char kSuffixPlaceholder[] = "XXXXXX";
constexpr int kSuffixLength = sizeof kSuffixPlaceholder - 1;
constexpr int kNameAttempts = 100;

// kSuffixLength characters that make a temporary name unlikely to be taken
// already; O_EXCL settles a collision, which only costs another try. Time,
// process and a counter spread by the golden-ratio increment, each character
// taken after a multiply-xorshift mixing step.
void random_suffix(char* at) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<std::uint64_t> counter{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t x = static_cast<std::uint64_t>(now.tv_nsec) ^
                    (static_cast<std::uint64_t>(::getpid()) << 32) ^
                    (counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull);
  for (int i = 0; i < kSuffixLength; ++i) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 29;
    at[i] = kLetters[x % (sizeof kLetters - 1)];
  }
}

}  // namespace

OpenResult create_replacement(const char* name, char* temp, std::size_t temp_cap, char* target,
                              std::size_t target_cap) {
  OpenResult r;
  r.kind = OpenError::kOther;
  // An empty name, or one that ends in a separator, names no file to replace.
  const std::size_t name_length = std::strlen(name);
  if (name_length == 0 || name[name_length - 1] == '/') {
    r.error = EINVAL;
    return r;
  }
  struct stat link_st;
  struct stat st;
  const bool exists = ::lstat(name, &link_st) == 0;
  if (!exists && errno != ENOENT) {
    r.error = errno;
    return r;
  }
  // A link is followed to the file it points to, which is what gets
  // replaced; a link that points nowhere is written in place.
  if (exists && ::stat(name, &st) != 0) {
    r.error = errno;
    return r;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    r.error = EINVAL;
    return r;
  }
  char resolved[kPathSize];
  const char* real = name;
  if (exists && S_ISLNK(link_st.st_mode)) {
    if (::realpath(name, resolved) == nullptr) {
      r.error = errno;
      return r;
    }
    real = resolved;
  }
  const std::size_t length = std::strlen(real);
  if (length + 1 > target_cap) {
    r.error = ENAMETOOLONG;
    return r;
  }
  std::memcpy(target, real, length + 1);
  const char* slash = std::strrchr(real, '/');
  const std::size_t dir_length = slash == nullptr ? 0 : static_cast<std::size_t>(slash - real) + 1;
  // ".NAME.XXXXXX" beside the file: hidden from a plain listing, and
  // recognisable as this file's replacement.
  const int n = std::snprintf(temp, temp_cap, "%.*s.%s.%s", static_cast<int>(dir_length), real,
                              real + dir_length, kSuffixPlaceholder);
  if (n < 0 || static_cast<std::size_t>(n) >= temp_cap) {
    r.error = ENAMETOOLONG;
    return r;
  }
  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    random_suffix(temp + n - kSuffixLength);
    fd = ::open(temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  fd = keep_off_standard(fd);
  if (fd < 0) {
    r.error = errno;
    return r;
  }
  if (exists) {
    // The owner first: changing it may clear the set-user-ID bits, which the
    // mode then restores. Either may be refused to an ordinary user, who
    // then gets the replacement as a new file of theirs.
    const bool owned = ::fchown(fd, st.st_uid, st.st_gid) == 0;
    const bool moded = ::fchmod(fd, st.st_mode & kPermissionBits) == 0;
    static_cast<void>(owned && moded);
  }
  r.handle = fd;
  r.kind = OpenError::kNone;
  return r;
}

bool commit_replacement(const char* temp, const char* target, int* error) {
  if (faults::injected(Operation::kRename, error)) return false;
  if (::rename(temp, target) != 0) {
    *error = errno;
    return false;
  }
  return true;
}

bool device_names_take_extensions() {
  return false;
}

bool delete_file(const char* name, int* error) {
  if (faults::injected(Operation::kRemove, error)) return false;
  if (::unlink(name) != 0) {
    *error = errno;
    return false;
  }
  return true;
}

Handle stream_handle(std::FILE* stream) {
  const int fd = stream != nullptr ? ::fileno(stream) : -1;
  return fd >= 0 ? static_cast<Handle>(fd) : kInvalidHandle;
}

const char* get_env(const char* name) {
  return std::getenv(name);
}

void advise_whole_use(void* block, std::size_t length) {
  // Transparent huge pages cover whole aligned 2 MiB extents only; the parts
  // before the first and after the last keep ordinary pages. A kernel
  // without them, or with them switched off, refuses: the advice is dropped.
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + length) & ~(kHugePage - 1);
  if (length == 0 || last <= first) return;
  ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void exit_process(std::uint32_t status) {
  std::exit(static_cast<int>(status));
}

void exit_process_now(std::uint32_t status) {
  flush_coverage();
  ::_exit(static_cast<int>(status));
}

void abort_process(int status) {
  flush_coverage();
  ::_exit(status);
}

bool append_to_file(const char* name, const char* bytes, std::size_t length) {
  int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return false;
  int err = 0;
  bool ok = write_all(fd, bytes, length, &err);
  ::close(fd);
  return ok;
}

bool redirect_stderr_append(const char* name) {
  int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return false;
  bool ok = ::dup2(fd, STDERR_FILENO) >= 0;
  ::close(fd);
  return ok;
}

void write_stderr(const char* text, std::size_t length) {
  int err = 0;
  write_all(STDERR_FILENO, text, length, &err);
}

void write_stdout(const char* text, std::size_t length) {
  int err = 0;
  write_bytes(STDOUT_FILENO, text, length, &err);
}

// Linux hands the program its arguments already split.
const char* command_line() {
  return nullptr;
}

bool is_lead_byte(unsigned char) {
  return false;
}

// Linux shows no error dialogs.
void suppress_error_dialogs() {}

std::size_t module_path(char* out, std::size_t cap) {
  if (cap == 0) return 0;
  const ssize_t n = ::readlink("/proc/self/exe", out, cap);
  if (n <= 0 || static_cast<std::size_t>(n) >= cap) return 0;
  out[n] = '\0';
  return static_cast<std::size_t>(n);
}

}  // namespace plat
