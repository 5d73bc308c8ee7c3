// The traceback lines after a diagnostic, from the platform's stack walk.
#include "rt/traceback.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "rt/append_text.h"
#include "rt/demangle.h"
#include "rt/diagnostics.h"
#include "rt/exceptions.h"

namespace rt {
namespace {

constexpr char kUnknown[] = "Unknown";
// The verbose form lists frames while the buffer has room.
constexpr int kVerboseFrames = 100;

const char* base_name(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  // The platform's separators: the component is a suffix of the path.
  return plat::last_path_component(path).data();
}

const char* shown(const char* text) {
  return text != nullptr && text[0] != '\0' ? text : kUnknown;
}

const char* shown_source(const TraceFrame& f, bool full_source) {
  return shown(full_source ? f.source : base_name(f.source));
}

// A line number as text (an int's digits and sign), and a routine's
// readable name, cut to fit.
constexpr std::size_t kLineTextSize = 16;
constexpr std::size_t kRoutineNameSize = 256;

// The line number as text, or "Unknown".
const char* shown_line(const TraceFrame& f, char (&buffer)[kLineTextSize]) {
  if (f.line <= 0) return kUnknown;
  std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(f.line));
  return buffer;
}

// `name` holds the routine's readable name while the frame is shown.
TraceFrame frame_at(std::uintptr_t pc, char (&name)[kRoutineNameSize]) {
  const plat::AddressInfo info = plat::describe_address(pc);
  TraceFrame f;
  f.pc = pc;
  f.image = info.image;
  f.routine = demangle_routine(info.routine, name, sizeof name);
  return f;  // this image carries no line tables: source and line stay unknown
}

}  // namespace

std::size_t append_trace_header(char* text, std::size_t length, std::size_t cap) {
  // The PC column is as wide as an address and its two blanks.
  return append_text(text, length, cap, "%-19.19s%-*.*s%-19.19s%-12.12s%-19.19s\n", "Image",
                     plat::kAddressDigits + 2, plat::kAddressDigits + 2, "PC", "Routine", "Line",
                     "Source");
}

std::size_t append_trace_frame(char* text, std::size_t length, std::size_t cap, const TraceFrame& f,
                               bool full_source) {
  char line[kLineTextSize];
  return append_text(text, length, cap, "%-17.17s  %*.*llX  %-17.17s  %10.10s  %s\n",
                     shown(base_name(f.image)), plat::kAddressDigits, plat::kAddressDigits,
                     static_cast<unsigned long long>(f.pc), shown(f.routine), shown_line(f, line),
                     shown_source(f, full_source));
}

std::size_t append_verbose_frame(char* text, std::size_t length, std::size_t cap,
                                 const TraceFrame& f, unsigned index, bool full_source) {
  char line[kLineTextSize];
  return append_text(text, length, cap,
                     "--------- Frame # %u ---------------------------------------\n"
                     "Image:   %s\nRoutine: %s\nSource:  %s\nLine:    %s\nPC:      %0*llX\n\n",
                     index, shown(base_name(f.image)), shown(f.routine),
                     shown_source(f, full_source), shown_line(f, line), plat::kAddressDigits,
                     static_cast<unsigned long long>(f.pc));
}

std::size_t for_stack_trace(char* text, std::size_t length, std::size_t cap) {
  const bool verbose = for__diagnostic_switches().verbose_stack_trace;
  const bool full_source = for__diagnostic_switches().full_source_paths;
  const void* context = for__exception_context();
  if (verbose) {
    length =
        append_text(text, length, cap, "\n\nTraceback symbolic or hex stack dump follows:\n\n");
    if (context != nullptr) {
      length =
          append_text(text, length, cap, "\nHex Dump Of Exception Record Context Information:\n\n");
      if (length < cap) length += plat::format_registers(context, text + length, cap - length);
      length = append_text(text, length, cap, "\n");
    }
  } else {
    length = append_trace_header(text, length, cap);
  }
  std::uintptr_t pcs[kVerboseFrames];
  const int n = plat::stack_walk(context, pcs, verbose ? kVerboseFrames : kTracebackFrames);
  if (n < 0) {
    plat::write_stdout("\n", 1);
    return length;
  }
  for (int i = 0; i < n && pcs[i] != 0; ++i) {
    char name[kRoutineNameSize];
    const TraceFrame f = frame_at(pcs[i], name);
    length = verbose
                 ? append_verbose_frame(text, length, cap, f, static_cast<unsigned>(i), full_source)
                 : append_trace_frame(text, length, cap, f, full_source);
  }
  return length;
}

}  // namespace rt
