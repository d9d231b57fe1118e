// hash! values: a block with an index of the hash kind; its own make, to, mold and copy,
// and the checker that an index names every cell once.
#include "runtime/datatypes/hash_block.h"

#include <cmath>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/block_mold.h"
#include "runtime/datatypes/block_util.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::hash {
namespace {

// A room hint above this many values is not preallocated: the hash grows as it fills.
constexpr int64_t ROOM_HINT_CAP = int64_t(1) << 22;

int32_t cells_of(const Cell* b) { return block::util::cells_in(b); }

// Turns the block cell (head anywhere, rooted) into a hash! indexed over all its cells.
void index_in_place(Cell* made) {
  made->header = T_HASH | (made->header & hdr::NEW_LINE);
  made->w3 = 0;
  int32_t n = cells_of(made);
  Node t = table_create(n > 0 ? n : 1, made, KIND_HASH, 0);
  made->w3 = t;
}

int32_t room_of(const Cell* spec) {
  double d = cell::type(spec) == T_INTEGER ? double(cell::get_int(spec))
                                           : std::trunc(cell::get_double(spec));
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
    error::raise(err::script::out_of_range, spec);
  if (d > double(block::util::MAX_CELLS)) error::raise(err::internal::no_memory);
  if (d > double(ROOM_HINT_CAP)) d = double(ROOM_HINT_CAP);
  return d < 1 ? 1 : int32_t(d);
}

Node node_word(Node t, int field) { return uint32_t(record(t)[field]); }
const int32_t* ints(Node n) { return reinterpret_cast<const int32_t*>(memory::node_head(n)); }
uint32_t int_count(Node n) { return memory::used_bytes(memory::node_buffer(n)) / 4; }

bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

}  // namespace

bool verify_index(const Cell* h, std::string* why) {
  if (cell::type(h) != T_HASH || !h->w3) return fail(why, "not an indexed hash!");
  Node t = h->w3;
  if (record(t)[rec::KIND] != KIND_HASH) return fail(why, "table of another kind");
  Node values = node_word(t, rec::VALUES);
  if (values != h->w2) return fail(why, "table indexes another series");
  int32_t n = cells_of(h);
  uint32_t buckets = uint32_t(record(t)[rec::BUCKETS]);
  Node pos_node = node_word(t, rec::POSITIONS);
  Node lists = node_word(t, rec::LISTS);
  Node index = node_word(t, rec::INDEX);
  if (int_count(index) < buckets) return fail(why, "index array shorter than the buckets");
  std::vector<int32_t> seen(size_t(n), 0);
  auto claim = [&](int32_t p, uint32_t b) {
    if (p < 0 || p >= n) return fail(why, "bucket " + std::to_string(b) + " names position " +
                                              std::to_string(p) + " past the tail");
    if (uint32_t(p) >= int_count(pos_node) || ints(pos_node)[p] != int32_t(b + 1))
      return fail(why, "positions[" + std::to_string(p) + "] does not name bucket " +
                           std::to_string(b));
    ++seen[size_t(p)];
    return true;
  };
  for (uint32_t b = 0; b < buckets; ++b) {
    if (bucket_flag(t, b) != LIVE) continue;
    int32_t idx = ints(index)[b];
    if (idx >= 0) {
      if (!claim(idx, b)) return false;
      continue;
    }
    uint32_t slot = uint32_t(-idx - 1);
    if (slot >= int_count(lists)) return fail(why, "bucket names a missing list");
    Node l = reinterpret_cast<const uint32_t*>(memory::node_head(lists))[slot];
    if (!l || int_count(l) == 0) return fail(why, "bucket names an empty list");
    for (uint32_t j = 0; j < int_count(l); ++j)
      if (!claim(ints(l)[j], b)) return false;
  }
  for (int32_t p = 0; p < n; ++p) {
    if (seen[size_t(p)] != 1)
      return fail(why, "position " + std::to_string(p) + " is indexed " +
                           std::to_string(seen[size_t(p)]) + " times");
  }
  return true;
}

// ---- Slots ----

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t st = cell::type(spec);
  if (st == T_HASH) return copy(spec, proto, nullptr, false, nullptr);
  if (st != T_INTEGER && st != T_FLOAT && !block::any_block_q(st)) return to(proto, spec, type);
  Cell made{T_NONE, 0, 0, 0};
  gc::Root keep(&made);
  if (st == T_INTEGER || st == T_FLOAT) {
    int32_t room = room_of(spec);
    Cell* b = block::push_empty(room);
    made = *b;
    stack::drop_cells(1);
  } else {
    block::make(&made, spec, T_BLOCK);
  }
  index_in_place(&made);
  *proto = made;
  return proto;
}

Cell* to(Cell* proto, Cell* spec, uint32_t) {
  if (cell::type(spec) == T_HASH) return copy(spec, proto, nullptr, false, nullptr);
  Cell made{T_NONE, 0, 0, 0};
  gc::Root keep(&made);
  block::to(&made, spec, T_BLOCK);
  index_in_place(&made);
  *proto = made;
  return proto;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  if (!only) {
    string::add_c_text(buffer, "make hash! ");
    budget -= 11;
  }
  return block::mold(value, buffer, only, all, flat, part, budget, indent);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  Cell src = *value;
  gc::Root keep_src(&src);
  // Only a plain copy of the whole hash takes the index as it is.
  bool whole = !part && !deep && !types && int32_t(src.w1) <= 0 && src.w3 != 0;
  Cell made{T_NONE, 0, 0, 0};
  gc::Root keep_made(&made);
  block::copy(&src, &made, part, deep, types);
  if (whole && cells_of(&made) == cells_of(&src)) {
    made.header = T_HASH | (made.header & hdr::NEW_LINE);
    made.w3 = 0;
    Node t = table_duplicate(src.w3, made.w2);
    made.w3 = t;
  } else {
    made.w1 = 0;
    index_in_place(&made);
  }
  *result = made;
  return result;
}

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_HASH, .parent = T_BLOCK, .name = "hash!",
       .slots = {.make = make, .reflect = inherit, .to = to, .form = inherit, .mold = mold,
                 .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit,
                 .back = inherit, .change = inherit, .clear = inherit, .copy = copy,
                 .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit,
                 .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
                 .pick = inherit, .poke = inherit, .put = inherit, .remove = inherit,
                 .reverse = inherit, .select = inherit, .sort = inherit, .skip = inherit,
                 .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit,
                 .trim = inherit, .modify = inherit}});
}

}  // namespace kel::hash
