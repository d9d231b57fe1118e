// map! values: key/value entries in a block indexed by a map-kind hash table; key rules,
// the entry operations extend, foreach and the lexer build on, and the map! action slots.
#include "runtime/datatypes/map.h"

#include <cmath>

#include "runtime/cell_api.h"
#include "runtime/compiled_support.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_util.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::map {
namespace {

// Lookup modes of the table.
constexpr int OP_DEFAULT = 0, OP_CASE = 2, OP_SAME = 9;
// A room hint above this many entries is not preallocated: the map grows as it fills.
constexpr int64_t ROOM_HINT_CAP = int64_t(1) << 22;

SeriesBuffer* entries_buf(const Cell* m) { return memory::node_buffer(m->w2); }
// Entry cells from the buffer's head (the table's positions); valid until an allocation.
Cell* cells(const Cell* m) { return memory::head_cells(entries_buf(m)); }
int32_t cell_count(const Cell* m) { return int32_t(memory::used_bytes(entries_buf(m)) / sizeof(Cell)); }
bool live_at(const Cell* m, int32_t key_pos) {
  return key_pos + 1 < cell_count(m) && cell::type(cells(m) + key_pos + 1) != 0;
}

Cell* push_result(const Cell& v) {
  Cell* r = stack::reserve_cell();
  *r = v;
  return r;
}

bool word_kind_q(uint32_t t) { return t >= T_WORD && t <= T_GET_WORD; }

bool string_like_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_BINARY || t == T_TAG ||
         t == T_EMAIL || t == T_REF;
}

// A stored key as readers hand it out: set-word! keys as word!.
Cell key_out(Cell k) {
  if (cell::type(&k) == T_SET_WORD) cell::set_type(&k, T_WORD);
  k.header &= ~hdr::NEW_LINE;
  return k;
}

// A stored key handed to Kel code (`words-of`, `body-of`, `foreach`, `find`), in place: a
// series key as a copy of its own. The stored one stays the map's: changed in place it would
// leave the table looking for its old text. k is rooted by the caller.
void hand_out(Cell* k) {
  *k = key_out(*k);
  if (!string_like_q(cell::type(k))) return;
  actions::direct<datatype::action::COPY>(k, k, nullptr, false, nullptr);
  k->header &= ~hdr::NEW_LINE;
}

int lookup_op(bool case_, bool same) { return same ? OP_SAME : case_ ? OP_CASE : OP_DEFAULT; }

// The last string! key found, where: a path that reads a key and then sets it (`m/:k: 1 +
// any [m/:k 0]`) looks the text up once. Good while no table changed its buckets since
// (hash::map_writes) and no node was renamed; the stored key is compared with the key again,
// and a key met first in its probe chain under folding is met first by every text equal to
// it (all of them hash alike), while under /case a stored key equals no other one.
struct LastFound {
  Node table = 0;
  uint32_t key_node = 0, key_head = 0;
  int32_t at = -1;
  int op = -1;
  uint64_t writes = 0, renames = 0;
};
LastFound last_found;

// Position of the key cell of the entry for key (live or removed), or -1. A string! or word
// key misses with `slot` set to the bucket it would take (else slot is -1).
int32_t locate(const Cell* m, const Cell* key, int op, int64_t* slot = nullptr) {
  if (slot) *slot = -1;
  if (op != OP_SAME && hash::map_key_in_place_q(key)) {
    // Nothing allocates: the key and the arrays are read in place.
    bool text = cell::type(key) == T_STRING;
    LastFound& lf = last_found;
    if (text && lf.table == m->w3 && lf.key_node == key->w2 && lf.key_head == key->w1 &&
        lf.op == op && lf.writes == hash::map_writes && lf.renames == memory::state().renames) {
      SeriesBuffer* b = entries_buf(m);
      if (lf.at + 1 < int32_t(memory::used_bytes(b) / sizeof(Cell)) &&
          hash::map_search_equal_q(memory::head_cells(b) + lf.at, key, op == OP_DEFAULT))
        return lf.at;
    }
    Cell* found = hash::map_search(m->w3, key, op == OP_DEFAULT, slot);
    if (!found) return -1;
    int32_t at = int32_t(found - cells(m));
    if (text) lf = LastFound{m->w3, key->w2, key->w1, at, op, hash::map_writes, memory::state().renames};
    return at;
  }
  Cell k = *key;
  gc::Root keep(&k);
  Cell* found = hash::table_search(m->w3, &k, 0, 1, op, false, false);
  if (!found) return -1;
  return int32_t(found - cells(m));
}

// Position of a live entry for key, or -1.
int32_t locate_live(const Cell* m, const Cell* key, int op) {
  int32_t at = locate(m, key, op);
  return at >= 0 && live_at(m, at) ? at : -1;
}

// Sets the key's value: an existing entry (removed or not) takes it in place, a new key is
// prepared and appended with its value. m is rooted by the caller.
void assign(Cell* m, const Cell* key_in, const Cell* value_in, int op, const Cell* culprit) {
  Cell k = *key_in, v = *value_in;
  gc::Root keep_k(&k), keep_v(&v);
  v.header &= ~hdr::NEW_LINE;
  int64_t slot;
  int32_t at = locate(m, &k, op, &slot);
  if (at >= 0) {
    if (!live_at(m, at)) hash::record(m->w3)[hash::rec::SIZE]++;
    cells(m)[at + 1] = v;
    return;
  }
  uint64_t writes = hash::map_writes;
  prepare_key(&k, culprit);
  Cell blk{T_BLOCK, 0, m->w2, 0};
  gc::Root keep_b(&blk);
  block::append_copy(&blk, &k);
  Cell unset;
  cell::set_unset(&unset);
  block::append_copy(&blk, &unset);
  at = cell_count(m) - 2;
  // The bucket the miss named, while no table has changed since; else a probe of its own.
  if (writes != hash::map_writes || !hash::map_add_at(m->w3, at, slot)) {
    int status = 0;
    hash::table_add_value(m->w3, cells(m) + at, &status);
  }
  cells(m)[at + 1] = v;
}

// A block-like spec's pairs must be even; the value's count from its head.
int32_t pair_cells(Cell* spec) {
  int32_t n = block::count_from_head(spec);
  if (n < 0) n = 0;
  if (n % 2) error::raise(err::script::invalid_arg, spec);
  return n;
}

// The spec copied into a fresh block (head 0, new-line markers cleared), in out.
void copy_spec_block(Cell* spec, Cell* out) {
  Cell* c = block::clone(spec, false, false);
  *out = *c;
  stack::drop_cells(1);
  Cell* p = cells(out);
  for (int32_t i = 0, n = cell_count(out); i < n; ++i) p[i].header &= ~hdr::NEW_LINE;
}

int32_t canon(int32_t symbol) { return symbol::canonical_id(symbol); }
int32_t canon_text(const char* text) { return canon(symbol::intern_c_text(text)); }

int32_t add_indent(Cell* buffer, int32_t level) {
  for (int32_t i = 0; i < level; ++i) string::add_c_text(buffer, "    ");
  return level * 4;
}

// Appends the live entries as "key value" text.
int32_t write_entries(Cell* value, Cell* buffer, bool mold_q, bool only, bool all, bool flat,
                      Cell* part, int32_t budget, int32_t indent) {
  Cell m = *value;
  gc::Root keep(&m);
  cycle::Scope scope(m.w2);
  bool wrote = false;
  for (int32_t i = 0; i + 1 < cell_count(&m); i += 2) {
    if (part && budget < 1) return budget;
    if (!live_at(&m, i)) continue;
    if (!mold_q || only) {
      if (wrote) {
        string::add_codepoint(buffer, '\n');
        --budget;
      }
    } else if (flat) {
      if (wrote) {
        string::add_codepoint(buffer, ' ');
        --budget;
      }
    } else {
      string::add_codepoint(buffer, '\n');
      --budget;
      budget -= add_indent(buffer, indent + 1);
    }
    Cell k = cells(&m)[i], v = cells(&m)[i + 1];
    gc::Root keep_k(&k), keep_v(&v);
    budget = actions::direct_mold(&k, buffer, false, all, flat, part, budget, indent + 1);
    string::add_codepoint(buffer, ' ');
    --budget;
    budget = actions::direct_mold(&v, buffer, false, all, flat, part, budget, indent + 1);
    wrote = true;
  }
  if (mold_q && !only && !flat && wrote) {
    string::add_codepoint(buffer, '\n');
    --budget;
    if (indent >= 1) budget -= add_indent(buffer, indent);
  }
  return budget;
}

// Entry counts as cells (2N), checked in 64 bits.
int32_t room_cells(int64_t entries) {
  if (entries * 2 > block::util::MAX_CELLS) error::raise(err::internal::no_memory);
  if (entries > ROOM_HINT_CAP) entries = ROOM_HINT_CAP;
  return int32_t(entries < 1 ? 2 : entries * 2);
}

Cell* make_or_to(Cell* spec_in, bool make_q) {
  Cell spec = *spec_in;
  gc::Root keep_spec(&spec);
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  Cell map_type{T_DATATYPE, T_MAP, 0, 0};
  switch (cell::type(&spec)) {
    case T_BLOCK: case T_PAREN: case T_HASH: {
      pair_cells(&spec);
      Cell blk;
      cell::set_none(&blk);
      gc::Root keep_b(&blk);
      copy_spec_block(&spec, &blk);
      init_cell(out, &blk, 0);
      return out;
    }
    case T_MAP: {
      Cell r;
      cell::set_none(&r);
      gc::Root keep_r(&r);
      copy(&spec, &r, nullptr, false, nullptr);
      *out = r;
      return out;
    }
    case T_INTEGER: case T_FLOAT: {
      if (!make_q) error::raise(err::script::bad_to_arg, &map_type, &spec);
      int32_t n = runtime::get_integer_arg(&spec);
      if (n < 0) error::raise(err::script::out_of_range, &spec);
      int32_t room = room_cells(n);
      init_cell(out, nullptr, room / 2);
      return out;
    }
    default:
      error::raise(err::script::bad_to_arg, &map_type, &spec);
  }
}

}  // namespace

// ---- Keys ----

bool key_type_allowed_q(uint32_t t) {
  switch (t) {
    case T_STRING: case T_FILE: case T_URL: case T_CHAR: case T_INTEGER: case T_FLOAT:
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
    case T_ISSUE: case T_PAIR: case T_PERCENT: case T_TUPLE: case T_BINARY: case T_TIME:
    case T_TAG: case T_EMAIL: case T_DATE: case T_MONEY: case T_REF: case T_POINT2D:
    case T_POINT3D:
      return true;
    default:
      return false;
  }
}

void prepare_key(Cell* key, const Cell* culprit) {
  uint32_t t = cell::type(key);
  if (!key_type_allowed_q(t)) {
    Cell dt{T_DATATYPE, t, 0, 0};
    error::raise(err::script::invalid_path, culprit, &dt);
  }
  key->header &= ~hdr::NEW_LINE;
  if (word_kind_q(t)) {
    cell::set_type(key, T_SET_WORD);
  } else if (string_like_q(t)) {
    actions::direct<datatype::action::COPY>(key, key, nullptr, false, nullptr);
    key->header &= ~hdr::NEW_LINE;
  }
}

// ---- Entry operations ----

void init_cell(Cell* out, const Cell* block_in, int32_t size) {
  Cell blk;
  cell::set_none(&blk);
  gc::Root keep(&blk);
  if (block_in) {
    blk = *block_in;
    for (int32_t i = 0; i + 1 < cell_count(&blk); i += 2) {
      Cell k = cells(&blk)[i];
      gc::Root keep_k(&k);
      prepare_key(&k, &k);
      cells(&blk)[i] = k;
    }
  } else {
    int32_t room = size < 1 ? 2 : size * 2;
    Node n = memory::series_new_cells(uint32_t(room));
    blk = Cell{T_BLOCK, 0, n, 0};
  }
  int32_t n = cell_count(&blk);
  Node t = hash::table_create(n > size ? n : size, &blk, hash::KIND_MAP, 0);
  *out = Cell{T_MAP, 0, blk.w2, t};
}

Node hash_table_of(const Cell* m) { return m->w3; }

int32_t length_q(const Cell* m) { return hash::record(m->w3)[hash::rec::SIZE]; }

void add_pairs_from_block(Cell* map, Cell* block_in, bool case_) {
  Cell m = *map, blk = *block_in;
  gc::Root keep_m(&m), keep_b(&blk);
  int32_t n = pair_cells(&blk);
  int op = case_ ? OP_CASE : OP_DEFAULT;
  int32_t head = int32_t(blk.w1);
  for (int32_t i = 0; i + 1 < n; i += 2) {
    if (head + i + 1 >= block::util::cells_in(&blk)) break;  // the block shrank meanwhile
    Cell k = *block::cell_at_index(&blk, head + i);
    Cell v = *block::cell_at_index(&blk, head + i + 1);
    gc::Root keep_k(&k), keep_v(&v);
    assign(&m, &k, &v, op, &k);
  }
  *map = m;
}

void extend(Cell* map, Cell* spec, bool case_) {
  uint32_t t = cell::type(spec);
  if (t == T_MAP) {
    Cell s = *spec;
    gc::Root keep(&s);
    Cell* body = reflect(&s, symbol::intern_c_text("body"));
    add_pairs_from_block(map, body, case_);
    stack::drop_cells(1);
    return;
  }
  if (t != T_BLOCK && t != T_PAREN && t != T_HASH) error::raise(err::script::invalid_arg, spec);
  add_pairs_from_block(map, spec, case_);
}

bool assign_next_entries(Cell* position, const Cell* words_in, int32_t count) {
  Cell words = *words_in;
  gc::Root keep_w(&words);
  if (count != 2) error::raise(err::script::invalid_arg, &words);
  for (int32_t j = 0; j < 2; ++j) {
    Cell w = *block::cell_at_index(&words, int32_t(words.w1) + j);
    if (!word_kind_q(cell::type(&w))) error::raise(err::script::invalid_arg, &w);
  }
  int32_t i = int32_t(position->w1);
  while (i + 1 < cell_count(position) && !live_at(position, i)) i += 2;
  if (i + 1 >= cell_count(position)) {
    position->w1 = uint32_t(cell_count(position));
    return false;
  }
  Cell k = cells(position)[i], v = cells(position)[i + 1];
  gc::Root keep_k(&k), keep_v(&v);
  position->w1 = uint32_t(i + 2);
  hand_out(&k);
  Cell w0 = *block::cell_at_index(&words, int32_t(words.w1));
  gc::Root keep_w0(&w0);
  word::assign_value(&w0, &k);
  Cell w1 = *block::cell_at_index(&words, int32_t(words.w1) + 1);
  gc::Root keep_w1(&w1);
  word::assign_value(&w1, &v);
  return true;
}

void make_with_room(Cell* out, int64_t entries) {
  int32_t room = room_cells(entries);
  init_cell(out, nullptr, room / 2);
}

int32_t live_position(const Cell* m, const Cell* key, bool case_) {
  return locate_live(m, key, case_ ? OP_CASE : OP_DEFAULT);
}

Cell* push_copy(const Cell* m) { return push_result(*m); }

// ---- Slots ----

Cell* make(Cell*, Cell* spec, uint32_t) { return make_or_to(spec, true); }
Cell* to(Cell*, Cell* spec, uint32_t) { return make_or_to(spec, false); }

Cell* reflect(Cell* value, int32_t field) {
  Cell m = *value;
  gc::Root keep(&m);
  int32_t f = canon(field);
  bool words = f == canon_text("words"), values = f == canon_text("values");
  bool body = f == canon_text("body");
  if (!words && !values && !body) error::raise(err::internal::not_done);
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  block::init_cell(out, length_q(&m) * (body ? 2 : 1));
  for (int32_t i = 0; i + 1 < cell_count(&m); i += 2) {
    if (!live_at(&m, i)) continue;
    // Both are rooted: each append may move the nodes they hold.
    Cell k = cells(&m)[i], v = cells(&m)[i + 1];
    gc::Root keep_k(&k), keep_v(&v);
    if (words) {
      hand_out(&k);
      Cell* slot = runtime::block_append_cell(out);
      *slot = k;
    } else if (values) {
      Cell* slot = runtime::block_append_cell(out);
      *slot = v;
    } else {
      if (string_like_q(cell::type(&k))) hand_out(&k);  // a set-word! stays one here
      k.header |= hdr::NEW_LINE;
      Cell* slot = runtime::block_append_cell(out);
      *slot = k;
      slot = runtime::block_append_cell(out);
      *slot = v;
    }
  }
  return out;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, false)) return budget;
  return write_entries(value, buffer, false, false, false, false, part, budget, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, true)) return budget;
  if (!only) {
    string::add_c_text(buffer, "#[");
    budget -= 2;
  }
  budget = write_entries(value, buffer, true, only, all, flat, part, budget, indent);
  if (!only) {
    string::add_codepoint(buffer, ']');
    --budget;
  }
  return budget;
}

namespace {
// A path's set of one key: a key the map has takes the value in place (nothing allocates,
// nothing to root); a new one is added (culprit: what a bad key's error names).
void path_assign(const Cell* parent, const Cell* element, const Cell* value, const Cell* culprit_in,
                 int op) {
  if (hash::map_key_in_place_q(element)) {
    int32_t at = locate(parent, element, op);
    if (at >= 0) {
      Cell v = *value;
      v.header &= ~hdr::NEW_LINE;
      SeriesBuffer* b = entries_buf(parent);  // live_at's test, on one read of the entries
      Cell* c = memory::head_cells(b);
      if (!(at + 1 < int32_t(memory::used_bytes(b) / sizeof(Cell)) && cell::type(c + at + 1) != 0))
        hash::record(parent->w3)[hash::rec::SIZE]++;
      c[at + 1] = v;
      return;
    }
  }
  Cell m = *parent, v = *value;
  gc::Root keep_m(&m), keep_v(&v);
  Cell culprit = *culprit_in;
  gc::Root keep_c(&culprit);
  assign(&m, element, &v, op, &culprit);
}
}  // namespace

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool, bool case_, bool, bool) {
  int op = case_ ? OP_CASE : OP_DEFAULT;
  if (!value) {
    int32_t at = locate_live(parent, element, op);
    return push_result(at < 0 ? Cell{T_NONE, 0, 0, 0} : cells(parent)[at + 1]);
  }
  Cell v = *value;  // the value as given, new-line marker and all
  gc::Root keep_v(&v);
  path_assign(parent, element, value, path ? path : element, op);
  return push_result(v);
}

bool path_read(const Cell* m, const Cell* key, Cell* out) {
  if (!hash::map_key_in_place_q(key)) return false;
  int32_t at = locate(m, key, OP_DEFAULT);
  *out = Cell{T_NONE, 0, 0, 0};
  if (at >= 0) {  // live_at's test, on one read of the entries
    SeriesBuffer* b = entries_buf(m);
    const Cell* v = memory::head_cells(b) + at + 1;
    if (at + 1 < int32_t(memory::used_bytes(b) / sizeof(Cell)) && cell::type(v) != 0) *out = *v;
  }
  return true;
}

bool path_write(const Cell* m, const Cell* key, const Cell* value, const Cell* path) {
  if (!hash::map_key_in_place_q(key)) return false;
  path_assign(m, key, value, path, OP_DEFAULT);
  return true;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_MAP) return -2;
  if (op == 9) return a->w2 == b->w2 ? 0 : -1;
  // Maps have no order of their own: the sort ops order them by entry block handle.
  if (op == 7 || op == 8) return a->w2 == b->w2 ? 0 : a->w2 < b->w2 ? -1 : 1;
  if (op != 0 && op != 1 && op != 2 && op != 12) return -2;
  if (a->w2 == b->w2) return 0;
  if (cycle::visiting_q(a->w2)) return cycle::visiting_q(b->w2) ? 0 : -1;
  if (length_q(a) != length_q(b)) return 1;
  Cell x = *a, y = *b;
  gc::Root keep_x(&x), keep_y(&y);
  cycle::Scope scope(x.w2);
  int value_op = op == 1 ? 0 : op;
  for (int32_t i = 0; i + 1 < cell_count(&x); i += 2) {
    if (!live_at(&x, i)) continue;
    Cell k = cells(&x)[i], v = cells(&x)[i + 1];
    gc::Root keep_k(&k), keep_v(&v);
    if (op == 2) {
      int32_t at = locate_live(&y, &k, OP_CASE);
      if (at < 0) return 1;
      Cell w = cells(&y)[at + 1];
      gc::Root keep_w(&w);
      if (actions::direct_compare(&v, &w, 2) != 0) return 1;
      continue;
    }
    bool matched = false;
    int32_t cursor = -1, end_mark = 0, step = 0;
    for (;;) {
      Cell* f = hash::table_search_next(y.w3, &k, &cursor, &end_mark, &step);
      if (!f) break;
      int32_t at = int32_t(f - cells(&y));
      if (!live_at(&y, at)) continue;
      Cell w = cells(&y)[at + 1];
      gc::Root keep_w(&w);
      if (actions::direct_compare(&v, &w, value_op) == 0) {
        matched = true;
        break;
      }
    }
    if (!matched) return 1;
  }
  return 0;
}

Cell* clear(Cell* map) {
  hash::table_empty(map->w3);
  return map;
}

Cell* copy(Cell* map, Cell* result, Cell*, bool deep, Cell* types) {
  Cell m = *map;
  gc::Root keep(&m);
  if (deep && cycle::visiting_q(m.w2)) error::raise(err::internal::no_cycle);
  cycle::Scope scope(m.w2);
  Cell blk{T_BLOCK, 0, m.w2, 0};
  Cell* c = block::clone(&blk, deep, false);
  if (deep && types) block::copy_typed_values(c, 1, block::util::cells_in(c), 2, true, types);
  Node t = hash::table_duplicate(m.w3, c->w2);
  Cell r{T_MAP, 0, c->w2, t};
  stack::drop_cells(1);
  *result = r;
  return result;
}

Cell* find(Cell* map, Cell* key, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool,
           bool, bool, bool) {
  int32_t at = locate_live(map, key, lookup_op(case_, same));
  if (at < 0) return push_result(Cell{T_NONE, 0, 0, 0});
  Cell* r = push_result(cells(map)[at]);
  hand_out(r);
  return r;
}

int32_t length_slot(Cell* map) { return length_q(map); }

Cell* put(Cell* map, Cell* key, Cell* value, bool case_) {
  Cell m = *map, v = *value;
  gc::Root keep_m(&m), keep_v(&v);
  assign(&m, key, &v, case_ ? OP_CASE : OP_DEFAULT, key);
  return push_result(v);
}

Cell* remove(Cell* map, Cell*, Cell* key) {
  if (!key) error::raise(err::script::missing_arg);
  int32_t at = locate_live(map, key, OP_CASE);
  if (at >= 0) hash::table_delete_value(map->w3, cells(map) + at);
  return map;
}

Cell* select(Cell* map, Cell* key, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool,
             bool) {
  int32_t at = locate_live(map, key, lookup_op(case_, same));
  return push_result(at < 0 ? Cell{T_NONE, 0, 0, 0} : cells(map)[at + 1]);
}

void install_type() {
  datatype::register_type(
      {.id = T_MAP, .parent = 0, .name = "map!",
       .slots = {.make = make, .reflect = reflect, .to = to, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .clear = clear, .copy = copy,
                 .find = find, .length_q = length_slot, .put = put, .remove = remove,
                 .select = select}});
}

}  // namespace kel::map

// The lexer's map literal: keys and count were checked at the closing bracket.
namespace kel::lexer::hook {
void load_map(Cell* out, const Cell* block) { map::init_cell(out, block, 0); }
}  // namespace kel::lexer::hook
