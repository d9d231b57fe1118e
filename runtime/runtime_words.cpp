// Storage for the interned ids of the runtime's own words.
// The table itself is constexpr in runtime_words.h.
#include "runtime/runtime_words.h"

namespace kel::runtime {
uint32_t runtime_word_ids[RUNTIME_WORD_COUNT] = {};
}  // namespace kel::runtime
