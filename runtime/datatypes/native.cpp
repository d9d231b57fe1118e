// native!, action! and op! values: make from [spec index] or from a function-like value,
// the op! spec walk, reflect, form, mold, compare and the three registrations.
#include "runtime/datatypes/native.h"

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/error.h"
#include "runtime/evaluator/natives.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::native {

namespace {

Cell* cells_of(Node n) { return memory::head_cells(memory::node_buffer(n)); }
int32_t cell_count(Node n) { return int32_t(memory::units(memory::node_buffer(n))); }

// The value the boot specs make for each table id, in a block kept in the root block:
// natives at id - 1, actions at CAPACITY + id - 1. A later value with another spec runs
// only when its spec can feed the built-in (`check_feeds_builtin`).
uint32_t g_origins = 0;  // root-block position + 1; 0 before start-up made the block
bool g_recording = false;  // the boot specs are being made: each make is the id's origin
int32_t g_first_later_native = 0;  // natives appended after the boot take their first make
constexpr int32_t ORIGIN_SLOTS = natives::TABLE_CAPACITY + actions::TABLE_CAPACITY;

Cell* origin_slot(uint32_t type, int32_t id) {
  if (!g_origins) return nullptr;
  Node b = runtime::root_cell(g_origins - 1)->w2;
  int32_t at = (type == T_ACTION ? natives::TABLE_CAPACITY : 0) + id - 1;
  if (at < 0 || at >= ORIGIN_SLOTS) return nullptr;
  return cells_of(b) + at;
}

// Shared by native! and action!: spec is [spec-block index].
Cell* make_builtin(Cell* spec_in, uint32_t type, int32_t capacity, bool (*filled)(int32_t)) {
  Cell spec = *spec_in;
  gc::Root keep(&spec);
  Cell type_cell = datatype::value_of(type);
  bool ok = cell::type(&spec) == T_BLOCK &&
            cell_count(spec.w2) - int32_t(spec.w1) == 2;
  if (ok) {
    const Cell* first = cells_of(spec.w2) + int32_t(spec.w1);
    const Cell* index = first + 1;
    int32_t id = cell::get_int(index);
    ok = cell::type(first) == T_BLOCK && cell::type(index) == T_INTEGER && id >= 1 &&
         id <= capacity && filled(id);
  }
  if (!ok) error::raise_bad_make_arg(&type_cell, &spec);

  Cell* block = stack::push_copy(cells_of(spec.w2) + int32_t(spec.w1));
  int32_t id = cell::get_int(cells_of(spec.w2) + int32_t(spec.w1) + 1);
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  Node ex = memory::series_new_cells(function::native_extras::SIZE);
  *result = Cell{type, uint32_t(id), block->w2, ex};
  cell::set_unset(runtime::series_append_cell_node(ex));
  cell::set_none(runtime::series_append_cell_node(ex));
  Node ctx = context::from_spec(block, true, false, context::KIND_FUNCTION);
  *function::extras_cell(result, function::native_extras::CONTEXT) = *context::cell_of(ctx);
  *block = *result;
  stack::drop_cells(1);
  Cell* origin = origin_slot(type, id);
  bool later = type == T_NATIVE && g_first_later_native && id >= g_first_later_native;
  if (origin && (g_recording || (later && cell::type(origin) == T_UNSET))) *origin = *block;
  return block;
}

int32_t mold_builtin(const char* opening, Cell* value, Cell* buffer, bool only, bool all,
                     bool flat, Cell* part, int32_t limit, int32_t indent) {
  limit = function::add_text(buffer, opening, limit);
  // The spec node is read after the text is added: adding may collect and rename nodes
  // (value is a cell the collector sees).
  limit = function::mold_series_as_block(value->w2, buffer, only, all, flat, part, limit, indent);
  return function::add_text(buffer, "]", limit);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  (void)proto;
  (void)type;
  return make_builtin(spec, T_NATIVE, natives::TABLE_CAPACITY, natives::entry_filled_q);
}

Node spec_context(const Cell* value) {
  Node table = function::extras_cell(value, function::native_extras::CONTEXT)->w1;
  if (!table) return 0;
  Node words = uint32_t(hash::record(table)[hash::rec::VALUES]);
  // Every word of the list is bound to the context: the first names it.
  if (cell_count(words) == 0) return 0;
  return cells_of(words)->w1;
}

void init_origins() {
  // Start-up collects nothing yet, and the stacks do not exist: the node stays in a local.
  g_origins = 0;
  Node b = memory::series_new_cells(uint32_t(ORIGIN_SLOTS));
  for (int32_t i = 0; i < ORIGIN_SLOTS; ++i) cell::set_unset(runtime::series_append_cell_node(b));
  Cell holder{T_BLOCK, 0, b, 0};
  g_origins = runtime::root_append(&holder) + 1;
  g_recording = true;
}

void forget_origins() {
  g_origins = 0;
  g_recording = false;
  g_first_later_native = 0;
}

void record_origin(const Cell* value) {
  Cell* origin = origin_slot(cell::type(value), int32_t(value->w1));
  if (origin && g_recording) *origin = *value;
}

void end_origins() {
  g_recording = false;
  g_first_later_native = natives::next_id;
}

void check_feeds_builtin(const Cell* value, const Cell* cache) {
  uint32_t t = cell::type(value);
  if (t == T_OP) t = (value->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  Cell* origin_at = origin_slot(t, int32_t(value->w1));
  if (!origin_at || g_recording || origin_at->w2 == value->w2) return;
  if (cell::type(origin_at) == T_UNSET) {
    // No spec of the boot's says what this built-in reads.
    Cell bad{T_BLOCK, 0, value->w2, 0};
    error::raise(err::script::bad_func_def, &bad);
  }
  Cell* top = stack::state().top;
  Cell* mine = stack::push_copy(cache);
  Cell* spec = stack::push_copy(value);
  spec->header = T_BLOCK;
  spec->w1 = 0;
  Cell* origin = stack::push_copy(origin_at);
  Cell* theirs = stack::reserve_cell();
  *theirs = Cell{T_NONE, 0, 0, 0};
  Node built = interp::build_argument_cache(origin);
  *theirs = Cell{T_BLOCK, 0, built, 0};
  // The frame the built-in reads: arguments and refinements in order, each argument of
  // types the built-in accepts. Locals and the result type do not reach it.
  auto frame_entries = [](const Cell* list, Cell* out, int32_t room) {
    int32_t n = 0;
    for (int32_t i = 0; i < cell_count(list->w2); ++i) {
      const Cell* c = cells_of(list->w2) + i;
      uint32_t ct = cell::type(c);
      bool arg = ct == T_TYPESET && function::cache::mode_of(c) != function::cache::MODE_RETURN;
      if (!arg && ct != T_REFINEMENT) continue;
      if (n < room) out[n] = *c;
      ++n;
    }
    return n;
  };
  constexpr int32_t ROOM = 64;
  Cell a[ROOM], b[ROOM];
  int32_t na = frame_entries(mine, a, ROOM), nb = frame_entries(theirs, b, ROOM);
  bool fits = na == nb && na <= ROOM;
  for (int32_t i = 0; fits && i < na; ++i) {
    if (cell::type(a + i) != cell::type(b + i)) fits = false;
    else if (cell::type(a + i) == T_TYPESET)
      fits = ((a[i].w1 & ~b[i].w1) | (a[i].w2 & ~b[i].w2) | (a[i].w3 & ~b[i].w3)) == 0;
  }
  if (!fits) {
    Cell bad = *spec;
    stack::state().top = top;
    error::raise(err::script::bad_func_def, &bad);
  }
  stack::state().top = top;
}

Cell* reflect(Cell* value, int32_t field) {
  Cell v = *value;
  gc::Root keep(&v);
  uint32_t t = cell::type(&v);
  uint32_t wrapped = t == T_OP ? (v.header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT : t;
  if (function::symbol_is(uint32_t(field), "spec")) {
    Cell* r = stack::reserve_cell();
    *r = Cell{T_BLOCK, 0, v.w2, 0};
    return r;
  }
  if (function::symbol_is(uint32_t(field), "body")) {
    if (wrapped == T_FUNCTION || wrapped == T_ROUTINE)
      return stack::push_copy(function::extras_cell(&v, function::extras::BODY));
    Cell* r = stack::reserve_cell();
    cell::set_integer(r, int32_t(v.w1));
    return r;
  }
  error::raise(err::internal::not_done);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  (void)value;
  (void)part;
  return function::add_text(buffer, "?native?", limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  return mold_builtin("make native! [", value, buffer, only, all, flat, part, limit, indent);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_NATIVE) return -2;
  return function::compare_identity(a->w1, b->w1, op);
}

void install_type() {
  datatype::Registration r{};
  r.id = T_NATIVE;
  r.parent = 0;
  r.name = "native!";
  r.slots.make = make;
  r.slots.reflect = reflect;
  r.slots.form = form;
  r.slots.mold = mold;
  r.slots.compare = compare;
  datatype::register_type(r);
}

}  // namespace kel::native

namespace kel::action {

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  (void)proto;
  (void)type;
  return native::make_builtin(spec, T_ACTION, actions::TABLE_CAPACITY, actions::entry_filled_q);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  (void)value;
  (void)part;
  return function::add_text(buffer, "?action?", limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  return native::mold_builtin("make action! [", value, buffer, only, all, flat, part, limit,
                              indent);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_ACTION) return -2;
  return function::compare_identity(a->w1, b->w1, op);
}

void install_type() {
  datatype::Registration r{};
  r.id = T_ACTION;
  r.parent = T_NATIVE;
  r.name = "action!";
  r.slots.make = make;
  r.slots.reflect = datatype::inherit;
  r.slots.form = form;
  r.slots.mold = mold;
  r.slots.compare = compare;
  datatype::register_type(r);
}

}  // namespace kel::action

namespace kel::op {

Cell* make(Cell* proto, Cell* spec_in, uint32_t type) {
  (void)proto;
  (void)type;
  Cell spec = *spec_in;
  gc::Root keep(&spec);
  uint32_t t = cell::type(&spec);
  if (t != T_ACTION && t != T_NATIVE && t != T_FUNCTION && t != T_ROUTINE) {
    Cell type_cell = datatype::value_of(t);
    error::raise(err::script::invalid_type, &type_cell);
  }
  if (!valid_spec_q(spec.w2)) error::raise(err::script::bad_op_spec);
  Cell* result = stack::push_copy(&spec);
  if (t == T_FUNCTION || t == T_ROUTINE)
    *function::extras_cell(result, function::extras::OP_SELF) = spec;
  result->header = T_OP | (t << hdr::OP_TYPE_SHIFT);
  return result;
}

bool valid_spec_q(Node spec) {
  gc::Root keep(&spec);  // interning may move nodes
  int32_t local_id = symbol::canonical_id(symbol::intern_c_text("local"));
  int32_t extern_id = symbol::canonical_id(symbol::intern_c_text("extern"));
  int32_t n = int32_t(memory::units(memory::node_buffer(spec)));
  const Cell* c = memory::head_cells(memory::node_buffer(spec));
  int32_t count = 0;
  bool plain_seen = false;
  for (int32_t i = 0; i < n; ++i) {
    uint32_t t = cell::type(c + i);
    if (t == T_WORD) {
      ++count;
      plain_seen = true;
    } else if (t == T_LIT_WORD || t == T_GET_WORD) {
      if (!plain_seen) return false;
      ++count;
    } else if (t == T_REFINEMENT) {
      int32_t id = symbol::canonical_id(int32_t(c[i].w2));
      if (id == local_id || id == extern_id) break;
      return false;
    } else if (t == T_SET_WORD) {
      break;
    }
  }
  return count == 2;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  (void)value;
  (void)part;
  return function::add_text(buffer, "?op?", limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  uint32_t saved_top = stack::index_of(stack::state().top);
  Cell* v = stack::push_copy(value);
  uint32_t wrapped = (v->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  limit = function::add_text(buffer, "make op! ", limit);
  limit = function::add_text(buffer, wrapped == T_FUNCTION ? "func " : "[", limit);
  uint32_t frame_top = stack::index_of(stack::state().top);
  stack::push_native_frame(nullptr);  // named `<anon>`
  limit = function::mold_series_as_block(v->w2, buffer, only, all, flat, part, limit, indent);
  stack::pop_frame_discard();
  stack::state().top = stack::at_index(frame_top);
  if (wrapped == T_FUNCTION) {
    Cell* body = stack::push_copy(function::extras_cell(v, function::extras::BODY));
    if (cell::type(body) == T_BLOCK)
      limit = function::mold_series_as_block(body->w2, buffer, only, all, flat, part, limit,
                                             indent);
  } else {
    limit = function::add_text(buffer, "]", limit);
  }
  stack::state().top = stack::at_index(saved_top);
  return limit;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_OP) return -2;
  return function::compare_identity(a->w1, b->w1, op);
}

void install_type() {
  datatype::Registration r{};
  r.id = T_OP;
  r.parent = T_NATIVE;
  r.name = "op!";
  r.slots.make = make;
  r.slots.reflect = datatype::inherit;
  r.slots.form = form;
  r.slots.mold = mold;
  r.slots.compare = compare;
  datatype::register_type(r);
}

}  // namespace kel::op
