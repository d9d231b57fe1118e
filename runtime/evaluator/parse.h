// The parse dialect: the rule-stack engine that matches, collects and rewrites series, its
// two process-wide stacks (rules and saved inputs), trace events, and the `parse` native.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::parse {

// Command codes kept in the pair! cell on top of a command frame (w2; w3 is a flag).
namespace code {
constexpr int32_t REPEAT = -1;
constexpr int32_t TO = -2;
constexpr int32_t THRU = -3;
constexpr int32_t COPY = -4;
constexpr int32_t SET = -5;
constexpr int32_t NOT = -6;
constexpr int32_t INTO = -7;
constexpr int32_t REMOVE = -9;
constexpr int32_t WHILE = -11;
constexpr int32_t COLLECT = -12;
constexpr int32_t KEEP = -13;
constexpr int32_t KEEP_PAREN = -14;
constexpr int32_t AHEAD = -16;
constexpr int32_t CHANGE = -17;
constexpr int32_t CHANGE_ONLY = -18;
constexpr int32_t CASE = -19;
}  // namespace code

// Cells of either stack from its head beyond which a parse stops with parse-stack.
constexpr int32_t STACK_LIMIT = 10000;

// ---- Internal stacks (parse_stacks.cpp) ----

// The rule stack (100 cells) and the saved-input stack (8 cells), made once at start-up.
void init_stacks();
// Registers the stacks' collector root (again after the collector's start-up).
void register_roots();
// The two block cells; their head index marks where the running parse's part begins.
namespace detail {
extern Cell g_stacks[2];  // [0] rule stack, [1] saved-input stack
}
inline Cell* rule_stack() { return &detail::g_stacks[0]; }
inline Cell* input_stack() { return &detail::g_stacks[1]; }
// Cells from the head of a stack.
int32_t depth(const Cell* stack);
// When an outer parse is running, saves both heads (a triple! appended to the rule stack)
// and moves them to the tails; answers whether it saved.
bool save_stacks();
void restore_stacks();
// Clears both stacks from their heads, then restores the outer heads when saved.
void reset_stacks(bool saved);
// parse-stack when either stack holds more than STACK_LIMIT cells from its head.
void check_limits(bool saved);
// parse-infinite when the rule stack holds a frame of the same rule block (same buffer and
// head) that began at the same input index, looking no further down than the last into.
void check_recursion(const Cell* rules, uint32_t input_index, bool saved);
// Evaluates the paren as a block; the result goes into out (a rooted cell).
void eval_paren(const Cell* paren, Cell* out);
// Calls the callback with [event match? rule input stack] and its locals; true to go on.
bool trace(const Cell* callback, const Cell* event, bool match, const Cell* rules,
           uint32_t rule_index, const Cell* input);

// ---- Engine (parse.cpp) ----

// Matches the input from its index against the rule block. mode: 0 case-insensitive, 2
// case-sensitive; limit: an input index (below 0: none); callback: function! or none.
// The result (logic!, or a top-level collect's block) is written into result (rooted).
void run(const Cell* input, const Cell* rules, int32_t mode, int32_t limit,
         const Cell* callback, Cell* result);

// The native (id 40).
void parse_(int32_t check, const int32_t* refs);

}  // namespace kel::parse

namespace kel::natives {
// Puts the parse native into the entries being built (index = id - 1).
constexpr void install_parse(NativeFn* entries) { entries[40 - 1] = &parse::parse_; }
}  // namespace kel::natives
