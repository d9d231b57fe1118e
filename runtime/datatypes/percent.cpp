// percent!: registration (inheriting float!'s numeric slots), form and mold through the
// percent kind of float/number-to-text, the cell API, and reading a percent from text.
#include "runtime/datatypes/percent.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/stack.h"

namespace kel::float_::percent_text {

// make/to percent! from text: the text loaded as one value (integer, float or percent).
double load(const Cell* spec) {
  Cell* out = stack::reserve_cell();
  *out = Cell{T_NONE, 0, 0, 0};
  lexer::transcode_string(out, spec, -1, true, true, true, false, nullptr, nullptr, nullptr);
  uint32_t t = cell::type(out);
  double d;
  if (t == T_INTEGER) d = double(cell::get_int(out));
  else if (t == T_FLOAT || t == T_PERCENT) d = cell::get_double(out);
  else {
    Cell dt{T_DATATYPE, T_PERCENT, 0, 0};
    error::raise(err::script::bad_to_arg, &dt, spec);
  }
  stack::drop_cells(1);
  return d;
}

}  // namespace kel::float_::percent_text

namespace kel::percent {

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  std::string text = float_::number_to_text(cell::get_double(value) * 100.0, float_::kind::PERCENT);
  for (unsigned char c : text) string::add_codepoint(buffer, c);
  return limit - int32_t(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

Cell* init_cell(Cell* c, double fraction) {
  *c = Cell{T_PERCENT, 0, 0, 0};
  cell::put_double(c, fraction);
  return c;
}

Cell* set_result(double fraction) {
  Cell v;
  init_cell(&v, fraction);
  return stack::set_result(&v);
}

Cell* add_to_block(Cell* block, uint32_t low, uint32_t high) {
  Cell v{T_PERCENT, 0, low, high};
  return block::append_copy(block, &v);
}

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_PERCENT, .parent = T_FLOAT, .name = "percent!",
       .slots = {.make = inherit, .random = inherit, .to = inherit, .form = form,
                 .mold = mold, .compare = inherit, .absolute = inherit, .add = inherit,
                 .divide = inherit, .multiply = inherit, .negate = inherit,
                 .power = inherit, .remainder = inherit, .round = inherit,
                 .subtract = inherit, .even_q = inherit, .odd_q = inherit}});
}

}  // namespace kel::percent
