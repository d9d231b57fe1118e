// Bench: action dispatch through the action table (resolve + call of integer! add and the
// generic compare) against calling the slot function directly.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "runtime/cell_api.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/init.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

using namespace kel;

int main(int argc, char** argv) {
  long n = argc > 1 ? std::atol(argv[1]) : 20000000;
  memory::init();
  gc::init();
  stack::init(1, 2, 3);
  datatype::alloc_tables();
  for (uint8_t id : runtime::datatype_registration_order) datatype::install(id);
  Cell w{T_WORD, 0, 10, 0xFFFFFFFF};
  stack::push_native_frame(&w);
  Cell* a = stack::reserve_cell();
  Cell* b = stack::reserve_cell();
  using clock = std::chrono::steady_clock;
  int64_t sum = 0;

  auto t0 = clock::now();
  for (long i = 0; i < n; ++i) {
    cell::set_integer(a, int32_t(i & 0xFFFF));
    cell::set_integer(b, 3);
    sum += cell::get_int(integer::add());
  }
  auto t1 = clock::now();
  for (long i = 0; i < n; ++i) {
    cell::set_integer(a, int32_t(i & 0xFFFF));
    cell::set_integer(b, 3);
    sum += cell::get_int(actions::resolve<datatype::action::ADD>(a)());
  }
  auto t2 = clock::now();
  for (long i = 0; i < n; ++i) {
    cell::set_integer(a, int32_t(i & 0xFFFF));
    sum += actions::compare(a, b, 3);
  }
  auto t3 = clock::now();
  auto ns = [n](auto d) { return std::chrono::duration<double, std::nano>(d).count() / double(n); };
  std::printf("integer add, direct: %.2f ns\ninteger add, through the table: %.2f ns\n"
              "generic compare (lesser?): %.2f ns\n(checksum %lld)\n",
              ns(t1 - t0), ns(t2 - t1), ns(t3 - t2), (long long)sum);
  return 0;
}
