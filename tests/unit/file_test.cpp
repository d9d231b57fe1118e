// Tests of file!: its mold, the POSIX local form of a path and the current directory, and
// the file actions' checks before their hand-over to host I/O.
#include "runtime/datatypes/file.h"

#include <unistd.h>

#include "runtime/error.h"
#include "runtime/platform.h"
#include "tests/unit/url_fixture.h"

namespace kel::test {
namespace {

class FileTest : public ValuesTest {
 protected:
  Cell* file_of(const char* t) { return text(t, T_FILE); }
  std::string local(const char* path, bool with_dir) {
    Cell* out = text("");
    file::to_local_chars(file_of(path), out, with_dir);
    return text_of(out);
  }
};

TEST_F(FileTest, Mold) {
  const struct {
    const char* kel;
    const char* in;
    const char* out;
  } rows[] = {
      {"mold %abc => %abc", "abc", "%abc"},
      {R"(mold to file! "a b" => %"a b")", "a b", "%\"a b\""},
      {R"(mold %"" => %"")", "", "%\"\""},
      {R"(mold to file! "é" => %"é")", "é", "%\"é\""},
      {"mold %/home/u/x.txt => %/home/u/x.txt", "/home/u/x.txt", "%/home/u/x.txt"},
      {"mold %a:b=c?d@e~f_g => %a:b=c?d@e~f_g", "a:b=c?d@e~f_g", "%a:b=c?d@e~f_g"},
      {R"(mold to file! "a%b" => %"a%b")", "a%b", "%\"a%b\""},
      {R"(mold to file! "a\b" => %"a\b")", "a\\b", "%\"a\\b\""},
      {R"k(mold to file! "a^/b" => %"a^/b" (written as it is))k", "a\nb", "%\"a\nb\""},
      {R"k(mold to file! "~^(7F)" => %"~^(7F)")k", "~\x7F", "%\"~\x7F\""},
  };
  for (const auto& r : rows) {
    int32_t left = 0;
    EXPECT_EQ(molded(*file_of(r.in), &left), r.out) << r.kel;
    // one off the budget for each character written
    std::string expect = r.out;
    int32_t chars = 0;
    for (unsigned char c : expect) chars += (c & 0xC0) != 0x80;
    EXPECT_EQ(left, 1000 - chars) << r.kel;
  }
}

TEST_F(FileTest, MoldStartsAtTheHead) {
  Cell* f = file_of("a b/cd");
  f->w1 = 4;
  EXPECT_EQ(molded(*f), "%cd");
  // a head left past the tail is clamped: the file is empty from there
  f->w1 = 40;
  EXPECT_EQ(molded(*f), "%\"\"");
}

TEST_F(FileTest, MoldPartLooksAtTheWrittenRunOnly) {
  int32_t left = 0;
  // mold/part %"ab cd" 2: the run "ab" needs no quotes
  EXPECT_EQ(molded_part(*file_of("ab cd"), 2, &left), "%ab");
  EXPECT_EQ(left, -1);
  EXPECT_EQ(molded_part(*file_of("a bcd"), 3, &left), "%\"a b\"");
  EXPECT_EQ(left, -3);
}

TEST_F(FileTest, LocalFormIsThePosixPath) {
  const struct {
    const char* kel;
    const char* in;
    const char* out;
  } rows[] = {
      {"to-local-file %/home/u/x => /home/u/x", "/home/u/x", "/home/u/x"},
      {"to-local-file %/c/dir => /c/dir (no drive letters)", "/c/dir", "/c/dir"},
      {"to-local-file %/ => /", "/", "/"},
      {"to-local-file %//x => //x", "//x", "//x"},
      {"to-local-file %a/b => a/b", "a/b", "a/b"},
      {R"(to-local-file to file! "a\b:c" => a\b:c)", "a\\b:c", "a\\b:c"},
      {"to-local-file %dir/é => dir/é", "dir/é", "dir/é"},
      {"to-local-file %\"\" => \"\"", "", ""},
  };
  for (const auto& r : rows) EXPECT_EQ(local(r.in, false), r.out) << r.kel;
}

TEST_F(FileTest, CurrentDirectoryGoesBeforeARelativePath) {
  std::string saved = platform::current_dir_text();
  ASSERT_TRUE(platform::change_dir("/tmp"));
  std::string tmp = platform::current_dir_text();  // /tmp may be a link
  EXPECT_EQ(local("a/b", true), tmp + "/a/b");
  EXPECT_EQ(local("/home/u/x", true), "/home/u/x");
  EXPECT_EQ(local("", true), tmp + "/");
  ASSERT_TRUE(platform::change_dir("/"));
  // the root already ends in a slash: no second one
  EXPECT_EQ(local("a", true), "/a");
  Cell* d = file::current_dir();
  EXPECT_EQ(text_of(d), "/");
  ASSERT_TRUE(platform::change_dir(saved.c_str()));
  d = file::current_dir();
  EXPECT_EQ(text_of(d), saved + "/");
}

TEST_F(FileTest, LocalTextIsNulTerminatedUtf8) {
  Cell* f = file_of("dir/é x");
  std::string t = file::to_local_text(f);
  EXPECT_EQ(t, "dir/é x");
  EXPECT_EQ(t.c_str()[t.size()], '\0');
  f->w1 = 4;
  EXPECT_EQ(file::to_local_text(f), "é x");
  EXPECT_EQ(file::to_local_text(file_of("")), "");
}

TEST_F(FileTest, PushCopySharesTheBuffer) {
  Cell* f = file_of("abc");
  Cell* c = file::push_copy(f);
  EXPECT_EQ(c->w2, f->w2);
  EXPECT_EQ(cell::type(c), uint32_t(T_FILE));
}

TEST_F(FileTest, UnsupportedRefinementsRaiseNotDoneFirst) {
  Cell* x = file_of("x");
  Cell* utf8 = word("utf-8");
  auto read = datatype::slot<act::READ>(T_FILE);
  // read/as %x 'utf-8 => !! internal/not-done
  EXPECT_RAISES(read(x, nullptr, nullptr, false, false, false, utf8), err::internal::not_done);
  auto write = datatype::slot<act::WRITE>(T_FILE);
  Cell* a = text("a");
  Cell n = none();
  // write/allow %x "a" none => !! internal/not-done
  EXPECT_RAISES(write(x, a, false, false, false, false, nullptr, nullptr, &n, nullptr),
                err::internal::not_done);
  // write/as %x "a" 'utf-8 => !! internal/not-done
  EXPECT_RAISES(write(x, a, false, false, false, false, nullptr, nullptr, nullptr, utf8),
                err::internal::not_done);
  // the file is left alone
  EXPECT_EQ(text_of(x), "x");
}

TEST_F(FileTest, EncodingsAndAccessRightsAreNotDone) {
  Cell* x = file_of("x");
  Cell* as = text("utf-16");
  EXPECT_RAISES(datatype::slot<act::READ>(T_FILE)(x, nullptr, nullptr, false, false, false, as),
                err::internal::not_done);
  EXPECT_RAISES(datatype::slot<act::WRITE>(T_FILE)(x, text("a"), false, false, false, false,
                                                   nullptr, nullptr, text("r"), nullptr),
                err::internal::not_done);
}

TEST_F(FileTest, Registration) {
  EXPECT_STREQ(datatype::type_table[T_FILE].name, "file!");
  // make, to, form and path evaluation come from url!
  for (uint32_t k : {act::MAKE, act::TO, act::FORM, act::EVAL_PATH, act::COMPARE, act::APPEND,
                     act::TAKE, act::MODIFY})
    EXPECT_EQ(datatype::any_slot(T_FILE, k), datatype::any_slot(T_URL, k)) << k;
  EXPECT_NE(datatype::any_slot(T_FILE, act::MOLD), datatype::any_slot(T_URL, act::MOLD));
  EXPECT_NE(datatype::any_slot(T_FILE, act::READ), datatype::any_slot(T_URL, act::READ));
  for (uint32_t k : {act::RANDOM, act::REFLECT, act::OPEN, act::OPEN_Q, act::SORT, act::TRIM,
                     act::CREATE, act::CLOSE, act::UPDATE, act::PUT})
    EXPECT_EQ(datatype::any_slot(T_FILE, k), nullptr) << k;
}

TEST_F(FileTest, MakeFromABlockTakesTheStringRules) {
  // to file! [a b] is not built like a URL
  Cell* parts = blk({word("a"), word("b")});
  Cell* f = val(made_by(act::TO, T_FILE, *parts));
  EXPECT_EQ(cell::type(f), uint32_t(T_FILE));
  EXPECT_EQ(text_of(f).find("://"), std::string::npos);
  // to file! "a b" keeps the text
  Cell* g = val(made_by(act::TO, T_FILE, *text("a b")));
  EXPECT_EQ(text_of(g), "a b");
}

}  // namespace
}  // namespace kel::test
