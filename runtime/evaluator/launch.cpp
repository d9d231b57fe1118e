// The boot library's start: its modules and the runtime's steps between them, the loader and
// protected evaluation the case driver uses, and `kel`'s entry into the console library.

#include <cstdio>
#include <cstring>
#include <string>

#include "console/console_start.h"
#include "console/editor.h"
#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/parse.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/function.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/evaluator/script_header.h"
#include "runtime/evaluator/trace.h"
#include "runtime/datatypes/object.h"
#include "runtime/evaluator/bridge.h"
#include "runtime/hooks.h"
#include "runtime/io/simple_io.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/system.h"
#include "runtime/init.h"
#include "boot_manifest.h"

#include "gui/terminal/backend.h"
#include "gui/terminal/vocabulary.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/routine.h"
#include "runtime/evaluator/math_routines.h"
#include "runtime/evaluator/predicates.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "gui/terminal/draw.h"
#include "runtime/init_steps.h"
#include "runtime/io/kelbin.h"
#include "runtime/io/json_unescape.h"
#include "runtime/io/kelbin_codec.h"
#include "runtime/output.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/startup.h"

namespace kel::launcher {

namespace {

void set_global(const char* name, const Cell& value) {
  Cell w = word::intern_global(name);
  *word::value_slot(&w) = value;
}

// Until the named typesets exist `make` takes an untyped spec (its argument cache resolves
// the type words on first use); the image's own `make` is bound again afterwards.
void bind_make() {
  const char* text = "[type spec]";
  Cell* spec = stack::reserve_cell();
  *spec = Cell{T_NONE, 0, 0, 0};
  load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), spec);
  Cell* mk = stack::reserve_cell();
  *mk = Cell{T_NONE, 0, 0, 0};
  blk::init(mk, 2);
  Cell* dst = runtime::block_append_cell(mk);
  *dst = blk::cells(spec->w2)[spec->w1];
  *runtime::block_append_cell(mk) = Cell{T_INTEGER, 0, 1, 0};
  Cell proto{T_DATATYPE, T_ACTION, 0, 0};
  Cell* p = stack::push_copy(&proto);
  Cell* r = datatype::slot<datatype::action::MAKE>(T_ACTION)(p, mk, T_ACTION);
  set_global("make", *r);
  stack::state().top = spec;
}

// The error report's forms of values other than words and scalars: the datatype's own mold
// or form, cut at 80 characters, run under a try frame. The error being reported is saved
// and put back, so a failure here only falls back to the report's short form.
bool form_for_report(const Cell* value, bool mold, std::string* out) {
  stack::State& st = stack::state();
  if (!st.args_begin || interp::words.body.w2 == 0) return false;
  uint32_t t = cell::type(value);
  uint32_t k = mold ? datatype::action::MOLD : datatype::action::FORM;
  if (t >= datatype::TABLE_TYPES || !datatype::any_slot(t, k)) return false;
  error::Pending saved = error::pending();
  gc::RootRange saved_root(&saved.args[0], &saved.stack + 1);  // molding can move nodes
  Cell* base = st.base;
  Cell* top = st.top;
  Cell* v = stack::push_copy(value);
  Cell* limit = stack::reserve_cell();
  *limit = Cell{T_INTEGER, 0, 81, 0};
  std::string text;
  stack::push_try_frame(&interp::words.body);
  uint32_t code = stack::land(unwind_code::ERROR, [&] {
    Cell* s = mold ? actions::mold(v, false, false, false, limit) : actions::form(v, limit);
    int32_t n = string::count_from_head(s);
    for (int32_t i = 0; i < n; ++i) {
      uint8_t buf[4];
      int len = unicode::encode_utf8_raw(uint32_t(string::codepoint_at(s, i)), buf);
      text.append(reinterpret_cast<char*>(buf), size_t(len));
    }
  });
  if (code) stack::take_pending_code();
  else stack::pop_frame();
  error::pending() = saved;
  st.base = base;
  st.top = top;
  if (code) return false;
  *out = text;
  return true;
}

}  // namespace

void skip_header(Cell* block) {
  uint32_t n = blk::count(block->w2);
  uint32_t i = block->w1;
  while (i < n && cell::type(blk::cells(block->w2) + i) != T_BLOCK) ++i;
  block->w1 = i < n ? i + 1 : n;
}

void bind_global(const Cell* block) {
  Cell* b = stack::push_copy(block);
  for (uint32_t i = 0; i < blk::count(b->w2); ++i) {
    Cell c = blk::cells(b->w2)[i];
    uint32_t t = cell::type(&c);
    if (t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD) {
      if (c.w1 == 0) {
        Cell w = context::add_word(int32_t(c.w2), true, true);
        Cell* at = blk::cells(b->w2) + i;
        at->w1 = w.w1;
        at->w3 = w.w3;
      }
    } else if (t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH)) {
      bind_global(&c);
    }
  }
  stack::drop_cells(1);
}

void load_text(const uint8_t* bytes, int32_t length, Cell* out) {
  lexer_scan(out, bytes, length, false, true, true, false, nullptr, nullptr, nullptr, nullptr);
  bind_global(out);
}

namespace {

// The image's own `make`, kept on the stack while the modules up to the typesets run with
// the untyped one.
uint32_t g_make_at = 0;

void bind_image_make() {
  Cell* make_value = stack::at_index(g_make_at);
  set_global("make", *make_value);
  native::record_origin(make_value);  // the untyped stand-in is not the origin
}

// The registry's routines (the bridge routines in their table's order, then the type
// predicates) and the codec records that hold routines: specs name the typesets.
void bind_routines() {
  static bool registered = false;
  if (!registered) {
    bridge::register_routines();
    predicates::register_routines();
    editor::register_routines();
    console_start::register_routines();
    json::register_routines();
    math_routines::register_routines();
    script_header::register_routines();
  }
  registered = true;
  routine::bind_registered();
  kelbin_codec::install();
}

// The operators whose set-words the lexer does not read as words: `<`, `<=` and `<>` read
// as tags, `%` as a file.
void bind_late_ops() {
  static const char* const late_ops[][2] = {{"//", "modulo"},
                                            {"%", "remainder"},
                                            {"<", "lesser?"},
                                            {"<=", "lesser-or-equal?"},
                                            {"<>", "not-equal?"}};
  for (auto& op : late_ops) {
    Cell* top = stack::state().top;
    Cell w = word::intern_global(op[0]);
    Cell* name = stack::push_copy(&w);
    w = word::intern_global(op[1]);
    Cell* target = stack::push_copy(&w);
    // op! making, as `make op!` does it (a function! op keeps itself in its extras)
    Cell* made = op::make(nullptr, stack::push_copy(word::value_slot(target)), T_OP);
    *word::value_slot(name) = *made;
    stack::state().top = top;
  }
}

// After the system module: the error values' kept objects are those of the new layout, and
// system/options/boot and args take the program's own argument strings, so that an item
// holding a double quote (which the raw command line cannot show) arrives whole.
void take_system_layout() {
  system::keep_base_fields();
  error::take_system_objects();
  Cell* top = stack::state().top;
  char** argv = rt::arg_values();
  int count = rt::arg_count();
  // An item that is not UTF-8 keeps its other characters (U+FFFD for the bad bytes).
  auto push_item = [](const char* item) {
    std::string text = unicode::valid_utf8(item);
    return simple_io::push_utf8_string(reinterpret_cast<const uint8_t*>(text.data()),
                                       int64_t(text.size()));
  };
  if (count > 0) {
    system::set_field("options", "boot", push_item(argv[0]));
    Cell* args = block::push_empty(count);
    for (int i = 1; i < count; ++i) {
      Cell* item = push_item(argv[i]);
      *runtime::block_append_cell(args) = *item;
      stack::drop_cells(1);
    }
    system::set_field("options", "args", args);
  }
  stack::state().top = top;
}

// Words made with the collector off that must stay reachable: kept in the root block.
template <void (*Step)()>
void into_root() {
  runtime::collect_into_root = true;
  Step();
  runtime::collect_into_root = false;
}

void start_gui_backend() {
  into_root<gui::intern_vocabulary>();
  gui::init_backend();
  gui::intern_draw_words();
}

// What the runtime builds itself during the boot library, at the place its section holds
// in the manifest: before or after the module at that position.
struct BootStep {
  uint32_t module;
  bool after;
  void (*run)();
  bool done;
};
BootStep g_steps[] = {
    {boot_manifest::boot_typesets, true, bind_image_make, false},
    {boot_manifest::boot_typesets, true, bind_routines, false},
    {boot_manifest::boot_system, false, system::put_process_values, false},
    {boot_manifest::boot_system, true, take_system_layout, false},
    {boot_manifest::boot_operators, true, bind_late_ops, false},
    {boot_manifest::boot_debugger, true, bridge::place_tools_routines, false},
    {boot_manifest::boot_json, true, json::place_routines, false},
    {boot_manifest::gui_faces, false, into_root<event::register_type>, false},
    {boot_manifest::gui_backend, true, start_gui_backend, false},
    {boot_manifest::console_console, true, console_start::place_init, false},
};

void run_steps(uint32_t module, bool after) {
  for (BootStep& s : g_steps)
    if (!s.done && s.module == module && s.after == after) {
      s.done = true;
      s.run();
    }
}

}  // namespace

void (*module_observer)(uint32_t module, bool after) = nullptr;

void load_boot_specs() {
  error::set_value_former(&form_for_report);
  // Collector roots added before the collector's start-up were dropped by it: add them again
  // (the type words are interned again to the same words, which registers their root).
  datatype::intern_type_words();
  interp::register_roots();
  natives::register_roots();
  parse::register_roots();
  kelbin::register_roots();
  // The datatype, native and action words come from the boot image's definitions.
  set_global("true", Cell{T_LOGIC, 1, 0, 0});
  set_global("false", Cell{T_LOGIC, 0, 0, 0});
  set_global("none", Cell{T_NONE, 0, 0, 0});
  set_global("null-handle", *handle::push_null());
  stack::drop_cells(1);
  if (!kelbin::boot_modules()) return;  // started without an image (the image tool)
  for (BootStep& s : g_steps) s.done = false;  // a runtime made again (tests) runs them again
  Cell* mark = stack::state().top;
  Cell make_word = word::intern_global("make");
  g_make_at = stack::index_of(stack::push_copy(word::value_slot(&make_word)));
  stack::push_native_frame(&interp::words.body);
  bind_make();
  trace::LibraryScope library;  // what the boot sources build is library code
  // The module list is re-read each time: collections rename nodes.
  for (uint32_t i = 0; i < blk::count(kelbin::boot_modules()); ++i) {
    if (module_observer) module_observer(i, false);
    run_steps(i, false);
    Cell* block = stack::push_copy(blk::cells(kelbin::boot_modules()) + i);
    interp::eval_block(block, false);
    stack::clear_frame();
    run_steps(i, true);
    if (module_observer) module_observer(i, true);
  }
  // An image of fewer modules than the manifest (a test's own) still gets every step.
  for (BootStep& s : g_steps)
    if (!s.done) {
      s.done = true;
      s.run();
    }
  stack::pop_frame();
  stack::state().top = mark;
}

bool run_protected(const Cell* block, Cell* result, bool* is_error) {
  // A try frame below the evaluation: an error lands here with its value.
  Cell* base_before = stack::state().base;
  Cell* top_before = stack::state().top;
  stack::push_try_frame(&interp::words.body);
  uint32_t code = stack::land(unwind_code::ERROR, [&] { interp::eval_block(block, true); });
  *is_error = false;
  if (code) {
    stack::take_pending_code();
    if (code == unwind_code::ERROR) {
      stack::take_caught_error();
      *result = *stack::state().base;
      *is_error = true;
    } else {
      // A break, return or throw with nothing to take it.
      *result = Cell{T_UNSET, 0, 0, 0};
    }
  } else {
    *result = *stack::state().base;
    stack::pop_frame();
  }
  stack::state().base = base_before;
  stack::state().top = top_before;
  return code == 0;
}

namespace {

void print_line(const std::string& s) {
  std::string line = s + '\n';
  tui::PrintScope around;
  platform::write_bytes(line.data(), line.size());  // already UTF-8
}

}  // namespace

}  // namespace kel::launcher

namespace kel::runtime {
void run_boot_top_level() {
  launcher::load_boot_specs();
  if (!kelbin::boot_image_present_q()) return;  // the image tool needs the lexer alone
  native::end_origins();
}
}  // namespace kel::runtime

namespace kel::launcher {
namespace {
// The console library's entry, cli-console-ctx/launch, once the console module gives it a
// value: 0 when it returns, 1 after an error it let through. False while it has none.
bool run_console_library(int* status) {
  Cell* top = stack::state().top;
  Cell name = word::intern_global("cli-console-ctx");
  Cell* ctx = stack::push_copy(word::value_slot(&name));
  Cell* field = stack::reserve_cell();
  cell::set_none(field);
  *field = word::intern_global("launch");  // interning allocates: the cell is filled first
  field->header = T_WORD;
  uint32_t t = cell::type(ctx) == T_OBJECT ? cell::type(object::value_of_word(ctx, field)) : 0;
  bool ready = t == T_FUNCTION || t == T_ROUTINE || t == T_NATIVE || t == T_ACTION;
  if (ready) {
    static const char text[] = "cli-console-ctx/launch";
    Cell* block = stack::reserve_cell();
    cell::set_none(block);
    load_text(reinterpret_cast<const uint8_t*>(text), int32_t(sizeof text - 1), block);
    Cell* result = stack::reserve_cell();
    cell::set_none(result);
    bool is_error = false;
    run_protected(block, result, &is_error);
    if (is_error) error::print_report(result);
    *status = is_error ? 1 : 0;
  }
  stack::state().top = top;
  return ready;
}
}  // namespace
}  // namespace kel::launcher

namespace kel::console {
void launch() {
  std::fflush(nullptr);
  int status = 0;
  const char* first = rt::arg_count() > 1 ? rt::arg_values()[1] : nullptr;
  if (first && (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0)) {
    launcher::print_line(
        "Usage: kel [-h | --help] [--catch] [--] [script [argument ...]]\n"
        "  kel                 opens the console: reads commands, evaluates them and prints\n"
        "                      each result after \"== \"\n"
        "  kel script ...      runs the script (a file whose text holds a Kel [...] header)\n"
        "                      with its arguments, then ends\n"
        "  --catch             after the script, stays in the console\n"
        "  --                  ends the options: the next item is the script\n"
        "  -h, --help          prints this help");
  } else if (!launcher::run_console_library(&status)) {
    launcher::print_line("*** Error: the console library is missing");
    status = 1;
  }
  std::fflush(nullptr);
  rt::exit_process(status);
}
}  // namespace kel::console
