// function! values: spec rules and checks, building and making functions, locals for
// `function`, frame defaults, reflect/form/mold/compare, and the shared extras and cache layouts.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::function {

// function! cell: header 24 | attribute flags; w1 the context node (stack-held, kind 1, no
// self); w2 the spec block node (spec at its head); w3 the function-extras node.
constexpr uint32_t FLAG_TRACE = 0x400;
constexpr uint32_t FLAG_NO_TRACE = 0x200;

// function-extras: five cells. routine! uses the same layout.
namespace extras {
constexpr int32_t BODY = 0;       // bound deep copy of the body block, or none
constexpr int32_t ARG_CACHE = 1;  // unset until the first interpreted call, then a block!
constexpr int32_t CODE = 2;       // integer! table id of compiled code, or unset
constexpr int32_t OP_SELF = 3;    // unset; a copy of the value once an op! wraps it
constexpr int32_t CODE_REF = 4;   // integer! second code reference, or unset
constexpr int32_t SIZE = 5;
}  // namespace extras

// native-extras (native! and action!): two cells.
namespace native_extras {
constexpr int32_t CONTEXT = 0;    // copy of the context! cell built from the spec
constexpr int32_t ARG_CACHE = 1;  // none until the first interpreted call, then a block!
constexpr int32_t SIZE = 2;
}  // namespace native_extras

// Argument cache entries. A typeset! cell per argument (and for return:) carries its mode
// in header bits 20-21; refinements follow as copies (native!/action!: w3 = ordinal from 1);
// then the local count (function-like) or the refinement count (native!/action!).
namespace cache {
constexpr uint32_t MODE_SHIFT = 20;
constexpr uint32_t MODE_MASK = 0x300000;
constexpr uint32_t MODE_WORD = 0;
constexpr uint32_t MODE_GET_WORD = 1;
constexpr uint32_t MODE_LIT_WORD = 2;
constexpr uint32_t MODE_RETURN = 3;
inline uint32_t mode_of(const Cell* typeset) { return (typeset->header & MODE_MASK) >> MODE_SHIFT; }
}  // namespace cache

// typeset! layout: 96 type bits in w1-w3; type t is bit 0x80 >> (t % 8) of byte t / 8 counted
// from the first byte of w1.
namespace typeset_bits {
inline uint8_t* bytes(Cell* c) { return reinterpret_cast<uint8_t*>(&c->w1); }
inline const uint8_t* bytes(const Cell* c) { return reinterpret_cast<const uint8_t*>(&c->w1); }
inline void clear(Cell* c, uint32_t header) { *c = Cell{header, 0, 0, 0}; }
inline void set(Cell* c, uint32_t t) {
  if (t < 96) bytes(c)[t / 8] |= uint8_t(0x80u >> (t % 8));
}
inline bool has(const Cell* c, uint32_t t) {
  return t < 96 && (bytes(c)[t / 8] & (0x80u >> (t % 8))) != 0;
}
inline void merge(Cell* into, const Cell* from) {
  into->w1 |= from->w1;
  into->w2 |= from->w2;
  into->w3 |= from->w3;
}
// Every datatype but unset!.
void set_default(Cell* c);
}  // namespace typeset_bits

// The extras cell i of a function-like value (function!, routine!, native!, action!, op!);
// valid until the next allocation.
Cell* extras_cell(const Cell* value, int32_t i);

// Spec checks; every check runs before anything is built.
// Flags of an attribute block (trace 0x400, no-trace 0x200), -1 when an entry is not a word.
int32_t attribute_flags(const Cell* block);
void check_type_block(const Cell* block);
void check_duplicates(const Cell* spec);
// Validates the whole spec; returns the attribute flags (0 without an attribute block).
uint32_t check_spec(const Cell* spec);

// Pushes a new function! value and returns its context node. body may be none; ctx 0 makes
// a context from the spec (and binds the body copy to it); code and code_ref 0 mean none.
Node build(const Cell* spec, const Cell* body, Node ctx, int32_t code, int32_t code_ref,
           uint32_t flags);
// make slot: spec is a block whose first two values are the spec and body blocks.
Cell* make(Cell* proto, Cell* spec, uint32_t type);

// For the `function` native: adds the collected locals to spec (a block the caller owns)
// and pushes the block of collected words.
Cell* collect_locals(Cell* spec, const Cell* body);
// 1 for the first /local and 1 per word! after it, from start to the tail; 0 without
// /local, or -1 then when ask is set.
int32_t count_locals(Node spec, int32_t start, bool ask);
// The local part of a frame: false (the /local refinement), then n - 1 nones. Inline, the
// room for all n tested once (every call of a function with locals comes this way); with
// too little room push_defaults_one_by_one raises the overflow where a cell-by-cell push would.
void push_defaults_one_by_one(int32_t n);
inline void push_defaults(int32_t n) {
  if (n <= 0) return;
  stack::State& s = stack::state();
  Cell* c = s.top;
  if (c + n >= s.args_limit) [[unlikely]] return push_defaults_one_by_one(n);
  c[0] = Cell{T_LOGIC, 0, 0, 0};
  for (int32_t i = 1; i < n; ++i) c[i] = Cell{T_NONE, 0, 0, 0};
  s.top = c + n;
}
// The frame of a call from C++ (handlers, comparators): the argument count before the
// first refinement, and the rest of the frame (refinements, their arguments, locals).
// Inline while the function is the one asked last (a comparator's, on every call), nothing
// moved and its spec keeps the write stamp its count was taken at; frame_shape_other else.
namespace detail {
struct LastShape {
  Node spec = 0, ctx = 0;
  uint64_t moves = ~uint64_t(0);
  SeriesBuffer* spec_buf = nullptr;
  const SeriesBuffer* words = nullptr;  // the context's word list (its count read live)
  bool counted = false;
  uint32_t stamp = 0;
  int32_t args = 0;
};
extern LastShape last_shape;
void frame_shape_other(const Cell* fn, int32_t* args, int32_t* rest);
}  // namespace detail
inline void frame_shape(const Cell* fn, int32_t* args, int32_t* rest) {
  const detail::LastShape& l = detail::last_shape;
  if (fn->w2 != l.spec || fn->w1 != l.ctx || memory::state().moves != l.moves || !l.counted ||
      memory::stamp(l.spec_buf) != l.stamp) [[unlikely]] {
    detail::frame_shape_other(fn, args, rest);
    return;
  }
  int32_t a = l.args;
  int32_t total = int32_t(memory::used_bytes(l.words) / 16);
  *args = a;
  *rest = total > a ? total - a : 0;
}
// Calls the function! fn from C++ under a frame named by the word name, its arguments
// the count values (missing ones none, extra ones dropped; refinements off). Returns the
// result in a stack cell, the top just past it.
Cell* call_with_values(const Cell* fn, const Cell* name, const Cell* const* values,
                       int32_t count);

// Action slots.
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void install_type();

// Shared with native!, op! and routine!: the symbol ids compared by canonical id.
bool symbol_is(uint32_t symbol, const char* name);
// Orders two nodes for compare under the equality and ordering codes; -2 otherwise.
int32_t compare_identity(uint32_t a, uint32_t b, int32_t op);
// Appends the text to the string! buffer; returns the budget less its length.
int32_t add_text(Cell* buffer, const char* text, int32_t budget);
// Molds the cell series of node as a block! from its start (pushed while it is molded).
int32_t mold_series_as_block(Node node, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                             int32_t budget, int32_t indent);

}  // namespace kel::function

namespace kel::interp {
// Builds the argument cache of a native!, action!, function! or routine! value (an op! is
// given as the value it wraps) and returns the new block's node; the caller stores it in
// extras cell 1. A set-word other than return: raises script/bad-func-def; so does a
// function-like spec whose frame would not match its context's size.
Node build_argument_cache(const Cell* value);
}  // namespace kel::interp
