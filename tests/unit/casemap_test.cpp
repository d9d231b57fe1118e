// Case mapping: table sizes, single codepoints (first character of multi-character
// mappings, above-BMP lists), and uppercase/lowercase of chars and strings in place.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/casemap.h"
#include "runtime/cell_api.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/unicode.h"
#include "runtime/unwind.h"
#include "memory_fixture.h"

using namespace kel;
using kel::case_::DIR_LOWER;
using kel::case_::DIR_UPPER;
using kel::case_::map_char;

TEST(CaseMap, PairListsHaveTheirSizes) {
  EXPECT_EQ(case_::upper_bmp_count, 1265);
  EXPECT_EQ(case_::lower_bmp_count, 1173);
  EXPECT_EQ(case_::upper_astral_count, 260);
  EXPECT_EQ(case_::lower_astral_count, 260);
  EXPECT_EQ(case_::lower_astral[0].key, 0x10400);
  EXPECT_EQ(case_::upper_astral[case_::upper_astral_count - 1].key, 0x1E943);
  for (const auto* list : {case_::upper_astral, case_::lower_astral})
    for (int i = 1; i < 260; ++i) ASSERT_LT(list[i - 1].key, list[i].key);
}

// The direct tables are made by the compiler from the pair lists: every BMP pair, nothing else.
TEST(CaseMap, DirectTablesHoldExactlyTheBmpPairs) {
  struct Side { const case_::DirectTable& table; const case_::CasePair* pairs; int32_t count; };
  const Side sides[] = {{case_::upper_direct, case_::upper_bmp, case_::upper_bmp_count},
                        {case_::lower_direct, case_::lower_bmp, case_::lower_bmp_count}};
  for (const Side& s : sides) {
    int32_t filled = 0;
    for (int32_t cp = 0; cp < 65536; ++cp) filled += s.table.to[cp] != 0;
    EXPECT_EQ(filled, s.count);
    for (int32_t i = 0; i < s.count; ++i) EXPECT_EQ(s.table.to[s.pairs[i].key], s.pairs[i].value);
  }
}

TEST(CaseMap, MapChar) {
  struct Row { int32_t cp; int dir; int32_t out; };
  const Row rows[] = {
      {'a', DIR_UPPER, 'A'},         {'A', DIR_UPPER, 'A'},         {'A', DIR_LOWER, 'a'},
      {0xDF, DIR_UPPER, 'S'},        {0x130, DIR_LOWER, 'i'},       {0x131, DIR_UPPER, 'I'},
      {0x17F, DIR_UPPER, 'S'},       {0x1F80, DIR_UPPER, 0x1F08},   {0xFF, DIR_UPPER, 0x178},
      {0x178, DIR_LOWER, 0xFF},      {0x212A, DIR_LOWER, 'k'},      {0x1E9E, DIR_LOWER, 0xDF},
      {0xB5, DIR_UPPER, 0x39C},      {0x1E922, DIR_UPPER, 0x1E900}, {0x1E943, DIR_UPPER, 0x1E921},
      {0x1E921, DIR_LOWER, 0x1E943}, {0x10428, DIR_UPPER, 0x10400}, {0x10400, DIR_LOWER, 0x10428},
      {0x103FF, DIR_LOWER, 0x103FF}, {0x1E944, DIR_UPPER, 0x1E944}, {0x1E900, DIR_UPPER, 0x1E900},
      {0x4E00, DIR_UPPER, 0x4E00},   {-5, DIR_UPPER, -5},           {0x110000, DIR_LOWER, 0x110000},
      {0x7FFFFFFF, DIR_UPPER, 0x7FFFFFFF},
  };
  for (const Row& r : rows) EXPECT_EQ(map_char(r.cp, r.dir), r.out) << std::hex << r.cp;
}

namespace {

class ChangeCase : public test::MemoryTest {
 protected:

  static Cell make_string(const std::vector<int32_t>& cps, uint32_t unit) {
    Node n = memory::series_new(uint32_t(std::max<size_t>(cps.size(), 1)), unit, 0);
    SeriesBuffer* b = memory::node_buffer(n);
    for (size_t i = 0; i < cps.size(); ++i) unicode::store_unit(memory::head(b) + i * unit, unit, cps[i]);
    b->tail = b->head + uint32_t(cps.size() * unit);
    return Cell{T_STRING, 0, n, 0};
  }
  static std::vector<int32_t> chars(const Cell& s) {
    SeriesBuffer* b = memory::node_buffer(s.w2);
    std::vector<int32_t> out;
    for (uint32_t i = 0; i < memory::units(b); ++i)
      out.push_back(unicode::load_unit(memory::head(b) + i * memory::unit(b), memory::unit(b)));
    return out;
  }
  static std::vector<int32_t> cps(const char* ascii) { return {ascii, ascii + std::strlen(ascii)}; }
};

}  // namespace

TEST_F(ChangeCase, Strings) {
  struct Row { std::vector<int32_t> in; uint32_t unit; int dir; std::vector<int32_t> out; uint32_t unit_after; };
  const Row rows[] = {
      {{'s', 't', 'r', 'a', 0xDF, 'e'}, 1, DIR_UPPER, cps("STRASE"), 1},
      {{0xFF}, 1, DIR_UPPER, {0x178}, 2},
      {{'a', 0xFF, 'b'}, 1, DIR_UPPER, {'A', 0x178, 'B'}, 2},
      {{0x130, 'X'}, 2, DIR_LOWER, {'i', 'x'}, 2},
      {{0x1E943, 'a'}, 4, DIR_UPPER, {0x1E921, 'A'}, 4},
      {{'a', 0x10428}, 4, DIR_UPPER, {'A', 0x10400}, 4},
      {cps("MiXeD 1"), 1, DIR_LOWER, cps("mixed 1"), 1},
      {{}, 1, DIR_UPPER, {}, 1},
  };
  for (const Row& r : rows) {
    Cell s = make_string(r.in, r.unit);
    gc::Root keep(&s);
    Node node = s.w2;
    gc::Root keep_node(&node);
    case_::change_case(&s, nullptr, r.dir);
    EXPECT_EQ(chars(s), r.out);
    EXPECT_EQ(memory::unit(memory::node_buffer(s.w2)), r.unit_after);
    EXPECT_EQ(s.w2, node);
  }
}

TEST_F(ChangeCase, CharValue) {
  Cell c{T_CHAR, 0, 0, 0};
  const std::pair<int32_t, int32_t> rows[] = {{'q', 'Q'}, {0xDF, 'S'}, {0x1E943, 0x1E921}, {'1', '1'}};
  for (auto [in, out] : rows) {
    c.w2 = uint32_t(in);
    case_::change_case(&c, nullptr, DIR_UPPER);
    EXPECT_EQ(int32_t(c.w2), out);
    EXPECT_EQ(cell::type(&c), T_CHAR);
  }
}

TEST_F(ChangeCase, PartAndOwnerNotice) {
  Cell s = make_string(cps("abcdef"), 1);
  gc::Root keep(&s);
  s.w1 = 1;
  Cell part{};
  struct Row { int32_t count; const char* out; int32_t reported; };
  const Row rows[] = {{2, "aBCdef", 2}, {-3, "aBCdef", 0}, {0, "aBCdef", 0}, {99, "aBCDEF", 5}};
  for (const Row& r : rows) {
    cell::set_integer(&part, r.count);
    uint32_t calls = owner::last_notice().calls;
    case_::change_case(&s, &part, DIR_UPPER);
    EXPECT_EQ(chars(s), cps(r.out));
    const owner::Notice& n = owner::last_notice();
    EXPECT_EQ(n.calls, calls + 1);
    EXPECT_STREQ(n.action, "uppercase");
    EXPECT_EQ(n.index, 1);
    EXPECT_EQ(n.part, r.reported);
  }

  // A position in the same string bounds the part; the head is clamped to the tail.
  Cell pos = s;
  pos.w1 = 3;
  case_::change_case(&s, &pos, DIR_LOWER);
  EXPECT_EQ(chars(s), cps("abcDEF"));
  EXPECT_EQ(owner::last_notice().part, 2);
  EXPECT_STREQ(owner::last_notice().action, "lowercase");
  Cell beyond = s;
  beyond.w1 = 40;
  case_::change_case(&beyond, nullptr, DIR_LOWER);
  EXPECT_EQ(beyond.w1, 6u);
  EXPECT_EQ(owner::last_notice().part, 0);
}

TEST_F(ChangeCase, BadPartRaises) {
  Cell s = make_string(cps("abc"), 1);
  gc::Root keep(&s);
  Cell other = make_string(cps("xyz"), 1);
  gc::Root keep_other(&other);
  Cell file = s;
  cell::set_type(&file, T_FILE);
  Cell blk{T_BLOCK, 0, 0, 0};
  for (Cell* bad : {&other, &file, &blk}) {
    try {
      case_::change_case(&s, bad, DIR_UPPER);
      ADD_FAILURE() << "no error";
    } catch (const Unwind&) {
    }
    EXPECT_EQ(error::pending().category, err::script::invalid_refine_arg.category);
    EXPECT_EQ(error::pending().id, err::script::invalid_refine_arg.id);
    EXPECT_EQ(error::pending().args[1].w2, bad->w2);
    EXPECT_EQ(chars(s), cps("abc"));
  }
}
