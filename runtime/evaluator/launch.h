// The boot library's start and `kel`'s entry into the console library; also the loader and
// the protected evaluation the case driver uses.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::launcher {
// Binds every unbound word of the block (deeply) to the global context, adding it there.
void bind_global(const Cell* block);
// Loads UTF-8 text into a block written to out (a rooted cell), its words bound globally.
void load_text(const uint8_t* bytes, int32_t length, Cell* out);
// Moves the block past the word Kel and its header block.
void skip_header(Cell* block);
// Binds the datatype and logic words, `make`, then evaluates the embedded boot specs.
void load_boot_specs();
// Called before and after each boot module runs, with its position in the manifest
// (boot_manifest.h); the start-up bench times the sections with it. Null otherwise.
extern void (*module_observer)(uint32_t module, bool after);
// Evaluates the block under a try frame; the value or the error lands in result.
bool run_protected(const Cell* block, Cell* result, bool* is_error);
}  // namespace kel::launcher

// Start-up's last steps: the boot library's top level, then the program's entry (usage for
// --help, else cli-console-ctx/launch, which runs a script or the console).
namespace kel::runtime {
void run_boot_top_level();
}  // namespace kel::runtime
namespace kel::console {
void launch();
}  // namespace kel::console
