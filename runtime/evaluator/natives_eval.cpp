// Evaluation natives: do (blocks, text, paths, errors, /next), get and set (words, blocks
// of words, paths), reduce, compose, bind, in, value?, unset, context?, type? and apply.
#include "runtime/evaluator/natives_eval.h"

#include <cstring>
#include "runtime/evaluator/trace.h"

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::natives {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }
inline Cell* frame_base() { return stack::state().base; }

uint32_t units_of(const Cell* series) { return memory::units(memory::node_buffer(series->w2)); }

bool function_value_q(uint32_t t) {
  return t == T_FUNCTION || t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_ROUTINE;
}

bool spread_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH ||
         t == T_GET_PATH || t == T_HASH || t == T_MAP;
}

bool path_q(uint32_t t) {
  return t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH;
}

bool any_word_q(uint32_t t) { return t >= T_WORD && t <= T_ISSUE; }

bool set_target_word_q(uint32_t t) {
  return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD;
}

// Literals that evaluate to themselves. One that no operator follows (no word, or a word
// holding no op! as read then) is what eval_one would push as it is, and so are the plain value of a word and a
// word/integer pick of a block (interp::quick_pick); unless a trace watches, the short
// paths are off, or its record or cell would not fit (it would report the overflow there).
bool self_literal_q(uint32_t t) {
  switch (t) {
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_BINARY:
    case T_INTEGER: case T_FLOAT: case T_CHAR: case T_BLOCK: case T_PAIR: case T_TUPLE:
    case T_MONEY: case T_PERCENT: case T_TIME: case T_DATE:
      return true;
    default:
      return false;
  }
}

// Values a word gives as they are when evaluated (not unset, nothing callable).
bool plain_value_q(uint32_t t) {
  return t != T_UNSET && t != T_NATIVE && t != T_ACTION && t != T_FUNCTION && t != T_ROUTINE &&
         t != T_OP;
}

// A word after a value that holds no op! now, so it takes nothing from its left: the
// evaluation's infix step would stop there too. False when it cannot tell without a call.
inline bool not_op_q(const Cell* w) {
  const Cell* slot = interp::quick_value(w);
  return slot && cell::type(slot) != T_OP;
}

// Clears the value's new-line flag and adds it (not in the block's own buffer) at the
// block's tail: written in place while the buffer has room, as block::append_copy writes
// it. The cell is moved as two words, the flag cleared in a register: a cell changed in
// part and then read whole would make the load wait for the partial store.
// b is the block's buffer, read since the last move.
inline void put_last(Cell* block, SeriesBuffer* b, Cell* value) {
  uint64_t lo, hi;
  std::memcpy(&lo, value, 8);
  std::memcpy(&hi, reinterpret_cast<const uint8_t*>(value) + 8, 8);
  lo &= ~uint64_t(hdr::NEW_LINE);  // the header is the first word's low half
  std::memcpy(value, &lo, 8);
  if (b->tail + sizeof(Cell) > uint32_t(b->capacity)) [[unlikely]] {
    block::append_copy(block, value);
    return;
  }
  uint8_t* at = memory::tail(b);
  std::memcpy(at, &lo, 8);
  std::memcpy(at + 8, &hi, 8);
  b->tail += sizeof(Cell);
  memory::touch(b);
}

// Evaluates one expression of the block in the stack cell `code` at pos into the current
// frame's result slot; the top is left where it was. Returns the next position.
uint32_t eval_one(Cell* code, uint32_t pos) {
  Cell* keep_top = stack::state().top;
  pos = interp::eval_next(code->w2, pos, units_of(code), false);
  stack::state().top = keep_top;
  return pos;
}

// A one-value expression (word, path, paren, any other value) into the result slot.
void eval_value(const Cell* value) {
  Cell* code = block::push_empty(1);
  block::append_copy(code, value);
  eval_one(code, 0);
  stack::trim_to_result();
}

// Adds a value to `out`: appended (out was at its tail when the walk began), else
// inserted at its position, which moves past the new value.
void add_to(Cell* out, const Cell* value, bool append) {
  if (append) block::append_copy(out, value);
  else block::insert_cell(out, value, true, false);
}

// Adds the values of the finished block `done` (a stack cell) to `out` one by one. /into
// builds its values apart first: a series that is read while it is filled would grow
// without end.
void add_all(Cell* out, const Cell* done, bool append) {
  for (uint32_t k = done->w1; k < units_of(done); ++k) {
    Cell* e = stack::push_copy(block::cell_at_index(done, int32_t(k)));
    add_to(out, e, append);
    stack::drop_cells(1);
  }
}

void assign(const Cell* word, const Cell* value) {
  Cell w = *word, v = *value;
  gc::Root keep_w(&w), keep_v(&v);
  word::assign_value(&w, &v);
}

// The context a bind or in target names: a word's, an object's or a function's.
Node context_of(const Cell* target) {
  uint32_t t = cell::type(target);
  if (any_word_q(t)) {
    if (!target->w1) error::raise(err::script::not_defined, target);
    return target->w1;
  }
  if (t == T_OBJECT || t == T_ERROR || t == T_PORT || t == T_FUNCTION || t == T_ROUTINE)
    return target->w1;
  error::raise(err::internal::not_done);  // no context of its own
}

// compose's walk: the values of src (a stack cell) added to out (a stack cell).
void compose_into(Cell* src, Cell* out, bool deep, bool only, bool append) {
  for (uint32_t i = src->w1; i < units_of(src); ++i) {
    Cell* v = stack::push_copy(block::cell_at_index(src, int32_t(i)));
    uint32_t t = cell::type(v);
    if (t == T_PAREN) {
      if (block::count_from_head(v) > 0) {
        stack::push_interp_native_frame(&interp::words.anon);
        cell::set_unset(stack::reserve_cell());
        interp::eval_block(v, true);
        Cell* r = stack::state().base;
        stack::pop_frame();  // the value stays in r, the newest cell
        uint32_t rt = cell::type(r);
        if (rt == T_UNSET) {
        } else if (rt == T_BLOCK && !only) {
          add_all(out, r, append);
        } else {
          add_to(out, r, append);
        }
      }
    } else if (t == T_BLOCK && deep) {
      Cell* inner = block::push_empty(block::count_from_head(v) > 0 ? block::count_from_head(v) : 1);
      compose_into(v, inner, deep, only, true);
      add_to(out, inner, append);
    } else {
      add_to(out, v, append);
    }
    stack::state().top = v;
  }
}

Cell* value_slot_or_null(const Cell* word) {
  if (!word->w1) return nullptr;
  return word::value_slot(word);
}

}  // namespace

void set_words_block(const Cell* words, const Cell* value, bool any_, bool only, bool some) {
  bool spread = !only && spread_q(cell::type(value));
  int32_t n = int32_t(units_of(words));
  int32_t first = int32_t(words->w1);
  auto value_for = [&](int32_t i) {
    if (!spread) return *value;
    uint32_t k = value->w1 + uint32_t(i - first);
    return k < units_of(value) ? *block::cell_at_index(value, int32_t(k)) : Cell{T_NONE, 0, 0, 0};
  };
  for (int32_t i = first; i < n; ++i) {
    Cell w = *block::cell_at_index(words, i);
    if (!set_target_word_q(cell::type(&w))) error::raise(err::script::invalid_arg, &w);
    Cell v = value_for(i);
    if (!any_ && cell::type(&v) == T_UNSET) error::raise(err::script::need_value, &w);
  }
  for (int32_t i = first; i < n; ++i) {
    Cell w = *block::cell_at_index(words, i);
    Cell v = value_for(i);
    if (some && cell::type(&v) == T_NONE) continue;
    assign(&w, &v);
  }
}

namespace {
void do_value(const int32_t* refs);

// do/expand: the boot library's preprocessor/expand over the series in the stack cell, with
// no job, in a function frame of its own. It works in place, so the cell stays as it is.
void expand_directives(const Cell* code) {
  stack::TopGuard top;
  Cell owner_word = word::intern_global("preprocessor");
  Cell* owner = stack::push_copy(word::value_slot(&owner_word));
  if (cell::type(owner) != T_OBJECT) error::raise(err::internal::not_done);
  Cell name = word::intern_global("expand");
  name.header = T_WORD;
  gc::Root keep_name(&name);
  Cell* fn = stack::push_copy(object::value_of_word(owner, &name));
  if (cell::type(fn) != T_FUNCTION) error::raise(err::internal::not_done);
  int32_t nargs, rest;
  function::frame_shape(fn, &nargs, &rest);
  stack::push_function_frame(&name, fn->w1);
  stack::set_interpreted_flag();
  for (int32_t i = 0; i < nargs; ++i) {
    if (i == 0) stack::push_copy(code);
    else cell::set_none(stack::reserve_cell());
  }
  function::push_defaults(rest);
  interp::call_function_body(fn, owner->w1, &name, 0);
  stack::pop_frame();
}
}  // namespace

void do_(int32_t, const int32_t* refs) {
  if (refs[3] < 0) {
    do_value(refs);
    return;
  }
  // do/trace: the caller's frame is the target of return and exit (an interpreted one
  // already has its body's); the trace, when this call starts one, ends on every way out.
  stack::Frame* below = stack::frame_count() >= 2 ? stack::top_frame() - 1 : nullptr;
  stack::Frame* claimed =
      below && !(below->header & stack::fflag::INTERPRETED) ? stack::claim_body_flag() : nullptr;
  bool started = false;
  try {
    started = trace::start(arg(refs[3]));
    trace::init();
    do_value(refs);
  } catch (const Unwind&) {
    stack::clear_body_flag(claimed);
    if (started) trace::finish(true);
    throw;
  }
  stack::clear_body_flag(claimed);
  if (started) {
    Cell result = *frame_base();
    gc::Root keep(&result);
    trace::finish(false);
    stack::set_only_result(&result);
  }
}

namespace {
// A script file or URL: the boot library's `do-file` with the value, no trace callback and
// the /args value (none without it); its value is the result.
void do_file(const Cell* script, const Cell* args) {
  Cell name = word::intern_global("do-file");
  gc::Root keep_name(&name);
  Cell fn = *word::value_slot(&name);
  if (cell::type(&fn) != T_FUNCTION) error::raise(err::internal::not_done);
  Cell none{T_NONE, 0, 0, 0};
  const Cell* values[] = {script, &none, args ? args : &none};
  Cell answer = *function::call_with_values(&fn, &name, values, 3);
  stack::set_only_result(&answer);
}

void do_value(const int32_t* refs) {
  Cell* value = arg(0);
  uint32_t t = cell::type(value);
  if (t == T_STRING) {
    Cell* loaded = stack::reserve_cell();
    cell::set_none(loaded);
    lexer::transcode_string(loaded, value, -1, false, true, true, false, nullptr, nullptr,
                            nullptr);
    launcher::bind_global(loaded);
    *value = *loaded;
    stack::state().top = loaded;
    t = cell::type(value);
  }
  switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: {
      if (refs[0] >= 0) expand_directives(value);
      if (value->w1 > units_of(value)) value->w1 = units_of(value);
      if (refs[2] < 0) {
        interp::eval_block(value, true);
        stack::trim_to_result();
        return;
      }
      Cell* position = arg(refs[2]);
      Cell* code = stack::push_copy(value);
      uint32_t next = code->w1;
      if (next < units_of(code)) {
        next = eval_one(code, next);
      } else {
        cell::set_unset(frame_base());
      }
      Cell* at = stack::push_copy(code);
      at->w1 = next;
      assign(position, at);
      stack::trim_to_result();
      return;
    }
    case T_FILE: case T_URL:
      do_file(value, refs[1] >= 0 ? arg(refs[1]) : nullptr);
      return;
    case T_ERROR: {
      Cell e = *value;
      stack::propagate_error(&e);
    }
    default:
      eval_value(value);
  }
}
}  // namespace

void get(int32_t, const int32_t* refs) {
  Cell* target = arg(0);
  uint32_t t = cell::type(target);
  if (path_q(t)) {
    Cell* code = block::push_empty(1);
    interp::eval_path(target, code->w2, 0, 0, false, true, false, refs[1] >= 0 ? 1 : 0);
    stack::trim_to_result();
    return;
  }
  if (t == T_OBJECT) {
    auto reflect = datatype::slot<datatype::action::REFLECT>(T_OBJECT);
    if (!reflect) error::raise(err::internal::not_done);
    Cell values = *reflect(target, symbol::intern_c_text("values"));
    stack::set_only_result(&values);
    return;
  }
  Cell* slot = value_slot_or_null(target);
  if (!slot) error::raise(err::script::not_defined, target);
  Cell v = *slot;
  if (cell::type(&v) == T_UNSET && refs[0] < 0) error::raise(err::script::no_value, target);
  stack::set_only_result(&v);
}

void set(int32_t, const int32_t* refs) {
  bool any_ = refs[0] >= 0, only = refs[2] >= 0, some = refs[3] >= 0;
  Cell* target = arg(0);
  Cell* value = arg(1);
  uint32_t t = cell::type(target);
  if (!any_ && cell::type(value) == T_UNSET) error::raise(err::script::need_value, target);
  if (path_q(t)) {
    stack::push_native_frame(&interp::words.set_path);
    stack::push_copy(value);
    Cell* code = block::push_empty(1);
    interp::eval_path(target, code->w2, 0, 0, true, false, true, refs[1] >= 0 ? 1 : 0);
    Cell r = *stack::last_pushed();
    stack::pop_frame();
    stack::set_only_result(&r);
    return;
  }
  if (t == T_OBJECT) {
    object::set_fields(target, value, any_, only, some);
    Cell v = *value;
    stack::set_only_result(&v);
    return;
  }
  if (t == T_BLOCK) {
    stack::push_native_frame(&interp::words.anon);
    set_words_block(target, value, any_, only, some);
    stack::pop_frame();
  } else {
    assign(target, value);
  }
  Cell v = *value;
  stack::set_only_result(&v);
}

void type_q(int32_t, const int32_t* refs) {
  uint32_t t = cell::type(arg(0));
  if (refs[0] < 0) {
    Cell r{T_DATATYPE, t, 0, 0};
    stack::set_only_result(&r);
    return;
  }
  // The word of each type, kept while no node was released or renamed (a node kept in a
  // table outside the heap is good only that long): looking it up is most of the cost.
  struct Known {
    uint64_t renames = ~uint64_t(0);
    Cell word{};
  };
  static Known known[datatype::TABLE_TYPES];
  Known& k = known[t];
  if (k.renames != memory::state().renames) {
    Cell w = word::intern_global(datatype::type_table[t].name);
    k.word = w;
    k.renames = memory::state().renames;  // read after the look-up, which may collect
  }
  Cell r = k.word;
  stack::set_only_result(&r);
}

void reduce(int32_t, const int32_t* refs) {
  Cell* value = arg(0);
  Cell* out = refs[0] >= 0 ? arg(refs[0]) : nullptr;
  uint32_t t = cell::type(value);
  if (function_value_q(t)) {
    stack::trim_to_result();
    return;
  }
  if (t != T_BLOCK) {
    eval_value(value);
    if (out) {
      add_to(out, frame_base(), block::head_at_tail(out));
      owner::notify_change(out, "append", nullptr, int32_t(out->w1), 1);
      Cell r = *out;
      stack::set_only_result(&r);
    }
    return;
  }
  Cell* code = stack::push_copy(value);
  int32_t n = block::count_from_head(code);
  Cell* values = block::push_empty(n > 0 ? n : 1);
  stack::push_native_frame(&interp::words.body);
  cell::set_unset(stack::reserve_cell());
  int32_t added = 0;
  // Both buffers are read again only after a move (an evaluation can add to the code block
  // within its room, so its count is read each time).
  uint64_t seen = ~uint64_t(0);
  SeriesBuffer* cb = nullptr;
  SeriesBuffer* vb = nullptr;
  for (uint32_t pos = code->w1;; ++added) {
    if (seen != memory::state().cell_moves) {
      seen = memory::state().cell_moves;
      cb = memory::node_buffer(code->w2);
      vb = memory::node_buffer(values->w2);
    }
    uint32_t end = memory::units(cb);
    if (pos >= end) break;
    const Cell* c = memory::head_cells(cb) + pos;
    const stack::State& st = stack::state();
    const Cell* as_is = nullptr;
    // Nothing after it can take it: no word follows, or one that holds no op! (asked only of
    // a value that would be taken).
    bool alone = pos + 1 >= end || cell::type(c + 1) != T_WORD;
    if (!interp::switches.trace_enabled && !interp::switches.no_fast_paths &&
        st.frames_top < st.frames_limit && st.top + 1 < st.args_limit) {
      uint32_t t = cell::type(c);
      if (self_literal_q(t)) {
        if (alone || not_op_q(c + 1)) as_is = c;
      } else if (t == T_WORD) {
        const Cell* slot = interp::quick_value(c);
        if (slot && plain_value_q(cell::type(slot)) && (alone || not_op_q(c + 1))) as_is = slot;
      } else if (t == T_PATH && (alone || not_op_q(c + 1)) &&
                 interp::quick_pick(c, frame_base())) {
        as_is = frame_base();  // r/1: the block's pick, as the path's evaluation gives it
      }
    }
    if (as_is) {
      *frame_base() = *as_is;
      ++pos;
    } else {
      pos = eval_one(code, pos);
      if (seen != memory::state().cell_moves) vb = memory::node_buffer(values->w2);
    }
    put_last(values, vb, frame_base());
  }
  stack::pop_frame();
  if (out) {
    int32_t start = int32_t(out->w1);
    add_all(out, values, block::head_at_tail(out));
    if (added > 0) owner::notify_change(out, "append", nullptr, start, added);
  } else {
    out = values;
  }
  Cell r = *out;
  stack::set_only_result(&r);
}

void compose(int32_t, const int32_t* refs) {
  Cell* value = arg(0);
  if (cell::type(value) != T_BLOCK) {
    Cell want{T_DATATYPE, T_BLOCK, 0, 0}, got{T_DATATYPE, cell::type(value), 0, 0};
    error::raise(err::script::expect_val, &want, &got);
  }
  bool deep = refs[0] >= 0, only = refs[1] >= 0;
  Cell* out = refs[2] >= 0 ? arg(refs[2]) : nullptr;
  if (!out) {
    int32_t n = block::count_from_head(value);
    out = block::push_empty(n > 0 ? n : 1);
  }
  Cell* src = stack::push_copy(value);
  if (refs[2] >= 0) {
    int32_t n = block::count_from_head(value);
    Cell* values = block::push_empty(n > 0 ? n : 1);
    compose_into(src, values, deep, only, true);
    add_all(out, values, block::head_at_tail(out));
  } else {
    compose_into(src, out, deep, only, true);
  }
  Cell r = *out;
  stack::set_only_result(&r);
}

void bind(int32_t, const int32_t* refs) {
  Cell* target = arg(0);
  Node ctx = context_of(arg(1));
  bool object = cell::type(arg(1)) == T_OBJECT;
  if (cell::type(target) == T_BLOCK) {
    if (refs[0] >= 0) {
      Cell* copy = block::clone(target, true, true);
      *target = *copy;
      ctx = context_of(arg(1));  // the copy may have moved nodes
    }
    context::bind_block(target, ctx, object);
  } else {
    context::bind_one(ctx, target);
  }
  stack::trim_to_result();
}

void in(int32_t, const int32_t*) {
  const Cell* target = arg(0);
  uint32_t t = cell::type(target);
  uint32_t wrapped = t == T_OP ? (target->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT : t;
  // A native's, an action's or an op's of them: the word context of its spec.
  bool builtin = wrapped == T_NATIVE || wrapped == T_ACTION;
  Node ctx = builtin ? native::spec_context(target) : context_of(target);
  Cell w = *arg(1);
  if (!ctx || context::bind_one(ctx, &w) < 0) {
    stack::set_only_result(cell::none_value());
    return;
  }
  if (cell::type(&w) == T_REFINEMENT) w.header = (w.header & ~0xFFu) | T_WORD;
  stack::set_only_result(&w);
}

void construct(int32_t, const int32_t* refs) {
  const Cell* proto = refs[0] >= 0 ? arg(refs[0]) : nullptr;
  Cell made = *object::make_from_proto(arg(0), proto, refs[1] >= 0);
  stack::set_only_result(&made);
}

void value_q(int32_t, const int32_t*) {
  Cell* v = arg(0);
  bool set_q;
  if (set_target_word_q(cell::type(v))) {
    Cell* slot = value_slot_or_null(v);
    set_q = slot && cell::type(slot) != T_UNSET;
  } else {
    set_q = cell::type(v) != T_UNSET;
  }
  Cell r{T_LOGIC, set_q ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

namespace {

// extend of an object: each key (any word) of the spec's key/value pairs becomes a field
// (added when missing) holding the value that follows it, unevaluated; a key at the tail
// gets none. Fields are found without regard to case, as every object field is. Keys are
// checked before the first field is added.
void extend_object(Cell* obj, const Cell* spec) {
  int32_t head = int32_t(spec->w1), tail = int32_t(units_of(spec));
  for (int32_t i = head; i < tail; i += 2) {
    const Cell* key = block::cell_at_index(spec, i);
    if (!any_word_q(cell::type(key)) || cell::type(key) == T_ISSUE)
      error::raise(err::script::invalid_arg, key);
  }
  for (int32_t i = head; i < tail; i += 2) {
    Cell* key = stack::push_copy(block::cell_at_index(spec, i));
    key->header = T_WORD;
    Cell* value = stack::reserve_cell();
    if (i + 1 < tail) *value = *block::cell_at_index(spec, i + 1);
    else cell::set_none(value);
    context::set_or_add(obj->w1, key, value);
    stack::drop_cells(2);
  }
}

}  // namespace

void extend(int32_t, const int32_t* refs) {
  Cell* obj = arg(0);
  Cell* spec = arg(1);
  uint32_t t = cell::type(obj);
  if (t == T_MAP) {
    map::extend(obj, spec, refs[0] >= 0);
  } else if (t == T_OBJECT && (cell::type(spec) == T_BLOCK || cell::type(spec) == T_HASH)) {
    extend_object(obj, spec);
  } else {
    error::raise(err::internal::not_done);  // an object extended by a map!
  }
  Cell r = *obj;
  stack::set_only_result(&r);
}

void unset(int32_t, const int32_t*) {
  Cell* target = arg(0);
  if (cell::type(target) == T_BLOCK) {
    for (uint32_t i = target->w1; i < units_of(target); ++i) {
      Cell w = *block::cell_at_index(target, int32_t(i));
      if (cell::type(&w) == T_WORD) assign(&w, cell::unset_value());
    }
  } else {
    assign(target, cell::unset_value());
  }
  stack::set_only_result(cell::unset_value());
}

void context_q(int32_t, const int32_t*) {
  Cell* w = arg(0);
  if (!w->w1) error::raise(err::script::not_defined, w);
  Cell r = *context::self_cell(w->w1);
  stack::set_only_result(&r);
}

void apply(int32_t, const int32_t* refs) {
  Cell* target = arg(0);
  Cell* args = arg(1);
  uint32_t t = cell::type(target);
  const Cell* path = nullptr;
  uint32_t path_index = 0;
  Cell name = interp::words.applied;
  Cell* fn = target;
  if (t == T_WORD || t == T_PATH) {
    if (t == T_PATH) {
      path = target;
      path_index = target->w1 + 1;
      name = *block::cell_at_index(target, int32_t(target->w1));
    } else {
      name = *target;
    }
    Cell* slot = cell::type(&name) == T_WORD ? value_slot_or_null(&name) : nullptr;
    if (!slot || !function_value_q(cell::type(slot))) error::raise(err::script::invalid_arg, target);
    fn = stack::push_copy(slot);
  }
  if (cell::type(fn) == T_OP) {
    // Called as the function it wraps.
    if (fn == target) fn = stack::push_copy(target);
    fn->header = (fn->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  }
  uint32_t mode = (refs[0] >= 0 ? 1 : 2) + (refs[1] >= 0 ? 4 : 0);
  stack::set_interpreted_flag();
  Cell* code = stack::push_copy(args);
  gc::Root keep_name(&name);
  interp::call_value(fn, code->w2, code->w1, units_of(code), false, path, path_index, &name,
                     nullptr, mode, false);
  stack::trim_to_result();
}


}  // namespace kel::natives
