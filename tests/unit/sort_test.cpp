// Sorting engines: results against std::sort / std::stable_sort over many input shapes and
// record widths, comparison counts, hostile comparators and unwinding mid-merge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "memory_fixture.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/unwind.h"

using namespace kel;

namespace {

// A record: a little-endian key in its first kb bytes, its input position in the rest.
struct Layout {
  uint32_t w, kb;
};

uint32_t g_calls = 0;

uint32_t read_le(const uint8_t* p, uint32_t bytes) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) v |= uint32_t(p[i]) << (8 * i);
  return v;
}

int32_t by_key(const void* a, const void* b, uintptr_t kb, uintptr_t) {
  ++g_calls;
  uint32_t x = read_le(static_cast<const uint8_t*>(a), uint32_t(kb));
  uint32_t y = read_le(static_cast<const uint8_t*>(b), uint32_t(kb));
  return x < y ? -1 : (x > y ? 1 : 0);
}

std::vector<uint8_t> make_records(const std::vector<uint32_t>& keys, Layout l) {
  std::vector<uint8_t> out(keys.size() * l.w, 0);
  for (size_t i = 0; i < keys.size(); ++i) {
    uint8_t* r = &out[i * l.w];
    for (uint32_t b = 0; b < l.kb; ++b) r[b] = uint8_t(keys[i] >> (8 * b));
    for (uint32_t b = l.kb; b < l.w && b - l.kb < 4; ++b) r[b] = uint8_t(i >> (8 * (b - l.kb)));
  }
  return out;
}

std::vector<std::string> split(const std::vector<uint8_t>& bytes, uint32_t w) {
  std::vector<std::string> recs;
  for (size_t i = 0; i < bytes.size(); i += w)
    recs.emplace_back(reinterpret_cast<const char*>(&bytes[i]), w);
  return recs;
}

std::vector<uint32_t> keys_of(const std::vector<std::string>& recs, uint32_t kb) {
  std::vector<uint32_t> k;
  for (auto& r : recs) k.push_back(read_le(reinterpret_cast<const uint8_t*>(r.data()), kb));
  return k;
}

// McIlroy's adversary: makes the values of a "killer" input while the engine runs.
std::vector<uint32_t> adversary_input(uint32_t n) {
  static std::vector<uint32_t> val;
  static uint32_t gas, nsolid, candidate;
  val.assign(n, n);
  gas = n;
  nsolid = 0;
  candidate = 0;
  auto cmp = [](const void* a, const void* b, uintptr_t, uintptr_t) -> int32_t {
    uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    if (val[x] == gas && val[y] == gas) val[x == candidate ? x : y] = nsolid++;
    if (val[x] == gas) candidate = x;
    else if (val[y] == gas) candidate = y;
    return val[x] < val[y] ? -1 : (val[x] > val[y] ? 1 : 0);
  };
  std::vector<uint32_t> idx(n);
  for (uint32_t i = 0; i < n; ++i) idx[i] = i;
  sort::quick_sort(idx.data(), n, 4, 0, 0, cmp);
  return val;
}

using Gen = std::function<std::vector<uint32_t>(uint32_t n, std::mt19937& rng)>;

struct Shape {
  const char* name;
  Gen gen;
};

std::vector<Shape> shapes() {
  return {
      {"sorted", [](uint32_t n, std::mt19937&) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = i;
         return v;
       }},
      {"descending", [](uint32_t n, std::mt19937&) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = n - i;
         return v;
       }},
      {"descending-with-equals", [](uint32_t n, std::mt19937&) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = (n - i) / 3;
         return v;
       }},
      {"random", [](uint32_t n, std::mt19937& rng) {
         std::vector<uint32_t> v(n);
         for (auto& x : v) x = rng();
         return v;
       }},
      {"equal", [](uint32_t n, std::mt19937&) { return std::vector<uint32_t>(n, 7); }},
      {"few-distinct", [](uint32_t n, std::mt19937& rng) {
         std::vector<uint32_t> v(n);
         for (auto& x : v) x = rng() % 4;
         return v;
       }},
      {"organ-pipe", [](uint32_t n, std::mt19937&) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = i < n / 2 ? i : n - i;
         return v;
       }},
      {"sawtooth", [](uint32_t n, std::mt19937&) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = i % 37;
         return v;
       }},
      {"nearly-sorted", [](uint32_t n, std::mt19937& rng) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = i;
         for (uint32_t t = 0; n > 1 && t < n / 50 + 1; ++t) std::swap(v[rng() % n], v[rng() % n]);
         return v;
       }},
      {"nearly-descending", [](uint32_t n, std::mt19937& rng) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = n - i;
         for (uint32_t t = 0; n > 1 && t < n / 50 + 1; ++t) std::swap(v[rng() % n], v[rng() % n]);
         return v;
       }},
      {"sorted-then-random-tail", [](uint32_t n, std::mt19937& rng) {
         std::vector<uint32_t> v(n);
         for (uint32_t i = 0; i < n; ++i) v[i] = i < n - n / 10 ? i : rng() % (n + 1);
         return v;
       }},
      {"median-of-3-killer", [](uint32_t n, std::mt19937&) {
         std::vector<uint32_t> v(n);
         uint32_t k = n / 2;
         for (uint32_t i = 1; i <= k; ++i) {
           v[i - 1] = (i % 2) ? i : k + i - 1;
           if (k + i - 1 < n) v[k + i - 1] = 2 * i;
         }
         if (n % 2) v[n - 1] = n;
         return v;
       }},
      {"adversary", [](uint32_t n, std::mt19937&) { return adversary_input(n); }},
  };
}

const uint32_t kSizes[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 47, 63, 64, 100, 511, 512, 513,
                           1000, 4096, 20000};
const Layout kLayouts[] = {{3, 1}, {4, 2}, {6, 2}, {8, 4}, {16, 4}};

}  // namespace

TEST(Sort, EnginesMatchStandardSortsOverShapesSizesAndWidths) {
  std::mt19937 rng(12345);
  for (const Layout& l : kLayouts) {
    for (const Shape& sh : shapes()) {
      for (uint32_t n : kSizes) {
        SCOPED_TRACE(std::string(sh.name) + " n=" + std::to_string(n) + " w=" +
                     std::to_string(l.w));
        auto keys = sh.gen(n, rng);
        auto input = make_records(keys, l);
        auto less = [&](const std::string& a, const std::string& b) {
          return read_le(reinterpret_cast<const uint8_t*>(a.data()), l.kb) <
                 read_le(reinterpret_cast<const uint8_t*>(b.data()), l.kb);
        };
        auto expect_stable = split(input, l.w);
        std::stable_sort(expect_stable.begin(), expect_stable.end(), less);
        auto expect_quick = split(input, l.w);
        std::sort(expect_quick.begin(), expect_quick.end(), less);

        auto q = input;
        sort::quick_sort(q.data(), n, l.w, l.kb, 0, by_key);
        auto got_q = split(q, l.w);
        ASSERT_EQ(keys_of(got_q, l.kb), keys_of(expect_quick, l.kb));
        auto a = got_q, b = split(input, l.w);  // same records, no duplicates or losses
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        ASSERT_EQ(a, b);

        auto m = input;
        sort::merge_sort(m.data(), n, l.w, l.kb, 0, by_key);
        ASSERT_EQ(split(m, l.w), expect_stable);
      }
    }
  }
}

TEST(Sort, ComparisonCountsOnSortedDescendingAndTinyInputs) {
  struct Case {
    const char* name;
    bool descending;
    uint32_t n;
    uint32_t quick_calls, merge_calls;
  } cases[] = {
      {"empty", false, 0, 0, 0},     {"one", false, 1, 0, 0},
      {"sorted 2", false, 2, 1, 1},  {"sorted 1000", false, 1000, 999, 999},
      {"sorted 10^5", false, 100000, 99999, 99999},
      {"descending 1000", true, 1000, 999, 999},
      {"descending 10^5", true, 100000, 99999, 99999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> keys(c.n);
    for (uint32_t i = 0; i < c.n; ++i) keys[i] = c.descending ? c.n - i : i;
    for (int engine = 0; engine < 2; ++engine) {
      auto v = keys;
      g_calls = 0;
      if (engine == 0) sort::quick_sort(v.data(), c.n, 4, 4, 0, by_key);
      else sort::merge_sort(v.data(), c.n, 4, 4, 0, by_key);
      EXPECT_EQ(g_calls, engine == 0 ? c.quick_calls : c.merge_calls) << "engine " << engine;
      EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
    }
  }
}

TEST(Sort, NullBaseWithNoRecordsIsLeftAlone) {
  g_calls = 0;
  sort::quick_sort(nullptr, 0, 16, 4, 0, by_key);
  sort::merge_sort(nullptr, 0, 16, 4, 0, by_key);
  EXPECT_EQ(g_calls, 0u);
}

TEST(Sort, SwapRecordsByteWiseAndWordWise) {
  uint8_t a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {9, 8, 7, 6, 5, 4};
  sort::swap_records(a, b, 6, true);
  EXPECT_EQ(a[0], 9);
  EXPECT_EQ(a[5], 4);
  EXPECT_EQ(b[0], 1);
  uint32_t x[4] = {1, 2, 3, 4}, y[4] = {5, 6, 7, 8};
  sort::swap_records(x, y, 16, false);
  EXPECT_EQ(x[3], 8u);
  EXPECT_EQ(y[0], 1u);
}

TEST(Sort, MergeSortKeepsInputOrderOfEqualsInsideDescendingRuns) {
  // Descending keys with repeats: only strictly descending stretches may be reversed.
  std::vector<uint32_t> keys = {9, 9, 8, 8, 8, 7, 5, 5, 3, 1, 1, 1, 0};
  auto input = make_records(keys, {8, 4});
  auto m = input;
  sort::merge_sort(m.data(), uint32_t(keys.size()), 8, 4, 0, by_key);
  auto got = split(m, 8);
  for (size_t i = 1; i < got.size(); ++i) {
    auto* p = reinterpret_cast<const uint8_t*>(got[i - 1].data());
    auto* q = reinterpret_cast<const uint8_t*>(got[i].data());
    if (read_le(p, 4) == read_le(q, 4)) {
      EXPECT_LT(read_le(p + 4, 4), read_le(q + 4, 4));
    }
  }
}

namespace {

// Answers at random; flags any record address outside the array it was given.
struct Chaos {
  std::mt19937 rng;
  const uint8_t* lo;
  const uint8_t* hi;
  uint32_t w;
  bool strayed = false;
};

int32_t random_answer(const void* a, const void* b, uintptr_t ctx, uintptr_t check_bounds) {
  auto* c = reinterpret_cast<Chaos*>(ctx);
  if (check_bounds) {
    for (auto* p : {static_cast<const uint8_t*>(a), static_cast<const uint8_t*>(b)})
      if (p < c->lo || p + c->w > c->hi || (p - c->lo) % c->w) c->strayed = true;
  }
  return int32_t(c->rng() % 3) - 1;
}

}  // namespace

TEST(Sort, RandomAnswerComparatorStaysInsideTheArrayAndKeepsEveryRecord) {
  for (uint32_t w : {4u, 6u, 16u}) {
    for (uint32_t n : {2u, 8u, 9u, 30u, 64u, 100u, 600u, 5000u, 40000u}) {
      for (uint32_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE("n=" + std::to_string(n) + " w=" + std::to_string(w) + " seed=" +
                     std::to_string(seed));
        std::vector<uint32_t> keys(n);
        for (uint32_t i = 0; i < n; ++i) keys[i] = i;
        auto input = make_records(keys, {w, 2});
        for (int engine = 0; engine < 2; ++engine) {
          // Guard zones on both sides catch writes past the ends even without a sanitizer.
          std::vector<uint8_t> buf(64 + input.size() + 64, 0xA5);
          std::memcpy(&buf[64], input.data(), input.size());
          Chaos c{std::mt19937(seed), &buf[64], &buf[64] + input.size(), w};
          if (engine == 0) sort::quick_sort(&buf[64], n, w, uintptr_t(&c), 1, random_answer);
          else sort::merge_sort(&buf[64], n, w, uintptr_t(&c), 0, random_answer);
          EXPECT_FALSE(c.strayed);
          for (size_t i = 0; i < 64; ++i) {
            ASSERT_EQ(buf[i], 0xA5);
            ASSERT_EQ(buf[buf.size() - 1 - i], 0xA5);
          }
          std::vector<uint8_t> out(buf.begin() + 64, buf.end() - 64);
          auto a = split(out, w), b = split(input, w);
          std::sort(a.begin(), a.end());
          std::sort(b.begin(), b.end());
          ASSERT_EQ(a, b) << "engine " << engine;
        }
      }
    }
  }
}

namespace {
uint32_t g_throw_at = 0;
int32_t throws_eventually(const void* a, const void* b, uintptr_t kb, uintptr_t ctx2) {
  if (g_calls + 1 == g_throw_at) throw Unwind{unwind_code::ERROR};
  return by_key(a, b, kb, ctx2);
}
}  // namespace

TEST(Sort, ComparatorUnwindingMidSortLeavesAPermutationAndFreesScratch) {
  std::mt19937 rng(7);
  const uint32_t n = 3000;
  std::vector<uint32_t> keys(n);
  for (auto& k : keys) k = rng() % 500;
  auto input = make_records(keys, {8, 4});
  auto run = [&](int engine, std::vector<uint8_t>& v, sort::Comparator cmp) {
    if (engine == 0) sort::quick_sort(v.data(), n, 8, 4, 0, cmp);
    else sort::merge_sort(v.data(), n, 8, 4, 0, cmp);
  };
  for (int engine = 0; engine < 2; ++engine) {
    // Calls of a full sort, to pick points inside the last merges and partitions too.
    auto probe = input;
    g_calls = 0;
    run(engine, probe, by_key);
    const uint32_t total = g_calls;
    for (uint32_t at : {1u, 50u, 2000u, total / 3, total / 2, total - 500, total - 1, total}) {
      SCOPED_TRACE("throw at call " + std::to_string(at) + " engine " + std::to_string(engine));
      auto v = input;
      g_calls = 0;
      g_throw_at = at;
      bool thrown = false;
      try {
        run(engine, v, throws_eventually);
      } catch (const Unwind& u) {
        thrown = true;
        EXPECT_EQ(u.code, unwind_code::ERROR);
      }
      EXPECT_TRUE(thrown);
      EXPECT_EQ(sort::scratch_buffers_live(), 0u);
      auto a = split(v, 8), b = split(input, 8);
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      ASSERT_EQ(a, b);
    }
  }
  g_throw_at = 0;
}

TEST(Sort, FindRunReversesOnlyStrictlyDescendingRuns) {
  auto k = sort::make_comparer(4, 4, 0, by_key);
  std::vector<uint32_t> v = {5, 4, 3, 3, 1};
  auto* p = reinterpret_cast<uint8_t*>(v.data());
  uint8_t* end = sort::find_run(p, p + v.size() * 4, k);
  EXPECT_EQ((end - p) / 4, 3);
  EXPECT_EQ(v, (std::vector<uint32_t>{3, 4, 5, 3, 1}));
  std::vector<uint32_t> u = {1, 2, 2, 3, 0};
  p = reinterpret_cast<uint8_t*>(u.data());
  EXPECT_EQ((sort::find_run(p, p + u.size() * 4, k) - p) / 4, 4);
}

// ---- Sorting cells with a comparator that allocates (as Kel code does) ----

namespace {

class SortRooted : public ::testing::Test {
 protected:
  void SetUp() override {
    test::fresh_heap();
  }
  void TearDown() override {
    gc::set_automatic(false);
    memory::release_all();
  }
};

uint32_t key_of(const Cell* c) {
  uint32_t k;
  std::memcpy(&k, memory::node_head(c->w2), 4);
  return k;
}

// Compares the keys held in the records' own series and leaves garbage behind, so
// collections (and, under stress, moves) happen in the middle of the sort.
int32_t allocating_compare(const void* a, const void* b, uintptr_t, uintptr_t) {
  if (g_throw_at && ++g_calls == g_throw_at) throw Unwind{unwind_code::ERROR};
  memory::series_new_bytes(40);
  uint32_t x = key_of(static_cast<const Cell*>(a)), y = key_of(static_cast<const Cell*>(b));
  return x < y ? -1 : (x > y ? 1 : 0);
}

// A block of n binary! cells (preceded by one extra cell), each with its key in its own
// series and its input position in w3.
Node make_block(uint32_t n, std::mt19937& rng) {
  Node block = memory::series_new_cells(n + 1);
  gc::Root keep(&block);
  memory::node_buffer(block)->tail += sizeof(Cell);  // cell 0: not sorted
  memory::head_cells(memory::node_buffer(block))[0] = Cell{T_INTEGER, 99, 0, 0};
  for (uint32_t i = 0; i < n; ++i) {
    Node s = memory::series_new_bytes(4);
    uint32_t key = rng() % 300;
    SeriesBuffer* sb = memory::node_buffer(s);
    std::memcpy(memory::tail(sb), &key, 4);
    sb->tail += 4;
    SeriesBuffer* bb = memory::node_buffer(block);
    memory::tail_cells(bb)[0] = Cell{T_BINARY, 0, s, i};
    bb->tail += sizeof(Cell);
  }
  return block;
}

std::vector<std::pair<uint32_t, uint32_t>> records_of(Node block, uint32_t n) {
  std::vector<std::pair<uint32_t, uint32_t>> r;
  Cell* c = memory::head_cells(memory::node_buffer(block)) + 1;
  for (uint32_t i = 0; i < n; ++i) r.emplace_back(key_of(&c[i]), c[i].w3);
  return r;
}

}  // namespace

TEST_F(SortRooted, AllocatingComparatorSortsThroughCollectionsBothEngines) {
  for (bool stable : {false, true}) {
    SCOPED_TRACE(stable ? "merge" : "quick");
    std::mt19937 rng(3);
    const uint32_t n = 700;
    Node block = make_block(n, rng);
    gc::Root keep(&block);
    auto before = records_of(block, n);
    size_t guards = gc::guard_count();
    g_throw_at = 0;
    sort::sort_cells_rooted(block, 1, n, sizeof(Cell), stable, 0, 0, allocating_compare);
    EXPECT_EQ(gc::guard_count(), guards);
    auto after = records_of(block, n);
    auto expect = before;
    auto by_key_only = [](auto& a, auto& b) { return a.first < b.first; };
    if (stable) std::stable_sort(expect.begin(), expect.end(), by_key_only);
    else std::sort(expect.begin(), expect.end(), by_key_only);
    if (stable) {
      EXPECT_EQ(after, expect);
    } else {
      for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(after[i].first, expect[i].first);
    }
    EXPECT_EQ(memory::head_cells(memory::node_buffer(block))[0].w1, 99u);  // outside the range
  }
}

TEST_F(SortRooted, UnwindingComparatorLeavesAPermutationInTheBlock) {
  for (bool stable : {false, true}) {
    for (uint32_t at : {1u, 300u, 3000u, 5500u}) {
      SCOPED_TRACE(std::string(stable ? "merge" : "quick") + " at " + std::to_string(at));
      std::mt19937 rng(5);
      const uint32_t n = 700;
      Node block = make_block(n, rng);
      gc::Root keep(&block);
      auto before = records_of(block, n);
      size_t guards = gc::guard_count();
      g_calls = 0;
      g_throw_at = at;
      EXPECT_THROW(
          sort::sort_cells_rooted(block, 1, n, sizeof(Cell), stable, 0, 0, allocating_compare),
          Unwind);
      g_throw_at = 0;
      EXPECT_EQ(gc::guard_count(), guards);
      EXPECT_EQ(sort::scratch_buffers_live(), 0u);
      auto after = records_of(block, n);
      std::sort(before.begin(), before.end());
      std::sort(after.begin(), after.end());
      ASSERT_EQ(after, before);
    }
  }
}

TEST(Sort, MergeSortScratchBeyond31BitsRaisesTooLong) {
  uint32_t one = 0;
  bool thrown = false;
  try {
    // Raised before any record is read, so one record of storage is enough.
    sort::merge_sort(&one, 0x40000002u, 4, 4, 0, by_key);
  } catch (const Unwind&) {
    thrown = true;
    EXPECT_EQ(error::pending().category, err::script::too_long.category);
    EXPECT_EQ(error::pending().id, err::script::too_long.id);
  }
  EXPECT_TRUE(thrown);
  EXPECT_EQ(sort::scratch_buffers_live(), 0u);
}
