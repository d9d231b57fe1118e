// event!: registration, make from a spec block, the fields of made and backend events, path
// and pick access, form/mold, comparison, and the routines event?, send-event-os, find-flag?.
#include "runtime/datatypes/event.h"

#include <cmath>
#include <limits>

#include "gui/terminal/event_records.h"
#include "gui/terminal/vocabulary.h"
#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/immediate.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/root_block.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::event {

namespace {

namespace flag = gui::event_flag;

// The field words in field order (runtime words, so no interning is needed to read them).
using runtime::WordKind;
constexpr size_t FIELD_WORDS[FIELD_COUNT] = {
    runtime::runtime_word_index("type", WordKind::SYMBOL),
    runtime::runtime_word_index("face", WordKind::SYMBOL),
    runtime::runtime_word_index("window", WordKind::SYMBOL),
    runtime::runtime_word_index("offset", WordKind::SYMBOL),
    runtime::runtime_word_index("key", WordKind::SYMBOL),
    runtime::runtime_word_index("picked", WordKind::SYMBOL),
    runtime::runtime_word_index("flags", WordKind::SYMBOL),
    runtime::runtime_word_index("away?", WordKind::SYMBOL),
    runtime::runtime_word_index("down?", WordKind::SYMBOL),
    runtime::runtime_word_index("mid-down?", WordKind::SYMBOL),
    runtime::runtime_word_index("alt-down?", WordKind::SYMBOL),
    runtime::runtime_word_index("aux-down?", WordKind::SYMBOL),
    runtime::runtime_word_index("ctrl?", WordKind::SYMBOL),
    runtime::runtime_word_index("shift?", WordKind::SYMBOL),
    runtime::runtime_word_index("orientation", WordKind::SYMBOL)};

// The logic fields' bits, from `away?` on.
constexpr uint32_t LOGIC_BITS[] = {flag::AWAY, flag::DOWN,    flag::MID_DOWN, flag::ALT_DOWN,
                                   flag::AUX_DOWN, flag::CONTROL, flag::SHIFT};

// Cells of a made event's block.
enum : int32_t { B_FACE, B_WINDOW, B_OFFSET, B_PICKED, B_COUNT };

bool word_type_q(uint32_t t) { return t >= T_WORD && t <= T_REFINEMENT; }
bool made_q(const Cell* e) { return (e->header & MADE) != 0; }

Cell* push_none() {
  Cell* c = stack::reserve_cell();
  cell::set_none(c);
  return c;
}

Cell* push_integer(int32_t v) {
  Cell* c = stack::reserve_cell();
  cell::set_integer(c, v);
  return c;
}

// A coordinate truncated toward zero, kept inside 32 bits (records hold any float).
int32_t truncated(float v) {
  if (std::isnan(v)) return 0;
  double d = std::trunc(double(v));
  if (d >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (d <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return int32_t(d);
}

// Cell i of a made event's block (none when it has no block).
Cell* push_made_item(const Cell* e, int32_t i) {
  if (!e->w2) return nullptr;
  Cell b{T_BLOCK, 0, e->w2, 0};
  if (block::count_from_head(&b) <= i) return nullptr;
  return stack::push_copy(block::cell_at_index(&b, i));
}

Cell* push_flags(uint32_t bits) {
  int32_t n = 0;
  for (int32_t i = 0; i < gui::EVENT_FLAG_RESULT_COUNT; ++i)
    if (bits & gui::event_flag_result_bit(i)) ++n;
  // A new block per read: a block kept from an earlier read must not change under its owner.
  Cell* out = block::push_empty(n);
  for (int32_t i = 0; i < gui::EVENT_FLAG_RESULT_COUNT; ++i)
    if (bits & gui::event_flag_result_bit(i)) {
      Cell w = gui::event_flag_result_word(i);
      *runtime::block_append_cell(out) = w;
    }
  return out;
}

Cell* push_key(const Cell* e, const gui::EventRecord* record) {
  if (made_q(e)) {
    int32_t code = int32_t(e->w3 & KEY_MASK);
    return code ? char_::push_new(code) : push_none();
  }
  if (!record) return push_none();
  Cell w;
  if (e->w3 & flag::SPECIAL_KEY)
    return gui::special_key_word(record->code, &w) ? stack::push_copy(&w) : push_none();
  if (record->code < 0 || record->code > 0x10FFFF) return push_none();
  return char_::push_new(record->code);
}

// The type code a word or lit-word names; any other word raises script/not-event-type.
uint32_t type_code_of(const Cell* word) {
  uint32_t code = gui::event_type_code(word);
  if (!code) error::raise(err::script::not_event_type, word);
  return code;
}

// The value a word or get-word in a spec stands for, when it is bound and has one.
const Cell* bound_value(const Cell* w) {
  uint32_t t = cell::type(w);
  if ((t != T_WORD && t != T_GET_WORD) || !w->w1 || w->w3 == context::NO_INDEX) return w;
  if (!context::cell_of(w->w1)->w2) return w;  // a function's context while it is not running
  return context::value_slot(w, w->w1);
}

}  // namespace

Cell* init_backend(Cell* c, uint32_t type_code, uint32_t flags, uint32_t record_id) {
  *c = Cell{T_EVENT, type_code, record_id, flags};
  return c;
}

int32_t field_of_word(const Cell* word) {
  if (!word_type_q(cell::type(word))) return 0;
  int32_t id = symbol::canonical_id(int32_t(word->w2));
  for (int32_t i = 0; i < FIELD_COUNT; ++i)
    if (symbol::canonical_id(symbol::runtime_id(FIELD_WORDS[i])) == id) return i + 1;
  return 0;
}

Cell* push_field(const Cell* event_in, int32_t field) {
  const Cell e = *event_in;  // the argument may be a series cell; this copy stays put
  bool made = made_q(&e);
  const gui::EventRecord* record = made ? nullptr : gui::event_record(e.w2);
  Cell w;
  switch (field) {
    case TYPE:
      return gui::event_type_word(e.w1, &w) ? stack::push_copy(&w) : push_none();
    case FACE:
      if (made) {
        Cell* v = push_made_item(&e, B_FACE);
        return v ? v : push_none();
      } else {
        Cell* out = push_none();
        if (record && !gui::face_of_widget(record->widget, out)) cell::set_none(out);
        return out;
      }
    case WINDOW:
      if (made) {
        Cell* v = push_made_item(&e, B_WINDOW);
        return v ? v : push_none();
      }
      return push_none();
    case OFFSET:
      if (made) {
        Cell* v = push_made_item(&e, B_OFFSET);
        return v ? v : pair::push_new(0, 0);
      }
      return record ? pair::push_new(truncated(record->x), truncated(record->y)) : push_none();
    case KEY:
      return push_key(&e, record);
    case PICKED:
      if (made) {
        Cell* v = push_made_item(&e, B_PICKED);
        return v ? v : push_integer(0);
      }
      if (!record) return push_none();
      if (e.w1 == gui::EVENT_WHEEL) return float_::push_new(double(record->delta));
      return push_integer(record->code);
    case FLAGS:
      return push_flags(e.w3);
    case ORIENTATION:
      return push_none();
    default:
      if (field >= AWAY_Q && field <= SHIFT_Q)
        return logic::push_new((e.w3 & LOGIC_BITS[field - AWAY_Q]) != 0);
      return push_none();
  }
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
  Cell ev{T_EVENT | MADE, 0, 0, 0};
  if (cell::type(spec) == T_BLOCK) {
    Cell items[B_COUNT] = {{T_NONE, 0, 0, 0}, {T_NONE, 0, 0, 0}, {T_PAIR, 0, 0, 0},
                           {T_INTEGER, 0, 0, 0}};
    gc::RootRange keep(items, items + B_COUNT);
    bool block_needed = false;
    // Nothing below allocates until the block is made, so the spec's cells stay put.
    int32_t n = block::count_from_head(spec);
    for (int32_t i = 0; i + 1 < n; ++i) {
      const Cell* key = block::cell_at_index(spec, int32_t(spec->w1) + i);
      if (cell::type(key) != T_SET_WORD) continue;
      const Cell* value = bound_value(key + 1);
      ++i;  // the value is taken whatever it is
      uint32_t vt = cell::type(value);
      switch (field_of_word(key)) {
        case TYPE:
          if (vt == T_WORD || vt == T_LIT_WORD) ev.w1 = type_code_of(value);
          break;
        case KEY:
          if (vt == T_CHAR) ev.w3 |= uint32_t(cell::get_int(value)) & KEY_MASK;
          break;
        case FLAGS:
          if (vt == T_BLOCK) {
            int32_t m = block::count_from_head(value);
            for (int32_t j = 0; j < m; ++j) {
              const Cell* f = block::cell_at_index(value, int32_t(value->w1) + j);
              if (cell::type(f) == T_WORD) ev.w3 |= gui::event_flag_bit(f);
            }
          }
          break;
        case FACE:
        case WINDOW:
          if (vt == T_OBJECT) {
            items[field_of_word(key) == FACE ? B_FACE : B_WINDOW] = *value;
            block_needed = true;
          }
          break;
        case OFFSET:
          if (vt == T_PAIR || vt == T_POINT2D) {
            items[B_OFFSET] = *value;
            cell::clear_new_line(&items[B_OFFSET]);
            block_needed = true;
          }
          break;
        case PICKED:
          if (vt == T_INTEGER) {
            cell::set_integer(&items[B_PICKED], cell::get_int(value));
            block_needed = true;
          }
          break;
        default:
          break;
      }
    }
    if (block_needed) {
      for (Cell& c : items) cell::clear_new_line(&c);
      Cell* b = block::push_empty(B_COUNT);
      for (const Cell& c : items) *runtime::block_append_cell(b) = c;
      ev.w2 = b->w2;
      stack::drop_cells(1);  // ev is returned before anything else allocates
    }
  }
  *proto = ev;
  return proto;
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t limit) {
  string::add_c_text(buffer, "event");
  return limit - 5;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t, bool, bool, bool, bool change_notice) {
  const Cell* where = path ? path : cell::none_value();
  int32_t field = field_of_word(element);
  if (!value) {
    if (!field) error::raise(err::script::invalid_path, where, element);
    return push_field(parent, field);
  }
  if (field != TYPE) error::raise(err::script::bad_path_set, where, element);
  uint32_t vt = cell::type(value);
  if (vt != T_WORD && vt != T_LIT_WORD) error::raise(err::script::bad_path_set, where, value);
  uint32_t code = type_code_of(value);
  Cell* old = change_notice ? stack::push_copy(parent) : nullptr;
  parent->w1 = code;
  immediate::notify_path_set(container, previous, old, parent, value, TYPE);
  if (old) stack::drop_cells(1);
  return stack::push_copy(value);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_EVENT) return -2;
  switch (op) {
    case 3: case 4: case 5: case 6: return -2;  // events have no order
    case 7: case 8: return 0;                    // sorting keeps them where they are
    default:
      // Equal only when they are the same event: one made value, or one backend dispatch.
      return (a->header & MADE) == (b->header & MADE) && a->w1 == b->w1 && a->w2 == b->w2 &&
                     a->w3 == b->w3
                 ? 0
                 : 1;
  }
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
  int32_t field;
  if (word_type_q(cell::type(index_cell))) {
    field = field_of_word(index_cell);
    if (!field) error::raise(err::script::cannot_use, index_cell, value);
  } else {
    field = index;
    if (field < 1 || field > FIELD_COUNT) error::raise(err::script::out_of_range, index_cell);
  }
  return push_field(value, field);
}

void install_type() {
  datatype::register_type({.id = T_EVENT, .parent = 0, .name = "event!",
                           .slots = {.make = make, .form = form, .mold = mold,
                                     .eval_path = eval_path, .compare = compare, .pick = pick}});
}

namespace {

void answer(bool truth) {
  Cell r{T_LOGIC, truth ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

void event_q() { answer(cell::type(stack::state().base) == T_EVENT); }

void send_event_os() {
  Cell* base = stack::state().base;
  answer(gui::os_send_event(base, logic::true_q(base + 1)));
}

void find_flag_q() {
  const Cell* facet = stack::state().base;
  const Cell* flag_word = facet + 1;
  int32_t id = symbol::canonical_id(int32_t(flag_word->w2));
  auto same = [id](const Cell* w) { return symbol::canonical_id(int32_t(w->w2)) == id; };
  bool found = false;
  if (cell::type(facet) == T_WORD) {
    found = same(facet);
  } else if (cell::type(facet) == T_BLOCK) {
    int32_t n = block::count_from_head(facet);
    for (int32_t i = 0; i < n && !found; ++i) {
      const Cell* c = block::cell_at_index(facet, int32_t(facet->w1) + i);
      found = (cell::type(c) == T_WORD || cell::type(c) == T_LIT_WORD) && same(c);
    }
  }
  answer(found);
}

void register_routines() {
  static bool registered = false;  // the registry outlives a runtime started again
  if (registered) return;
  registered = true;
  routine::register_routine({"event?", "value [any-type!] return: [logic!]", &event_q, int32_t(T_LOGIC)});
  routine::register_routine({"send-event-os", "event [event!] queued? [logic!] return: [logic!]",
                             &send_event_os, int32_t(T_LOGIC)});
  routine::register_routine({"find-flag?", "facet [any-type!] flag [word!] return: [logic!]",
                             &find_flag_q, int32_t(T_LOGIC)});
}

}  // namespace

void register_type() {
  install_type();
  Cell w = word::intern_global("event!");
  datatype::type_table[T_EVENT].word = w;
  runtime::root_append(&w);
  register_routines();
}

}  // namespace kel::event
