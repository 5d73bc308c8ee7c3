// Formatted text appended to a fixed buffer, whole or not at all: the
// diagnostic path builds its lines this way and never allocates.
#pragma once

#include <cstddef>

namespace rt {

// Appends printf-style to text[0..length) within cap (terminator included)
// and returns the new length; text that does not fit is left out entirely.
[[gnu::format(printf, 4, 5)]] std::size_t append_text(char* text, std::size_t length,
                                                      std::size_t cap, const char* format, ...);

}  // namespace rt
