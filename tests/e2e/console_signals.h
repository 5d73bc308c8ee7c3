// Console events sent from outside as the signals that stand for them, and
// the line the run-time writes when one ends the process.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <thread>

namespace e2e {

struct ConsoleSignal {
  int signal;
  const char* name;  // as the run-time names the event
  int status;        // the status the process ends with
};
inline constexpr ConsoleSignal kConsoleSignals[] = {
    {SIGINT, "control-C", 0}, {SIGQUIT, "control-BREAK", 1}, {SIGHUP, "window-CLOSE", 2}};

inline std::string event_line(std::string_view name) {
  return "forrtl: error (200): program aborting due to " + std::string(name) + " event\r\n";
}

// Sends `signal` to `pid` once the kernel names a wait containing one of
// `waits` as where the process sleeps (a handshake: the run is then blocked
// where the test wants it), or after five seconds. Returns how long the
// process took to end after the signal (it is a zombie until reaped).
inline std::chrono::steady_clock::duration signal_when_asleep_in(
    pid_t pid, int signal, std::initializer_list<std::string_view> waits) {
  const std::string proc = "/proc/" + std::to_string(pid);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (bool asleep = false; !asleep && std::chrono::steady_clock::now() < give_up;) {
    std::ifstream in(proc + "/wchan");
    std::string where;
    in >> where;
    for (const std::string_view w : waits) asleep = asleep || where.find(w) != std::string::npos;
    if (!asleep) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const auto sent = std::chrono::steady_clock::now();
  ::kill(pid, signal);
  for (;;) {
    std::ifstream stat(proc + "/stat");
    std::string pid_text, comm, state;
    stat >> pid_text >> comm >> state;
    if (!stat || state == "Z") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return std::chrono::steady_clock::now() - sent;
}

}  // namespace e2e
