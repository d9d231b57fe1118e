// Runtime initialisation order and the runtime-word table.
#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/hooks.h"
#include "runtime/init.h"
#include "runtime/memory.h"
#include "runtime/root_block.h"
#include "runtime/runtime_words.h"

using kel::runtime::WordKind;

TEST(Init, RegistrationOrderCoversEveryRuntimeTypeOnce) {
  std::set<int> seen;
  int series_at = -1, first_series_child = 1000;
  for (int i = 0; i < kel::runtime::REGISTERED_TYPE_COUNT; ++i) {
    int id = kel::runtime::datatype_registration_order[i];
    EXPECT_TRUE(seen.insert(id).second) << id;
    if (id == 42) series_at = i;
    if (id == 5 || id == 7 || id == 41) first_series_child = std::min(first_series_child, i);
  }
  EXPECT_EQ(seen.size(), 53u);
  EXPECT_EQ(*seen.begin(), 1);
  EXPECT_EQ(*seen.rbegin(), 53);  // event! (54) is registered later
  EXPECT_LT(series_at, first_series_child);
}

TEST(Init, RunsEveryStepAndRegistersThePrinter) {
  kel::runtime::init();
  EXPECT_TRUE(kel::runtime::collect_into_root);
  ASSERT_GE(kel::output::value_hooks.count, 1u);
  EXPECT_EQ(kel::output::value_hooks.items[0], &kel::output::print_string);
  kel::runtime::run_boot_library();
  EXPECT_FALSE(kel::runtime::collect_into_root);
}

// The root block holds the type words first, then the runtime's global words and
// refinements, the natives' boot values, then the tracer's cell; a collection keeps it and what it holds.
TEST(Init, RootBlockHoldsTheStartUpWords) {
  using namespace kel;
  runtime::init();
  runtime::run_boot_library();
  Node root = runtime::root_block();
  ASSERT_NE(root, 0u);
  uint32_t types = 0, integer_at = 0;
  // event! registers later, once `system` exists: its word comes after these.
  for (uint32_t id = 1; id <= datatype::highest_registered && id != T_EVENT; ++id) {
    if (id == T_INTEGER) integer_at = types;
    if (datatype::type_table[id].name) ++types;
  }
  const Cell* integer_word = runtime::root_cell(integer_at);
  EXPECT_EQ(cell::type(integer_word), T_WORD);
  EXPECT_EQ(integer_word->w2, datatype::type_table[T_INTEGER].word.w2);
  uint32_t refinements = 0, words = 0;
  for (auto& w : runtime::runtime_words) {
    if (w.kind == runtime::WordKind::REFINEMENT) ++refinements;
    if (w.kind == runtime::WordKind::SYMBOL_WORD || w.kind == runtime::WordKind::GLOBAL_WORD) ++words;
  }
  // then the block of the natives' and actions' boot values, then the tracer's cell
  EXPECT_EQ(runtime::tracer_position, types + words + refinements + 1);
  EXPECT_EQ(cell::type(runtime::root_cell(runtime::tracer_position)), T_UNSET);
  EXPECT_EQ(cell::type(runtime::root_cell(runtime::tracer_position - 1)), T_BLOCK);
  EXPECT_EQ(cell::type(runtime::root_cell(runtime::tracer_position - 2)), T_REFINEMENT);
  Cell kept = word::intern_global("kept-by-the-root");
  uint32_t at = runtime::root_append(&kept);
  gc::collect();
  EXPECT_FALSE(memory::node_free_q(runtime::root_block()));
  EXPECT_EQ(runtime::root_cell(at)->w2, kept.w2);
}

TEST(RuntimeWords, TableShape) {
  int counts[4] = {};
  std::set<std::string_view> symbols;
  for (auto& w : kel::runtime::runtime_words) {
    ++counts[int(w.kind)];
    if (w.kind == WordKind::SYMBOL) symbols.insert(w.spelling);
    // A word over a symbol id needs that id made earlier in the table.
    if (w.kind == WordKind::SYMBOL_WORD) {
      EXPECT_TRUE(symbols.count(w.spelling)) << w.spelling;
    }
  }
  EXPECT_EQ(counts[int(WordKind::SYMBOL)], 112);
  EXPECT_EQ(counts[int(WordKind::SYMBOL_WORD)], 20);
  EXPECT_EQ(counts[int(WordKind::GLOBAL_WORD)], 105);
  EXPECT_EQ(counts[int(WordKind::REFINEMENT)], 6);
  EXPECT_EQ(kel::runtime::RUNTIME_WORD_COUNT, 243u);
}

TEST(RuntimeWords, SpellingsAndOrder) {
  using kel::runtime::runtime_word_index;
  using kel::runtime::runtime_words;
  EXPECT_EQ(runtime_words[0].spelling, "spec");
  EXPECT_EQ(runtime_words[runtime_word_index("swaped", WordKind::GLOBAL_WORD)].spelling, "swaped");
  EXPECT_EQ(runtime_words[runtime_word_index("put-ed", WordKind::GLOBAL_WORD)].spelling, "put-ed");
  constexpr size_t anon = runtime_word_index("<anon>", WordKind::GLOBAL_WORD);
  static_assert(runtime_words[anon + 1].spelling == "<body>");
  static_assert(runtime_words[anon + 2].spelling == "<not-found>");
  // The same spelling may appear more than once; the lookup finds the first.
  constexpr size_t first_throw = runtime_word_index("throw", WordKind::GLOBAL_WORD);
  size_t throws = 0;
  for (size_t i = 0; i < kel::runtime::RUNTIME_WORD_COUNT; ++i)
    if (runtime_words[i].spelling == "throw" && runtime_words[i].kind == WordKind::GLOBAL_WORD) {
      if (throws++ == 0) {
        EXPECT_EQ(i, first_throw);
      }
    }
  EXPECT_EQ(throws, 2u);
  EXPECT_EQ(runtime_words[kel::runtime::RUNTIME_WORD_COUNT - 1].spelling, "with");
  EXPECT_EQ(runtime_words[kel::runtime::RUNTIME_WORD_COUNT - 1].kind, WordKind::REFINEMENT);
}
