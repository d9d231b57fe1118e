// routine! values: the registry of C++ routines, build from a spec, argument count, form,
// mold, compare and the routine! registration (make unsupported, reflect from function!).
#include "runtime/datatypes/routine.h"

#include <cstring>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
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
