// Conditional and looping natives (if, unless, any, all, while, until, repeat, forever,
// foreach, forall, remove-each, switch, case) and the loop-support operations they share.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::interp {
struct LoopPlan;
}

namespace kel::natives {

void if_(int32_t check, const int32_t* refs);
void unless(int32_t check, const int32_t* refs);
void any(int32_t check, const int32_t* refs);
void all(int32_t check, const int32_t* refs);
void while_(int32_t check, const int32_t* refs);
void until(int32_t check, const int32_t* refs);
void repeat(int32_t check, const int32_t* refs);
void forever(int32_t check, const int32_t* refs);
void foreach(int32_t check, const int32_t* refs);
// foreach of one word over a block called by a planned call: its frame holds its three
// arguments and the copies foreach makes of the block and the word, its own record on top
// (as check 0 has it); its body's plan handed (not through take_loop_plan).
void foreach_planned(const interp::LoopPlan& lp);
void forall(int32_t check, const int32_t* refs);
void remove_each(int32_t check, const int32_t* refs);
void switch_(int32_t check, const int32_t* refs);
void case_(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1); runs at
// compile time for the table's static fill.
constexpr void install_control(NativeFn* entries) {
  entries[1 - 1] = &if_;
  entries[2 - 1] = &unless;
  entries[4 - 1] = &any;
  entries[5 - 1] = &all;
  entries[6 - 1] = &while_;
  entries[7 - 1] = &until;
  entries[9 - 1] = &repeat;
  entries[10 - 1] = &forever;
  entries[11 - 1] = &foreach;
  entries[12 - 1] = &forall;
  entries[13 - 1] = &remove_each;
  entries[18 - 1] = &switch_;
  entries[19 - 1] = &case_;
}

// Loop support. The iteration cells sit just below the loop frame's caller base: the
// series copy, then the word or words block.
// Converts a float! count in the frame's first cell to integer! (toward zero); a count
// outside the 32-bit range or NaN raises script/out-of-range.
void loop_count_to_integer();
// Converts any integer!/float! count cell in place (same rules).
void count_to_integer(Cell* count);
// Assigns the next n values of the series copy to the words and advances it by n; false
// when no value is left (or n < 1).
bool foreach_step_q(Cell* series, Cell* words, int32_t n);
bool foreach_step_one_q(Cell* series, Cell* word);
// A truthy body value removes the n values just visited (ending at the copy's index) and
// moves the index back by n.
void remove_each_apply(Cell* data, Cell* series, const Cell* body_value, int32_t n);
// True while the series' index is before its tail.
bool series_has_more_q(const Cell* series);
// Optionally advances the series held by the word, then answers whether it is past its tail.
bool forall_at_end_q(const Cell* word, bool advance);
// Adds 1 to the integer held by the word, through the word setter.
void repeat_increment(Cell* word);
// Sets the loop word to the series.
void forall_set_word(const Cell* word, const Cell* series);
// Stores the number of words of the words block (from its head) into the counter cell.
void foreach_word_count(const Cell* words, Cell* counter);
// Copies the index of the series now held by the word into the saved series cell.
void forall_sync_index(const Cell* word, Cell* saved);

// switch's lookup (the compiled-code form is runtime/switch-select): the value at the
// frame base, the cases block after it, one cell at a time when push is set, else two.
// With block the result is the first block! after the match, else the cell after it (the
// match itself when last); none when nothing matches. With push the result is pushed,
// else it goes to the result slot. matched (may be null) tells a match from none.
Cell* switch_lookup(bool push, bool block, bool* matched);

}  // namespace kel::natives
