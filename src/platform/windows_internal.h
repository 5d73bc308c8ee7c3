// Shared between the files of the Windows layer and its tests; not part of
// the interface.
#pragma once

#include <string>

namespace plat {

// `text` in `code_page`, every character the code page lacks given as "?"
// rather than a look-alike; empty when the conversion fails.
std::string narrow_without_best_fit(const wchar_t* text, unsigned code_page);

}  // namespace plat
