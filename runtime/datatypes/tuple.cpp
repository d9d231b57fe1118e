// tuple!: registration, make/to (blocks, text, issues, binaries), saturating byte-wise
// arithmetic, compare, element access by path and pick, reverse, random and the text form.
#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/immediate.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/evaluator/number_text.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::tuple {

namespace {

using immediate::datatype_cell;
using immediate::raise_invalid_type;

[[noreturn]] void raise_bad_to_arg(const Cell* spec) { immediate::raise_bad_to_arg(T_TUPLE, spec); }

uint8_t clamp_byte(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A double made a byte: clamped first (infinities saturate), NaN gives 0.
uint8_t clamp_double(double d) {
  if (std::isnan(d) || d <= 0.0) return 0;
  if (d >= 255.0) return 255;
  return uint8_t(std::trunc(d));
}

bool text_type_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// Bytes of an issue's text: 3 digits (each d x 17), 6 digits or 8 digits.
Cell* from_issue(Cell* out, const Cell* issue) {
  uint32_t n;
  const uint8_t* p = symbol::utf8(int32_t(issue->w2), &n);
  const uint8_t* end = p + n;
  uint8_t digits[9];
  int32_t count = 0;
  while (p < end && count < 9) {
    int32_t cp;
    p = unicode::read_utf8_char(p, end, &cp);
    uint8_t c = uint8_t(cp & 0x7F);
    int8_t d = c < 32 ? -1 : lexer::hex_digit[c];
    if (d < 0) error::raise(err::script::invalid_data, issue);
    digits[count++] = uint8_t(d);
  }
  uint8_t bytes[12] = {};
  int32_t length;
  if (count == 3) {
    for (int32_t i = 0; i < 3; ++i) bytes[i] = uint8_t(digits[i] * 17);
    length = 3;
  } else if (count == 6 || count == 8) {
    length = count / 2;
    for (int32_t i = 0; i < length; ++i) bytes[i] = uint8_t(digits[2 * i] << 4 | digits[2 * i + 1]);
  } else {
    error::raise(err::script::invalid_data, issue);
  }
  return init_cell(out, length, bytes);
}

Cell* from_block(Cell* out, const Cell* spec) {
  int32_t n = block::count_from_head(spec);
  if (n > MAX_LENGTH) raise_bad_to_arg(spec);
  uint8_t bytes[12] = {};
  for (int32_t i = 0; i < n; ++i) {
    const Cell* item = block::cell_at_index(spec, int32_t(spec->w1) + i);
    double v;
    switch (cell::type(item)) {
      case T_INTEGER: case T_CHAR: v = double(cell::get_int(item)); break;
      case T_FLOAT: v = std::trunc(cell::get_double(item)); break;
      default: raise_bad_to_arg(spec);
    }
    if (!(v >= 0.0 && v <= 255.0)) raise_bad_to_arg(spec);
    bytes[i] = uint8_t(v);
  }
  return init_cell(out, std::max(n, MIN_LENGTH), bytes);
}

Cell* from_binary(Cell* out, const Cell* spec) {
  SeriesBuffer* b = memory::node_buffer(spec->w2);
  uint32_t total = memory::units(b);
  uint32_t head = spec->w1 > total ? total : spec->w1;
  int32_t n = std::min(int32_t(total - head), MAX_LENGTH);
  uint8_t bytes[12] = {};
  if (n > 0) std::memcpy(bytes, memory::head(b) + head, size_t(n));
  return init_cell(out, std::max(n, MIN_LENGTH), bytes);
}

Cell part_word() {
  return immediate::runtime_word(runtime::runtime_word_index("part", runtime::WordKind::REFINEMENT));
}
Cell skip_word() {
  return immediate::runtime_word(runtime::runtime_word_index("skip", runtime::WordKind::REFINEMENT));
}

}  // namespace

// ---- Cell API ----

void bytes_of(const Cell* c, uint8_t out[12]) {
  std::memcpy(out, &c->w1, 4);
  std::memcpy(out + 4, &c->w2, 4);
  std::memcpy(out + 8, &c->w3, 4);
}

Cell* init_cell(Cell* c, int32_t length, const uint8_t* bytes) {
  uint8_t b[12] = {};
  std::memcpy(b, bytes, size_t(length));
  *c = Cell{T_TUPLE | uint32_t(length) << LENGTH_SHIFT, 0, 0, 0};
  std::memcpy(&c->w1, b, 4);
  std::memcpy(&c->w2, b + 4, 4);
  std::memcpy(&c->w3, b + 8, 4);
  return c;
}

Cell* push_new_packed(int32_t length, uint32_t w1, uint32_t w2, uint32_t w3) {
  Cell* c = stack::reserve_cell();
  uint8_t b[12];
  std::memcpy(b, &w1, 4);
  std::memcpy(b + 4, &w2, 4);
  std::memcpy(b + 8, &w3, 4);
  return init_cell(c, std::clamp(length, MIN_LENGTH, MAX_LENGTH), b);
}

Cell* push_new_from_bytes(int32_t count, const uint8_t* bytes) {
  uint8_t b[12] = {};
  count = std::clamp(count, 0, MAX_LENGTH);
  std::memcpy(b, bytes, size_t(count));
  return init_cell(stack::reserve_cell(), std::max(count, MIN_LENGTH), b);
}

Cell* init_cell_rgba(Cell* c, int32_t r, int32_t g, int32_t b, int32_t a) {
  uint8_t bytes[4] = {clamp_byte(r), clamp_byte(g), clamp_byte(b), clamp_byte(a)};
  return init_cell(c, a == -1 ? 3 : 4, bytes);
}

bool all_zero_q(const Cell* c) { return c->w1 == 0 && c->w2 == 0 && c->w3 == 0; }

void poke_byte(Cell* c, int32_t index, const Cell* value) {
  int32_t n = length_of(c);
  if (index < 1 || index > n) {
    Cell i;
    cell::set_integer(&i, index);
    error::raise(err::script::out_of_range, &i);
  }
  uint8_t b[12];
  bytes_of(c, b);
  switch (cell::type(value)) {
    case T_INTEGER: b[index - 1] = clamp_byte(cell::get_int(value)); break;
    case T_NONE:
      std::memset(b + index - 1, 0, size_t(12 - index + 1));
      n = std::max(index - 1, MIN_LENGTH);
      break;
    default: raise_invalid_type(cell::type(value));
  }
  uint32_t keep = c->header & ~(LENGTH_MASK | hdr::TYPE_MASK);
  init_cell(c, n, b);
  c->header |= keep;
}

// ---- Arithmetic ----

Cell* apply_math_op(int32_t o) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  if (cell::type(a) != T_TUPLE) {
    if (o == integer::op::SUBTRACT || o == integer::op::DIVIDE) {
      Cell fn = stack::current_function_word();
      Cell dt = datatype_cell(cell::type(a));
      error::raise(err::script::not_related, &fn, &dt);
    }
    std::swap(*a, *b);
  }
  uint8_t x[12], y[12] = {};
  bytes_of(a, x);
  int32_t n = length_of(a);
  uint32_t tb = cell::type(b);
  if (tb == T_FLOAT || tb == T_PERCENT) {
    if (o > integer::op::REMAINDER) raise_invalid_type(tb);
    double f = cell::get_double(b);
    for (int32_t i = 0; i < n; ++i)
      x[i] = clamp_double(float_::arith_on_doubles(double(x[i]), f, o));
  } else if (tb == T_INTEGER || tb == T_TUPLE) {
    int32_t scalar = 0;
    if (tb == T_TUPLE) {
      bytes_of(b, y);
      n = std::max(n, length_of(b));
    } else {
      scalar = cell::get_int(b);
    }
    for (int32_t i = 0; i < n; ++i) {
      int32_t r = tb == T_TUPLE ? int32_t(y[i]) : scalar;
      if (o == integer::op::DIVIDE || o == integer::op::REMAINDER || o > integer::op::REMAINDER) {
        x[i] = clamp_byte(integer::do_op(x[i], r, o, nullptr));  // truncating division
      } else {
        Cell scratch{T_INTEGER, 0, 0, 0};
        int32_t v = integer::do_op(x[i], r, o, &scratch);
        // Out of 32 bits: 255 for a positive result, 0 for a negative one.
        x[i] = cell::type(&scratch) == T_FLOAT ? (cell::get_double(&scratch) > 0 ? 255 : 0)
                                               : clamp_byte(v);
      }
    }
  } else {
    raise_invalid_type(tb);
  }
  uint32_t keep = a->header & hdr::NEW_LINE;
  init_cell(a, n, x);
  a->header |= keep;
  return a;
}

Cell* add() { return apply_math_op(integer::op::ADD); }
Cell* subtract() { return apply_math_op(integer::op::SUBTRACT); }
Cell* multiply() { return apply_math_op(integer::op::MULTIPLY); }
Cell* divide() { return apply_math_op(integer::op::DIVIDE); }
Cell* remainder() { return apply_math_op(integer::op::REMAINDER); }
Cell* and_() { return apply_math_op(integer::op::AND); }
Cell* or_() { return apply_math_op(integer::op::OR); }
Cell* xor_() { return apply_math_op(integer::op::XOR); }

Cell* complement() {
  Cell* a = stack::state().base;
  uint8_t b[12];
  bytes_of(a, b);
  int32_t n = length_of(a);
  for (int32_t i = 0; i < n; ++i) b[i] = uint8_t(~b[i]);
  uint32_t keep = a->header & hdr::NEW_LINE;
  init_cell(a, n, b);
  a->header |= keep;
  return a;
}

// ---- Slots ----

Cell* make(Cell* proto, Cell* spec, uint32_t) {
  uint32_t t = cell::type(spec);
  switch (t) {
    case T_TUPLE: return spec;
    case T_BLOCK: case T_PAREN: case T_HASH: return from_block(proto, spec);
    case T_ISSUE: return from_issue(proto, spec);
    case T_BINARY: return from_binary(proto, spec);
    default:
      if (text_type_q(t)) return immediate::from_text(proto, spec, T_TUPLE);
      raise_bad_to_arg(spec);
  }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(value->w1 ^ value->w2 ^ value->w3));
    cell::set_unset(value);
    return value;
  }
  uint8_t b[12];
  bytes_of(value, b);
  int32_t n = length_of(value);
  for (int32_t i = 0; i < n; ++i) b[i] = uint8_t(random::pick_1_to_n(secure, b[i] + 1) - 1);
  uint32_t keep = value->header & hdr::NEW_LINE;
  init_cell(value, n, b);
  value->header |= keep;
  return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  uint8_t b[12];
  bytes_of(value, b);
  std::string text;
  for (int32_t i = 0; i < length_of(value); ++i) {
    if (i) text += '.';
    text += std::to_string(b[i]);
  }
  string::add_c_text(buffer, text.c_str());
  return limit - int32_t(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t) {
  if (cell::type(b) != T_TUPLE) return -2;
  uint8_t x[12], y[12];
  bytes_of(a, x);
  bytes_of(b, y);
  int32_t n = std::max(length_of(a), length_of(b));
  for (int32_t i = 0; i < n; ++i)
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  return 0;
}

int32_t length_q(Cell* value) { return length_of(value); }

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
  if (cell::type(index_cell) != T_INTEGER || index < 1 || index > length_of(value))
    error::raise(err::script::out_of_range, index_cell);
  uint8_t b[12];
  bytes_of(value, b);
  Cell* out = stack::reserve_cell();
  cell::set_integer(out, b[index - 1]);
  return out;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell* container, Cell* previous,
                int32_t, bool, bool, bool, bool change_notice) {
  if (cell::type(element) != T_INTEGER) raise_invalid_type(cell::type(element));
  int32_t index = cell::get_int(element);
  if (!value) return pick(parent, index, element);
  Cell* old = change_notice ? stack::push_copy(parent) : nullptr;
  poke_byte(parent, index, value);
  immediate::notify_path_set(container, previous, old, parent, value, index);
  if (old) stack::drop_cells(1);
  return stack::push_copy(value);
}

Cell* reverse(Cell* value, Cell* part, Cell* skip) {
  int32_t len = length_of(value);
  int32_t n = len;
  if (part) {
    if (cell::type(part) != T_INTEGER) {
      Cell w = part_word();
      error::raise(err::script::invalid_refine_arg, &w, part);
    }
    if (cell::get_int(part) < 0) error::raise(err::script::out_of_range, part);
    n = std::min(cell::get_int(part), len);
  }
  int32_t size = 1;
  if (skip) {
    if (cell::type(skip) != T_INTEGER || cell::get_int(skip) < 1)
      error::raise(err::script::out_of_range, skip);
    size = cell::get_int(skip);
    if (size == n) return value;
    if (size > n || n % size != 0) {
      Cell w = skip_word();
      error::raise(err::script::invalid_refine_arg, &w, skip);
    }
  }
  uint8_t b[12], r[12];
  bytes_of(value, b);
  std::memcpy(r, b, sizeof b);
  int32_t groups = n / size;
  for (int32_t g = 0; g < groups; ++g)
    std::memcpy(r + g * size, b + (groups - 1 - g) * size, size_t(size));
  uint32_t keep = value->header & hdr::NEW_LINE;
  init_cell(value, len, r);
  value->header |= keep;
  return value;
}

void install_type() {
  datatype::register_type(
      {.id = T_TUPLE, .parent = 0, .name = "tuple!",
       .slots = {.make = make, .random = random, .to = make, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .add = add, .divide = divide,
                 .multiply = multiply, .remainder = remainder, .subtract = subtract,
                 .and_ = and_, .complement = complement, .or_ = or_, .xor_ = xor_,
                 .length_q = length_q, .pick = pick, .reverse = reverse}});
}

}  // namespace kel::tuple

// The lexer's tuple literal: the checked parts become the bytes.
namespace kel::lexer::hook {
void load_tuple(Cell* out, const uint8_t* parts, int32_t count) {
  tuple::init_cell(out, count, parts);
}
}  // namespace kel::lexer::hook
