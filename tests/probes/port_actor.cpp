// Probe: a port whose actor is a native table (a handle!): its actions go to the table before
// anything else, a missing entry is refused, and the port! datatype's own slots still serve
// mold and compare. tests/unit/port_actor_test.cpp checks the printed lines.
#include <cstdio>
#include <string>

#include "runtime/datatypes/port.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/launch.h"
#include "runtime/stack.h"
#include "runtime/startup.h"

namespace {

using namespace kel;

void show(const char* text) {
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

Cell* native_read(Cell*, Cell*, Cell*, bool binary, bool, bool, Cell*) {
  Cell* s = stack::reserve_cell();
  *s = Cell{T_NONE, 0, 0, 0};
  string::init_cell(s, 16);
  string::add_c_text(s, binary ? "bytes" : "native read");
  return s;
}
int32_t native_length(Cell*) { return 3; }

port::ActorTable table_of_actor() {
  port::ActorTable t{};
  t.slots[datatype::action::READ - datatype::action::APPEND] =
      reinterpret_cast<datatype::AnySlot>(&native_read);
  t.slots[datatype::action::LENGTH_Q - datatype::action::APPEND] =
      reinterpret_cast<datatype::AnySlot>(&native_length);
  return t;
}
const port::ActorTable g_table = table_of_actor();

void native_actor() {
  Cell h;
  port::init_actor_handle(&h, &g_table);
  stack::set_only_result(&h);
}

void launch() {
  show("type? native-actor");
  show("(append system/schemes reduce ['nat make system/standard/scheme [name: 'nat actor: "
       "native-actor]] p: make port! [scheme: 'nat] type? p)");
  show("read p");
  show("read/binary p");
  show("read nat://x");
  show("length? p");
  show("(e: try [append p 1] e/id)");
  show("(e: try [open p] e/id)");
  show("copy/part mold p 12");
  show("p = p");
  // register-scheme/native sets the actor to the handle first; the first name wins.
  show("(register-scheme/native make system/standard/scheme [name: 'nt2 title: \"n\"] "
       "native-actor s: select system/schemes 'nt2 type? s/actor)");
  show("read nt2://host/x");
  show("(register-scheme/native make system/standard/scheme [name: 'nt2 title: \"m\"] "
       "native-actor s: select system/schemes 'nt2 s/title)");
}

}  // namespace

int main(int, char** argv) {
  routine::register_routine({"native-actor", "", &native_actor, T_HANDLE});
  char* args[] = {argv[0], nullptr};
  boot::start(1, args, launch);
}
