// runtime/init and its ordered steps, the explicit unit initialisers, the boot-library and
// launch phases of start-up, and runtime/shutdown.
#include "runtime/init.h"

#include <cstdlib>

#include "console/editor.h"
#include "gui/terminal/backend.h"
#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word_startup.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/parse.h"
#include "runtime/error.h"
#include "runtime/extern.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/hooks.h"
#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"
#include "runtime/init_steps.h"
#include "runtime/io/host.h"
#include "runtime/io/image_codec.h"
#include "runtime/io/kelbin.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/platform.h"
#include "runtime/random.h"
#include "runtime/root_block.h"
#include "runtime/rt.h"
#include "runtime/slots.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"

namespace kel::runtime {

bool collect_into_root = false;
uint32_t tracer_position = 0;

const uint8_t datatype_registration_order[REGISTERED_TYPE_COUNT] = {
    1,  2,  3,  4,  42, 5,  7,  41, 11, 13, 14, 15, 17, 16, 18, 19, 10, 21,
    22, 23, 25, 26, 27, 28, 24, 29, 6,  20, 9,  8,  32, 30, 31, 12, 33, 34,
    35, 40, 36, 37, 38, 39, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53};

void init_units() {
  cycle::init();           // the cycle stack
  lexer::init_static();    // the lexer's table pointers
}

// Node handles outlive the heap they name: a runtime made again starts from none of them,
// as the first one does, and builders wait for its own `system`.
void forget_last_runtime() {
  system::forget();
  forget_root_block();
  native::forget_origins();
  routine::forget_binding();
  error::forget_pending();
  error::unload_catalogue();
  editor::forget_cells();
  gui::forget_backend();
  hash::symbol_table = 0;
  hash::forget_scratch();
  series::forget_take_scratch();
  symbol::list = 0;
  context::global = 0;
}

void init_set_collect_into_root() { collect_into_root = true; }

void init_services() {
  output::init();
  platform::init();
  random::init();
  memory::init();
  extern_::init();
}

void init_alloc_type_tables() { datatype::alloc_tables(); }

void init_register_datatypes() {
  for (uint8_t id : datatype_registration_order) {
    if (id == 53) image_codec::init_factory();  // image! needs the imaging factory
    datatype::install(id);
  }
}

void init_build_action_table() { actions::build_table(); }

void init_take_first_pool_and_arena() {
  memory::pool_new(memory::POOL_NODES);
  memory::arena_new();
}

// The room the fixed tables keep comes in blocks of their own (see memory::ApartScope).
constexpr uint32_t FIXED_TABLE_APART = 32768;

void init_make_root_block() {
  memory::ApartScope apart(FIXED_TABLE_APART);
  make_root_block();
}
void init_make_global_context() {
  memory::ApartScope apart(FIXED_TABLE_APART);
  context::make_global();
}
void init_create_symbol_hash() {
  memory::ApartScope apart(FIXED_TABLE_APART);
  symbol::create_hash();
}

void init_intern_words() {
  datatype::intern_type_words();
  intern_runtime_words();
  make_runtime_refinements();
  root_collect_start_up_words();
}

void init_build_natives_and_parse_stacks() {
  natives::build_table();
  native::init_origins();
  parse::init_stacks();
}

void init_owner_table() {
  memory::ApartScope apart(FIXED_TABLE_APART);
  owner::init();
}

void init_method_words_and_host_buffer() {
  checksum::intern_method_words();
  compress::methods_init();
  host::make_conversion_buffer();
}

void init_stack_bounds_and_lexer() {
  stack::init();
  lexer::init();
}

void init_decode_boot_image() { kelbin::decode_boot(); }

void init_tracer_slots_and_gc_counters() {
  interp::set_tracer();
  Cell tracer{T_UNSET, 0, 0, 0};
  tracer_position = root_append(&tracer);
  slot_table::init();
  // The counters start afresh; the mark callbacks the earlier steps registered stay.
  gc::GcState& g = gc::state();
  uint32_t count = g.callback_count;
  gc::MarkCallback kept[gc::MAX_CALLBACKS];
  for (uint32_t i = 0; i < count; ++i) kept[i] = g.callbacks[i];
  gc::init();
  for (uint32_t i = 0; i < count; ++i) gc::state().callbacks[i] = kept[i];
  gc::state().callback_count = count;
}

void init() {
  // Nothing collects until start-up switches the collector on (a runtime made again in
  // tests would otherwise collect over the roots of the last one).
  gc::set_automatic(false);
  forget_last_runtime();
  init_set_collect_into_root();
  init_services();
  init_alloc_type_tables();
  init_register_datatypes();
  init_build_action_table();
  init_take_first_pool_and_arena();
  init_make_root_block();
  init_make_global_context();
  init_create_symbol_hash();
  init_intern_words();
  init_build_natives_and_parse_stacks();
  init_owner_table();
  init_method_words_and_host_buffer();
  init_stack_bounds_and_lexer();
  init_decode_boot_image();
  init_tracer_slots_and_gc_counters();
}

void shutdown() {
  gc::set_automatic(false);
  memory::release_all();
  // The units that keep tracked blocks let go of them first: init makes them again.
  extern_::shutdown();
  lexer::shutdown();
  stack::release();
  string::release_scratch();
  hash::forget_scratch();
  rt::free_all_tracked();
  forget_last_runtime();
}

namespace {
// Under KEL_GC_STRESS_AFTER_BOOT the stress mode starts once the boot library has run. Every
// process of the test suite boots, and a boot collected at every allocation costs seconds;
// one test boots under the whole stress instead.
struct BootStressPause {
  uint32_t kept = 0;
  BootStressPause() {
    if (gc::stress_period() && std::getenv("KEL_GC_STRESS_AFTER_BOOT")) {
      kept = gc::stress_period();
      gc::set_stress(0);
    }
  }
  ~BootStressPause() {
    if (kept) gc::set_stress(kept);
  }
};
}  // namespace

void run_boot_library() {
  BootStressPause pause;
  gc::set_automatic(true);
  collect_into_root = false;
  system::build();
  error::load_catalogue();
  run_boot_top_level();
}

void call_launch(boot::LaunchFn launch) {
  // The frame named `launch` comes with the stacks; until then the call is direct.
  if (launch) launch();
  else console::launch();
}

}  // namespace kel::runtime
