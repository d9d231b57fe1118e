// Entry points that runtime initialisation calls in units not built yet. Each is a no-op stub
// in runtime/init_steps.cpp; see that file for how a unit takes its stubs over.
#pragma once
#include <cstdint>

namespace kel::image_codec { void init_factory(); }
namespace kel::actions { void build_table(); }
namespace kel::runtime {
void make_root_block();
void run_boot_top_level();
}  // namespace kel::runtime
namespace kel::case_ { void build_tables(); }
namespace kel::natives { void build_table(); }
namespace kel::parse { void init_stacks(); }
namespace kel::owner { void init(); }
namespace kel::checksum { void intern_method_words(); }
namespace kel::compress { void methods_init(); }
namespace kel::host { void make_conversion_buffer(); }
namespace kel::stack { void init(); }
namespace kel::kelbin { void decode_boot(); }
namespace kel::interp { void set_tracer(); }
namespace kel::cycle { void init_static(); }
namespace kel::float_ { void init_static(); }
namespace kel::console { void launch(); }
