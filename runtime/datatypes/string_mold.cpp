// string! make, to, form and mold: building any-string values from specs and writing a
// string's text, plain or in its quoted or braced literal form with caret escapes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/compiled_support.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace {

Cell datatype_cell(uint32_t id) { return Cell{T_DATATYPE, id, 0, 0}; }

// Characters from head to head + n of the source as a new series of the source's unit.
Node copy_chars(Cell* source) {
  int32_t n = count_from_head(source);
  uint32_t u = unit_of(source);
  Cell src = *source;
  gc::Root keep(&src);
  Node node = memory::series_new(uint32_t(std::max(n, 1)), u, 0);
  SeriesBuffer* sb = memory::node_buffer(src.w2);
  SeriesBuffer* b = memory::node_buffer(node);
  std::memcpy(memory::head(b), memory::head(sb) + size_t(src.w1) * u, size_t(n) * u);
  b->tail = b->head + uint32_t(n) * u;
  return node;
}

// The /part count: an integer's payload, a float truncated and clamped to 32 bits.
int32_t part_count(const Cell* part) {
  if (cell::type(part) == T_INTEGER) return int32_t(part->w2);
  if (cell::type(part) != T_FLOAT) return -1;
  double d = cell::get_double(part);
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return 0x7FFFFFFF;
  if (d <= 0) return 0;
  return int32_t(d);
}

}  // namespace

bool part_given(const Cell* part) {
  const stack::State& st = stack::state();
  return part && st.base && part > st.base && part < st.top;
}

// ---- form and mold ----

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
  Cell v = *value;
  gc::Root keep(&v);
  int32_t rest = count_from_head(&v);
  int32_t limit = part_given(part) ? std::max(part_count(part), 0) : -1;
  concat_part(out, &v, limit, 0, true, MODE_APPEND);
  return budget - rest;
}

int32_t mold(Cell* value, Cell* out, bool /*only*/, bool all, bool /*flat*/, Cell* part,
             int32_t budget, int32_t /*indent*/) {
  Cell v = *value;
  gc::Root keep(&v);
  int32_t rest = count_from_head(&v);
  int32_t head = int32_t(v.w1);
  int32_t range = part_given(part) ? std::clamp(budget, 0, rest) : rest;
  int32_t end = head + range;

  int32_t lfs = 0, quotes = 0;
  for (int32_t i = head; i < end; ++i) {
    int32_t c = codepoint_at(&v, i);
    if (c == '\n') ++lfs;
    else if (c == '"') ++quotes;
  }
  bool braced = lfs >= 3 || quotes > 0 || rest >= 50;
  add_codepoint(out, braced ? '{' : '"');
  if (!braced) {
    for (int32_t i = head; i < end; ++i) mold_char(out, codepoint_at(&v, i), all);
  } else {
    int32_t depth = 0;
    bool balanced = true;
    for (int32_t i = head; i < end; ++i) {
      int32_t c = codepoint_at(&v, i);
      switch (c) {
        case '{':
          if (balanced && !brace_closes(&v, i, end)) balanced = false;
          if (balanced) {
            ++depth;
          } else {
            add_codepoint(out, '^');
          }
          add_codepoint(out, '{');
          break;
        case '}':
          if (depth > 0) --depth;
          else add_codepoint(out, '^');
          add_codepoint(out, '}');
          break;
        case '"':
          add_codepoint(out, '"');
          break;
        case '^':
          add_codepoint(out, '^');
          add_codepoint(out, '^');
          break;
        default:
          mold_char(out, c, all);
      }
    }
  }
  add_codepoint(out, braced ? '}' : '"');
  return budget - range - 2;
}

// ---- make and to ----

Cell* make(Cell* prototype, Cell* spec, uint32_t type) {
  uint32_t st = cell::type(spec);
  if (type == T_BINARY) {
    if (st == T_MONEY) {
      Cell dt = datatype_cell(T_BINARY);
      error::raise(err::script::bad_make_arg, &dt, spec);
    }
    if (st != T_INTEGER && st != T_FLOAT) return binary::to(prototype, spec, type);
  }
  if (st == T_INTEGER || st == T_FLOAT) {
    int32_t n = runtime::get_integer_arg(spec);
    if (n < 0) error::raise(err::script::out_of_range, spec);
    Node node = memory::series_new_bytes(uint32_t(n));
    *prototype = Cell{type, 0, node, 0};
    return prototype;
  }
  return to(prototype, spec, type);
}

Cell* to(Cell* prototype, Cell* spec, uint32_t type) {
  Cell s = *spec;
  gc::Root keep(&s);
  uint32_t st = cell::type(&s);
  Cell result{T_NONE, 0, 0, 0};
  gc::Root keep_result(&result);
  if (st == T_NONE) {
    Cell dt = datatype_cell(T_STRING);
    error::raise(err::script::bad_to_arg, &dt, &s);
  } else if (st == T_BLOCK || st == T_PAREN || st == T_HASH) {
    // Each value formed, without separators, as append does.
    init_cell(&result, 16);
    for (uint32_t i = s.w1;; ++i) {
      SeriesBuffer* b = memory::node_buffer(s.w2);  // re-read: forming allocates
      if (i >= memory::units(b)) break;
      Cell item = memory::head_cells(b)[i];
      gc::Root keep_item(&item);
      actions::direct_form(&item, &result, nullptr, 0x7FFFFFFF);
    }
  } else if (any_string_q(st)) {
    result = Cell{T_STRING, 0, copy_chars(&s), 0};
  } else if (st == T_REFINEMENT) {
    // string! takes the name alone; the other targets keep the slash.
    init_cell(&result, 16);
    if (type == T_STRING) actions::direct_form(&s, &result, nullptr, 0x7FFFFFFF);
    else actions::direct_mold(&s, &result, false, false, false, nullptr, 0x7FFFFFFF, 0);
  } else if (st == T_BINARY) {
    SeriesBuffer* b = memory::node_buffer(s.w2);
    int32_t n = int32_t(memory::used_bytes(b));
    int32_t h = std::clamp(int32_t(s.w1), 0, n);
    std::vector<uint8_t> bytes(memory::head(b) + h, memory::head(b) + n);
    Cell* made = from_utf8_binary(bytes.data(), int32_t(bytes.size()));
    result = *made;
    stack::drop_cells(1);
  } else {
    init_cell(&result, 16);
    actions::direct_form(&s, &result, nullptr, 0x7FFFFFFF);
  }
  cell::set_type(&result, type);
  *prototype = result;
  return prototype;
}

}  // namespace kel::string
