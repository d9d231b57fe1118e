// Stand-ins until the comparison and map units land: key equality for the tables and
// map key canonicalisation.
#include "runtime/hash_stubs.h"

#include "runtime/hash_mem.h"
#include "runtime/casemap.h"
#include "runtime/hash.h"

namespace kel {
namespace {

using hash::mem::data;
using hash::mem::unit;
using hash::mem::used;

uint32_t char_at(const Cell* c, uint32_t i) {
  uint32_t u = unit(c->w2);
  const uint8_t* d = data(c->w2);
  return u == 1 ? d[i] : u == 2 ? reinterpret_cast<const uint16_t*>(d)[i] : reinterpret_cast<const uint32_t*>(d)[i];
}

uint32_t fold(uint32_t c) { return uint32_t(case_::map_char(int32_t(c), case_::DIR_UPPER)); }

bool strings_equal(const Cell* a, const Cell* b, bool fold_case) {
  uint32_t la = a->w2 ? used(a->w2) / unit(a->w2) : 0, lb = b->w2 ? used(b->w2) / unit(b->w2) : 0;
  uint32_t ha = a->w1 > la ? la : a->w1, hb = b->w1 > lb ? lb : b->w1;
  if (la - ha != lb - hb) return false;
  for (uint32_t i = 0; i < la - ha; i++) {
    uint32_t x = char_at(a, ha + i), y = char_at(b, hb + i);
    if (fold_case) x = fold(x), y = fold(y);
    if (x != y) return false;
  }
  return true;
}

bool is_string(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
bool is_word(uint32_t t) { return t >= T_WORD && t <= T_ISSUE; }

}  // namespace

namespace hash_stub {
int compare(const Cell* a, const Cell* b, int op) {
  uint32_t ta = cell::type(a), tb = cell::type(b);
  bool equal_op = op == 0 || op == 12;
  bool eq;
  if (ta != tb && !(equal_op && is_word(ta) && is_word(tb))) {
    eq = false;
  } else if (is_string(ta)) {
    eq = strings_equal(a, b, equal_op);
  } else if (is_word(ta)) {
    eq = equal_op ? symbol::canonical_id(int32_t(a->w2)) == symbol::canonical_id(int32_t(b->w2)) : a->w2 == b->w2;
  } else if (ta == T_UNSET || ta == T_NONE) {
    eq = true;
  } else if (ta == T_INTEGER || ta == T_CHAR) {
    eq = a->w2 == b->w2;
  } else {
    eq = a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
  }
  return op == 1 ? !eq : eq;
}
}  // namespace hash_stub

namespace map {
Cell* prepare_key(Cell* key) {
  uint32_t t = cell::type(key);
  if (t >= T_WORD && t <= T_GET_WORD) cell::set_type(key, T_SET_WORD);
  return key;
}
}  // namespace map

}  // namespace kel
