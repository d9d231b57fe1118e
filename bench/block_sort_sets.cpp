// Block sort and set-operation speed: sort of 10^6 random integers and of 200,000 random
// strings (with and without /case), unique, union and intersect of 10^6 integers.
// Run by hand: build/bench/bench-block_sort_sets [count]; python3 bench/block_reference.py
// prints python3's sorted and set on the same shapes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "runtime/cell_api.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_compare.h"
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

Cell* integers(int32_t n, uint32_t range, std::mt19937& rng) {
  Cell* b = block::push_empty(n);
  for (int32_t i = 0; i < n; ++i) {
    Cell v{T_INTEGER, 0, uint32_t(rng() % range) + 1, 0};
    block::append_copy(b, &v);
  }
  return b;
}

template <class F>
void time_it(const char* label, F&& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  std::printf("%-40s %.3f s\n", label, seconds_since(t0));
}

// A set operation on a native frame over the two series; the result count.
int32_t set_op(int32_t op, const Cell* a, const Cell* b) {
  Cell* base = stack::state().base;
  Cell* top = stack::state().top;
  stack::push_native_frame(nullptr);
  stack::push_copy(a);
  stack::push_copy(b ? b : cell::none_value());
  Cell* r = block::set_operation(false, nullptr, op);
  int32_t n = block::count_from_head(r);
  stack::state().frames_top--;
  stack::state().base = base;
  stack::state().top = top;
  return n;
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
  std::mt19937 rng(1);

  Cell* ints = integers(n, 2147483647u, rng);
  time_it("sort 10^6 random integers", [&] { block::sort(ints, false, nullptr, nullptr, nullptr, false, false, false); });
  time_it("sort 10^6 sorted integers", [&] { block::sort(ints, false, nullptr, nullptr, nullptr, false, false, false); });

  const int32_t m = n / 5;
  Cell* strings = block::push_empty(m);
  const char* letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int32_t i = 0; i < m; ++i) {
    Cell* s = stack::reserve_cell();
    cell::set_none(s);
    string::init_cell(s, 12);
    for (int k = 0; k < 12; ++k) string::add_codepoint(s, letters[rng() % 52]);
    block::append_copy(strings, s);
    stack::drop_cells(1);
  }
  Cell* folded = stack::push_copy(strings);
  block::clone(strings, false, false);
  Cell* cased = stack::last_pushed();
  time_it("sort 200,000 strings", [&] { block::sort(folded, false, nullptr, nullptr, nullptr, false, false, false); });
  time_it("sort/case 200,000 strings", [&] { block::sort(cased, true, nullptr, nullptr, nullptr, false, false, false); });

  Cell* a = integers(n, 500000, rng);
  Cell* b = integers(n, 500000, rng);
  int32_t k = 0;
  time_it("unique 10^6 integers", [&] { k = set_op(block::set_op::UNIQUE, a, nullptr); });
  std::printf("  %d values\n", k);
  time_it("union 2 x 10^6 integers", [&] { k = set_op(block::set_op::UNION, a, b); });
  std::printf("  %d values\n", k);
  time_it("intersect 2 x 10^6 integers", [&] { k = set_op(block::set_op::INTERSECT, a, b); });
  std::printf("  %d values\n", k);
  return 0;
}
