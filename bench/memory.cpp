// Memory manager and collector benchmark: allocation rate, collection pause by live
// size, and the collections needed to build a large live set.
#include <chrono>
#include <cstdio>

#include "runtime/cell_api.h"
#include "runtime/extern.h"
#include "runtime/gc.h"
#include "runtime/memory.h"

using namespace kel;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

void fresh() {
  memory::release_all();
  memory::init();
  gc::init();
  extern_::init();
  gc::set_stress(0);
}

// Appends `bytes` of live data as 1 KB byte series held by the rooted block.
void build_live(Cell* holder, size_t bytes) {
  for (size_t done = 0; done < bytes; done += 1024 + 24) {
    Node n = memory::series_new_bytes(1024);
    memory::node_buffer(n)->tail = 1024;
    gc::Root keep(&n);
    *runtime::block_append_cell(holder) = Cell{T_BINARY, 0, n, 0};
  }
}

}  // namespace

int main() {
  // 1. Allocation rate: 10^6 small series, every tenth kept.
  {
    fresh();
    gc::set_automatic(true);
    Cell holder{T_BLOCK, 0, memory::series_new_cells(16), 0};
    gc::Root keep(&holder);
    auto t = Clock::now();
    for (int i = 0; i < 1000000; ++i) {
      Node n = memory::series_new_bytes(32);
      if (i % 10 == 0) {
        gc::Root keep_n(&n);  // appending may collect
        *runtime::block_append_cell(&holder) = Cell{T_BINARY, 0, n, 0};
      }
    }
    double s = seconds_since(t);
    std::printf("allocations: %.0f per second (1,000,000 small series, 10%% kept, %u collections)\n",
                1e6 / s, gc::state().collection_count);
  }
  // 2. One collection's pause by live size.
  for (size_t mb : {1, 10, 100, 500}) {
    fresh();
    gc::set_automatic(false);
    Cell holder{T_BLOCK, 0, memory::series_new_cells(16), 0};
    gc::Root keep(&holder);
    build_live(&holder, mb << 20);
    auto t = Clock::now();
    gc::collect();
    std::printf("pause at %4zu MB live: %.2f ms\n", mb, seconds_since(t) * 1e3);
  }
  // 3. Collections needed to build 200 MB live with automatic collection on.
  {
    fresh();
    gc::set_automatic(true);
    Cell holder{T_BLOCK, 0, memory::series_new_cells(16), 0};
    gc::Root keep(&holder);
    auto t = Clock::now();
    build_live(&holder, size_t(200) << 20);
    std::printf("building 200 MB live: %u collections, %.2f s\n", gc::state().collection_count,
                seconds_since(t));
  }
  memory::release_all();
  return 0;
}
