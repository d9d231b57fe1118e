// string! registration: its row of action slots, the series! row it inherits from (an
// empty one while series! actions are not registered), and the rotate scratch block.
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"

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
                 .mold = mold, .eval_path = eval_path, .compare = compare,
                 .append = append, .at = inherit, .back = inherit, .change = change,
                 .clear = inherit, .copy = inherit, .find = find, .head = inherit,
                 .head_q = inherit, .index_q = inherit, .insert = insert,
                 .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit,
                 .poke = inherit, .remove = inherit, .reverse = inherit, .select = select,
                 .sort = sort, .skip = inherit, .swap = swap, .tail = inherit,
                 .tail_q = inherit, .take = inherit, .trim = trim, .modify = inherit}});
}

}  // namespace kel::string
