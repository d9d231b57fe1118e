// Stand-in until the map unit lands: map key canonicalisation.
#include "runtime/hash_stubs.h"

#include "runtime/hash.h"

namespace kel {

namespace map {
Cell* prepare_key(Cell* key) {
  uint32_t t = cell::type(key);
  if (t >= T_WORD && t <= T_GET_WORD) cell::set_type(key, T_SET_WORD);
  return key;
}
}  // namespace map

}  // namespace kel
