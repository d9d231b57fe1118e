// Words: 200,000 generated names made global words, set and read back; a 100,000-word block
// bound to an object context. Times and peak RSS. Run by hand: build/bench/bench-words [n]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

using namespace kel;

namespace {
double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 200000;
  memory::init();
  gc::init();
  context::make_global();
  symbol::create_hash();

  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    std::string name = "name-" + std::to_string(i);
    Cell w = word::intern_global(name.c_str());
    Cell v{T_INTEGER, uint32_t(i), 0, 0};
    word::assign_value(&w, &v);
  }
  double intern = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  long long sum = 0;
  for (int i = 0; i < n; ++i) {
    std::string name = "name-" + std::to_string(i);
    Cell w = word::intern_global(name.c_str());
    sum += int32_t(word::value_slot(&w)->w1);
  }
  double read = seconds_since(t0);

  int m = n / 2;
  Cell block{T_BLOCK, 0, memory::series_new_cells(uint32_t(m)), 0};
  gc::Root keep_block(&block);
  for (int i = 0; i < m; ++i) {
    int32_t id = symbol::intern(("f" + std::to_string(i % 1000)).c_str());
    *runtime::series_append_cell_node(block.w2) = Cell{T_WORD, 0, uint32_t(id), 0xFFFFFFFF};
  }
  Cell obj{T_OBJECT, context::create(1000, false, true, 0, context::KIND_OBJECT), 0, 0};
  gc::Root keep_obj(&obj);
  context::add_set_words(obj.w1, &block);  // words, not set-words: nothing added
  for (int i = 0; i < 1000; ++i) {
    Cell s{T_SET_WORD, 0, uint32_t(symbol::intern(("f" + std::to_string(i)).c_str())), 0xFFFFFFFF};
    context::find_or_add_word_index(obj.w1, &s);
  }
  t0 = std::chrono::steady_clock::now();
  context::bind_block(&block, obj.w1, true);
  double bind = seconds_since(t0);

  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%d words interned and set: %.3f s\n%d read back: %.3f s (sum %lld)\n"
              "%d-word block bound: %.4f s\npeak RSS: %ld KB\n",
              n, intern, n, read, sum, m, bind, ru.ru_maxrss);
  return 0;
}
