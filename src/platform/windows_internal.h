// Shared between the files of the Windows layer and its tests; not part of
// the interface.
#pragma once

#include <string>

namespace plat {

// `text` in `code_page`, every character the code page lacks given as "?"
// rather than a look-alike; empty when the conversion fails.
std::string narrow_without_best_fit(const wchar_t* text, unsigned code_page);
// The same for `count` units (-1: up to and with the terminator) into out;
// the byte count, or 0 when the conversion fails or does not fit.
int narrow_units_without_best_fit(const wchar_t* units, int count, unsigned code_page, char* out,
                                  int cap);

// True while bytes of characters read from the console wait for the next
// read: an input wait must not wait for the console then.
bool console_input_pending();

}  // namespace plat
