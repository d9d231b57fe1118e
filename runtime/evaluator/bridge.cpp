// The general routines of the boot library (quit-return ... write-stdout), registered in
// their table's order, and the routines placed in fields of `system` (state/GC ...).
#include "runtime/evaluator/bridge.h"

#include <cstdio>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/error.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/natives_math.h"
#include "runtime/evaluator/trace.h"
#include "runtime/gc.h"
#include "runtime/io/clipboard.h"
#include "runtime/io/simple_io.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kel::bridge {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }

void answer_integer(int64_t v) {
  Cell r{T_INTEGER, 0, uint32_t(int32_t(v)), 0};
  stack::set_only_result(&r);
}

void answer_logic(bool v) {
  Cell r{T_LOGIC, v ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

// script/expect-arg naming this routine, the value's type and its first argument.
[[noreturn]] void refuse_first_arg() {
  Cell fn = stack::current_function_word();
  Cell dt{T_DATATYPE, cell::type(arg(0)), 0, 0};
  Cell w = error::nth_argument_word(0);
  error::raise(err::script::expect_arg, &fn, &dt, &w);
}

void quit_return() {
  int32_t status = cell::get_int(arg(0));
  std::fflush(nullptr);
  rt::exit_process(status & 0xFF);
}

void set_quiet() {
  uint32_t t = cell::type(arg(0));
  if (t != T_WORD && t != T_SET_WORD && t != T_GET_WORD && t != T_LIT_WORD) refuse_first_arg();
  Cell word = *arg(0);
  context::assign(&word, arg(1), word.w1, false);
  Cell v = *arg(1);  // assign may allocate (a word added to its context)
  stack::set_only_result(&v);
}

void set_slot_quiet() {
  uint32_t t = cell::type(arg(0));
  if (t != T_BLOCK && t != T_PAREN && (t < T_PATH || t > T_GET_PATH)) refuse_first_arg();
  Cell* series = arg(0);
  if (series->w1 < blk::count(series->w2)) {
    blk::cells(series->w2)[series->w1] = *arg(1);
    memory::touch_node(series->w2);
  }
  Cell v = *arg(1);
  stack::set_only_result(&v);
}

void shift_with(int32_t direction, int32_t mode) {
  answer_integer(natives::shift_bits(cell::get_int(arg(0)), cell::get_int(arg(1)), direction, mode));
}
void shift_right() { shift_with(-1, -1); }
void shift_left() { shift_with(1, -1); }
void shift_logical() { shift_with(-1, 1); }

void last_lf_q() { answer_logic(natives::last_line_feed != 0); }

void get_current_dir() {
  Cell* dir = file::current_dir();
  dir->header = (dir->header & ~hdr::TYPE_MASK) | T_FILE;
  Cell r = *dir;
  stack::set_only_result(&r);
}

void set_current_dir() {
  Cell* path = arg(0);
  if (!platform::change_dir(file::to_local_text(path).c_str())) {
    Cell p = *arg(0);
    error::raise(err::access::cannot_open, &p);
  }
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

// The first negative component raises script/invalid-arg with it.
void refuse_negative(int count) {
  for (int i = 0; i < count; ++i)
    if (cell::get_int(arg(i)) < 0) {
      Cell v = *arg(i);
      error::raise(err::script::invalid_arg, &v);
    }
}

void as_color() {
  refuse_negative(3);
  uint8_t bytes[3];
  for (int i = 0; i < 3; ++i) bytes[i] = uint8_t(cell::get_int(arg(i)) & 0xFF);
  Cell r = *tuple::push_new_from_bytes(3, bytes);
  stack::set_only_result(&r);
}

// Each component is taken modulo 256, as as-color does: one above 255 must not spill into
// the next byte.
void as_ipv4() {
  refuse_negative(4);
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(cell::get_int(arg(i)) & 0xFF);
  Cell r = *tuple::push_new_from_bytes(4, bytes);
  stack::set_only_result(&r);
}

// The characters from start's position to pos's position, both in start's buffer and each
// kept within [start's position, tail]; a sequence that runs past pos counts once.
void count_chars() {
  SeriesBuffer* b = memory::node_buffer(arg(0)->w2);
  const uint8_t* head = memory::head(b);
  const uint8_t* tail = memory::tail(b);
  uint32_t used = uint32_t(tail - head);
  uint32_t from = arg(0)->w1 < used ? arg(0)->w1 : used;
  uint32_t to = arg(1)->w1 < used ? arg(1)->w1 : used;
  if (to < from) to = from;
  int32_t n = 0;
  for (const uint8_t* p = head + from; p < head + to; ++n) {
    int32_t cp;
    p = unicode::read_utf8_char(p, tail, &cp);
  }
  answer_integer(n);
}

uint32_t stack_size() { return uint32_t(stack::state().top - stack::state().args_begin); }

void stack_size_q() { answer_integer(stack_size()); }

void pick_stack() {
  int32_t idx = cell::get_int(arg(0));
  if (idx > 0 && uint32_t(idx) < stack_size()) {
    Cell r = stack::state().args_begin[idx - 1];
    stack::set_only_result(&r);
  } else {
    Cell r{T_NONE, 0, 0, 0};
    stack::set_only_result(&r);
  }
}

void frame_index_q() { answer_integer(stack::state().base - stack::state().args_begin); }

void collect_calls() {
  stack::collect_trace(arg(0));
  Cell r = *arg(0);
  stack::set_only_result(&r);
}

const routine::Entry kGeneral[] = {
    {"quit-return",
     "\"Stops evaluation and exits the program with a given status\" status [integer!] "
     "\"Process termination value to return\"",
     quit_return, T_UNSET},
    {"set-quiet",
     "\"Set an object's field to a value without triggering eventual object's events\" "
     "word [any-type!] value [any-type!]",
     set_quiet, T_UNSET},
    {"set-slot-quiet",
     "\"Set a value in series without triggering eventual owner's events\" series [any-type!] "
     "value [any-type!]",
     set_slot_quiet, T_UNSET},
    {"shift-right", "\"Shift bits to the right\" data [integer!] bits [integer!]", shift_right,
     T_INTEGER},
    {"shift-left", "\"Shift bits to the left\" data [integer!] bits [integer!]", shift_left,
     T_INTEGER},
    {"shift-logical", "\"Shift bits to the right (unsigned)\" data [integer!] bits [integer!]",
     shift_logical, T_INTEGER},
    {"last-lf?", "\"Internal Use Only\"", last_lf_q, T_LOGIC},
    {"get-current-dir", "\"Returns the platform's current directory for the process\"",
     get_current_dir, T_FILE},
    {"set-current-dir", "\"Sets the platform's current process directory\" path [file!]",
     set_current_dir, T_UNSET},
    // Each gives a result type, so the frame's first cell is never restored from a copy
    // taken before the call (a copy the collector does not see).
    {"create-dir", "\"Create the given directory\" path [file!]", simple_io::create_dir_routine,
     T_FILE},
    {"exists?", "\"Returns TRUE if the file exists\" path [file!]", simple_io::exists_routine,
     T_LOGIC},
    {"os-info", "\"Returns detailed operating system version information\"",
     simple_io::os_info_routine, T_OBJECT},
    {"as-color", "\"Combine R, G and B values into a tuple\" r [integer!] g [integer!] b [integer!]",
     as_color, T_TUPLE},
    {"as-ipv4",
     "\"Combine a, b, c and d values into a tuple\" a [integer!] b [integer!] c [integer!] "
     "d [integer!]",
     as_ipv4, T_TUPLE},
    {"as-rgba",
     "\"Combine R, G, B and A color components into a tuple\" r [integer!] g [integer!] "
     "b [integer!] a [integer!]",
     as_ipv4, T_TUPLE},
    {"count-chars",
     "\"Count UTF-8 encoded characters between two positions in a binary series\" "
     "start [binary!] pos [binary!]",
     count_chars, T_INTEGER},
    {"stack-size?", "", stack_size_q, T_INTEGER},
    {"pick-stack", "idx [integer!]", pick_stack, T_UNSET},
    {"frame-index?", "", frame_index_q, T_INTEGER},
    {"collect-calls", "blk [block!]", collect_calls, T_BLOCK},
    {"tracing?", "", trace::tracing_routine, T_LOGIC},
    {"read-clipboard",
     "\"Return the contents of the system clipboard\" return: [logic! none! string! block! "
     "image!] \"false on failure, none if empty, otherwise: string!, block! of files!, or an "
     "image!\"",
     clipboard::read_routine, T_IMAGE},
    {"write-clipboard",
     "\"Write content to the system clipboard\" data [any-type!] "
     "\"string!, block! of files!, an image! or none!\" return: [logic!] \"indicates success\"",
     clipboard::write_routine, T_LOGIC},
    {"write-stdout", "\"Write data to STDOUT\" data [any-type!]", simple_io::write_stdout_routine,
     T_UNSET},
};

// Routines bound to no word: placed in fields of `system` (the collector's switch and run
// counters in state/GC; interpreted? in state; the float flags' setter, which the system
// module calls from the options/float handler it puts in its place).
void gc_active_q() { answer_logic(gc::state().automatic); }
void gc_series_cycles() { answer_integer(gc::state().collection_count); }
void gc_nodes_cycles() { answer_integer(gc::state().relocation_count); }
// Some frame below this routine's is interpreted (the stack's whole depth is looked at).
void interpreted_q() { answer_logic(stack::interpreted_below_q(nullptr, false)); }

struct PlacedRoutine {
  const char* path;
  const char* field;
  routine::Entry entry;
};
PlacedRoutine g_placed[] = {
    {"state/GC", "active?", {nullptr, "", gc_active_q, T_LOGIC}},
    {"state/GC", "series-cycles", {nullptr, "", gc_series_cycles, T_INTEGER}},
    {"state/GC", "nodes-cycles", {nullptr, "", gc_nodes_cycles, T_INTEGER}},
    {"state", "interpreted?",
     {nullptr, "\"Return TRUE if called from the interpreter\"", interpreted_q, T_LOGIC}},
    {"options/float", "on-change*",
     {nullptr, "word [word!] value [any-type!]", float_::set_flag_routine, T_UNSET}},
};
constexpr int PLACED_COUNT = int(sizeof g_placed / sizeof g_placed[0]);
int32_t g_placed_index[PLACED_COUNT];

// `trace true`/`trace false`: pauses or resumes delivery (and-ed with a trace running).
void set_tracing() {
  interpreter::set_tracing(cell::type(arg(0)) == T_LOGIC && arg(0)->w1 != 0);
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}
int32_t g_set_tracing_index = -1;

void put_placed_routines() {
  for (int i = 0; i < PLACED_COUNT; ++i) {
    Cell* top = stack::state().top;
    system::set_field(g_placed[i].path, g_placed[i].field, routine::push_built(g_placed_index[i]));
    stack::state().top = top;
  }
}

}  // namespace

void register_routines() {
  static bool done = false;
  if (done) return;
  done = true;
  for (const routine::Entry& e : kGeneral) routine::register_routine(e);
  for (int i = 0; i < PLACED_COUNT; ++i)
    g_placed_index[i] = routine::register_routine(g_placed[i].entry);
  g_set_tracing_index = routine::register_routine({nullptr, "on [logic!]", set_tracing, T_UNSET});
  routine::on_bound([] { system::on_build(put_placed_routines); });
}

void place_tools_routines() {
  Cell tools;
  if (g_set_tracing_index < 0 || !system::find_field("", "tools", &tools) ||
      cell::type(&tools) != T_OBJECT)
    return;  // started without the boot library's tools
  Cell* top = stack::state().top;
  system::set_field("tools", "set-tracing", routine::push_built(g_set_tracing_index));
  stack::state().top = top;
}

}  // namespace kel::bridge
