// Block mold speed and memory: a block of 10^6 values (integers, nested blocks, strings)
// molded once, against python3's len(repr(list)) of the same shape.
// Run by hand: build/bench/bench-block_mold [count]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_mold.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/extern.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

using namespace kel;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long peak_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const int32_t n = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
  memory::init();
  gc::init();
  extern_::init();
  gc::set_automatic(true);
  stack::init(1, 2, 3);
  cycle::init();
  datatype::alloc_tables();
  for (uint32_t id : {T_DATATYPE, T_UNSET, T_NONE, T_LOGIC, T_SERIES, T_BLOCK, T_STRING, T_INTEGER})
    datatype::install(id);

  auto t0 = std::chrono::steady_clock::now();
  Cell* top = block::push_empty(n);
  for (int32_t i = 0; i < n; ++i) {
    if (i % 3 == 0) {
      Cell v{T_INTEGER, 0, uint32_t(i), 0};
      block::append_copy(top, &v);
    } else if (i % 3 == 1) {
      Cell* inner = block::push_empty(2);
      Cell v{T_INTEGER, 0, uint32_t(i), 0};
      block::append_copy(inner, &v);
      block::append_copy(inner, &v);
      block::append_copy(top, inner);
      stack::drop_cells(1);
    } else {
      Cell* s = stack::reserve_cell();
      cell::set_none(s);
      string::init_cell(s, 3);
      string::add_c_text(s, "abc");
      block::append_copy(top, s);
      stack::drop_cells(1);
    }
  }
  double build = seconds_since(t0);
  Cell* buffer = stack::reserve_cell();
  cell::set_none(buffer);
  string::init_cell(buffer, 16);
  t0 = std::chrono::steady_clock::now();
  block::mold(top, buffer, false, false, false, nullptr, INT32_MAX, 0);
  double molded = seconds_since(t0);
  uint32_t chars = memory::units(memory::node_buffer(buffer->w2));
  std::printf("kel:    build %.3f s, mold %.3f s, %u characters, peak RSS %ld kB\n", build, molded,
              chars, peak_kb());

  std::string py =
      "python3 -c \"import time,resource\n"
      "n=" + std::to_string(n) + "\n"
      "t=time.perf_counter()\n"
      "l=[i if i%3==0 else [i,i] if i%3==1 else 'abc' for i in range(n)]\n"
      "b=time.perf_counter()-t\n"
      "t=time.perf_counter()\n"
      "c=len(repr(l))\n"
      "m=time.perf_counter()-t\n"
      "print('python: build %.3f s, repr %.3f s, %d characters, peak RSS %d kB' % "
      "(b,m,c,resource.getrusage(resource.RUSAGE_SELF).ru_maxrss))\"";
  std::fflush(stdout);
  return std::system(py.c_str()) == 0 ? 0 : 1;
}
