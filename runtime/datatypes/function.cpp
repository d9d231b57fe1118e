// function! values: the spec grammar and its errors, build and make, locals for `function`,
// frame defaults, reflect, form, mold, compare and the function! registration.
#include "runtime/datatypes/function.h"

#include <vector>

#include "runtime/evaluator/trace.h"

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::function {

using stack::TopGuard;

namespace {

Cell* cells_of(Node n) { return memory::head_cells(memory::node_buffer(n)); }
int32_t cell_count(Node n) { return int32_t(memory::units(memory::node_buffer(n))); }

// Values of a block from its index; an index past the tail gives none.
int32_t length_from_index(const Cell* block) {
  int32_t n = cell_count(block->w2) - int32_t(block->w1);
  return n > 0 ? n : 0;
}
Cell* at_index(const Cell* block, int32_t i) { return cells_of(block->w2) + int32_t(block->w1) + i; }

bool any_word_arg_q(uint32_t t) { return t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD; }

[[noreturn]] void bad_def(const Cell* spec) { error::raise(err::script::bad_func_def, spec); }

}  // namespace

void typeset_bits::set_default(Cell* c) {
  for (uint32_t t = T_DATATYPE; t < T_TYPE_COUNT; ++t)
    if (t != T_UNSET) set(c, t);
}

Cell* extras_cell(const Cell* value, int32_t i) { return cells_of(value->w3) + i; }

bool symbol_is(uint32_t symbol, const char* name) {
  int32_t id = symbol::intern_c_text(name);
  return symbol::canonical_id(int32_t(symbol)) == symbol::canonical_id(id);
}

int32_t compare_identity(uint32_t a, uint32_t b, int32_t op) {
  switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12:
      return a == b ? 0 : (a < b ? -1 : 1);
    default:
      return -2;
  }
}

int32_t add_text(Cell* buffer, const char* text, int32_t budget) {
  string::add_c_text(buffer, text);
  return budget - int32_t(std::char_traits<char>::length(text));
}

int32_t mold_series_as_block(Node node, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                             int32_t budget, int32_t indent) {
  TopGuard top;
  Cell* block = stack::reserve_cell();
  *block = Cell{T_BLOCK, 0, node, 0};
  return actions::direct_mold(block, buffer, only, all, flat, part, budget, indent);
}

// ---- Spec checks ----

int32_t attribute_flags(const Cell* block_in) {
  Cell block = *block_in;
  gc::Root keep(&block);  // interning may move buffers and nodes
  int32_t flags = 0;
  int32_t n = length_from_index(&block);
  for (int32_t i = 0; i < n; ++i) {
    uint32_t symbol = at_index(&block, i)->w2;
    if (cell::type(at_index(&block, i)) != T_WORD) return -1;
    if (symbol_is(symbol, "trace")) flags |= int32_t(FLAG_TRACE);
    else if (symbol_is(symbol, "no-trace")) flags |= int32_t(FLAG_NO_TRACE);
  }
  return flags;
}

void check_type_block(const Cell* block) {
  Cell b = *block;
  gc::Root keep(&b);
  int32_t n = length_from_index(&b);
  for (int32_t i = 0; i < n; ++i) {
    Cell e = *at_index(&b, i);
    uint32_t t = cell::type(&e);
    if (t == T_WORD) {
      Cell word = e;
      gc::Root keep_word(&word);
      Cell v = *word::value_slot(&word);
      if (cell::type(&v) == T_UNSET) error::raise(err::script::no_value, &word);
      t = cell::type(&v);
      if (t == T_DATATYPE || t == T_TYPESET || t == T_WORD) continue;
      error::raise(err::script::invalid_type_spec, &word);
    }
    if (t == T_DATATYPE || t == T_TYPESET) continue;
    error::raise(err::script::invalid_type_spec, &e);
  }
}

void check_duplicates(const Cell* spec) {
  // The canonical ids of the words met so far, in order: the first word whose id is among
  // them is the one reported. Nothing allocates before the report.
  int32_t n = length_from_index(spec);
  const Cell* head = at_index(spec, 0);
  int32_t small[32];
  std::vector<int32_t> more;
  int32_t* seen = small;
  if (n > 32) {
    more.resize(size_t(n));
    seen = more.data();
    head = at_index(spec, 0);
  }
  int32_t count = 0;
  for (int32_t j = 0; j < n; ++j) {
    uint32_t tj = cell::type(head + j);
    if (!any_word_arg_q(tj) && tj != T_REFINEMENT) continue;
    int32_t cj = symbol::canonical_id(int32_t(head[j].w2));
    for (int32_t i = 0; i < count; ++i) {
      if (seen[i] == cj) {
        Cell dup = head[j];
        error::raise(err::script::dup_vars, &dup);
      }
    }
    seen[count++] = cj;
  }
}

uint32_t check_spec(const Cell* spec_in) {
  Cell spec = *spec_in;
  gc::Root keep(&spec);
  enum { ARGS, AFTER_RETURN, LOCALS } state = ARGS;
  bool seen_return = false;
  uint32_t flags = 0;
  int32_t n = length_from_index(&spec);
  int32_t i = 0;
  if (n > 0 && cell::type(at_index(&spec, 0)) == T_BLOCK) {
    Cell attrs = *at_index(&spec, 0);
    int32_t f = attribute_flags(&attrs);
    if (f < 0) bad_def(&spec);
    flags = uint32_t(f);
    i = 1;
  }
  for (; i < n; ++i) {
    Cell e = *at_index(&spec, i);
    uint32_t t = cell::type(&e);
    bool next_block = i + 1 < n && cell::type(at_index(&spec, i + 1)) == T_BLOCK;
    switch (t) {
      case T_STRING:
        break;
      case T_WORD:
      case T_GET_WORD:
      case T_LIT_WORD:
        if (state == AFTER_RETURN) bad_def(&spec);
        if (state == LOCALS && t != T_WORD) bad_def(&spec);
        if (next_block) {
          Cell types = *at_index(&spec, i + 1);
          check_type_block(&types);
          ++i;
        }
        break;
      case T_REFINEMENT: {
        if (symbol_is(e.w2, "local")) {
          state = LOCALS;
          break;
        }
        if (state != ARGS) bad_def(&spec);
        if (i + 1 < n) {
          uint32_t nt = cell::type(at_index(&spec, i + 1));
          if (!any_word_arg_q(nt) && nt != T_REFINEMENT && nt != T_SET_WORD && nt != T_STRING)
            bad_def(&spec);
        }
        break;
      }
      case T_SET_WORD: {
        if (state != ARGS || seen_return || !symbol_is(e.w2, "return") || !next_block)
          bad_def(&spec);
        Cell types = *at_index(&spec, i + 1);
        check_type_block(&types);
        ++i;
        if (i + 1 < n) {
          uint32_t nt = cell::type(at_index(&spec, i + 1));
          if (nt != T_REFINEMENT && nt != T_STRING) bad_def(&spec);
        }
        seen_return = true;
        state = AFTER_RETURN;
        break;
      }
      default:
        bad_def(&spec);
    }
  }
  check_duplicates(&spec);
  return flags;
}

// ---- Building ----

Node build(const Cell* spec_in, const Cell* body_in, Node ctx, int32_t code, int32_t code_ref,
           uint32_t flags) {
  gc::Root keep_ctx(&ctx);
  uint32_t first = stack::index_of(stack::state().top);
  Cell* spec = stack::push_copy(spec_in);
  Cell* body = stack::push_copy(body_in);
  bool has_body = cell::type(body) != T_NONE;
  // A spec or body given past its head is first copied from there.
  if (int32_t(spec->w1) > 0) {
    if (int32_t(spec->w1) > cell_count(spec->w2)) spec->w1 = uint32_t(cell_count(spec->w2));
    Cell* c = block::clone(spec, false, false);
    *spec = *c;
    stack::drop_cells(1);
  }
  // The body's deep copy below starts at its index (clamped to its tail).
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  Node ex = memory::series_new_cells(extras::SIZE);
  *result = Cell{T_FUNCTION | flags, 0, spec->w2, ex};
  for (int32_t i = 0; i < extras::SIZE; ++i)
    cell::set_unset(runtime::series_append_cell_node(result->w3));
  bool made = ctx == 0;
  if (made) ctx = context::from_spec(spec, true, false, context::KIND_FUNCTION);
  result->w1 = ctx;
  *context::self_cell(ctx) = *result;

  if (has_body) {
    // A library function's body is marked while it is copied: the copy is a fresh tree of
    // exactly the series the mark below walks, so that walk ends at once.
    bool library = trace::library_loading_q() && !(flags & FLAG_TRACE);
    // A boot module's body that reaches `func` once (see kelbin's flag_boot_bodies) is
    // taken as it is: nothing else holds it, so its copy could not be told from it.
    SeriesBuffer* b = memory::node_buffer(body->w2);
    Cell* copy;
    bool taken = (b->flags & sflag::ONCE_BODY) && made && cell::type(body) == T_BLOCK &&
                 body->w1 == 0 && body->w3 == 0 && trace::library_loading_q();
    if (taken) {
      b->flags &= ~sflag::ONCE_BODY;
      copy = stack::push_copy(body);
    } else {
      copy = block::clone(body, true, true, library ? trace::SERIES_LIBRARY : 0);
    }
    copy->header = T_BLOCK;
    // A taken body gets the library mark in the binding walk (a copy got it while made).
    if (made)
      context::bind_block(copy, result->w1, false, taken && library ? trace::SERIES_LIBRARY : 0);
    *extras_cell(result, extras::BODY) = *copy;
    stack::drop_cells(1);
  } else {
    cell::set_none(extras_cell(result, extras::BODY));
  }
  if (code) cell::set_integer(extras_cell(result, extras::CODE), code);
  if (code_ref) cell::set_integer(extras_cell(result, extras::CODE_REF), code_ref);

  if (trace::library_loading_q()) {
    trace::mark_library_function(result);
    *context::self_cell(result->w1) = *result;
  }
  Node out = result->w1;
  Cell* slot = stack::at_index(first);
  *slot = *result;
  stack::state().top = slot + 1;
  return out;
}

Cell* make(Cell* proto, Cell* spec_in, uint32_t type) {
  (void)proto;
  (void)type;
  Cell spec = *spec_in;
  gc::Root keep(&spec);
  if (cell::type(&spec) != T_BLOCK || length_from_index(&spec) < 2 ||
      cell::type(at_index(&spec, 0)) != T_BLOCK || cell::type(at_index(&spec, 1)) != T_BLOCK)
    bad_def(&spec);
  Cell* parts = stack::push_copy(at_index(&spec, 0));
  stack::push_copy(at_index(&spec, 1));
  uint32_t flags = check_spec(parts);
  build(parts, parts + 1, 0, 0, 0, flags);
  *parts = *stack::last_pushed();
  stack::state().top = parts + 1;
  return parts;
}

// ---- Locals for `function` ----

namespace {

bool word_in(const Cell* list, int32_t canonical) {
  int32_t n = length_from_index(list);
  for (int32_t i = 0; i < n; ++i) {
    const Cell* e = at_index(list, i);
    if (cell::type(e) == T_WORD && symbol::canonical_id(int32_t(e->w2)) == canonical) return true;
  }
  return false;
}

// Appends the word (as word!) to both lists unless the skip list has it.
void collect_word(Cell* list, Cell* skip, const Cell* w) {
  Cell word = *w;
  gc::Root keep(&word);
  word.header = T_WORD;
  if (word_in(skip, symbol::canonical_id(int32_t(word.w2)))) return;
  block::append_copy(list, &word);
  block::append_copy(skip, &word);
}

// The loop words whose word or block names a local, interned once per walk.
struct LoopWords {
  int32_t repeat_id, foreach_id, remove_each_id;
};

void walk_body(Cell* list, Cell* skip, const Cell* body_in, const LoopWords& loops) {
  stack::check_machine_stack();
  Cell body = *body_in;
  gc::Root keep(&body);
  if (cycle::visiting_q(body.w2)) return;
  cycle::Scope scope(body.w2);
  int32_t repeat_id = loops.repeat_id;
  int32_t foreach_id = loops.foreach_id;
  int32_t remove_each_id = loops.remove_each_id;
  // Nothing in the walk changes the body: its length holds, and its cells are read again
  // only after something moved buffers.
  int32_t n = length_from_index(&body);
  const Cell* cells = n > 0 ? at_index(&body, 0) : nullptr;
  uint64_t moves = memory::state().moves;
  auto cell_at = [&](int32_t k) {
    if (memory::state().moves != moves) {
      cells = at_index(&body, 0);
      moves = memory::state().moves;
    }
    return cells[k];
  };
  for (int32_t i = 0; i < n; ++i) {
    Cell e = cell_at(i);
    uint32_t t = cell::type(&e);
    if (t == T_SET_WORD) {
      collect_word(list, skip, &e);
    } else if (t == T_BLOCK || t == T_PAREN) {
      walk_body(list, skip, &e, loops);
    } else if (t == T_WORD && i + 1 < n) {
      int32_t c = symbol::canonical_id(int32_t(e.w2));
      bool loop_with_block = c == foreach_id || c == remove_each_id;
      if (c != repeat_id && !loop_with_block) continue;
      Cell next = cell_at(i + 1);
      uint32_t nt = cell::type(&next);
      if (nt == T_WORD || nt == T_SET_WORD) {
        collect_word(list, skip, &next);
      } else if (loop_with_block && nt == T_BLOCK) {
        gc::Root keep_next(&next);
        for (int32_t k = 0; k < length_from_index(&next); ++k) {
          Cell w = *at_index(&next, k);
          if (any_word_arg_q(cell::type(&w))) collect_word(list, skip, &w);
        }
      }
    }
  }
}

}  // namespace

Cell* collect_locals(Cell* spec_in, const Cell* body_in) {
  uint32_t first = stack::index_of(stack::state().top);
  Cell* spec = stack::push_copy(spec_in);
  Cell* body = stack::push_copy(body_in);
  Cell* list = block::push_empty(8);
  Cell* skip = block::clone(spec, false, false);

  // /extern: its words are not collected; words after a /local that follows them are.
  int32_t n = length_from_index(spec);
  int32_t extern_at = -1;
  for (int32_t i = 0; i < n; ++i) {
    const Cell* e = at_index(spec, i);
    if (cell::type(e) == T_REFINEMENT && symbol_is(e->w2, "extern")) {
      extern_at = i;
      break;
    }
  }
  if (extern_at >= 0) {
    int32_t i = extern_at + 1;
    while (i < n && cell::type(at_index(spec, i)) == T_WORD) ++i;
    if (i < n && cell::type(at_index(spec, i)) == T_REFINEMENT &&
        symbol_is(at_index(spec, i)->w2, "local")) {
      for (++i; i < n; ++i) {
        Cell e = *at_index(spec, i);
        if (cell::type(&e) == T_WORD) block::append_copy(list, &e);
      }
    }
    block::truncate_at(spec, int32_t(spec->w1) + extern_at);
  }

  // The names not to collect, all as word!.
  int32_t sn = length_from_index(skip);
  for (int32_t i = 0; i < sn; ++i) {
    Cell* e = at_index(skip, i);
    switch (cell::type(e)) {
      case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
        cell::set_type(e, T_WORD);
        break;
      case T_WORD: case T_BLOCK: case T_STRING:
        break;
      default:
        if (extern_at >= 0) {
          Cell bad = *e;
          error::raise(err::script::bad_func_extern, &bad);
        }
    }
  }

  if (cell::type(body) == T_BLOCK || cell::type(body) == T_PAREN) {
    LoopWords loops{symbol::canonical_id(symbol::intern_c_text("repeat")),
                    symbol::canonical_id(symbol::intern_c_text("foreach")),
                    symbol::canonical_id(symbol::intern_c_text("remove-each"))};
    walk_body(list, skip, body, loops);
  }

  if (length_from_index(list) > 0) {
    if (count_locals(spec->w2, int32_t(spec->w1), true) == -1) {
      Cell local = Cell{T_REFINEMENT, 0, uint32_t(symbol::intern_c_text("local")), 0xFFFFFFFF};
      block::append_copy(spec, &local);
    }
    for (int32_t i = 0; i < length_from_index(list); ++i) {
      if (symbol_is(at_index(list, i)->w2, "local")) {
        Cell* b = memory::head_cells(memory::node_buffer(list->w2));
        int32_t at = int32_t(list->w1) + i;
        int32_t total = cell_count(list->w2);
        for (int32_t k = at; k + 1 < total; ++k) b[k] = b[k + 1];
        block::truncate_at(list, total - 1);
        --i;
      }
    }
    block::append_range(spec, list);
  }
  Cell* out = stack::at_index(first);
  *out = *list;
  stack::state().top = out + 1;
  return out;
}

namespace detail {
LastShape last_shape;

// frame_shape past its inline case: the buffers of the spec and of the context's word list
// kept while nothing moves (a buffer is replaced only with a move), the spec's argument
// count while the spec keeps the write stamp it was counted at (a spec changed in place,
// even mid-sort, has a new one). The word count is read live, so a word added to the
// context in place is counted.
void frame_shape_other(const Cell* fn, int32_t* args, int32_t* rest) {
  LastShape& l = last_shape;
  uint64_t moves = memory::state().moves;
  if (fn->w2 != l.spec || fn->w1 != l.ctx || moves != l.moves) {
    l.spec_buf = memory::node_buffer(fn->w2);
    l.words = memory::node_buffer(context::words_node(fn->w1));
    l.spec = fn->w2;
    l.ctx = fn->w1;
    l.moves = moves;
    l.counted = false;
  }
  if (!l.counted || memory::stamp(l.spec_buf) != l.stamp) {
    int32_t n = int32_t(memory::units(l.spec_buf));
    const Cell* c = memory::head_cells(l.spec_buf);
    int32_t a = 0;
    for (int32_t i = 0; i < n; ++i) {
      uint32_t t = cell::type(c + i);
      if (t == T_REFINEMENT) break;
      if (t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD) ++a;
    }
    l.counted = true;
    l.stamp = memory::stamp(l.spec_buf);
    l.args = a;
  }
  int32_t a = l.args;
  *args = a;
  int32_t total = int32_t(memory::used_bytes(l.words) / 16);
  *rest = total > a ? total - a : 0;
}
}  // namespace detail

Cell* call_with_values(const Cell* fn_value, const Cell* name_word, const Cell* const* values,
                       int32_t count) {
  // Copies first: nothing below allocates before the values are on the stack.
  Cell* fn = stack::push_copy(fn_value);
  Cell* name = stack::push_copy(name_word);
  Cell* given = stack::state().top;
  for (int32_t i = 0; i < count; ++i) stack::push_copy(values[i]);
  int32_t nargs, rest;
  frame_shape(fn, &nargs, &rest);
  stack::push_function_frame(name, fn->w1);
  stack::set_interpreted_flag();
  for (int32_t i = 0; i < nargs; ++i) {
    if (i < count) stack::push_copy(given + i);
    else cell::set_none(stack::reserve_cell());
  }
  push_defaults(rest);
  interp::call_function_body(fn, fn->w1, name, 0);
  Cell result = *stack::state().base;
  stack::pop_frame();
  *fn = result;
  stack::state().top = fn + 1;
  return fn;
}

int32_t count_locals(Node spec, int32_t start, bool ask) {
  gc::Root keep(&spec);
  int32_t local = symbol::canonical_id(symbol::intern_c_text("local"));
  int32_t n = cell_count(spec);
  const Cell* c = cells_of(spec);
  int32_t count = 0;
  bool in_locals = false;
  for (int32_t i = start < 0 ? 0 : start; i < n; ++i) {
    uint32_t t = cell::type(c + i);
    if (!in_locals) {
      if (t == T_REFINEMENT && symbol::canonical_id(int32_t(c[i].w2)) == local) {
        in_locals = true;
        count = 1;
      }
    } else if (t == T_WORD) {
      ++count;
    }
  }
  if (!in_locals) return ask ? -1 : 0;
  return count;
}

void push_defaults_one_by_one(int32_t n) {
  if (n <= 0) return;
  *stack::reserve_cell() = Cell{T_LOGIC, 0, 0, 0};
  for (int32_t i = 1; i < n; ++i) cell::set_none(stack::reserve_cell());
}

// ---- Action slots ----

Cell* reflect(Cell* value, int32_t field) {
  Cell v = *value;
  gc::Root keep(&v);
  if (symbol_is(uint32_t(field), "spec")) {
    Cell* r = stack::reserve_cell();
    *r = Cell{T_BLOCK, 0, v.w2, 0};
    return r;
  }
  if (symbol_is(uint32_t(field), "body")) return stack::push_copy(extras_cell(&v, extras::BODY));
  if (symbol_is(uint32_t(field), "words")) {
    int32_t n = context::word_count(v.w1);
    Cell* r = block::push_empty(n);
    for (int32_t i = 0; i < n; ++i) {
      Cell w = *context::word_at(v.w1, i);
      w.header = T_WORD;
      w.w1 = v.w1;
      w.w3 = uint32_t(i);
      block::append_copy(r, &w);
    }
    return r;
  }
  error::raise(err::internal::not_done);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  (void)value;
  (void)part;
  return add_text(buffer, "?function?", limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  (void)only;
  TopGuard top;
  Cell* v = stack::push_copy(value);
  limit = add_text(buffer, "func ", limit);
  limit = mold_series_as_block(v->w2, buffer, false, all, flat, part, limit, indent);
  Cell* body = stack::push_copy(extras_cell(v, extras::BODY));
  if (cell::type(body) == T_NONE) return add_text(buffer, " none", limit);
  return mold_series_as_block(body->w2, buffer, false, all, flat, part, limit, indent);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_FUNCTION) return -2;
  return compare_identity(a->w3, b->w3, op);
}

void install_type() {
  datatype::Registration r{};
  r.id = T_FUNCTION;
  r.parent = T_CONTEXT;
  r.name = "function!";
  r.slots.make = make;
  r.slots.reflect = reflect;
  r.slots.form = form;
  r.slots.mold = mold;
  r.slots.compare = compare;
  datatype::register_type(r);
}

}  // namespace kel::function
