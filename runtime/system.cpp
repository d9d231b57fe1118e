// The `system` object: its base layout, the sub-object paths and the builders that other
// units register to add their fields.
#include "runtime/system.h"

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/evaluator/launch.h"
#include "runtime/io/host.h"
#include "runtime/io/simple_io.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

#include "build_info.h"

namespace kel::system {

namespace {

// The object the runtime built, held while the system module lays `system` out again.
Cell g_base{T_NONE, 0, 0, 0};
void mark_base() { gc::mark_cells(&g_base, &g_base + 1); }

// Adds to `to` every field of `from` that it lacks, after its own; an object both hold (not
// the same one) is gone through the same way. Both are stack cells.
void carry_fields(Cell* from, Cell* to) {
  int32_t n = context::word_count(from->w1);
  for (int32_t i = 0; i < n; ++i) {
    Cell* mark = stack::state().top;
    Cell* word = stack::push_copy(context::word_at(from->w1, i));
    Cell* value = stack::push_copy(object::values_start(from) + i);
    int32_t j = context::find_symbol(to->w1, int32_t(word->w2), true);
    if (j < 0) {
      context::set_or_add(to->w1, word, value);
    } else {
      Cell* held = stack::push_copy(object::values_start(to) + j);
      if (cell::type(value) == T_OBJECT && cell::type(held) == T_OBJECT && value->w1 != held->w1)
        carry_fields(value, held);
    }
    stack::state().top = mark;
  }
}

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
  // A unit installed again (a runtime made again) registers again; its builder runs once.
  std::vector<Builder>& list = builders();
  if (std::find(list.begin(), list.end(), builder) == list.end()) list.push_back(builder);
  if (g_built) builder();
}

bool built_q() { return g_built; }

void forget() {
  g_built = false;
  g_base = Cell{T_NONE, 0, 0, 0};
}

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
  {
    Cell* mark = stack::state().top;
    Cell* words = object::push_new(context::global, 0);  // also the global context's self
    set_field("", "words", words);
    stack::state().top = mark;
  }
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

void put_process_values() {
  Cell* top = stack::state().top;
  set_field("script", "args", host::command_line_string());
  std::string home = platform::cache_home();
  set_field("options", "cache",
            simple_io::push_utf8_string(reinterpret_cast<const uint8_t*>(home.data()),
                                        int64_t(home.size())));
  Cell date{T_NONE, 0, 0, 0};
  // Dates go to 2^31 - 1 seconds here; a later build date is left out rather than wrapped.
  if (build_info::EPOCH >= 0 && build_info::EPOCH <= INT32_MAX)
    date = Cell{T_INTEGER, 0, uint32_t(int32_t(build_info::EPOCH)), 0};
  set_field("build", "date", &date);
  Cell* spec = push_none();
  launcher::load_text(reinterpret_cast<const uint8_t*>(build_info::CONFIG),
                      int32_t(sizeof build_info::CONFIG - 1), spec);
  set_field("build", "config", object::make_from_proto(spec, nullptr, false));
  g_base = *push_object("");
  gc::remove_root(&mark_base);
  gc::add_root(&mark_base);
  stack::state().top = top;
}

void keep_base_fields() {
  Cell* top = stack::state().top;
  Cell* base = stack::push_copy(&g_base);
  g_base = Cell{T_NONE, 0, 0, 0};
  Cell name = word_of("system");
  Cell* w = stack::push_copy(&name);
  Cell* now = stack::push_copy(word::value_slot(w));
  if (cell::type(base) == T_OBJECT && cell::type(now) == T_OBJECT && base->w1 != now->w1)
    carry_fields(base, now);
  stack::state().top = top;
}

bool find_field(const char* path, const char* name, Cell* out) {
  Cell name_word = word_of("system");
  if (!name_word.w1) return false;
  Cell o = *word::value_slot(&name_word);
  gc::Root keep(&o);  // interning may collect and move the context's node
  std::string p(path);
  p += p.empty() ? name : std::string("/") + name;
  size_t at = 0;
  for (;;) {
    if (cell::type(&o) != T_OBJECT) return false;
    size_t end = p.find('/', at);
    if (end == std::string::npos) end = p.size();
    int32_t symbol = symbol::intern_text(reinterpret_cast<const uint8_t*>(p.data() + at),
                                         uint32_t(end - at));
    Cell* v = context::value_of_symbol(symbol, o.w1);
    if (!v) return false;
    o = *v;
    if (end == p.size()) break;
    at = end + 1;
  }
  *out = o;
  return true;
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
