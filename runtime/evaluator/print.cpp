// print and prin: a block is reduced into the shared print buffer (head-index discipline,
// restored on every exit), its values formed with single spaces, and the text written.
#include <cstdint>

#include "runtime/cell_api.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/function.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/natives.h"
#include "runtime/hooks.h"
#include "runtime/output.h"
#include "runtime/stack.h"

namespace kel::natives {

// The last-line-feed flag: set by print, cleared by prin.
int32_t last_line_feed = 0;

namespace {

// Reduces the block's expressions, appending each value to the print buffer.
void reduce_into_buffer(const Cell* block) {
  Cell* src = stack::push_copy(block);
  uint32_t pos = src->w1;
  for (;;) {
    uint32_t end = blk::count(src->w2);
    if (pos >= end) break;
    pos = interp::eval_next(src->w2, pos, end, true);
    Cell* dst = runtime::block_append_cell(print_buffer());
    *dst = *stack::last_pushed();  // read after the append: it can move node handles
    dst->header &= ~hdr::NEW_LINE;
    stack::drop_cells(1);
  }
  stack::drop_cells(1);
}

// Forms the buffer's values from `from` to its tail into a new string on the stack, with a
// single space between values unless the text so far ends in a tab, LF or CR.
Cell* form_values(uint32_t from) {
  Cell* out = stack::reserve_cell();
  *out = Cell{T_NONE, 0, 0, 0};
  string::init_cell(out, 16);
  for (uint32_t i = from; i < blk::count(print_buffer()->w2); ++i) {
    if (i > from) {
      int32_t n = string::count_from_head(out);
      int32_t last = n > 0 ? string::codepoint_at(out, n - 1) : -1;
      if (last != '\t' && last != '\n' && last != '\r') string::add_codepoint(out, ' ');
    }
    Cell* v = stack::push_copy(blk::cells(print_buffer()->w2) + i);
    actions::direct_form(v, out, nullptr, 0x7FFFFFFF);
    stack::drop_cells(1);
  }
  return out;
}

void write_string(Cell* s, bool newline) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t unit = memory::unit(b);
  uint32_t n = uint32_t(string::count_from_head(s));
  if (n == 0 && !newline) return;
  tui::PrintScope around;
  platform::write_text(string::head_pointer(s), size_t(n) * unit, int(unit), newline);
}

// Truncates the buffer at its current head and restores the saved head on every way out.
struct BufferGuard {
  uint32_t saved_head;
  explicit BufferGuard(uint32_t head) : saved_head(head) {}
  ~BufferGuard() {
    Cell* pb = print_buffer();
    SeriesBuffer* b = memory::node_buffer(pb->w2);
    uint32_t keep = pb->w1;
    if (memory::units(b) > keep) b->tail = b->head + keep * 16;
    pb->w1 = saved_head;
  }
};

void print_value(bool newline) {
  Cell* value = stack::state().base;
  if (cell::type(value) == T_BLOCK) {
    Cell* pb = print_buffer();
    uint32_t start = blk::count(pb->w2);
    BufferGuard guard(pb->w1);
    pb->w1 = start;
    reduce_into_buffer(value);
    Cell* text = form_values(start);
    write_string(text, newline);
  } else if (cell::type(value) == T_STRING) {
    uint32_t n = blk::count(value->w2);  // units count works through the buffer's unit
    SeriesBuffer* b = memory::node_buffer(value->w2);
    n = memory::units(b);
    if (value->w1 > n) value->w1 = n;
    write_string(value, newline);
  } else {
    Cell* text = actions::form(value, nullptr);
    write_string(text, newline);
  }
  last_line_feed = newline ? 1 : 0;
  cell::set_unset(stack::state().base);
  stack::state().top = stack::state().base + 1;
}

}  // namespace

void print(int32_t, const int32_t*) { print_value(true); }
void prin(int32_t, const int32_t*) { print_value(false); }

}  // namespace kel::natives
