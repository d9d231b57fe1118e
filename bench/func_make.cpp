// Function making: 100,000 functions built from one spec and a 30-value body (spec checks,
// context from the spec, deep copy and binding of the body), then 100,000 argument caches.
// Run by hand: build/bench/bench-func_make [n]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

using namespace kel;

namespace {
double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
void add_word(Cell* block, const char* name, uint32_t type) {
  Cell w = word::intern_global(name);
  w.header = type;
  block::append_copy(block, &w);
}
}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  memory::init();
  gc::init();
  cycle::init();
  symbol::create_hash();
  context::make_global();
  stack::init(uint32_t(symbol::intern_c_text("<body>")), uint32_t(symbol::intern_c_text("<anon>")),
              uint32_t(symbol::intern_c_text("<not-found>")));
  gc::set_automatic(true);

  // spec: [a b /local c d e f]; body: 30 values, one nested block and one paren.
  Cell* spec = block::push_empty(8);
  for (const char* w : {"a", "b"}) add_word(spec, w, T_WORD);
  add_word(spec, "local", T_REFINEMENT);
  for (const char* w : {"c", "d", "e", "f"}) add_word(spec, w, T_WORD);
  Cell* body = block::push_empty(32);
  const char* words[] = {"c", "a", "+", "b", "d", "c", "*", "two", "if", "d", ">", "ten",
                         "e", "reduce", "a", "b", "f", "a", "print", "done", "g", "h", "i",
                         "j", "k", "l", "m"};
  for (const char* w : words) add_word(body, w, T_WORD);
  Cell* inner = block::push_empty(4);
  add_word(inner, "d", T_SET_WORD);
  add_word(inner, "d", T_WORD);
  block::append_copy(body, inner);
  inner->header = T_PAREN;
  block::append_copy(body, inner);
  add_word(body, "n", T_SET_WORD);
  stack::drop_cells(1);

  auto t0 = std::chrono::steady_clock::now();
  uint32_t flags = 0;
  for (int i = 0; i < n; ++i) {
    flags |= function::check_spec(spec);
    function::build(spec, body, 0, 0, 0, flags);
    stack::drop_cells(1);
  }
  double make = seconds_since(t0);

  function::build(spec, body, 0, 0, 0, flags);
  Cell* f = stack::last_pushed();
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) interp::build_argument_cache(f);
  double cache = seconds_since(t0);

  std::printf("%d functions of a %d-value body: %.3f s (%.2f us each)\n", n,
              int(block::count_from_head(body)), make, make * 1e6 / n);
  std::printf("%d argument caches: %.3f s\n", n, cache);
  return 0;
}
