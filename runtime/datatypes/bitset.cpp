// bitset! values: a byte series of bits, most significant bit first, with a complemented
// flag; spec processing, the set operations, text forms and the bitset actions.
#include "runtime/datatypes/bitset.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::bitset {
namespace {

SeriesBuffer* buf(const Cell* b) { return memory::node_buffer(b->w2); }

Cell bitset_type() { return Cell{T_DATATYPE, T_BITSET, 0, 0}; }
Cell type_of(const Cell* v) { return Cell{T_DATATYPE, cell::type(v), 0, 0}; }
Cell logic(bool v) { return Cell{T_LOGIC, v ? 1u : 0u, 0, 0}; }

// A word! (any case) spelled as given.
bool word_is(const Cell* v, const char* spelling) {
  if (cell::type(v) != T_WORD) return false;
  std::string name = symbol::text(int32_t(v->w2));
  size_t n = std::strlen(spelling);
  if (name.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
    if (c != spelling[i]) return false;
  }
  return true;
}

// Bytes a set with this highest value needs: ((h + 8) & ~7) / 8, at least 1.
int64_t size_for(int64_t highest) { return std::max<int64_t>(((highest + 8) & ~int64_t(7)) / 8, 1); }

// A new bitset of n bytes, each the fill, in out (a cell the collector sees).
void init_bits(Cell* out, int64_t n, bool complemented) {
  if (n > INT32_MAX - 64) error::raise(err::internal::no_memory);
  cell::set_none(out);
  Node node = memory::series_new_bytes(uint32_t(n));
  SeriesBuffer* b = memory::node_buffer(node);
  std::memset(memory::head(b), complemented ? 0xFF : 0, size_t(n));
  b->tail = b->head + uint32_t(n);
  if (complemented) b->flags |= sflag::COMPLEMENT;
  *out = Cell{T_BITSET, 0, node, 0};
}

// Extends the stored part to n bytes; the new bytes keep membership as it was.
void grow_to(Cell* bits, int64_t n) {
  SeriesBuffer* b = buf(bits);
  int64_t have = memory::used_bytes(b);
  if (n <= have) return;
  if (n > INT32_MAX - 64) error::raise(err::internal::no_memory);
  if (int64_t(b->head) + n > b->capacity) {
    int32_t room = int32_t((n + 15) & ~int64_t(15));
    b = memory::series_grow_copy_node(bits->w2, room);
  }
  uint8_t fill = (b->flags & sflag::COMPLEMENT) ? 0xFF : 0;
  std::memset(memory::head(b) + have, fill, size_t(n - have));
  b->tail = b->head + uint32_t(n);
}

bool stored_bit(const Cell* bits, int64_t n) {
  return (memory::head(buf(bits))[n >> 3] & (0x80 >> (n & 7))) != 0;
}
void put_bit(Cell* bits, int64_t n, bool on) {
  uint8_t& byte = memory::head(buf(bits))[n >> 3];
  uint8_t mask = uint8_t(0x80 >> (n & 7));
  byte = on ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
}

[[noreturn]] void unusable(const Cell* value, int32_t mode) {
  Cell t = bitset_type();
  if (mode == MODE_MAKE) error::raise(err::script::bad_make_arg, &t, value);
  if (mode == MODE_TO) error::raise(err::script::bad_to_arg, &t, value);
  error::raise(err::script::invalid_arg, value);
}

// char!, integer! or float! (truncated toward zero) as a number.
int64_t number_of(const Cell* v) {
  if (cell::type(v) == T_FLOAT) {
    double d = std::trunc(cell::get_double(v));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) error::raise(err::script::out_of_range, v);
    return int64_t(d);
  }
  return cell::get_int(v);
}

struct Walk {
  Cell* bits;  // null for measure
  int32_t op;
  int32_t mode;
  int64_t highest = -1;
};

// Values a..b (a <= b) under the walk's operation; the cell names the value for errors.
// Returns 0 when a test fails.
int32_t apply_range(Walk& w, int64_t a, int64_t b, const Cell* named) {
  if (a < 0 && w.op != TEST) error::raise(err::script::out_of_range, named);
  w.highest = std::max(w.highest, b);
  if (w.op == MEASURE) return 1;
  Cell* bits = w.bits;
  bool comp = complemented_q(bits);
  int64_t stored = int64_t(stored_bytes(bits)) * 8;
  if (w.op == TEST) {
    if (a < 0) {
      if (!comp) return 0;
      a = 0;
    }
    if (b < a) return 1;
    int64_t hi = std::min(b, stored - 1);
    for (int64_t k = a; k <= hi; ++k)
      if (!stored_bit(bits, k)) return 0;
    return b >= stored && !comp ? 0 : 1;
  }
  bool on = w.op == SET;
  // Beyond the stored part a complemented set already holds every value and a plain set
  // none: only the other cases need room.
  if (on != comp) grow_to(bits, (b >> 3) + 1);
  int64_t hi = std::min(b, int64_t(stored_bytes(bits)) * 8 - 1);
  for (int64_t k = a; k <= hi; ++k) put_bit(bits, k, on);
  return 1;
}

int32_t apply(Walk& w, Cell* spec);

int32_t apply_string(Walk& w, Cell* s_in) {
  Cell s = *s_in;
  gc::Root keep(&s);
  int32_t n = string::count_from_head(&s);
  int32_t head = int32_t(s.w1);
  for (int32_t i = 0; i < n; ++i) {
    int64_t c = string::codepoint_at(&s, head + i);
    if (!apply_range(w, c, c, s_in) && w.op == TEST) return 0;
  }
  return 1;
}

int32_t apply_block(Walk& w, Cell* block_in) {
  Cell blk = *block_in;
  gc::Root keep(&blk);
  // A spec block that holds itself never ends; the guard also bounds the nesting depth.
  if (cycle::visiting_q(blk.w2)) {
    cycle::clear();
    error::raise(err::internal::no_cycle);
  }
  cycle::Scope guard(blk.w2);
  int32_t n = block::count_from_head(&blk);
  int32_t head = int32_t(blk.w1);
  for (int32_t i = 0; i < n; ++i) {
    Cell v = *block::cell_at_index(&blk, head + i);
    gc::Root keep_v(&v);
    uint32_t t = cell::type(&v);
    bool range = (t == T_CHAR || t == T_INTEGER) && i + 1 < n &&
                 word_is(block::cell_at_index(&blk, head + i + 1), "-");
    int32_t r;
    if (range) {
      if (i + 2 >= n) error::raise(err::script::past_end);
      Cell e = *block::cell_at_index(&blk, head + i + 2);
      if (cell::type(&e) != t) error::raise(err::script::invalid_arg, &e);
      int64_t a = cell::get_int(&v), b = cell::get_int(&e);
      if (b < a) error::raise(err::script::past_end);
      r = apply_range(w, a, b, &v);
      i += 2;
    } else {
      r = apply(w, &v);
    }
    if (w.op == TEST && r == 0) return 0;
  }
  return 1;
}

int32_t apply(Walk& w, Cell* spec) {
  switch (cell::type(spec)) {
    case T_CHAR:
    case T_INTEGER:
    case T_FLOAT: {
      int64_t n = number_of(spec);
      return apply_range(w, n, n, spec);
    }
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF:
      return apply_string(w, spec);
    case T_BLOCK:
      return apply_block(w, spec);
    case T_BINARY:
      error::raise(err::internal::not_done);
    default:
      unusable(spec, w.mode);
  }
}

// The first argument's bitset copied into a new value (flag included) at out.
void copy_into(const Cell* from, Cell* out) {
  Node node = memory::series_clone_node(from->w2);
  *out = Cell{T_BITSET, 0, node, 0};
}

// A binary's bytes from its head; with invert each byte inverted and the result complemented.
void from_binary(Cell* out, Cell* binary_in, bool invert) {
  Cell bin = *binary_in;
  gc::Root keep(&bin);
  SeriesBuffer* b = buf(&bin);
  int64_t used = memory::used_bytes(b);
  int64_t head = std::min<int64_t>(int32_t(bin.w1) < 0 ? 0 : bin.w1, used);
  int64_t n = used - head;
  init_bits(out, n, false);
  b = buf(&bin);
  uint8_t* src = memory::head(b) + head;
  SeriesBuffer* ob = buf(out);
  uint8_t* dst = memory::head(ob);
  for (int64_t i = 0; i < n; ++i) dst[i] = invert ? uint8_t(~src[i]) : src[i];
  if (invert) ob->flags |= sflag::COMPLEMENT;
}

Cell* make_or_to(Cell* proto, Cell* spec_in, int32_t mode) {
  Cell spec = *spec_in;
  gc::Root keep_spec(&spec);
  Cell result;
  cell::set_none(&result);
  gc::Root keep_result(&result);
  uint32_t st = cell::type(&spec);

  bool comp = false;
  if (st == T_BLOCK && block::count_from_head(&spec) > 0 &&
      word_is(block::cell_at_index(&spec, int32_t(spec.w1)), "not")) {
    comp = true;
    spec.w1 += 1;  // a local view; the block itself is left as it was
  }
  if (st == T_BLOCK && block::count_from_head(&spec) > 0 &&
      cell::type(block::cell_at_index(&spec, int32_t(spec.w1))) == T_BINARY) {
    Cell first = *block::cell_at_index(&spec, int32_t(spec.w1));
    gc::Root keep_first(&first);
    from_binary(&result, &first, comp);
  } else if (st == T_INTEGER || st == T_FLOAT) {
    if (mode == MODE_TO) {
      Cell t = bitset_type();
      error::raise(err::script::bad_to_arg, &t, spec_in);
    }
    int64_t size = number_of(&spec);
    if (size < 0) error::raise(err::script::out_of_range, spec_in);
    init_bits(&result, (size + 7) / 8, false);
  } else if (st == T_BITSET) {
    copy_into(&spec, &result);
  } else if (st == T_BINARY) {
    from_binary(&result, &spec, false);
  } else {
    Walk measure{nullptr, MEASURE, mode};
    apply(measure, &spec);
    init_bits(&result, size_for(measure.highest), comp);
    Walk fill{&result, comp ? CLEAR : SET, mode};
    apply(fill, &spec);
  }
  *proto = result;
  return proto;
}

// Tells the owner before a change; true when it must hear again afterwards.
bool notify_before(Cell* bits, const char* action, const Cell* value, int32_t index) {
  return owner::notify_change(bits, action, value, index, 1) != 0;
}
void notify_after(bool owned, Cell* bits, const char* action, const Cell* value, int32_t index) {
  if (owned) owner::notify_change(bits, action, value, index, 1);
}

// Applies the value with set or clear, with the owner told around the change.
void change(Cell* bits, Cell* value, int32_t op, const char* before, const char* after,
            int32_t index) {
  Walk check{nullptr, MEASURE, MODE_ACTION};
  apply(check, value);  // every check runs before the owner hears of anything
  bool owned = notify_before(bits, before, value, index);
  process_spec(value, bits, op, MODE_ACTION);
  notify_after(owned, bits, after, value, index);
}

Cell* push_result(const Cell& v) {
  Cell* r = stack::reserve_cell();
  *r = v;
  return r;
}

void write_text(Cell* buffer, const char* text, int32_t* budget) {
  for (const char* p = text; *p; ++p) {
    string::add_codepoint(buffer, uint8_t(*p));
    --*budget;
  }
}

}  // namespace

// ---- Storage ----

uint8_t* bytes_start(const Cell* bits) { return memory::head(buf(bits)); }
int32_t stored_bytes(const Cell* bits) { return int32_t(memory::used_bytes(buf(bits))); }
bool complemented_q(const Cell* bits) { return (buf(bits)->flags & sflag::COMPLEMENT) != 0; }

bool member_q(const Cell* bits, int64_t n) {
  if (n < 0 || n >= int64_t(stored_bytes(bits)) * 8) return complemented_q(bits);
  return stored_bit(bits, n);
}

int32_t process_spec(Cell* spec, Cell* bits, int32_t op, int32_t mode) {
  Cell s = *spec;
  gc::Root keep(&s);
  Walk w{bits, op, mode};
  int32_t r = apply(w, &s);
  if (op == MEASURE) return int32_t(std::min<int64_t>(w.highest, INT32_MAX));
  if (op == SET && bits) grow_to(bits, size_for(w.highest));
  return op == TEST ? r : 1;
}

// ---- make, to ----

Cell* make(Cell* proto, Cell* spec, uint32_t) { return make_or_to(proto, spec, MODE_MAKE); }
Cell* to(Cell* proto, Cell* spec, uint32_t) { return make_or_to(proto, spec, MODE_TO); }

// ---- Set operations ----

Cell* set_operation(int32_t code) {
  Cell* base = stack::state().base;
  Cell* a = base;
  Cell* b = base + 1;
  if (code == OP_UNIQUE) {
    // A copy, so that changing the result leaves the argument alone.
    Cell r;
    copy_into(a, &r);
    *a = r;
    return a;
  }
  if (cell::type(b) != T_BITSET) {
    Cell t = type_of(b);
    error::raise(err::script::invalid_type, &t);
  }
  bool fa = complemented_q(a), fb = complemented_q(b);
  int64_t la = stored_bytes(a), lb = stored_bytes(b);
  int64_t s = std::min(la, lb), l = std::max(la, lb);

  auto combine = [code](uint8_t x, uint8_t y) -> uint8_t {
    switch (code) {
      case OP_OR:
      case OP_UNION: return uint8_t(x | y);
      case OP_AND:
      case OP_INTERSECT: return uint8_t(x & y);
      case OP_EXCLUDE: return uint8_t(x & ~y);
      default: return uint8_t(x ^ y);  // xor~, difference
    }
  };
  // The result's flag is the operation applied to the flags, so membership beyond the
  // stored bytes stays right; a short operand counts as its flag's fill byte.
  bool flag = combine(fa ? 0xFF : 0, fb ? 0xFF : 0) != 0;

  Cell r;
  cell::set_none(&r);
  gc::Root keep(&r);
  init_bits(&r, l, false);
  const uint8_t* pa = bytes_start(a);
  const uint8_t* pb = bytes_start(b);
  uint8_t* pr = bytes_start(&r);
  uint8_t pad_a = fa ? 0xFF : 0, pad_b = fb ? 0xFF : 0;
  for (int64_t i = 0; i < l; ++i)
    pr[i] = combine(i < la ? pa[i] : pad_a, i < lb ? pb[i] : pad_b);
  SeriesBuffer* rb = buf(&r);
  if (flag) rb->flags |= sflag::COMPLEMENT;
  if (code == OP_AND) {
    // and~ keeps the shorter length where the bytes past it say nothing beyond the flag.
    uint8_t fill = flag ? 0xFF : 0;
    bool plain_tail = true;
    for (int64_t i = s; i < l && plain_tail; ++i) plain_tail = pr[i] == fill;
    if (plain_tail) rb->tail = rb->head + uint32_t(s);
  }
  *a = r;
  return a;
}

Cell* and_() { return set_operation(OP_AND); }
Cell* or_() { return set_operation(OP_OR); }
Cell* xor_() { return set_operation(OP_XOR); }

Cell* complement() {
  Cell* a = stack::state().base;
  Cell r;
  copy_into(a, &r);
  SeriesBuffer* b = buf(&r);
  uint8_t* p = memory::head(b);
  for (uint32_t i = 0; i < memory::used_bytes(b); ++i) p[i] = uint8_t(~p[i]);
  b->flags ^= sflag::COMPLEMENT;
  *a = r;
  return a;
}

// ---- Text ----

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
  static const char HEX[] = "0123456789ABCDEF";
  Cell v = *value;
  gc::Root keep(&v);
  bool comp = complemented_q(&v);
  write_text(buffer, "make bitset! ", &budget);
  if (comp) write_text(buffer, "[not ", &budget);
  write_text(buffer, "#{", &budget);
  int32_t n = stored_bytes(&v);
  for (int32_t i = 0; i < n; ++i) {
    if (part && budget < 0) break;
    uint8_t byte = bytes_start(&v)[i];
    if (comp) byte = uint8_t(255 - byte);
    string::add_codepoint(buffer, HEX[byte >> 4]);
    string::add_codepoint(buffer, HEX[byte & 15]);
    budget -= 2;
  }
  if (part && budget < 1) return budget;
  write_text(buffer, "}", &budget);
  if (comp) write_text(buffer, "]", &budget);
  return budget;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
  return mold(value, buffer, false, false, false, part, budget, 0);
}

// ---- Comparison ----

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_BITSET) return -2;
  if (op == 9) return a->w2 == b->w2 ? 0 : 1;
  int32_t la = stored_bytes(a), lb = stored_bytes(b);
  if (la != lb) return la > lb ? 1 : -1;
  if (la == 0) return 0;
  bool fa = complemented_q(a), fb = complemented_q(b);
  if (fa != fb) return fa ? 1 : -1;
  const uint8_t* pa = bytes_start(a);
  const uint8_t* pb = bytes_start(b);
  for (int32_t i = la - 1; i >= 0; --i)
    if (pa[i] != pb[i]) return pa[i] > pb[i] ? 1 : -1;
  return 0;
}

// ---- Element access ----

Cell* pick(Cell* bits, int32_t, Cell* index_cell) {
  return push_result(logic(process_spec(index_cell, bits, TEST, MODE_ACTION) != 0));
}

Cell* find(Cell* bits, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool,
           bool) {
  if (process_spec(value, bits, TEST, MODE_ACTION)) return push_result(logic(true));
  return push_result(Cell{T_NONE, 0, 0, 0});
}

Cell* poke(Cell* bits, int32_t index, Cell* value, Cell* index_cell) {
  uint32_t t = cell::type(value);
  bool off = t == T_NONE || (t == T_LOGIC && value->w1 == 0) ||
             (t == T_INTEGER && cell::get_int(value) == 0) ||
             (t == T_FLOAT && cell::get_double(value) == 0.0);
  change(bits, index_cell, off ? CLEAR : SET, "poke", "poked", index);
  return value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int32_t, bool,
                bool, bool, bool) {
  uint32_t t = cell::type(element);
  if (t != T_INTEGER && t != T_CHAR) {
    Cell d = type_of(element);
    error::raise(err::script::invalid_type, &d);
  }
  if (!value) return pick(parent, cell::get_int(element), element);
  poke(parent, cell::get_int(element), value, element);
  return value;
}

// ---- Modification ----

Cell* append(Cell* bits, Cell* value, int32_t, bool, int32_t, bool) {
  change(bits, value, SET, "insert", "inserted", 0);
  return bits;
}

Cell* remove(Cell* bits, Cell*, Cell* key) {
  if (!key) error::raise(err::script::missing_arg);
  // The key leaves the membership, complemented or not.
  change(bits, key, CLEAR, "remove", "removed", 0);
  return bits;
}

Cell* clear(Cell* bits) {
  bool owned = notify_before(bits, "clear", nullptr, 0);
  SeriesBuffer* b = buf(bits);
  std::memset(memory::head(b), (b->flags & sflag::COMPLEMENT) ? 0xFF : 0, memory::used_bytes(b));
  notify_after(owned, bits, "cleared", nullptr, 0);
  return bits;
}

Cell* copy(Cell* bits, Cell* result, Cell*, bool, Cell*) {
  Cell r;
  copy_into(bits, &r);
  *result = r;
  return result;
}

int32_t length_q(Cell* bits) { return stored_bytes(bits) * 8; }

// ---- Ownership fields ----

Cell* reflect(Cell* value, int32_t field) {
  Cell f{T_WORD, 0, uint32_t(field), 0};
  if (!word_is(&f, "owned")) error::raise(err::internal::not_done);
  Cell* owner = owner::find(value);
  if (!owner) return push_result(Cell{T_NONE, 0, 0, 0});
  return push_result(*owner);
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
  if (!word_is(field, "owned")) return value;
  if (cell::type(value) == T_NONE) {
    owner::disown(target);
  } else if (cell::type(value) == T_BLOCK && block::count_from_head(value) >= 2) {
    Cell owner = *block::cell_at_index(value, int32_t(value->w1));
    Cell word = *block::cell_at_index(value, int32_t(value->w1) + 1);
    owner::attach_flagged(target, &owner, &word);
  }
  return value;
}

// ---- registration ----

void install_type() {
  datatype::register_type(
      {.id = T_BITSET, .parent = 0, .name = "bitset!",
       .slots = {.make = make, .reflect = reflect, .to = to, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .negate = complement, .and_ = and_,
                 .complement = complement, .or_ = or_, .xor_ = xor_, .append = append,
                 .clear = clear, .copy = copy, .find = find, .insert = append,
                 .length_q = length_q, .pick = pick, .poke = poke, .remove = remove,
                 .modify = modify}});
}

}  // namespace kel::bitset
