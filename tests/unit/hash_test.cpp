// Unit tests of the hash tables: hashes, sizing, kind 0 duplicate lists, map keys,
// symbol interning, word lists, record tables, node moves and owner-table sweeping.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/map.h"
#include "runtime/hash.h"
#include "runtime/hash_mem.h"
#include "runtime/init.h"
#include "tests/unit/memory_fixture.h"

using namespace kel;
using namespace kel::hash;

namespace {

int32_t* R(Node t) { return record(t); }
Node values(Node t) { return uint32_t(R(t)[rec::VALUES]); }
Cell* at(Node v, int32_t i) { return reinterpret_cast<Cell*>(mem::data(v)) + i; }
Cell integer(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }

uint32_t live_buckets(Node t) {
  uint32_t n = 0;
  for (uint32_t b = 0; b < uint32_t(R(t)[rec::BUCKETS]); b++) n += bucket_flag(t, b) == LIVE;
  return n;
}

// Kind 0: every bucket's list sits in its own non-zero slot of the lists series, and
// every other slot is free (0). Answers the number of lists.
uint32_t check_lists(Node t) {
  Node ls = uint32_t(R(t)[rec::LISTS]);
  uint32_t slots = mem::used(ls) / 4;
  std::vector<int> users(slots, 0);
  uint32_t lists = 0;
  const int32_t* ix = reinterpret_cast<const int32_t*>(mem::data(uint32_t(R(t)[rec::INDEX])));
  for (uint32_t b = 0; b < uint32_t(R(t)[rec::BUCKETS]); b++) {
    if (bucket_flag(t, b) != LIVE || ix[b] >= 0) continue;
    uint32_t slot = uint32_t(-ix[b] - 1);
    EXPECT_LT(slot, slots);
    if (slot >= slots) continue;
    EXPECT_NE(reinterpret_cast<uint32_t*>(mem::data(ls))[slot], 0u) << slot;
    users[slot]++;
    lists++;
  }
  for (uint32_t i = 0; i < slots; i++) {
    EXPECT_LE(users[i], 1) << i;
    if (!users[i]) {
      EXPECT_EQ(reinterpret_cast<uint32_t*>(mem::data(ls))[i], 0u) << i;
    }
  }
  return lists;
}

// Every test gets a fresh heap; values it keeps across allocations sit in held cells.
class HashTest : public test::MemoryTest {
 protected:
  test::Holder held{32};
  Node saved_symbols = 0;

  void SetUp() override {
    test::MemoryTest::SetUp();
    saved_symbols = symbol_table;
    symbol_table = 0;
    // Keys compare through the datatypes' compare slots.
    datatype::alloc_tables();
    for (uint8_t id : runtime::datatype_registration_order) datatype::install(id);
  }
  void TearDown() override {
    symbol_table = saved_symbols;
    test::MemoryTest::TearDown();
  }

  Cell* C(size_t i) { return &held.cells[i]; }

  // A fresh block in slot i.
  void block(size_t i, uint32_t room = 4) {
    Node n = mem::new_cells(room);
    *C(i) = Cell{T_BLOCK, 0, n, 0};
  }
  // Appends a copy of c (a plain cell or one held elsewhere) to the block of slot i.
  void push(size_t i, const Cell& c) {
    Cell copy = c;
    gc::Root keep(&copy);  // its nodes may move while the block grows
    uint32_t u = mem::used(C(i)->w2);
    mem::ensure(C(i)->w2, u + 16);
    std::memcpy(mem::data(C(i)->w2) + u, &copy, 16);
    mem::set_used(C(i)->w2, u + 16);
  }
  // A string of the given unit in slot i.
  void text(size_t i, const std::u32string& s, uint32_t unit, uint32_t type = T_STRING) {
    Node n = mem::new_units(uint32_t(s.size()), unit);
    uint8_t* d = mem::data(n);
    for (size_t k = 0; k < s.size(); k++) {
      if (unit == 1) d[k] = uint8_t(s[k]);
      else if (unit == 2) reinterpret_cast<uint16_t*>(d)[k] = uint16_t(s[k]);
      else reinterpret_cast<uint32_t*>(d)[k] = s[k];
    }
    mem::set_used(n, uint32_t(s.size()) * unit);
    *C(i) = Cell{type, 0, n, 0};
  }
  // Indexes the block of slot i as a table of the kind (w3 holds the table).
  Node index(size_t i, int32_t kind, int32_t size) {
    Node t = table_create(size, C(i), kind, 0);
    C(i)->w3 = t;
    cell::set_type(C(i), kind == KIND_MAP ? T_MAP : T_HASH);
    return t;
  }
  Node table(size_t i) { return C(i)->w3; }
  Node vals(size_t i) { return C(i)->w2; }
  // Position of a search result in the values of slot i, -1 for none.
  int32_t pos(size_t i, Cell* found) { return found ? int32_t(found - at(vals(i), 0)) : -1; }
  int32_t find(size_t i, Cell key, int32_t start = 0, int32_t skip = 1, int op = 0, bool last = false,
               bool reverse = false) {
    Cell* f = table_search(table(i), &key, start, skip, op, last, reverse);
    return pos(i, f);
  }

  // The process symbol table, rooted like start-up roots it.
  void symbols(int32_t size = 4000) {
    symbol_table = table_create(size, nullptr, KIND_SYMBOLS, 0);
    gc::state().roots.symbol_hash = &symbol_table;
  }
  int32_t intern(const std::string& s, bool any_case = false) {
    return find_symbol_name(symbol_table, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()),
                            any_case);
  }
  Cell entry(int32_t id) { return *at(values(symbol_table), id - 1); }
};

}  // namespace

TEST(Murmur3, PublishedVectors) {
  EXPECT_EQ(murmur3_x86_32_seeded("", 0, 1), 0x514E28B7u);
  EXPECT_EQ(murmur3_x86_32_seeded("Hello, world!", 13, 1234), 0xFAF6CDB3u);
  EXPECT_EQ(murmur3_x86_32_seeded("", 0, 0), 0u);
  EXPECT_EQ(murmur3_x86_32_seeded("The quick brown fox jumps over the lazy dog", 43, 0x9747B28C), 0x2FA826CDu);
  EXPECT_EQ(mix_int32(0), 0u);
}

TEST(HashSizing, RoundUpPow2) {
  EXPECT_EQ(round_up_pow2(0), 0u);
  EXPECT_EQ(round_up_pow2(1), 1u);
  EXPECT_EQ(round_up_pow2(5), 8u);
  EXPECT_EQ(round_up_pow2(8), 8u);
  EXPECT_EQ(round_up_pow2(10389), 16384u);
}

TEST_F(HashTest, CreateSizing) {
  block(0);
  Node k0 = index(0, KIND_HASH, 0);
  EXPECT_EQ(R(k0)[rec::BUCKETS], 8);
  EXPECT_EQ(R(k0)[rec::UPPER], 6);
  for (uint32_t b = 0; b < 8; b++) EXPECT_EQ(bucket_flag(k0, b), EMPTY);
  C(1)->w3 = table_create(4000, nullptr, KIND_SYMBOLS, 0);
  EXPECT_EQ(R(table(1))[rec::BUCKETS], 16384);
  EXPECT_EQ(R(table(1))[rec::UPPER], int32_t(16384 * 0.77));
  block(2);
  Node k1 = index(2, KIND_MAP, 4000);
  EXPECT_EQ(R(k1)[rec::BUCKETS], 8192);
}

TEST_F(HashTest, StringHashFoldsCaseAcrossUnits) {
  text(0, U"abc", 1);
  text(1, U"ABC", 2);
  text(2, U"ABC", 4);
  text(3, U"xabc", 1);
  text(4, U"abc", 1, T_FILE);
  EXPECT_EQ(value_hash(C(0), 0), value_hash(C(1), 0));
  EXPECT_EQ(value_hash(C(0), 0), value_hash(C(2), 0));
  EXPECT_NE(value_hash(C(0), 1), value_hash(C(1), 1));
  EXPECT_EQ(value_hash(C(1), 1), value_hash(C(2), 1));
  C(3)->w1 = 1;  // from its head: "abc"
  EXPECT_EQ(value_hash(C(3), 0), value_hash(C(0), 0));
  EXPECT_EQ(value_hash(C(4), 0), value_hash(C(0), 0));
  // Folding goes through the case tables, beyond Latin-1 too.
  text(5, U"\u00FF\u03B1", 2);
  text(6, U"\u0178\u0391", 2);
  EXPECT_EQ(value_hash(C(5), 0), value_hash(C(6), 0));
  EXPECT_NE(value_hash(C(5), 1), value_hash(C(6), 1));
}

TEST(ValueHash, ByDatatype) {
  Cell u{T_UNSET, 1, 2, 3}, n{T_NONE, 1, 2, 3};
  EXPECT_EQ(value_hash(&u, 0), uint32_t(-2));
  EXPECT_EQ(value_hash(&n, 0), uint32_t(-1));
  Cell i = integer(7), c{T_CHAR, 9, 7, 9};
  EXPECT_EQ(value_hash(&i, 0), mix_int32(7));
  EXPECT_EQ(value_hash(&c, 0), mix_int32(7));
  Cell lg{T_LOGIC, 1, 0, 0};
  EXPECT_EQ(value_hash(&lg, 0), mix_int32(1));
  Cell nat{T_NATIVE, 1, 2, 33};
  EXPECT_EQ(value_hash(&nat, 0), mix_int32(33));
  Cell b1{T_BLOCK, 0, 5, 0}, b2{T_BLOCK, 0, 6, 0}, b3{T_BLOCK, 1, 5, 0};
  EXPECT_NE(value_hash(&b1, 0), value_hash(&b2, 0));
  EXPECT_NE(value_hash(&b1, 0), value_hash(&b3, 0));
  Cell ctx{T_CONTEXT, 1, 2, 3}, bs{T_BITSET, 1, 2, 3};
  EXPECT_EQ(value_hash(&ctx, 0), 0u);
  EXPECT_EQ(value_hash(&bs, 0), 0u);
  // A tuple hashes only its length of bytes (header bits 19-22).
  Cell t1{T_TUPLE | (3u << 19), 0x00030201, 0xAA, 0}, t2{T_TUPLE | (3u << 19), 0xFF030201, 0xBB, 7};
  EXPECT_EQ(value_hash(&t1, 0), value_hash(&t2, 0));
  // Money keeps only the sign bit of its header.
  Cell m1{T_MONEY | 0x4000 | 0x100, 1, 2, 3}, m2{T_MONEY | 0x4000, 1, 2, 3}, m3{T_MONEY, 1, 2, 3};
  EXPECT_EQ(value_hash(&m1, 0), value_hash(&m2, 0));
  EXPECT_NE(value_hash(&m2, 0), value_hash(&m3, 0));
  Cell fl{T_FLOAT, 99, 1, 2}, fl2{T_FLOAT, 98, 1, 2};
  EXPECT_EQ(value_hash(&fl, 0), value_hash(&fl2, 0));
  EXPECT_TRUE(address_hashed_q(T_BLOCK));
  EXPECT_TRUE(address_hashed_q(T_MAP));
  EXPECT_FALSE(address_hashed_q(T_STRING));
}

TEST_F(HashTest, InternAliasesCaseVariants) {
  symbols();
  int32_t n = intern("abc");
  int32_t m = intern("ABC");
  EXPECT_NE(m, n);
  EXPECT_EQ(int32_t(entry(m).w1), n);
  EXPECT_EQ(int32_t(entry(n).w1), -1);
  EXPECT_EQ(intern("abc"), n);
  EXPECT_EQ(intern("ABC"), m);
  // A third variant aliases the first, never the second.
  int32_t k = intern("Abc");
  EXPECT_EQ(int32_t(entry(k).w1), n);
  // Different lengths never meet; non-ASCII case is not folded.
  int32_t d = intern("ABCD");
  EXPECT_EQ(int32_t(entry(d).w1), -1);
  int32_t ae = intern("\xC3\xA4x"), AE = intern("\xC3\x84x");
  EXPECT_NE(ae, AE);
  EXPECT_EQ(int32_t(entry(AE).w1), -1);
  // Spelling kept with a NUL after the tail.
  Node sp = entry(m).w3;
  EXPECT_EQ(mem::used(sp), 3u);
  EXPECT_EQ(std::memcmp(mem::data(sp), "ABC", 4), 0);
  EXPECT_EQ(entry(m).header, uint32_t(T_SYMBOL));
}

TEST_F(HashTest, AnyCaseInterning) {
  symbols();
  int32_t a = intern("ABC", true);
  EXPECT_EQ(int32_t(entry(a).w1), -1);
  EXPECT_EQ(intern("abc", true), a);
  EXPECT_EQ(intern("aBc"), intern("aBc"));
}

TEST_F(HashTest, SymbolGrowthKeepsEveryId) {
  symbols(4);
  std::vector<int32_t> ids;
  for (int i = 0; i < 3000; i++) ids.push_back(intern("w" + std::to_string(i)));
  EXPECT_GE(R(symbol_table)[rec::BUCKETS], 4096);
  for (int i = 0; i < 3000; i++) ASSERT_EQ(intern("w" + std::to_string(i)), ids[i]) << i;
  EXPECT_EQ(intern("W17"), 3001);
  EXPECT_EQ(int32_t(entry(3001).w1), ids[17]);
  EXPECT_EQ(R(symbol_table)[rec::SIZE], 3001);
}

TEST_F(HashTest, Kind0EqualIntegersShareOneListWithSkipAndReverse) {
  block(0);
  for (int i = 0; i < 3; i++) push(0, integer(5));
  Node t = index(0, KIND_HASH, 3);
  EXPECT_EQ(R(t)[rec::SIZE], 1);
  EXPECT_EQ(live_buckets(t), 1u);
  Node lists = uint32_t(R(t)[rec::LISTS]);
  ASSERT_EQ(mem::used(lists), 4u);
  Node l = reinterpret_cast<uint32_t*>(mem::data(lists))[0];
  ASSERT_EQ(mem::used(l), 12u);
  EXPECT_EQ(reinterpret_cast<int32_t*>(mem::data(l))[2], 2);

  EXPECT_EQ(find(0, integer(5), 0, 2), 0);
  EXPECT_EQ(find(0, integer(5), 1, 2), 1);
  EXPECT_EQ(find(0, integer(5), 2, 1, 0, false, true), 1);
  EXPECT_EQ(find(0, integer(5), 0, 1, 0, true), 2);
  EXPECT_EQ(find(0, integer(5), 3), -1);
  EXPECT_EQ(find(0, integer(5), 0, 1, 0, false, true), -1);
  EXPECT_EQ(find(0, integer(6)), -1);
}

TEST_F(HashTest, Kind0RemovingDuplicates) {
  block(0);
  for (int v : {1, 1, 2}) push(0, integer(v));
  Node t = index(0, KIND_HASH, 3);
  EXPECT_EQ(R(t)[rec::SIZE], 2);
  uint32_t live = live_buckets(t);
  table_delete_value(t, at(vals(0), 0));
  EXPECT_EQ(R(t)[rec::SIZE], 2);
  EXPECT_EQ(live_buckets(t), live);
  EXPECT_EQ(find(0, integer(1)), 1);
  table_delete_value(t, at(vals(0), 1));
  EXPECT_EQ(R(t)[rec::SIZE], 1);
  EXPECT_EQ(live_buckets(t), live - 1);
  EXPECT_EQ(find(0, integer(1)), -1);
  // Removing all values resets the table.
  table_delete_range(t, 0, 99);
  EXPECT_EQ(R(t)[rec::SIZE], 0);
  EXPECT_EQ(R(t)[rec::OCCUPIED], 0);
  EXPECT_EQ(live_buckets(t), 0u);
}

TEST_F(HashTest, Kind0GrowsByRebuildAndFindsEverything) {
  block(0);
  index(0, KIND_HASH, 0);
  int rebuilt = 0;
  for (int i = 0; i < 500; i++) {
    push(0, integer(i % 200));
    int status = -1;
    table_add_value(table(0), at(vals(0), i), &status);
    rebuilt += status == 2;
  }
  EXPECT_GT(rebuilt, 0);
  EXPECT_EQ(R(table(0))[rec::SIZE], 200);
  for (int i = 0; i < 200; i++) {
    ASSERT_EQ(find(0, integer(i)), i) << i;
    ASSERT_EQ(find(0, integer(i), 0, 1, 0, true), i + (i < 100 ? 400 : 200)) << i;
  }
}

TEST_F(HashTest, Kind0BlocksAreKeysByIdentity) {
  // Two equal blocks in different series are different keys; the same series at the
  // same head is one key, at another head a different one.
  block(1, 1);
  push(1, integer(7));
  block(2, 1);
  push(2, integer(7));
  block(0, 8);
  push(0, *C(1));
  push(0, *C(2));
  push(0, *C(1));
  Cell other_head = *C(1);
  other_head.w1 = 1;
  push(0, other_head);
  index(0, KIND_HASH, 4);
  EXPECT_EQ(R(table(0))[rec::SIZE], 3);
  EXPECT_EQ(find(0, *C(1)), 0);
  EXPECT_EQ(find(0, *C(1), 1), 2);
  EXPECT_EQ(find(0, *C(2)), 1);
  EXPECT_EQ(find(0, other_head), 3);
}

TEST_F(HashTest, EqualBlocksMetInOneProbeChainStayDistinctKeys) {
  // 40 blocks of equal contents in a small table: their probe chains cross, and a
  // content comparison would merge them. Each stays its own key, in hash! and map!.
  block(0, 40);
  block(2, 80);
  for (int i = 0; i < 40; i++) {
    block(1, 1);
    push(1, integer(7));
    push(0, *C(1));
    push(2, *C(1));
    push(2, integer(i));
  }
  *C(1) = Cell{T_NONE, 0, 0, 0};
  Node h = index(0, KIND_HASH, 40);
  Node m = index(2, KIND_MAP, 40);
  EXPECT_EQ(R(h)[rec::SIZE], 40);
  EXPECT_EQ(R(m)[rec::SIZE], 40);
  EXPECT_EQ(mem::used(uint32_t(R(h)[rec::LISTS])), 0u);
  EXPECT_EQ(mem::used(vals(2)), 80u * 16);
  for (int i = 0; i < 40; i++) {
    ASSERT_EQ(find(0, *at(vals(0), i)), i) << i;
    ASSERT_EQ(find(0, *at(vals(0), i), 0, 1, 0, true), i) << i;
    ASSERT_EQ(find(2, *at(vals(2), 2 * i), 0, 1, 2), 2 * i) << i;
  }
}

TEST_F(HashTest, KeysWhoseComparisonAllocates) {
  // symbol! values compare through strings made on the spot, so every comparison here
  // allocates (and, under stress, moves every buffer) while the tables probe.
  symbols();
  int32_t alpha = intern("alpha"), beta = intern("beta"), gamma = intern("gamma");
  int32_t Alpha = intern("Alpha");
  block(0, 2);
  for (int32_t id : {alpha, beta, alpha, gamma, Alpha, beta}) push(0, entry(id));
  index(0, KIND_HASH, 6);
  // alpha and Alpha are equal ignoring case: one bucket with a list of three.
  EXPECT_EQ(R(table(0))[rec::SIZE], 3);
  EXPECT_EQ(find(0, entry(alpha)), 0);
  EXPECT_EQ(find(0, entry(alpha), 0, 1, 0, true), 4);
  EXPECT_EQ(find(0, entry(Alpha), 0, 1, 2), 4);
  EXPECT_EQ(find(0, entry(beta), 2), 5);
  EXPECT_EQ(find(0, entry(gamma)), 3);
  // map!: insertion compares strict-equal, so Alpha is a key of its own.
  block(1, 2);
  for (int32_t id : {alpha, beta, Alpha, beta}) {
    push(1, entry(id));
    push(1, integer(id));
  }
  index(1, KIND_MAP, 4);
  EXPECT_EQ(R(table(1))[rec::SIZE], 3);
  EXPECT_EQ(mem::used(vals(1)), 6u * 16);
  EXPECT_EQ(find(1, entry(Alpha), 0, 1, 2), 4);
  EXPECT_EQ(at(vals(1), 3)->w2, uint32_t(beta));
}

TEST_F(HashTest, Kind0DeleteRangeKeepsTheRest) {
  block(0, 8);
  for (int v : {1, 2, 3, 2, 5, 6}) push(0, integer(v));
  index(0, KIND_HASH, 6);
  EXPECT_EQ(R(table(0))[rec::SIZE], 5);
  // Removes the cells at 1..3 from the index (the series itself is the caller's).
  table_delete_range(table(0), 1, 3);
  EXPECT_EQ(R(table(0))[rec::SIZE], 2);
  EXPECT_EQ(find(0, integer(2)), -1);
  EXPECT_EQ(find(0, integer(3)), -1);
  EXPECT_EQ(find(0, integer(1)), 0);
  EXPECT_EQ(find(0, integer(6)), 5);
  // A count beyond the values is clipped; nothing before `first` is touched.
  table_delete_range(table(0), 5, 100);
  EXPECT_EQ(find(0, integer(6)), -1);
  EXPECT_EQ(find(0, integer(5)), 4);
}

TEST_F(HashTest, Kind0SearchNextWalksEqualBuckets) {
  block(0, 8);
  for (int v : {4, 4, 9}) push(0, integer(v));
  index(0, KIND_HASH, 3);
  Cell key = integer(4);
  int32_t cursor = -1, end = 0, step = 0;
  Cell* first = table_search_next(table(0), &key, &cursor, &end, &step);
  EXPECT_EQ(pos(0, first), 0);
  EXPECT_EQ(table_search_next(table(0), &key, &cursor, &end, &step), nullptr);
}

TEST_F(HashTest, RecordTableCleansDeletedBucketsAtSameSize) {
  C(0)->header = T_HASH;
  C(0)->w3 = table_create(4, nullptr, KIND_RECORDS, 1);
  int32_t buckets = R(table(0))[rec::BUCKETS];
  // Fill to the bound, then delete all but one: the next insertion rebuilds at the same
  // bucket count and drops the deleted buckets.
  uint32_t upper = uint32_t(R(table(0))[rec::UPPER]);
  for (uint32_t k = 1; k <= upper; k++) table_add_key(table(0), k * 977)->w2 = k;
  for (uint32_t k = 2; k <= upper; k++) table_delete_key(table(0), k * 977);
  EXPECT_EQ(uint32_t(R(table(0))[rec::OCCUPIED]), upper);
  table_add_key(table(0), 5);
  EXPECT_EQ(R(table(0))[rec::BUCKETS], buckets);
  EXPECT_EQ(R(table(0))[rec::SIZE], 2);
  EXPECT_EQ(R(table(0))[rec::OCCUPIED], 2);
  EXPECT_EQ(table_lookup_key(table(0), 977)->w2, 1u);
  EXPECT_NE(table_lookup_key(table(0), 5), nullptr);
}

TEST_F(HashTest, Kind0ResizeSizing) {
  block(0);
  push(0, integer(1));
  push(0, integer(2));
  index(0, KIND_HASH, 2);
  table_resize(table(0), 10);  // 15 -> 16 buckets, bound 16 x 0.77
  EXPECT_EQ(R(table(0))[rec::BUCKETS], 16);
  EXPECT_EQ(R(table(0))[rec::UPPER], 12);
  // 1.5 -> 1: at least 4 buckets but bound 0 (taken before the minimum), so the
  // first reinsertion rebuilds again for 3 values: 4 buckets, bound 3.
  table_resize(table(0), 1);
  EXPECT_EQ(R(table(0))[rec::BUCKETS], 4);
  EXPECT_EQ(R(table(0))[rec::UPPER], 3);
  EXPECT_EQ(R(table(0))[rec::SIZE], 2);
  EXPECT_EQ(find(0, integer(2)), 1);
}

TEST_F(HashTest, Kind0BlocksFoundAfterNodeEvacuation) {
  // Blocks hash by node: once the collector moved nodes the table is stale and is
  // rebuilt on its next search.
  block(0, 64);
  for (int i = 0; i < 50; i++) {
    block(1, 1);
    push(0, *C(1));
  }
  *C(1) = Cell{T_NONE, 0, 0, 0};
  Node t = index(0, KIND_HASH, 50);
  EXPECT_EQ(uint32_t(R(t)[rec::STAMP]), gc::state().relocation_count + 1);
  std::vector<Node> before;
  for (int i = 0; i < 50; i++) before.push_back(at(vals(0), i)->w2);
  uint32_t moves = gc::state().relocation_count;
  {
    test::NoStress quiet;
    gc::set_stress(1000000000);  // the move pass of stress mode, without its frequency
    gc::collect();
  }
  ASSERT_GT(gc::state().relocation_count, moves);
  EXPECT_NE(at(vals(0), 0)->w2, before[0]);
  for (int i = 0; i < 50; i++) ASSERT_EQ(find(0, *at(vals(0), i)), i) << i;
  EXPECT_EQ(uint32_t(R(table(0))[rec::STAMP]), gc::state().relocation_count + 1);
  // Same block, other head: a different key.
  Cell k = *at(vals(0), 3);
  k.w1 = 1;
  EXPECT_EQ(find(0, k), -1);
}

TEST_F(HashTest, Kind0ShiftAndMovePositions) {
  block(0, 8);
  for (int v : {1, 2, 1, 3}) push(0, integer(v));
  index(0, KIND_HASH, 4);
  // Insert a cell at 1: later cells shift up by one.
  push(0, integer(0));
  std::memmove(mem::data(vals(0)) + 32, mem::data(vals(0)) + 16, 48);
  *at(vals(0), 1) = integer(9);
  table_shift_indexes(table(0), 1, 1, 3, true);
  table_add(table(0), at(vals(0), 1));
  EXPECT_EQ(find(0, integer(2)), 2);
  EXPECT_EQ(find(0, integer(1), 1), 3);
  EXPECT_EQ(find(0, integer(3)), 4);
  EXPECT_EQ(find(0, integer(9)), 1);

  // Move cell 4 (the 3) to the front: 1 9 2 1 3 -> 3 1 9 2 1.
  Cell moved = *at(vals(0), 4);
  std::memmove(mem::data(vals(0)) + 16, mem::data(vals(0)), 64);
  *at(vals(0), 0) = moved;
  table_move_indexes(table(0), 0, 4, 1);
  EXPECT_EQ(find(0, integer(3)), 0);
  EXPECT_EQ(find(0, integer(1)), 1);
  EXPECT_EQ(find(0, integer(1), 2), 4);
  EXPECT_EQ(find(0, integer(9)), 2);
  EXPECT_EQ(find(0, integer(2)), 3);
}

TEST_F(HashTest, Kind0InsertThenRemoveKeepsPositionsInStep) {
  // The order of the series actions: insert shifts the stored positions (flag off),
  // moves the cells and adds the new one; remove shifts the rest down (flag on).
  block(0, 8);
  for (int v : {1, 2, 1, 3}) push(0, integer(v));
  index(0, KIND_HASH, 4);
  push(0, integer(0));
  std::memmove(mem::data(vals(0)) + 16, mem::data(vals(0)), 64);
  *at(vals(0), 0) = integer(9);
  table_shift_indexes(table(0), 1, 0, 4, false);
  table_add(table(0), at(vals(0), 0));
  // 9 1 2 1 3: remove the 1 at position 1.
  table_shift_indexes(table(0), -1, 2, 3, true);
  std::memmove(mem::data(vals(0)) + 16, mem::data(vals(0)) + 32, 48);
  mem::set_used(vals(0), 64);
  // 9 2 1 3
  EXPECT_EQ(find(0, integer(9)), 0);
  EXPECT_EQ(find(0, integer(2)), 1);
  EXPECT_EQ(find(0, integer(1)), 2);
  EXPECT_EQ(find(0, integer(1), 0, 1, 0, true), 2);
  EXPECT_EQ(find(0, integer(3)), 3);
}

TEST_F(HashTest, Kind0RangeRemovalOverLongLists) {
  // 3,000 cells of three values: removing a run takes members out of each long list
  // once; emptying a list frees its bucket and slot.
  block(0, 3000);
  for (int i = 0; i < 3000; i++) push(0, integer(i < 2000 ? i % 2 : 7));
  index(0, KIND_HASH, 3000);
  table_delete_range(table(0), 1000, 1500);  // 1000..1999 of 0 and 1, 2000..2499 of 7
  EXPECT_EQ(check_lists(table(0)), 3u);
  EXPECT_EQ(find(0, integer(0), 0, 1, 0, true), 998);
  EXPECT_EQ(find(0, integer(1), 0, 1, 0, true), 999);
  EXPECT_EQ(find(0, integer(0), 999), -1);
  EXPECT_EQ(find(0, integer(7)), 2500);
  EXPECT_EQ(find(0, integer(7), 0, 2), 2500);
  table_delete_range(table(0), 2500, 500);
  EXPECT_EQ(check_lists(table(0)), 2u);
  EXPECT_EQ(find(0, integer(7)), -1);
  // The shift of a removal at the front takes the overwritten cells out the same way.
  std::memmove(mem::data(vals(0)), mem::data(vals(0)) + 16 * 10, 16 * 990);
  table_shift_indexes(table(0), -10, 10, 990, true);
  EXPECT_EQ(find(0, integer(0)), 0);
  EXPECT_EQ(find(0, integer(1), 0, 1, 0, true), 989);
  EXPECT_EQ(find(0, integer(0), 0, 1, 0, true), 988);
}

TEST_F(HashTest, Kind0FreedListSlotsAreReused) {
  block(0, 16);
  for (int v : {1, 1, 2, 2}) push(0, integer(v));
  Node t = index(0, KIND_HASH, 4);
  Node ls = uint32_t(R(t)[rec::LISTS]);
  EXPECT_EQ(mem::used(ls), 8u);
  EXPECT_EQ(check_lists(t), 2u);
  // Both 1s gone: the first list's slot is free.
  table_delete_value(t, at(vals(0), 0));
  table_delete_value(t, at(vals(0), 1));
  EXPECT_EQ(reinterpret_cast<uint32_t*>(mem::data(ls))[0], 0u);
  EXPECT_EQ(check_lists(t), 1u);
  // A new pair of 3s takes that slot; the lists series does not grow.
  for (int i = 0; i < 2; i++) {
    push(0, integer(3));
    table_add(table(0), at(vals(0), 4 + i));
  }
  EXPECT_EQ(mem::used(uint32_t(R(table(0))[rec::LISTS])), 8u);
  EXPECT_EQ(check_lists(table(0)), 2u);
  EXPECT_EQ(find(0, integer(3), 0, 1, 0, true), 5);
  EXPECT_EQ(find(0, integer(2), 0, 1, 0, true), 3);
  EXPECT_EQ(find(0, integer(1)), -1);
  // A copy keeps its own free slots.
  table_delete_value(table(0), at(vals(0), 2));
  table_delete_value(table(0), at(vals(0), 3));
  Node copy = mem::clone(vals(0));
  *C(1) = Cell{T_HASH, 0, copy, 0};
  Node d = table_duplicate(table(0), vals(1));
  C(1)->w3 = d;
  for (int i = 0; i < 2; i++) {
    push(1, integer(4));
    table_add(table(1), at(vals(1), 6 + i));
  }
  EXPECT_EQ(mem::used(uint32_t(R(table(1))[rec::LISTS])), 8u);
  EXPECT_EQ(check_lists(table(1)), 2u);
  EXPECT_EQ(check_lists(table(0)), 1u);
  EXPECT_EQ(find(1, integer(4)), 6);
  EXPECT_EQ(find(0, integer(4)), -1);
}

TEST_F(HashTest, Kind0ListsStayRightThroughRemovalsAndReuse) {
  // Random appends and removals (one cell, every copy of a value, or a run of cells) of
  // few distinct values, checked against a plain model:
  // lists are made, emptied and their slots taken again many times over. A removed
  // cell becomes none! in the series, so a rebuild does not index it again.
  block(0, 16);
  index(0, KIND_HASH, 0);
  std::vector<int32_t> model;  // value at each position, -1 once removed
  std::mt19937 rng(12345);
  uint32_t most_lists = 0;
  for (int step = 0; step < 1500; step++) {
    bool remove = !model.empty() && rng() % 5 < 2;
    if (remove && rng() % 4 == 0) {
      // A run of cells at once.
      int32_t first = int32_t(rng() % model.size());
      int32_t count = 1 + int32_t(rng() % 20);
      table_delete_range(table(0), first, count);
      for (int32_t p = first; p < first + count && p < int32_t(model.size()); p++) {
        *at(vals(0), p) = Cell{T_NONE, 0, 0, 0};
        model[size_t(p)] = -1;
      }
    } else if (remove) {
      // Removes every copy of one value at a time now and then, so lists empty.
      int32_t v = model[rng() % model.size()];
      if (v < 0) continue;
      bool all = rng() % 3 == 0;
      for (size_t p = 0; p < model.size(); p++) {
        if (model[p] != v) continue;
        table_delete_value(table(0), at(vals(0), int32_t(p)));
        *at(vals(0), int32_t(p)) = Cell{T_NONE, 0, 0, 0};
        model[p] = -1;
        if (!all) break;
      }
    } else {
      int32_t v = int32_t(rng() % 24);
      push(0, integer(v));
      model.push_back(v);
      table_add(table(0), at(vals(0), int32_t(model.size() - 1)));
    }
    uint32_t lists = check_lists(table(0));
    if (lists > most_lists) most_lists = lists;
    // Slots are reused: the series never holds more slots than lists were alive at once.
    ASSERT_LE(mem::used(uint32_t(R(table(0))[rec::LISTS])) / 4, most_lists) << step;
    if (step % 50 != 49) continue;
    for (int32_t v = 0; v < 24; v++) {
      for (int32_t start : {0, int32_t(model.size() / 2)}) {
        int32_t first = -1, last = -1;
        for (size_t p = size_t(start); p < model.size(); p++)
          if (model[p] == v) {
            if (first < 0) first = int32_t(p);
            last = int32_t(p);
          }
        ASSERT_EQ(find(0, integer(v), start), first) << step << " " << v;
        ASSERT_EQ(find(0, integer(v), start, 1, 0, true), last) << step << " " << v;
      }
    }
  }
  EXPECT_GT(most_lists, 5u);
}

TEST_F(HashTest, Kind0DuplicateIsIndependent) {
  block(0);
  for (int v : {4, 4, 8}) push(0, integer(v));
  index(0, KIND_HASH, 3);
  Node copy = mem::clone(vals(0));
  *C(1) = Cell{T_HASH, 0, copy, 0};
  Node d = table_duplicate(table(0), vals(1));
  C(1)->w3 = d;
  table_delete_value(table(0), at(vals(0), 0));
  EXPECT_EQ(find(1, integer(4)), 0);
  EXPECT_EQ(find(0, integer(4)), 1);
}

TEST_F(HashTest, MapCaseVariantsAreTwoKeysInOneChain) {
  block(0);
  text(1, U"abc", 1);
  push(0, *C(1));
  push(0, integer(1));
  text(1, U"ABC", 1);
  push(0, *C(1));
  push(0, integer(2));
  Node t = index(0, KIND_MAP, 2);
  EXPECT_EQ(R(t)[rec::SIZE], 2);
  EXPECT_EQ(live_buckets(t), 2u);
  // One chain: a walk from the folded hash meets both.
  text(2, U"aBc", 1);
  int32_t cursor = -1, end = 0, step = 0;
  int met = 0;
  while (table_search_next(table(0), C(2), &cursor, &end, &step)) met++;
  EXPECT_EQ(met, 2);
  int32_t first = find(0, *C(2));
  EXPECT_TRUE(first == 0 || first == 2);
  text(3, U"ABC", 1);
  EXPECT_EQ(find(0, *C(3), 0, 1, 2), 2);
  text(3, U"abd", 1);
  EXPECT_EQ(find(0, *C(3)), -1);
}

TEST_F(HashTest, MapWordKeysFoundEachWay) {
  symbols();
  int32_t id = intern("key");
  int32_t alias = intern("KEY");
  block(0);
  push(0, Cell{T_LIT_WORD, 0, uint32_t(id), 0});
  push(0, integer(1));
  push(0, Cell{T_WORD, 0, uint32_t(id), 0});
  push(0, integer(2));
  // Keys come prepared, as map::init_cell does before indexing.
  for (uint32_t i : {0u, 2u}) map::prepare_key(at(vals(0), i), at(vals(0), i));
  index(0, KIND_MAP, 2);
  // The repeated key kept the later value; the later pair was cut out.
  EXPECT_EQ(mem::used(vals(0)), 32u);
  EXPECT_EQ(cell::type(at(vals(0), 0)), uint32_t(T_SET_WORD));
  EXPECT_EQ(at(vals(0), 1)->w2, 2u);
  for (uint32_t ty : {T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD}) {
    Cell k{ty, 0, uint32_t(id), 0};
    EXPECT_EQ(table_search(table(0), &k, 0, 1, 0, false, false), at(vals(0), 0)) << ty;
    EXPECT_EQ(k.header, ty);
    EXPECT_EQ(find(0, Cell{ty, 0, uint32_t(alias), 0}), 0) << ty;
  }
  EXPECT_EQ(find(0, Cell{T_REFINEMENT, 0, uint32_t(id), 0}), -1);
}

TEST_F(HashTest, MapGrowsOnEveryFullInsertionAndDeletesByValue) {
  block(0, 16);
  Node t = index(0, KIND_MAP, 0);
  EXPECT_EQ(R(t)[rec::BUCKETS], 8);
  for (int i = 0; i < 6; i++) {
    push(0, integer(i));
    push(0, integer(100 + i));
    table_add(table(0), at(vals(0), 2 * i));
  }
  for (int i = 0; i < 6; i++) table_delete_value(table(0), at(vals(0), 2 * i));
  EXPECT_EQ(R(table(0))[rec::SIZE], 0);
  EXPECT_EQ(at(vals(0), 1)->header, 0u);
  push(0, integer(50));
  push(0, integer(150));
  table_add(table(0), at(vals(0), 12));
  EXPECT_EQ(R(table(0))[rec::BUCKETS], 16);
  EXPECT_EQ(find(0, integer(3)), 6);
}

TEST_F(HashTest, WordListContextSymbolIndex) {
  symbols();
  int32_t foo = intern("foo"), Foo = intern("Foo"), bar = intern("bar");
  C(0)->header = T_HASH;
  C(0)->w3 = table_create(1, nullptr, KIND_SYMBOLS, 0);
  block(1);  // stands for the context series
  Node ctx = vals(1);
  int32_t idx = -5;
  EXPECT_EQ(context_symbol_index(table(0), foo, true, 0, &idx), -1);
  EXPECT_EQ(context_symbol_index(table(0), foo, true, ctx, &idx), -1);
  EXPECT_EQ(idx, 0);
  EXPECT_EQ(context_symbol_index(table(0), Foo, true, 0, &idx), 0);
  EXPECT_EQ(context_symbol_index(table(0), Foo, false, 0, &idx), -1);
  EXPECT_EQ(context_symbol_index(table(0), bar, false, ctx, &idx), -1);
  EXPECT_EQ(idx, 1);
  Cell w = *at(values(table(0)), 1);
  EXPECT_EQ(w.header, uint32_t(T_WORD));
  EXPECT_EQ(w.w1, vals(1));
  EXPECT_EQ(int32_t(w.w2), bar);
  EXPECT_EQ(w.w3, 1u);
  // Growth keeps every word.
  std::vector<int32_t> syms;
  for (int i = 0; i < 300; i++) {
    syms.push_back(intern("v" + std::to_string(i)));
    context_symbol_index(table(0), syms.back(), true, vals(1), &idx);
  }
  for (int i = 0; i < 300; i++) ASSERT_EQ(context_symbol_index(table(0), syms[i], true, 0, &idx), i + 2);
  Cell c0{T_CONTEXT, table(0), 0, 0};
  EXPECT_EQ(context_symbols_node(&c0), values(table(0)));
  EXPECT_EQ(int32_t(context_word_at(&c0, 1)->w2), bar);
  // A copy made from another table's record answers the same from its own series.
  Cell from{T_CONTEXT, table(0), 0, 0};
  Node copy = table_create(0, &from, KIND_SYMBOLS, 2);
  *C(2) = Cell{T_HASH, 0, 0, copy};
  EXPECT_NE(values(table(2)), values(table(0)));
  EXPECT_EQ(context_symbol_index(table(2), syms[10], true, 0, &idx), 12);
}

TEST_F(HashTest, RecordTableAddLookupDeleteAndGrow) {
  C(0)->header = T_HASH;
  C(0)->w3 = table_create(4, nullptr, KIND_RECORDS, 2);
  EXPECT_EQ(R(table(0))[rec::RECORD_WIDTH], 48);
  EXPECT_NE(R(table(0))[rec::STAMP], 0);
  for (uint32_t k = 1; k <= 100; k++) {
    Cell* d = table_add_key(table(0), k * 7919);
    EXPECT_EQ(d[-1].header, uint32_t(T_UNSET));
    d[0] = integer(int32_t(k));
    d[1] = integer(int32_t(k * 2));
  }
  Node t = table(0);
  EXPECT_EQ(R(t)[rec::SIZE], 100);
  for (uint32_t k = 1; k <= 100; k++) {
    Cell* d = table_lookup_key(t, k * 7919);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d[0].w2, k);
    EXPECT_EQ(d[1].w2, 2 * k);
  }
  EXPECT_EQ(table_lookup_key(t, 5), nullptr);
  // Adding again finds the same record, headers reset to unset.
  Cell* again = table_add_key(table(0), 7919);
  EXPECT_EQ(again->w2, 1u);
  EXPECT_EQ(again->header, uint32_t(T_UNSET));
  t = table(0);
  Cell* gone = table_delete_key(t, 7919);
  ASSERT_NE(gone, nullptr);
  EXPECT_EQ(gone[-1].header, 0u);
  EXPECT_EQ(R(t)[rec::SIZE], 99);
  EXPECT_EQ(table_lookup_key(t, 7919), nullptr);
  EXPECT_EQ(table_delete_key(t, 7919), nullptr);
  // A deleted bucket is reused with its record storage.
  uint32_t used = mem::used(values(t));
  table_add_key(table(0), 7919);
  t = table(0);
  EXPECT_LE(mem::used(values(t)), used);
  table_empty(t);
  EXPECT_EQ(R(t)[rec::SIZE], 0);
  EXPECT_EQ(table_lookup_key(t, 2 * 7919), nullptr);
}

TEST_F(HashTest, RecordTableRehashedAfterNodeMoves) {
  // Keys are nodes: after the collector moved them the table re-hashes on next use.
  C(0)->header = T_HASH;
  C(0)->w3 = table_create(8, nullptr, KIND_RECORDS, 1);
  for (int i = 1; i <= 20; i++) {
    block(size_t(i), 1);
    table_add_key(table(0), vals(size_t(i)))->w2 = uint32_t(i);
  }
  {
    test::NoStress quiet;
    gc::set_stress(1000000000);
    gc::collect();
  }
  for (int i = 1; i <= 20; i++) {
    Cell* d = table_lookup_key(table(0), vals(size_t(i)));
    ASSERT_NE(d, nullptr) << i;
    EXPECT_EQ(d->w2, uint32_t(i));
  }
  EXPECT_EQ(uint32_t(R(table(0))[rec::STAMP]), gc::state().relocation_count + 1);
}

TEST_F(HashTest, RehashToKeepsEntries) {
  symbols();
  std::vector<int32_t> ids;
  for (int i = 0; i < 100; i++) ids.push_back(intern("k" + std::to_string(i)));
  table_rehash_to(symbol_table, 200000);
  EXPECT_EQ(R(symbol_table)[rec::BUCKETS], 262144);
  table_rehash_to(symbol_table, 16);  // the size is not below that bound: nothing happens
  EXPECT_EQ(R(symbol_table)[rec::BUCKETS], 262144);
  table_rehash_to(symbol_table, 256);
  EXPECT_EQ(R(symbol_table)[rec::BUCKETS], 256);
  for (int i = 0; i < 100; i++) ASSERT_EQ(intern("k" + std::to_string(i)), ids[i]);
  EXPECT_EQ(R(symbol_table)[rec::OCCUPIED], 100);
}

TEST_F(HashTest, CollectionKeepsTablesWhole) {
  // A hash! held only by its cell survives collections with every part reachable.
  block(0);
  for (int i = 0; i < 40; i++) push(0, integer(i % 10));
  index(0, KIND_HASH, 40);
  symbols();
  for (int i = 0; i < 50; i++) intern("s" + std::to_string(i));
  gc::collect();
  gc::collect();
  for (int i = 0; i < 10; i++) {
    ASSERT_EQ(find(0, integer(i)), i);
    ASSERT_EQ(find(0, integer(i), 0, 1, 0, true), 30 + i);
  }
  for (int i = 0; i < 50; i++) ASSERT_EQ(intern("s" + std::to_string(i)), i + 1);
}

TEST_F(HashTest, OwnerRecordsLiveOnlyByOtherReferences) {
  // Records [owned value, owner object, field word] keyed by the owned series' node.
  static Node owner;
  owner = table_create(16, nullptr, KIND_OWNER, 3);
  gc::state().roots.owner_table = &owner;
  block(0, 1);                          // held: reached from a root
  block(1, 1);                          // alone: owned, reached from nowhere else
  block(2, 1);                          // nested: reached only through the owner's context
  block(3, 2);                          // the owner object's context (plain cells here)
  block(4, 1);                          // a dead owner's context
  push(3, *C(2));
  auto own = [&](size_t series, size_t context) {
    Cell* d = table_add_key(owner, vals(series));
    d[0] = Cell{T_BLOCK, 0, vals(series), 0};
    d[1] = Cell{T_OBJECT, vals(context), 0, 0};
    d[2] = Cell{T_WORD, 0, 1, 0};
  };
  own(0, 3);
  own(1, 4);
  own(2, 3);
  EXPECT_EQ(R(owner)[rec::SIZE], 3);
  for (size_t i = 1; i <= 4; i++) *C(i) = Cell{T_NONE, 0, 0, 0};

  gc::collect();
  EXPECT_EQ(R(owner)[rec::SIZE], 2);
  Cell* d = table_lookup_key(owner, vals(0));
  ASSERT_NE(d, nullptr);
  // The owner reached through the record keeps its field's series and that record.
  Node ctx = d[1].w1;
  ASSERT_TRUE(test::alive(ctx));
  Node nested = at(ctx, 0)->w2;
  EXPECT_TRUE(test::alive(nested));
  EXPECT_NE(table_lookup_key(owner, nested), nullptr);

  // Nothing reaches them any more: both records go and the series die.
  *C(0) = Cell{T_NONE, 0, 0, 0};
  gc::collect();
  EXPECT_EQ(R(owner)[rec::SIZE], 0);
  gc::state().roots.owner_table = nullptr;
}

TEST_F(HashTest, OtherRecordTablesKeepTheirKeys) {
  C(0)->header = T_HASH;
  C(0)->w3 = table_create(4, nullptr, KIND_RECORDS, 1);
  block(1, 1);
  table_add_key(table(0), vals(1));
  Node key = vals(1);
  *C(1) = Cell{T_NONE, 0, 0, 0};
  gc::collect();
  EXPECT_EQ(R(table(0))[rec::SIZE], 1);
  uint32_t width = uint32_t(R(table(0))[rec::RECORD_WIDTH]);
  EXPECT_EQ(width, 32u);
  (void)key;
  const Cell* h = at(values(table(0)), 0);
  EXPECT_TRUE(test::alive(h->w1));
}
