// Interim stand-ins for the function-like values until their own unit lands: native!,
// action!, op! and function! makers, spec checks, locals collection, deep body copies.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

// Each group is deleted once the function-values unit is merged; callers keep the names.

namespace kel::blk {
inline Cell* cells(Node n) { return memory::head_cells(memory::node_buffer(n)); }
inline uint32_t count(Node n) { return memory::units(memory::node_buffer(n)); }
// A new empty block of room for n cells, written into out (out must be a rooted cell).
void init(Cell* out, uint32_t n);
// A copy of the block from its index; deep copies nested blocks, parens and paths.
void copy(Cell* out, const Cell* block, bool deep);
}  // namespace kel::blk

namespace kel::function {
// Validates a function spec; returns the attribute flags.
uint32_t check_spec(const Cell* spec);
// Pushes a new function! of the spec and body (the body is deep-copied and bound).
Cell* build(const Cell* spec, const Cell* body, uint32_t flags);
// For `function`: a copy of the spec with /local and the body's set-words added.
void collect_locals(Cell* spec_copy, const Cell* body);
// Pushes the local part of a call frame: false, then n - 1 nones.
void push_defaults(int32_t n);
// Extras cell k of a function!, native!, action!, routine! or op! value.
Cell* extras(const Cell* fn, uint32_t k);
// Index of a symbol (canonical match) among a callee's spec words, -1 when absent.
int32_t find_spec_symbol(const Cell* fn, int32_t symbol);
void install_types();
}  // namespace kel::function
