// Runs a program as a child process with its standard streams on pipes, and
// captures its exit status and every byte it writes. Header-only: only the
// *_test.cpp files of this directory are built into the end-to-end binary.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/under_wine.h"

namespace e2e {

struct ProgramRun {
  std::vector<std::string> args;  // after the program name
  std::string input;              // all of standard input; end of file follows
  // When set, standard input is this descriptor instead (`input` unused): the
  // child shares its file position with the caller.
  int input_fd = -1;
  // When set, standard output is this descriptor instead (`out` stays empty).
  int output_fd = -1;
  std::string cwd;  // empty: the test's own working directory
  // The whole environment of the child (NAME=VALUE). A fixed, small one keeps
  // the run-time's environment switches of the test's caller out of the run.
  std::vector<std::string> env{"LC_ALL=C"};
  std::chrono::seconds timeout{60};  // guards the suite against a hang only
  bool empty_argv = false;           // no argument vector at all, not even argument 0
  // Sent to the child once its standard output holds `signal_after`; standard
  // input then stays open until the child ends, so that its end of file
  // cannot overtake the signal.
  int signal = 0;
  std::string signal_after;
  std::vector<int> ignored_signals;  // inherited as ignored, as under nohup
  // Runs on a thread of its own while the child runs (given its pid).
  std::function<void(pid_t)> alongside;
  std::vector<int> closed;  // standard descriptors the child starts without
  // Bytes of address space the child may use (0: no limit), like `ulimit -v`.
  rlim_t address_space_limit = 0;
  // Descriptors the child may have open (0: no limit), like `ulimit -n`.
  rlim_t open_files_limit = 0;
};

struct ProgramResult {
  int exit_status = -1;  // -1 when the child did not exit normally
  int signal = 0;        // the terminating signal, if any
  bool timed_out = false;
  std::string out;
  std::string err;
  std::string err_bytes;  // standard error exactly as received (see under_wine.h)
  long max_rss_kib = 0;   // the child's peak resident memory
};

namespace detail {

[[noreturn]] inline void fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  UniqueFd read_end, write_end;
};

inline Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe2");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Keeps SIGPIPE blocked in this thread while the child's input is written, so
// that a child which exits without reading all of it cannot kill the test;
// a SIGPIPE raised meanwhile is consumed before the mask is restored.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_set_);
    sigaddset(&pipe_set_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set_, &old_);
  }
  ~SigpipeBlock() {
    const timespec zero{};
    while (sigtimedwait(&pipe_set_, nullptr, &zero) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t pipe_set_{};
  sigset_t old_{};
};

// In the child between fork and exec (async-signal-safe calls only): no
// signal blocked, and the signals the test process may have taken over back
// at their default.
inline void default_signals_in_child() {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (const int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM}) ::signal(sig, SIG_DFL);
}

// Waits until one of the `n` descriptors in `fds` is ready. Once `deadline`
// has passed the child `pid` is killed and the answer is false.
inline bool poll_or_kill(pollfd* fds, nfds_t n, std::chrono::steady_clock::time_point deadline,
                         pid_t pid) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      return false;
    }
    if (::poll(fds, n, static_cast<int>(left.count())) >= 0) return true;
    if (errno != EINTR) fail("poll");
  }
}

inline std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace detail

inline ProgramResult run_program(const std::string& binary, const ProgramRun& run) {
  using detail::UniqueFd;
  std::vector<std::string> argv_strings{binary};
  argv_strings.insert(argv_strings.end(), run.args.begin(), run.args.end());
  if (run.empty_argv) argv_strings.clear();
#ifdef MAPCONV_LAUNCHER
  argv_strings.insert(argv_strings.begin(), MAPCONV_LAUNCHER);
  const std::string program = MAPCONV_LAUNCHER;
#else
  const std::string& program = binary;
#endif
  std::vector<std::string> env_strings = run.env;
  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls are made.
  std::vector<char*> argv = detail::c_strings(argv_strings);
  std::vector<char*> envp = detail::c_strings(env_strings);

  detail::Pipe in = detail::make_pipe(), out = detail::make_pipe(), err = detail::make_pipe();
  detail::SigpipeBlock sigpipe_block;

  const pid_t pid = ::fork();
  if (pid < 0) detail::fail("fork");
  if (pid == 0) {
    if (::dup2(run.input_fd >= 0 ? run.input_fd : in.read_end.get(), 0) < 0 ||
        ::dup2(run.output_fd >= 0 ? run.output_fd : out.write_end.get(), 1) < 0 ||
        ::dup2(err.write_end.get(), 2) < 0)
      ::_exit(126);
    for (const int fd : run.closed) ::close(fd);
    if (!run.cwd.empty() && ::chdir(run.cwd.c_str()) != 0) ::_exit(126);
    if (run.address_space_limit != 0) {
      // A fixed layout makes the same limit leave the same room on every run.
      ::personality(ADDR_NO_RANDOMIZE);
      const rlimit limit{run.address_space_limit, run.address_space_limit};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
    }
    if (run.open_files_limit != 0) {
      // Descriptors the test's own runner left open would take the room.
      for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) ::close(fd);
      const rlimit limit{run.open_files_limit, run.open_files_limit};
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(126);
    }
    detail::default_signals_in_child();
    for (const int sig : run.ignored_signals) ::signal(sig, SIG_IGN);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }

  in.read_end.reset();
  out.write_end.reset();
  err.write_end.reset();
  const bool hold_input = run.signal != 0;
  if ((run.input.empty() || run.input_fd >= 0) && !hold_input) in.write_end.reset();
  if (in.write_end.get() >= 0) ::fcntl(in.write_end.get(), F_SETFL, O_NONBLOCK);
  std::thread alongside;
  if (run.alongside) alongside = std::thread(run.alongside, pid);
  bool signalled = false;

  ProgramResult result;
  std::size_t written = 0;
  const auto deadline = std::chrono::steady_clock::now() + run.timeout;
  char buffer[65536];
  while (out.read_end.get() >= 0 || err.read_end.get() >= 0) {
    pollfd fds[3];
    nfds_t n = 0;
    const auto watch = [&](const UniqueFd& fd, short events) {
      if (fd.get() >= 0) fds[n++] = {fd.get(), events, 0};
    };
    watch(out.read_end, POLLIN);
    watch(err.read_end, POLLIN);
    if (written < run.input.size()) watch(in.write_end, POLLOUT);
    if (!detail::poll_or_kill(fds, n, deadline, pid)) {
      result.timed_out = true;
      break;
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in.write_end.get()) {
        const ssize_t w =
            ::write(fds[i].fd, run.input.data() + written, run.input.size() - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        if (w < 0 && errno != EAGAIN && errno != EINTR) in.write_end.reset();  // EPIPE
        if (written == run.input.size() && !hold_input) in.write_end.reset();
        continue;
      }
      UniqueFd& source = fds[i].fd == out.read_end.get() ? out.read_end : err.read_end;
      std::string& sink = &source == &out.read_end ? result.out : result.err;
      const ssize_t r = ::read(fds[i].fd, buffer, sizeof buffer);
      if (r > 0) {
        sink.append(buffer, static_cast<std::size_t>(r));
        if (run.signal != 0 && !signalled &&
            result.out.find(run.signal_after) != std::string::npos) {
          ::kill(pid, run.signal);
          signalled = true;
        }
      } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
        source.reset();
      }
    }
  }
  in.write_end.reset();

  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) detail::fail("wait4");
  }
  result.max_rss_kib = usage.ru_maxrss;
  if (alongside.joinable()) alongside.join();
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.err_bytes = result.err;
  result.err = as_written(result.err);
  if constexpr (kUnderWine) result.out = as_linux_names(result.out);
  return result;
}

// A run that ended with an exception the run-time passed on: killed by
// `signal` on Linux. Under Wine an unhandled exception starts Wine's own
// debugger, which ends the process with a status of its own choosing (seen:
// the low byte of `code`, 0 and 5 for the same program); what is certain is
// Wine's line naming the unhandled exception. Wine has no stack left to pass
// a stack overflow on and ends the process with status 1 instead.
inline bool ended_by_exception(const ProgramResult& r, int signal, std::uint32_t code) {
  if constexpr (kUnderWine) {
    if (code == 0xC00000FD) return r.signal == 0 && r.exit_status == 1;
    return r.signal == 0 && r.err.find("wine: Unhandled ") != std::string::npos;
  }
  (void)code;
  return r.signal == signal;
}

// The converter under test.
inline ProgramResult run_mapconv(const ProgramRun& run) {
  return run_program(MAPCONV_BINARY, run);
}

// A test program linked with the run-time that provokes the faults named by
// its argument.
inline ProgramResult run_fault_program(const ProgramRun& run) {
  return run_program(MAPCONV_FAULT_PROGRAM, run);
}

}  // namespace e2e
