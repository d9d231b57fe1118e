// The system and conversion natives: memory (stats, recycle), time (now, wait), the host
// (environment, call, size?, browse, to-local-file), case, value builders, line markers and
// transcode, which prepares the source, its length and the modes for the lexer's drivers.
#include "runtime/evaluator/natives_system.h"

#include <cmath>
#include <string>

#include "runtime/casemap.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/context.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/locale.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "runtime/hooks.h"
#include "runtime/datatypes/immediate.h"
#include "runtime/io/host.h"
#include "runtime/io/simple_io.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::natives {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }
inline bool given(const int32_t* refs, int k) { return refs[k] >= 0; }

void result(const Cell& c) { stack::set_only_result(&c); }
void result_none() { result(Cell{T_NONE, 0, 0, 0}); }
void result_unset() { result(Cell{T_UNSET, 0, 0, 0}); }

Cell number_cell(double v) {
  if (v <= 2147483647.0) return Cell{T_INTEGER, 0, uint32_t(int32_t(v)), 0};
  Cell f{T_FLOAT, 0, 0, 0};
  cell::put_double(&f, v);
  return f;
}

// The text of a string (UTF-8) or of any word (its spelling).
std::string text_of(const Cell* v) {
  uint32_t t = cell::type(v);
  if (t >= T_WORD && t <= T_ISSUE) return symbol::text(int32_t(v->w2));
  return simple_io::utf8_text(v);
}

// Prints the statistics block through the boot library's show-memory-stats, called as a
// function call would be: a frame named by its word, the block as its first argument.
void show_memory_stats(const Cell* block) {
  Cell name = word::intern_global("show-memory-stats");
  Cell* fn = stack::push_copy(word::value_slot(&name));
  if (cell::type(fn) != T_FUNCTION) {
    if (cell::type(fn) == T_UNSET) error::raise(err::script::no_value, &name);
    error::raise(err::script::invalid_arg, fn);
  }
  Cell data = *block;  // the block's stack cell below keeps its node rooted
  int32_t nargs, rest;
  function::frame_shape(fn, &nargs, &rest);
  stack::push_function_frame(&name, fn->w1);
  stack::set_interpreted_flag();
  for (int32_t i = 0; i < nargs; ++i) {
    if (i == 0) stack::push_copy(&data);
    else *stack::reserve_cell() = Cell{T_NONE, 0, 0, 0};
  }
  function::push_defaults(rest);
  interp::call_function_body(fn, context::global, &name, 1);
  stack::pop_frame();
  stack::state().top = fn;
}

// Seconds as a number: an integer!, float! or time!.
double seconds_of(const Cell* v) {
  if (cell::type(v) == T_INTEGER) return double(cell::get_int(v));
  return cell::get_double(v);
}

float single_of(const Cell* v) {
  if (cell::type(v) == T_INTEGER) return float(cell::get_int(v));
  return float(cell::get_double(v));
}

int32_t pair_half(const Cell* v) {
  if (cell::type(v) == T_INTEGER) return cell::get_int(v);
  return immediate::int32_of_double(cell::get_double(v), v);
}

bool block_class_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH ||
         t == T_GET_PATH;
}
bool string_class_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// Units from the source's index to its tail (bytes of a binary!, characters of a string!).
int32_t units_to_tail(const Cell* s) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  int32_t n = int32_t(memory::units(b)) - int32_t(s->w1);
  return n < 0 ? 0 : n;
}

}  // namespace

void stats(int32_t, const int32_t* refs) {
  bool show = given(refs, 0), info = given(refs, 1);
  if (!show && !info) {
    result(number_cell(actions::stats_walk(nullptr, 1)));
    return;
  }
  Cell* block = block::push_empty(5);
  actions::stats_walk(block, 2);
  if (show) {
    show_memory_stats(block);
    result_unset();
    return;
  }
  Cell r = *block;
  result(r);
}

void recycle(int32_t, const int32_t* refs) {
  if (given(refs, 0) || given(refs, 1)) {
    gc::set_automatic(given(refs, 0));
    result_unset();
    return;
  }
  gc::collect();
  result(number_cell(actions::stats_walk(nullptr, 1)));
}

void uppercase(int32_t, const int32_t* refs) {
  case_::change_case(arg(0), given(refs, 0) ? arg(refs[0]) : nullptr, 1);
  Cell r = *arg(0);
  result(r);
}

void lowercase(int32_t, const int32_t* refs) {
  case_::change_case(arg(0), given(refs, 0) ? arg(refs[0]) : nullptr, 0);
  Cell r = *arg(0);
  result(r);
}

void as_pair(int32_t, const int32_t*) {
  int32_t x = pair_half(arg(0));
  int32_t y = pair_half(arg(1));
  Cell r{T_NONE, 0, 0, 0};
  pair::init_cell(&r, x, y);
  result(r);
}

void as_point2D(int32_t, const int32_t*) {
  Cell r{T_NONE, 0, 0, 0};
  point2D::init_cell(&r, single_of(arg(0)), single_of(arg(1)));
  result(r);
}

void as_point3D(int32_t, const int32_t*) {
  Cell r{T_NONE, 0, 0, 0};
  point3D::init_cell(&r, single_of(arg(0)), single_of(arg(1)), single_of(arg(2)));
  result(r);
}

void as_money(int32_t, const int32_t*) {
  std::string code = text_of(arg(0));
  int32_t index =
      locale::currency_index(reinterpret_cast<const uint8_t*>(code.data()), int32_t(code.size()));
  if (index < 1) error::raise(err::script::bad_denom, arg(0));
  Cell r{T_NONE, 0, 0, 0};
  if (cell::type(arg(1)) == T_INTEGER) money::init_from_integer(&r, cell::get_int(arg(1)));
  else money::init_from_float(&r, cell::get_double(arg(1)), false);
  money::store_currency_index(&r, index);
  result(r);
}

void to_local_file(int32_t, const int32_t* refs) {
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  string::init_cell(out, string::count_from_head(arg(0)) + 1);
  file::to_local_chars(arg(0), out, given(refs, 0));
  Cell r = *out;
  result(r);
}

void wait(int32_t, const int32_t*) {
  uint32_t t = cell::type(arg(0));
  if (t != T_INTEGER && t != T_FLOAT && t != T_TIME && t != T_PERCENT)
    error::raise(err::script::invalid_arg, arg(0));
  double seconds = seconds_of(arg(0));
  result_none();
  tui::event_pass();
  platform::sleep(seconds);
  tui::event_pass();
}

void new_line(int32_t, const int32_t* refs) {
  Cell* pos = arg(0);
  bool on = cell::type(arg(1)) == T_LOGIC && arg(1)->w1 != 0;
  int32_t n = block::count_from_head(pos);
  int32_t head = int32_t(pos->w1);
  if (!given(refs, 0) && !given(refs, 1)) {
    if (n > 0) {
      Cell* c = block::cell_at_index(pos, head);
      if (on) c->header |= hdr::NEW_LINE;
      else cell::clear_new_line(c);
    }
  } else {
    int32_t period = 1;
    if (given(refs, 1)) {
      period = cell::get_int(arg(refs[1]));
      if (period <= 0) error::raise(err::script::out_of_range, arg(refs[1]));
    }
    for (int32_t i = 0; i < n; ++i) {
      Cell* c = block::cell_at_index(pos, head + i);
      if ((i % period == 0) == on) c->header |= hdr::NEW_LINE;
      else cell::clear_new_line(c);
    }
  }
  Cell r = *pos;
  result(r);
}

void new_line_q(int32_t, const int32_t*) {
  Cell* pos = arg(0);
  bool marked = block::count_from_head(pos) > 0 &&
                (block::cell_at_index(pos, int32_t(pos->w1))->header & hdr::NEW_LINE) != 0;
  result(Cell{T_LOGIC, marked ? 1u : 0u, 0, 0});
}

void set_env(int32_t, const int32_t*) {
  std::string name = text_of(arg(0));
  std::optional<std::string> value;
  if (cell::type(arg(1)) != T_NONE) value = text_of(arg(1));
  bool ok = value ? platform::write_env_var(name, std::string_view(*value))
                  : platform::write_env_var(name, std::nullopt);
  // A name the system refuses is an error, never a silent success.
  if (!ok) error::raise(err::script::invalid_arg, arg(0));
  Cell r = *arg(1);
  result(r);
}

void get_env(int32_t, const int32_t*) {
  std::optional<std::string> v = platform::read_env_var(text_of(arg(0)));
  if (!v || v->empty()) {
    result_none();
    return;
  }
  Cell* s = simple_io::push_utf8_string(reinterpret_cast<const uint8_t*>(v->data()),
                                        int64_t(v->size()));
  Cell r = *s;
  result(r);
}

void list_env(int32_t, const int32_t*) {
  Cell* m = host::environment_map();
  Cell r = *m;
  result(r);
}

void now(int32_t, const int32_t* refs) {
  enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
  int fields = 0;
  for (int k = YEAR; k <= PRECISE; ++k) fields += given(refs, k) ? 1 : 0;
  bool time_precise = fields == 2 && given(refs, TIME) && given(refs, PRECISE);
  if (fields >= 2 && !time_precise) error::raise(err::script::bad_refines);
  bool utc = given(refs, UTC);
  bool precise = given(refs, PRECISE);

  // The UTC date and seconds, read again when midnight passed between the two reads.
  uint32_t day = platform::date_now(true);
  double seconds = platform::utc_time(precise);
  if (platform::date_now(true) != day) {
    day = platform::date_now(true);
    seconds = platform::utc_time(precise);
  }
  uint32_t zone = utc ? 0 : platform::date_now(false) & date::ZONE_MASK;
  int32_t year = int32_t(day) >> 17;
  int32_t month = int32_t((day >> 12) & 15);
  int32_t mday = int32_t((day >> 7) & 31);
  // Whole days carried into the local date, so it is right on either side of midnight UTC;
  // the cell keeps universal seconds relative to that date.
  double shift = std::floor((seconds + date::zone_offset(zone)) / 86400.0);
  int64_t day_number = date::to_day_number(year, month, mday) + int64_t(shift);
  Cell d{T_DATE, date::from_day_number(day_number, zone, true), 0, 0};
  cell::put_double(&d, seconds - shift * 86400.0);

  int32_t field = 0;
  if (given(refs, YEAR)) field = 2;
  else if (given(refs, MONTH)) field = 3;
  else if (given(refs, DAY)) field = 4;
  else if (given(refs, ZONE)) field = 5;
  else if (given(refs, TIME)) field = 6;
  else if (given(refs, WEEKDAY)) field = 10;
  else if (given(refs, YEARDAY)) field = 11;
  else if (given(refs, DATE)) field = 1;
  if (field) {
    Cell index{T_INTEGER, 0, uint32_t(field), 0};
    date::pick(&d, field, &index);
  }
  result(d);
}

void as(int32_t, const int32_t*) {
  uint32_t target = cell::type(arg(0)) == T_DATATYPE ? arg(0)->w1 : cell::type(arg(0));
  uint32_t from = cell::type(arg(1));
  bool same_class = (block_class_q(target) && block_class_q(from)) ||
                    (string_class_q(target) && string_class_q(from));
  if (!same_class) {
    Cell a{T_DATATYPE, target, 0, 0}, b{T_DATATYPE, from, 0, 0};
    error::raise(err::script::not_same_class, &a, &b);
  }
  Cell r = *arg(1);
  cell::set_type(&r, target);
  result(r);
}

void call(int32_t, const int32_t* refs) {
  enum { WAIT, SHOW, CONSOLE, SHELL, INPUT, OUTPUT, ERROR };
  std::string command = cell::type(arg(0)) == T_FILE ? file::to_local_text(arg(0))
                                                     : text_of(arg(0));
  // The system would end the command at a NUL and run something else.
  if (command.find('\0') != std::string::npos) error::raise(err::script::invalid_arg, arg(0));
  Cell* in = given(refs, INPUT) ? arg(refs[INPUT]) : nullptr;
  Cell* out = given(refs, OUTPUT) ? arg(refs[OUTPUT]) : nullptr;
  Cell* err = given(refs, ERROR) ? arg(refs[ERROR]) : nullptr;
  int32_t r = host::call(command, given(refs, WAIT), given(refs, CONSOLE), given(refs, SHELL),
                         in, out, err);
  result(Cell{T_INTEGER, 0, uint32_t(r), 0});
}

void size_q(int32_t, const int32_t*) {
  int64_t n = simple_io::size_of(arg(0));
  if (n < 0) result_none();
  else result(Cell{T_INTEGER, 0, uint32_t(int32_t(n)), 0});
}

void browse(int32_t, const int32_t*) {
  std::string target = cell::type(arg(0)) == T_FILE ? file::to_local_text(arg(0))
                                                    : text_of(arg(0));
  if (target.find('\0') != std::string::npos) error::raise(err::script::invalid_arg, arg(0));
  host::browse(target);
  result_unset();
}

void transcode(int32_t, const int32_t* refs) {
  Cell* src = arg(0);
  bool next = refs[0] >= 0, one = refs[1] >= 0, prescan = refs[2] >= 0, scan_only = refs[3] >= 0;
  Cell* part = refs[4] >= 0 ? arg(refs[4]) : nullptr;
  Cell* into = refs[5] >= 0 ? arg(refs[5]) : nullptr;
  Cell* trace = refs[6] >= 0 ? arg(refs[6]) : nullptr;
  bool binary = cell::type(src) == T_BINARY;

  // Modes: prescan, scan only, or load.
  bool scan = !prescan, load = !prescan && !scan_only;
  bool one_value = next || one || scan_only;
  bool next_as_block = next && !(one && !scan_only);

  // The source from its index (moved back to its tail when past it), and its length.
  int32_t available = units_to_tail(src);
  if (available == 0) src->w1 = memory::units(memory::node_buffer(src->w2));
  int32_t length = available;
  if (part) {
    int64_t n;
    if (cell::type(part) == T_INTEGER) {
      n = cell::get_int(part);
    } else {
      if (cell::type(part) != cell::type(src) || part->w2 != src->w2) {
        Cell a{T_DATATYPE, cell::type(src), 0, 0}, b{T_DATATYPE, cell::type(part), 0, 0};
        error::raise(err::script::not_same_type, &a, &b);
      }
      n = int64_t(part->w1) - int64_t(src->w1);
    }
    if (n < 0) n = 0;
    if (n < length) length = int32_t(n);
  }
  if (binary && length > 2) {
    const uint8_t* p = memory::head(memory::node_buffer(src->w2)) + src->w1;
    if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
      src->w1 += 3;
      length -= 3;
    }
  }

  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  int32_t consumed = 0;
  if ((prescan || scan_only) && length == 0) {
    stack::set_only_result(cell::none_value());
    return;
  }
  if (binary) {
    lexer_scan(result, nullptr, length, one_value, scan, load, next_as_block, &consumed, trace,
               src, into);
  } else {
    lexer::transcode_string(result, src, length, one_value, scan, load, next_as_block,
                            &consumed, trace, into);
  }
  if (!load && cell::type(result) == T_NONE && !next) {
    stack::set_only_result(result);
    return;
  }
  if (next && next_as_block) {
    // The value (or the type) and the source after what was consumed.
    Cell* pair = block::push_empty(2);
    Cell* value = result;
    if (load && !into && cell::type(result) == T_BLOCK) {
      if (block::count_from_head(result) > 0) value = block::cell_at_index(result, int32_t(result->w1));
      else cell::set_none(value);
    }
    block::append_copy(pair, value);
    Cell* rest = stack::push_copy(src);
    rest->w1 += uint32_t(consumed);
    block::append_copy(pair, rest);
    Cell r = *pair;
    stack::set_only_result(&r);
    return;
  }
  if (into) {
    Cell r = *into;
    stack::set_only_result(&r);
    return;
  }
  Cell r = *result;
  stack::set_only_result(&r);
}

}  // namespace kel::natives
