// Start-up: the argument table, its failure, the exception record, and the
// exception table. Initialisation happens once per process, so each case
// runs in a child of its own.
#include "rt/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "rt/args.h"
#include "rt/exceptions.h"
#include "rt/memory.h"
#include "support/test_files.h"

namespace {

TEST(StartupDeathTest, NoArgumentVectorGivesTheProgramPathAsArgumentZero) {
  SKIP_ON_WINDOWS("no /proc/self/exe; the command line is split from the system's string");
  EXPECT_EXIT(
      {
        rt::for_rtl_init_(0, nullptr);
        char path[PATH_MAX] = {};
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        char arg[PATH_MAX];
        const std::int16_t zero = 0;
        std::int16_t status = 0;
        rt::GETARG(&zero, arg, sizeof arg, &status);
        const bool same = status == n && std::string(arg, static_cast<std::size_t>(n)) == path;
        std::_Exit(rt::NARGS() == 1 && same && rt::for__l_excpt_info != nullptr ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(StartupDeathTest, ArgumentTableWithoutMemory) {
  EXPECT_EXIT(
      {
        rt::for__set_vm_limit(8);
        rt::for_rtl_init_(0, nullptr);
        std::_Exit(0);
      },
      testing::ExitedWithCode(255),
      "^\r\nruntime error R6008\r\n- not enough space for arguments\r\n$");
}

// Without memory for the exception record start-up goes on without it.
TEST(StartupDeathTest, ExceptionRecordWithoutMemory) {
  SKIP_ON_WINDOWS("the arguments are split from the whole command line, which needs more memory");
  char name[] = "program";
  char* argv[] = {name, nullptr};
  EXPECT_EXIT(
      {
        rt::for__set_vm_limit(64);
        rt::for_rtl_init_(1, argv);
        std::_Exit(rt::for__l_excpt_info == nullptr && rt::NARGS() == 1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ExceptionTable, NumberAndReportByCode) {
  using R = rt::ExceptionReport;
  struct Case {
    std::uint32_t code;
    std::uint16_t number;
    R report;
  };
  const Case cases[] = {
      {0xC0000005, 157, R::kSevere},         {0xC00000FD, 170, R::kSevere},
      {0x80000002, 158, R::kSevere},         {0xC0000006, 167, R::kSevere},
      {0xC000001D, 168, R::kSevere},         {0xC0000094, 164, R::kSevere},
      {0xC0000095, 165, R::kSevere},         {0xC0000025, 169, R::kSevere},
      {0x80000003, 159, R::kBreakpoint},     {0xC000008E, 73, R::kFloatingWarning},
      {0xC0000090, 65, R::kFloatingWarning}, {0xC0000091, 72, R::kFloatingWarning},
      {0xC000008F, 140, R::kSevere},         {0xC0000093, 74, R::kUnderflow},
      {0xE0001234, 172, R::kExceptionCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(rt::exception_row(c.code).number, c.number);
    EXPECT_EQ(rt::exception_row(c.code).report, c.report);
  }
}

}  // namespace
