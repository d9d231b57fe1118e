// string! registration: its row of action slots, the series! row it inherits from (an
// empty one while series! actions are not registered), and the rotate scratch block.
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kel::string {

void install_type() {
  using datatype::inherit;
  init_scratch();
  // string! inherits its series actions from the series! row, which must exist first.
  if (!datatype::type_table[T_SERIES].name)
    datatype::register_type({.id = T_SERIES, .parent = 0, .name = "series!", .slots = {}});
  datatype::register_type(
      {.id = T_STRING, .parent = T_SERIES, .name = "string!",
       .slots = {.make = make, .random = inherit, .reflect = inherit, .to = to, .form = form,
                 .mold = mold, .compare = compare, .at = inherit, .back = inherit,
                 .clear = inherit, .copy = inherit, .head = inherit, .head_q = inherit,
                 .index_q = inherit, .length_q = inherit, .move = inherit, .next = inherit,
                 .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit,
                 .skip = inherit, .tail = inherit, .tail_q = inherit, .modify = inherit}});
}

}  // namespace kel::string
