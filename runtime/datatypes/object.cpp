// object!: object cells over object contexts, class ids, change records and the firing of
// on-change* and on-deep-change*, copying and re-binding, and the object action slots.
#include "runtime/datatypes/object.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/function.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/hash_mem.h"
#include "runtime/owner.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::object {

using gc::Kept;
using stack::TopGuard;

namespace {

uint32_t g_class_counter = FIRST_CLASS_ID;

bool is_object_type(uint32_t t) { return t == T_OBJECT || t == T_ERROR || t == T_PORT; }

Node values_of(Node ctx) { return context::values_node(ctx); }
Cell* vals(Node ctx) { return reinterpret_cast<Cell*>(hash::mem::data(values_of(ctx))); }
int32_t value_count(Node ctx) { return int32_t(hash::mem::used(values_of(ctx)) / 16); }

// Extends the values series to one cell per word (new cells unset).
void fill_values(Node ctx) {
  gc::Root keep(&ctx);  // followed if the allocation below moves nodes
  int32_t words = context::word_count(ctx);
  Node v = values_of(ctx);
  int32_t have = int32_t(hash::mem::used(v) / 16);
  if (have >= words) return;
  hash::mem::ensure(v, uint32_t(words) * 16);
  v = values_of(ctx);
  Cell* c = reinterpret_cast<Cell*>(hash::mem::data(v));
  for (int32_t i = have; i < words; ++i) c[i] = Cell{T_UNSET, 0, 0, 0};
  hash::mem::set_used(v, uint32_t(words) * 16);
}

// The field value at a position (unset when it was never given one).
Cell field_value(Node ctx, int32_t i) {
  if (i < 0 || i >= value_count(ctx)) return Cell{T_UNSET, 0, 0, 0};
  return vals(ctx)[i];
}

int32_t canon(int32_t symbol) { return symbol::canonical_id(symbol); }
int32_t canon_text(const char* text) { return canon(symbol::intern_c_text(text)); }
// The same for a runtime word, without interning its spelling (reflect runs per field walk).
template <size_t I>
int32_t canon_rw() {
  return canon(int32_t(runtime::runtime_word_ids[I]));
}
using runtime::runtime_word_index;
using runtime::WordKind;

bool any_word_q(uint32_t t) { return t >= T_WORD && t <= T_GET_WORD; }
bool block_like_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}
bool string_like_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

void write(Cell* buffer, const char* text, int32_t* budget) {
  string::add_c_text(buffer, text);
  *budget -= int32_t(std::strlen(text));
}

// A deep copy of a field value into the same cell (its series are no longer shared).
void copy_field_value(Node ctx, int32_t i, bool all_series) {
  gc::Root keep(&ctx);
  Cell v = field_value(ctx, i);
  uint32_t t = cell::type(&v);
  TopGuard top;
  Cell* fresh = nullptr;
  if (block_like_q(t) && t != T_HASH) {
    Cell* src = stack::push_copy(&v);
    fresh = block::clone(src, true, true);
  } else if (string_like_q(t) ||
             (all_series && (t == T_HASH || t == T_VECTOR || t == T_BINARY || t == T_IMAGE ||
                             t == T_MAP || t == T_BITSET))) {
    if (!datatype::any_slot(t, datatype::action::COPY)) return;  // type not built: shared
    Cell* src = stack::push_copy(&v);
    Cell* out = stack::reserve_cell();
    *out = Cell{T_NONE, 0, 0, 0};
    fresh = actions::direct<datatype::action::COPY>(src, out, nullptr, true, nullptr);
  } else {
    return;
  }
  Cell result = *fresh;
  vals(ctx)[i] = result;
}

int32_t count_locals(const Cell* fn) {
  int32_t a, r;
  function::frame_shape(fn, &a, &r);
  return r;
}

Cell* record_cells(const Cell* object) { return blk::cells(object->w3); }

// Brings a record cell up to date with the handler now in the field.
void refresh_record(const Cell* object, int32_t which, int32_t position, const Cell* fn) {
  Cell* rec = record_cells(object) + which;
  if (rec->w3 == fn->w2 && int32_t(rec->w2 >> 16) == position) return;
  rec->w2 = (uint32_t(position) << 16) | uint32_t(count_locals(fn) & 0xFFFF);
  rec->w3 = fn->w2;
}

// Calls the handler with the protocol values: exactly its own argument count (none for
// arguments beyond the protocol), then its refinements and locals.
void call_handler(const Cell* object, const Cell* handler, int32_t position,
                  const Cell* const* protocol, int32_t count) {
  TopGuard top;
  Cell* fn = stack::push_copy(handler);
  Cell* self = stack::push_copy(object);
  Cell name = *context::word_at(self->w1, position);
  name.header = T_WORD;
  name.w1 = self->w1;
  name.w3 = uint32_t(position);
  Cell args[7];
  for (int32_t i = 0; i < count; ++i) args[i] = *protocol[i];
  int32_t nargs, rest;
  function::frame_shape(fn, &nargs, &rest);
  stack::push_function_frame(&name, fn->w1);
  stack::set_interpreted_flag();
  for (int32_t i = 0; i < nargs; ++i) {
    if (i < count) stack::push_copy(&args[i]);
    else *stack::reserve_cell() = Cell{T_NONE, 0, 0, 0};
  }
  function::push_defaults(rest);
  interp::call_function_body(fn, self->w1, &name, 0);
  stack::pop_frame();
}

int32_t handler_position(const Cell* object, int32_t which) {
  if (!object->w3) return -1;
  uint32_t w2 = record_cells(object)[which].w2;
  if (w2 >= NO_HANDLER) return -1;
  return int32_t(w2 >> 16);
}

bool handler_field_q(const Cell* object, int32_t i) {
  return object->w3 && (handler_position(object, 0) == i || handler_position(object, 1) == i);
}

// Stores a value into field i: with a change record (and not a handler field) the old value
// is pushed, the value stored and on-change* fired. The field's word gets the assigned flag.
void store_field(Cell* target, int32_t i, const Cell* value, bool skip_handlers) {
  Kept t(target);
  Kept v(value);
  Node ctx = t.c.w1;
  gc::Root keep_ctx(&ctx);
  fill_values(ctx);
  bool record = t.c.w3 != 0;
  bool handler = handler_field_q(&t.c, i);
  if (record && handler && skip_handlers) {
    context::word_at(ctx, i)->header |= hdr::WORD_ASSIGNED;
    return;
  }
  context::word_at(ctx, i)->header |= hdr::WORD_ASSIGNED;
  if (!record) {
    vals(ctx)[i] = v.c;
    return;
  }
  TopGuard top;
  Cell* old = stack::push_copy(vals(ctx) + i);
  vals(ctx)[i] = v.c;
  Cell w = *context::word_at(ctx, i);
  w.header = T_WORD;
  w.w1 = ctx;
  w.w3 = uint32_t(i);
  fire_change(&t.c, &w, old, &v.c);
}

}  // namespace

// ---- Cell operations ----

uint32_t next_class_id() { return ++g_class_counter; }

Cell* word_at(Node ctx, int32_t position) { return context::word_at(ctx, position); }

int32_t index_of_word(const Cell* object, const Cell* word) {
  return context::find_symbol(object->w1, int32_t(word->w2), true);
}

const Cell* value_of_word(const Cell* object, const Cell* word) {
  int32_t i = index_of_word(object, word);
  if (i < 0 || i >= value_count(object->w1)) return cell::none_value();
  return vals(object->w1) + i;
}

Cell* word_of_value_slot(const Cell* object, const Cell* slot) {
  Node ctx = object->w1;
  Cell* first = vals(ctx);
  if (slot < first || slot >= first + value_count(ctx)) return nullptr;
  return context::word_at(ctx, int32_t(slot - first));
}

Cell* first_word(const Cell* object) { return context::word_at(object->w1, 0); }
Cell* values_start(const Cell* object) { return vals(object->w1); }
int32_t field_count(const Cell* object) { return context::word_count(object->w1); }

void clear_new_lines(Node values) {
  Cell* c = reinterpret_cast<Cell*>(hash::mem::data(values));
  for (uint32_t i = 0, n = hash::mem::used(values) / 16; i < n; ++i) cell::clear_new_line(c + i);
}

void clear_assigned_flags(Node ctx) {
  for (int32_t i = 0, n = context::word_count(ctx); i < n; ++i)
    context::word_at(ctx, i)->header &= ~hdr::WORD_ASSIGNED;
}

bool field_holds_object(Node ctx, int32_t position, Node target) {
  Cell v = field_value(ctx, position);
  return is_object_type(cell::type(&v)) && v.w1 == target;
}

bool word_holds_object(Node ctx, const Cell* word, Node target) {
  int32_t i = context::find_symbol(ctx, int32_t(word->w2), true);
  return i >= 0 && field_holds_object(ctx, i, target);
}

void refresh_self(const Cell* object) { *context::self_cell(object->w1) = *object; }

Cell* push_new(Node ctx, uint32_t class_id) {
  Kept c(nullptr);
  c.c = Cell{T_OBJECT, ctx, 0, 0};
  if (value_count(ctx) == 0) fill_values(c.c.w1);
  Cell* out = stack::push_copy(&c.c);
  out->w2 = class_id;
  refresh_self(out);
  return out;
}

Cell* push_with_change_info(Node ctx, uint32_t class_id, Node record) {
  Cell v{T_OBJECT, ctx, class_id, record};
  Cell* out = stack::push_copy(&v);
  refresh_self(out);
  return out;
}

void init_empty(Cell* cell, int32_t size) {
  *cell = Cell{T_UNSET, 0, 0, 0};
  Node ctx = context::create(size, false, true, 0, context::KIND_OBJECT);
  *cell = Cell{T_OBJECT, ctx, 0, 0};
  refresh_self(cell);
}

Node new_change_record(int32_t change_position, int32_t change_locals, Node change_spec,
                       int32_t deep_position, int32_t deep_locals, Node deep_spec) {
  Kept rec(nullptr);
  block::init_cell(&rec.c, 2);
  auto word2 = [](int32_t pos, int32_t locals) {
    if (pos < 0) return NO_HANDLER;
    return (uint32_t(pos) << 16) | uint32_t(locals & 0xFFFF);
  };
  *runtime::block_append_cell(&rec.c) =
      Cell{T_PAIR, 0, word2(change_position, change_locals), change_position < 0 ? 0 : change_spec};
  *runtime::block_append_cell(&rec.c) =
      Cell{T_PAIR, 0, word2(deep_position, deep_locals), deep_position < 0 ? 0 : deep_spec};
  return rec.c.w2;
}

void attach_change_info(Node ctx, int32_t change_locals, int32_t change_position,
                        int32_t deep_locals, int32_t deep_position) {
  Kept c(nullptr);
  c.c = Cell{T_OBJECT, ctx, 0, 0};
  Node rec = new_change_record(change_position, change_locals, 0, deep_position, deep_locals, 0);
  Cell* top = stack::last_pushed();
  top->w3 = rec;
  refresh_self(top);
  if (deep_position >= 0) {
    Kept o(top);
    owner::attach_flagged(&o.c, &o.c, cell::none_value());
  }
}

bool has_deep_handler_q(const Cell* object) {
  return object->w3 && record_cells(object)[1].w2 < NO_HANDLER;
}

void build_change_record(Cell* object) {
  Node ctx = object->w1;
  int32_t change_c = canon_rw<runtime_word_index("on-change*", WordKind::GLOBAL_WORD)>();
  int32_t deep_c = canon_rw<runtime_word_index("on-deep-change*", WordKind::GLOBAL_WORD)>();
  int32_t pos[2] = {-1, -1};
  for (int32_t i = 0, n = context::word_count(ctx); i < n; ++i) {
    int32_t c = canon(int32_t(context::word_at(ctx, i)->w2));
    if (c == change_c) pos[0] = i;
    if (c == deep_c) pos[1] = i;
  }
  if (pos[0] < 0 && pos[1] < 0) {
    object->w3 = 0;
    refresh_self(object);
    return;
  }
  int32_t locals[2] = {0, 0};
  Node specs[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    if (pos[k] < 0) continue;
    Cell h = field_value(ctx, pos[k]);
    uint32_t t = cell::type(&h);
    if (t != T_FUNCTION && t != T_ROUTINE) {
      Cell w = *context::word_at(ctx, pos[k]);
      w.header = T_WORD;
      Cell dt{T_DATATYPE, t, 0, 0};
      error::raise(err::script::bad_field_set, &w, &dt);
    }
    locals[k] = t == T_FUNCTION ? count_locals(&h) : 0;
    specs[k] = h.w2;
  }
  Kept o(object);
  Node rec = new_change_record(pos[0], locals[0], specs[0], pos[1], locals[1], specs[1]);
  o.c.w3 = rec;
  refresh_self(&o.c);
  object->w3 = rec;
  if (has_deep_handler_q(&o.c)) {
    owner::attach_flagged(&o.c, &o.c, cell::none_value());
    object->w3 = rec;
  }
}

// ---- Handlers ----

void fire_change(const Cell* object, const Cell* word, const Cell* old, const Cell* new_value) {
  if (!object->w3) return;
  Kept o(object), w(word), a(old), b(new_value);
  int32_t pos = handler_position(&o.c, 0);
  if (pos < 0) return;
  Cell h = field_value(o.c.w1, pos);
  if (cell::type(&h) != T_FUNCTION) error::raise(err::script::invalid_obj_evt, &h);
  refresh_record(&o.c, 0, pos, &h);
  Kept fn(&h);
  if (w.c.w1 != o.c.w1) {
    w.c.header = T_WORD;
    context::bind_one(o.c.w1, &w.c);
  }
  const Cell* protocol[3] = {&w.c, &a.c, &b.c};
  call_handler(&o.c, &fn.c, pos, protocol, 3);
}

void fire_change_top(const Cell* object, const Cell* word) {
  Cell* top = stack::last_pushed();
  fire_change(object, word, top, top - 1);
}

void fire_change_word(const Cell* holder, const Cell* field) {
  Kept h(word::value_slot(holder));
  if (!is_object_type(cell::type(&h.c))) return;
  int32_t i = index_of_word(&h.c, field);
  if (i < 0) return;
  Cell v = field_value(h.c.w1, i);
  Kept nv(&v);
  fire_change(&h.c, field, &nv.c, &nv.c);
}

void fire_deep_change(const Cell* owner, const Cell* word, const Cell* target,
                      const Cell* action, const Cell* new_value, int32_t index, int32_t part) {
  Kept o(owner), w(word), t(target), a(action), n(new_value);
  if (!o.c.w3) error::raise(err::script::invalid_obj_evt, &o.c);
  int32_t pos = handler_position(&o.c, 1);
  if (pos < 0) return;
  Cell h = field_value(o.c.w1, pos);
  if (cell::type(&h) != T_FUNCTION) return;
  refresh_record(&o.c, 1, pos, &h);
  Kept fn(&h);
  Cell ic{T_INTEGER, 0, uint32_t(index), 0}, pc{T_INTEGER, 0, uint32_t(part), 0};
  const Cell* protocol[7] = {&o.c, &w.c, &t.c, &a.c, &n.c, &ic, &pc};
  call_handler(&o.c, &fn.c, pos, protocol, 7);
}

// ---- set, copy, re-bind, construct ----

void set_fields(Cell* target, const Cell* value, bool any, bool only, bool some) {
  Kept t(target), v(value);
  Node ctx = t.c.w1;
  gc::Root keep_ctx(&ctx);
  fill_values(ctx);
  int32_t n = context::word_count(ctx);
  uint32_t vt = cell::type(&v.c);
  bool from_block = !only && vt == T_BLOCK;
  bool from_object = !only && is_object_type(vt);
  if (!from_block && !from_object) {
    for (int32_t i = 0; i < n; ++i) store_field(&t.c, i, &v.c, true);
    return;
  }
  if (from_block) {
    int32_t have = block::count_from_head(&v.c);
    if (!any) {
      for (int32_t i = 0; i < n && i < have; ++i) {
        if (cell::type(block::cell_at_index(&v.c, int32_t(v.c.w1) + i)) == T_UNSET) {
          Cell w = *context::word_at(ctx, i);
          w.header = T_WORD;
          error::raise(err::script::need_value, &w);
        }
      }
    }
    for (int32_t i = 0; i < n; ++i) {
      have = block::count_from_head(&v.c);
      Cell x = i < have ? *block::cell_at_index(&v.c, int32_t(v.c.w1) + i) : Cell{T_NONE, 0, 0, 0};
      if (some && cell::type(&x) == T_NONE) continue;
      store_field(&t.c, i, &x, true);
    }
    return;
  }
  if (!any) {
    for (int32_t i = 0; i < n; ++i) {
      const Cell* w = context::word_at(ctx, i);
      int32_t j = context::find_symbol(v.c.w1, int32_t(w->w2), true);
      Cell x = field_value(v.c.w1, j);
      if (j >= 0 && cell::type(&x) == T_UNSET) {
        Cell ww = *w;
        ww.header = T_WORD;
        error::raise(err::script::need_value, &ww);
      }
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    int32_t j = context::find_symbol(v.c.w1, int32_t(context::word_at(ctx, i)->w2), true);
    if (j < 0) continue;
    Cell x = field_value(v.c.w1, j);
    if (some && cell::type(&x) == T_NONE) continue;
    store_field(&t.c, i, &x, true);
  }
}

void rebind_function(Cell* slot_in, Node object_ctx) {
  Kept fn(slot_in);
  Node ctx_hold = object_ctx;
  Kept holder(nullptr);
  holder.c = Cell{T_OBJECT, ctx_hold, 0, 0};
  Cell body = *blk::extras(&fn.c, 0);
  if (cell::type(&body) != T_BLOCK) error::raise(err::script::bad_func_def, &fn.c);
  TopGuard top;
  Cell* b = stack::push_copy(&body);
  Cell* copy = stack::reserve_cell();
  *copy = Cell{T_NONE, 0, 0, 0};
  blk::copy(copy, b, true);
  context::bind_block(copy, holder.c.w1, true);
  Cell spec{T_BLOCK, 0, fn.c.w2, 0};
  Cell* s = stack::push_copy(&spec);
  function::build(s, copy, 0, 0, 0, fn.c.header & ~hdr::TYPE_MASK);
  *slot_in = *stack::last_pushed();
}

namespace {
// Re-binds every function! field to the object (the copies see its fields).
void rebind_functions(Node ctx) {
  Kept keep(nullptr);
  keep.c = Cell{T_OBJECT, ctx, 0, 0};
  for (int32_t i = 0; i < value_count(keep.c.w1); ++i) {
    Cell v = vals(keep.c.w1)[i];
    if (cell::type(&v) != T_FUNCTION) continue;
    if (cell::type(blk::extras(&v, 0)) != T_BLOCK) continue;  // compiled only: kept
    Kept f(&v);
    rebind_function(&f.c, keep.c.w1);
    vals(keep.c.w1)[i] = f.c;
  }
}

bool in_types(const Cell* types, uint32_t t) {
  if (!types) return false;
  if (cell::type(types) == T_DATATYPE) return types->w1 == t;
  if (cell::type(types) == T_TYPESET) {
    const uint8_t* bits = reinterpret_cast<const uint8_t*>(&types->w1);
    return t < 96 && (bits[t / 8] & (0x80u >> (t % 8)));
  }
  return false;
}
}  // namespace

void copy_into(const Cell* source, Cell* result, bool deep, const Cell* types, bool clear_record) {
  Kept src(source), ty(types);
  int32_t n = context::word_count(src.c.w1);
  Node ctx = context::create(n, false, true, src.c.w1, context::KIND_OBJECT);
  gc::Root keep_ctx(&ctx);
  *result = Cell{cell::type(&src.c), ctx, src.c.w2, clear_record ? 0 : src.c.w3};
  refresh_self(result);
  Kept res(result);
  if (n > 0) {
    for (int32_t i = 0; i < n; ++i) context::word_at(ctx, i)->w1 = ctx;
    Node v = values_of(ctx);
    hash::mem::ensure(v, uint32_t(n) * 16);
    v = values_of(ctx);
    Cell* to = reinterpret_cast<Cell*>(hash::mem::data(v));
    int32_t have = value_count(src.c.w1);
    for (int32_t i = 0; i < n; ++i) to[i] = i < have ? vals(src.c.w1)[i] : Cell{T_UNSET, 0, 0, 0};
    hash::mem::set_used(v, uint32_t(n) * 16);
    if (deep && !types) {
      for (int32_t i = 0; i < n; ++i) copy_field_value(ctx, i, true);
      rebind_functions(ctx);
    } else {
      rebind_functions(ctx);
      if (types) {
        Node sid = src.c.w1;
        bool guard = deep;
        if (guard && cycle::visiting_q(sid)) error::raise(err::internal::no_cycle);
        if (guard) cycle::enter_series(sid);
        try {
          for (int32_t i = 0; i < n; ++i) {
            Cell v2 = field_value(ctx, i);
            if (!in_types(&ty.c, cell::type(&v2))) continue;
            if (deep || !block_like_q(cell::type(&v2))) {
              copy_field_value(ctx, i, true);
            } else {
              TopGuard top;
              Cell* s = stack::push_copy(&v2);
              Cell* fresh = block::clone(s, false, false);
              Cell r = *fresh;
              vals(ctx)[i] = r;
            }
          }
        } catch (...) {
          if (guard) cycle::leave_series();
          throw;
        }
        if (guard) cycle::leave_series();
      }
    }
  }
  if (clear_record) build_change_record(&res.c);
  *result = res.c;
}

Cell* make_from_proto(const Cell* spec, const Cell* prototype, bool only) {
  Kept sp(spec);
  Cell* out = stack::reserve_cell();
  *out = Cell{T_UNSET, 0, 0, 0};
  if (prototype && is_object_type(cell::type(prototype))) {
    Kept p(prototype);
    copy_into(&p.c, out, true, nullptr, true);
  } else {
    init_empty(out, 4);
    out->w2 = next_class_id();
    refresh_self(out);
  }
  int32_t true_c = canon_text("true"), yes_c = canon_text("yes"), on_c = canon_text("on");
  int32_t false_c = canon_text("false"), no_c = canon_text("no"), off_c = canon_text("off");
  int32_t none_c = canon_text("none");
  int32_t n = block::count_from_head(&sp.c);
  int32_t run_start = -1;
  for (int32_t i = 0; i <= n; ++i) {
    Cell c = i < n ? *block::cell_at_index(&sp.c, int32_t(sp.c.w1) + i) : Cell{T_NONE, 0, 0, 0};
    bool is_set = i < n && cell::type(&c) == T_SET_WORD;
    if (is_set) {
      if (run_start < 0) run_start = i;
      continue;
    }
    if (run_start < 0) continue;
    Cell value = c;
    if (!only && cell::type(&value) == T_WORD) {
      int32_t k = canon(int32_t(value.w2));
      if (k == true_c || k == yes_c || k == on_c) value = Cell{T_LOGIC, 1, 0, 0};
      else if (k == false_c || k == no_c || k == off_c) value = Cell{T_LOGIC, 0, 0, 0};
      else if (k == none_c) value = Cell{T_NONE, 0, 0, 0};
    }
    Kept v(&value);
    for (int32_t j = run_start; j < i; ++j) {
      Cell w = *block::cell_at_index(&sp.c, int32_t(sp.c.w1) + j);
      context::set_or_add(out->w1, &w, &v.c);
    }
    run_start = -1;
  }
  fill_values(out->w1);
  return out;
}

// ---- Actions ----

namespace {

void merge_spec_object(Cell* result, const Cell* spec) {
  Kept r(result), s(spec);
  int32_t n = context::word_count(s.c.w1);
  for (int32_t i = 0; i < n; ++i) {
    Cell w = *context::word_at(s.c.w1, i);
    Cell v = field_value(s.c.w1, i);
    Kept kv(&v);
    context::set_or_add(r.c.w1, &w, &kv.c);
  }
  fill_values(r.c.w1);
  for (int32_t i = 0; i < value_count(r.c.w1); ++i) copy_field_value(r.c.w1, i, false);
  rebind_functions(r.c.w1);
}

// The prototype's series fields again, as deep copies bound to the new object.
void copy_proto_values(Cell* result, const Cell* proto) {
  Kept r(result), p(proto);
  int32_t n = context::word_count(p.c.w1);
  for (int32_t i = 0; i < n && i < value_count(p.c.w1); ++i) {
    Cell v = vals(p.c.w1)[i];
    uint32_t t = cell::type(&v);
    if (!block_like_q(t) && !string_like_q(t)) continue;
    vals(r.c.w1)[i] = v;
    copy_field_value(r.c.w1, i, false);
    Cell now = vals(r.c.w1)[i];
    if (block_like_q(cell::type(&now))) {
      Kept k(&now);
      context::bind_block(&k.c, r.c.w1, true);
    }
  }
}

}  // namespace

namespace {
// The set-words of a spec block from its head: a fresh object's table and values are made
// that large at once rather than grown word by word.
int32_t set_word_count(const Cell* spec) {
  int32_t n = block::count_from_head(spec);
  if (n <= 0) return 0;
  const Cell* c = block::cell_at_index(spec, int32_t(spec->w1));
  int32_t count = 0;
  for (int32_t i = 0; i < n; ++i) count += cell::type(c + i) == T_SET_WORD;
  return count;
}
}  // namespace

Cell* make(Cell* prototype, Cell* spec, uint32_t) {
  Kept proto(prototype), sp(spec);
  Cell* result = stack::reserve_cell();
  *result = Cell{T_UNSET, 0, 0, 0};
  bool from_proto = cell::type(&proto.c) == T_OBJECT;
  uint32_t st = cell::type(&sp.c);
  if (from_proto) copy_into(&proto.c, result, true, nullptr, false);
  else init_empty(result, st == T_BLOCK ? std::max(4, set_word_count(&sp.c)) : 4);
  bool added;
  if (st == T_OBJECT) {
    int32_t before = context::word_count(result->w1);
    merge_spec_object(result, &sp.c);
    added = context::word_count(result->w1) > before;
  } else if (st == T_BLOCK) {
    added = context::add_set_words(result->w1, &sp.c);
    fill_values(result->w1);
    context::bind_block(&sp.c, result->w1, true);
    if (from_proto) copy_proto_values(result, &proto.c);
    refresh_self(result);
    {
      Cell* held = stack::push_copy(&sp.c);
      interp::eval_block(held, false);
      stack::state().top = held;
    }
    clear_assigned_flags(result->w1);
    clear_new_lines(values_of(result->w1));
  } else {
    error::raise(err::syntax::malconstruct, &sp.c);
  }
  result->w2 = (added || !from_proto) ? next_class_id() : proto.c.w2;
  result->w3 = 0;
  refresh_self(result);
  build_change_record(result);
  refresh_self(result);
  return result;
}

namespace {
// The first of count cells appended at once to the empty block out, when its buffer has room
// for them all (no allocation): the caller writes them all. Null otherwise.
Cell* room_for(Cell* out, int32_t count) {
  if (count <= 0) return nullptr;
  SeriesBuffer* b = memory::node_buffer(out->w2);
  if (b->tail + uint64_t(count) * sizeof(Cell) > uint32_t(b->capacity)) return nullptr;
  Cell* to = memory::tail_cells(b);
  b->tail += uint32_t(count) * sizeof(Cell);
  return to;
}
}  // namespace

Cell* reflect(Cell* value, int32_t field) {
  Kept o(value);
  Node ctx = o.c.w1;
  gc::Root keep_ctx(&ctx);
  int32_t f = canon(field);
  Cell* out = stack::reserve_cell();
  *out = Cell{T_NONE, 0, 0, 0};
  int32_t n = context::word_count(ctx);
  if (f == canon_rw<runtime_word_index("changed", WordKind::GLOBAL_WORD)>()) {
    block::init_cell(out, 2);
    for (int32_t i = 0; i < context::word_count(o.c.w1); ++i) {
      Cell w = *context::word_at(o.c.w1, i);
      if (!(w.header & hdr::WORD_ASSIGNED)) continue;
      w.header = T_WORD;
      *runtime::block_append_cell(out) = w;
    }
  } else if (f == canon_rw<runtime_word_index("class", WordKind::SYMBOL)>()) {
    cell::set_integer(out, int32_t(o.c.w2));
  } else if (f == canon_rw<runtime_word_index("words", WordKind::SYMBOL)>()) {
    block::init_cell(out, n);
    if (Cell* to = room_for(out, n)) {
      // Nothing allocates from here: the word list is read through one address.
      const Cell* words = context::word_at(o.c.w1, 0);
      for (int32_t i = 0; i < n; ++i) to[i] = Cell{T_WORD, o.c.w1, words[i].w2, uint32_t(i)};
      return out;
    }
    for (int32_t i = 0; i < n; ++i) {
      Cell w = *context::word_at(o.c.w1, i);
      w = Cell{T_WORD, o.c.w1, w.w2, uint32_t(i)};
      *runtime::block_append_cell(out) = w;
    }
  } else if (f == canon_rw<runtime_word_index("values", WordKind::SYMBOL)>()) {
    block::init_cell(out, n);
    fill_values(o.c.w1);
    for (int32_t i = 0; i < n; ++i) {
      Cell v = vals(o.c.w1)[i];
      *runtime::block_append_cell(out) = v;
    }
  } else if (f == canon_rw<runtime_word_index("body", WordKind::SYMBOL)>()) {
    block::init_cell(out, n * 2);
    fill_values(o.c.w1);
    if (Cell* to = room_for(out, n * 2)) {
      const Cell* words = context::word_at(o.c.w1, 0);
      const Cell* values = vals(o.c.w1);
      for (int32_t i = 0; i < n; ++i) {
        to[2 * i] = Cell{T_SET_WORD | hdr::NEW_LINE, o.c.w1, words[i].w2, uint32_t(i)};
        Cell v = values[i];
        if (cell::type(&v) == T_WORD) cell::set_type(&v, T_LIT_WORD);
        else if (cell::type(&v) == T_PATH) cell::set_type(&v, T_LIT_PATH);
        to[2 * i + 1] = v;
      }
      return out;
    }
    for (int32_t i = 0; i < n; ++i) {
      Cell w = *context::word_at(o.c.w1, i);
      w = Cell{T_SET_WORD | hdr::NEW_LINE, o.c.w1, w.w2, uint32_t(i)};
      *runtime::block_append_cell(out) = w;
      Cell v = vals(o.c.w1)[i];
      if (cell::type(&v) == T_WORD) cell::set_type(&v, T_LIT_WORD);
      else if (cell::type(&v) == T_PATH) cell::set_type(&v, T_LIT_PATH);
      *runtime::block_append_cell(out) = v;
    }
  } else if (f == canon_rw<runtime_word_index("owner", WordKind::SYMBOL)>()) {
    *out = Cell{T_LOGIC, (context::cell_of(ctx)->header & CONTEXT_OWNER) ? 1u : 0u, 0, 0};
  } else if (f == canon_rw<runtime_word_index("events?", WordKind::SYMBOL)>()) {
    *out = Cell{T_LOGIC, o.c.w3 ? 1u : 0u, 0, 0};
  } else {
    error::raise(err::internal::not_done);
  }
  return out;
}

int32_t mold_fields(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                    int32_t budget, bool indent_each, int32_t indent, bool lead_newline) {
  Kept o(value), buf(buffer);
  Node ctx = o.c.w1;
  int32_t n = context::word_count(ctx);
  if (n == 0) return budget;
  if (flat) indent_each = false;
  const char* sep = flat ? " " : "\n";
  if (!flat && lead_newline) {
    if (only) {
      indent_each = false;
    } else {
      write(&buf.c, "\n", &budget);
    }
  }
  int32_t change_c = canon_text("on-change*"), deep_c = canon_text("on-deep-change*");
  auto shown = [&](int32_t i) {
    if (all) return true;
    int32_t c = canon(int32_t(context::word_at(o.c.w1, i)->w2));
    return c != change_c && c != deep_c;
  };
  cycle::Scope scope(ctx);
  for (int32_t i = 0; i < n; ++i) {
    if (part && budget < 1) break;
    if (!shown(i)) continue;
    if (indent_each) {
      for (int32_t k = 0; k < indent; ++k) write(&buf.c, "    ", &budget);
    }
    Cell w = *context::word_at(o.c.w1, i);
    w.header = T_WORD;
    Kept kw(&w);
    budget = actions::direct_form(&kw.c, &buf.c, nullptr, budget);
    write(&buf.c, ": ", &budget);
    // Rooted before the quote is written: writing can move the word's context node.
    Cell v = field_value(o.c.w1, i);
    Kept kv(&v);
    if (cell::type(&kv.c) == T_WORD) write(&buf.c, "'", &budget);
    budget = actions::direct_mold(&kv.c, &buf.c, false, all, flat, part, budget, indent);
    bool later = false;
    for (int32_t j = i + 1; j < n && !later; ++j) later = shown(j);
    if (indent_each || later) write(&buf.c, sep, &budget);
  }
  return budget;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, false)) return budget;
  return mold_fields(value, buffer, false, false, false, part, budget, false, 0, false);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, true)) return budget;
  Kept o(value), buf(buffer);
  if (!only) write(&buf.c, "make object! [", &budget);
  int32_t before = budget;
  budget = mold_fields(&o.c, &buf.c, only, all, flat, part, budget, true, indent + 1, true);
  bool wrote = budget != before;
  if (!flat && indent >= 1 && wrote && !only) {
    for (int32_t k = 0; k < indent; ++k) write(&buf.c, "    ", &budget);
  }
  if (!only) write(&buf.c, "]", &budget);
  return budget;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool absent_as_none, bool, bool last, bool) {
  // The new value too is kept from the start: the look-ups below may allocate.
  Kept o(parent), el(element), pth(path), v(value);
  uint32_t et = cell::type(element);
  if (!any_word_q(et)) error::raise(err::script::invalid_path, &pth.c, &el.c);
  Node ctx = o.c.w1;
  gc::Root keep_ctx(&ctx);
  int32_t i;
  if (element->w1 == ctx && int32_t(element->w3) >= 0 &&
      int32_t(element->w3) < context::word_count(ctx)) {
    i = int32_t(element->w3);
  } else {
    i = context::find_symbol(ctx, int32_t(element->w2), true);
    if (i >= 0) {
      element->w1 = ctx;
      element->w3 = uint32_t(i);
      el.c = *element;
    }
  }
  auto missing = [&]() -> Cell* {
    if (absent_as_none && last) {
      Cell* out = stack::reserve_cell();
      *out = Cell{T_NONE, 0, 0, 0};
      return out;
    }
    if (last) error::raise(err::script::invalid_path, &pth.c, &el.c);
    error::raise(err::script::unset_path, &pth.c, &el.c);
  };
  if (i < 0) return missing();
  fill_values(ctx);
  if (value) {
    context::word_at(o.c.w1, i)->header |= hdr::WORD_ASSIGNED;
    if (o.c.w3) {
      TopGuard top;
      Cell* old = stack::push_copy(vals(o.c.w1) + i);
      Cell w = el.c;
      if (cell::type(&w) != T_WORD) {
        w = *context::word_at(o.c.w1, i);
        w = Cell{T_WORD, o.c.w1, w.w2, uint32_t(i)};
      }
      vals(o.c.w1)[i] = v.c;
      fire_change(&o.c, &w, old, &v.c);
    } else {
      vals(o.c.w1)[i] = v.c;
    }
    Cell* out = stack::push_copy(&v.c);
    return out;
  }
  Cell got = vals(ctx)[i];
  if (cell::type(&got) == T_UNSET) return missing();
  return stack::push_copy(&got);
}

bool path_read(const Cell* obj, const Cell* key, Cell* out) {
  Node ctx = obj->w1;
  // eval_path's look-up: a plain find allocates nothing.
  int32_t i = context::find_symbol(ctx, int32_t(key->w2), true);
  if (i < 0 || i >= value_count(ctx)) return false;
  const Cell* v = vals(ctx) + i;
  uint32_t t = cell::type(v);
  if (t == T_UNSET || t == T_NATIVE || t == T_ACTION || t == T_FUNCTION || t == T_ROUTINE)
    return false;
  *out = *v;
  return true;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_OBJECT) return -2;
  if (a->w1 == b->w1) return 0;
  if (op == 9) return -1;
  Node ca = a->w1, cb = b->w1;
  if (cycle::visiting_q(ca)) return cycle::visiting_q(cb) ? 0 : -1;
  int32_t na = context::word_count(ca), nb = context::word_count(cb);
  if (na != nb) return na > nb ? 1 : -1;
  Kept ka(a), kb(b);
  cycle::Scope sa(ca);
  cycle::Scope sb(cb);
  auto number_q = [](uint32_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; };
  for (int32_t i = 0; i < na; ++i) {
    int32_t sa_id = canon(int32_t(context::word_at(ka.c.w1, i)->w2));
    int32_t sb_id = canon(int32_t(context::word_at(kb.c.w1, i)->w2));
    if (sa_id != sb_id) return sa_id < sb_id ? -1 : 1;
    Cell va = field_value(ka.c.w1, i), vb = field_value(kb.c.w1, i);
    uint32_t ta = cell::type(&va), tb = cell::type(&vb);
    int32_t r;
    if (ta == tb || (word::any_word_type_q(ta) && word::any_word_type_q(tb)) ||
        (number_q(ta) && number_q(tb))) {
      Kept x(&va), y(&vb);
      r = actions::direct_compare(&x.c, &y.c, op);
      if (r == -2) r = ta == tb ? 1 : (ta < tb ? -1 : 1);
    } else {
      r = ta < tb ? -1 : 1;
    }
    if (r != 0) return r;
  }
  return 0;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  if (part) {
    Cell w = word::intern_global("part");
    w.header = T_WORD;
    error::raise(err::script::invalid_refine_arg, &w, part);
  }
  Kept src(value);
  Kept res(nullptr);
  copy_into(&src.c, &res.c, deep, types, true);
  *result = res.c;
  return result;
}

Cell* select(Cell* value, Cell* key, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
  uint32_t kt = cell::type(key);
  if (!any_word_q(kt)) {
    Cell dt{T_DATATYPE, kt, 0, 0};
    error::raise(err::script::invalid_type, &dt);
  }
  int32_t i = index_of_word(value, key);
  Cell v = i < 0 ? Cell{T_NONE, 0, 0, 0} : field_value(value->w1, i);
  return stack::push_copy(&v);
}

Cell* put(Cell* value, Cell* key, Cell* new_value, bool) {
  if (cell::type(key) != T_WORD) {
    Cell dt{T_DATATYPE, cell::type(key), 0, 0};
    error::raise(err::script::invalid_key_type, &dt);
  }
  Kept o(value), k(key), v(new_value);
  Cell none{T_NONE, 0, 0, 0};
  eval_path(&o.c, &k.c, &v.c, &none, nullptr, nullptr, 0, false, false, true, false);
  return stack::push_copy(&v.c);
}

Cell* modify(Cell* value, Cell* field, Cell* new_value, bool) {
  Kept o(value), v(new_value);
  int32_t f = canon(int32_t(field->w2));
  if (f == canon_text("changed")) {
    if (cell::type(&v.c) != T_NONE) error::raise(err::script::invalid_arg, &v.c);
    clear_assigned_flags(o.c.w1);
  } else if (f == canon_text("owner")) {
    owner::attach_flagged(&o.c, &o.c, cell::none_value());
  } else if (f == canon_text("owned")) {
    if (cell::type(&v.c) == T_NONE) {
      owner::disown(&o.c);
    } else if (cell::type(&v.c) == T_BLOCK && block::count_from_head(&v.c) >= 2) {
      Cell ow = *block::cell_at_index(&v.c, int32_t(v.c.w1));
      Cell wd = *block::cell_at_index(&v.c, int32_t(v.c.w1) + 1);
      Kept a(&ow), b(&wd);
      owner::attach_flagged(&o.c, &a.c, &b.c);
    }
  }
  return stack::push_copy(&v.c);
}

void install_type() {
  datatype::Registration r{T_OBJECT, 0, "object!", {}};
  r.slots.make = &make;
  r.slots.reflect = &reflect;
  r.slots.form = &form;
  r.slots.mold = &mold;
  r.slots.eval_path = &eval_path;
  r.slots.compare = &compare;
  r.slots.copy = &copy;
  r.slots.put = &put;
  r.slots.select = &select;
  r.slots.modify = &modify;
  datatype::register_type(r);
}

}  // namespace kel::object
