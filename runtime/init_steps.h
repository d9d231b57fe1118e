// Entry points that runtime initialisation calls in units not built yet. Each is a no-op stub
// in runtime/init_steps.cpp; see that file for how a unit takes its stubs over.
#pragma once
#include <cstdint>

namespace kel::runtime {
void intern_runtime_words();
void make_runtime_refinements();
void run_boot_top_level();
}  // namespace kel::runtime
namespace kel::context { void make_global(); }
namespace kel::symbol { void create_hash(); }
namespace kel::console { void launch(); }
// The terminal GUI backend, called in place during the boot library.
namespace kel::gui {
void init_backend();
void intern_draw_words();
}  // namespace kel::gui
