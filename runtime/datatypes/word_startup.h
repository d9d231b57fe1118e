// Start-up interning of the type words and of the runtime's own words and refinements.
#pragma once

namespace kel::datatype {
// Every registered datatype's name as a global word, stored in its type record.
void intern_type_words();
}  // namespace kel::datatype

namespace kel::runtime {
// Fills runtime_word_ids: symbols, global words, then the refinements.
void intern_runtime_words();
void make_runtime_refinements();
}  // namespace kel::runtime
