// native!, action! and op! values: making them from table ids or from a function to wrap,
// the op! spec rule, reflect, form, mold, compare and their registrations.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

// The evaluator's code tables, asked by 1-based id whether an entry has code behind it.
namespace kel::natives {
constexpr int32_t TABLE_CAPACITY = 120;
bool entry_filled_q(int32_t id);
}  // namespace kel::natives
namespace kel::actions {
constexpr int32_t TABLE_CAPACITY = 62;
bool entry_filled_q(int32_t id);
}  // namespace kel::actions

namespace kel::native {
// native! (21) and action! (22): w1 the table id (1-based), w2 the spec block node, w3 the
// native-extras node (layout in function.h).
Cell* make(Cell* proto, Cell* spec, uint32_t type);
// Spec field: the spec block; body field: the table id, or the body of a wrapped function.
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void install_type();
// The word context built from a native's or action's spec (an op! of one gives the one of
// what it wraps); 0 when the spec has no words.
Node spec_context(const Cell* value);
// Start-up: the block of the value the boot specs make for each native and action id,
// kept in the root block; each make records its id's value until end_origins (called once
// the boot specs are made); a native appended after the boot takes its first make.
void init_origins();
void end_origins();
// Drops the origins of a runtime that is gone: makes record nothing until init_origins.
void forget_origins();
// Records a value made outside `make` (the boot image's decoder) as its id's origin while
// the boot is being made.
void record_origin(const Cell* value);
// A native! or action! (or an op! of one) whose spec is not its id's boot spec runs only
// when its frame can feed the built-in: the same arguments and refinements in the same
// order, each argument taking only types the boot spec takes. Otherwise (an id the boot
// made no value for included) raises
// script/bad-func-def with the spec. `cache` is the value's argument cache block.
void check_feeds_builtin(const Cell* value, const Cell* cache);
}  // namespace kel::native

namespace kel::action {
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void install_type();
}  // namespace kel::action

namespace kel::op {
// op! (23): header 23 | the wrapped type << 16, w1-w3 those of the wrapped value.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
// Exactly two arguments, the first a plain word.
bool valid_spec_q(Node spec);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void install_type();
}  // namespace kel::op
