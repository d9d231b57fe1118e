// Small helpers shared by the block action and block comparison units: buffer access by
// node, head clamping, hash! index checks, owner notices and refinement errors.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/runtime_words.h"

namespace kel::block::util {

inline SeriesBuffer* buf(const Cell* b) { return memory::node_buffer(b->w2); }
inline int32_t cells_in(const Cell* b) { return int32_t(memory::used_bytes(buf(b)) / sizeof(Cell)); }
// Cell 0 of the buffer's used area; valid until the next allocation.
inline Cell* cells(const Cell* b) { return memory::head_cells(buf(b)); }
// The head index clamped to 0 ... count (a head past the tail is written back).
inline int32_t clamp_head(Cell* b) {
  int32_t n = cells_in(b);
  int32_t h = int32_t(b->w1);
  if (h > n) {
    b->w1 = uint32_t(n);
    h = n;
  }
  return h < 0 ? 0 : h;
}
inline int32_t count_from(const Cell* b) {
  int32_t n = cells_in(b) - int32_t(b->w1);
  return n < 0 ? 0 : n;
}
inline bool hash_q(const Cell* b) { return cell::type(b) == T_HASH && b->w3 != 0; }
inline bool same_buffer_q(const Cell* a, const Cell* b) {
  return cell::type(a) == cell::type(b) && a->w2 == b->w2;
}

// True when an owner's handler ran: it may have changed the series, so an action reads
// every count, index and address of it again after a notice.
inline bool notify(const Cell* s, const char* action, const Cell* value, int32_t index,
                   int32_t part) {
  return owner::notify_change(s, action, value, index, part) != 0;
}

// The block-like, string-like and binary types as one mask (a sort asks for every record).
static_assert(T_HASH < 64 && T_BINARY < 64 && T_REF < 64 && T_GET_PATH < 64);
constexpr uint64_t SERIES_TYPE_MASK =
    (1ull << T_BLOCK) | (1ull << T_PAREN) | (1ull << T_HASH) | (1ull << T_BINARY) |
    (1ull << T_STRING) | (1ull << T_FILE) | (1ull << T_URL) | (1ull << T_TAG) |
    (1ull << T_EMAIL) | (1ull << T_REF) | ((1ull << (T_GET_PATH + 1)) - (1ull << T_PATH));
// Slot access of the block actions, in one place.
// The compare slot's answer, or -2 when the type has no compare slot.
inline int32_t compare_slot(const Cell* a, const Cell* b, int32_t op) {
  datatype::CompareFn f = datatype::slot<datatype::action::COMPARE>(cell::type(a));
  return f ? f(a, b, op) : -2;
}
// The reflect slot (script/expect-arg when the type has none).
inline Cell* reflect_slot(Cell* value, int32_t field) {
  return actions::resolve<datatype::action::REFLECT>(value)(value, field);
}
// A deep copy through the value's copy slot, made in place.
inline Cell* deep_copy_slot(Cell* value) {
  return actions::resolve<datatype::action::COPY>(value)(value, value, nullptr, true, nullptr);
}

inline Cell refinement_cell(size_t word_index) {
  return Cell{T_REFINEMENT, 0, runtime::runtime_word_ids[word_index], 0xFFFFFFFFu};
}
constexpr size_t REF_PART = runtime::runtime_word_index("part", runtime::WordKind::REFINEMENT);
constexpr size_t REF_SKIP = runtime::runtime_word_index("skip", runtime::WordKind::REFINEMENT);
constexpr size_t REF_COMPARE = runtime::runtime_word_index("compare", runtime::WordKind::REFINEMENT);

[[noreturn]] inline void bad_refine(size_t refinement, const Cell* value) {
  Cell r = refinement_cell(refinement);
  error::raise(err::script::invalid_refine_arg, &r, value);
}

// Record sizes and counts must fit 32 bits, and their bytes a buffer.
constexpr int64_t MAX_CELLS = 0x7FFFFFF0 / int64_t(sizeof(Cell));

}  // namespace kel::block::util
