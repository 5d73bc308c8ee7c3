// The operating-system layer: the only code that includes system headers.
// Operations are expressed in the run-time's own terms (handles, error
// classes, dispositions); every failure returns the platform error code so the
// caller can save it in the unit block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace plat {

// Wide enough for every platform's handle: a descriptor number or a pointer.
using Handle = std::intptr_t;
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
  int error = 0;  // the platform's error code, 0 on success
  OpenError kind = OpenError::kNone;
};

// Gives every closed standard handle (input, output, error) a placeholder
// that fails every use as the closed handle would, so that no file opened
// later takes its place. Called first at start-up.
void ensure_standard_handles();

// Makes console input and output use the code page of the file and
// command-line calls, so that a typed name opens the file it names; the
// console's own code pages come back when the process ends.
void agree_console_code_pages();

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

// The name under which open_file opens the platform's null device: what is
// written there is discarded, and reading it gives end of file at once.
const char* null_device_name();

// The last component of a path: what follows its last directory separator,
// or the whole name when it has none.
std::string_view last_path_component(std::string_view name);

// True when `name` names the file already open as `h` (the same file of the
// same volume).
bool same_file(const char* name, Handle h);

// The platform's text for an error code, ended by a line end, into out.
void error_text(int error, char* out, std::size_t cap);

// Creates a new empty file in the temporary directory, its name starting with
// `prefix`; the name goes to out. Returns the open handle or kInvalidHandle.
OpenResult create_temp_file(const char* prefix, char* out, std::size_t cap);
bool delete_file(const char* name, int* error);
// The handle beneath a C stream (kInvalidHandle for null or a stream without
// one). Closing it closes the stream's file; the stream must not be used
// afterwards.
Handle stream_handle(std::FILE* stream);

// ---- Replacing a file whole -------------------------------------------------

// Creates an empty file beside the regular file `name` names (a symbolic link
// is followed) or beside where it would be, under a temporary name in the
// same directory: the file that takes its place on commit_replacement. An
// existing file's permission bits (and owner and group where the process may
// set them) carry over; a new one gets the mode a new file gets. `temp`
// receives the temporary name, `target` the name it will take (the file a
// link points to). Fails, creating nothing, when the name is neither a regular
// file nor absent, or when no file can be made beside it: the caller then
// writes in place.
OpenResult create_replacement(const char* name, char* temp, std::size_t temp_cap, char* target,
                              std::size_t target_cap);
// Gives the closed file `temp` the name `target` in one step: a reader sees
// the old file or the new one, never a mix, and a failure leaves the old one.
bool commit_replacement(const char* temp, const char* target, int* error);

// Whether a device name followed by an extension ("NUL.TXT") still names the
// device on this platform.
bool device_names_take_extensions();

const char* get_env(const char* name);

// Advice that the block [block, block + length) is about to be written
// whole, front to back: the platform may back it with fewer, larger pages so
// that its first touch costs little. Contents and meaning are unchanged; the
// advice may be ignored, and nothing fails.
void advise_whole_use(void* block, std::size_t length);

// Ends the process normally: at-exit routines run, buffered streams flushed.
[[noreturn]] void exit_process(std::uint32_t status);
// Ends the process at once with `status`, without at-exit routines: the way
// out after a processor exception, when the heap may be inconsistent.
[[noreturn]] void exit_process_now(std::uint32_t status);
// Ends the process at once, without at-exit routines or stream flushing.
[[noreturn]] void abort_process(int status);

// Appends bytes to a file, creating it; false when it cannot be opened.
bool append_to_file(const char* name, const char* bytes, std::size_t length);
// Points the standard error handle at a file opened for appending.
bool redirect_stderr_append(const char* name);

// Raw write to the standard error handle (diagnostics bypass any buffering).
// Never subject to fault injection: it is how a failure gets reported.
void write_stderr(const char* text, std::size_t length);
// Raw write to the standard output handle.
void write_stdout(const char* text, std::size_t length);

// The command line as one string, when the platform hands it over that way
// (the run-time then splits it itself); null when the program receives its
// arguments already split.
const char* command_line();
// True when `byte` begins a two-byte character in the active code page.
bool is_lead_byte(unsigned char byte);

// Keeps the platform from showing error dialogs of its own (a failed drive
// access, a crash) that would stop an unattended run.
void suppress_error_dialogs();

// Full path of the running program into out; the length, or 0 when unknown
// or when it does not fit.
std::size_t module_path(char* out, std::size_t cap);

// ---- Floating point -------------------------------------------------------

// Unmasks exactly the traps asked for (inexact stays masked) and requests
// flush-to-zero of denormal results when `flush_to_zero` is set.
struct FpTraps {
  bool invalid = false, divide_by_zero = false, overflow = false, underflow = false;
};
void set_fp_control(FpTraps traps, bool flush_to_zero);
void clear_fp_flags();

// ---- Console events -------------------------------------------------------

// Console control events: 0 control-C, 1 control-BREAK, 2 the console closed.
inline constexpr int kControlC = 0;
inline constexpr int kControlBreak = 1;
inline constexpr int kConsoleClosed = 2;

// What the process has chosen for the signal behind an event.
enum class EventDisposition { kDefault, kIgnored, kOwnHandler, kUnknown };
EventDisposition event_disposition(int event);

// Called on the event thread for each event. True: handled (the handler
// normally ends the process); false: not handled, the platform passes the
// event on to what the process chose for it (its own handler, or nothing
// when ignored).
using ConsoleEventHandler = bool (*)(int event);

// Starts the thread that receives console events and calls `handler`.
// Events the process inherited as ignored stay ignored. False when the
// thread cannot be started; events then keep their default action.
bool start_console_events(ConsoleEventHandler handler);

// Waits until `h` has input (or end of file, or an error) and returns true;
// returns false once the input waits have been interrupted for good.
bool wait_for_input(Handle h);
// Interrupts every present and future input wait (wait_for_input returns
// false from now on).
void interrupt_input_waits();

// Sleeps the calling thread for about `milliseconds`. The run-time's
// one-shot waits between its threads poll with it rather than sleep on an
// atomic: the C++ library's atomic wait loses wake-ups on some targets,
// and a lost one would hang the end of the run.
void sleep_milliseconds(unsigned milliseconds);

// ---- Processor exceptions -------------------------------------------------

// Exception codes of the platform's exception table.
namespace exc {
inline constexpr std::uint32_t kDatatypeMisalignment = 0x80000002;
inline constexpr std::uint32_t kBreakpoint = 0x80000003;
inline constexpr std::uint32_t kSingleStep = 0x80000004;
inline constexpr std::uint32_t kAccessViolation = 0xC0000005;
inline constexpr std::uint32_t kInPageError = 0xC0000006;
inline constexpr std::uint32_t kIllegalInstruction = 0xC000001D;
inline constexpr std::uint32_t kNoncontinuable = 0xC0000025;
inline constexpr std::uint32_t kInvalidDisposition = 0xC0000026;
inline constexpr std::uint32_t kArrayBoundsExceeded = 0xC000008C;
inline constexpr std::uint32_t kFloatDenormalOperand = 0xC000008D;
inline constexpr std::uint32_t kFloatDivideByZero = 0xC000008E;
inline constexpr std::uint32_t kFloatInexact = 0xC000008F;
inline constexpr std::uint32_t kFloatInvalid = 0xC0000090;
inline constexpr std::uint32_t kFloatOverflow = 0xC0000091;
inline constexpr std::uint32_t kFloatStackCheck = 0xC0000092;
inline constexpr std::uint32_t kFloatUnderflow = 0xC0000093;
inline constexpr std::uint32_t kIntegerDivideByZero = 0xC0000094;
inline constexpr std::uint32_t kIntegerOverflow = 0xC0000095;
inline constexpr std::uint32_t kPrivilegedInstruction = 0xC0000096;
inline constexpr std::uint32_t kStackOverflow = 0xC00000FD;
}  // namespace exc

// The platform's record of one exception.
struct ExceptionRecord {
  std::uint32_t code = 0;
  std::uintptr_t address = 0;        // the faulting instruction
  std::uintptr_t fault_address = 0;  // the data address, where the exception has one
};

// Size of the processor context that comes with an exception; the run-time
// keeps a copy of that many bytes.
extern const std::size_t kContextSize;

enum class ExceptionAction {
  kPassOn,             // default handling of the platform (the process ends)
  kContinue,           // resume at the faulting instruction
  kLeaveGuardedRegion  // unwind to the end of run_guarded
};
// Called on the faulting thread, on a stack of its own. `context` points to
// kContextSize bytes. It must allocate nothing.
using ExceptionHandler = ExceptionAction (*)(const ExceptionRecord& record, void* context);

// Runs body(arg) with `handler` in force for the processor exceptions, and
// returns its result, or -1 when the handler left the region. A fault inside
// the handler itself ends the process by the platform's default action. A
// handler the process installs itself for one of these exceptions replaces
// this one and is called by the platform directly.
int run_guarded(int (*body)(void*), void* arg, ExceptionHandler handler);

// Raises an exception with `code` that reaches the handler of the guarded
// region; outside a guarded region it does nothing.
void raise_exception(std::uint32_t code);

// A break for an attached debugger; without one it does nothing.
void debug_break();

// Masks the underflow trap and requests flush-to-zero in the interrupted
// context, so that the faulting instruction can be resumed. False when the
// platform cannot.
bool mask_underflow_in_context(void* context);

// ---- Stack walk -----------------------------------------------------------

// Number of hexadecimal digits of a code address.
inline constexpr int kAddressDigits = static_cast<int>(2 * sizeof(void*));

// Fills pcs with the program counters of the calling thread's frames, from
// the caller of stack_walk on, or, with a context, from the faulting
// instruction of that exception on. Returns the count, or -1 when the walk
// fails. Allocates nothing once the first walk of the process has been done
// (warm_up_stack_walk).
int stack_walk(const void* context, std::uintptr_t* pcs, int max);
void warm_up_stack_walk();

// What the loaded objects know about a code address: the path of the image
// and the routine's name; null when unknown.
struct AddressInfo {
  const char* image = nullptr;
  const char* routine = nullptr;
};
AddressInfo describe_address(std::uintptr_t pc);

// The processor registers of an exception context as text lines.
std::size_t format_registers(const void* context, char* out, std::size_t cap);

// Test hook (fault injection), process-wide and off until set; the program
// itself never sets it. From this call on, the calls of one kind of handle
// operation are counted, and those numbered first to last (1 = the next,
// inclusive) fail with the platform error code `error`, as the operating
// system would have failed them; first 0 only counts. A failed close has
// still released the handle.
// kRename is commit_replacement, kRemove delete_file.
enum class Operation : std::uint8_t {
  kOpen,
  kRead,
  kWrite,
  kSeek,
  kSetEndOfFile,
  kClose,
  kRename,
  kRemove
};
inline constexpr int kOperationKinds = 8;
void inject_failure(Operation op, std::uint64_t first, std::uint64_t last, int error);
// Calls of `op` counted since its hook was set.
std::uint64_t operation_calls(Operation op);

// What an injected failure means, and the platform's own code for it, so
// that a test states the meaning and each platform fails as its system
// would (error 5 is an I/O error to one system and a refusal to another).
enum class FailureMeaning : std::uint8_t { kIoError, kTooManyOpenFiles, kDiskFull };
int failure_code(FailureMeaning meaning);

}  // namespace plat
