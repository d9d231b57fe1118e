// vector! values: packed numbers or characters of one element type and width; element
// conversion, making, insertion and change, text forms, comparison and element arithmetic.
#include "runtime/datatypes/vector.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::vector {
namespace {

constexpr int32_t ADD = 0, SUBTRACT = 1, MULTIPLY = 2, DIVIDE = 3, REMAINDER = 4, OR = 5,
                  AND = 6, XOR = 7;
constexpr int64_t MAX_BYTES = 0x7FFFFF00;

SeriesBuffer* buf(const Cell* v) { return memory::node_buffer(v->w2); }
uint32_t unit_of(const Cell* v) { return memory::unit(buf(v)); }
int32_t total(const Cell* v) { return int32_t(memory::units(buf(v))); }
int32_t head_of(const Cell* v) {
  int32_t h = int32_t(v->w1), n = total(v);
  return h < 0 ? 0 : h > n ? n : h;
}
int32_t count_of(const Cell* v) { return total(v) - head_of(v); }
// Element i from the buffer head; valid until the next allocation.
uint8_t* at(const Cell* v, int64_t i) { return memory::head(buf(v)) + size_t(i) * unit_of(v); }

bool float_type_q(uint32_t t) { return t == T_FLOAT || t == T_PERCENT; }
bool element_type_q(uint32_t t) {
  return t == T_CHAR || t == T_INTEGER || t == T_FLOAT || t == T_PERCENT;
}
uint32_t default_unit(uint32_t t) { return float_type_q(t) ? 8 : 4; }

int32_t read_int(const uint8_t* p, uint32_t u) {
  if (u == 1) return int8_t(*p);
  if (u == 2) {
    int16_t x;
    std::memcpy(&x, p, 2);
    return x;
  }
  int32_t x;
  std::memcpy(&x, p, 4);
  return x;
}
// An element as a number: char elements are codes, never negative, so narrow ones read
// zero-extended (as text units do); integer elements sign-extend.
int32_t read_number(const uint8_t* p, uint32_t u, uint32_t type) {
  return type == T_CHAR ? unicode::load_unit(p, u) : read_int(p, u);
}
double read_double(const uint8_t* p, uint32_t u) {
  if (u == 4) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  double d;
  std::memcpy(&d, p, 8);
  return d;
}
// Low bytes, as text units are stored.
void write_int(uint8_t* p, uint32_t u, int32_t v) { unicode::store_unit(p, u, v); }
// A double narrowed to a float: beyond the float range it becomes an infinity.
float narrow(double d) {
  if (d > double(FLT_MAX)) return HUGE_VALF;
  if (d < -double(FLT_MAX)) return -HUGE_VALF;
  return float(d);
}
void write_double(uint8_t* p, uint32_t u, double d) {
  if (u == 4) {
    float f = narrow(d);
    std::memcpy(p, &f, 4);
  } else {
    std::memcpy(p, &d, 8);
  }
}

Cell datatype_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }

// Room for n elements from the head, growing the buffer (the cell's node is rewritten).
void ensure_room(Cell* v, int64_t n) {
  SeriesBuffer* b = buf(v);
  int64_t bytes = n * int64_t(memory::unit(b));
  if (bytes > MAX_BYTES) error::raise(err::internal::no_memory);
  if (int64_t(b->head) + bytes <= int64_t(b->capacity)) return;
  int64_t size = std::min<int64_t>(std::max<int64_t>(bytes * 2, 16), MAX_BYTES);
  b = memory::series_grow_copy_node(v->w2, int32_t(size));
  v->w2 = b->node;
}

void set_count(Cell* v, int64_t n) {
  SeriesBuffer* b = buf(v);
  b->tail = b->head + uint32_t(n) * memory::unit(b);
}

int32_t int_op(int32_t x, int32_t y, int32_t op) {
  switch (op) {
    case ADD: return int32_t(uint32_t(x) + uint32_t(y));
    case SUBTRACT: return int32_t(uint32_t(x) - uint32_t(y));
    case MULTIPLY: return int32_t(uint32_t(x) * uint32_t(y));
    case DIVIDE:
      if (y == 0) error::raise(err::math::zero_divide);
      return y == -1 ? int32_t(0u - uint32_t(x)) : x / y;
    case REMAINDER:
      if (y == 0) error::raise(err::math::zero_divide);
      return y == -1 ? 0 : x % y;
    case OR: return x | y;
    case AND: return x & y;
    default: return x ^ y;
  }
}

// One tight loop per operation over elements of type T (wrapped 32-bit results, low
// bytes stored).
template <class T>
void int_loop(uint8_t* p, int64_t n, int32_t y, int32_t op) {
  using U = std::make_unsigned_t<T>;
  T* e = reinterpret_cast<T*>(p);
  uint32_t uy = uint32_t(y);
  switch (op) {
    case ADD: for (int64_t i = 0; i < n; ++i) e[i] = T(U(uint32_t(int32_t(e[i])) + uy)); break;
    case SUBTRACT: for (int64_t i = 0; i < n; ++i) e[i] = T(U(uint32_t(int32_t(e[i])) - uy)); break;
    case MULTIPLY: for (int64_t i = 0; i < n; ++i) e[i] = T(U(uint32_t(int32_t(e[i])) * uy)); break;
    case OR: for (int64_t i = 0; i < n; ++i) e[i] = T(U(uint32_t(int32_t(e[i])) | uy)); break;
    case AND: for (int64_t i = 0; i < n; ++i) e[i] = T(U(uint32_t(int32_t(e[i])) & uy)); break;
    case XOR: for (int64_t i = 0; i < n; ++i) e[i] = T(U(uint32_t(int32_t(e[i])) ^ uy)); break;
    default:
      for (int64_t i = 0; i < n; ++i) e[i] = T(U(uint32_t(int_op(int32_t(e[i]), y, op))));
  }
}

template <class F>
F store_as(double d) {
  if constexpr (std::is_same_v<F, float>) return narrow(d);
  else return d;
}

template <class F>
void float_loop(uint8_t* p, int64_t n, double y, int32_t op) {
  F* e = reinterpret_cast<F*>(p);
  switch (op) {
    case ADD: for (int64_t i = 0; i < n; ++i) e[i] = store_as<F>(double(e[i]) + y); break;
    case SUBTRACT: for (int64_t i = 0; i < n; ++i) e[i] = store_as<F>(double(e[i]) - y); break;
    case MULTIPLY: for (int64_t i = 0; i < n; ++i) e[i] = store_as<F>(double(e[i]) * y); break;
    case DIVIDE: for (int64_t i = 0; i < n; ++i) e[i] = store_as<F>(double(e[i]) / y); break;
    default:
      for (int64_t i = 0; i < n; ++i)
        e[i] = store_as<F>(float_::arith_on_doubles(double(e[i]), y, op));
  }
}

// Two same-width sources into a result of that width.
template <class T>
void int_pair_loop(const uint8_t* pa, const uint8_t* pb, uint8_t* pr, int64_t n, int32_t op) {
  using U = std::make_unsigned_t<T>;
  const T* a = reinterpret_cast<const T*>(pa);
  const T* b = reinterpret_cast<const T*>(pb);
  T* r = reinterpret_cast<T*>(pr);
  switch (op) {
    case ADD: for (int64_t i = 0; i < n; ++i) r[i] = T(U(uint32_t(int32_t(a[i])) + uint32_t(int32_t(b[i])))); break;
    case SUBTRACT: for (int64_t i = 0; i < n; ++i) r[i] = T(U(uint32_t(int32_t(a[i])) - uint32_t(int32_t(b[i])))); break;
    case MULTIPLY: for (int64_t i = 0; i < n; ++i) r[i] = T(U(uint32_t(int32_t(a[i])) * uint32_t(int32_t(b[i])))); break;
    default:
      for (int64_t i = 0; i < n; ++i) r[i] = T(U(uint32_t(int_op(int32_t(a[i]), int32_t(b[i]), op))));
  }
}

template <class F>
void float_pair_loop(const uint8_t* pa, const uint8_t* pb, uint8_t* pr, int64_t n, int32_t op) {
  const F* a = reinterpret_cast<const F*>(pa);
  const F* b = reinterpret_cast<const F*>(pb);
  F* r = reinterpret_cast<F*>(pr);
  switch (op) {
    case ADD: for (int64_t i = 0; i < n; ++i) r[i] = store_as<F>(double(a[i]) + double(b[i])); break;
    case SUBTRACT: for (int64_t i = 0; i < n; ++i) r[i] = store_as<F>(double(a[i]) - double(b[i])); break;
    case MULTIPLY: for (int64_t i = 0; i < n; ++i) r[i] = store_as<F>(double(a[i]) * double(b[i])); break;
    default:
      for (int64_t i = 0; i < n; ++i)
        r[i] = store_as<F>(float_::arith_on_doubles(double(a[i]), double(b[i]), op));
  }
}

[[noreturn]] void raise_cannot_use(int32_t op, uint32_t element_type) {
  static const char* const names[] = {"add", "subtract", "multiply", "divide", "remainder",
                                      "or~", "and~", "xor~"};
  Cell w = word::intern_global(names[op]);
  Cell dt = datatype_cell(element_type);
  error::raise(err::script::cannot_use, &w, &dt);
}

// ---- making ----

// The element type a word names (any case), or 0.
uint32_t named_type(const Cell* w) {
  std::string name = symbol::text(int32_t(w->w2));
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
  if (name == "integer!") return T_INTEGER;
  if (name == "char!") return T_CHAR;
  if (name == "float!") return T_FLOAT;
  if (name == "percent!") return T_PERCENT;
  return 0;
}

int64_t count_from_number(const Cell* spec) {
  if (cell::type(spec) == T_INTEGER) return cell::get_int(spec);
  double d = std::trunc(cell::get_double(spec));
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
    error::raise(err::script::out_of_range, spec);
  return int64_t(d);
}

// Fills a new vector in out from the values block (may be none) up to count elements.
void build(Cell* out, uint32_t type, uint32_t unit, int64_t count, const Cell* values_in) {
  Cell values{T_NONE, 0, 0, 0};
  if (values_in) values = *values_in;
  gc::Root keep(&values);
  int32_t nv = values_in ? std::max(block::count_from_head(&values), 0) : 0;
  if (count < 0) count = 0;
  init_cell(out, std::max<int64_t>(count, nv), type, unit);
  for (int32_t i = 0; i < nv; ++i) {
    Cell c = *block::cell_at_index(&values, int32_t(values.w1) + i);
    append_value(out, &c);
  }
  if (count > nv) {
    std::memset(at(out, nv), 0, size_t(count - nv) * unit);
    set_count(out, count);
  }
}

// ---- text ----

int32_t add_text(Cell* buffer, const std::string& text, int32_t budget) {
  string::add_c_text(buffer, text.c_str());
  return budget - int32_t(text.size());
}

// The elements from the head, separated by spaces; chars molded when asked.
int32_t write_elements(Cell* value, Cell* buffer, bool mold_q, bool all, Cell* part,
                       int32_t budget) {
  Cell v = *value;
  gc::Root keep(&v);
  uint32_t t = v.w3, u = unit_of(&v);
  int32_t h = head_of(&v), n = count_of(&v);
  for (int32_t i = 0; i < n; ++i) {
    if (part && budget < 1) break;
    if (i > 0) {
      string::add_codepoint(buffer, ' ');
      --budget;
    }
    const uint8_t* p = at(&v, h + i);
    if (t == T_CHAR) {
      int32_t c = read_number(p, u, t);
      if (mold_q) {
        string::add_c_text(buffer, "#\"");
        budget -= 2;
      }
      SeriesBuffer* before = memory::node_buffer(buffer->w2);
      int32_t used = int32_t(memory::units(before));
      string::mold_char(buffer, c, all);
      budget -= int32_t(memory::units(memory::node_buffer(buffer->w2))) - used;
      if (mold_q) {
        string::add_codepoint(buffer, '"');
        --budget;
      }
    } else if (t == T_INTEGER) {
      budget = add_text(buffer, std::to_string(read_int(p, u)), budget);
    } else if (t == T_FLOAT) {
      budget = add_text(buffer,
                        float_::number_to_text(read_double(p, u),
                                               u == 4 ? float_::kind::SINGLE : float_::kind::FLOAT),
                        budget);
    } else {
      double d = read_double(p, u);
      std::string text = u == 4 ? float_::number_to_text(double(narrow(d) * 100.0f),
                                                         float_::kind::SINGLE_PERCENT)
                                : float_::number_to_text(d * 100.0, float_::kind::PERCENT);
      budget = add_text(buffer, text, budget);
    }
  }
  return budget;
}

// The values a change or insert takes: a block-like series, a vector, or one value.
struct Source {
  Cell value;
  bool many;
  bool vec;
  int32_t count;
};

// Checks each value of a block-like or single source against the element type.
void check_values(const Source& s, uint32_t type) {
  if (s.vec) return;
  if (!s.many) {
    if (cell::type(&s.value) != type) error::raise(err::script::invalid_arg, &s.value);
    return;
  }
  for (int32_t i = 0; i < s.count; ++i) {
    const Cell* c = block::cell_at_index(&s.value, int32_t(s.value.w1) + i);
    if (cell::type(c) != type) error::raise(err::script::invalid_arg, c);
  }
}

// After an owner's handler ran: the source may have shrunk or changed its values.
void recheck(Source& s, uint32_t type) {
  if (s.vec) s.count = std::min(s.count, count_of(&s.value));
  if (s.many) s.count = std::min(s.count, std::max(block::count_from_head(&s.value), 0));
  check_values(s, type);
}

// Stores the source's values dup times from element `from` of v (no allocation).
void store_run(Cell* v, int64_t from, const Source& s, const std::vector<uint8_t>* copied,
               uint32_t src_unit, int32_t dup) {
  uint32_t u = unit_of(v);
  bool fl = float_type_q(v->w3);
  for (int32_t r = 0; r < dup; ++r) {
    for (int32_t i = 0; i < s.count; ++i) {
      uint8_t* p = at(v, from + int64_t(r) * s.count + i);
      if (s.vec) {
        const uint8_t* q = copied ? copied->data() + size_t(i) * src_unit
                                  : at(&s.value, head_of(&s.value) + i);
        if (fl) write_double(p, u, read_double(q, src_unit));
        else write_int(p, u, read_number(q, src_unit, s.value.w3));
      } else if (s.many) {
        store_element(p, block::cell_at_index(&s.value, int32_t(s.value.w1) + i), u);
      } else {
        store_element(p, &s.value, u);
      }
    }
  }
}

}  // namespace

// ---- Elements ----

void init_cell(Cell* cell, int64_t count, uint32_t element_type, uint32_t unit) {
  if (count < 0) count = 0;
  if (count * int64_t(unit) > MAX_BYTES) error::raise(err::internal::no_memory);
  cell::set_none(cell);
  Node node = memory::series_new(uint32_t(count > 0 ? count : 1), unit, 0);
  *cell = Cell{T_VECTOR, 0, node, element_type};
}

Cell element_cell(const uint8_t* p, uint32_t u, uint32_t t) {
  Cell c{t, 0, 0, 0};
  if (float_type_q(t)) cell::put_double(&c, read_double(p, u));
  else c.w2 = uint32_t(read_number(p, u, t));
  return c;
}

Cell* push_element(const uint8_t* element, uint32_t unit, uint32_t element_type) {
  Cell c = element_cell(element, unit, element_type);
  Cell* r = stack::reserve_cell();
  *r = c;
  return r;
}

void store_element(uint8_t* element, const Cell* value, uint32_t unit) {
  switch (cell::type(value)) {
    case T_CHAR: case T_INTEGER:
      write_int(element, unit, cell::get_int(value));
      return;
    case T_FLOAT: case T_PERCENT:
      write_double(element, unit, cell::get_double(value));
      return;
    default: {
      Cell dt = datatype_cell(cell::type(value));
      error::raise(err::script::invalid_type, &dt);
    }
  }
}

void append_value(Cell* v, const Cell* value) {
  if (cell::type(value) != v->w3) error::raise(err::script::invalid_arg, value);
  Cell val = *value;
  int32_t n = total(v);
  ensure_room(v, int64_t(n) + 1);
  store_element(at(v, n), &val, unit_of(v));
  set_count(v, int64_t(n) + 1);
}

void elements_into_block(const Cell* vector, Cell* cell) {
  Cell v = *vector;
  gc::Root keep(&v);
  int32_t h = head_of(&v), n = count_of(&v);
  block::init_cell(cell, n);
  for (int32_t i = 0; i < n; ++i) {
    Cell* slot = runtime::block_append_cell(cell);
    *slot = element_cell(at(&v, h + i), unit_of(&v), v.w3);
  }
}

// ---- Arithmetic ----

Cell* apply_math_op(int32_t op, Cell* v, const Cell* scalar) {
  uint32_t t = v->w3, st = cell::type(scalar);
  int64_t n = count_of(v);
  uint32_t u = unit_of(v);
  if (float_type_q(t)) {
    if (st != T_INTEGER && st != T_FLOAT && st != T_PERCENT) error::raise(err::internal::not_done);
    if (op >= OR) raise_cannot_use(op, t);
    double y = st == T_INTEGER ? double(cell::get_int(scalar)) : cell::get_double(scalar);
    if (((op == ADD || op == SUBTRACT) && y == 0) || ((op == MULTIPLY || op == DIVIDE) && y == 1))
      return v;
    uint8_t* p = at(v, head_of(v));
    if (u == 4) float_loop<float>(p, n, y, op);
    else float_loop<double>(p, n, y, op);
    return v;
  }
  int32_t y;
  if (st == T_INTEGER) {
    y = cell::get_int(scalar);
  } else if (st == T_FLOAT || st == T_PERCENT) {
    double d = std::trunc(cell::get_double(scalar));
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
      error::raise(err::script::out_of_range, scalar);
    y = int32_t(d);
  } else {
    error::raise(err::internal::not_done);
  }
  if (((op == ADD || op == SUBTRACT) && y == 0) || ((op == MULTIPLY || op == DIVIDE) && y == 1))
    return v;
  if ((op == DIVIDE || op == REMAINDER) && y == 0) error::raise(err::math::zero_divide);
  uint8_t* p = at(v, head_of(v));
  bool chars = t == T_CHAR;
  if (u == 1) chars ? int_loop<uint8_t>(p, n, y, op) : int_loop<int8_t>(p, n, y, op);
  else if (u == 2) chars ? int_loop<uint16_t>(p, n, y, op) : int_loop<int16_t>(p, n, y, op);
  else int_loop<int32_t>(p, n, y, op);
  return v;
}

Cell* combine(int32_t op) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  if (cell::type(b) != T_VECTOR) return apply_math_op(op, a, b);
  uint32_t t = a->w3;
  if (b->w3 != t) error::raise(err::script::not_same_type);
  bool fl = float_type_q(t);
  if (fl && op >= OR) raise_cannot_use(op, t);
  int64_t n = std::min(count_of(a), count_of(b));
  uint32_t ua = unit_of(a), ub = unit_of(b), u = std::max(ua, ub);
  Cell r{T_NONE, 0, 0, 0};
  gc::Root keep(&r);
  init_cell(&r, n, t, u);
  set_count(&r, n);
  // a and b are stack cells: their nodes are current after the allocation.
  const uint8_t* pa = at(a, head_of(a));
  const uint8_t* pb = at(b, head_of(b));
  uint8_t* pr = at(&r, 0);
  if (ua == ub) {
    if (fl) {
      if (u == 4) float_pair_loop<float>(pa, pb, pr, n, op);
      else float_pair_loop<double>(pa, pb, pr, n, op);
    } else if (u == 1) {
      if (t == T_CHAR) int_pair_loop<uint8_t>(pa, pb, pr, n, op);
      else int_pair_loop<int8_t>(pa, pb, pr, n, op);
    } else if (u == 2) {
      if (t == T_CHAR) int_pair_loop<uint16_t>(pa, pb, pr, n, op);
      else int_pair_loop<int16_t>(pa, pb, pr, n, op);
    } else {
      int_pair_loop<int32_t>(pa, pb, pr, n, op);
    }
  } else {
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t* x = pa + size_t(i) * ua;
      const uint8_t* y = pb + size_t(i) * ub;
      uint8_t* z = pr + size_t(i) * u;
      if (fl)
        write_double(z, u, float_::arith_on_doubles(read_double(x, ua), read_double(y, ub), op));
      else
        write_int(z, u, int_op(read_number(x, ua, t), read_number(y, ub, t), op));
    }
  }
  *a = r;
  return a;
}

Cell* scalar_first(int32_t op) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  apply_math_op(op, b, a);
  *a = *b;
  return a;
}

// ---- Slots ----

Cell* make(Cell*, Cell* spec_in, uint32_t) {
  Cell spec = *spec_in;
  gc::Root keep(&spec);
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  Cell vt = datatype_cell(T_VECTOR);
  uint32_t st = cell::type(&spec);
  if (st == T_INTEGER || st == T_FLOAT) {
    build(out, T_INTEGER, 4, count_from_number(&spec), nullptr);
    return out;
  }
  if (st != T_BLOCK) error::raise(err::internal::not_done);
  int32_t n = std::max(block::count_from_head(&spec), 0);
  int32_t h = int32_t(spec.w1);
  auto item = [&](int32_t i) { return *block::cell_at_index(&spec, h + i); };
  if (n == 0) {
    build(out, T_INTEGER, 4, 0, nullptr);
    return out;
  }
  Cell first = item(0);
  if (cell::type(&first) != T_WORD) {
    uint32_t t = cell::type(&first);
    if (!element_type_q(t)) {
      Cell dt = datatype_cell(t);
      error::raise(err::script::invalid_type, &dt);
    }
    build(out, t, default_unit(t), 0, &spec);
    return out;
  }
  if (n < 2) error::raise_bad_make_arg(&vt, &spec);
  uint32_t t = named_type(&first);
  if (!t) error::raise_bad_make_arg(&vt, &spec);
  int32_t i = 1;
  uint32_t unit;
  Cell c = item(i);
  if (cell::type(&c) == T_INTEGER) {
    int32_t bits = cell::get_int(&c);
    if (t == T_PERCENT) unit = 8;
    else if (float_type_q(t) && (bits == 32 || bits == 64)) unit = uint32_t(bits / 8);
    else if (!float_type_q(t) && (bits == 8 || bits == 16 || bits == 32)) unit = uint32_t(bits / 8);
    else error::raise_bad_make_arg(&vt, &spec);
    ++i;
  } else if (t == T_PERCENT) {
    unit = 8;
  } else {
    error::raise(err::script::invalid_spec_field, &spec);
  }
  if (i >= n) error::raise(err::script::invalid_spec_field, &spec);
  c = item(i);
  if (cell::type(&c) == T_INTEGER) {
    int64_t count = cell::get_int(&c);
    Cell values = i + 1 < n ? item(i + 1) : Cell{T_NONE, 0, 0, 0};
    gc::Root keep_values(&values);
    build(out, t, unit, count, cell::type(&values) == T_BLOCK ? &values : nullptr);
  } else if (cell::type(&c) == T_BLOCK) {
    gc::Root keep_c(&c);
    build(out, t, unit, 0, &c);
  } else {
    error::raise(err::script::invalid_spec_field, &spec);
  }
  return out;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
  return write_elements(value, buffer, false, false, part, budget);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool, Cell* part, int32_t budget,
             int32_t) {
  if (!only) {
    string::add_c_text(buffer, "make vector! [");
    budget -= 14;
  }
  uint32_t t = value->w3, u = unit_of(value);
  bool plain = count_of(value) > 0 && u == default_unit(t);
  if (!plain) {
    std::string head = std::string(type_name_of(t)) + " " + std::to_string(u * 8) + " [";
    budget = add_text(buffer, head, budget);
  }
  budget = write_elements(value, buffer, true, all, part, budget);
  if (!plain) {
    string::add_codepoint(buffer, ']');
    --budget;
  }
  if (!only) {
    string::add_codepoint(buffer, ']');
    --budget;
  }
  return budget;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_VECTOR) return -2;
  if (a->w3 != b->w3) error::raise(err::script::not_same_type);
  bool same = a->w2 == b->w2 && head_of(a) == head_of(b);
  if (op == 9) return same ? 0 : -1;
  bool equality = op == 0 || op == 1 || op == 2 || op == 12;
  if (same && equality) return 0;
  int32_t na = count_of(a), nb = count_of(b);
  if (equality && na != nb) return 1;
  uint32_t ua = unit_of(a), ub = unit_of(b);
  const uint8_t* pa = at(a, head_of(a));
  const uint8_t* pb = at(b, head_of(b));
  bool fl = float_type_q(a->w3);
  for (int32_t i = 0, n = std::min(na, nb); i < n; ++i) {
    if (fl) {
      double x = read_double(pa + size_t(i) * ua, ua), y = read_double(pb + size_t(i) * ub, ub);
      // A NaN is equal to nothing; in an ordering it ends the comparison.
      if (std::isnan(x) || std::isnan(y)) return equality ? 1 : 0;
      if (x != y) return x < y ? -1 : 1;
    } else {
      int32_t x = read_number(pa + size_t(i) * ua, ua, a->w3);
      int32_t y = read_number(pb + size_t(i) * ub, ub, a->w3);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return na == nb ? 0 : na < nb ? -1 : 1;
}

Cell* append(Cell* vector, Cell* value, int32_t part, bool, int32_t dup, bool append_q) {
  Cell v = *vector;
  gc::Root keep_v(&v);
  uint32_t vt = cell::type(value);
  Source s{*value, vt == T_BLOCK || vt == T_PAREN || vt == T_HASH, false, 1};
  gc::Root keep_s(&s.value);
  if (s.many) {
    s.count = std::max(block::count_from_head(&s.value), 0);
    if (part >= 0 && part < s.count) s.count = part;
  }
  check_values(s, v.w3);
  if (dup < 0) dup = 0;
  int64_t added = int64_t(s.count) * dup;
  int32_t n = total(&v);
  if (added + n > INT32_MAX) error::raise(err::internal::no_memory);
  int32_t from = append_q ? n : head_of(&v);
  if (added > 0) {
    const char* act = append_q ? "append" : "insert";
    owner::notify_change(&v, act, &s.value, from, int32_t(added));
    // A handler may have changed either series: measure again.
    recheck(s, v.w3);
    added = int64_t(s.count) * dup;
    n = total(&v);
    if (added + n > INT32_MAX) error::raise(err::internal::no_memory);
    from = append_q ? n : head_of(&v);
    ensure_room(&v, n + added);
    uint32_t u = unit_of(&v);
    uint8_t* p = at(&v, from);
    std::memmove(p + size_t(added) * u, p, size_t(n - from) * u);
    set_count(&v, n + added);
    store_run(&v, from, s, nullptr, 0, dup);
    owner::notify_change(&v, append_q ? "appended" : "inserted", &s.value, from, int32_t(added));
  }
  if (!append_q) v.w1 = uint32_t(from + added);
  *vector = v;
  return vector;
}

Cell* change(Cell* vector, Cell* value, int32_t part, bool, int32_t dup) {
  Cell v = *vector;
  gc::Root keep_v(&v);
  uint32_t vt = cell::type(value);
  Source s{*value, vt == T_BLOCK || vt == T_PAREN || vt == T_HASH, vt == T_VECTOR, 1};
  gc::Root keep_s(&s.value);
  if (s.many) s.count = std::max(block::count_from_head(&s.value), 0);
  uint32_t src_unit = 0;
  if (s.vec) {
    if (s.value.w3 != v.w3) error::raise(err::script::not_same_type);
    s.count = count_of(&s.value);
    src_unit = unit_of(&s.value);
  }
  check_values(s, v.w3);
  if (dup < 0) dup = 0;
  int64_t w = int64_t(s.count) * dup;
  if (w > INT32_MAX) error::raise(err::internal::no_memory);
  owner::notify_change(&v, "change", &s.value, head_of(&v), int32_t(w));
  // Measured after the notice: a handler may have changed either series.
  recheck(s, v.w3);
  w = int64_t(s.count) * dup;
  int32_t n = total(&v), h = head_of(&v);
  int64_t rest = n - h;
  int64_t replaced = part >= 0 ? std::min<int64_t>(part, rest) : std::min<int64_t>(w, rest);
  int64_t new_total = int64_t(n) - replaced + w;
  if (new_total > INT32_MAX) error::raise(err::internal::no_memory);
  // A source in the same buffer is read before the target moves under it.
  std::vector<uint8_t> copied;
  bool shared = s.vec && s.value.w2 == v.w2;
  if (shared) {
    const uint8_t* q = at(&s.value, head_of(&s.value));
    copied.assign(q, q + size_t(s.count) * src_unit);
  }
  ensure_room(&v, std::max<int64_t>(new_total, n));
  uint32_t u = unit_of(&v);
  uint8_t* base = memory::head(buf(&v));
  std::memmove(base + size_t(h + w) * u, base + size_t(h + replaced) * u,
               size_t(n - h - replaced) * u);
  set_count(&v, new_total);
  store_run(&v, h, s, shared ? &copied : nullptr, src_unit, dup);
  owner::notify_change(&v, "changed", &s.value, h, int32_t(w));
  v.w1 = uint32_t(std::min<int64_t>(h + w, new_total));
  *vector = v;
  return vector;
}

namespace {
Cell* add() { return combine(ADD); }
Cell* subtract() { return combine(SUBTRACT); }
Cell* multiply() { return combine(MULTIPLY); }
Cell* divide() { return combine(DIVIDE); }
Cell* remainder() { return combine(REMAINDER); }
Cell* or_() { return combine(OR); }
Cell* and_() { return combine(AND); }
Cell* xor_() { return combine(XOR); }
}  // namespace

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_VECTOR, .parent = T_STRING, .name = "vector!",
       .slots = {.make = make, .random = inherit, .reflect = inherit, .form = form,
                 .mold = mold, .eval_path = inherit, .compare = compare, .add = add,
                 .divide = divide, .multiply = multiply, .remainder = remainder,
                 .subtract = subtract, .and_ = and_, .or_ = or_, .xor_ = xor_,
                 .append = append, .at = inherit, .back = inherit, .change = change,
                 .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
                 .head_q = inherit, .index_q = inherit, .insert = append,
                 .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit,
                 .poke = inherit, .remove = inherit, .reverse = inherit, .select = inherit,
                 .sort = inherit, .skip = inherit, .tail = inherit, .tail_q = inherit,
                 .take = inherit, .modify = inherit}});
}

}  // namespace kel::vector
