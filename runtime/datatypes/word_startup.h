// Start-up interning of the runtime's own words and refinements, after the type words;
// the ids land in runtime::runtime_word_ids.
#pragma once

namespace kel::runtime {
// Fills runtime_word_ids: symbols, global words, then the refinements.
void intern_runtime_words();
void make_runtime_refinements();
}  // namespace kel::runtime
