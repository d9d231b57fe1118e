// Tests of the symbol table: exact and any-case interning, case aliases and canonical ids,
// name bytes and strings, growth, start-up interning and the symbol! compare slot.
#include "words_fixture.h"

namespace kel::test {
namespace {

using SymbolTest = WordsTest;

// Rows as Kel text, once the evaluator runs (the C++ below builds the same):
//   (none: interning is reached from Kel only through the lexer and to word!)

TEST_F(SymbolTest, CaseVariantsGetOwnIdsWithTheFirstAsAlias) {
  int32_t abc = sym("abc"), Abc = sym("Abc"), ABC = sym("ABC");
  EXPECT_NE(abc, Abc);
  EXPECT_NE(Abc, ABC);
  EXPECT_NE(abc, ABC);
  EXPECT_EQ(symbol::alias_id(abc), -1);
  EXPECT_EQ(symbol::alias_id(Abc), abc);
  EXPECT_EQ(symbol::alias_id(ABC), abc);
  EXPECT_EQ(sym("Abc"), Abc);
  EXPECT_EQ(sym("abc"), abc);
  for (int32_t id : {abc, Abc, ABC}) EXPECT_EQ(symbol::canonical_id(id), abc);
  EXPECT_EQ(symbol::text(Abc), "Abc");
}

TEST_F(SymbolTest, EarliestSpellingIsCanonicalAndAnyCaseFindsIt) {
  uint32_t before = symbol::count();
  int32_t ABC = sym("QRS");
  int32_t abc = sym("qrs");
  EXPECT_EQ(symbol::alias_id(abc), ABC);
  EXPECT_EQ(symbol::alias_id(ABC), -1);
  EXPECT_EQ(symbol::count(), before + 2);

  int32_t only = sym("mno");
  uint32_t n = symbol::count();
  EXPECT_EQ(symbol::intern_c_text_any_case("MNO"), only);
  EXPECT_EQ(symbol::count(), n) << "nothing added";
  int32_t fresh = symbol::intern_c_text_any_case("XYZW");
  EXPECT_EQ(symbol::alias_id(fresh), -1);
  EXPECT_EQ(symbol::text(fresh), "XYZW");
}

TEST_F(SymbolTest, OnlyAsciiLettersFold) {
  struct Row {
    const char* a;
    const char* b;
  } rows[] = {
      {"\xC3\x84", "\xC3\xA4"},  // A and a with diaeresis
      {"abc", "ABCD"},
      {"a-1", "A_1"},
  };
  for (const Row& r : rows) {
    int32_t a = sym(r.a), b = sym(r.b);
    EXPECT_NE(a, b) << r.a;
    EXPECT_EQ(symbol::alias_id(b), -1) << r.b;
    EXPECT_NE(symbol::canonical_id(a), symbol::canonical_id(b));
  }
}

TEST_F(SymbolTest, StringBuiltOnceAndBytesEndWithNul) {
  int32_t id = sym("hello");
  EXPECT_EQ(symbol::cell_of(id)->w2 != 0, true);
  Node first = symbol::cell_of(id)->w2;
  gc::Root keep_first(&first);  // followed when stress mode moves nodes
  memory::series_new_bytes(64);  // an allocation between (moves buffers under stress)
  EXPECT_EQ(symbol::cell_of(id)->w2, first) << "asked twice, built once";
  Cell s{T_STRING, 0, symbol::string_node(id), 0};
  EXPECT_EQ(text_of(&s), "hello");
  uint32_t n = 0;
  const uint8_t* p = symbol::utf8(id, &n);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(p[5], 0);
  EXPECT_EQ(std::memcmp(p, "hello", 5), 0);

  int32_t lazy = sym("not-asked-yet");
  Cell* e = reinterpret_cast<Cell*>(memory::node_head(
                uint32_t(hash::record(hash::symbol_table)[hash::rec::VALUES]))) + (lazy - 1);
  EXPECT_EQ(e->w2, 0u) << "no string until a caller asks";
  EXPECT_EQ(cell::type(e), uint32_t(T_SYMBOL));
}

TEST_F(SymbolTest, InternStringUsesTheConvertedByteCount) {
  Cell s{};
  gc::Root keep(&s);
  string::init_cell(&s, 8);
  for (int32_t c : {int32_t('a'), 0, int32_t('b')}) string::add_codepoint(&s, c);
  int32_t id = symbol::intern_string(&s);
  uint32_t n = 0;
  symbol::utf8(id, &n);
  EXPECT_EQ(n, 3u) << "the NUL inside is part of the name";
  EXPECT_NE(id, sym("a"));

  Cell wide{};
  gc::Root kw(&wide);
  string::init_cell(&wide, 4);
  for (int32_t c : {int32_t('x'), 0x3B1, int32_t('y')}) string::add_codepoint(&wide, c);
  wide.w1 = 1;  // from the head on
  EXPECT_EQ(symbol::intern_string(&wide), sym("\xCE\xB1y"));
}

TEST_F(SymbolTest, NameBytesInsideAMovingBufferAreCopiedFirst) {
  // The bytes sit in a collected series; interning allocates (and under stress moves it).
  for (int i = 0; i < 50; ++i) {
    std::string name = "moving-name-" + std::to_string(i);
    Node n = memory::series_new_bytes(uint32_t(name.size()));
    gc::Root keep(&n);
    std::memcpy(memory::node_head(n), name.data(), name.size());
    int32_t id = symbol::intern_text(memory::node_head(n), uint32_t(name.size()));
    EXPECT_EQ(symbol::text(id), name);
  }
}

TEST_F(SymbolTest, ManySymbolsGrowTheListAndTable) {
  std::vector<int32_t> ids;
  for (int i = 0; i < 12000; ++i) ids.push_back(sym(("name-" + std::to_string(i)).c_str()));
  for (int i = 0; i < 12000; i += 997) {
    std::string t = "name-" + std::to_string(i);
    EXPECT_EQ(sym(t.c_str()), ids[size_t(i)]);
    EXPECT_EQ(symbol::text(ids[size_t(i)]), t);
    std::string upper = "NAME-" + std::to_string(i);
    int32_t u = sym(upper.c_str());
    EXPECT_EQ(symbol::alias_id(u), ids[size_t(i)]);
  }
  for (size_t i = 1; i < ids.size(); ++i) ASSERT_EQ(ids[i], ids[i - 1] + 1) << "ids are consecutive";
}

TEST_F(SymbolTest, NamesMetAgainKeepTheirIds) {
  // More names than the recently-interned slots, met again backwards (slots reused by
  // other names) and beside case variants that differ only in their bytes.
  std::vector<int32_t> ids;
  for (int i = 0; i < 3000; ++i) ids.push_back(sym(("again-" + std::to_string(i)).c_str()));
  uint32_t n = symbol::count();
  for (int i = 2999; i >= 0; --i) ASSERT_EQ(sym(("again-" + std::to_string(i)).c_str()), ids[size_t(i)]);
  EXPECT_EQ(symbol::count(), n) << "nothing added";
  for (int i = 0; i < 3000; i += 7) {
    std::string upper = "AGAIN-" + std::to_string(i);
    int32_t u = sym(upper.c_str());
    EXPECT_NE(u, ids[size_t(i)]);
    EXPECT_EQ(symbol::alias_id(u), ids[size_t(i)]);
    EXPECT_EQ(sym(upper.c_str()), u);
    EXPECT_EQ(sym(("again-" + std::to_string(i)).c_str()), ids[size_t(i)]);
  }
}

TEST_F(SymbolTest, StartUpInterningKeepsOneIdPerSpelling) {
  using runtime::WordKind;
  constexpr size_t code = runtime::runtime_word_index("code", WordKind::SYMBOL);
  constexpr size_t type_sym = runtime::runtime_word_index("type", WordKind::SYMBOL);
  constexpr size_t type_word = runtime::runtime_word_index("type", WordKind::GLOBAL_WORD);
  EXPECT_EQ(runtime::runtime_word_ids[code], uint32_t(sym("code")));
  EXPECT_EQ(runtime::runtime_word_ids[type_sym], runtime::runtime_word_ids[type_word]);
  EXPECT_EQ(symbol::runtime_id(symbol::RW_SELF), sym("self"));
  // Type words are global words of the type names.
  Cell w = datatype::type_table[T_WORD].word;
  EXPECT_EQ(cell::type(&w), uint32_t(T_WORD));
  EXPECT_EQ(symbol::text(int32_t(w.w2)), "word!");
  EXPECT_EQ(w.w1, context::global);
  EXPECT_GE(context::find_symbol(context::global, sym("issue!"), true), 0);
  // A refinement made at start-up is unbound.
  constexpr size_t part = runtime::runtime_word_index("part", WordKind::REFINEMENT);
  EXPECT_EQ(runtime::runtime_word_ids[part], uint32_t(sym("part")));
  EXPECT_LT(context::find_symbol(context::global, sym("part"), true), 0);
}

TEST_F(SymbolTest, CompareSlotGoesThroughTheNames) {
  int32_t a = sym("apple"), b = sym("Banana"), c = sym("APPLE");
  for (int32_t id : {a, b, c}) symbol::ensure_string(id);  // nothing allocates from here on
  auto entry = [](int32_t id) { return *symbol::cell_of(id); };
  EXPECT_EQ(compared(entry(a), entry(b), 3), -1);
  EXPECT_EQ(compared(entry(b), entry(a), 3), 1);
  EXPECT_EQ(compared(entry(a), entry(c), 0), 0);
  EXPECT_NE(compared(entry(a), entry(c), 2), 0);
  EXPECT_EQ(compared(entry(a), integer(1), 0), -2);
  EXPECT_EQ(datatype::any_slot(T_SYMBOL, datatype::action::MOLD), nullptr);
}

}  // namespace
}  // namespace kel::test
