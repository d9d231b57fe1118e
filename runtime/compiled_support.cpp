// Runtime support for compiled code: stores of the last pushed value, value slots, calls by
// table number, path steps, switch selection, first-value loading and small helpers.
#include "runtime/compiled_support.h"

#include <cmath>
#include <cstring>

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
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "runtime/hash_mem.h"
#include "runtime/stack.h"

namespace kel::runtime {

using gc::Kept;

namespace {

Cell* last() { return stack::last_pushed(); }
void clear_frame() { stack::state().top = stack::state().base; }

Cell word_at_position(Node ctx, int32_t n) {
  Cell w = *context::word_at(ctx, n);
  return Cell{T_WORD, ctx, w.w2, uint32_t(n)};
}

Cell* slot_of(Node ctx, int32_t n) {
  Cell* x = context::cell_of(ctx);
  if (x->w2 == 0) {
    Cell w = word_at_position(ctx, n);
    error::raise(err::script::not_defined, &w);
  }
  if (x->header & hdr::CONTEXT_ON_STACK) return stack::at_index(x->w2 - 1 + uint32_t(n));
  return reinterpret_cast<Cell*>(hash::mem::data(x->w2)) + n;
}

bool true_q(const Cell* v) {
  uint32_t t = cell::type(v);
  return !(t == T_NONE || (t == T_LOGIC && v->w1 == 0));
}

}  // namespace

void set_word_from_last(Cell* word) {
  Kept v(last());
  if (cell::type(&v.c) == T_UNSET) error::raise(err::script::need_value, word);
  word::assign_value(word, &v.c);
}

void set_word_from_last_and_clear(Cell* word) {
  set_word_from_last(word);
  clear_frame();
}

void set_context_slot_from_last(Node ctx, int32_t n) {
  Cell v = *last();
  if (cell::type(&v) == T_UNSET) {
    Cell w = word_at_position(ctx, n);
    error::raise(err::script::need_value, &w);
  }
  *slot_of(ctx, n) = v;
}

void set_context_slot_from_last_and_clear(Node ctx, int32_t n) {
  set_context_slot_from_last(ctx, n);
  clear_frame();
}

void set_object_field_from_last(Node ctx, int32_t n) {
  if (context::kind_of(ctx) == context::KIND_OBJECT)
    context::word_at(ctx, n)->header |= hdr::WORD_ASSIGNED;
  Cell v = *last();
  Node values = context::values_node(ctx);
  reinterpret_cast<Cell*>(hash::mem::data(values))[n] = v;
  clear_frame();
}

Cell* get_word_checked(const Cell* word) {
  Cell* slot = word::value_slot(word);
  if (cell::type(slot) == T_UNSET) error::raise(err::script::no_value, word);
  return slot;
}

Cell* context_value_slot(Node ctx, int32_t n) { return slot_of(ctx, n); }

void set_refinement_from_value(const Cell* value, int32_t n, int32_t count) {
  Cell* base = stack::state().base;
  if (true_q(value)) {
    base[n].w1 = 1;
    return;
  }
  for (int32_t i = 1; i <= count; ++i) base[n + i].header = T_NONE;
}

void call_builtin_by_number(int32_t number, bool native, int32_t refinement_count,
                            const RefinementGroup* groups, int32_t group_count) {
  int32_t refs[64];
  int32_t r = refinement_count < 64 ? refinement_count : 64;
  for (int32_t i = 0; i < r; ++i) refs[i] = -1;
  Cell* base = stack::state().base;
  for (int32_t g = 0; g < group_count; ++g) {
    const RefinementGroup& grp = groups[g];
    if (true_q(grp.value)) {
      if (grp.position >= 1 && grp.position <= r) refs[grp.position - 1] = grp.slot;
    } else {
      for (int32_t k = 0; k < grp.count; ++k) base[grp.slot + k].header = T_NONE;
    }
  }
  if (native) {
    if (!natives::has_code_q(number)) error::raise(err::internal::not_done);
    natives::table[number - 1](1, refs);
  } else {
    natives::call_builtin_by_number(1, number, refs);
  }
}

void eval_path_steps(bool set, const Cell* path, const Cell* items, int32_t count) {
  Kept p(path);
  Cell* base = stack::state().base;
  Cell* mark = stack::state().top;
  Cell* current = stack::push_copy(items);
  Cell* container = stack::reserve_cell();
  *container = Cell{T_NONE, 0, 0, 0};
  if (cell::type(current) == T_WORD) {
    Cell head = *current;
    *current = *word::value_slot(&head);
    if (head.w1 && head.w1 != context::global) {
      Cell self = *context::self_cell(head.w1);
      if (cell::type(&self) != T_OBJECT) *container = self;
    }
  }
  Cell* previous = stack::push_copy(items);
  for (int32_t i = 1; i < count; ++i) {
    bool last_step = i + 1 == count;
    Cell* item = stack::push_copy(items + i);
    bool notice = false;
    if (set && last_step && count >= 3) {
      uint32_t ct = cell::type(container);
      if (ct == T_OBJECT && container->w3) {
        if (cell::type(previous) != T_WORD) {
          Cell* w = object::word_of_value_slot(container, current);
          if (w) {
            *previous = Cell{T_WORD, container->w1, w->w2, 0};
            notice = true;
          }
        } else {
          notice = true;
        }
      } else if (ct == T_BLOCK || ct == T_PAREN || ct == T_HASH || (ct >= T_PATH && ct <= T_GET_PATH)) {
        notice = true;
      }
    }
    uint32_t t = cell::type(current);
    auto fn = t < datatype::TABLE_TYPES ? datatype::slot<datatype::action::EVAL_PATH>(t) : nullptr;
    if (!fn) error::raise(err::script::invalid_path, &p.c, item);
    Cell* r = fn(current, item, (set && last_step) ? base : nullptr, &p.c, container, previous,
                 i - 1, false, false, last_step, notice);
    Cell result = *r;
    *container = *current;
    *current = result;
    *previous = *item;
    stack::state().top = previous + 1;
  }
  Cell final = *current;
  stack::state().top = mark;
  *stack::state().base = final;
}

Cell* switch_select(bool push, bool block) {
  Cell* base = stack::state().base;
  Cell value = base[0];
  Cell cases = base[1];
  Kept kv(&value), kc(&cases);
  Cell found{T_NONE, 0, 0, 0};
  bool matched = false;
  if (cell::type(&value) != T_BLOCK) {
    Node b = cases.w2;
    int32_t n = int32_t(blk::count(b));
    int32_t step = push ? 1 : 2;
    for (int32_t i = int32_t(cases.w1); i < n && !matched; i += step) {
      Cell c = blk::cells(kc.c.w2)[i];
      if (cell::type(&c) != cell::type(&kv.c)) continue;
      Kept kcase(&c);
      if (!actions::compare(&kcase.c, &kv.c, 0)) continue;
      matched = true;
      n = int32_t(blk::count(kc.c.w2));
      if (block) {
        for (int32_t j = i + 1; j < n; ++j) {
          Cell x = blk::cells(kc.c.w2)[j];
          if (cell::type(&x) == T_BLOCK) {
            found = x;
            break;
          }
        }
      } else {
        found = i + 1 < n ? blk::cells(kc.c.w2)[i + 1] : c;
      }
    }
  }
  if (push) return stack::push_copy(&found);
  *stack::state().base = found;
  return stack::state().base;
}

Cell* load_first_value(Cell* out, const Cell* string) {
  Kept s(string);
  int32_t consumed = 0;
  // Next-as-block: the first value arrives inside a block, so a block value stays whole.
  lexer::transcode_string(out, &s.c, -1, true, true, true, true, &consumed, nullptr, nullptr);
  int32_t have = int32_t(memory::units(memory::node_buffer(s.c.w2))) - int32_t(s.c.w1);
  // Never the shared none cell: callers write into what they get, so the block cell
  // itself becomes none.
  if (consumed < have) {
    *out = Cell{T_NONE, 0, 0, 0};
    return out;
  }
  if (!block::any_block_q(cell::type(out)) || block::count_from_head(out) <= 0) {
    out->header = T_UNSET;
    return out;
  }
  return block::head_cell(out);
}

Cell* load_first_value_to_result(const Cell* string) {
  return load_first_value(stack::state().base, string);
}

int32_t get_integer_arg(const Cell* value) {
  if (cell::type(value) == T_INTEGER) return cell::get_int(value);
  double d = cell::get_double(value);
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
    error::raise(err::script::out_of_range, value);
  return int32_t(std::trunc(d));
}

int32_t append_indent(Cell* string, int32_t n, int32_t budget) {
  for (int32_t i = 0; i < n; ++i) string::add_c_text(string, "    ");
  return budget - 4 * (n > 0 ? n : 0);
}

uint8_t* repeat_bytes(uint8_t* buffer, uint32_t unit, uint32_t count) {
  size_t total = size_t(unit) * count;
  size_t filled = count ? unit : 0;
  while (filled * 2 <= total) {
    std::memcpy(buffer + filled, buffer, filled);
    filled *= 2;
  }
  if (filled < total) std::memcpy(buffer + filled, buffer, total - filled);
  return buffer + total;
}

}  // namespace kel::runtime
