// time!: registration (a child of float!, whose compare, absolute, negate, remainder and
// random it keeps), the h:mm:ss text, make/to, the hour/minute/second fields and arithmetic.
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/time.h"

#include <cmath>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_first.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/owner.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::lexer::hook {
void load_time(Cell* out, double seconds) { time::init_cell(out, seconds); }
}  // namespace kel::lexer::hook

namespace kel::time {

namespace {

using runtime::WordKind;

Cell word_cell(size_t index) {
  return Cell{T_WORD, 0, uint32_t(symbol::runtime_id(index)), 0xFFFFFFFFu};
}
Cell datatype_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell dt = datatype_cell(T_TIME);
  error::raise(err::script::bad_to_arg, &dt, spec);
}

[[noreturn]] void raise_not_related(const Cell* word, uint32_t t) {
  Cell dt = datatype_cell(t);
  error::raise(err::script::not_related, word, &dt);
}

double seconds_of(const Cell* c) { return cell::get_double(c); }

void add_text(Cell* buffer, const std::string& text) {
  for (unsigned char c : text) string::add_codepoint(buffer, c);
}

bool word_named_q(const Cell* word, const char* spelling) {
  size_t index = spelling[0] == 'h'   ? runtime::runtime_word_index("hour", WordKind::SYMBOL)
                 : spelling[0] == 'm' ? runtime::runtime_word_index("minute", WordKind::SYMBOL)
                                      : runtime::runtime_word_index("second", WordKind::SYMBOL);
  return symbol::canonical_id(int32_t(word->w2)) == symbol::canonical_id(symbol::runtime_id(index));
}

// Seconds as stored by the field setters, make/to and the arithmetic.
Cell* store(Cell* c, double seconds) {
  check_range(seconds);
  *c = Cell{T_TIME, 0, 0, 0};
  cell::put_double(c, seconds);
  return c;
}

}  // namespace

void check_range(double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) / SECONDS_PER_HOUR >= 2147483648.0)
    error::raise(err::math::overflow);
}

int32_t hours_of(double seconds) {
  double h = std::trunc(seconds / SECONDS_PER_HOUR);
  if (!(h > -2147483648.0)) return h < 0 ? INT32_MIN : 0;  // NaN gives 0
  return h >= 2147483647.0 ? INT32_MAX : int32_t(h);
}

int32_t minutes_of(double seconds) {
  double m = std::floor(std::fmod(std::fabs(seconds), SECONDS_PER_HOUR) / SECONDS_PER_MINUTE);
  return std::isfinite(m) ? int32_t(m) : 0;
}

Cell* get_field(const Cell* value, int32_t field) {
  double s = seconds_of(value);
  Cell* out = stack::reserve_cell();
  switch (field) {
    case FIELD_HOUR: *out = Cell{T_INTEGER, 0, uint32_t(hours_of(s)), 0}; break;
    case FIELD_MINUTE: *out = Cell{T_INTEGER, 0, uint32_t(minutes_of(s)), 0}; break;
    default: float_::init_cell(out, std::fmod(s, SECONDS_PER_MINUTE)); break;
  }
  return out;
}

int32_t field_index(const Cell* word, const Cell* value) {
  if (word_named_q(word, "hour")) return FIELD_HOUR;
  if (word_named_q(word, "minute")) return FIELD_MINUTE;
  if (word_named_q(word, "second")) return FIELD_SECOND;
  if (value && cell::type(value) == T_TIME) error::raise(err::script::cannot_use, word, value);
  return -1;
}

int32_t write_text(double seconds, Cell* buffer, int32_t limit) {
  double s = seconds;
  if (std::signbit(s) && s != 0.0) {
    add_text(buffer, "-");
    s = -s;
  }
  double r = std::fmod(s, SECONDS_PER_MINUTE);
  std::string sec = "00";
  if (r >= TOLERANCE) {
    sec = float_::number_to_text(r, float_::kind::TIME_SECONDS);
    // Seconds that round up to 60 carry into the minutes.
    if (std::stod(sec) >= SECONDS_PER_MINUTE) {
      s = (std::floor(s / SECONDS_PER_MINUTE) + 1.0) * SECONDS_PER_MINUTE;
      sec = "00";
    } else if (sec.size() == 1 || sec[1] == '.') {
      sec.insert(0, "0");
    }
  }
  double hours = std::floor(s / SECONDS_PER_HOUR);
  std::string h = std::isfinite(hours) ? std::to_string(int64_t(hours)) : "0";
  int32_t m = int32_t(std::floor(std::fmod(s, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
  std::string text = h + ":" + (m < 10 ? "0" : "") + std::to_string(m) + ":" + sec;
  add_text(buffer, text);
  return limit - int32_t(text.size());
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  return write_text(seconds_of(value), buffer, limit);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  return write_text(seconds_of(value), buffer, limit);
}

namespace {

// [hours minutes seconds] from the block's head; only the hours may be negative.
double from_block(const Cell* spec) {
  int32_t n = block::count_from_head(spec);
  if (n > 3) raise_bad_to_arg(spec);
  double parts[3] = {0.0, 0.0, 0.0};
  bool negative = false;
  for (int32_t i = 0; i < n; ++i) {
    const Cell* v = block::cell_at_index(spec, int32_t(spec->w1) + i);
    uint32_t t = cell::type(v);
    double d;
    if (t == T_INTEGER) d = double(cell::get_int(v));
    else if (t == T_FLOAT && i == 2) d = cell::get_double(v);
    else raise_bad_to_arg(spec);
    if (d < 0) {
      if (i != 0) raise_bad_to_arg(spec);
      negative = true;
      d = -d;
    }
    parts[i] = d;
  }
  double s = parts[0] * SECONDS_PER_HOUR + parts[1] * SECONDS_PER_MINUTE + parts[2];
  return negative ? -s : s;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
  uint32_t ts = cell::type(spec);
  double s;
  switch (ts) {
    case T_TIME: return spec;
    case T_INTEGER: s = double(cell::get_int(spec)); break;
    case T_FLOAT: case T_PERCENT: s = cell::get_double(spec); break;
    case T_BLOCK: case T_PAREN: case T_HASH: s = from_block(spec); break;
    default: {
      if (!string::any_string_q(ts)) raise_bad_to_arg(spec);
      Cell* out = stack::reserve_cell();
      *out = Cell{T_NONE, 0, 0, 0};
      lexer::load_first_value(spec, out);
      if (cell::type(out) != T_TIME) raise_bad_to_arg(spec);
      s = seconds_of(out);
      stack::drop_cells(1);
    }
  }
  return store(proto, s);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t, bool, bool, bool, bool change_notice) {
  int32_t field = -1;
  uint32_t et = cell::type(element);
  if (et == T_INTEGER) field = cell::get_int(element);
  else if (et == T_WORD) field = field_index(element, nullptr);
  if (field < FIELD_HOUR || field > FIELD_SECOND)
    error::raise(err::script::invalid_path, path, element);
  if (!value) return get_field(parent, field);
  uint32_t vt = cell::type(value);
  bool ok = field == FIELD_SECOND ? vt == T_INTEGER || vt == T_FLOAT : vt == T_INTEGER;
  if (!ok) error::raise(err::script::invalid_arg, value);
  Cell* old = change_notice ? stack::push_copy(parent) : nullptr;
  double s = seconds_of(parent);
  double v = vt == T_INTEGER ? double(cell::get_int(value)) : cell::get_double(value);
  switch (field) {
    case FIELD_HOUR:  // by the truncating getter, so t/hour: t/hour changes nothing
      s -= (double(hours_of(s)) - v) * SECONDS_PER_HOUR;
      break;
    case FIELD_MINUTE:
      if (s < 0) s += (double(minutes_of(s)) - v) * SECONDS_PER_MINUTE;
      else s -= (double(minutes_of(s)) - v) * SECONDS_PER_MINUTE;
      break;
    default: s -= std::fmod(s, SECONDS_PER_MINUTE) - v; break;
  }
  check_range(s);
  cell::put_double(parent, s);
  if (old) {
    if (container && cell::type(container) == T_OBJECT) {
      object::fire_change(container, previous, old, parent);
    } else if (container) {
      owner::notify_change(container, "set-path", value, field, 1);
    }
    stack::drop_cells(1);
  }
  return stack::push_copy(value);
}

namespace {

bool operand_type_q(uint32_t t) { return cell::type(stack::state().base + 1) == t; }

}  // namespace

Cell* add() {
  // time + date: the operands change places and the date adds the time
  if (operand_type_q(T_DATE)) return date::add_number_first();
  return float_::apply_math_op(float_::op::ADD);
}

Cell* subtract() {
  if (operand_type_q(T_DATE)) {
    Cell w = word_cell(runtime::runtime_word_index("subtract", WordKind::GLOBAL_WORD));
    raise_not_related(&w, T_TIME);
  }
  return float_::apply_math_op(float_::op::SUBTRACT);
}

Cell* multiply() {
  if (operand_type_q(T_TIME)) {
    Cell w = word_cell(runtime::runtime_word_index("multiply", WordKind::GLOBAL_WORD));
    raise_not_related(&w, T_TIME);
  }
  return float_::apply_math_op(float_::op::MULTIPLY);
}

Cell* divide() {
  bool ratio = operand_type_q(T_TIME);
  Cell* r = float_::apply_math_op(float_::op::DIVIDE);
  if (ratio) cell::set_type(r, T_FLOAT);
  return r;
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
  if (scale && cell::type(scale) == T_MONEY) {
    Cell fn = stack::current_function_word();
    raise_not_related(&fn, T_MONEY);
  }
  // An integer scale is read as a double: the result stays seconds, never a 32-bit count.
  Cell s;
  Cell* sp = scale;
  if (scale && cell::type(scale) == T_INTEGER) {
    float_::init_cell(&s, double(cell::get_int(scale)));
    sp = &s;
  }
  float_::round(value, sp, even, down, half_down, floor, ceiling, half_ceiling);
  uint32_t keep = value->header & ~hdr::TYPE_MASK;
  store(value, cell::get_double(value));
  value->header |= keep;
  return value;
}

namespace {
int64_t whole_seconds_in_minute(const Cell* value) {
  double s = seconds_of(value);
  s += s < 0 ? -TOLERANCE : TOLERANCE;
  double w = std::trunc(std::fmod(s, SECONDS_PER_MINUTE));
  return std::isfinite(w) ? int64_t(w) : 0;
}
}  // namespace

bool even_q(const Cell* value) { return (whole_seconds_in_minute(value) & 1) == 0; }
bool odd_q(const Cell* value) { return (whole_seconds_in_minute(value) & 1) != 0; }

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
  int32_t field = index;
  if (index_cell && cell::type(index_cell) == T_WORD) field = field_index(index_cell, value);
  if (field < FIELD_HOUR || field > FIELD_SECOND)
    error::raise(err::script::out_of_range, index_cell);
  return get_field(value, field);
}

Cell* init_cell(Cell* c, double seconds) {
  uint32_t keep = c->header & ~hdr::TYPE_MASK;
  *c = Cell{T_TIME, 0, 0, 0};
  cell::put_double(c, seconds);
  c->header |= keep;
  return c;
}

Cell* push_new(double seconds) {
  Cell* c = stack::reserve_cell();
  *c = Cell{T_TIME, 0, 0, 0};
  cell::put_double(c, seconds);
  return c;
}

Cell* add_to_block(Cell* block, double seconds) {
  Cell v{T_TIME, 0, 0, 0};
  cell::put_double(&v, seconds);
  return block::append_copy(block, &v);
}

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_TIME, .parent = T_FLOAT, .name = "time!",
       .slots = {.make = make, .random = inherit, .to = make, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = inherit, .absolute = inherit, .add = add,
                 .divide = divide, .multiply = multiply, .negate = inherit,
                 .remainder = inherit, .round = round, .subtract = subtract,
                 .even_q = even_q, .odd_q = odd_q, .pick = pick}});
}

}  // namespace kel::time
