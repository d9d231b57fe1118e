// error!: the catalogue objects, error values made by positions, codes, blocks and strings,
// the error report (form), mold, paths and comparison through object!, and `try`.
#include "runtime/datatypes/error_value.h"

#include <cstring>
#include <exception>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/function.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/hash_mem.h"
#include "runtime/memory.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kel::error {

using gc::Kept;
using stack::TopGuard;

namespace {

// The catalogue objects, kept for raisers (the same contexts as in `system`).
Cell g_errors{T_NONE, 0, 0, 0};    // system/catalog/errors
Cell g_standard{T_NONE, 0, 0, 0};  // system/standard/error
Cell g_state{T_NONE, 0, 0, 0};     // system/state
bool g_loaded = false;

void mark_catalogue() {
  gc::mark_cells(&g_errors, &g_errors + 1);
  gc::mark_cells(&g_standard, &g_standard + 1);
  gc::mark_cells(&g_state, &g_state + 1);
}

Cell* values_of(Node ctx) {
  return reinterpret_cast<Cell*>(hash::mem::data(context::values_node(ctx)));
}
int32_t value_count(Node ctx) { return int32_t(hash::mem::used(context::values_node(ctx)) / 16); }
Cell field_at(Node ctx, int32_t i) {
  // No context: a catalogue category the program replaced by a value that is not an object.
  if (!ctx || i < 0 || i >= value_count(ctx)) return Cell{T_UNSET, 0, 0, 0};
  return values_of(ctx)[i];
}
void set_field(Node ctx, int32_t i, const Cell& v) { values_of(ctx)[i] = v; }
int32_t find_field(Node ctx, int32_t symbol) { return context::find_symbol(ctx, symbol, true); }
// The object's word at a position, as a word! bound to the object.
Cell word_of(Node ctx, int32_t i) {
  Cell w = *context::word_at(ctx, i);
  return Cell{T_WORD, ctx, w.w2, uint32_t(i)};
}

int32_t sym(const char* text) { return symbol::intern_c_text(text); }

Node category_ctx(int32_t index) {
  Cell c = field_at(g_errors.w1, index);
  return cell::type(&c) == T_OBJECT ? c.w1 : 0;
}

int32_t category_count() { return context::word_count(g_errors.w1); }

// A new error: a copy of system/standard/error typed error!, class id 1, no record.
void new_blank(Cell* out) {
  Kept proto(&g_standard);
  object::copy_into(&proto.c, out, false, nullptr, false);
  cell::set_type(out, T_ERROR);
  out->w2 = 1;
  out->w3 = 0;
  object::refresh_self(out);
}

void set_code_type_id(Cell* err, int32_t category, int32_t position) {
  Node cat = category_ctx(category);
  set_field(err->w1, field::CODE, Cell{T_INTEGER, 0, uint32_t(category * 100 + position - 2), 0});
  set_field(err->w1, field::TYPE, word_of(g_errors.w1, category));
  // A category the program replaced (or cut short) has no word for the id: it stays none,
  // and the report falls back to internal/invalid-error.
  bool named = cat && position >= 0 && position < context::word_count(cat);
  set_field(err->w1, field::ID, named ? word_of(cat, position) : Cell{T_NONE, 0, 0, 0});
}

void fill_near(Cell* err) {
  Cell near = interp::current_position;
  if (cell::type(&near) != T_BLOCK && cell::type(&near) != T_PAREN) near = Cell{T_NONE, 0, 0, 0};
  set_field(err->w1, field::NEAR, near);
}

[[noreturn]] void spec_field_error(const char* which) {
  Cell w = word::intern_global(which);
  w.header = T_WORD;
  raise(err::script::invalid_spec_field, &w);
}

// Category position of a word! value (or -1).
int32_t category_of(const Cell* w) {
  if (cell::type(w) != T_WORD) return -1;
  return find_field(g_errors.w1, int32_t(w->w2));
}
// Id position (2 on) of a word! within a category (or -1).
int32_t id_of(int32_t category, const Cell* w) {
  if (cell::type(w) != T_WORD || category < 0) return -1;
  Node cat = category_ctx(category);
  if (!cat) return -1;
  int32_t i = find_field(cat, int32_t(w->w2));
  return i >= 2 ? i : -1;
}

// ---- Text helpers ----

std::string utf8_of(const Cell* s) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  std::string out;
  uint8_t buf[4];
  uint8_t* p = memory::head(b) + size_t(s->w1) * u;
  for (; p < memory::tail(b); p += u) {
    int32_t n = unicode::encode_utf8_char(int32_t(unicode::load_unit(p, u)), buf);
    out.append(reinterpret_cast<char*>(buf), size_t(n));
  }
  return out;
}

// Appends the characters of the string value (from its head) to the buffer.
void append_string(Cell* buffer, const Cell* s, int32_t* budget) {
  int32_t n = 0;
  {
    SeriesBuffer* b = memory::node_buffer(s->w2);
    n = int32_t(memory::units(b)) - int32_t(s->w1);
  }
  for (int32_t i = 0; i < n; ++i) {
    SeriesBuffer* b = memory::node_buffer(s->w2);
    uint32_t u = memory::unit(b);
    int32_t c = int32_t(unicode::load_unit(memory::head(b) + size_t(s->w1 + uint32_t(i)) * u, u));
    string::add_codepoint(buffer, c);
  }
  *budget -= n;
}

void write(Cell* buffer, const char* text, int32_t* budget) {
  if (!*text) return;
  string::add_c_text(buffer, text);
  *budget -= int32_t(std::strlen(text));
}

// The value's form or mold as a string, cut to limit characters (no limit when < 0).
void append_text_raw(Cell* buffer, const Cell* value, bool mold, bool only, bool flat,
                     int32_t limit, int32_t* budget) {
  TopGuard top;
  Cell* v = stack::push_copy(value);
  Cell* part = nullptr;
  if (limit >= 0) {
    part = stack::reserve_cell();
    cell::set_integer(part, limit);
  }
  Cell* s = mold ? actions::mold(v, only, false, flat, part) : actions::form(v, part);
  Kept text(s);
  append_string(buffer, &text.c, budget);
}

// The same, but a value that cannot be written (a failing mold) writes nothing: the report
// never fails.
void append_text_of(Cell* buffer, const Cell* value, bool mold, bool only, bool flat,
                    int32_t limit, int32_t* budget) {
  stack::State& st = stack::state();
  if (!st.args_begin) return append_text_raw(buffer, value, mold, only, flat, limit, budget);
  Cell* base = st.base;
  Cell* top = st.top;
  stack::Frame* frames = st.frames_top;
  Kept buf(buffer), v(value);
  error::Pending saved = error::pending();
  // The copy is restored after allocations: its cells stay rooted (nodes may move).
  gc::RootRange keep_args(saved.args, saved.args + 3);
  gc::Root keep_where(&saved.where), keep_stack(&saved.stack);
  stack::push_try_frame(nullptr);
  uint32_t code = stack::land(unwind_code::ERROR, [&] {
    append_text_raw(&buf.c, &v.c, mold, only, flat, limit, budget);
  });
  if (code) stack::take_pending_code();
  st.base = base;
  st.top = top;
  st.frames_top = frames;
  error::pending() = saved;
  *buffer = buf.c;
}

}  // namespace

// ---- Catalogue ----

// Loaded, and still on this heap: a fresh heap (tests) drops the collector's callbacks.
bool catalogue_loaded_q() {
  if (!g_loaded) return false;
  const gc::GcState& g = gc::state();
  for (uint32_t i = 0; i < g.callback_count; ++i)
    if (g.callbacks[i] == &mark_catalogue) return true;
  g_loaded = false;
  return false;
}

void unload_catalogue() {
  g_loaded = false;
  g_errors = g_standard = g_state = Cell{T_NONE, 0, 0, 0};
}

void load_catalogue() {
  // A runtime made again (tests) must not mark the last one's objects.
  g_errors = g_standard = g_state = Cell{T_NONE, 0, 0, 0};
  gc::remove_root(&mark_catalogue);
  gc::add_root(&mark_catalogue);
  TopGuard top;
  Cell* text = stack::reserve_cell();
  *text = Cell{T_NONE, 0, 0, 0};
  const char* src = catalogue_text();
  launcher::load_text(reinterpret_cast<const uint8_t*>(src), int32_t(std::strlen(src)), text);
  launcher::skip_header(text);
  // errors: [category: [...] ...]
  int32_t errors_sym = symbol::canonical_id(sym("errors"));
  Cell* list = stack::reserve_cell();
  *list = Cell{T_NONE, 0, 0, 0};
  for (int32_t i = int32_t(text->w1); i + 1 < block::count_from_head(text) + int32_t(text->w1); ++i) {
    Cell c = *block::cell_at_index(text, i);
    if (cell::type(&c) == T_SET_WORD && symbol::canonical_id(int32_t(c.w2)) == errors_sym) {
      *list = *block::cell_at_index(text, i + 1);
      break;
    }
  }
  if (cell::type(list) != T_BLOCK) rt::fatal_error(98, 0);
  Cell* errors = stack::reserve_cell();
  object::init_empty(errors, 10);
  errors->w2 = object::next_class_id();
  object::refresh_self(errors);
  int32_t n = block::count_from_head(list);
  for (int32_t i = 0; i + 1 < n; i += 2) {
    Cell name = *block::cell_at_index(list, int32_t(list->w1) + i);
    Cell body = *block::cell_at_index(list, int32_t(list->w1) + i + 1);
    if (cell::type(&name) != T_SET_WORD || cell::type(&body) != T_BLOCK) rt::fatal_error(98, 0);
    Cell* b = stack::push_copy(&body);
    Cell* cat = object::make_from_proto(b, nullptr, true);
    Cell c = *cat;
    Kept kc(&c);
    context::set_or_add(errors->w1, &name, &kc.c);
  }
  // The runtime raises by the generated positions: they must name these objects.
  if (context::word_count(errors->w1) != int32_t(err::CATEGORY_COUNT)) rt::fatal_error(98, 0);
  {
    Node script = field_at(errors->w1, err::cat::script).w1;
    int32_t nv = context::find_symbol(script, sym("no-value"), true);
    Node internal = field_at(errors->w1, err::cat::internal).w1;
    int32_t ie = context::find_symbol(internal, sym("invalid-error"), true);
    if (nv != int32_t(err::script::no_value.id) || ie != int32_t(err::internal::invalid_error.id))
      rt::fatal_error(98, 0);
  }
  Cell* standard = stack::reserve_cell();
  object::init_empty(standard, 10);
  standard->w2 = object::next_class_id();
  object::refresh_self(standard);
  static const char* const names[] = {"code", "type", "id",    "arg1",  "arg2",
                                      "arg3", "near", "where", "stack", "files"};
  for (const char* nm : names) {
    Cell w = word::intern_global(nm);
    w.header = T_WORD;
    context::set_or_add(standard->w1, &w, cell::none_value());
  }
  // system, system/catalog, system/standard, system/state (found or added).
  auto sub_object = [](Cell* parent, const char* name) -> Cell* {
    Cell w = word::intern_global(name);
    w.header = T_WORD;
    int32_t i = context::find_symbol(parent->w1, int32_t(w.w2), true);
    if (i >= 0) {
      Cell v = field_at(parent->w1, i);
      if (cell::type(&v) == T_OBJECT) return stack::push_copy(&v);
    }
    Cell* o = stack::reserve_cell();
    object::init_empty(o, 4);
    o->w2 = object::next_class_id();
    object::refresh_self(o);
    context::set_or_add(parent->w1, &w, o);
    return o;
  };
  Kept sys_word(nullptr);
  sys_word.c = word::intern_global("system");
  sys_word.c.header = T_WORD;
  Cell* sys_slot = word::value_slot(&sys_word.c);
  Cell* sys;
  if (cell::type(sys_slot) == T_OBJECT) {
    sys = stack::push_copy(sys_slot);
  } else {
    sys = stack::reserve_cell();
    object::init_empty(sys, 8);
    sys->w2 = object::next_class_id();
    object::refresh_self(sys);
    *word::value_slot(&sys_word.c) = *sys;
  }
  Cell* catalog = sub_object(sys, "catalog");
  {
    Cell w = word::intern_global("errors");
    w.header = T_WORD;
    context::set_or_add(catalog->w1, &w, errors);
  }
  Cell* std_obj = sub_object(sys, "standard");
  {
    Cell w = word::intern_global("error");
    w.header = T_WORD;
    context::set_or_add(std_obj->w1, &w, standard);
  }
  Cell* state = sub_object(sys, "state");
  {
    Cell w = word::intern_global("stack-trace");
    w.header = T_WORD;
    if (context::find_symbol(state->w1, int32_t(w.w2), true) < 0) {
      Cell one{T_INTEGER, 0, 1, 0};
      context::set_or_add(state->w1, &w, &one);
    }
    Cell f = word::intern_global("source-files");
    f.header = T_WORD;
    if (context::find_symbol(state->w1, int32_t(f.w2), true) < 0) {
      Cell* b = stack::reserve_cell();
      block::init_cell(b, 4);
      context::set_or_add(state->w1, &f, b);
    }
  }
  g_errors = *errors;
  g_standard = *standard;
  g_state = *state;
  g_loaded = true;
}

void take_system_objects() {
  if (!g_loaded) return;
  auto take = [](const char* path, const char* name, Cell* kept) {
    Cell v;
    if (system::find_field(path, name, &v) && cell::type(&v) == T_OBJECT) *kept = v;
  };
  take("catalog", "errors", &g_errors);
  take("standard", "error", &g_standard);
  take("", "state", &g_state);
}

// ---- Making errors ----

void new_error_value(Cell* out, uint32_t category, uint32_t id, const Cell* arg1,
                     const Cell* arg2, const Cell* arg3) {
  Kept a1(arg1), a2(arg2), a3(arg3);
  Kept e(nullptr);
  new_blank(&e.c);
  set_code_type_id(&e.c, int32_t(category), int32_t(id));
  if (arg1) set_field(e.c.w1, field::ARG1, a1.c);
  if (arg2) set_field(e.c.w1, field::ARG2, a2.c);
  if (arg3) set_field(e.c.w1, field::ARG3, a3.c);
  fill_near(&e.c);
  *out = e.c;
}

namespace {
// The provisional carrier (before the catalogue is loaded) names only the throw category
// and its id `throw`, from category * 100 + id in w2.
int32_t provisional_symbol(bool type, const Cell* error) {
  uint32_t code = error->w2;
  if (code / 100 != err::throw_::throw_.category) return -1;
  if (!type && code % 100 != err::throw_::throw_.id) return -1;
  return symbol::intern_c_text("throw");
}
}  // namespace

int32_t type_symbol(const Cell* error) {
  if (cell::type(error) != T_ERROR) return -1;
  if (!error->w1) return provisional_symbol(true, error);
  Cell t = field_at(error->w1, field::TYPE);
  return cell::type(&t) == T_WORD ? int32_t(t.w2) : -1;
}
int32_t id_symbol(const Cell* error) {
  if (cell::type(error) != T_ERROR) return -1;
  if (!error->w1) return provisional_symbol(false, error);
  Cell t = field_at(error->w1, field::ID);
  return cell::type(&t) == T_WORD ? int32_t(t.w2) : -1;
}

Cell* make(Cell*, Cell* spec, uint32_t) {
  Kept sp(spec);
  Cell* result = stack::reserve_cell();
  *result = Cell{T_UNSET, 0, 0, 0};
  if (!catalogue_loaded_q()) raise(err::internal::not_done);
  uint32_t st = cell::type(&sp.c);
  if (st == T_STRING) {
    new_error_value(result, err::user::message.category, err::user::message.id, &sp.c,
                    nullptr, nullptr);
    return result;
  }
  if (st != T_INTEGER && st != T_BLOCK) {
    Cell dt{T_DATATYPE, T_ERROR, 0, 0};
    raise(err::script::bad_make_arg, &dt, &sp.c);
  }
  if (st == T_INTEGER) {
    int32_t code = cell::get_int(&sp.c);
    int32_t category = code / 100;
    if (code < 0 || category >= category_count()) raise(err::script::out_of_range, &sp.c);
    int32_t position = code % 100 + 2;
    Node cat = category_ctx(category);
    if (!cat || position >= context::word_count(cat)) raise(err::script::out_of_range, &sp.c);
    new_blank(result);
    set_code_type_id(result, category, position);
    set_field(result->w1, field::CODE, sp.c);
    fill_near(result);
    return result;
  }
  int32_t n = block::count_from_head(&sp.c);
  // Words are kept rooted: their context nodes may move while the error is built.
  Kept kfirst(n > 0 ? block::cell_at_index(&sp.c, int32_t(sp.c.w1)) : nullptr);
  Cell& first = kfirst.c;
  if (n > 0 && cell::type(&first) == T_WORD) {
    int32_t category = category_of(&first);
    if (category < 0) spec_field_error("type");
    if (n < 2) spec_field_error("id");
    Kept ksecond(block::cell_at_index(&sp.c, int32_t(sp.c.w1) + 1));
    Cell& second = ksecond.c;
    if (cell::type(&second) != T_WORD) raise(err::script::invalid_arg, &second);
    int32_t position = id_of(category, &second);
    if (position < 0) spec_field_error("id");
    new_blank(result);
    set_code_type_id(result, category, position);
    set_field(result->w1, field::TYPE, first);
    set_field(result->w1, field::ID, second);
    fill_near(result);
    return result;
  }
  if (n > 0 && cell::type(&first) == T_SET_WORD) {
    new_blank(result);
    context::bind_block(&sp.c, result->w1, true);
    Cell* held = stack::push_copy(&sp.c);
    interp::eval_block(held, false);
    stack::state().top = held;
    Cell t = field_at(result->w1, field::TYPE);
    int32_t category = category_of(&t);
    if (category < 0) spec_field_error("type");
    Cell i = field_at(result->w1, field::ID);
    int32_t position = id_of(category, &i);
    if (position < 0) spec_field_error("id");
    set_field(result->w1, field::CODE,
              Cell{T_INTEGER, 0, uint32_t(category * 100 + position - 2), 0});
    fill_near(result);
    return result;
  }
  raise(err::internal::invalid_error);
}

void record_call_stack(Cell* value) {
  if (cell::type(value) != T_ERROR) return;
  if (!value->w1) {
    // The provisional carrier: its stack field lives in the pending record.
    Cell* field = stack_field(value);
    if (!field || cell::type(field) != T_INTEGER) return;
    uint32_t position = uint32_t(cell::get_int(field));
    Cell* words = block::push_empty(20);
    stack::collect_call_words(1, words, stack::state().frames_begin + position);
    *stack_field(value) = *words;
    stack::drop_cells(1);
    return;
  }
  Kept e(value);
  Cell st = field_at(e.c.w1, field::STACK);
  if (cell::type(&st) != T_INTEGER) return;
  int32_t level = 1;
  if (catalogue_loaded_q()) {
    int32_t i = find_field(g_state.w1, sym("stack-trace"));
    Cell lv = field_at(g_state.w1, i);
    if (cell::type(&lv) == T_INTEGER && cell::get_int(&lv) > 0) level = cell::get_int(&lv);
  }
  // The records up to the recorded position may lie above the frame top already (the error
  // has been caught): read them before anything allocates, onto the argument stack.
  TopGuard top;
  stack::State& s = stack::state();
  uint32_t upto = uint32_t(cell::get_int(&st));
  uint32_t capacity = uint32_t(s.frames_end - s.frames_begin);
  if (upto > capacity) upto = capacity;
  Cell* first = s.top;
  for (uint32_t i = 0; i < upto; ++i) {
    const stack::Frame* f = s.frames_begin + i;
    if (f->symbol == s.body_symbol || f->symbol == s.anon_symbol) continue;
    Cell w{T_WORD, f->word_context, f->symbol, 0xFFFFFFFF};
    if (level == 1) {
      if (!w.w1) continue;
      int32_t k = context::find_symbol(w.w1, int32_t(w.w2), true);
      Cell* x = context::cell_of(w.w1);
      if (k < 0 || !x->w2 || (x->header & hdr::CONTEXT_ON_STACK)) continue;
      if (cell::type(values_of(w.w1) + k) != T_FUNCTION) continue;
    }
    *stack::reserve_cell() = w;
  }
  int32_t n = int32_t(s.top - first);
  Cell* b = stack::reserve_cell();
  *b = Cell{T_NONE, 0, 0, 0};
  block::init_cell(b, n > 20 ? n : 20);
  for (int32_t i = 0; i < n; ++i) {
    Cell w = first[i];
    *runtime::block_append_cell(b) = w;
  }
  set_field(e.c.w1, field::STACK, *b);
  if (catalogue_loaded_q()) {
    int32_t i = find_field(g_state.w1, sym("source-files"));
    Cell files = field_at(g_state.w1, i);
    if (cell::type(&files) == T_BLOCK && block::count_from_head(&files) > 0) {
      Cell* f = stack::push_copy(&files);
      Cell* copy = block::clone(f, false, false);
      set_field(e.c.w1, field::FILES, *copy);
    }
  }
}

// ---- The report ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
  Kept e(value), buf(buffer);
  write(&buf.c, "*** ", &budget);
  Node ctx = e.c.w1;
  // Resolve the category, the template and the arguments first, on copies: the report
  // never changes the error.
  Cell args[3] = {field_at(ctx, field::ARG1), field_at(ctx, field::ARG2), field_at(ctx, field::ARG3)};
  Cell type = field_at(ctx, field::TYPE), id = field_at(ctx, field::ID);
  int32_t category = category_of(&type);
  Node cat = category >= 0 ? category_ctx(category) : 0;
  Cell message{T_NONE, 0, 0, 0};
  bool fallback = false;
  Cell bad;
  if (!cat) {
    fallback = true;
    bad = type;
  } else {
    int32_t pos = cell::type(&id) == T_WORD ? find_field(cat, int32_t(id.w2)) : -1;
    if (pos < 0) {
      fallback = true;
      bad = id;
    } else {
      message = field_at(cat, pos);
      if (cell::type(&message) == T_WORD) {
        int32_t k = find_field(ctx, int32_t(message.w2));
        message = k >= 0 ? field_at(ctx, k) : Cell{T_UNSET, 0, 0, 0};
      }
      if (cell::type(&message) != T_STRING && cell::type(&message) != T_BLOCK) {
        fallback = true;
        bad = type;
      }
    }
  }
  if (fallback) {
    category = int32_t(err::cat::internal);
    cat = category_ctx(category);
    message = field_at(cat, int32_t(err::internal::invalid_error.id));
    args[0] = bad;
  }
  bool syntax = category == int32_t(err::cat::syntax);
  Kept msg(&message);
  Kept k0(&args[0]), k1(&args[1]), k2(&args[2]);
  Cell title = field_at(cat, 1);
  Kept kt(&title);
  append_text_of(&buf.c, &kt.c, false, false, false, -1, &budget);
  write(&buf.c, ": ", &budget);
  if (cell::type(&msg.c) == T_STRING) {
    append_string(&buf.c, &msg.c, &budget);
  } else if (cell::type(&msg.c) == T_BLOCK) {  // a replaced internal category may hold neither
    int32_t n = block::count_from_head(&msg.c);
    int32_t a1 = symbol::canonical_id(sym("arg1")), a2 = symbol::canonical_id(sym("arg2")),
            a3 = symbol::canonical_id(sym("arg3"));
    for (int32_t i = 0; i < n; ++i) {
      Cell item = *block::cell_at_index(&msg.c, int32_t(msg.c.w1) + i);
      uint32_t t = cell::type(&item);
      if (t == T_STRING) {
        Kept ki(&item);
        append_string(&buf.c, &ki.c, &budget);
      } else if (t == T_WORD || t == T_GET_WORD) {
        int32_t c = symbol::canonical_id(int32_t(item.w2));
        Cell v;
        if (c == a1) v = k0.c;
        else if (c == a2) v = k1.c;
        else if (c == a3) v = k2.c;
        else {
          int32_t k = find_field(e.c.w1, int32_t(item.w2));
          v = k >= 0 ? field_at(e.c.w1, k) : Cell{T_UNSET, 0, 0, 0};
        }
        Kept kv(&v);
        append_text_of(&buf.c, &kv.c, !syntax, false, false, 80, &budget);
      }
      if (i + 1 < n) write(&buf.c, " ", &budget);
    }
  }
  write(&buf.c, "\n*** Where: ", &budget);
  Cell where = field_at(e.c.w1, field::WHERE);
  if (cell::type(&where) == T_WORD || cell::type(&where) == T_STRING) {
    Kept kw(&where);
    append_text_of(&buf.c, &kw.c, false, false, false, -1, &budget);
  } else {
    write(&buf.c, "???", &budget);
  }
  write(&buf.c, "\n*** Near : ", &budget);
  Cell near = field_at(e.c.w1, field::NEAR);
  {
    Kept kn(&near);
    append_text_of(&buf.c, &kn.c, true, true, true, 40, &budget);
  }
  if (catalogue_loaded_q()) {
    int32_t i = find_field(g_state.w1, sym("stack-trace"));
    Cell lv = field_at(g_state.w1, i);
    if (cell::type(&lv) == T_INTEGER && cell::get_int(&lv) > 0) {
      Cell st = field_at(e.c.w1, field::STACK);
      if (cell::type(&st) == T_INTEGER) {
        write(&buf.c, "\n*** Stack: ", &budget);
        std::string words;
        stack::form_call_words(cell::get_int(&lv), words, &st, 1 << 30);
        while (!words.empty() && words.back() == ' ') words.pop_back();
        if (!words.empty()) write(&buf.c, words.c_str(), &budget);
      } else if (cell::type(&st) == T_BLOCK) {
        Kept ks(&st);
        write(&buf.c, "\n*** Stack: ", &budget);
        append_text_of(&buf.c, &ks.c, false, false, false, -1, &budget);
      }
    }
  }
  // Field copies are rooted before the buffer grows (nodes may move).
  Cell files = field_at(e.c.w1, field::FILES);
  if (cell::type(&files) == T_BLOCK) {
    Kept kf(&files);
    write(&buf.c, "\n*** Files: ", &budget);
    append_text_of(&buf.c, &kf.c, true, true, true, 40, &budget);
  }
  return budget;
}

std::string report_text(const Cell* error) {
  TopGuard top;
  Cell* v = stack::push_copy(error);
  Cell* s = actions::form(v, nullptr);
  return utf8_of(s);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  Kept e(value), buf(buffer);
  if (!only) write(&buf.c, "make error! [", &budget);
  int32_t before = budget;
  budget = object::mold_fields(&e.c, &buf.c, only, all, flat, part, budget, true, indent + 1, true);
  if (!flat && indent > 0 && budget != before && !only)
    for (int32_t k = 0; k < indent; ++k) write(&buf.c, "    ", &budget);
  if (!only) write(&buf.c, "]", &budget);
  return budget;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice) {
  return object::eval_path(parent, element, value, path, container, previous, step,
                           absent_as_none, case_, last, change_notice);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_ERROR) return -2;
  Cell x = *a, y = *b;
  cell::set_type(&x, T_OBJECT);
  cell::set_type(&y, T_OBJECT);
  Kept kx(&x), ky(&y);
  return object::compare(&kx.c, &ky.c, op);
}

void install_type() {
  datatype::Registration r{T_ERROR, T_OBJECT, "error!", {}};
  r.slots.make = &make;
  r.slots.form = &form;
  r.slots.mold = &mold;
  r.slots.eval_path = &eval_path;
  r.slots.compare = &compare;
  r.slots.reflect = datatype::inherit;
  r.slots.copy = datatype::inherit;
  r.slots.find = datatype::inherit;
  r.slots.select = datatype::inherit;
  datatype::register_type(r);
}

// ---- Argument names for messages ----

Cell nth_argument_word(int32_t n) {
  Cell fw = stack::current_function_word();
  if (cell::type(&fw) != T_WORD || !fw.w1) return Cell{T_NONE, 0, 0, 0};
  int32_t i = context::find_symbol(fw.w1, int32_t(fw.w2), true);
  if (i < 0) return Cell{T_NONE, 0, 0, 0};
  Cell* x = context::cell_of(fw.w1);
  if (!x->w2 || (x->header & hdr::CONTEXT_ON_STACK)) return Cell{T_NONE, 0, 0, 0};
  Cell fn = field_at(fw.w1, i);
  uint32_t t = cell::type(&fn);
  if (t != T_NATIVE && t != T_ACTION && t != T_OP && t != T_FUNCTION && t != T_ROUTINE)
    return Cell{T_NONE, 0, 0, 0};
  Node spec = fn.w2;
  if (!spec) return Cell{T_NONE, 0, 0, 0};
  int32_t k = 0;
  for (uint32_t j = 0; j < blk::count(spec); ++j) {
    Cell c = blk::cells(spec)[j];
    uint32_t ct = cell::type(&c);
    if (ct == T_WORD || ct == T_LIT_WORD || ct == T_GET_WORD || ct == T_REFINEMENT) {
      if (k == n) return c;
      ++k;
    }
  }
  return Cell{T_NONE, 0, 0, 0};
}

}  // namespace kel::error
