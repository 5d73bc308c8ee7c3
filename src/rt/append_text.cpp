#include "rt/append_text.h"

#include <cstdarg>
#include <cstdio>

namespace rt {

std::size_t append_text(char* text, std::size_t length, std::size_t cap, const char* format, ...) {
  if (length >= cap) return length;
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text + length, cap - length, format, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= cap - length) {
    text[length] = '\0';
    return length;
  }
  return length + static_cast<std::size_t>(n);
}

}  // namespace rt
