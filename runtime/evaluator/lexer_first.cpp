// The lexer's first-value services for the word family: the datatype of the first value
// of a name's text, and the first value loaded from a string.
#include "runtime/compiled_support.h"
#include "runtime/evaluator/lexer_first.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"

namespace kel::lexer {

uint32_t scan_first_type(const uint8_t* text, int32_t length) {
  Cell result{T_NONE, 0, 0, 0};
  gc::Root keep(&result);
  int32_t type = lexer_scan(&result, text, length, true, true, false, false, nullptr, nullptr,
                            nullptr, nullptr);
  return type > 0 ? uint32_t(type) : 0;  // structure tokens are no value type
}

void load_first_value(const Cell* string, Cell* out) {
  Cell block{T_NONE, 0, 0, 0};
  gc::Root keep(&block);
  *out = *runtime::load_first_value(&block, string);
}

}  // namespace kel::lexer
