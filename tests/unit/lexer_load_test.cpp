// Lexer load mode: Kel text in, the loaded block written back as Kel text (or the error)
// out. Rows are kept as Kel text so they can move to a case file once the evaluator runs.
#include <fstream>
#include <sstream>

#include "case_file.h"
#include "lexer_fixture.h"

namespace kel::test {
namespace {

struct Row {
  const char* text;
  const char* expected;
};

const Row LOAD_ROWS[] = {
    {"{a{b}c} %{x}y}%", "[\"a{b}c\" \"x}y\"]"},
    {"%%{a}%b}%%", "[\"a}%b\"]"},
    {"\"^(20AC)^(1F600)\"", "[\"\xE2\x82\xAC\xF0\x9F\x98\x80\"]"},
    {"#\"\xC3\xA9\" #\"^(1F600)\"", "[#\"\xC3\xA9\" #\"\xF0\x9F\x98\x80\"]"},
    {"a\xC2\xA0" "b\xE3\x80\x80" "c", "[a b c]"},
    {"\xC2\xA0", "[]"},
    {"\xF8", "!! syntax/bad-char"},
    {"ab\xF8", "!! syntax/invalid"},
    {"", "[]"},
    {"a ; comment\nb", "[a b]"},
    {"  ; only a comment", "[]"},
    {"#\"^\"", "!! syntax/invalid"},
    {"\"a\nb\"", "!! syntax/invalid"},
    {"{}", "[\"\"]"},
    {"{a^}b}", "[\"a}b\"]"},
    {"{a", "!! syntax/missing"},
    {"x{a{b}", "!! syntax/invalid"},
};

TEST_F(LexerTest, LoadRows) {
  for (const Row& row : LOAD_ROWS) EXPECT_EQ(load(row.text), row.expected) << "text: " << row.text;
}

// The lexer alone as the case files' evaluator: the input loaded, the block molded.
LexerTest* current = nullptr;
cases::Outcome load_outcome(std::string_view input) {
  cases::Outcome o;
  std::string text = current->load(std::string(input));
  if (text.rfind("!! ", 0) == 0) {
    o.error = true;
    o.error_id = text.substr(3);
  } else {
    o.has_value = true;
    o.molded = text;
  }
  return o;
}

TEST_F(LexerTest, CaseFileRows) {
  std::string path = std::string(__FILE__);
  path = path.substr(0, path.rfind('/') + 1) + "lexer_load.kel";
  std::ifstream in(path);
  ASSERT_TRUE(in.good()) << path;
  std::stringstream text;
  text << in.rdbuf();
  cases::CaseFile file = cases::read_cases(text.str());
  EXPECT_GT(file.cases.size(), 50u);
  current = this;
  std::stringstream report;
  EXPECT_EQ(cases::run_cases(path, file, load_outcome, report), 0) << report.str();
  current = nullptr;
}

TEST_F(LexerTest, PathKindsAndItemTypes) {
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  std::string text = "a/b/c a/b: :a/b 'a/b a/1/(x)";
  lexer_scan(&r, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), false,
             true, true, false, nullptr, nullptr, nullptr, nullptr);
  const uint32_t kinds[] = {T_PATH, T_SET_PATH, T_GET_PATH, T_LIT_PATH, T_PATH};
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(cell::type(at(&r, i)), kinds[i]) << i;
  Cell last = *at(&r, 4);
  EXPECT_EQ(cell::type(at(&last, 0)), T_WORD);
  EXPECT_EQ(cell::type(at(&last, 1)), T_INTEGER);
  EXPECT_EQ(cell::type(at(&last, 2)), T_PAREN);
  // The get-word item of a/:b.
  std::string text2 = "a/:b";
  lexer_scan(&r, reinterpret_cast<const uint8_t*>(text2.data()), int32_t(text2.size()), false,
             true, true, false, nullptr, nullptr, nullptr, nullptr);
  Cell path = *at(&r, 0);
  EXPECT_EQ(cell::type(at(&path, 1)), T_GET_WORD);
}

TEST_F(LexerTest, StringUnitsFollowTheText) {
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  std::string text = "\"a^(tab)b^/\" \"\xC3\xA9\" \"\xE2\x82\xAC\" \"\xF0\x9F\x98\x80\" \"^(100)\"";
  lexer_scan(&r, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), false,
             true, true, false, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(chars_of(at(&r, 0)).size(), 4u);
  const uint32_t units[] = {1, 2, 2, 4, 2};
  for (uint32_t i = 0; i < 5; ++i)
    EXPECT_EQ(memory::unit(memory::node_buffer(at(&r, i)->w2)), units[i]) << i;
}

TEST_F(LexerTest, NewLineFlagMarksValuesAfterALineFeed) {
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  std::string text = "a\nb [\n c] {x}\n{y}";
  lexer_scan(&r, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), false,
             true, true, false, nullptr, nullptr, nullptr, nullptr);
  EXPECT_FALSE(at(&r, 0)->header & hdr::NEW_LINE);
  EXPECT_TRUE(at(&r, 1)->header & hdr::NEW_LINE);
  EXPECT_FALSE(at(&r, 2)->header & hdr::NEW_LINE);
  Cell inner = *at(&r, 2);
  EXPECT_TRUE(at(&inner, 0)->header & hdr::NEW_LINE);
  EXPECT_FALSE(at(&r, 3)->header & hdr::NEW_LINE);
  EXPECT_TRUE(at(&r, 4)->header & hdr::NEW_LINE);
}

TEST_F(LexerTest, SyntaxErrorTexts) {
  struct ErrorRow {
    const char* text;
    const char* id;
    const char* args;
  } rows[] = {
      {"1''0", "syntax/invalid", "(line 1) | integer! | 1''0"},
      {"[1 2", "syntax/missing", "(line 1) | ] | [1 2"},
      {"1 2)", "syntax/missing", "(line 1) | ( | )"},
      {"(1 2]", "syntax/missing", "(line 1) | ) | (1 2]"},
      {"\n\n1''0", "syntax/invalid", "(line 3) | integer! | 1''0"},
      {"#(foo) x", "syntax/malconstruct", "(line 1) | #(foo) x"},
      {"a\n\xF8", "syntax/bad-char", "(line 2) | \xEF\xBF\xBD"},
      {"x [abcdefghij abcdefghij abcdefghij abcdefghij", "syntax/missing",
       "(line 1) | ] | [abcdefghij abcdefghij abcdefg"},
      {"[a\nb", "syntax/missing", "(line 2) | ] | [a"},
  };
  for (const ErrorRow& row : rows) {
    EXPECT_EQ(load(row.text), std::string("!! ") + row.id) << row.text;
    if (std::string(row.text) == "a\n\xF8") continue;  // the byte is not text
    EXPECT_EQ(error_text(), row.args) << row.text;
  }
}

TEST_F(LexerTest, FiveThousandValuesLoadAndMoldUnderCollection) {
  std::string text;
  std::string expected = "[";
  for (int i = 0; i < 1000; ++i) {
    std::string item = "[a" + std::to_string(i) + " \"s" + std::to_string(i) + "\" p/q/" +
                       std::to_string(i) + " (x) " + std::to_string(i) + "]";
    text += item + "\n";
    expected += (i ? " " : "") + item;
  }
  expected += "]";
  gc::collect();
  EXPECT_EQ(load(text), expected);
}

}  // namespace
}  // namespace kel::test
