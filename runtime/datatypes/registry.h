// Datatype registry: the type table, the action table (57 rows of 256 slots), registration
// with snapshot inheritance, and the typed signature of every one of the 62 action slots.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::datatype {

constexpr uint32_t TABLE_TYPES = 57;  // ids 0-56; 1-54 are registered
// A row holds the 62 slots and two spare: a start writes the whole table, so rows of 256
// (2 KB, most of it never read) cost a start some 20 page faults more.
constexpr uint32_t ROW_SLOTS = 64;
constexpr uint32_t SLOT_COUNT = 62;
static_assert(SLOT_COUNT <= ROW_SLOTS);

// The 62 slots in slot order: X(slot number, member name, constant name).
#define KEL_ACTION_SLOTS(X)                                                                   \
  X(1, make, MAKE) X(2, random, RANDOM) X(3, reflect, REFLECT) X(4, to, TO) X(5, form, FORM) \
  X(6, mold, MOLD) X(7, eval_path, EVAL_PATH) X(8, set_path, SET_PATH)                        \
  X(9, compare, COMPARE) X(10, absolute, ABSOLUTE) X(11, add, ADD) X(12, divide, DIVIDE)      \
  X(13, multiply, MULTIPLY) X(14, negate, NEGATE) X(15, power, POWER)                         \
  X(16, remainder, REMAINDER) X(17, round, ROUND) X(18, subtract, SUBTRACT)                   \
  X(19, even_q, EVEN_Q) X(20, odd_q, ODD_Q) X(21, and_, AND) X(22, complement, COMPLEMENT)    \
  X(23, or_, OR) X(24, xor_, XOR) X(25, append, APPEND) X(26, at, AT) X(27, back, BACK)       \
  X(28, change, CHANGE) X(29, clear, CLEAR) X(30, copy, COPY) X(31, find, FIND)              \
  X(32, head, HEAD) X(33, head_q, HEAD_Q) X(34, index_q, INDEX_Q) X(35, insert, INSERT)      \
  X(36, length_q, LENGTH_Q) X(37, move, MOVE) X(38, next, NEXT) X(39, pick, PICK)            \
  X(40, poke, POKE) X(41, put, PUT) X(42, remove, REMOVE) X(43, reverse, REVERSE)            \
  X(44, select, SELECT) X(45, sort, SORT) X(46, skip, SKIP) X(47, swap, SWAP)                \
  X(48, tail, TAIL) X(49, tail_q, TAIL_Q) X(50, take, TAKE) X(51, trim, TRIM)                \
  X(52, create, CREATE) X(53, close, CLOSE) X(54, delete_, DELETE) X(55, modify, MODIFY)     \
  X(56, open, OPEN) X(57, open_q, OPEN_Q) X(58, query, QUERY) X(59, read, READ)              \
  X(60, rename, RENAME) X(61, update, UPDATE) X(62, write, WRITE)

namespace action {
#define KEL_ACTION_ID(k, member, name) constexpr uint32_t name = k;
KEL_ACTION_SLOTS(KEL_ACTION_ID)
#undef KEL_ACTION_ID
}  // namespace action

// ---- Slot signatures ----
// Cells are passed by address. "Frame" slots take no arguments: they read the current
// frame's cells (0 = first argument), write the result into cell 0 and return it.
// Refinements: a flag per refinement and, where it takes an argument, that argument's cell
// (null when absent).

// make, to: (prototype or datatype, spec, resolved type id) -> result cell.
using MakeFn = Cell* (*)(Cell* proto, Cell* spec, uint32_t type);
// random: (value, /seed, /secure, /only) -> result cell.
using RandomFn = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
// reflect: (value, symbol id of the field word) -> result cell.
using ReflectFn = Cell* (*)(Cell* value, int32_t field);
// form: (value, string! buffer, /part argument cell or null, budget) -> budget left.
using FormFn = int32_t (*)(Cell* value, Cell* buffer, Cell* part, int32_t limit);
// mold: as form, with /only, /all, /flat and the nesting depth.
using MoldFn = int32_t (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                           int32_t limit, int32_t indent);
// eval-path: one step of a path; value is null for a get.
using EvalPathFn = Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path,
                             Cell* container, Cell* previous, int32_t step, bool absent_as_none,
                             bool case_, bool last, bool change_notice);
// compare: -1, 0, 1, or -2 when not comparable.
using CompareFn = int32_t (*)(const Cell* a, const Cell* b, int32_t op);
// absolute, add, divide, multiply, negate, power, remainder, subtract, and~, complement,
// or~, xor~ and the frame-only series actions.
using FrameFn = Cell* (*)();
// even?, odd?
using PredicateFn = bool (*)(const Cell* value);
// round: (value, /to scale cell or null, /even, /down, /half-down, /floor, /ceiling,
// /half-ceiling) -> result cell.
using RoundFn = Cell* (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down,
                          bool floor, bool ceiling, bool half_ceiling);
// append, insert: part count (-1 without /part), /only, dup count (1 without /dup), and
// whether it is append.
using InsertFn = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                           bool append);
// change: part count (-1 without /part), /only, dup count (1 without /dup).
using ChangeFn = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
// clear, create, close, delete, query, update: (value) -> result cell.
using UnaryFn = Cell* (*)(Cell* value);
// copy: (value, result cell, /part cell, /deep, /types cell).
using CopyFn = Cell* (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
// find: /part /only /case /same /any /with /skip /last /reverse /tail /match.
using FindFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_,
                         bool same, bool any, Cell* with, Cell* skip, bool last, bool reverse,
                         bool tail, bool match);
// length?: count, or -1 for a none result.
using LengthFn = int32_t (*)(Cell* series);
// move: (origin, target, /part cell).
using MoveFn = Cell* (*)(Cell* origin, Cell* target, Cell* part);
// pick: (series, index, index cell).
using PickFn = Cell* (*)(Cell* series, int32_t index, Cell* index_cell);
// poke: (series, index, value, index cell).
using PokeFn = Cell* (*)(Cell* series, int32_t index, Cell* value, Cell* index_cell);
// put: (series, key, value, /case).
using PutFn = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
// remove: (series, /part cell, /key cell).
using RemoveFn = Cell* (*)(Cell* series, Cell* part, Cell* key);
// reverse: (series, /part cell, /skip cell).
using ReverseFn = Cell* (*)(Cell* series, Cell* part, Cell* skip);
// select: find without /tail and /match.
using SelectFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_,
                           bool same, bool any, Cell* with, Cell* skip, bool last, bool reverse);
// sort: /case /skip /compare /part /all /reverse /stable.
using SortFn = Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part,
                         bool all, bool reverse, bool stable);
// swap: (series1, series2).
using BinaryFn = Cell* (*)(Cell* a, Cell* b);
// take: (series, /part cell, /deep, /last).
using TakeFn = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
// trim: /head /tail /auto /lines /all /with.
using TrimFn = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                         Cell* with);
// modify: (target, field, value, /case).
using ModifyFn = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
// open: /new /read /write /seek /allow.
using OpenFn = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
// read: /part /seek /binary /lines /info /as.
using ReadFn = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines,
                         bool info, Cell* as);
// write: /binary /lines /info /append /part /seek /allow /as.
using WriteFn = Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info,
                          bool append, Cell* part, Cell* seek, Cell* allow, Cell* as);

template <uint32_t K> struct SlotSig;
#define KEL_SLOT_SIG(k, type) \
  template <> struct SlotSig<k> { using Fn = type; };
KEL_SLOT_SIG(1, MakeFn) KEL_SLOT_SIG(2, RandomFn) KEL_SLOT_SIG(3, ReflectFn)
KEL_SLOT_SIG(4, MakeFn) KEL_SLOT_SIG(5, FormFn) KEL_SLOT_SIG(6, MoldFn)
KEL_SLOT_SIG(7, EvalPathFn) KEL_SLOT_SIG(8, FrameFn) KEL_SLOT_SIG(9, CompareFn)
KEL_SLOT_SIG(10, FrameFn) KEL_SLOT_SIG(11, FrameFn) KEL_SLOT_SIG(12, FrameFn)
KEL_SLOT_SIG(13, FrameFn) KEL_SLOT_SIG(14, FrameFn) KEL_SLOT_SIG(15, FrameFn)
KEL_SLOT_SIG(16, FrameFn) KEL_SLOT_SIG(17, RoundFn) KEL_SLOT_SIG(18, FrameFn)
KEL_SLOT_SIG(19, PredicateFn) KEL_SLOT_SIG(20, PredicateFn) KEL_SLOT_SIG(21, FrameFn)
KEL_SLOT_SIG(22, FrameFn) KEL_SLOT_SIG(23, FrameFn) KEL_SLOT_SIG(24, FrameFn)
KEL_SLOT_SIG(25, InsertFn) KEL_SLOT_SIG(26, FrameFn) KEL_SLOT_SIG(27, FrameFn)
KEL_SLOT_SIG(28, ChangeFn) KEL_SLOT_SIG(29, UnaryFn) KEL_SLOT_SIG(30, CopyFn)
KEL_SLOT_SIG(31, FindFn) KEL_SLOT_SIG(32, FrameFn) KEL_SLOT_SIG(33, FrameFn)
KEL_SLOT_SIG(34, FrameFn) KEL_SLOT_SIG(35, InsertFn) KEL_SLOT_SIG(36, LengthFn)
KEL_SLOT_SIG(37, MoveFn) KEL_SLOT_SIG(38, FrameFn) KEL_SLOT_SIG(39, PickFn)
KEL_SLOT_SIG(40, PokeFn) KEL_SLOT_SIG(41, PutFn) KEL_SLOT_SIG(42, RemoveFn)
KEL_SLOT_SIG(43, ReverseFn) KEL_SLOT_SIG(44, SelectFn) KEL_SLOT_SIG(45, SortFn)
KEL_SLOT_SIG(46, FrameFn) KEL_SLOT_SIG(47, BinaryFn) KEL_SLOT_SIG(48, FrameFn)
KEL_SLOT_SIG(49, FrameFn) KEL_SLOT_SIG(50, TakeFn) KEL_SLOT_SIG(51, TrimFn)
KEL_SLOT_SIG(52, UnaryFn) KEL_SLOT_SIG(53, UnaryFn) KEL_SLOT_SIG(54, UnaryFn)
KEL_SLOT_SIG(55, ModifyFn) KEL_SLOT_SIG(56, OpenFn) KEL_SLOT_SIG(57, UnaryFn)
KEL_SLOT_SIG(58, UnaryFn) KEL_SLOT_SIG(59, ReadFn) KEL_SLOT_SIG(60, BinaryFn)
KEL_SLOT_SIG(61, UnaryFn) KEL_SLOT_SIG(62, WriteFn)
#undef KEL_SLOT_SIG

template <uint32_t K> using SlotFn = typename SlotSig<K>::Fn;

// ---- Tables ----

// What the table stores: any slot function, type-erased; null = not supported.
using AnySlot = void (*)();

struct TypeRecord {
  const char* name;      // with its "!", static text
  uint32_t name_length;  // strlen(name) - 1
  Cell word;             // the type's global word; none until the type words are interned
};

extern TypeRecord type_table[TABLE_TYPES];
extern AnySlot action_table[TABLE_TYPES * ROW_SLOTS];
extern uint32_t highest_registered;

// The slot's function for a type id below TABLE_TYPES (null when not supported).
template <uint32_t K>
inline SlotFn<K> slot(uint32_t type) {
  static_assert(K >= 1 && K <= SLOT_COUNT);
  return reinterpret_cast<SlotFn<K>>(action_table[type * ROW_SLOTS + K - 1]);
}
inline AnySlot any_slot(uint32_t type, uint32_t k) { return action_table[type * ROW_SLOTS + k - 1]; }

// ---- Registration ----

enum class SlotHow : uint32_t { EMPTY = 0, FUNCTION = 1, INHERIT = 2 };
struct SlotEntry {
  AnySlot fn;
  SlotHow how;
};
struct Inherit {};
inline constexpr Inherit inherit{};

// One slot of a registration row: a function of that slot's exact signature, `inherit`
// (the parent's slot as it is at registration), or nothing (not supported).
template <uint32_t K>
struct Slot {
  SlotEntry e{nullptr, SlotHow::EMPTY};
  Slot() = default;
  Slot(SlotFn<K> f) : e{reinterpret_cast<AnySlot>(f), f ? SlotHow::FUNCTION : SlotHow::EMPTY} {}
  Slot(Inherit) : e{nullptr, SlotHow::INHERIT} {}
};

// A registration row has exactly 62 named slots; a function of the wrong signature in a
// slot does not compile, and neither does a row of any other length.
struct Row {
#define KEL_ROW_MEMBER(k, member, name) Slot<k> member{};
  KEL_ACTION_SLOTS(KEL_ROW_MEMBER)
#undef KEL_ROW_MEMBER
};
static_assert(sizeof(Row) == SLOT_COUNT * sizeof(SlotEntry), "a row holds exactly 62 slots");
#define KEL_ROW_OFFSET(k, member, name) \
  static_assert(offsetof(Row, member) == (k - 1) * sizeof(SlotEntry), "slot out of place");
KEL_ACTION_SLOTS(KEL_ROW_OFFSET)
#undef KEL_ROW_OFFSET

struct Registration {
  uint32_t id;
  uint32_t parent;   // 0 = none
  const char* name;  // with its "!"
  Row slots;
};

// Fills the type's record and its action-table row. An inherited slot copies the parent's
// slot as it is now; a slot left empty stays empty.
void register_type(const Registration& r);

// Start-up: clears both tables (they are static storage).
void alloc_tables();
// Start-up: the install function of one datatype (types not built yet do nothing).
void install(uint32_t type_id);
// Interns each registered type's name as a global word into its record (empty until the
// word unit exists).
void intern_type_words();

}  // namespace kel::datatype
