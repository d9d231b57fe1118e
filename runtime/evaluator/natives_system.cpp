// The system and conversion natives built so far: transcode, which prepares the source, its
// length and the modes, and hands the text to lexer-scan or transcode-string.
#include "runtime/evaluator/natives_system.h"

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/error.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::natives {

namespace {

Cell* arg(int i) { return stack::state().base + i; }

// Units from the source's index to its tail (bytes of a binary!, characters of a string!).
int32_t units_to_tail(const Cell* s) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  int32_t n = int32_t(memory::units(b)) - int32_t(s->w1);
  return n < 0 ? 0 : n;
}

}  // namespace

void transcode(int32_t, const int32_t* refs) {
  Cell* src = arg(0);
  bool next = refs[0] >= 0, one = refs[1] >= 0, prescan = refs[2] >= 0, scan_only = refs[3] >= 0;
  Cell* part = refs[4] >= 0 ? arg(refs[4]) : nullptr;
  Cell* into = refs[5] >= 0 ? arg(refs[5]) : nullptr;
  Cell* trace = refs[6] >= 0 ? arg(refs[6]) : nullptr;
  bool binary = cell::type(src) == T_BINARY;

  // Modes: prescan, scan only, or load.
  bool scan = !prescan, load = !prescan && !scan_only;
  bool one_value = next || one || scan_only;
  bool next_as_block = next && !(one && !scan_only);

  // The source from its index (moved back to its tail when past it), and its length.
  int32_t available = units_to_tail(src);
  if (available == 0) src->w1 = memory::units(memory::node_buffer(src->w2));
  int32_t length = available;
  if (part) {
    int64_t n;
    if (cell::type(part) == T_INTEGER) {
      n = cell::get_int(part);
    } else {
      if (cell::type(part) != cell::type(src) || part->w2 != src->w2) {
        Cell a{T_DATATYPE, cell::type(src), 0, 0}, b{T_DATATYPE, cell::type(part), 0, 0};
        error::raise(err::script::not_same_type, &a, &b);
      }
      n = int64_t(part->w1) - int64_t(src->w1);
    }
    if (n < 0) n = 0;
    if (n < length) length = int32_t(n);
  }
  if (binary && length > 2) {
    const uint8_t* p = memory::head(memory::node_buffer(src->w2)) + src->w1;
    if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
      src->w1 += 3;
      length -= 3;
    }
  }

  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  int32_t consumed = 0;
  if ((prescan || scan_only) && length == 0) {
    stack::set_only_result(cell::none_value());
    return;
  }
  if (binary) {
    lexer_scan(result, nullptr, length, one_value, scan, load, next_as_block, &consumed, trace,
               src, into);
  } else {
    lexer::transcode_string(result, src, length, one_value, scan, load, next_as_block,
                            &consumed, trace, into);
  }
  if (!load && cell::type(result) == T_NONE && !next) {
    stack::set_only_result(result);
    return;
  }
  if (next && next_as_block) {
    // The value (or the type) and the source after what was consumed.
    Cell* pair = block::push_empty(2);
    Cell* value = result;
    if (load && !into && cell::type(result) == T_BLOCK) {
      if (block::count_from_head(result) > 0) value = block::cell_at_index(result, int32_t(result->w1));
      else cell::set_none(value);
    }
    block::append_copy(pair, value);
    Cell* rest = stack::push_copy(src);
    rest->w1 += uint32_t(consumed);
    block::append_copy(pair, rest);
    Cell r = *pair;
    stack::set_only_result(&r);
    return;
  }
  if (into) {
    Cell r = *into;
    stack::set_only_result(&r);
    return;
  }
  Cell r = *result;
  stack::set_only_result(&r);
}

}  // namespace kel::natives
