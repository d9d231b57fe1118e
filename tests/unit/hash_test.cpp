// Unit tests of the hash tables: hashes, sizing, kind 0 duplicate lists, map keys,
// symbol interning, word lists, record tables and staleness after node moves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/hash.h"
#include "runtime/hash_mem.h"

namespace kel::hash::mem {
Node testing_move_node(Node old);
void testing_count_relocation();
void testing_clear_marks();
}  // namespace kel::hash::mem

using namespace kel;
using namespace kel::hash;

namespace {

int32_t* R(Node t) { return record(t); }

Node cells_of(const std::vector<Cell>& cells) {
  Node n = mem::new_cells(uint32_t(cells.size()) + 1);
  std::memcpy(mem::data(n), cells.data(), cells.size() * 16);
  mem::set_used(n, uint32_t(cells.size()) * 16);
  return n;
}
Cell* at(Node values, int32_t i) { return reinterpret_cast<Cell*>(mem::data(values)) + i; }
Node values(Node t) { return uint32_t(R(t)[rec::VALUES]); }
void append(Node v, Cell c) {
  uint32_t u = mem::used(v);
  mem::ensure(v, u + 16);
  std::memcpy(mem::data(v) + u, &c, 16);
  mem::set_used(v, u + 16);
}

Cell integer(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }

// A string cell over a fresh text series of the given unit (latin/ucs codepoints).
Cell text(const std::u32string& s, uint32_t unit, uint32_t type = T_STRING) {
  Node n = mem::new_units(uint32_t(s.size()), unit);
  uint8_t* d = mem::data(n);
  for (size_t i = 0; i < s.size(); i++) {
    if (unit == 1) d[i] = uint8_t(s[i]);
    else if (unit == 2) reinterpret_cast<uint16_t*>(d)[i] = uint16_t(s[i]);
    else reinterpret_cast<uint32_t*>(d)[i] = s[i];
  }
  mem::set_used(n, uint32_t(s.size()) * unit);
  return Cell{type, 0, n, 0};
}

int32_t intern(Node t, const std::string& s, bool any_case = false) {
  return find_symbol_name(t, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), any_case);
}

// A symbol table made the way start-up makes it, installed as the process one.
struct Symbols {
  Node saved = symbol_table;
  Node t;
  Symbols() {
    t = table_create(4000, nullptr, KIND_SYMBOLS, 0);
    symbol_table = t;
  }
  ~Symbols() { symbol_table = saved; }
  const Cell& entry(int32_t id) { return *at(values(t), id - 1); }
};

uint32_t live_buckets(Node t) {
  uint32_t n = 0;
  for (uint32_t b = 0; b < uint32_t(R(t)[rec::BUCKETS]); b++) n += bucket_flag(t, b) == LIVE;
  return n;
}

}  // namespace

TEST(Murmur3, PublishedVectors) {
  EXPECT_EQ(murmur3_x86_32_seeded("", 0, 1), 0x514E28B7u);
  EXPECT_EQ(murmur3_x86_32_seeded("Hello, world!", 13, 1234), 0xFAF6CDB3u);
  EXPECT_EQ(murmur3_x86_32_seeded("", 0, 0), 0u);
  EXPECT_EQ(murmur3_x86_32_seeded("The quick brown fox jumps over the lazy dog", 43, 0x9747B28C), 0x2FA826CDu);
  EXPECT_EQ(mix_int32(0), 0u);
}

TEST(HashSizing, RoundUpAndCreate) {
  EXPECT_EQ(round_up_pow2(0), 0u);
  EXPECT_EQ(round_up_pow2(1), 1u);
  EXPECT_EQ(round_up_pow2(5), 8u);
  EXPECT_EQ(round_up_pow2(8), 8u);
  EXPECT_EQ(round_up_pow2(10389), 16384u);

  Node k0 = table_create(0, nullptr, KIND_HASH, 0);
  EXPECT_EQ(R(k0)[rec::BUCKETS], 8);
  EXPECT_EQ(R(k0)[rec::UPPER], 6);
  for (uint32_t b = 0; b < 8; b++) EXPECT_EQ(bucket_flag(k0, b), EMPTY);

  Node k2 = table_create(4000, nullptr, KIND_SYMBOLS, 0);
  EXPECT_EQ(R(k2)[rec::BUCKETS], 16384);
  EXPECT_EQ(R(k2)[rec::UPPER], int32_t(16384 * 0.77));
  Node k1 = table_create(4000, nullptr, KIND_MAP, 0);
  EXPECT_EQ(R(k1)[rec::BUCKETS], 8192);
}

TEST(ValueHash, StringFoldsCaseAcrossUnits) {
  Cell a1 = text(U"abc", 1), A2 = text(U"ABC", 2), A4 = text(U"ABC", 4);
  EXPECT_EQ(value_hash(&a1, 0), value_hash(&A2, 0));
  EXPECT_EQ(value_hash(&a1, 0), value_hash(&A4, 0));
  EXPECT_NE(value_hash(&a1, 1), value_hash(&A2, 1));
  EXPECT_EQ(value_hash(&A2, 1), value_hash(&A4, 1));
  // The head index counts: "xabc" from 1 hashes as "abc".
  Cell x = text(U"xabc", 1);
  x.w1 = 1;
  EXPECT_EQ(value_hash(&x, 0), value_hash(&a1, 0));
  Cell f = text(U"abc", 1, T_FILE);
  EXPECT_EQ(value_hash(&f, 0), value_hash(&a1, 0));
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

TEST(Symbols, InternAliasesCaseVariants) {
  Symbols s;
  int32_t n = intern(s.t, "abc");
  int32_t m = intern(s.t, "ABC");
  EXPECT_NE(m, n);
  EXPECT_EQ(int32_t(s.entry(m).w1), n);
  EXPECT_EQ(int32_t(s.entry(n).w1), -1);
  EXPECT_EQ(intern(s.t, "abc"), n);
  EXPECT_EQ(intern(s.t, "ABC"), m);
  // A third variant aliases the first, never the second.
  int32_t k = intern(s.t, "Abc");
  EXPECT_EQ(int32_t(s.entry(k).w1), n);
  // Different lengths never meet; non-ASCII case is not folded.
  int32_t d = intern(s.t, "ABCD");
  EXPECT_EQ(int32_t(s.entry(d).w1), -1);
  int32_t ae = intern(s.t, "\xC3\xA4x"), AE = intern(s.t, "\xC3\x84x");
  EXPECT_NE(ae, AE);
  EXPECT_EQ(int32_t(s.entry(AE).w1), -1);
  // Spelling kept with a NUL after the tail.
  Node sp = s.entry(m).w3;
  EXPECT_EQ(mem::used(sp), 3u);
  EXPECT_EQ(std::memcmp(mem::data(sp), "ABC", 4), 0);
  EXPECT_EQ(s.entry(m).header, uint32_t(T_SYMBOL));
}

TEST(Symbols, AnyCaseInterning) {
  Symbols s;
  int32_t a = intern(s.t, "ABC", true);
  EXPECT_EQ(int32_t(s.entry(a).w1), -1);
  EXPECT_EQ(intern(s.t, "abc", true), a);
  EXPECT_EQ(intern(s.t, "aBc"), intern(s.t, "aBc"));
}

TEST(Symbols, GrowthKeepsEveryId) {
  Node saved = symbol_table;
  Node t = table_create(4, nullptr, KIND_SYMBOLS, 0);
  symbol_table = t;
  std::vector<int32_t> ids;
  for (int i = 0; i < 3000; i++) ids.push_back(intern(t, "w" + std::to_string(i)));
  EXPECT_GE(R(t)[rec::BUCKETS], 4096);
  for (int i = 0; i < 3000; i++) ASSERT_EQ(intern(t, "w" + std::to_string(i)), ids[i]) << i;
  EXPECT_EQ(intern(t, "W17"), 3001);
  EXPECT_EQ(int32_t(at(values(t), 3000)->w1), ids[17]);
  EXPECT_EQ(R(t)[rec::SIZE], 3001);
  symbol_table = saved;
}

TEST(HashKind0, EqualIntegersShareOneListWithSkipAndReverse) {
  Node v = cells_of({integer(5), integer(5), integer(5)});
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(3, &src, KIND_HASH, 0);
  EXPECT_EQ(R(t)[rec::SIZE], 1);
  EXPECT_EQ(live_buckets(t), 1u);
  Node lists = uint32_t(R(t)[rec::LISTS]);
  ASSERT_EQ(mem::used(lists), 4u);
  Node l = reinterpret_cast<uint32_t*>(mem::data(lists))[0];
  ASSERT_EQ(mem::used(l), 12u);
  EXPECT_EQ(reinterpret_cast<int32_t*>(mem::data(l))[2], 2);

  Cell key = integer(5);
  auto pos = [&](Cell* c) { return c ? int32_t(c - at(v, 0)) : -1; };
  EXPECT_EQ(pos(table_search(t, &key, 0, 2, 0, false, false)), 0);
  EXPECT_EQ(pos(table_search(t, &key, 1, 2, 0, false, false)), 1);
  EXPECT_EQ(pos(table_search(t, &key, 2, 1, 0, false, true)), 1);
  EXPECT_EQ(pos(table_search(t, &key, 0, 1, 0, true, false)), 2);
  EXPECT_EQ(pos(table_search(t, &key, 3, 1, 0, false, false)), -1);
  EXPECT_EQ(pos(table_search(t, &key, 0, 1, 0, false, true)), -1);
  Cell other = integer(6);
  EXPECT_EQ(table_search(t, &other, 0, 1, 0, false, false), nullptr);
}

TEST(HashKind0, RemovingDuplicates) {
  Node v = cells_of({integer(1), integer(1), integer(2)});
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(3, &src, KIND_HASH, 0);
  EXPECT_EQ(R(t)[rec::SIZE], 2);
  uint32_t live = live_buckets(t);
  table_delete_value(t, at(v, 0));
  EXPECT_EQ(R(t)[rec::SIZE], 2);
  EXPECT_EQ(live_buckets(t), live);
  Cell one = integer(1);
  EXPECT_EQ(table_search(t, &one, 0, 1, 0, false, false), at(v, 1));
  table_delete_value(t, at(v, 1));
  EXPECT_EQ(R(t)[rec::SIZE], 1);
  EXPECT_EQ(live_buckets(t), live - 1);
  EXPECT_EQ(table_search(t, &one, 0, 1, 0, false, false), nullptr);
  // Removing all values resets the table.
  table_delete_range(t, 0, 99);
  EXPECT_EQ(R(t)[rec::SIZE], 0);
  EXPECT_EQ(R(t)[rec::OCCUPIED], 0);
  EXPECT_EQ(live_buckets(t), 0u);
}

TEST(HashKind0, GrowsByRebuildAndFindsEverything) {
  Node v = mem::new_cells(4);
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(0, &src, KIND_HASH, 0);
  int rebuilt = 0;
  for (int i = 0; i < 500; i++) {
    append(v, integer(i % 200));
    int status = -1;
    table_add_value(t, at(v, i), &status);
    rebuilt += status == 2;
  }
  EXPECT_GT(rebuilt, 0);
  EXPECT_EQ(R(t)[rec::SIZE], 200);
  for (int i = 0; i < 200; i++) {
    Cell k = integer(i);
    ASSERT_EQ(table_search(t, &k, 0, 1, 0, false, false), at(v, i)) << i;
    ASSERT_EQ(table_search(t, &k, 0, 1, 0, true, false), at(v, i + (i < 100 ? 400 : 200))) << i;
  }
}

TEST(HashKind0, ResizeSizing) {
  Node v = cells_of({integer(1), integer(2)});
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(2, &src, KIND_HASH, 0);
  table_resize(t, 10);  // 15 -> 16 buckets, bound 16 x 0.77
  EXPECT_EQ(R(t)[rec::BUCKETS], 16);
  EXPECT_EQ(R(t)[rec::UPPER], 12);
  // 1.5 -> 1: at least 4 buckets but bound 0 (taken before the minimum), so the
  // first reinsertion rebuilds again for 3 values: 4 buckets, bound 3.
  table_resize(t, 1);
  EXPECT_EQ(R(t)[rec::BUCKETS], 4);
  EXPECT_EQ(R(t)[rec::UPPER], 3);
  EXPECT_EQ(R(t)[rec::SIZE], 2);
  Cell k = integer(2);
  EXPECT_EQ(table_search(t, &k, 0, 1, 0, false, false), at(v, 1));
}

TEST(HashKind0, BlocksFoundAfterNodesMove) {
  // Blocks hash by node: after the nodes move the table is stale and rebuilds on search.
  std::vector<Cell> cells;
  for (int i = 0; i < 50; i++) cells.push_back(Cell{T_BLOCK, 0, mem::new_cells(1), 0});
  Node v = cells_of(cells);
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(50, &src, KIND_HASH, 0);
  EXPECT_EQ(uint32_t(R(t)[rec::STAMP]), mem::relocations() + 1);
  for (int i = 0; i < 50; i++) at(v, i)->w2 = mem::testing_move_node(at(v, i)->w2);
  mem::testing_count_relocation();
  for (int i = 0; i < 50; i++) {
    Cell k = *at(v, i);
    ASSERT_EQ(table_search(t, &k, 0, 1, 0, false, false), at(v, i)) << i;
  }
  EXPECT_EQ(uint32_t(R(t)[rec::STAMP]), mem::relocations() + 1);
  // Same block, other head: a different key.
  Cell k = *at(v, 3);
  k.w1 = 1;
  EXPECT_EQ(table_search(t, &k, 0, 1, 0, false, false), nullptr);
}

TEST(HashKind0, ShiftAndMovePositions) {
  Node v = cells_of({integer(1), integer(2), integer(1), integer(3)});
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(4, &src, KIND_HASH, 0);
  // Insert a cell at 1: later cells shift up by one.
  uint32_t u = mem::used(v);
  mem::ensure(v, u + 16);
  std::memmove(mem::data(v) + 32, mem::data(v) + 16, u - 16);
  *at(v, 1) = integer(9);
  mem::set_used(v, u + 16);
  EXPECT_EQ(table_shift_indexes(t, 1, 1, 3, true), 0);
  table_add(t, at(v, 1));
  Cell k1 = integer(1), k2 = integer(2), k3 = integer(3), k9 = integer(9);
  EXPECT_EQ(table_search(t, &k2, 0, 1, 0, false, false), at(v, 2));
  EXPECT_EQ(table_search(t, &k1, 1, 1, 0, false, false), at(v, 3));
  EXPECT_EQ(table_search(t, &k3, 0, 1, 0, false, false), at(v, 4));
  EXPECT_EQ(table_search(t, &k9, 0, 1, 0, false, false), at(v, 1));
  EXPECT_EQ(table_shift_indexes(t, 1, 0, 30001, true), 1);

  // Move cell 4 (the 3) to the front: 1 9 2 1 3 -> 3 1 9 2 1.
  Cell moved = *at(v, 4);
  std::memmove(mem::data(v) + 16, mem::data(v), 64);
  *at(v, 0) = moved;
  table_move_indexes(t, 0, 4, 1);
  EXPECT_EQ(table_search(t, &k3, 0, 1, 0, false, false), at(v, 0));
  EXPECT_EQ(table_search(t, &k1, 0, 1, 0, false, false), at(v, 1));
  EXPECT_EQ(table_search(t, &k1, 2, 1, 0, false, false), at(v, 4));
  EXPECT_EQ(table_search(t, &k9, 0, 1, 0, false, false), at(v, 2));
  EXPECT_EQ(table_search(t, &k2, 0, 1, 0, false, false), at(v, 3));
}

TEST(HashKind0, DuplicateIsIndependent) {
  Node v = cells_of({integer(4), integer(4), integer(8)});
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(3, &src, KIND_HASH, 0);
  Node v2 = mem::clone(v);
  Node c = table_duplicate(t, v2);
  table_delete_value(t, at(v, 0));
  Cell k = integer(4);
  EXPECT_EQ(table_search(c, &k, 0, 1, 0, false, false), at(v2, 0));
  EXPECT_EQ(table_search(t, &k, 0, 1, 0, false, false), at(v, 1));
}

TEST(MapTable, CaseVariantsAreTwoKeysInOneChain) {
  Node v = cells_of({text(U"abc", 1), integer(1), text(U"ABC", 1), integer(2)});
  Cell src{T_MAP, 0, v, 0};
  Node t = table_create(2, &src, KIND_MAP, 0);
  EXPECT_EQ(R(t)[rec::SIZE], 2);
  EXPECT_EQ(live_buckets(t), 2u);
  // One chain: both sit on the probe sequence of the folded hash.
  Cell key = text(U"aBc", 1);
  int32_t cursor = -1, end = 0, step = 0;
  int met = 0;
  while (table_search_next(t, &key, &cursor, &end, &step)) met++;
  EXPECT_EQ(met, 2);
  Cell* first = table_search(t, &key, 0, 1, 0, false, false);
  ASSERT_NE(first, nullptr);
  Cell exact = text(U"ABC", 1);
  EXPECT_EQ(table_search(t, &exact, 0, 1, 2, false, false), at(v, 2));
  Cell none_such = text(U"abd", 1);
  EXPECT_EQ(table_search(t, &none_such, 0, 1, 0, false, false), nullptr);
}

TEST(MapTable, WordKeysFoundEachWay) {
  Symbols s;
  int32_t id = intern(s.t, "key");
  Node v = cells_of({Cell{T_LIT_WORD, 0, uint32_t(id), 0}, integer(1), Cell{T_WORD, 0, uint32_t(id), 0}, integer(2)});
  Cell src{T_MAP, 0, v, 0};
  Node t = table_create(2, &src, KIND_MAP, 0);
  // The repeated key kept the later value; the pair was cut out.
  EXPECT_EQ(mem::used(v), 32u);
  EXPECT_EQ(cell::type(at(v, 0)), uint32_t(T_SET_WORD));
  EXPECT_EQ(at(v, 1)->w2, 2u);
  int32_t alias = intern(s.t, "KEY");
  for (uint32_t ty : {T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD}) {
    Cell k{ty, 0, uint32_t(id), 0};
    EXPECT_EQ(table_search(t, &k, 0, 1, 0, false, false), at(v, 0)) << ty;
    EXPECT_EQ(k.header, ty);
    Cell ka{ty, 0, uint32_t(alias), 0};
    EXPECT_EQ(table_search(t, &ka, 0, 1, 0, false, false), at(v, 0)) << ty;
  }
  Cell refk{T_REFINEMENT, 0, uint32_t(id), 0};
  EXPECT_EQ(table_search(t, &refk, 0, 1, 0, false, false), nullptr);
}

TEST(MapTable, GrowsOnEveryFullInsertionAndDeletesByValue) {
  Node v = mem::new_cells(8);
  Cell src{T_MAP, 0, v, 0};
  Node t = table_create(0, &src, KIND_MAP, 0);
  EXPECT_EQ(R(t)[rec::BUCKETS], 8);
  for (int i = 0; i < 6; i++) {
    append(v, integer(i));
    append(v, integer(100 + i));
    table_add(t, at(v, 2 * i));
  }
  for (int i = 0; i < 6; i++) table_delete_value(t, at(v, 2 * i));
  EXPECT_EQ(R(t)[rec::SIZE], 0);
  EXPECT_EQ(at(v, 1)->header, 0u);
  append(v, integer(50));
  append(v, integer(150));
  table_add(t, at(v, 12));
  EXPECT_EQ(R(t)[rec::BUCKETS], 16);
  Cell k = integer(3);
  EXPECT_EQ(table_search(t, &k, 0, 1, 0, false, false), at(v, 6));
}

TEST(WordList, ContextSymbolIndex) {
  Symbols s;
  int32_t foo = intern(s.t, "foo"), Foo = intern(s.t, "Foo"), bar = intern(s.t, "bar");
  Node wl = table_create(1, nullptr, KIND_SYMBOLS, 0);
  const Node ctx = 77;
  int32_t idx = -5;
  EXPECT_EQ(context_symbol_index(wl, foo, true, 0, &idx), -1);
  EXPECT_EQ(context_symbol_index(wl, foo, true, ctx, &idx), -1);
  EXPECT_EQ(idx, 0);
  EXPECT_EQ(context_symbol_index(wl, Foo, true, 0, &idx), 0);
  EXPECT_EQ(context_symbol_index(wl, Foo, false, 0, &idx), -1);
  EXPECT_EQ(context_symbol_index(wl, bar, false, ctx, &idx), -1);
  EXPECT_EQ(idx, 1);
  const Cell* w = at(values(wl), 1);
  EXPECT_EQ(w->header, uint32_t(T_WORD));
  EXPECT_EQ(w->w1, ctx);
  EXPECT_EQ(int32_t(w->w2), bar);
  EXPECT_EQ(w->w3, 1u);
  // Growth keeps every word.
  std::vector<int32_t> syms;
  for (int i = 0; i < 300; i++) {
    syms.push_back(intern(s.t, "v" + std::to_string(i)));
    context_symbol_index(wl, syms.back(), true, ctx, &idx);
  }
  for (int i = 0; i < 300; i++) ASSERT_EQ(context_symbol_index(wl, syms[i], true, 0, &idx), i + 2);
  Cell c0{T_CONTEXT, wl, 0, 0};
  EXPECT_EQ(context_symbols_node(&c0), values(wl));
  EXPECT_EQ(int32_t(context_word_at(&c0, 1)->w2), bar);
  // A copy made from another table's record answers the same.
  Cell from{T_CONTEXT, wl, 0, 0};
  Node copy = table_create(0, &from, KIND_SYMBOLS, 2);
  EXPECT_NE(values(copy), values(wl));
  EXPECT_EQ(context_symbol_index(copy, syms[10], true, 0, &idx), 12);
}

TEST(RecordTable, AddLookupDeleteAndGrow) {
  Node t = table_create(4, nullptr, KIND_RECORDS, 2);
  EXPECT_EQ(R(t)[rec::RECORD_WIDTH], 48);
  EXPECT_NE(R(t)[rec::STAMP], 0);
  for (uint32_t k = 1; k <= 100; k++) {
    Cell* d = table_add_key(t, k * 7919);
    EXPECT_EQ(d[-1].header, uint32_t(T_UNSET));
    d[0] = integer(int32_t(k));
    d[1] = integer(int32_t(k * 2));
  }
  EXPECT_EQ(R(t)[rec::SIZE], 100);
  for (uint32_t k = 1; k <= 100; k++) {
    Cell* d = table_lookup_key(t, k * 7919);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d[0].w2, k);
    EXPECT_EQ(d[1].w2, 2 * k);
  }
  EXPECT_EQ(table_lookup_key(t, 5), nullptr);
  // Adding again finds the same record.
  Cell* again = table_add_key(t, 7919);
  EXPECT_EQ(again->w2, 1u);
  Cell* gone = table_delete_key(t, 7919);
  ASSERT_NE(gone, nullptr);
  EXPECT_EQ(gone[-1].header, 0u);
  EXPECT_EQ(R(t)[rec::SIZE], 99);
  EXPECT_EQ(table_lookup_key(t, 7919), nullptr);
  EXPECT_EQ(table_delete_key(t, 7919), nullptr);
  // A deleted bucket is reused with its record storage.
  uint32_t used = mem::used(values(t));
  table_add_key(t, 7919);
  EXPECT_LE(mem::used(values(t)), used);
  // Stale stamp: rehashed in place and still found.
  mem::testing_count_relocation();
  EXPECT_NE(table_lookup_key(t, 99 * 7919), nullptr);
  EXPECT_EQ(uint32_t(R(t)[rec::STAMP]), mem::relocations() + 1);
  EXPECT_EQ(R(t)[rec::SIZE], 100);
  table_empty(t);
  EXPECT_EQ(R(t)[rec::SIZE], 0);
  EXPECT_EQ(table_lookup_key(t, 2 * 7919), nullptr);
}

TEST(RecordTable, RehashToKeepsEntries) {
  // Displacement rehash in place, growing and same-size, for a kind-2 table.
  Symbols s;
  Node t = s.t;
  std::vector<int32_t> ids;
  for (int i = 0; i < 100; i++) ids.push_back(intern(t, "k" + std::to_string(i)));
  table_rehash_to(t, 200000);
  EXPECT_EQ(R(t)[rec::BUCKETS], 262144);
  table_rehash_to(t, 16);  // shrinks only while the size stays below the bound
  EXPECT_EQ(R(t)[rec::BUCKETS], 262144);
  table_rehash_to(t, 256);
  EXPECT_EQ(R(t)[rec::BUCKETS], 256);
  for (int i = 0; i < 100; i++) ASSERT_EQ(intern(t, "k" + std::to_string(i)), ids[i]);
  EXPECT_EQ(R(t)[rec::OCCUPIED], 100);
}

TEST(Collector, MarkTableReachesEveryBuffer) {
  Node inner = mem::new_cells(1);
  Node v = cells_of({integer(3), integer(3), Cell{T_BLOCK, 0, inner, 0}});
  Cell src{T_HASH, 0, v, 0};
  Node t = table_create(3, &src, KIND_HASH, 0);
  mem::testing_clear_marks();
  Node word = t;
  mark_table(&word);
  int32_t* r = R(t);
  for (int f : {rec::FLAGS, rec::INDEX, rec::POSITIONS, rec::LISTS, rec::VALUES})
    EXPECT_TRUE(mem::marked(uint32_t(r[f]))) << f;
  Node l = reinterpret_cast<uint32_t*>(mem::data(uint32_t(r[rec::LISTS])))[0];
  EXPECT_TRUE(mem::marked(l));
  EXPECT_TRUE(mem::marked(inner));
  EXPECT_TRUE(mem::marked(t));
  mem::testing_clear_marks();
}

TEST(Collector, OwnerRecordsLiveOnlyByOtherReferences) {
  // Records: [owned value, owner object, field word] keyed by the owned series' node.
  Node owner = table_create(16, nullptr, KIND_OWNER, 3);
  Node alone = mem::new_cells(1);            // owned, reached from nowhere else
  Node held = mem::new_cells(1);             // owned, reached from a root
  Node nested = mem::new_cells(1);           // owned, reached only through the owner object
  Node ctx = cells_of({Cell{T_BLOCK, 0, nested, 0}});  // the owner object's context
  Node dead_ctx = cells_of({});
  auto own = [&](Node series, Node context) {
    Cell* d = table_add_key(owner, series);
    d[0] = Cell{T_BLOCK, 0, series, 0};
    d[1] = Cell{T_OBJECT, context, 0, 0};
    d[2] = Cell{T_WORD, 0, 1, 0};
  };
  own(alone, dead_ctx);
  own(held, ctx);
  own(nested, ctx);
  EXPECT_EQ(R(owner)[rec::SIZE], 3);

  mem::testing_clear_marks();
  Node word = owner;
  mark_table(&word);
  // The table's own buffers are marked, the owned series and owners are not.
  EXPECT_TRUE(mem::marked(values(owner)));
  EXPECT_FALSE(mem::marked(alone));
  EXPECT_FALSE(mem::marked(held));
  EXPECT_FALSE(mem::marked(ctx));
  // A root reaches `held`; its record keeps the owner, whose field keeps `nested`.
  Node root = held;
  mem::mark_series(&root);
  sweep_records(&word);
  EXPECT_TRUE(mem::marked(ctx));
  EXPECT_TRUE(mem::marked(nested));
  EXPECT_FALSE(mem::marked(alone));
  EXPECT_FALSE(mem::marked(dead_ctx));
  EXPECT_EQ(R(owner)[rec::SIZE], 2);
  EXPECT_EQ(table_lookup_key(owner, alone), nullptr);
  EXPECT_NE(table_lookup_key(owner, held), nullptr);
  EXPECT_NE(table_lookup_key(owner, nested), nullptr);

  // Nothing reaches them any more: both records go.
  mem::testing_clear_marks();
  mark_table(&word);
  sweep_records(&word);
  EXPECT_EQ(R(owner)[rec::SIZE], 0);
  mem::testing_clear_marks();
}

TEST(Collector, OtherRecordTablesKeepTheirKeys) {
  Node t = table_create(4, nullptr, KIND_RECORDS, 1);
  Node key = mem::new_cells(1);
  table_add_key(t, key);
  mem::testing_clear_marks();
  Node word = t;
  mark_table(&word);
  EXPECT_TRUE(mem::marked(key));
  sweep_records(&word);
  EXPECT_EQ(R(t)[rec::SIZE], 1);
  mem::testing_clear_marks();
}
