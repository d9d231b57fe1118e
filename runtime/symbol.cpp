// Symbols: the symbol list and its kind-2 hash, exact and any-case interning, canonical ids,
// the lazily built name strings, and the symbol! datatype (compare only).
#include "runtime/symbol.h"

#include <cstring>
#include <string>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/hash_mem.h"
#include "runtime/unicode.h"

namespace kel::symbol {

Node list = 0;

namespace {

// Names are copied here before interning: the caller's bytes may move with any allocation.
std::string& scratch() {
  static std::string s;
  return s;
}

Node list_node() { return uint32_t(hash::record(hash::symbol_table)[hash::rec::VALUES]); }

Cell* entry(int32_t id) { return reinterpret_cast<Cell*>(hash::mem::data(list_node())) + (id - 1); }

bool valid(int32_t id) { return hash::symbol_table && id > 0 && uint32_t(id) <= count(); }

// Names interned lately, by a hash of their exact bytes: a name met again (most words of
// a loaded text) skips the folding and the table's probe. A hit is checked against the
// symbol's own spelling, and a spelling names one symbol only, so a stale or colliding
// entry just misses.
struct Recent {
  uint32_t hash;
  int32_t id;
};
constexpr uint32_t RECENT_SLOTS = 1024;
Recent g_recent[RECENT_SLOTS];

uint32_t exact_hash(const uint8_t* text, uint32_t length) {
  uint32_t h = 2166136261u ^ length;
  for (uint32_t i = 0; i < length; ++i) h = (h ^ text[i]) * 16777619u;
  return h;
}

int32_t recent_id(uint32_t h, const uint8_t* text, uint32_t length) {
  const Recent& r = g_recent[h & (RECENT_SLOTS - 1)];
  if (r.hash != h || r.id <= 0) return 0;
  SeriesBuffer* list = memory::node_buffer(list_node());
  if (uint32_t(r.id) > memory::used_bytes(list) / 16) return 0;
  SeriesBuffer* name = memory::node_buffer(memory::head_cells(list)[r.id - 1].w3);
  if (memory::used_bytes(name) != length || std::memcmp(memory::head(name), text, length) != 0) return 0;
  return r.id;
}

int32_t intern(const uint8_t* text, uint32_t length, bool any_case) {
  // The table copies the name before it allocates; only making the table comes first.
  if (hash::symbol_table) {
    if (any_case) return hash::find_symbol_name(hash::symbol_table, text, length, true);
    uint32_t h = exact_hash(text, length);
    if (int32_t id = recent_id(h, text, length)) return id;
    int32_t id = hash::find_symbol_name(hash::symbol_table, text, length, false);
    g_recent[h & (RECENT_SLOTS - 1)] = Recent{h, id};
    return id;
  }
  std::string& s = scratch();
  s.assign(reinterpret_cast<const char*>(text), length);
  create_hash();
  return hash::find_symbol_name(hash::symbol_table, reinterpret_cast<const uint8_t*>(s.data()), length,
                                any_case);
}

}  // namespace

void create_hash() {
  for (Recent& r : g_recent) r = Recent{0, 0};  // ids of another table
  detail::g_list_view = detail::ListView{~uint64_t(0), nullptr, 0};
  Cell source{T_BLOCK, 0, list, 0};
  hash::symbol_table = hash::table_create(int32_t(INITIAL_ENTRIES), list ? &source : nullptr,
                                          hash::KIND_SYMBOLS, 0);
  list = 0;  // the table's record holds the list from now on
  gc::state().roots.symbol_hash = &hash::symbol_table;
}

int32_t intern_text(const uint8_t* text, uint32_t length) { return intern(text, length, false); }

int32_t intern_c_text(const char* text) {
  return intern(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), false);
}

int32_t intern_c_text_any_case(const char* text) {
  return intern(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), true);
}

int32_t intern_string(const Cell* string) {
  Cell s = *string;
  s.w3 = 0;  // a conversion buffer of our own: the value may not be ours to change
  gc::Root keep(&s);
  int32_t n = -1;
  const uint8_t* bytes = unicode::string_as_utf8(&s, &n);
  return intern(bytes, uint32_t(n), false);
}

uint32_t count() { return hash::symbol_table ? hash::mem::used(list_node()) / 16 : 0; }

void ensure_string(int32_t id) {
  if (entry(id)->w2) return;
  uint32_t length = hash::mem::used(entry(id)->w3);
  std::string& s = scratch();
  s.assign(reinterpret_cast<const char*>(hash::mem::data(entry(id)->w3)), length);
  Node str = unicode::utf8_to_new_string(reinterpret_cast<const uint8_t*>(s.data()), int32_t(length));
  entry(id)->w2 = str;  // nothing allocates between the making and the storing
}

Cell* cell_of(int32_t id) {
  ensure_string(id);
  return entry(id);
}

Node string_node(int32_t id) { return cell_of(id)->w2; }

const uint8_t* utf8(int32_t id, uint32_t* length) {
  Node n = entry(id)->w3;
  *length = hash::mem::used(n);
  return hash::mem::data(n);
}

std::string text(int32_t id) {
  if (!valid(id)) return "#" + std::to_string(id);
  uint32_t n = 0;
  const uint8_t* p = utf8(id, &n);
  return std::string(reinterpret_cast<const char*>(p), n);
}

namespace detail {
ListView g_list_view{~uint64_t(0), nullptr, 0};

int32_t canonical_id_slow(int32_t id) {
  if (!hash::symbol_table) return id;
  SeriesBuffer* b = memory::node_buffer(list_node());
  // Nothing allocates here: the view stays good until the buffer moves.
  g_list_view = ListView{memory::state().moves, memory::head_cells(b), memory::used_bytes(b) / 16};
  if (id <= 0 || uint32_t(id) > g_list_view.count) return id;
  int32_t alias = int32_t(g_list_view.entries[id - 1].w1);
  return alias > 0 ? alias : id;
}
}  // namespace detail

int32_t alias_id(int32_t id) {
  // The list's view canonical_id keeps, while it is good (the same entry, read live).
  const detail::ListView& v = detail::g_list_view;
  if (v.moves == memory::state().moves && uint32_t(id - 1) < v.count) return int32_t(v.entries[id - 1].w1);
  return valid(id) ? int32_t(entry(id)->w1) : -1;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_SYMBOL) return -2;
  // Temporary strings from the UTF-8 names when an entry has none yet.
  Cell sa{T_STRING, 0, a->w2, 0}, sb{T_STRING, 0, b->w2, 0};
  Node ba = a->w3, bb = b->w3;
  gc::Root ka(&sa), kb(&sb), kna(&ba), knb(&bb);
  if (!sa.w2) {
    std::string t(reinterpret_cast<const char*>(hash::mem::data(ba)), hash::mem::used(ba));
    sa.w2 = unicode::utf8_to_new_string(reinterpret_cast<const uint8_t*>(t.data()), int32_t(t.size()));
  }
  if (!sb.w2) {
    std::string t(reinterpret_cast<const char*>(hash::mem::data(bb)), hash::mem::used(bb));
    sb.w2 = unicode::utf8_to_new_string(reinterpret_cast<const uint8_t*>(t.data()), int32_t(t.size()));
  }
  return string::compare_strings(&sa, &sb, op, false);
}

void install_type() {
  datatype::Registration r{T_SYMBOL, 0, "symbol!", {}};
  r.slots.compare = &compare;
  datatype::register_type(r);
}

}  // namespace kel::symbol

// The name the error report and the call-word lists print.
namespace kel::error::detail {
std::string symbol_text(uint32_t symbol) { return symbol::text(int32_t(symbol)); }
}  // namespace kel::error::detail
