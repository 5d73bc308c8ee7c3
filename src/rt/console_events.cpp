// Console events: the handler the platform calls on its event thread.
#include "rt/console_events.h"

#include <cstdint>

#include "platform/platform.h"
#include "rt/diagnostics.h"
#include "rt/handover.h"
#include "rt/startup.h"

namespace rt {
namespace {

// Runs on the platform's event thread. False: not handled, the platform
// passes the event on.
bool console_event_handler(int event) {
  const char* name = console_event_name(event);
  if (name == nullptr) return false;
  // The program's own handler for control-C or control-BREAK takes the
  // event. An ignored signal stays ignored: the user asked for exactly that.
  const plat::EventDisposition disposition = plat::event_disposition(event);
  if (disposition == plat::EventDisposition::kIgnored) return false;
  if (event != plat::kConsoleClosed && disposition == plat::EventDisposition::kOwnHandler)
    return false;
  for__take_units();
  for__note_run_failed();
  for__issue_diagnostic_text(msg::kEventAbort, name);
  const std::int32_t status = event;
  for_exit(&status);
}

}  // namespace

const char* console_event_name(int event) {
  switch (event) {
    case plat::kControlC:
      return "control-C";
    case plat::kControlBreak:
      return "control-BREAK";
    case plat::kConsoleClosed:
      return "window-CLOSE";
    default:
      return nullptr;
  }
}

bool for__register_console_events() {
  return plat::start_console_events(console_event_handler);
}

}  // namespace rt
