#include "rt/env.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr char kVar[] = "MAPCONV_TEST_ENV_SWITCH";

TEST(EnvSwitch, TruthTest) {
  struct Case {
    const char* value;  // null: unset
    bool on;
  };
  const Case cases[] = {
      {nullptr, false},
      {"", false},
      {"true", true},
      {"T", true},
      {"yes", true},
      {"Y", true},
      {"yellow", true},
      {"1", true},
      {"12", true},
      {"0", false},
      {"000", false},
      {"false", false},
      {"no", false},
      {"12a", false},
      {" 1", false},
      {"-1", false},
      {"+1", false},
      {"1 ", false},
      // Values beyond any integer width: decided by their digits, not by a wrapped sum.
      {"00000000000000000000001", true},
      {"00000000000000000000000000000000000000", false},
      {"18446744073709551616", true},
      {"4294967296", true},
  };
  for (const Case& c : cases) {
    if (c.value == nullptr) {
      unsetenv(kVar);
    } else {
      setenv(kVar, c.value, 1);
    }
    EXPECT_EQ(rt::for_check_env_name(kVar), c.on) << '"' << (c.value ? c.value : "(unset)") << '"';
  }
  unsetenv(kVar);
  EXPECT_FALSE(rt::for_check_env_name(nullptr));
}

}  // namespace
