// Probe: what later units wire into the started runtime from their own files: fields of
// `system` added by a builder, and routines registered before and after start-up, called
// from Kel text and through apply. tests/unit/wiring_test.cpp checks the printed lines.
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/routine.h"
#include "runtime/evaluator/launch.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "runtime/system.h"

namespace {

// Prints what the Kel text gives, molded, or "error" when it raises.
void show(const char* text) {
  using namespace kel;
  Cell* mark = stack::state().top;
  Cell* block = stack::reserve_cell();
  *block = Cell{T_NONE, 0, 0, 0};
  std::string line = std::string("print mold ") + text;
  launcher::load_text(reinterpret_cast<const uint8_t*>(line.data()), int32_t(line.size()), block);
  Cell result{T_NONE, 0, 0, 0};
  bool is_error = false;
  launcher::run_protected(block, &result, &is_error);
  if (is_error) std::puts("error");
  std::fflush(stdout);
  stack::state().top = mark;
}

// A unit's fields, added from its own builder.
void add_fields() {
  using namespace kel;
  Cell* top = stack::state().top;
  Cell* list = block::push_empty(2);
  Cell usd{T_INTEGER, 0, 840, 0};
  block::append_copy(list, &usd);
  system::set_field("locale", "probe-codes", list);
  Cell on{T_LOGIC, 1, 0, 0};
  system::set_field("state/probe", "ready", &on);
  stack::state().top = top;
}

// Routines: arguments from the frame's base, the result set as the frame's only result.
void twice() {
  using namespace kel;
  Cell r{T_INTEGER, 0, uint32_t(cell::get_int(stack::state().base) * 2), 0};
  stack::set_only_result(&r);
}
void join_sum() {
  using namespace kel;
  const Cell* b = stack::state().base;
  Cell r{T_INTEGER, 0, uint32_t(cell::get_int(b) + cell::get_int(b + 1)), 0};
  stack::set_only_result(&r);
}

void launch() {
  show("system/locale/probe-codes");
  show("system/state/probe/ready");
  show("twice 21");
  show("apply :twice [4]");
  show("twice \"x\"");
  kel::routine::register_routine({"sum-of", "a [integer!] b [integer!]", &join_sum, kel::T_INTEGER});
  show("sum-of 2 3");
  show("apply :sum-of [5 6]");
  show("type? :sum-of");
}

}  // namespace

int main(int argc, char** argv) {
  (void)argc;
  kel::system::on_build(&add_fields);
  kel::routine::register_routine({"twice", "\"Doubles\" n [integer!]", &twice, kel::T_INTEGER});
  char* args[] = {argv[0], nullptr};
  kel::boot::start(1, args, launch);
}
