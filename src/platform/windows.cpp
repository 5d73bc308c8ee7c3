// Windows implementation of the platform layer: files, handles, names,
// messages and the process.
//
// Handles are the system's own, carried in plat::Handle. Records go through
// ReadFile/WriteFile as bytes; diagnostics go through the C library's
// standard error stream in text mode, so every LF they hold reaches it as
// CR LF.
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/windows_internal.h"

namespace plat {
namespace {

HANDLE native(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}
Handle own(HANDLE h) {
  return reinterpret_cast<Handle>(h);
}

// The error table of the open-failure mapping.
OpenError classify_open_error(int err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
      return OpenError::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
      return OpenError::kPathNotFound;
    case ERROR_TOO_MANY_OPEN_FILES:
      return OpenError::kTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
      return OpenError::kAccessDenied;
    case ERROR_WRITE_PROTECT:
      return OpenError::kWriteProtected;
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_UNIT:
      return OpenError::kBadUnit;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return OpenError::kFileExists;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return OpenError::kNameTooLong;
    default:
      return OpenError::kOther;
  }
}

int last_error() {
  return static_cast<int>(::GetLastError());
}

// ReadFile and WriteFile take a 32-bit count.
constexpr std::size_t kMaxTransfer = 1u << 30;

bool write_all(HANDLE h, const void* buffer, std::size_t count, int* error) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min(count, kMaxTransfer));
    if (!::WriteFile(h, p, chunk, &written, nullptr)) {
      *error = last_error();
      return false;
    }
    // Success without progress (a full non-blocking pipe) would repeat for
    // ever.
    if (written == 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    p += written;
    count -= written;
  }
  return true;
}

// C library descriptors in text mode, for the diagnostic streams.
int open_text_append(const char* name) {
  return ::_open(name, _O_WRONLY | _O_CREAT | _O_APPEND | _O_TEXT, _S_IREAD | _S_IWRITE);
}

bool write_all_fd(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const unsigned chunk = static_cast<unsigned>(std::min(length, kMaxTransfer));
    const int n = ::_write(fd, bytes, chunk);
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int narrow_units_without_best_fit(const wchar_t* units, int count, unsigned code_page, char* out,
                                  int cap) {
  // UTF-8 holds every character; the flag is refused for it.
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = code_page == CP_UTF8 ? nullptr : "?";
  return ::WideCharToMultiByte(code_page, flags, units, count, out, cap, fallback, nullptr);
}

std::string narrow_without_best_fit(const wchar_t* text, unsigned code_page) {
  const int n = narrow_units_without_best_fit(text, -1, code_page, nullptr, 0);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  narrow_units_without_best_fit(text, -1, code_page, out.data(), n);
  out.pop_back();  // the terminator converted with the text
  return out;
}

namespace {

// Bytes one UTF-16 unit narrows to at most, and a whole character (a pair
// of units).
constexpr std::size_t kNarrowBytesPerUnit = 3;
constexpr std::size_t kMaxCharacterBytes = 4;

// Bytes of typed characters that did not fit the count of the read that
// took them from the console; the next read gives them first. One console
// input serves the whole process.
struct ConsolePending {
  // A read's count cuts off at most one character; room for two.
  char bytes[2 * kMaxCharacterBytes];
  std::size_t size = 0, at = 0;
};
ConsolePending console_pending;

// UTF-16 units taken from the console by one read.
constexpr DWORD kConsoleUnits = 1024;
// The character the console reads as the end of input when typed first.
constexpr wchar_t kConsoleEndOfInput = 0x1A;  // Ctrl-Z

// Typed text is taken as the console's own characters and narrowed here,
// without look-alikes: a narrow read of the console would turn a character
// outside the code page into a look-alike, and so a typed name into another
// file's name.
long read_console(HANDLE h, char* buffer, std::size_t count, int* error) {
  if (console_pending.at < console_pending.size) {
    const std::size_t n = std::min(count, console_pending.size - console_pending.at);
    std::memcpy(buffer, console_pending.bytes + console_pending.at, n);
    console_pending.at += n;
    return static_cast<long>(n);
  }
  // A unit narrows to at most 3 bytes and a pair of them to 4, so all but a
  // few bytes of a short count's character fit.
  wchar_t wide[kConsoleUnits + 1];
  const DWORD units =
      static_cast<DWORD>(std::clamp<std::size_t>(count / kNarrowBytesPerUnit, 1, kConsoleUnits));
  DWORD got = 0;
  if (!::ReadConsoleW(h, wide, units, &got, nullptr)) {
    *error = last_error();
    return -1;
  }
  // The second half of a pair cut by the count belongs to this read.
  if (got > 0 && IS_HIGH_SURROGATE(wide[got - 1])) {
    DWORD more = 0;
    if (::ReadConsoleW(h, wide + got, 1, &more, nullptr)) got += more;
  }
  // As the console's narrow read has it: Ctrl-Z first is the end of input.
  if (got == 0 || wide[0] == kConsoleEndOfInput) return 0;
  char narrow[(kConsoleUnits + 1) * kNarrowBytesPerUnit];
  const int n = narrow_units_without_best_fit(wide, static_cast<int>(got), ::GetACP(), narrow,
                                              static_cast<int>(sizeof narrow));
  if (n <= 0) {
    *error = last_error();
    return -1;
  }
  const std::size_t now = std::min(count, static_cast<std::size_t>(n));
  std::memcpy(buffer, narrow, now);
  console_pending.size = static_cast<std::size_t>(n) - now;
  console_pending.at = 0;
  std::memcpy(console_pending.bytes, narrow + now, console_pending.size);
  return static_cast<long>(now);
}

}  // namespace

bool console_input_pending() {
  return console_pending.at < console_pending.size;
}

namespace {

// The console's code pages as the process found them; 0 when it has no
// console or they were never changed.
UINT original_input_code_page = 0;
UINT original_output_code_page = 0;

void restore_console_code_pages() {
  if (original_input_code_page != 0) ::SetConsoleCP(original_input_code_page);
  if (original_output_code_page != 0) ::SetConsoleOutputCP(original_output_code_page);
}

}  // namespace

void agree_console_code_pages() {
  // A typed name goes to CreateFileA as the console delivers it, and a name
  // in a diagnostic is shown as the file calls took it: both sides use the
  // process's code page (UTF-8 with the manifest). The console belongs to
  // the user's shell too, so its own settings come back at exit.
  const UINT input = ::GetConsoleCP();
  const UINT output = ::GetConsoleOutputCP();
  if (input == 0 || output == 0) return;  // no console
  const UINT active = ::GetACP();
  if (input != active && ::SetConsoleCP(active)) original_input_code_page = input;
  if (output != active && ::SetConsoleOutputCP(active)) original_output_code_page = output;
  std::atexit(restore_console_code_pages);
}

int failure_code(FailureMeaning meaning) {
  static constexpr int kCodes[] = {ERROR_IO_DEVICE, ERROR_TOO_MANY_OPEN_FILES, ERROR_DISK_FULL};
  return kCodes[static_cast<int>(meaning)];
}

// Windows gives a closed standard handle no number that a later open could
// take: there is nothing to hold.
void ensure_standard_handles() {}

OpenResult open_file(const char* name, Access access, Disposition disposition) {
  OpenResult r;
  if (name[0] == '\0') {
    r.error = ERROR_PATH_NOT_FOUND;
    r.kind = OpenError::kPathNotFound;
    return r;
  }
  if (faults::injected(Operation::kOpen, &r.error)) {
    r.kind = classify_open_error(r.error);
    return r;
  }
  static constexpr DWORD kAccess[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static constexpr DWORD kCreation[] = {OPEN_EXISTING, OPEN_ALWAYS, CREATE_NEW, CREATE_ALWAYS};
  const HANDLE h =
      ::CreateFileA(name, kAccess[static_cast<int>(access)], FILE_SHARE_READ, nullptr,
                    kCreation[static_cast<int>(disposition)], FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    r.error = last_error();
    r.kind = classify_open_error(r.error);
    return r;
  }
  r.handle = own(h);
  return r;
}

long read_bytes(Handle h, void* buffer, std::size_t count, int* error) {
  if (faults::injected(Operation::kRead, error)) return -1;
  DWORD mode = 0;
  if (::GetConsoleMode(native(h), &mode))
    return read_console(native(h), static_cast<char*>(buffer), count, error);
  DWORD n = 0;
  if (!::ReadFile(native(h), buffer, static_cast<DWORD>(std::min(count, kMaxTransfer)), &n,
                  nullptr)) {
    const DWORD err = ::GetLastError();
    // The writer of a pipe has gone: that is its end of file.
    if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
    *error = static_cast<int>(err);
    return -1;
  }
  return static_cast<long>(n);
}

bool write_bytes(Handle h, const void* buffer, std::size_t count, int* error) {
  if (faults::injected(Operation::kWrite, error)) return false;
  return write_all(native(h), buffer, count, error);
}

bool seek(Handle h, std::int64_t offset, Whence whence, std::int64_t* position, int* error) {
  if (faults::injected(Operation::kSeek, error)) return false;
  static constexpr DWORD kMethod[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  LONG high = static_cast<LONG>(offset >> 32);
  ::SetLastError(NO_ERROR);
  const DWORD low = ::SetFilePointer(native(h), static_cast<LONG>(offset & 0xFFFFFFFF), &high,
                                     kMethod[static_cast<int>(whence)]);
  // The low part of a valid position can equal the failure value.
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) {
    *error = last_error();
    return false;
  }
  if (position != nullptr)
    *position = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low);
  return true;
}

bool set_end_of_file(Handle h, int* error) {
  if (faults::injected(Operation::kSetEndOfFile, error)) return false;
  if (!::SetEndOfFile(native(h))) {
    *error = last_error();
    return false;
  }
  return true;
}

bool close_handle(Handle h, int* error) {
  if (!::CloseHandle(native(h))) {
    *error = last_error();
    return false;
  }
  return !faults::injected(Operation::kClose, error);
}

FileType file_type(Handle h) {
  switch (::GetFileType(native(h))) {
    case FILE_TYPE_DISK:
      return FileType::kDisk;
    case FILE_TYPE_CHAR:
      return FileType::kCharacter;
    case FILE_TYPE_PIPE:
      return FileType::kPipe;
    default:
      return FileType::kOther;
  }
}

FileType file_type_of_name(const char* name) {
  // A named pipe is known by its name alone: opening it to ask would take
  // one of its instances from the program that waits there.
  static constexpr char kPipePrefixes[][10] = {"\\\\.\\pipe\\", "\\\\?\\pipe\\"};
  for (const char* prefix : kPipePrefixes)
    if (::_strnicmp(name, prefix, std::strlen(prefix)) == 0) return FileType::kPipe;
  const DWORD attributes = ::GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return FileType::kOther;
  return FileType::kDisk;
}

Handle std_handle(StdStream which) {
  static constexpr DWORD kStd[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  const HANDLE h = ::GetStdHandle(kStd[static_cast<int>(which)]);
  // A process started without the stream has a null handle; it fails every
  // use as the invalid handle does.
  return h == nullptr ? kInvalidHandle : own(h);
}

std::size_t full_path(const char* name, char* out, std::size_t cap) {
  constexpr DWORD kPathBuffer = 256;
  char path[kPathBuffer];
  const DWORD n = ::GetFullPathNameA(name, kPathBuffer, path, nullptr);
  if (n == 0 || n >= kPathBuffer || n + 1 > cap) return 0;
  std::memcpy(out, path, n + 1);
  return n;
}

const char* null_device_name() {
  return "NUL";
}

std::string_view last_path_component(std::string_view name) {
  const std::size_t separator = name.find_last_of("\\/:");
  return separator == std::string_view::npos ? name : name.substr(separator + 1);
}

bool same_file(const char* name, Handle h) {
  // No access asked for: the test must not fail on the share mode of the
  // handle that is open already.
  const HANDLE other =
      ::CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  const bool known = ::GetFileInformationByHandle(other, &a) != 0 &&
                     ::GetFileInformationByHandle(native(h), &b) != 0;
  ::CloseHandle(other);
  return known && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

void error_text(int error, char* out, std::size_t cap) {
  if (cap == 0) return;
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(error), 0, out,
                                   static_cast<DWORD>(std::min<std::size_t>(cap, 0xFFFF)), nullptr);
  if (n == 0) std::snprintf(out, cap, "FormatMessage failed for sysmem message number %i", error);
}

OpenResult create_temp_file(const char* prefix, char* out, std::size_t cap) {
  OpenResult r;
  char dir[MAX_PATH + 1];
  char name[MAX_PATH];
  const DWORD n = ::GetTempPathA(sizeof dir, dir);
  if (n == 0 || n > sizeof dir || ::GetTempFileNameA(dir, prefix, 0, name) == 0) {
    r.error = last_error();
    r.kind = classify_open_error(r.error);
    return r;
  }
  // GetTempFileNameA has created the file; a name the caller cannot hold
  // would leave it behind.
  const std::size_t length = std::strlen(name);
  if (length + 1 > cap) {
    ::DeleteFileA(name);
    r.error = ERROR_FILENAME_EXCED_RANGE;
    r.kind = OpenError::kNameTooLong;
    return r;
  }
  std::memcpy(out, name, length + 1);
  const HANDLE h = ::CreateFileA(out, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    r.error = last_error();
    r.kind = classify_open_error(r.error);
    ::DeleteFileA(out);
    return r;
  }
  r.handle = own(h);
  return r;
}

namespace {
// The hexadecimal digits that end a replacement's name, and how many names
// are tried.
constexpr std::size_t kSuffixDigits = 6;
constexpr unsigned long kSuffixMask = (1ul << (4 * kSuffixDigits)) - 1;
constexpr DWORD kNameAttempts = 100;
}  // namespace

OpenResult create_replacement(const char* name, char* temp, std::size_t temp_cap, char* target,
                              std::size_t target_cap) {
  OpenResult r;
  r.kind = OpenError::kOther;
  const DWORD attributes = ::GetFileAttributesA(name);
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    r.error = last_error();
    return r;
  }
  // Directories, devices and links are written in place; a read-only file
  // is refused by the open of its name before this is asked.
  constexpr DWORD kNotPlain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
  if (exists && (attributes & kNotPlain) != 0) {
    r.error = ERROR_INVALID_FUNCTION;
    return r;
  }
  const std::size_t length = std::strlen(name);
  const std::string_view base = last_path_component(name);
  if (base.empty()) {
    r.error = ERROR_INVALID_NAME;
    return r;
  }
  if (length + 1 > target_cap) {
    r.error = ERROR_FILENAME_EXCED_RANGE;
    return r;
  }
  std::memcpy(target, name, length + 1);
  const std::size_t dir_length = length - base.size();
  const int n =
      std::snprintf(temp, temp_cap, "%.*s.%s.", static_cast<int>(dir_length), name, base.data());
  // Room for the suffix and the terminator, within the system's path limit.
  if (n < 0 || static_cast<std::size_t>(n) + kSuffixDigits + 1 > temp_cap ||
      n + kSuffixDigits >= MAX_PATH) {
    r.error = ERROR_FILENAME_EXCED_RANGE;
    return r;
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  for (DWORD attempt = 0; attempt < kNameAttempts && h == INVALID_HANDLE_VALUE; ++attempt) {
    // Time spread by Knuth's multiplicative constant (2^32 / golden ratio),
    // the attempt by a small odd step, and the process.
    std::snprintf(temp + n, temp_cap - static_cast<std::size_t>(n), "%0*lX",
                  static_cast<int>(kSuffixDigits),
                  static_cast<unsigned long>((::GetTickCount() * 2654435761u + attempt * 40503u +
                                              ::GetCurrentProcessId()) &
                                             kSuffixMask));
    h = ::CreateFileA(temp, GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                      exists ? (attributes & ~FILE_ATTRIBUTE_READONLY) : FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    r.error = last_error();
    return r;
  }
  r.handle = own(h);
  r.kind = OpenError::kNone;
  return r;
}

bool commit_replacement(const char* temp, const char* target, int* error) {
  if (faults::injected(Operation::kRename, error)) return false;
  if (!::MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = last_error();
    return false;
  }
  return true;
}

bool device_names_take_extensions() {
  return true;
}

bool delete_file(const char* name, int* error) {
  if (faults::injected(Operation::kRemove, error)) return false;
  if (!::DeleteFileA(name)) {
    *error = last_error();
    return false;
  }
  return true;
}

Handle stream_handle(std::FILE* stream) {
  const int fd = stream != nullptr ? ::_fileno(stream) : -1;
  const intptr_t h = fd >= 0 ? ::_get_osfhandle(fd) : -1;
  return h == -1 || h == -2 ? kInvalidHandle : static_cast<Handle>(h);
}

const char* get_env(const char* name) {
  return std::getenv(name);
}

void advise_whole_use(void*, std::size_t) {
  // Large pages on Windows need a privilege a console program does not
  // hold; ordinary committed pages are what the block already has.
}

void exit_process(std::uint32_t status) {
  // The C library's exit hands the full 32-bit value to ExitProcess.
  std::exit(static_cast<int>(status));
}

void exit_process_now(std::uint32_t status) {
  restore_console_code_pages();
  ::TerminateProcess(::GetCurrentProcess(), status);
  ::ExitProcess(status);  // not reached
}

void abort_process(int status) {
  exit_process_now(static_cast<std::uint32_t>(status));
}

bool append_to_file(const char* name, const char* bytes, std::size_t length) {
  const int fd = open_text_append(name);
  if (fd < 0) return false;
  const bool ok = write_all_fd(fd, bytes, length);
  ::_close(fd);
  return ok;
}

bool redirect_stderr_append(const char* name) {
  const int fd = open_text_append(name);
  if (fd < 0) return false;
  const int err = ::_fileno(stderr);
  const bool ok = ::_dup2(fd, err) == 0;
  ::_close(fd);
  // The standard error handle follows, as the descriptor does on POSIX.
  if (ok) ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(err)));
  return ok;
}

void write_stderr(const char* text, std::size_t length) {
  write_all_fd(::_fileno(stderr), text, length);
}

void write_stdout(const char* text, std::size_t length) {
  int err = 0;
  write_bytes(std_handle(StdStream::kOutput), text, length, &err);
}

const char* command_line() {
  // With the manifest the narrow line is UTF-8 already. A system that keeps
  // an ANSI code page would give a character it lacks as a look-alike ("O"
  // for "Ω") and a name would open another file: the line is narrowed again
  // without look-alikes, such a character becoming "?", which no file name
  // may hold, so its OPEN fails as an invalid name.
  if (::GetACP() == CP_UTF8) return ::GetCommandLineA();
  static const std::string narrowed = narrow_without_best_fit(::GetCommandLineW(), CP_ACP);
  return narrowed.empty() ? ::GetCommandLineA() : narrowed.c_str();
}

bool is_lead_byte(unsigned char byte) {
  return ::IsDBCSLeadByte(byte) != 0;
}

void suppress_error_dialogs() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

std::size_t module_path(char* out, std::size_t cap) {
  if (cap == 0) return 0;
  const DWORD n =
      ::GetModuleFileNameA(nullptr, out, static_cast<DWORD>(std::min<std::size_t>(cap, 0xFFFF)));
  if (n == 0 || n >= cap) return 0;
  return n;
}

}  // namespace plat
