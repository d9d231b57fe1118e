// The `system` object: its base layout, the sub-object paths and the builders that other
// units register to add their fields.
#include "runtime/system.h"

#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace kel::system {

namespace {

std::vector<Builder>& builders() {
  static std::vector<Builder> list;
  return list;
}
bool g_built = false;

// A new stack cell that the collector may scan at once (a reserved cell holds whatever
// was there before, which an allocation filling it would read as a value).
Cell* push_none() {
  Cell* c = stack::reserve_cell();
  cell::set_none(c);
  return c;
}

Cell word_of(const std::string& name) {
  Cell w = word::intern_global(name.c_str());
  w.header = T_WORD;
  return w;
}

// The object in field `name` of the object in `parent` (a stack cell), added when missing
// or not an object; pushed.
Cell* push_child(Cell* parent, const std::string& name) {
  Cell field = word_of(name);
  Cell* w = stack::push_copy(&field);
  const Cell* v = object::value_of_word(parent, w);
  if (cell::type(v) == T_OBJECT) return stack::push_copy(v);
  Cell* o = push_none();
  object::init_empty(o, 4);
  o->w2 = object::next_class_id();
  object::refresh_self(o);
  context::set_or_add(parent->w1, w, o);
  return o;
}

}  // namespace

void on_build(Builder builder) {
  if (g_built) builder();
  else builders().push_back(builder);
}

bool built_q() { return g_built; }

void build() {
  // A runtime made again (tests) gets a new `system` and runs every builder again.
  g_built = false;
  Cell* top = stack::state().top;
  Cell name = word_of("system");
  Cell* w = stack::push_copy(&name);
  Cell* slot = word::value_slot(w);
  if (cell::type(slot) != T_OBJECT) {
    Cell* sys = push_none();
    object::init_empty(sys, 8);
    sys->w2 = object::next_class_id();
    object::refresh_self(sys);
    *word::value_slot(w) = *sys;
  }
  // The base layout, in this order; units add theirs through builders.
  Cell platform = word_of("Linux");
  set_field("", "platform", &platform);  // set_field pushes its copy before allocating
  static const char* const objects[] = {"catalog", "standard", "state", "locale",
                                        "options", "codecs",   "lexer"};
  for (const char* name : objects) {
    Cell* mark = stack::state().top;
    push_object(name);
    stack::state().top = mark;
  }
  stack::state().top = top;
  g_built = true;
  for (Builder b : builders()) b();
}

Cell* push_object(const char* path) {
  Cell name = word_of("system");
  Cell* w = stack::push_copy(&name);
  Cell* o = stack::push_copy(word::value_slot(w));
  if (cell::type(o) != T_OBJECT) error::raise(err::script::invalid_path, w);
  std::string p(path);
  size_t at = 0;
  while (at < p.size()) {
    size_t end = p.find('/', at);
    if (end == std::string::npos) end = p.size();
    o = push_child(o, p.substr(at, end - at));
    at = end + 1;
  }
  Cell r = *o;
  stack::state().top = w;
  return stack::push_copy(&r);
}

void set_field(const char* path, const char* name, const Cell* value) {
  Cell* top = stack::state().top;
  Cell* v = stack::push_copy(value);
  Cell* o = push_object(path);
  Cell field = word_of(name);
  Cell* w = stack::push_copy(&field);
  context::set_or_add(o->w1, w, v);
  stack::state().top = top;
}

void put_codec(const char* key, const Cell* record) {
  Cell* top = stack::state().top;
  Cell* value = stack::push_copy(record);
  Cell* sys = push_object("");
  Cell* word = stack::reserve_cell();
  cell::set_none(word);
  *word = word::intern_global("codecs");  // interning allocates: the cell is filled first
  word->header = T_WORD;
  Cell* codecs = stack::reserve_cell();
  *codecs = *object::value_of_word(sys, word);
  if (cell::type(codecs) != T_MAP) {
    cell::set_none(codecs);
    map::init_cell(codecs, nullptr, 8);
    set_field("", "codecs", codecs);
  }
  *word = word::intern_global(key);
  word->header = T_WORD;
  map::put(codecs, word, value, false);
  stack::state().top = top;
}

}  // namespace kel::system
