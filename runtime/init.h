// Runtime initialisation: the explicit unit initialisers, the 17 ordered steps of
// runtime/init, the boot-library and launch phases of start-up, and shutdown.
#pragma once
#include <cstdint>

#include "runtime/startup.h"

namespace kel::runtime {

// While set, words, refinements and issues made from C texts are also kept in the root block.
extern bool collect_into_root;
// The root-block position of the tracer's cell (unset until a tracer is set).
extern uint32_t tracer_position;

// Explicit initialisers of the units' static state, before runtime::init.
void init_units();

// Builds the whole runtime, in the order of the steps below. Called once.
void init();
// Releases every node pool, arena and large block, then every tracked allocation, and
// forgets what named them; init may follow.
void shutdown();
// Drops the node handles and state a runtime made before leaves in the units' statics.
void forget_last_runtime();

// The steps of init, in order.
void init_set_collect_into_root();            // 1
void init_services();                         // 2  output hooks, platform, random, memory, externs
void init_alloc_type_tables();                // 3
void init_register_datatypes();               // 4
void init_build_action_table();               // 5
void init_take_first_pool_and_arena();        // 6
void init_make_root_block();                  // 7  root block, both stacks, symbol list
void init_make_global_context();              // 8
                                              // 9  the case tables come built with the program
void init_create_symbol_hash();               // 10
void init_intern_words();                     // 11 type words, runtime words, refinements
void init_build_natives_and_parse_stacks();   // 12
void init_owner_table();                      // 13
void init_method_words_and_host_buffer();     // 14
void init_stack_bounds_and_lexer();           // 15
void init_decode_boot_image();                // 16
void init_tracer_slots_and_gc_counters();     // 17

// Datatype ids in registration order: every parent before its children. event! comes later.
constexpr int REGISTERED_TYPE_COUNT = 53;
extern const uint8_t datatype_registration_order[REGISTERED_TYPE_COUNT];

// After init: switch the collector on, stop collecting into the root block, run the boot
// library's top level.
void run_boot_library();
// Calls launch (the console's when null) inside a frame named `launch`.
void call_launch(boot::LaunchFn launch);

}  // namespace kel::runtime
