// port!: making ports through the scheme registry, their text forms, the forwarding slots
// that call the actor's functions, read and write composed of them, and native actor tables.
#include "runtime/datatypes/port.h"

#include <exception>
#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/io_handover.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/io/http.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"
#include "runtime/unwind.h"

namespace kel::port {

using gc::Kept;

namespace {

namespace act = datatype::action;

// The action words of the ids 25-62.
const char* const ACTION_NAMES[38] = {
    "append", "at",     "back",    "change", "clear", "copy",   "find",   "head",
    "head?",  "index?", "insert",  "length?", "move", "next",   "pick",   "poke",
    "put",    "remove", "reverse", "select", "sort",  "skip",   "swap",   "tail",
    "tail?",  "take",   "trim",    "create", "close", "delete", "modify", "open",
    "open?",  "query",  "read",    "rename", "update", "write"};

std::vector<const ActorTable*> g_tables;

Cell word_named(const char* text) {
  Cell w = word::intern_global(text);
  w.header = T_WORD;
  return w;
}

// The field's value (a copy) of the object at a path below `system`.
Cell system_value(const char* path, const char* field) {
  Cell* mark = stack::state().top;
  Cell w = word_named(field);
  Cell* o = system::push_object(path);
  Cell v = *object::value_of_word(o, &w);
  stack::state().top = mark;
  return v;
}

// A new object copied from the prototype at a path below `system`, pushed.
Cell* push_from_standard(const char* name) {
  Cell* o = system::push_object(name);
  Cell* r = stack::reserve_cell();
  cell::set_none(r);
  object::copy_into(o, r, false, nullptr, true);
  return r;
}

void set_field(Cell* object, const char* field, const Cell* value) {
  Kept v(value);
  Cell w = word_named(field);
  context::set_or_add(object->w1, &w, &v.c);
}

bool any_word_q(uint32_t t) {
  return t == T_WORD || t == T_SET_WORD || t == T_LIT_WORD || t == T_GET_WORD;
}

// The scheme registered under the word: `system/schemes` is a block of name/scheme pairs
// (an object of schemes is read by field).
Cell find_scheme(const Cell* name) {
  Cell schemes = system_value("", "schemes");
  gc::Root keep(&schemes);
  if (cell::type(&schemes) == T_OBJECT) return *object::value_of_word(&schemes, name);
  if (cell::type(&schemes) != T_BLOCK) return Cell{T_NONE, 0, 0, 0};
  int32_t n = block::count_from_head(&schemes);
  int32_t head = int32_t(schemes.w1);
  int32_t want = symbol::canonical_id(int32_t(name->w2));
  for (int32_t i = 0; i + 1 < n; i += 2) {
    const Cell* k = block::cell_at_index(&schemes, head + i);
    if (any_word_q(cell::type(k)) && symbol::canonical_id(int32_t(k->w2)) == want)
      return *block::cell_at_index(&schemes, head + i + 1);
  }
  return Cell{T_NONE, 0, 0, 0};
}

// ---- Native actor tables ----

const ActorTable* table_of(const Cell* actor) {
  if (cell::type(actor) != T_HANDLE || actor->w1 != handle::KIND_PORT_ACTOR) return nullptr;
  uint32_t i = actor->w2;
  return i < g_tables.size() ? g_tables[i] : nullptr;
}

// The native actor's function for action K, or null when the actor is no such handle;
// a table without the action raises access/no-port-action.
template <uint32_t K>
datatype::SlotFn<K> native_slot(const Cell* port) {
  Cell w = word_named("actor");
  const ActorTable* t = table_of(object::value_of_word(port, &w));
  if (!t) return nullptr;
  datatype::AnySlot fn = t->slots[K - act::APPEND];
  if (!fn) error::raise(err::access::no_port_action);
  return reinterpret_cast<datatype::SlotFn<K>>(fn);
}

// ---- The values pushed for the actor ----

// The values for the actor: cells of the action's frame, or small values held here (flags,
// counts: no series). Copies stay valid: a held value is found by its position.
struct Values {
  const Cell* ref[24];
  Cell own[24];
  int32_t n = 0;
  void add(const Cell* c) { ref[n++] = c ? c : cell::none_value(); }
  void scalar(Cell c) {
    ref[n] = nullptr;
    own[n++] = c;
  }
  const Cell* at(int32_t i) const { return ref[i] ? ref[i] : &own[i]; }
  void flag(bool on) { scalar(Cell{T_LOGIC, on ? 1u : 0u, 0, 0}); }
  // A refinement: its flag, then its argument or none.
  void refine(const Cell* arg) {
    flag(arg != nullptr);
    add(arg);
  }
  void count(bool on, int32_t value) {
    flag(on);
    if (on) scalar(Cell{T_INTEGER, 0, uint32_t(value), 0});
    else add(nullptr);
  }
};

Cell* call(uint32_t action, const Cell* port, const Values& v) {
  const Cell* at[24] = {};
  for (int32_t i = 0; i < v.n; ++i) at[i] = v.at(i);
  return call_actor(action, port, at, v.n);
}

// The entry point of these actions leaves the result to the slot.
Cell* as_frame_result(Cell* r) {
  stack::set_only_result(r);
  return stack::state().base;
}

// ---- Forwarding slots ----

template <uint32_t K>
Cell* frame_slot() {
  Cell* port = stack::state().base;
  if (auto fn = native_slot<K>(port)) return fn();
  Values v;
  if (K == act::AT || K == act::SKIP) v.add(port + 1);
  return as_frame_result(call(K, port, v));
}

// append, insert and change: the value, /part (count or none), /only, /dup (count or none).
Values insert_values(Cell* value, int32_t part, bool only, int32_t dup) {
  Values v;
  v.add(value);
  v.count(part >= 0, part);
  v.flag(only);
  v.count(dup != 1, dup);
  return v;
}

template <uint32_t K>
Cell* insert_like(Cell* port, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
  if (auto fn = native_slot<K>(port)) return fn(port, value, part, only, dup, append);
  return as_frame_result(call(K, port, insert_values(value, part, only, dup)));
}

Cell* change(Cell* port, Cell* value, int32_t part, bool only, int32_t dup) {
  if (auto fn = native_slot<act::CHANGE>(port)) return fn(port, value, part, only, dup);
  return as_frame_result(call(act::CHANGE, port, insert_values(value, part, only, dup)));
}

template <uint32_t K>
Cell* unary(Cell* port) {
  if (auto fn = native_slot<K>(port)) return fn(port);
  return call(K, port, Values{});
}

Cell* copy(Cell* port, Cell* result, Cell* part, bool deep, Cell* types) {
  if (auto fn = native_slot<act::COPY>(port)) return fn(port, result, part, deep, types);
  Values v;
  v.refine(part);
  v.flag(deep);
  v.refine(types);
  return call(act::COPY, port, v);
}

// find and select: the value, /part, /only /case /same /any, /with, /skip, /last /reverse.
void search_values(Values& v, Cell* value, Cell* part, bool only, bool case_, bool same,
                   bool any, Cell* with, Cell* skip, bool last, bool reverse) {
  v.add(value);
  v.refine(part);
  v.flag(only);
  v.flag(case_);
  v.flag(same);
  v.flag(any);
  v.refine(with);
  v.refine(skip);
  v.flag(last);
  v.flag(reverse);
}

Cell* find(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
  if (auto fn = native_slot<act::FIND>(port))
    return fn(port, value, part, only, case_, same, any, with, skip, last, reverse, tail, match);
  Values v;
  search_values(v, value, part, only, case_, same, any, with, skip, last, reverse);
  v.flag(tail);
  v.flag(match);
  return call(act::FIND, port, v);
}

Cell* select(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
  if (auto fn = native_slot<act::SELECT>(port))
    return fn(port, value, part, only, case_, same, any, with, skip, last, reverse);
  Values v;
  search_values(v, value, part, only, case_, same, any, with, skip, last, reverse);
  return call(act::SELECT, port, v);
}

// Only an integer! answer is a length.
int32_t length_q(Cell* port) {
  if (auto fn = native_slot<act::LENGTH_Q>(port)) return fn(port);
  Cell* r = call(act::LENGTH_Q, port, Values{});
  if (cell::type(r) != T_INTEGER) error::raise(err::script::invalid_arg, r);
  return cell::get_int(r);
}

Cell* move(Cell* port, Cell* target, Cell* part) {
  if (auto fn = native_slot<act::MOVE>(port)) return fn(port, target, part);
  Values v;
  v.add(target);
  v.refine(part);
  return call(act::MOVE, port, v);
}

Cell* pick(Cell* port, int32_t index, Cell* index_cell) {
  if (auto fn = native_slot<act::PICK>(port)) return fn(port, index, index_cell);
  Values v;
  v.add(index_cell);
  return call(act::PICK, port, v);
}

Cell* poke(Cell* port, int32_t index, Cell* value, Cell* index_cell) {
  if (auto fn = native_slot<act::POKE>(port)) return fn(port, index, value, index_cell);
  Values v;
  v.add(index_cell);
  v.add(value);
  return call(act::POKE, port, v);
}

Cell* put(Cell* port, Cell* key, Cell* value, bool case_) {
  if (auto fn = native_slot<act::PUT>(port)) return fn(port, key, value, case_);
  Values v;
  v.add(key);
  v.add(value);
  v.flag(case_);
  return call(act::PUT, port, v);
}

Cell* remove(Cell* port, Cell* part, Cell* key) {
  if (auto fn = native_slot<act::REMOVE>(port)) return fn(port, part, key);
  Values v;
  v.refine(part);
  return as_frame_result(call(act::REMOVE, port, v));
}

Cell* reverse(Cell* port, Cell* part, Cell* skip) {
  if (auto fn = native_slot<act::REVERSE>(port)) return fn(port, part, skip);
  Values v;
  v.refine(part);
  return as_frame_result(call(act::REVERSE, port, v));
}

Cell* sort(Cell* port, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
  if (auto fn = native_slot<act::SORT>(port))
    return fn(port, case_, skip, comparator, part, all, reverse, stable);
  Values v;
  v.flag(case_);
  v.refine(skip);
  v.refine(comparator);
  v.refine(part);
  v.flag(all);
  v.flag(reverse);
  v.flag(stable);
  return call(act::SORT, port, v);
}

Cell* swap(Cell* port, Cell* other) {
  if (auto fn = native_slot<act::SWAP>(port)) return fn(port, other);
  Values v;
  v.add(other);
  return as_frame_result(call(act::SWAP, port, v));
}

Cell* rename(Cell* port, Cell* name) {
  if (auto fn = native_slot<act::RENAME>(port)) return fn(port, name);
  Values v;
  v.add(name);
  return call(act::RENAME, port, v);
}

Cell* take(Cell* port, Cell* part, bool deep, bool last) {
  if (auto fn = native_slot<act::TAKE>(port)) return fn(port, part, deep, last);
  Values v;
  v.refine(part);
  v.flag(deep);
  v.flag(last);
  return call(act::TAKE, port, v);
}

Cell* trim(Cell* port, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
  if (auto fn = native_slot<act::TRIM>(port)) return fn(port, head, tail, auto_, lines, all, with);
  Values v;
  v.flag(head);
  v.flag(tail);
  v.flag(auto_);
  v.flag(lines);
  v.flag(all);
  v.refine(with);
  return as_frame_result(call(act::TRIM, port, v));
}

Cell* modify(Cell* port, Cell* field, Cell* value, bool case_) {
  if (auto fn = native_slot<act::MODIFY>(port)) return fn(port, field, value, case_);
  Values v;
  v.add(field);
  v.add(value);
  v.flag(case_);
  return call(act::MODIFY, port, v);
}

// open pushes the /allow flag before its value, like every other refinement.
Cell* call_open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
  Values v;
  v.flag(new_);
  v.flag(read);
  v.flag(write);
  v.flag(seek);
  v.refine(allow);
  return call(act::OPEN, port, v);
}

Cell* open_slot(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
  if (auto fn = native_slot<act::OPEN>(port)) return fn(port, new_, read, write, seek, allow);
  return call_open(port, new_, read, write, seek, allow);
}

// copy with no refinements: what read and write answer.
Cell* call_copy(Cell* port) {
  Values v;
  v.refine(nullptr);
  v.flag(false);
  v.refine(nullptr);
  return call(act::COPY, port, v);
}

void call_close(Cell* port) {
  Cell* mark = stack::state().top;
  call(act::CLOSE, port, Values{});
  stack::state().top = mark;
}

// Runs the steps (actor calls) under a try frame of their own, so an error in them is caught
// while the port is still reachable: close runs, then the error goes on. Without an error
// the last step's result is pushed.
template <class Steps>
Cell* closing_on_error(Cell* port, Steps&& steps) {
  Cell* mark = stack::state().top;
  Cell name = word_named("close");
  stack::push_try_frame(&name);
  try {
    Cell* r = steps();
    Cell v = *r;
    stack::pop_frame();  // the try frame: its base cell (mark) gets the result below
    *mark = v;
    stack::state().top = mark + 1;
    return mark;
  } catch (const Unwind& u) {
    if (u.code != unwind_code::ERROR) throw;
    // The error dropped the frames down to the try frame's caller; its value is on top.
    Kept err(stack::last_pushed());
    stack::state().top = mark;
    call_close(port);
    stack::propagate_error(&err.c);
    throw;  // not reached
  }
}

}  // namespace

// ---- Public ----

void init_actor_handle(Cell* out, const ActorTable* table) {
  if (g_tables.empty()) g_tables.push_back(nullptr);  // index 0 names no table
  uint32_t index = uint32_t(g_tables.size());
  for (uint32_t i = 1; i < g_tables.size(); ++i)
    if (g_tables[i] == table) index = i;
  if (index == g_tables.size()) g_tables.push_back(table);
  handle::init_cell(out, int32_t(index), handle::KIND_PORT_ACTOR);
}

Cell actor_of(const Cell* port) {
  Cell w = word_named("actor");
  Cell a = *object::value_of_word(port, &w);
  if (cell::type(&a) != T_OBJECT) error::raise(err::access::invalid_port);
  return a;
}

Cell* call_actor(uint32_t action, const Cell* port, const Cell* const* values, int32_t count) {
  // Everything that allocates comes first: the values may be C++ copies without series.
  Cell name = word_named(ACTION_NAMES[action - act::APPEND]);
  gc::Root keep_name(&name);
  Cell actor = actor_of(port);
  Cell fn_value = *object::value_of_word(&actor, &name);
  if (cell::type(&fn_value) != T_FUNCTION) error::raise(err::access::no_port_action);
  Cell* fn = stack::push_copy(&fn_value);
  Cell* self = stack::push_copy(port);
  int32_t nargs, rest;
  function::frame_shape(fn, &nargs, &rest);
  stack::push_function_frame(&name, fn->w1);
  stack::set_interpreted_flag();
  // The function takes exactly its own arguments: missing values are none, extra dropped.
  for (int32_t i = 0; i < nargs; ++i) {
    if (i == 0) stack::push_copy(self);
    else if (i - 1 < count) stack::push_copy(values[i - 1]);
    else cell::set_none(stack::reserve_cell());
  }
  function::push_defaults(rest);
  interp::call_function_body(fn, name.w1, &name, 0);
  stack::pop_frame();
  *fn = *stack::last_pushed();
  stack::state().top = fn + 1;
  return fn;
}

Cell* make(Cell* proto, Cell* spec_in, uint32_t) {
  Kept spec_given(spec_in);
  Cell* spec;
  if (cell::type(&spec_given.c) == T_OBJECT) {
    spec = stack::reserve_cell();
    cell::set_none(spec);
    object::copy_into(&spec_given.c, spec, false, nullptr, false);
  } else {
    Cell* parts = system::push_object("standard/url-parts");
    spec = object::make(parts, &spec_given.c, T_OBJECT);
  }
  Cell scheme_word = word_named("scheme");
  Cell* scheme = stack::push_copy(object::value_of_word(spec, &scheme_word));
  if (cell::type(scheme) != T_WORD) error::raise(err::access::no_scheme, &spec_given.c);

  Cell* port = push_from_standard("standard/port");
  port->header = T_PORT;
  port->w2 = CLASS_ID;
  object::refresh_self(port);
  set_field(port, "spec", spec);
  set_field(port, "scheme", scheme);

  Cell* found = stack::reserve_cell();
  cell::set_none(found);
  *found = find_scheme(scheme);
  if (cell::type(found) != T_OBJECT) error::raise(err::access::unknown_scheme, &spec_given.c);
  Cell actor_word = word_named("actor");
  Cell* actor = stack::push_copy(object::value_of_word(found, &actor_word));
  if (cell::type(actor) != T_OBJECT && cell::type(actor) != T_HANDLE)
    error::raise(err::access::invalid_actor);
  set_field(port, "actor", actor);
  Cell p = *port;
  stack::state().top = port + 1;
  *port = p;
  return port;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, true)) return budget;
  Kept o(value), buf(buffer);
  const char* open = "make port! [";
  string::add_c_text(&buf.c, open);
  budget -= 12;
  int32_t before = budget;
  budget = object::mold_fields(&o.c, &buf.c, false, all, flat, part, budget, true, indent + 1,
                               true);
  if (!flat && indent >= 1 && budget != before) {
    for (int32_t k = 0; k < indent; ++k) {
      string::add_c_text(&buf.c, "    ");
      budget -= 4;
    }
  }
  string::add_c_text(&buf.c, "]");
  return budget - 1;
}

// object!'s comparison, for two ports.
int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_PORT) return -2;
  Cell x = *a, y = *b;
  cell::set_type(&x, T_OBJECT);
  cell::set_type(&y, T_OBJECT);
  return object::compare(&x, &y, op);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
  return mold(value, buffer, false, false, false, part, budget, 0);
}

// ---- read and write, composed of the other actions ----

Cell* read(Cell* port, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
  if (auto fn = native_slot<act::READ>(port)) return fn(port, part, seek, binary, lines, info, as);
  Cell* mark = stack::state().top;
  call_open(port, false, false, false, seek != nullptr, nullptr);
  stack::state().top = mark;
  Cell* r = closing_on_error(port, [&] { return call_copy(port); });
  call_close(port);
  return r;
}

Cell* write(Cell* port, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
            Cell* seek, Cell* allow, Cell* as) {
  if (auto fn = native_slot<act::WRITE>(port))
    return fn(port, data, binary, lines, info, append, part, seek, allow, as);
  Cell* mark = stack::state().top;
  call_open(port, false, false, true, seek != nullptr, nullptr);
  stack::state().top = mark;
  bool counted = part && cell::type(part) == T_INTEGER;
  int32_t count = counted ? cell::get_int(part) : 0;
  Cell* r = closing_on_error(port, [&] {
    Cell* step = stack::state().top;
    call(act::INSERT, port, insert_values(data, counted ? count : -1, false, 1));
    stack::state().top = step;
    return call_copy(port);
  });
  call_close(port);
  return r;
}

// ---- The hand-overs of url! ----

Cell* make_from_spec(Cell* spec) { return make(nullptr, spec, T_PORT); }

Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
  Cell* mark = stack::state().top;
  open_slot(port, new_, read, write, seek, allow);
  stack::state().top = mark;
  return port;
}

// ---- system fields and registration ----

namespace {

void build_system_fields() {
  Cell none{T_NONE, 0, 0, 0};
  static const char* const port_fields[] = {"spec", "scheme", "actor", "awake",
                                            "state", "data", "extra"};
  static const char* const url_fields[] = {"scheme", "user-info", "host",     "port", "path",
                                           "target", "query",     "fragment", "ref"};
  static const char* const scheme_fields[] = {"name", "title", "info", "actor", "awake"};
  for (const char* f : port_fields) system::set_field("standard/port", f, &none);
  for (const char* f : url_fields) system::set_field("standard/url-parts", f, &none);
  for (const char* f : scheme_fields) system::set_field("standard/scheme", f, &none);
  Cell* mark = stack::state().top;
  Cell* schemes = block::push_empty(10);
  system::set_field("", "schemes", schemes);
  stack::state().top = mark;
}

}  // namespace

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_PORT, .parent = T_OBJECT, .name = "port!",
       .slots = {.make = make, .reflect = inherit, .form = form, .mold = mold,
                 .eval_path = inherit, .compare = compare,
                 .append = insert_like<act::APPEND>, .at = frame_slot<act::AT>,
                 .back = frame_slot<act::BACK>, .change = change, .clear = unary<act::CLEAR>,
                 .copy = copy, .find = find, .head = frame_slot<act::HEAD>,
                 .head_q = frame_slot<act::HEAD_Q>, .index_q = frame_slot<act::INDEX_Q>,
                 .insert = insert_like<act::INSERT>, .length_q = length_q, .move = move,
                 .next = frame_slot<act::NEXT>, .pick = pick, .poke = poke, .put = put,
                 .remove = remove, .reverse = reverse, .select = select, .sort = sort,
                 .skip = frame_slot<act::SKIP>, .swap = swap, .tail = frame_slot<act::TAIL>,
                 .tail_q = frame_slot<act::TAIL_Q>, .take = take, .trim = trim,
                 .create = unary<act::CREATE>, .close = unary<act::CLOSE>,
                 .delete_ = unary<act::DELETE>, .modify = modify, .open = open_slot,
                 .query = unary<act::QUERY>, .read = read, .rename = rename,
                 .update = unary<act::UPDATE>, .write = write}});
  system::on_build(build_system_fields);
  simple_io::http_init();
}

}  // namespace kel::port

// ---- The boot library's URL parser ----

namespace kel::boot {

// `url-parser/parse-url` of the URL, called under a function frame: the object it gives,
// or whatever else it answers (none when the URL does not parse).
Cell* parse_url(Cell* url) {
  port::Kept u(url);
  Cell parser_word = word::intern_global("url-parser");
  gc::Root keep_parser(&parser_word);
  Cell name = word::intern_global("parse-url");
  gc::Root keep_name(&name);
  Cell parser = *word::value_slot(&parser_word);
  if (cell::type(&parser) != T_OBJECT) error::raise(err::internal::not_done);
  Cell fn = *object::value_of_word(&parser, &name);
  if (cell::type(&fn) != T_FUNCTION) error::raise(err::internal::not_done);
  const Cell* values[] = {&u.c};
  return function::call_with_values(&fn, &name, values, 1);
}

}  // namespace kel::boot
