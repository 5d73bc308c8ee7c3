#include "rt/startup.h"

#include "platform/platform.h"
#include "recio/connection.h"
#include "recio/unit_table.h"
#include "rt/args.h"
#include "rt/diagnostics.h"
#include "rt/env.h"

namespace rt {

std::uint32_t for__l_exit_hand_decl = 0;
std::uint32_t for__l_exit_termination = 0;
std::uint32_t for__l_fpe_mask = 0;
std::uint32_t for__l_undcnt = 0, for__l_ovfcnt = 0, for__l_div0cnt = 0, for__l_invcnt = 0;
std::uint32_t for__reentrancy_mode = 0;

namespace {
std::uint32_t initialised = 0;
std::uint32_t init_guard = 0;
}  // namespace

void for_rtl_init_(int argc, char** argv) {
  plat::ensure_standard_handles();
  if (init_guard != 0) return;
  init_guard = 1;
  if (initialised == 0) {
    if (argc > 0 && argv != nullptr) for__set_arguments(argc, argv);
    initialised = 1;
  }
  init_guard = 0;
}

void for__fpe_exit_handler() {
  struct Report {
    std::uint32_t bit;
    const std::uint32_t* counter;
    msg::Id id;
  };
  const Report reports[] = {
      {1u << 9, &for__l_undcnt, msg::info(300)},
      {1u << 8, &for__l_ovfcnt, msg::info(298)},
      {1u << 10, &for__l_div0cnt, msg::info(299)},
      {1u << 11, &for__l_invcnt, msg::info(297)},
  };
  for (const Report& r : reports) {
    if ((for__l_fpe_mask & r.bit) != 0 && *r.counter != 0)
      for__issue_diagnostic_int(r.id, *r.counter);
  }
}

int for__exit_handler() {
  for__fpe_exit_handler();
  for__l_exit_termination = 1;
  if (for__l_exit_hand_decl == 0) return 0;
  // Cleared first: a severe close failure below ends the process from here,
  // and must not walk the table again.
  for__l_exit_hand_decl = 0;
  recio::LubCursor cursor;
  while (recio::UnitBlock* u = recio::for__get_next_lub(&cursor)) {
    if (u->busy != 0) continue;  // held by a statement in progress
    const std::int32_t unit = u->unit;
    if (u->connected) {
      u->closed_by_termination = true;
      if (msg::Id id = recio::for__close_default(u, false)) {
        u->connected = false;
        for__issue_diagnostic_io(id, unit, u->file_name);
      }
    }
    recio::for__deallocate_lub(unit);
  }
  return 0;
}

void for_rtl_finish_() {
  for__exit_handler();
}

void for_exit(const std::int32_t* status) {
  for__exit_handler();
  plat::exit_process(status != nullptr ? static_cast<std::uint32_t>(*status) : 0u);
}

void for_check_flawed_fdiv() {
  // volatile keeps the compiler from folding the test away.
  volatile double x = 4195835.0;
  volatile double y = 3145727.0;
  const double r = x + (0.0 - (x / y) * y);
  if (r == 0.0) return;
  if (for_check_env_name("FOR_RUN_FLAWED_FDIV")) return;
  for__issue_diagnostic(msg::kFlawedDivide);
}

std::int32_t for_set_reentrancy(const std::int32_t* mode) {
  const auto previous = static_cast<std::int32_t>(for__reentrancy_mode);
  if (mode != nullptr) for__reentrancy_mode = *mode == 3 ? 3u : 0u;
  return previous;
}

int for_main(int argc, char** argv, int (*program)()) {
  for_rtl_init_(argc, argv);
  program();
  for_rtl_finish_();
  return 0;
}

}  // namespace rt
