// Console events: control-C (0), control-BREAK (1) and the console closed
// (2), delivered by the platform on a thread of its own. A named event takes
// the units over from the main thread (rt/handover.h), reports
// "program aborting due to <name> event" (error 200), closes every unit and
// ends the process with the event type as status.
#pragma once

namespace rt {

// The name an event is reported with, or null for events not handled.
const char* console_event_name(int event);

// Registers the handler with the platform's console events. False when the
// platform cannot deliver them (the events keep their default action).
bool for__register_console_events();

}  // namespace rt
