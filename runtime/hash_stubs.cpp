// Stand-in for the map unit's key canonicalisation until that unit lands.
#include "runtime/hash_stubs.h"

namespace kel::map {

Cell* prepare_key(Cell* key) {
  uint32_t t = cell::type(key);
  if (t >= T_WORD && t <= T_GET_WORD) cell::set_type(key, T_SET_WORD);
  return key;
}

}  // namespace kel::map
