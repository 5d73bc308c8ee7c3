// Process entry of mapdump. The run-time's frame ends a normal run with
// status 0; mapdump's own status, for scripts, is the program's result.
#include "app/mapdump.h"
#include "rt/startup.h"

namespace {

int dump_status = 0;

int run_dump() {
  dump_status = app::dump_front_end();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  rt::for_main(argc, argv, run_dump);
  return dump_status;
}
