// block! mold and form: the element walk shared by block!, paren!, hash! and the path
// family's contents, with its character budget, line layout and cycle placeholders.
#include "runtime/datatypes/block_mold.h"

#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kel::block {

namespace {

inline bool limited(const Cell* part) { return part != nullptr; }

// Appends level × 4 spaces; returns the characters written.
int32_t add_indent(Cell* buffer, int32_t level) {
  static const char spaces[] = "                                ";  // 32
  int32_t left = level * 4;
  while (left > 0) {
    int32_t chunk = left > 32 ? 32 : left;
    string::add_c_text(buffer, spaces + (32 - chunk));
    left -= chunk;
  }
  return level * 4;
}

int32_t last_char(const Cell* buffer) {
  SeriesBuffer* b = memory::node_buffer(buffer->w2);
  if (memory::used_bytes(b) == 0) return -1;
  uint32_t u = memory::unit(b);
  return unicode::load_unit(memory::tail(b) - u, u);
}

}  // namespace

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, true)) return budget;
  if (!only) {
    string::add_codepoint(buffer, '[');
    --budget;
  }
  budget = mold_cells(value, buffer, only, all, flat, part, budget, indent);
  if (!only) {
    string::add_codepoint(buffer, ']');
    --budget;
  }
  return budget;
}

int32_t mold_cells(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                   int32_t budget, int32_t indent) {
  Cell blk = *value;
  gc::Root keep(&blk);
  head_cell(&blk);
  bool lines = false;
  {
    cycle::Scope scope(blk.w2);
    int32_t n = count_from_head(&blk);
    for (int32_t i = 0; i < n; ++i) {
      if (limited(part) && budget < 1) return budget;
      Cell c = memory::head_cells(memory::node_buffer(blk.w2))[int32_t(blk.w1) + i];
      gc::Root keep_cell(&c);
      if (!flat && (c.header & hdr::NEW_LINE)) {
        if (i == 0 && !only) {
          ++indent;
          lines = true;
        }
        if (!(i == 0 && only)) {
          string::add_codepoint(buffer, '\n');
          --budget;
        }
        budget -= add_indent(buffer, indent);
      } else if (i > 0) {
        string::add_codepoint(buffer, ' ');
        --budget;
      }
      budget = actions::direct_mold(&c, buffer, false, all, flat, part, budget, indent);
    }
  }
  if (lines) {
    string::add_codepoint(buffer, '\n');
    --budget;
    --indent;
    budget -= add_indent(buffer, indent);
  }
  return budget;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, false)) return budget;
  Cell blk = *value;
  gc::Root keep(&blk);
  head_cell(&blk);
  cycle::Scope scope(blk.w2);
  int32_t n = count_from_head(&blk);
  for (int32_t i = 0; i < n; ++i) {
    if (limited(part) && budget < 1) break;
    Cell c = memory::head_cells(memory::node_buffer(blk.w2))[int32_t(blk.w1) + i];
    gc::Root keep_cell(&c);
    budget = actions::direct_form(&c, buffer, part, budget);
    if (i + 1 < n) {
      int32_t last = last_char(buffer);
      if (last != '\t' && last != '\n' && last != '\r') {
        string::add_codepoint(buffer, ' ');
        --budget;
      }
    }
  }
  return budget;
}

}  // namespace kel::block
