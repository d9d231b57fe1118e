// The natives table (120 entries, ids from 1), the native calling convention, the action
// entry table, and the natives built so far; the others raise internal/not-done.
#pragma once
#include <array>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::natives {

constexpr int32_t CAPACITY = 120;
constexpr int32_t NATIVE_COUNT = 107;

// A native: the type-check flag, then one refinement integer per refinement (spec order):
// -1 absent, else the frame index of the refinement's first argument.
using NativeFn = void (*)(int32_t check, const int32_t* refinements);
// An action's stack form: the refinement integers only.
using ActionFn = void (*)(const int32_t* refinements);

extern std::array<NativeFn, CAPACITY> table;
extern int32_t next_id;  // 108 after start-up

void build_table();
// Registers the print buffer as a collector root (again after the collector's start-up).
void register_roots();
void append_entries(int32_t count, const NativeFn* entries);
bool has_code_q(int32_t id);         // 1 .. next_id - 1
bool action_has_code_q(int32_t id);  // 1 .. 62 except 8

// runtime/call-builtin-by-number: calls native (kind 0) or action (kind 1) number id on the
// current frame, as compiled code does (check flag 1 for natives).
void call_builtin_by_number(int32_t kind, int32_t id, const int32_t* refinements);

// The print buffer (32 cells, kept alive by the natives unit).
Cell* print_buffer();
// 1 after print, 0 after prin: whether the latest output of the two ended a line.
extern int32_t last_line_feed;
// Truth tests of conditions: plain (none and false are false) and strict (unset raises
// script/no-return).
bool truthy_q(const Cell* value);
bool truthy_strict_q(const Cell* value);

// Natives of the evaluator core.
void either(int32_t check, const int32_t* refs);
void loop(int32_t check, const int32_t* refs);
void func(int32_t check, const int32_t* refs);
void function(int32_t check, const int32_t* refs);
void does(int32_t check, const int32_t* refs);
void has(int32_t check, const int32_t* refs);
void print(int32_t check, const int32_t* refs);
void prin(int32_t check, const int32_t* refs);
void equal_q(int32_t check, const int32_t* refs);
void not_equal_q(int32_t check, const int32_t* refs);
void strict_equal_q(int32_t check, const int32_t* refs);
void lesser_q(int32_t check, const int32_t* refs);
void greater_q(int32_t check, const int32_t* refs);
void lesser_or_equal_q(int32_t check, const int32_t* refs);
void greater_or_equal_q(int32_t check, const int32_t* refs);

}  // namespace kel::natives
