// routine! values: the registry of C++ routines, build from a spec, argument count, form,
// mold, compare and the routine! registration (make unsupported, reflect from function!).
#include "runtime/datatypes/routine.h"

#include <cstring>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace kel::routine {

namespace {
// Routines join this table through register_routine; values refer to them by position.
std::vector<Entry>& registry() {
  static std::vector<Entry> entries;
  return entries;
}
bool g_binding = false;  // start-up has bound the registry: later entries bind at once
std::vector<void (*)()>& after_binding() {
  static std::vector<void (*)()> callbacks;
  return callbacks;
}
}  // namespace

namespace detail {
const Entry* entries = nullptr;
int32_t entry_count = 0;
}  // namespace detail

int32_t registry_count() { return int32_t(registry().size()); }

namespace {
// The spec text loaded last and its block (a rooted cell): entries that share one text
// (the datatype predicates) take a copy of that load instead of lexing it again.
const char* g_last_spec = nullptr;
Cell* g_last_block = nullptr;

// Builds entry i from its spec text and binds it to its global word.
void bind_entry(int32_t i) {
  const Entry& e = registry()[size_t(i)];
  if (!e.name) return;  // built by its owner (a field of a record, not a global word)
  Cell* top = stack::state().top;
  Cell* value = push_built(i);
  Cell name = word::intern_global(e.name);  // before the push: interning allocates
  Cell* w = stack::push_copy(&name);
  w->header = T_WORD;
  *word::value_slot(w) = *value;
  stack::state().top = top;
}
}  // namespace

int32_t register_routine(const Entry& entry) {
  registry().push_back(entry);
  detail::entries = registry().data();
  detail::entry_count = int32_t(registry().size());
  int32_t i = registry_count() - 1;
  if (g_binding) bind_entry(i);
  return i;
}

Cell* push_built(int32_t i) {
  const Entry& e = registry()[size_t(i)];
  Cell* spec = stack::reserve_cell();
  cell::set_none(spec);
  if (g_last_block && e.spec == g_last_spec) {
    blk::copy(spec, g_last_block, true);
  } else {
    launcher::load_text(reinterpret_cast<const uint8_t*>(e.spec), int32_t(std::strlen(e.spec)),
                        spec);
    if (g_last_block) {
      *g_last_block = *spec;
      g_last_spec = e.spec;
    }
  }
  return build(spec, cell::none_value(), i, e.result_type, false);
}

void bind_registered() {
  g_binding = true;
  Cell* top = stack::state().top;
  g_last_block = stack::reserve_cell();
  cell::set_none(g_last_block);
  g_last_spec = nullptr;
  for (int32_t i = 0; i < registry_count(); ++i) bind_entry(i);
  g_last_block = nullptr;
  stack::state().top = top;
  for (auto fn : after_binding()) fn();
}

void forget_binding() { g_binding = false; }

void on_bound(void (*fn)()) {
  after_binding().push_back(fn);
  if (g_binding) fn();
}

Cell* build(const Cell* spec_in, const Cell* body_in, int32_t code, int32_t code_ref, bool flag) {
  uint32_t first = stack::index_of(stack::state().top);
  Cell* spec = stack::push_copy(spec_in);
  Cell* body = stack::push_copy(body_in);
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  Node ex = memory::series_new_cells(function::extras::SIZE);
  *result = Cell{T_ROUTINE | (flag ? FLAG : 0), 0, spec->w2, ex};
  for (int32_t i = 0; i < function::extras::SIZE; ++i)
    cell::set_unset(runtime::series_append_cell_node(ex));
  result->w1 = context::from_spec(spec, true, false, context::KIND_FUNCTION);
  *function::extras_cell(result, function::extras::BODY) = *body;
  cell::set_integer(function::extras_cell(result, function::extras::CODE), code);
  cell::set_integer(function::extras_cell(result, function::extras::CODE_REF), code_ref);
  set_arg_count(result);
  Cell* out = stack::at_index(first);
  *out = *result;
  stack::state().top = out + 1;
  return out;
}

void set_arg_count(Cell* value) {
  SeriesBuffer* b = memory::node_buffer(value->w2);
  const Cell* c = memory::head_cells(b);
  uint32_t n = memory::units(b), count = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (cell::type(c + i) == T_WORD) ++count;
  if (count > 31) count = 31;
  value->header = (value->header & ~ARG_COUNT_MASK) | (count << ARG_COUNT_SHIFT);
}

int32_t arg_count(const Cell* value) {
  return int32_t((value->header & ARG_COUNT_MASK) >> ARG_COUNT_SHIFT);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  (void)value;
  (void)part;
  return function::add_text(buffer, "?routine?", limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  uint32_t saved_top = stack::index_of(stack::state().top);
  Cell* v = stack::push_copy(value);
  limit = function::add_text(buffer, "routine ", limit);
  limit = function::mold_series_as_block(v->w2, buffer, only, all, flat, part, limit, indent);
  Cell* body = stack::push_copy(function::extras_cell(v, function::extras::BODY));
  if (cell::type(body) == T_BLOCK) {
    limit = actions::direct_mold(body, buffer, only, all, flat, part, limit, indent);
  } else {
    limit = function::add_text(buffer, " ", limit);
    limit = actions::direct_mold(body, buffer, only, all, flat, part, limit, indent);
  }
  stack::state().top = stack::at_index(saved_top);
  return limit;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_ROUTINE) return -2;
  return function::compare_identity(a->w3, b->w3, op);
}

namespace {
constexpr size_t RW_ANY_TYPE = runtime::runtime_word_index("any-type!", runtime::WordKind::SYMBOL);

// A routine's argument checks as args_pass_q runs them (see routine.h). Each checked
// argument holds its frame index and the value cells of the type words its block starts
// with, up to the end or the first cell that decides alone: `any-type!` passes every
// value, a cell that is no word fails every value no earlier type took.
struct Plan {
  static constexpr int MAX_ARGS = 8, MAX_SLOTS = 24;
  Node spec = 0;
  uint64_t cell_moves = ~uint64_t(0);
  const SeriesBuffer* spec_buf = nullptr;
  uint32_t spec_stamp = 0;
  bool made = false;  // false: no plan for this spec (the full checks run)
  int32_t arg_count = 0;
  struct Arg {
    int32_t k;
    uint8_t first, count;
    bool rest_passes;  // after the listed types: any-type! (true) or a failure
  } args[MAX_ARGS];
  const Cell* slots[MAX_SLOTS];
  int32_t type_count = 0;
  const SeriesBuffer* type_bufs[MAX_ARGS];
  uint32_t type_stamps[MAX_ARGS];
};
constexpr uint32_t PLAN_WAYS = 16;
Plan g_plans[PLAN_WAYS];

// The plan for spec as it is now: made false when a type word is not a resolved word of
// the global context with its values, or the spec is too long for it.
void make_plan(Plan& p, Node spec) {
  p.spec = spec;
  p.cell_moves = memory::state().cell_moves;
  p.made = false;
  p.arg_count = 0;
  p.type_count = 0;
  SeriesBuffer* sb = memory::node_buffer(spec);
  p.spec_buf = sb;
  p.spec_stamp = memory::stamp(sb);
  Node global = context::global;
  if (!global) return;
  const Cell* gx = context::cell_of(global);
  if (!gx->w2 || (gx->header & hdr::CONTEXT_ON_STACK)) return;
  const Cell* globals = reinterpret_cast<const Cell*>(memory::node_head(gx->w2));
  int32_t any_type_id = symbol::runtime_id(RW_ANY_TYPE);
  int32_t slot_count = 0;
  auto plan_arg = [&](int32_t k, const Cell*, const Cell* types) {
    if (p.type_count >= Plan::MAX_ARGS || p.arg_count >= Plan::MAX_ARGS) return false;
    SeriesBuffer* tb = memory::node_buffer(types->w2);
    p.type_bufs[p.type_count] = tb;
    p.type_stamps[p.type_count++] = memory::stamp(tb);
    uint32_t count = uint32_t(memory::used_bytes(tb) / sizeof(Cell));
    if (types->w1 >= count) return true;  // an empty block checks nothing
    const Cell* tc = memory::head_cells(tb);
    Plan::Arg& a = p.args[p.arg_count];
    a.k = k;
    a.first = uint8_t(slot_count);
    a.rest_passes = false;
    for (uint32_t j = types->w1; j < count; ++j) {
      const Cell* w = tc + j;
      if (cell::type(w) != T_WORD) break;  // fails what no earlier type took
      if (any_type_word_q(w, any_type_id)) {
        a.rest_passes = true;
        break;
      }
      if (w->w1 != global || w->w3 == 0xFFFFFFFFu) return false;  // looked up at each call
      if (slot_count >= Plan::MAX_SLOTS) return false;
      p.slots[slot_count++] = globals + w->w3;
    }
    a.count = uint8_t(slot_count - a.first);
    ++p.arg_count;
    return true;
  };
  if (!each_arg_types(memory::head_cells(sb), uint32_t(memory::used_bytes(sb) / sizeof(Cell)),
                      plan_arg))
    return;
  p.made = true;
}
}  // namespace

bool args_pass_q(Node spec, const Cell* frame) {
  Plan& p = g_plans[spec & (PLAN_WAYS - 1)];
  bool current = p.spec == spec && p.cell_moves == memory::state().cell_moves &&
                 memory::stamp(p.spec_buf) == p.spec_stamp;
  for (int32_t i = 0; current && i < p.type_count; ++i)
    current = memory::stamp(p.type_bufs[i]) == p.type_stamps[i];
  if (!current) [[unlikely]] make_plan(p, spec);
  if (!p.made) return false;
  for (int32_t i = 0; i < p.arg_count; ++i) {
    const Plan::Arg& a = p.args[i];
    uint32_t at = cell::type(frame + a.k);
    bool ok = false;
    for (uint32_t j = a.first; j < uint32_t(a.first + a.count) && !ok; ++j) {
      const Cell* expected = p.slots[j];
      ok = cell::type(expected) == T_TYPESET ? typeset::has_q(expected, at)
                                             : cell::type(expected) == T_DATATYPE &&
                                                   expected->w1 == at;
    }
    if (!ok && !a.rest_passes) return false;
  }
  return true;
}

void install_type() {
  datatype::Registration r{};
  r.id = T_ROUTINE;
  r.parent = T_FUNCTION;
  r.name = "routine!";
  r.slots.reflect = datatype::inherit;
  r.slots.form = form;
  r.slots.mold = mold;
  r.slots.compare = compare;
  datatype::register_type(r);
}

}  // namespace kel::routine
