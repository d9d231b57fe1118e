// Stand-ins until the memory manager, collector, comparison, map and symbol units
// land: a plain node table for series memory and minimal value comparison.
#include "runtime/hash_stubs.h"

#include <cstring>
#include <vector>

#include "runtime/hash.h"
#include "runtime/hash_mem.h"
#include "runtime/rt.h"

namespace kel::hash::mem {
namespace {

struct Buf {
  uint8_t* data;
  uint32_t cap, used, unit;
};
std::vector<Buf>& nodes() {
  static std::vector<Buf> v(1, Buf{nullptr, 0, 0, 0});
  return v;
}
uint32_t relocation_count = 0;
bool moving = true;

Node make(uint32_t bytes, uint32_t unit) {
  uint32_t cap = (bytes + 15) & ~15u;
  if (!cap) cap = 16;
  nodes().push_back(Buf{static_cast<uint8_t*>(rt::alloc_zeroed(cap)), cap, 0, unit});
  return Node(nodes().size() - 1);
}

}  // namespace

Node new_bytes(uint32_t n) { return make(n, 1); }
Node new_cells(uint32_t n) { return make(n * 16, 16); }
Node new_units(uint32_t n, uint32_t u) { return make(n * u, u); }
uint8_t* data(Node n) { return nodes()[n].data; }
uint32_t used(Node n) { return nodes()[n].used; }
void set_used(Node n, uint32_t bytes) { nodes()[n].used = bytes; }
uint32_t room(Node n) { return nodes()[n].cap; }
uint32_t unit(Node n) { return nodes()[n].unit; }
void ensure(Node n, uint32_t bytes) {
  Buf& b = nodes()[n];
  if (bytes <= b.cap) return;
  uint32_t cap = b.cap * 2;
  if (cap < bytes) cap = (bytes + 15) & ~15u;
  uint8_t* d = static_cast<uint8_t*>(rt::alloc_zeroed(cap));
  std::memcpy(d, b.data, b.used);
  rt::free(b.data);
  b.data = d;
  b.cap = cap;
}
Node clone(Node n) {
  Buf src = nodes()[n];
  Node c = make(src.cap, src.unit);
  std::memcpy(nodes()[c].data, src.data, src.used);
  nodes()[c].used = src.used;
  return c;
}

uint32_t relocations() { return relocation_count; }
bool collecting() { return false; }
bool node_moving() { return moving; }
void set_node_moving(bool on) { moving = on; }

// Marks live beside the node table; only tests run a marking pass here.
std::vector<uint8_t>& marks() {
  static std::vector<uint8_t> m;
  if (m.size() < nodes().size()) m.resize(nodes().size(), 0);
  return m;
}

bool mark_series(uint32_t* word) {
  if (!*word || *word >= nodes().size() || marks()[*word]) return false;
  marks()[*word] = 1;
  return true;
}
void mark_cells(Cell* first, Cell* end) {
  for (Cell* c = first; c < end; c++) {
    uint32_t t = cell::type(c);
    uint32_t* w = nullptr;
    switch (t) {
      case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
      case T_MAP: case T_HASH:
        w = &c->w2;
        if (t == T_HASH || t == T_MAP) hash::mark_table(&c->w3);
        break;
      case T_OBJECT: case T_PORT: case T_ERROR: case T_WORD: case T_SET_WORD: case T_LIT_WORD:
      case T_GET_WORD: case T_REFINEMENT:
        w = &c->w1;
        break;
      case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_BINARY:
      case T_BITSET: case T_VECTOR:
        mark_series(&c->w2);
        continue;
      default:
        continue;
    }
    if (mark_series(w) && nodes()[*w].unit == 16) {
      Cell* d = reinterpret_cast<Cell*>(nodes()[*w].data);
      mark_cells(d, d + nodes()[*w].used / 16);
    }
  }
}
bool marked(Node n) { return n && n < nodes().size() && marks()[n]; }
void remap(uint32_t*) {}
void testing_clear_marks() { marks().assign(nodes().size(), 0); }

Root::Root(uint32_t* w) : target(w) {}
Root::Root(Cell* c) : target(c) {}
Root::~Root() {}
void add_global_root(uint32_t*) {}

// Test hooks: moves a buffer to a fresh node, as pool evacuation does, and counts it.
Node testing_move_node(Node old) {
  nodes().push_back(nodes()[old]);
  nodes()[old] = Buf{nullptr, 0, 0, 0};
  return Node(nodes().size() - 1);
}
void testing_count_relocation() { relocation_count++; }

}  // namespace kel::hash::mem

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

uint32_t fold(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  return c;
}

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

namespace actions {
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
}  // namespace actions

namespace map {
Cell* prepare_key(Cell* key) {
  uint32_t t = cell::type(key);
  if (t >= T_WORD && t <= T_GET_WORD) cell::set_type(key, T_SET_WORD);
  return key;
}
}  // namespace map

namespace symbol {
int32_t canonical_id(int32_t id) {
  if (!hash::symbol_table || id <= 0) return id;
  hash::Node v = uint32_t(hash::record(hash::symbol_table)[hash::rec::VALUES]);
  if (uint32_t(id) > used(v) / 16) return id;
  const Cell* s = reinterpret_cast<const Cell*>(data(v)) + (id - 1);
  return int32_t(s->w1) > 0 ? int32_t(s->w1) : id;
}
}  // namespace symbol

}  // namespace kel
