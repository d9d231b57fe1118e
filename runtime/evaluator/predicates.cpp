// The type predicates: each a routine whose C++ function tests the datatype of its one
// argument against a datatype, or against the typeset a global word holds at that moment.
#include "runtime/evaluator/predicates.h"

#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::predicates {

namespace {

constexpr std::array<const char*, 48> kTypeNames = {
    "bitset?",   "binary?",   "block?",    "char?",      "email?",     "file?",
    "float?",    "get-path?", "get-word?", "hash?",      "integer?",   "issue?",
    "lit-path?", "lit-word?", "logic?",    "map?",       "none?",      "pair?",
    "paren?",    "path?",     "percent?",  "refinement?", "set-path?", "set-word?",
    "string?",   "tag?",      "time?",     "typeset?",   "tuple?",     "unset?",
    "url?",      "word?",     "image?",    "date?",      "money?",     "ref?",
    "point2D?",  "point3D?",  "handle?",   "error?",     "action?",    "native?",
    "datatype?", "function?", "object?",   "op?",        "routine?",   "vector?"};

constexpr std::array<const char*, 14> kTypesetNames = {
    "any-list?",  "any-block?", "any-function?", "any-object?", "any-path?",
    "any-string?", "any-word?", "series?",       "number?",     "immediate?",
    "scalar?",    "all-word?",  "any-point?",    "planar?"};

constexpr const char* kTypeSpec =
    "\"Returns true if the value is this type\" value [any-type!] return: [logic!]";

// The datatype id of each datatype predicate, found by name at registration.
std::array<uint32_t, kTypeNames.size()> g_type_ids{};
// The spec texts of the typeset predicates (their documentation names the typeset).
std::array<std::string, kTypesetNames.size()> g_typeset_specs;

std::string base_name(const char* predicate) {
  std::string n(predicate);
  n.pop_back();  // the "?"
  return n;
}

void answer(bool truth) {
  Cell r{T_LOGIC, truth ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

template <size_t I>
void is_type() {
  answer(cell::type(stack::state().base) == g_type_ids[I]);
}

// The global word of each typeset, kept while no node was released or renamed (a node kept
// outside the heap is good only that long): making and looking up its name was most of a
// call's cost.
struct TypesetWord {
  uint64_t renames = ~uint64_t(0);
  Cell word{};
};
std::array<TypesetWord, kTypesetNames.size()> g_typeset_words;

template <size_t I>
void in_typeset() {
  uint32_t t = cell::type(stack::state().base);
  TypesetWord& k = g_typeset_words[I];
  if (k.renames != memory::state().renames) {
    Cell w = word::intern_global((base_name(kTypesetNames[I]) + "!").c_str());
    k.word = w;
    k.renames = memory::state().renames;  // read after the look-up, which may collect
  }
  Cell w = k.word;
  const Cell* ts = word::value_slot(&w);
  answer(cell::type(ts) == T_TYPESET && typeset::has_q(ts, t));
}

template <size_t... I>
void register_types(std::index_sequence<I...>) {
  (routine::register_routine({kTypeNames[I], kTypeSpec, &is_type<I>, int32_t(T_LOGIC)}), ...);
}

template <size_t... I>
void register_typesets(std::index_sequence<I...>) {
  (routine::register_routine(
       {kTypesetNames[I], g_typeset_specs[I].c_str(), &in_typeset<I>, int32_t(T_LOGIC)}),
   ...);
}

template <size_t... I>
constexpr std::array<routine::Fn, sizeof...(I)> type_fns(std::index_sequence<I...>) {
  return {&is_type<I>...};
}
constexpr auto kTypeFns = type_fns(std::make_index_sequence<kTypeNames.size()>());

}  // namespace

uint32_t datatype_tested(void (*fn)()) {
  for (size_t i = 0; i < kTypeFns.size(); ++i)
    if (kTypeFns[i] == fn) return g_type_ids[i];
  return 0;
}

void register_routines() {
  for (size_t i = 0; i < kTypeNames.size(); ++i) {
    std::string want = base_name(kTypeNames[i]) + "!";
    g_type_ids[i] = 0;
    for (uint32_t t = 1; t < datatype::TABLE_TYPES; ++t) {
      const char* n = datatype::type_table[t].name;
      if (n && want == n) g_type_ids[i] = t;
    }
  }
  for (size_t i = 0; i < kTypesetNames.size(); ++i) {
    g_typeset_specs[i] = "\"Returns true if the value is any type of " +
                         base_name(kTypesetNames[i]) + "\" value [any-type!] return: [logic!]";
  }
  register_types(std::make_index_sequence<kTypeNames.size()>());
  register_typesets(std::make_index_sequence<kTypesetNames.size()>());
}

}  // namespace kel::predicates
