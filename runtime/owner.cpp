// Ownership tracking: the owner table, owning and disowning values recursively through the
// cycle guard, and the deep-change notice that calls the owner's on-deep-change*.
#include "runtime/owner.h"

#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/hash_mem.h"

namespace kel::owner {

using gc::Kept;

Node table = 0;

namespace {

bool block_like_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}
bool ownable_series_q(uint32_t t) {
  return block_like_q(t) || t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG ||
         t == T_EMAIL || t == T_REF || t == T_BINARY || t == T_VECTOR || t == T_BITSET;
}
bool object_q(uint32_t t) { return t == T_OBJECT || t == T_ERROR || t == T_PORT; }

bool owned_q(Node n) { return n && (memory::node_buffer(n)->flags & sflag::OWNED); }

Cell* values(Node ctx) { return reinterpret_cast<Cell*>(hash::mem::data(context::values_node(ctx))); }
int32_t value_count(Node ctx) { return int32_t(hash::mem::used(context::values_node(ctx)) / 16); }

// The table, when start-up (or a fresh heap since) has made it.
Node live_table() { return gc::state().roots.owner_table == &table ? table : 0; }

uint32_t key_of(const Cell* v) { return object_q(cell::type(v)) ? v->w1 : v->w2; }

void add_record(const Cell* value, const Cell* owner, const Cell* word) {
  Kept v(value), o(owner), w(word);
  if (!live_table()) init();
  Cell* rec = hash::table_add_key(table, key_of(&v.c));
  rec[0] = v.c;
  rec[1] = o.c;
  rec[2] = w.c;
}

}  // namespace

void init() {
  table = hash::table_create(1000, nullptr, hash::KIND_OWNER, 3);
  gc::state().roots.owner_table = &table;
}

void own(const Cell* value, const Cell* owner, const Cell* word) {
  Kept v(value), o(owner), w(word);
  uint32_t t = cell::type(&v.c);
  if (ownable_series_q(t)) {
    if (!v.c.w2) return;
    if (!owned_q(v.c.w2)) {
      memory::node_buffer(v.c.w2)->flags |= sflag::OWNED;
      add_record(&v.c, &o.c, &w.c);
    }
    if (!block_like_q(t) || cycle::visiting_q(v.c.w2)) return;
    cycle::Scope scope(v.c.w2);
    for (int32_t i = int32_t(v.c.w1); i < block::count_from_head(&v.c) + int32_t(v.c.w1); ++i) {
      Cell e = *block::cell_at_index(&v.c, i);
      own(&e, &o.c, &w.c);
    }
    return;
  }
  if (object_q(t)) {
    Node ctx = v.c.w1;
    if ((context::cell_of(ctx)->header & object::CONTEXT_OWNER) || cycle::visiting_q(ctx)) return;
    cycle::Scope scope(ctx);
    for (int32_t i = 0; i < value_count(v.c.w1); ++i) {
      Cell e = values(v.c.w1)[i];
      if (object_q(cell::type(&e)) && e.w1 == o.c.w1) continue;
      Cell fw = *context::word_at(v.c.w1, i);
      fw = Cell{T_WORD, v.c.w1, fw.w2, uint32_t(i)};
      own(&e, &o.c, &fw);
    }
  }
}

void attach_flagged(const Cell* value, const Cell* owner, const Cell* word) {
  Kept o(owner);
  own(value, &o.c, word);
  if (object_q(cell::type(&o.c))) context::cell_of(o.c.w1)->header |= object::CONTEXT_OWNER;
}

void disown(const Cell* value) {
  Kept v(value);
  uint32_t t = cell::type(&v.c);
  if (object_q(t)) {
    Node ctx = v.c.w1;
    if ((context::cell_of(ctx)->header & object::CONTEXT_OWNER) || cycle::visiting_q(ctx)) return;
    cycle::Scope scope(ctx);
    for (int32_t i = 0; i < value_count(v.c.w1); ++i) {
      Cell e = values(v.c.w1)[i];
      disown(&e);
    }
    return;
  }
  if (!ownable_series_q(t) || !v.c.w2) return;
  memory::node_buffer(v.c.w2)->flags &= ~sflag::OWNED;
  Cell* rec = live_table() ? hash::table_lookup_key(table, v.c.w2) : nullptr;
  if (!rec) return;
  rec[0] = rec[1] = rec[2] = Cell{T_UNSET, 0, 0, 0};
  hash::table_delete_key(table, v.c.w2);
  if (!block_like_q(t) || cycle::visiting_q(v.c.w2)) return;
  cycle::Scope scope(v.c.w2);
  for (int32_t i = int32_t(v.c.w1); i < block::count_from_head(&v.c) + int32_t(v.c.w1); ++i) {
    Cell e = *block::cell_at_index(&v.c, i);
    disown(&e);
  }
}

Cell* find(const Cell* value) {
  uint32_t t = cell::type(value);
  if (!live_table()) return nullptr;
  if (ownable_series_q(t)) {
    if (!owned_q(value->w2)) return nullptr;
  } else if (!object_q(t)) {
    return nullptr;
  }
  Cell* rec = hash::table_lookup_key(table, key_of(value));
  return rec ? rec + 1 : nullptr;
}

Notice& last_notice() {
  static Notice n{};
  return n;
}

int32_t notify_change(const Cell* value, const char* action, const Cell* new_value,
                      int32_t index, int32_t part) {
  // Every modifying action notices before and after its change: the block's stamp moves
  // at both (a handler may run code between them).
  if (block::any_block_q(cell::type(value)) && value->w2) memory::touch_node(value->w2);
  Notice& note = last_notice();
  ++note.calls;
  note.value = *value;
  note.action = action;
  note.index = index;
  note.part = part;
  uint32_t t = cell::type(value);
  if (ownable_series_q(t) && !owned_q(value->w2)) return 0;
  Cell* rec = find(value);
  if (!rec || !rec[0].w3) return 0;
  Kept v(value), n(new_value), o(rec), w(rec + 1);
  Cell a = word::intern_global(action);
  a.header = T_WORD;
  Kept ka(&a);
  object::fire_deep_change(&o.c, &w.c, &v.c, &ka.c, &n.c, index, part);
  if (block::any_block_q(cell::type(&v.c)) && v.c.w2) memory::touch_node(v.c.w2);
  return 1;
}

}  // namespace kel::owner
