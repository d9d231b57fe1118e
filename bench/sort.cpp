// Sorting engines against std::sort and std::stable_sort: 10^6 records of 16 bytes (one
// value cell, key in w1) and of 4 bytes, over several input shapes. Prints milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/cell.h"
#include "runtime/sort.h"

using namespace kel;

namespace {

uint64_t g_calls = 0;

int32_t cell_key(const void* a, const void* b, uintptr_t, uintptr_t) {
  ++g_calls;
  int32_t x = int32_t(static_cast<const Cell*>(a)->w1);
  int32_t y = int32_t(static_cast<const Cell*>(b)->w1);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t int_key(const void* a, const void* b, uintptr_t, uintptr_t) {
  ++g_calls;
  int32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : (x > y ? 1 : 0);
}

std::vector<int32_t> shape(const char* name, uint32_t n, std::mt19937& rng) {
  std::vector<int32_t> v(n);
  std::string s = name;
  for (uint32_t i = 0; i < n; ++i) {
    if (s == "random") v[i] = int32_t(rng() & 0x7FFFFFFF);
    else if (s == "sorted") v[i] = int32_t(i);
    else if (s == "descending") v[i] = int32_t(n - i);
    else if (s == "organ-pipe") v[i] = int32_t(i < n / 2 ? i : n - i);
    else if (s == "few-distinct") v[i] = int32_t(rng() % 16);
    else if (s == "sawtooth") v[i] = int32_t(i % 1000);
    else v[i] = int32_t(i);  // nearly-sorted: perturbed below
  }
  if (s == "m3-killer") {
    uint32_t k = n / 2;
    for (uint32_t i = 1; i <= k; ++i) {
      v[i - 1] = int32_t(i % 2 ? i : k + i - 1);
      v[k + i - 1] = int32_t(2 * i);
    }
  }
  if (s == "nearly-sorted")
    for (uint32_t t = 0; t < n / 100; ++t) std::swap(v[rng() % n], v[rng() % n]);
  return v;
}

template <class F>
double time_ms(F&& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

}  // namespace

int main() {
  const uint32_t n = 1000000;
  const char* shapes[] = {"random", "sorted", "descending", "organ-pipe", "few-distinct",
                          "sawtooth", "nearly-sorted", "m3-killer"};
  std::printf("%-14s %5s %11s %11s %12s %11s %13s %12s\n", "shape", "width", "quick ms",
              "std::sort", "quick cmps", "merge ms", "stable_sort", "merge cmps");
  for (const char* name : shapes) {
    std::mt19937 rng(42);
    auto keys = shape(name, n, rng);
    {  // 16-byte records (value cells)
      std::vector<Cell> in(n);
      for (uint32_t i = 0; i < n; ++i) in[i] = Cell{T_INTEGER, uint32_t(keys[i]), i, 0};
      auto less = [](const Cell& a, const Cell& b) { return int32_t(a.w1) < int32_t(b.w1); };
      auto a = in, b = in, c = in, d = in;
      g_calls = 0;
      double q = time_ms([&] { sort::quick_sort(a.data(), n, 16, 0, 0, cell_key); });
      uint64_t qc = g_calls;
      double s = time_ms([&] { std::sort(b.begin(), b.end(), less); });
      g_calls = 0;
      double m = time_ms([&] { sort::merge_sort(c.data(), n, 16, 0, 0, cell_key); });
      uint64_t mc = g_calls;
      double ss = time_ms([&] { std::stable_sort(d.begin(), d.end(), less); });
      bool ok = std::memcmp(c.data(), d.data(), n * 16) == 0;
      for (uint32_t i = 0; i < n && ok; ++i) ok = a[i].w1 == b[i].w1;
      std::printf("%-14s %5d %11.1f %11.1f %12llu %11.1f %13.1f %12llu%s\n", name, 16, q, s,
                  (unsigned long long)qc, m, ss, (unsigned long long)mc, ok ? "" : "  MISMATCH");
    }
    {  // 4-byte records
      auto a = keys, b = keys, c = keys, d = keys;
      g_calls = 0;
      double q = time_ms([&] { sort::quick_sort(a.data(), n, 4, 0, 0, int_key); });
      uint64_t qc = g_calls;
      double s = time_ms([&] { std::sort(b.begin(), b.end()); });
      g_calls = 0;
      double m = time_ms([&] { sort::merge_sort(c.data(), n, 4, 0, 0, int_key); });
      uint64_t mc = g_calls;
      double ss = time_ms([&] { std::stable_sort(d.begin(), d.end()); });
      bool ok = a == b && c == d;
      std::printf("%-14s %5d %11.1f %11.1f %12llu %11.1f %13.1f %12llu%s\n", name, 4, q, s,
                  (unsigned long long)qc, m, ss, (unsigned long long)mc, ok ? "" : "  MISMATCH");
    }
  }
  return 0;
}
