// The search for a script's Kel header, shared by the console's start-up and `do-file`:
// the C++ search and the routine `find-script-header` over it.
#pragma once
#include <cstddef>
#include <string>

namespace kel::script_header {
// Position of the first "Kel" (letter case significant), optionally followed by "/System",
// then any run of spaces, tabs, CRs and LFs, then "["; npos when there is none.
size_t find(const std::string& text);
// Registers `find-script-header` (text [string!]): the text at its header, or none.
void register_routines();
}  // namespace kel::script_header
