// triple!: "make triple! [a b c]" as both form and mold; no other slot.
#include "runtime/datatypes/triple.h"

#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kel::triple {

namespace {
int32_t add_text(Cell* buffer, const char* text) {
  string::add_c_text(buffer, text);
  return int32_t(std::strlen(text));
}
}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  int32_t n = add_text(buffer, "make triple! [");
  n += add_text(buffer, integer::to_decimal_text(int32_t(value->w1)));
  n += add_text(buffer, " ");
  n += add_text(buffer, integer::to_decimal_text(int32_t(value->w2)));
  n += add_text(buffer, " ");
  n += add_text(buffer, integer::to_decimal_text(int32_t(value->w3)));
  n += add_text(buffer, "]");
  return limit - n;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

void install_type() {
  datatype::register_type(
      {.id = T_TRIPLE, .parent = 0, .name = "triple!", .slots = {.form = form, .mold = mold}});
}

}  // namespace kel::triple
