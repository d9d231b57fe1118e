// Interim function-like values: native!/action!/op!/function! make, reflect, form, compare;
// spec checks, locals collection and the deep body copy, until their own unit lands.
#include "runtime/evaluator/function_interim.h"

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/natives.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include <cstring>
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::blk {

void init(Cell* out, uint32_t n) {
  Node node = memory::series_new_cells(n ? n : 1);
  cell::set_block(out, node);
}

namespace {
bool deep_type_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH);
}
}  // namespace

void copy(Cell* out, const Cell* block, bool deep) {
  // out is rooted by the caller; the source is kept on the stack while copying.
  Cell* src = stack::push_copy(block);
  uint32_t n = count(src->w2);
  uint32_t head = src->w1 > n ? n : src->w1;
  Node node = memory::series_new_cells(n - head ? n - head : 1);
  *out = Cell{cell::type(src), 0, node, 0};
  for (uint32_t i = head; i < count(src->w2); ++i) {
    // Read the source after the append: an allocation can move node handles.
    Cell* dst = runtime::block_append_cell(out);
    *dst = cells(src->w2)[i];
    if (deep && deep_type_q(cell::type(dst))) {
      Cell* tmp = stack::push_copy(dst);
      uint32_t header = tmp->header;
      copy(tmp, tmp, true);
      tmp->header = header;  // keep the new-line flag
      cells(out->w2)[i - head] = *tmp;
      stack::drop_cells(1);
    }
  }
  stack::drop_cells(1);
}

}  // namespace kel::blk

namespace kel::function {

namespace {

int32_t canon(const Cell* c) { return symbol::canonical_id(int32_t(c->w2)); }

int32_t canon_text(const char* text) { return symbol::canonical_id(symbol::intern_c_text(text)); }

Cell* base() { return stack::state().base; }

}  // namespace

Cell* extras(const Cell* fn, uint32_t k) { return blk::cells(fn->w3) + k; }

int32_t find_spec_symbol(const Cell* fn, int32_t symbol) {
  uint32_t t = cell::type(fn);
  if (t == T_OP) t = (fn->header >> hdr::OP_TYPE_SHIFT) & 0xFF;
  if (t == T_FUNCTION || t == T_ROUTINE) return context::find_symbol(fn->w1, symbol, true);
  int32_t index = -1;
  return hash::context_symbol_index(extras(fn, 0)->w1, symbol, true, 0, &index);
}

uint32_t check_spec(const Cell* spec) {
  Cell* s = stack::push_copy(spec);
  uint32_t flags = 0;
  uint32_t n = blk::count(s->w2);
  int32_t local_id = canon_text("local");
  int32_t return_id = canon_text("return");
  bool after_local = false;
  for (uint32_t i = s->w1; i < n; ++i) {
    Cell c = blk::cells(s->w2)[i];
    uint32_t t = cell::type(&c);
    switch (t) {
      case T_BLOCK:
        if (i == s->w1) {  // attribute block
          for (uint32_t j = c.w1; j < blk::count(c.w2); ++j) {
            Cell a = blk::cells(c.w2)[j];
            if (cell::type(&a) != T_WORD) error::raise(err::script::bad_func_def, spec);
            std::string name = symbol::text(int32_t(a.w2));
            if (name == "trace") flags |= 0x400;
            if (name == "no-trace") flags |= 0x200;
          }
        } else {
          for (uint32_t j = c.w1; j < blk::count(c.w2); ++j) {
            Cell e = blk::cells(c.w2)[j];
            Cell v = e;
            if (cell::type(&e) == T_WORD) {
              v = *word::value_slot(&e);
              if (cell::type(&v) == T_UNSET) error::raise(err::script::no_value, &e);
            }
            uint32_t vt = cell::type(&v);
            if (vt != T_DATATYPE && vt != T_TYPESET && vt != T_WORD)
              error::raise(err::script::invalid_type_spec, &e);
          }
        }
        break;
      case T_STRING: break;
      case T_WORD: break;
      case T_GET_WORD: case T_LIT_WORD:
        if (after_local) error::raise(err::script::bad_func_def, spec);
        break;
      case T_REFINEMENT:
        if (canon(&c) == local_id) after_local = true;
        else if (after_local) error::raise(err::script::bad_func_def, spec);
        break;
      case T_SET_WORD:
        if (canon(&c) != return_id || after_local) error::raise(err::script::bad_func_def, spec);
        break;
      default: error::raise(err::script::bad_func_def, spec);
    }
  }
  // No name twice (canonical ids).
  for (uint32_t i = s->w1; i < n; ++i) {
    Cell a = blk::cells(s->w2)[i];
    uint32_t ta = cell::type(&a);
    if (ta != T_WORD && ta != T_GET_WORD && ta != T_LIT_WORD && ta != T_REFINEMENT) continue;
    for (uint32_t j = i + 1; j < n; ++j) {
      Cell b = blk::cells(s->w2)[j];
      uint32_t tb = cell::type(&b);
      if (tb != T_WORD && tb != T_GET_WORD && tb != T_LIT_WORD && tb != T_REFINEMENT) continue;
      if (canon(&a) == canon(&b)) error::raise(err::script::dup_vars, &b);
    }
  }
  stack::drop_cells(1);
  return flags;
}

Cell* build(const Cell* spec, const Cell* body, uint32_t flags) {
  Cell* result = stack::reserve_cell();
  *result = Cell{T_NONE, 0, 0, 0};
  Cell* s = stack::push_copy(spec);
  Cell* b = stack::push_copy(body);
  if (s->w1 > 0) blk::copy(s, s, false);
  Cell* ex = stack::reserve_cell();
  *ex = Cell{T_NONE, 0, 0, 0};
  blk::init(ex, 5);
  for (int i = 0; i < 5; ++i) *runtime::block_append_cell(ex) = Cell{T_UNSET, 0, 0, 0};
  Node ctx = context::from_spec(s, true, false, context::KIND_FUNCTION);
  *result = Cell{T_FUNCTION | flags, ctx, s->w2, ex->w2};
  *context::self_cell(ctx) = *result;
  Cell* body_copy = stack::reserve_cell();
  *body_copy = Cell{T_NONE, 0, 0, 0};
  blk::copy(body_copy, b, true);
  context::bind_block(body_copy, result->w1, false);  // ctx may have moved: read the cell
  blk::cells(ex->w2)[0] = *body_copy;
  stack::drop_cells(4);
  return result;
}

namespace {

bool in_list(const Cell* list, int32_t c) {
  for (uint32_t i = list->w1; i < blk::count(list->w2); ++i)
    if (canon(blk::cells(list->w2) + i) == c) return true;
  return false;
}

void collect_walk(Cell* exclude, Cell* found, const Cell* block) {
  Cell* b = stack::push_copy(block);
  for (uint32_t i = b->w1; i < blk::count(b->w2); ++i) {
    Cell c = blk::cells(b->w2)[i];
    uint32_t t = cell::type(&c);
    if (t == T_SET_WORD) {
      if (!in_list(exclude, canon(&c))) {
        Cell* w = stack::push_copy(&c);
        w->header = T_WORD;
        *runtime::block_append_cell(exclude) = *w;
        *runtime::block_append_cell(found) = *w;
        stack::drop_cells(1);
      }
    } else if (t == T_BLOCK || t == T_PAREN) {
      collect_walk(exclude, found, &c);
    }
  }
  stack::drop_cells(1);
}

}  // namespace

void collect_locals(Cell* spec_copy, const Cell* body) {
  Cell* exclude = stack::reserve_cell();
  *exclude = Cell{T_NONE, 0, 0, 0};
  blk::init(exclude, 8);
  Cell* found = stack::reserve_cell();
  *found = Cell{T_NONE, 0, 0, 0};
  blk::init(found, 8);
  int32_t extern_id = canon_text("extern");
  int32_t local_id = canon_text("local");
  bool has_local = false;
  uint32_t n = blk::count(spec_copy->w2);
  uint32_t cut = n;
  for (uint32_t i = spec_copy->w1; i < n; ++i) {
    Cell c = blk::cells(spec_copy->w2)[i];
    uint32_t t = cell::type(&c);
    if (t == T_REFINEMENT && canon(&c) == extern_id && cut == n) {
      cut = i;
      continue;
    }
    if (t == T_REFINEMENT && canon(&c) == local_id && cut == n) has_local = true;
    if (t == T_WORD || t == T_SET_WORD || t == T_LIT_WORD || t == T_GET_WORD ||
        t == T_REFINEMENT) {
      Cell* dst = runtime::block_append_cell(exclude);
      *dst = blk::cells(spec_copy->w2)[i];
      dst->header = T_WORD;
    } else if (cut != n && t != T_BLOCK && t != T_STRING) {
      error::raise(err::script::bad_func_extern, &c);
    }
  }
  // Cut the spec at /extern.
  if (cut != n) {
    SeriesBuffer* sb = memory::node_buffer(spec_copy->w2);
    sb->tail = sb->head + cut * 16;
  }
  collect_walk(exclude, found, body);
  uint32_t nf = blk::count(found->w2);
  if (nf) {
    if (!has_local) {
      Cell r = refinement::add_global("local");
      *runtime::block_append_cell(spec_copy) = r;
    }
    for (uint32_t i = 0; i < blk::count(found->w2); ++i) {
      if (canon(blk::cells(found->w2) + i) == local_id) continue;
      Cell* dst = runtime::block_append_cell(spec_copy);
      *dst = blk::cells(found->w2)[i];
    }
  }
  stack::drop_cells(2);
}

void push_defaults(int32_t n) {
  if (n <= 0) return;
  *stack::reserve_cell() = Cell{T_LOGIC, 0, 0, 0};
  for (int32_t i = 1; i < n; ++i) *stack::reserve_cell() = Cell{T_NONE, 0, 0, 0};
}

namespace {

// make native! / make action!: [[spec] id], the id must have code behind it.
Cell* make_builtin(Cell* proto, Cell* spec, uint32_t type) {
  Cell dt{T_DATATYPE, type, 0, 0};
  (void)proto;
  if (cell::type(spec) != T_BLOCK) error::raise_bad_make_arg(&dt, spec);
  uint32_t n = blk::count(spec->w2);
  if (n - (spec->w1 > n ? n : spec->w1) != 2) error::raise_bad_make_arg(&dt, spec);
  Cell s = blk::cells(spec->w2)[spec->w1];
  Cell id = blk::cells(spec->w2)[spec->w1 + 1];
  if (cell::type(&s) != T_BLOCK || cell::type(&id) != T_INTEGER)
    error::raise_bad_make_arg(&dt, spec);
  int32_t k = cell::get_int(&id);
  bool ok = type == T_NATIVE ? natives::has_code_q(k) : natives::action_has_code_q(k);
  if (!ok) error::raise_bad_make_arg(&dt, spec);
  Cell* result = stack::reserve_cell();
  *result = Cell{T_NONE, 0, 0, 0};
  Cell* sp = stack::push_copy(&s);
  if (sp->w1 > 0) blk::copy(sp, sp, false);
  Cell* ex = stack::reserve_cell();
  *ex = Cell{T_NONE, 0, 0, 0};
  blk::init(ex, 2);
  *runtime::block_append_cell(ex) = Cell{T_NONE, 0, 0, 0};
  *runtime::block_append_cell(ex) = Cell{T_NONE, 0, 0, 0};
  Node ctx = context::from_spec(sp, true, false, context::KIND_FUNCTION);
  blk::cells(ex->w2)[0] = *context::cell_of(ctx);
  *result = Cell{type, uint32_t(k), sp->w2, ex->w2};
  stack::drop_cells(2);
  return stack::set_result(result);
}

Cell* make_native(Cell* proto, Cell* spec, uint32_t type) { return make_builtin(proto, spec, type); }

bool op_valid_spec_q(Node spec) {
  int32_t count = 0;
  bool plain = false;
  int32_t local_id = canon_text("local"), extern_id = canon_text("extern");
  for (uint32_t i = 0; i < blk::count(spec); ++i) {
    Cell c = blk::cells(spec)[i];
    switch (cell::type(&c)) {
      case T_WORD: ++count; plain = true; break;
      case T_LIT_WORD: case T_GET_WORD:
        if (!plain) return false;
        ++count;
        break;
      case T_REFINEMENT:
        if (canon(&c) == local_id || canon(&c) == extern_id) return count == 2;
        return false;
      case T_SET_WORD: return count == 2;
      default: break;
    }
  }
  return count == 2;
}

Cell* make_op(Cell*, Cell* spec, uint32_t) {
  uint32_t t = cell::type(spec);
  if (t != T_NATIVE && t != T_ACTION && t != T_FUNCTION && t != T_ROUTINE) {
    Cell dt{T_DATATYPE, t, 0, 0};
    error::raise(err::script::invalid_type, &dt);
  }
  if (!op_valid_spec_q(spec->w2)) error::raise(err::script::bad_op_spec);
  Cell r = *spec;
  if (t == T_FUNCTION || t == T_ROUTINE) *extras(spec, 3) = *spec;
  r.header = T_OP | (t << hdr::OP_TYPE_SHIFT);
  return stack::set_result(&r);
}

Cell* make_function(Cell*, Cell* spec, uint32_t) {
  if (cell::type(spec) != T_BLOCK || blk::count(spec->w2) < spec->w1 + 2)
    error::raise(err::script::bad_func_def, spec);
  Cell s = blk::cells(spec->w2)[spec->w1];
  Cell b = blk::cells(spec->w2)[spec->w1 + 1];
  if (cell::type(&s) != T_BLOCK || cell::type(&b) != T_BLOCK)
    error::raise(err::script::bad_func_def, spec);
  Cell* sp = stack::push_copy(&s);
  Cell* bp = stack::push_copy(&b);
  uint32_t flags = check_spec(sp);
  Cell* f = build(sp, bp, flags);
  Cell r = *f;
  stack::drop_cells(3);
  return stack::set_result(&r);
}

Cell* reflect(Cell* value, int32_t field) {
  std::string name = symbol::text(symbol::canonical_id(field));
  uint32_t t = cell::type(value);
  if (name == "spec") {
    Cell r{T_BLOCK, 0, value->w2, 0};
    return stack::set_result(&r);
  }
  if (name == "body") {
    if (t == T_FUNCTION || t == T_ROUTINE) return stack::set_result(extras(value, 0));
    if (t == T_OP) {
      uint32_t wt = (value->header >> hdr::OP_TYPE_SHIFT) & 0xFF;
      if (wt == T_FUNCTION || wt == T_ROUTINE) return stack::set_result(extras(value, 0));
    }
    Cell r{T_INTEGER, 0, value->w1, 0};
    return stack::set_result(&r);
  }
  error::raise(err::internal::not_done);
}

int32_t form_text(Cell* buffer, const char* text, int32_t limit) {
  string::add_c_text(buffer, text);
  return limit - int32_t(std::strlen(text));
}

int32_t native_form(Cell*, Cell* buffer, Cell*, int32_t limit) { return form_text(buffer, "?native?", limit); }
int32_t action_form(Cell*, Cell* buffer, Cell*, int32_t limit) { return form_text(buffer, "?action?", limit); }
int32_t op_form(Cell*, Cell* buffer, Cell*, int32_t limit) { return form_text(buffer, "?op?", limit); }
int32_t function_form(Cell*, Cell* buffer, Cell*, int32_t limit) { return form_text(buffer, "?function?", limit); }

int32_t order(uint32_t a, uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

int32_t compare_same_type(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(a) != cell::type(b)) return -2;
  switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12:
      if (cell::type(a) == T_FUNCTION) return order(a->w3, b->w3);
      return a->w1 != b->w1 ? order(a->w1, b->w1) : order(a->w3, b->w3);
    default: return -2;
  }
}

}  // namespace

void install_types() {
  using namespace datatype;
  register_type({.id = T_NATIVE, .parent = 0, .name = "native!",
                 .slots = {.make = make_native, .reflect = reflect, .form = native_form,
                           .compare = compare_same_type}});
  register_type({.id = T_ACTION, .parent = T_NATIVE, .name = "action!",
                 .slots = {.make = make_native, .reflect = inherit, .form = action_form,
                           .compare = compare_same_type}});
  register_type({.id = T_OP, .parent = T_NATIVE, .name = "op!",
                 .slots = {.make = make_op, .reflect = inherit, .form = op_form,
                           .compare = compare_same_type}});
  register_type({.id = T_FUNCTION, .parent = 0, .name = "function!",
                 .slots = {.make = make_function, .reflect = reflect, .form = function_form,
                           .compare = compare_same_type}});
}

}  // namespace kel::function
