// Probe: objects, ownership, error values and the compiled-code support on the fully started
// runtime. Each scenario prints lines that tests/unit/object_test.cpp checks.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/compiled_support.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/owner.h"
#include "runtime/stack.h"
#include "runtime/startup.h"

namespace {

std::string g_scenario;

void say(const std::string& s) {
  std::fputs(s.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Evaluates Kel text; the result (or the error) is written to out.
bool run(const char* text, kel::Cell* out) {
  using namespace kel;
  Cell* mark = stack::state().top;
  Cell* block = stack::reserve_cell();
  *block = Cell{T_NONE, 0, 0, 0};
  launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), block);
  bool is_error = false;
  launcher::run_protected(block, out, &is_error);
  stack::state().top = mark;
  return !is_error;
}

// Runs a C++ step under a try frame; prints the error's category/id when one is raised.
template <class F>
void guarded(const char* label, F&& f) {
  using namespace kel;
  stack::State& st = stack::state();
  Cell* base = st.base;
  Cell* top = st.top;
  stack::Frame* frames = st.frames_top;
  stack::push_try_frame(nullptr);
  uint32_t code = stack::land(unwind_code::ERROR, [&] { f(); });
  if (code) {
    stack::take_pending_code();
    error::Pending& p = error::pending();
    say(std::string(label) + ": !! " + std::to_string(p.category) + "/" + std::to_string(p.id));
  }
  st.base = base;
  st.top = top;
  st.frames_top = frames;
}

int32_t owner_records() {
  return kel::hash::record(kel::owner::table)[kel::hash::rec::SIZE];
}

void compiled() {
  using namespace kel;
  Cell big{T_FLOAT, 0, 0, 0};
  cell::put_double(&big, 2147483647.0);
  say("int " + std::to_string(runtime::get_integer_arg(&big)));
  Cell neg{T_FLOAT, 0, 0, 0};
  cell::put_double(&neg, -3.9);
  say("int " + std::to_string(runtime::get_integer_arg(&neg)));
  Cell nan{T_FLOAT, 0, 0, 0};
  cell::put_double(&nan, std::nan(""));
  guarded("nan", [&] { runtime::get_integer_arg(&nan); });
  Cell over{T_FLOAT, 0, 0, 0};
  cell::put_double(&over, 2147483647.5);
  guarded("over", [&] { runtime::get_integer_arg(&over); });

  char buf[16] = "abc";
  char* end = reinterpret_cast<char*>(runtime::repeat_bytes(reinterpret_cast<uint8_t*>(buf), 3, 5));
  say("repeat " + std::string(buf, size_t(end - buf)));
  char one[4] = "xyz";
  end = reinterpret_cast<char*>(runtime::repeat_bytes(reinterpret_cast<uint8_t*>(one), 3, 1));
  say("repeat1 " + std::to_string(end - one));

  // switch-select with p clear looks at even offsets only.
  Cell cases;
  run("[1 a 2 b]", &cases);
  Cell* frame_base = stack::state().base;
  Cell* saved_top = stack::state().top;
  stack::push_native_frame(&interp::words.body);
  Cell* value = stack::reserve_cell();
  Cell* cs = stack::push_copy(&cases);
  (void)cs;
  cell::set_integer(value, 2);
  Cell* r = runtime::switch_select(false, false);
  say("switch 2 -> " + std::string(cell::type(r) == T_WORD ? "word" : "other"));
  *stack::state().base = Cell{T_INTEGER, 0, 2, 0};
  stack::state().top = stack::state().base + 2;
  *value = Cell{T_WORD, 0, 0, 0};
  Cell a = word::intern_global("a");
  a.header = T_WORD;
  *stack::state().base = a;
  r = runtime::switch_select(false, false);
  say("switch a -> " + std::string(cell::type(r) == T_NONE ? "none" : "found"));
  // With the block flag and no block after the match: none.
  cell::set_integer(stack::state().base, 1);
  stack::state().top = stack::state().base + 2;
  r = runtime::switch_select(true, true);
  say("switch block -> " + std::string(cell::type(r) == T_NONE ? "none" : "found"));
  stack::pop_frame();
  stack::state().base = frame_base;
  stack::state().top = saved_top;

  // set-object-field-from-last stores unset and marks the field assigned.
  Cell obj;
  run("make object! [a: 1 b: 2]", &obj);
  gc::Root keep(&obj);
  stack::push_native_frame(&interp::words.body);
  *stack::reserve_cell() = Cell{T_UNSET, 0, 0, 0};
  runtime::set_object_field_from_last(obj.w1, 1);
  stack::pop_frame();
  const Cell* b = object::values_start(&obj) + 1;
  say(std::string("field ") + (cell::type(b) == T_UNSET ? "unset" : "set") +
      ((context::word_at(obj.w1, 1)->header & hdr::WORD_ASSIGNED) ? " assigned" : ""));
  stack::state().base = frame_base;
  stack::state().top = saved_top;

  // load-first-value: trailing text gives none (a writable cell), empty text unset.
  Cell s1{T_NONE, 0, 0, 0}, s2{T_NONE, 0, 0, 0};
  gc::Root k1(&s1), k2(&s2);  // rooted before the second run allocates
  run("\"1 2\"", &s1);
  run("\"\"", &s2);
  Cell* blk = stack::reserve_cell();
  *blk = Cell{T_NONE, 0, 0, 0};
  Cell* got = runtime::load_first_value(blk, &s1);
  say(std::string("load trailing ") + (cell::type(got) == T_NONE && got != cell::none_value() ? "none" : "?"));
  *blk = Cell{T_NONE, 0, 0, 0};
  got = runtime::load_first_value(blk, &s2);
  say(std::string("load empty ") + (cell::type(got) == T_UNSET ? "unset" : "?"));
  stack::state().top = saved_top;
}

void weak_owner() {
  using namespace kel;
  Cell r;
  int32_t before = owner_records();
  run("probe-o: make object! [b: [1 [2]] on-deep-change*: func [o w t a n i p] []] probe-b: probe-o/b", &r);
  say("records " + std::to_string(owner_records() - before));
  Cell bw = word::intern_global("probe-b");
  bw.header = T_WORD;
  Cell b = *word::value_slot(&bw);
  say(std::string("owned ") + (owner::find(&b) ? "yes" : "no"));
  run("probe-o: none probe-b: none", &r);
  run("1", &r);  // the evaluator's position no longer names the code above
  gc::collect();
  say("after recycle " + std::to_string(owner_records() - before));
}

void errors() {
  using namespace kel;
  Cell e{T_NONE, 0, 0, 0};  // rooted below: never garbage
  gc::Root keep(&e);
  Cell arg = word::intern_global("foo");
  arg.header = T_WORD;
  error::new_from_ids(&e, err::script::no_value.category, err::script::no_value.id, &arg,
                      nullptr, nullptr);
  say(std::string("type ") + (cell::type(&e) == T_ERROR ? "error!" : "?") + " class " +
      std::to_string(e.w2));
  std::string rep = error::form_report(&e);
  say(rep.substr(0, rep.find('\n')));
  Cell w = word::intern_global("here");
  w.header = T_WORD;
  error::fill_where(&e, &w);
  Cell w2 = word::intern_global("there");
  w2.header = T_WORD;
  error::fill_where(&e, &w2);
  rep = error::form_report(&e);
  size_t at = rep.find("\n*** Where: ");
  say(rep.substr(at + 1, rep.find('\n', at + 1) - at - 1));
}

// Molds a value as one line (ASCII text).
std::string molded(const kel::Cell* v) {
  using namespace kel;
  Cell* top = stack::state().top;
  Cell* kept = stack::push_copy(v);
  Cell* str = actions::mold(kept, false, false, true, nullptr);
  SeriesBuffer* b = memory::node_buffer(str->w2);
  uint32_t u = memory::unit(b);
  std::string out;
  for (uint8_t* p = memory::head(b); p < memory::tail(b); p += u) out += char(*p);
  stack::state().top = top;
  return out;
}

void set_and_construct() {
  using namespace kel;
  Cell o{T_NONE, 0, 0, 0}, src{T_NONE, 0, 0, 0}, r{T_NONE, 0, 0, 0};  // rooted below: never garbage
  gc::Root k1(&o), k2(&src), k3(&r);
  run("make object! [a: 10 b: 20]", &o);
  run("[1]", &src);
  object::set_fields(&o, &src, false, false, false);
  say("block " + molded(&o));
  run("make object! [a: 10 b: 20]", &o);
  run("[1 none]", &src);
  {
    Cell blk = src;
    Cell* second = block::cell_at_index(&blk, 1);
    *second = Cell{T_NONE, 0, 0, 0};
  }
  object::set_fields(&o, &src, false, false, true);
  say("some " + molded(&o));
  run("make object! [a: 10 b: 20]", &o);
  {
    Cell blk = src;
    *block::cell_at_index(&blk, 0) = Cell{T_UNSET, 0, 0, 0};
  }
  guarded("unset", [&] { object::set_fields(&o, &src, false, false, false); });
  say("after " + molded(&o));
  object::set_fields(&o, &src, true, false, false);
  say("any " + std::string(cell::type(object::values_start(&o)) == T_UNSET ? "unset" : "?"));
  run("make object! [a: 10 b: 20]", &o);
  run("make object! [b: 2 c: 3]", &src);
  object::set_fields(&o, &src, false, false, false);
  say("object " + molded(&o));
  Cell seven{T_INTEGER, 0, 7, 0};
  object::set_fields(&o, &seven, false, false, false);
  say("value " + molded(&o));
  run("[1 2]", &src);
  object::set_fields(&o, &src, false, true, false);
  say("only " + molded(&o));
  // With a handler: once per field, never for the handler field itself.
  run("make object! [a: 1 on-change*: func [w o n] [print [\"chg\" w n]]]", &o);
  object::set_fields(&o, &seven, false, false, false);
  say("handler kept " + std::string(cell::type(object::values_start(&o) + 1) == T_FUNCTION ? "yes" : "no"));
  run("[a: b: yes c: on d: none e:]", &src);
  Cell* made = object::make_from_proto(&src, nullptr, false);
  r = *made;
  say("construct " + molded(&r));
  made = object::make_from_proto(&src, nullptr, true);
  r = *made;
  say("construct/only " + molded(&r));
  run("make object! [a: 1 z: [1]]", &o);
  run("[a: 5]", &src);
  made = object::make_from_proto(&src, &o, false);
  r = *made;
  say("proto " + molded(&r) + " class " + (r.w2 == o.w2 ? "same" : "new"));
}

// Object, ownership and error snippets, each printing its result; run plainly and with a
// collection (moving buffers and nodes) at every allocation.
const char* const kSnippets[] = {
    "print mold make object! [a: 1 b: 'x c: \"s\" d: [1 [2]]]",
    "p: make object! [a: 1 b: [a] f: does [a]] c: make p [a: 2] g: func [] c/b print [p/f c/f g]",
    "o: make object! [a: 1 on-change*: func [w old new] [print [w old new]]] o/a: 2 put o 'a 3",
    "o: make object! [a: 1 on-change*: func [w o n] []] o/on-change*: func [w o n /local x] [x: w print x] o/a: 9",
    "o: make object! [b: [[x] y] on-deep-change*: func [o w t a n i p] [print [w a i p mold t]]] "
    "clear pick o/b 1 remove o/b",
    "o: make object! [b: [1 2]] c: copy o remove c/b d: copy/deep o remove d/b print mold o/b",
    "print mold reflect make object! [a: 1 b: 'x] 'body",
    "print [equal? make object! [a: 1] make object! [a: 1]]",
    "e: make error! [script no-value] e/arg1: 'foo e/where: 'bar e/near: [x y z] print e",
    "e: try [1 / 0] print [e/code e/where]",
    "e: make error! [type: 'math id: 'zero-divide] print e/code",
    "e: try [make error! [script 12]] print [e/id e/arg1]",
    "e: make error! [script no-value] e/type: 'foo print e print e/type",
};

void snippets(bool stress) {
  using namespace kel;
  if (stress) gc::set_stress(1);
  for (const char* code : kSnippets) {
    Cell r;
    if (!run(code, &r)) say("!! " + error::form_report(&r));
  }
  if (stress) gc::set_stress(0);
}

void launch() {
  if (g_scenario == "compiled") compiled();
  else if (g_scenario == "weak-owner") weak_owner();
  else if (g_scenario == "errors") errors();
  else if (g_scenario == "set") set_and_construct();
  else if (g_scenario == "snippets") snippets(false);
  else if (g_scenario == "snippets-stress") snippets(true);
  else say("unknown scenario");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_scenario = argv[1];
  char* args[] = {argv[0], nullptr};
  kel::boot::start(1, args, launch);
}
