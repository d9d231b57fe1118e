// Start-up interning of the runtime's own symbols, global words and refinements, whose ids
// runtime code reads as constants (the type words come first, from the registry).
#include "runtime/datatypes/word_startup.h"

#include <string>

#include "runtime/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/runtime_words.h"
#include "runtime/symbol.h"

namespace kel::runtime {

void intern_runtime_words() {
  for (size_t i = 0; i < RUNTIME_WORD_COUNT; ++i) {
    const RuntimeWord& w = runtime_words[i];
    switch (w.kind) {
      case WordKind::SYMBOL:
        runtime_word_ids[i] = uint32_t(symbol::intern(w.spelling));
        break;
      case WordKind::SYMBOL_WORD: {
        int32_t id = symbol::intern(w.spelling);  // interned above: no new entry
        context::add_global_word(id);
        runtime_word_ids[i] = uint32_t(id);
        break;
      }
      case WordKind::GLOBAL_WORD: {
        int32_t id = symbol::intern(w.spelling);
        context::add_word(id, true, true);
        runtime_word_ids[i] = uint32_t(id);
        break;
      }
      case WordKind::REFINEMENT:
        break;  // make_runtime_refinements
    }
  }
}

void make_runtime_refinements() {
  for (size_t i = 0; i < RUNTIME_WORD_COUNT; ++i) {
    const RuntimeWord& w = runtime_words[i];
    if (w.kind != WordKind::REFINEMENT) continue;
    std::string text(w.spelling);
    runtime_word_ids[i] = refinement::add_global(text.c_str()).w2;
  }
}

}  // namespace kel::runtime
