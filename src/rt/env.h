// Environment switches of the run-time.
#pragma once

namespace rt {

// True when the variable is set, not empty, and starts with t, T, y or Y, or
// consists only of decimal digits with a value other than 0.
bool for_check_env_name(const char* name);

}  // namespace rt
