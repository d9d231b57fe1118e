// Probe: an error raised with no frame on the stack (here the argument stack running
// full) prints the report and ends the process with status 254.
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

int main() {
  kel::memory::init();
  kel::gc::init();
  kel::stack::init(1, 2, 3);
  for (;;) kel::stack::reserve_cell();
}
