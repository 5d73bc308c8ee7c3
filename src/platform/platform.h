// The operating-system layer: the only code that includes system headers.
// Operations are expressed in the run-time's own terms (handles, error
// classes, dispositions); every failure returns the platform error code so the
// caller can save it in the unit block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

enum class Access { kRead, kWrite, kReadWrite };
enum class Disposition { kOpenExisting, kOpenAlways, kCreateNew, kCreateAlways };

// Meaning of a failed open, for the run-time's error mapping.
enum class OpenError {
  kNone,
  kFileNotFound,
  kPathNotFound,
  kTooManyOpenFiles,
  kAccessDenied,
  kWriteProtected,
  kFileExists,
  kNameTooLong,
  kBadUnit,
  kOther,
};

struct OpenResult {
  Handle handle = kInvalidHandle;
  int error = 0;  // errno value, 0 on success
  OpenError kind = OpenError::kNone;
};

// Gives every closed standard handle (input, output, error) a placeholder
// that fails every use as the closed handle would, so that no file opened
// later takes its place. Called first at start-up.
void ensure_standard_handles();

// Opens `name` (NUL-terminated). An empty name fails as "path not found".
// The handle is never one of the standard handles, even when they are closed.
OpenResult open_file(const char* name, Access access, Disposition disposition);

// One read; returns the byte count (0 at end of file) or -1 with *error set.
long read_bytes(Handle h, void* buffer, std::size_t count, int* error);
// Writes all bytes (retrying short writes); false with *error set on failure.
bool write_bytes(Handle h, const void* buffer, std::size_t count, int* error);

enum class Whence { kBegin, kCurrent, kEnd };
// Moves the file position; *position receives the new offset.
bool seek(Handle h, std::int64_t offset, Whence whence, std::int64_t* position, int* error);
bool set_end_of_file(Handle h, int* error);
bool close_handle(Handle h, int* error);

enum class FileType { kDisk, kCharacter, kPipe, kOther };
FileType file_type(Handle h);
// The type of the file a name refers to; kOther when there is none.
FileType file_type_of_name(const char* name);

enum class StdStream { kInput, kOutput, kError };
Handle std_handle(StdStream which);

// Working directory joined with a relative name, made canonical lexically.
// Returns the length written (without NUL) or 0 when it does not fit in cap.
std::size_t full_path(const char* name, char* out, std::size_t cap);

// The last component of a path: what follows its last directory separator,
// or the whole name when it has none.
std::string_view last_path_component(std::string_view name);

// True when `name` names the file already open as `h` (same device and inode).
bool same_file(const char* name, Handle h);

// The platform's text for an error code, ended by a line end, into out.
void error_text(int error, char* out, std::size_t cap);

// Creates a new empty file in the temporary directory, its name starting with
// `prefix`; the name goes to out. Returns the open handle or kInvalidHandle.
OpenResult create_temp_file(const char* prefix, char* out, std::size_t cap);
bool delete_file(const char* name, int* error);

const char* get_env(const char* name);

[[noreturn]] void exit_process(std::uint32_t status);
// Ends the process at once, without at-exit routines or stream flushing.
[[noreturn]] void abort_process(int status);

// Appends bytes to a file, creating it; false when it cannot be opened.
bool append_to_file(const char* name, const char* bytes, std::size_t length);
// Points the standard error handle at a file opened for appending.
bool redirect_stderr_append(const char* name);

// Raw write to the standard error handle (diagnostics bypass any buffering).
// Never subject to fault injection: it is how a failure gets reported.
void write_stderr(const char* text, std::size_t length);

// Test hook (fault injection), process-wide and off until set; the program
// itself never sets it. From this call on, the calls of one kind of handle
// operation are counted, and those numbered first to last (1 = the next,
// inclusive) fail with the platform error code `error`, as the operating
// system would have failed them; first 0 only counts. A failed close has
// still released the handle.
enum class Operation : std::uint8_t { kOpen, kRead, kWrite, kSeek, kSetEndOfFile, kClose };
inline constexpr int kOperationKinds = 6;
void inject_failure(Operation op, std::uint64_t first, std::uint64_t last, int error);
// Calls of `op` counted since its hook was set.
std::uint64_t operation_calls(Operation op);

}  // namespace plat
