// The converter with fault injection: the same run-time frame and front end
// as the program, with allocations or handle operations made to fail.
//
//   mapconv_inject REPORT [KIND CALLS ERROR]... -- ARGS...
//
// KIND is alloc, open, read, write, seek, seteof, close, rename (the
// replacement taking the output's name) or remove (a file removed); CALLS the calls to
// fail, counted from 1: "N", "N-M" or "N+" (N and every later one); ERROR the
// errno the operation reports (ignored for alloc). At exit the number of
// calls of each kind goes to REPORT, one "KIND COUNT" line each, so that a
// sweep knows how far to go.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/front_end.h"
#include "platform/platform.h"
#include "rt/memory.h"
#include "rt/startup.h"

namespace {

struct Kind {
  const char* name;
  plat::Operation op;
};
constexpr Kind kKinds[] = {
    {"open", plat::Operation::kOpen},           {"read", plat::Operation::kRead},
    {"write", plat::Operation::kWrite},         {"seek", plat::Operation::kSeek},
    {"seteof", plat::Operation::kSetEndOfFile}, {"close", plat::Operation::kClose},
    {"rename", plat::Operation::kRename},       {"remove", plat::Operation::kRemove},
};

const char* report_path = nullptr;

void write_report() {
  std::FILE* f = std::fopen(report_path, "w");
  if (f == nullptr) return;
  std::fprintf(f, "alloc %llu\n", static_cast<unsigned long long>(rt::for__vm_requests()));
  for (const Kind& k : kKinds)
    std::fprintf(f, "%s %llu\n", k.name,
                 static_cast<unsigned long long>(plat::operation_calls(k.op)));
  std::fclose(f);
}

[[noreturn]] void usage() {
  std::fputs("usage: mapconv_inject REPORT [KIND N ERROR [from-then-on]]... -- ARGS...\n", stderr);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) usage();
  report_path = argv[1];
  // Every kind is counted; only the chosen ones fail.
  rt::for__inject_vm_failure(0, 0);
  for (const Kind& k : kKinds) plat::inject_failure(k.op, 0, 0, 0);
  int at = 2;
  while (at < argc && std::strcmp(argv[at], "--") != 0) {
    if (argc < at + 4) usage();
    const std::string_view kind = argv[at];
    char* rest = nullptr;
    const std::uint64_t first = std::strtoull(argv[at + 1], &rest, 10);
    std::uint64_t last = first;
    if (*rest == '+') last = UINT64_MAX;
    if (*rest == '-') last = std::strtoull(rest + 1, nullptr, 10);
    const int error = std::atoi(argv[at + 2]);
    at += 3;
    bool known = kind == "alloc";
    if (known) rt::for__inject_vm_failure(first, last);
    for (const Kind& k : kKinds) {
      if (kind != k.name) continue;
      plat::inject_failure(k.op, first, last, error);
      known = true;
    }
    if (!known) usage();
  }
  if (at >= argc) usage();
  std::atexit(write_report);

  // The program's own argument vector: its name, then the arguments.
  argv[at] = argv[0];
  return rt::for_main(argc - at, argv + at, app::map_front_end);
}
