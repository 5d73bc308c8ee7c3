// The converter with fault injection: the same run-time frame and front end
// as the program, with allocations or handle operations made to fail.
//
//   MAPCONV_INJECT="REPORT [KIND CALLS ERROR]..." mapconv_inject ARGS...
//
// KIND is alloc, open, read, write, seek, seteof, close, rename (the
// replacement taking the output's name) or remove (a file removed); CALLS
// the calls to fail, counted from 1: "N", "N-M" or "N+" (N and every later
// one); ERROR what the failure means, "io", "too-many-files" or "disk-full",
// reported with the platform's own code for it (ignored for alloc). At exit the number of
// calls of each kind goes to REPORT, one "KIND COUNT" line each, so that a
// sweep knows how far to go. The plan comes from the environment so that the
// command line is the program's own, on a platform that hands the run-time
// the whole line as well as on one that hands it the vector.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

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

struct Meaning {
  const char* name;
  plat::FailureMeaning meaning;
};
constexpr Meaning kMeanings[] = {
    {"io", plat::FailureMeaning::kIoError},
    {"too-many-files", plat::FailureMeaning::kTooManyOpenFiles},
    {"disk-full", plat::FailureMeaning::kDiskFull},
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
  std::fputs("usage: MAPCONV_INJECT=\"REPORT [KIND CALLS ERROR]...\" mapconv_inject ARGS...\n",
             stderr);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const char* plan_text = std::getenv("MAPCONV_INJECT");
  if (plan_text == nullptr) usage();
  std::istringstream plan_words(plan_text);
  std::vector<std::string> plan;
  for (std::string word; plan_words >> word;) plan.push_back(word);
  if (plan.empty() || (plan.size() - 1) % 3 != 0) usage();
  static std::string report = plan[0];
  report_path = report.c_str();
  // Every kind is counted; only the chosen ones fail.
  rt::for__inject_vm_failure(0, 0);
  for (const Kind& k : kKinds) plat::inject_failure(k.op, 0, 0, 0);
  for (std::size_t at = 1; at < plan.size(); at += 3) {
    const std::string_view kind = plan[at];
    char* rest = nullptr;
    const std::uint64_t first = std::strtoull(plan[at + 1].c_str(), &rest, 10);
    std::uint64_t last = first;
    if (*rest == '+') last = UINT64_MAX;
    if (*rest == '-') last = std::strtoull(rest + 1, nullptr, 10);
    const std::string_view meaning = plan[at + 2];
    int error = 0;
    for (const Meaning& m : kMeanings)
      if (meaning == m.name) error = plat::failure_code(m.meaning);
    bool known = kind == "alloc";
    if (known) rt::for__inject_vm_failure(first, last);
    for (const Kind& k : kKinds) {
      if (kind != k.name) continue;
      if (error == 0) usage();
      plat::inject_failure(k.op, first, last, error);
      known = true;
    }
    if (!known) usage();
  }
  std::atexit(write_report);
  return rt::for_main(argc, argv, app::map_front_end);
}
