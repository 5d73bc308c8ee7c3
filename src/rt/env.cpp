// Environment switches of the run-time.
#include "rt/env.h"

#include "platform/platform.h"

namespace rt {

bool for_check_env_name(const char* name) {
  if (name == nullptr) return false;
  const char* value = plat::get_env(name);
  if (value == nullptr || value[0] == '\0') return false;
  switch (value[0]) {
    case 't':
    case 'T':
    case 'y':
    case 'Y':
      return true;
    default:
      break;
  }
  // All digits and not zero. Looking for a non-zero digit instead of
  // accumulating a value keeps long runs of digits from wrapping to 0.
  bool nonzero = false;
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    if (*p != '0') nonzero = true;
  }
  return nonzero;
}

}  // namespace rt
