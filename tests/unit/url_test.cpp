// Tests of url!: the percent codec, the encoded mold, making a URL from parts, path
// joining, and the checks that run before read, write and open hand over to host I/O.
#include "runtime/datatypes/url.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/issue.h"
#include "runtime/error.h"
#include "tests/unit/url_fixture.h"

namespace kel::test {
namespace {

class UrlTest : public ValuesTest {
 protected:
  std::string decoded(const char* in) {
    Cell* out = text("");
    url::decode_percent(text(in), out);
    return text_of(out);
  }
  std::string encoded(const char* in, int32_t selector) {
    Cell* out = text("");
    url::encode_percent(text(in), selector, out);
    return text_of(out);
  }
  Cell* url_of(const char* t) { return text(t, T_URL); }
};

// Kel text of each row, for the case files once the lexer and evaluator run.
struct TextRow {
  const char* kel;
  const char* in;
  const char* out;
};

TEST_F(UrlTest, DecodePercent) {
  const TextRow rows[] = {
      {R"(dehex "a%20b" => "a b")", "a%20b", "a b"},
      {R"(dehex "%zz" => "%zz")", "%zz", "%zz"},
      {R"(dehex "%e2%82%ac" => "€")", "%e2%82%ac", "€"},
      {R"(dehex "%C3" => "%C3")", "%C3", "%C3"},
      {R"(dehex "%A9" => "©")", "%A9", "©"},
      {R"(dehex "%41" => "A")", "%41", "A"},
      {R"(dehex "%C3%A9x" => "éx")", "%C3%A9x", "éx"},
      {R"(dehex "%F0%9F%98%80" => "😀")", "%F0%9F%98%80", "😀"},
      // the lead is not taken when its sequence is cut; the lone continuation byte is U+0082
      {R"k(dehex "%E2%82" => "%E2^(82)")k", "%E2%82", "%E2\xC2\x82"},
      {R"(dehex "%C3a" => "%C3a")", "%C3a", "%C3a"},
      {R"(dehex "%" => "%")", "%", "%"},
      {R"(dehex "%4" => "%4")", "%4", "%4"},
      {R"(dehex "a%2" => "a%2")", "a%2", "a%2"},
      {R"(dehex "" => "")", "", ""},
      {R"(dehex "é%20€" => "é €")", "é%20€", "é €"},
      {R"(dehex "%25%32%30" => "%20")", "%25%32%30", "%20"},
  };
  for (const TextRow& r : rows) EXPECT_EQ(decoded(r.in), r.out) << r.kel;
}

TEST_F(UrlTest, DecodedTextWidensItsOutput) {
  Cell* out = text("ab");
  url::decode_percent(text("%E2%82%AC"), out);
  EXPECT_EQ(string::unit_of(out), 2u);
  EXPECT_EQ(text_of(out), "ab€");
}

TEST_F(UrlTest, DecodeReadsFromTheHead) {
  Cell* s = text("xx%41");
  s->w1 = 2;
  Cell* out = text("");
  url::decode_percent(s, out);
  EXPECT_EQ(text_of(out), "A");
}

TEST_F(UrlTest, DecodeKeepsCharactersAsTheyStand) {
  // a lone surrogate in the source is kept as it is, not taken apart into bytes
  Cell* in = text("a");
  string::add_codepoint(in, 0xD800);
  string::add_codepoint(in, '%');
  string::add_codepoint(in, '4');
  string::add_codepoint(in, '1');
  Cell* out = text("");
  url::decode_percent(in, out);
  ASSERT_EQ(string::count_from_head(out), 3);
  EXPECT_EQ(string::codepoint_at(out, 0), 'a');
  EXPECT_EQ(string::codepoint_at(out, 1), 0xD800);
  EXPECT_EQ(string::codepoint_at(out, 2), 'A');
}

TEST_F(UrlTest, MalformedEscapedSequenceRaises) {
  // the escapes of C3 and 28 form a sequence the decoder rejects
  Cell* out = text("");
  Cell* in = text("%C3%28");
  EXPECT_RAISES(url::decode_percent(in, out), err::access::invalid_utf8);
}

TEST_F(UrlTest, EncodePercent) {
  const struct {
    const char* kel;
    const char* in;
    int32_t selector;
    const char* out;
  } rows[] = {
      {R"(enhex "a b" => "a%20b")", "a b", 0, "a%20b"},
      {"url table keeps / ~ @ : ? = #", "/~@:?=#!$&'()*+,-._", 0, "/~@:?=#!$&'()*+,-._"},
      {"url table escapes the rest", "\"<>%[]^`{|}\\", 0, "%22%3C%3E%25%5B%5D%5E%60%7B%7C%7D%5C"},
      {"unreserved table", "a-b.c_d~e/f@g h", url::UNRESERVED, "a-b.c_d~e%2Ff%40g%20h"},
      {"bytes of 128 and above", "é€", 0, "%C3%A9%E2%82%AC"},
      {"control characters", "\t\n", 0, "%09%0A"},
      {"empty", "", 0, ""},
  };
  for (const auto& r : rows) EXPECT_EQ(encoded(r.in, r.selector), r.out) << r.kel;
}

TEST_F(UrlTest, EncodeByte) {
  url::Encoded e = url::encode_byte(0, '@');
  EXPECT_EQ(std::string(e.text, size_t(e.length)), "@");
  e = url::encode_byte(url::UNRESERVED, '@');
  EXPECT_EQ(std::string(e.text, size_t(e.length)), "%40");
  e = url::encode_byte(7, 0xC8);
  EXPECT_EQ(std::string(e.text, size_t(e.length)), "%C8");
  e = url::encode_byte(0, 0x7F);
  EXPECT_EQ(std::string(e.text, size_t(e.length)), "%7F");
}

TEST_F(UrlTest, MoldEncodes) {
  const TextRow rows[] = {
      {R"(mold to url! "http://x/a b" => http://x/a%20b)", "http://x/a b", "http://x/a%20b"},
      {R"(mold to url! "http://x/é" => http://x/%C3%A9)", "http://x/é", "http://x/%C3%A9"},
      {R"(mold to url! "http://x/~@" => http://x/~@)", "http://x/~@", "http://x/~@"},
      {R"(mold to url! "a%b" => a%25b)", "a%b", "a%25b"},
  };
  for (const TextRow& r : rows) {
    int32_t left = 0;
    EXPECT_EQ(molded(*url_of(r.in), &left), r.out) << r.kel;
    EXPECT_EQ(left, 1000 - int32_t(std::strlen(r.out))) << r.kel;
  }
}

TEST_F(UrlTest, MoldPartStopsAtTheBudget) {
  int32_t left = -1;
  // mold/part http://x/a b 5 => "http:"
  EXPECT_EQ(molded_part(*url_of("http://x/a b"), 5, &left), "http:");
  EXPECT_EQ(left, 0);
  // the budget may end inside an escape: mold/part to url! "a b" 2 => "a%"
  EXPECT_EQ(molded_part(*url_of("a b"), 2, &left), "a%");
  EXPECT_EQ(left, 0);
  EXPECT_EQ(molded_part(*url_of("ab"), 10, &left), "ab");
  EXPECT_EQ(left, 8);
}

TEST_F(UrlTest, FormIsTheTextAsItIs) {
  // form to url! "http://x/a b" => "http://x/a b"
  EXPECT_EQ(formed(*url_of("http://x/a b")), "http://x/a b");
}

TEST_F(UrlTest, MakeFromParts) {
  Cell* f = text("f.txt", T_FILE);
  Cell frag;
  issue::init_from_text(&frag, "frag");
  Cell* frag_kept = val(frag);
  struct Row {
    const char* kel;
    Cell* parts;
    const char* out;
  };
  const Row rows[] = {
      {"to url! [http host 8080 docs %f.txt] => http://host:8080/docs/f.txt",
       blk({word("http"), word("host"), val(integer(8080)), word("docs"), f}),
       "http://host:8080/docs/f.txt"},
      {"to url! [http host docs #frag] => http://host/docs#frag",
       blk({word("http"), word("host"), word("docs"), frag_kept}), "http://host/docs#frag"},
      {"to url! [http host] => http://host", blk({word("http"), word("host")}), "http://host"},
      {"to url! [http host 8080] => http://host:8080",
       blk({word("http"), word("host"), val(integer(8080))}), "http://host:8080"},
      {"to url! [http] => http://", blk({word("http")}), "http://"},
      {R"(to url! ["ftp" "h" "a b"] => ftp://h/a%20b)", blk({text("ftp"), text("h"), text("a b")}),
       "ftp://h/a b"},
      {"to url! [http host a 1 b] => http://host/a/1/b",
       blk({word("http"), word("host"), word("a"), val(integer(1)), word("b")}),
       "http://host/a/1/b"},
  };
  for (const Row& r : rows) {
    for (uint32_t action : {act::MAKE, act::TO}) {
      Cell u = made_by(action, T_URL, *r.parts);
      EXPECT_EQ(cell::type(&u), uint32_t(T_URL)) << r.kel;
      EXPECT_EQ(text_of(&u), r.out) << r.kel;
    }
  }
  // a paren spec builds the same way: to url! to paren! [http h] => http://h
  Cell* p = blk({word("http"), word("h")});
  cell::set_type(p, T_PAREN);
  Cell u = made_by(act::TO, T_URL, *p);
  EXPECT_EQ(text_of(&u), "http://h");
}

TEST_F(UrlTest, MakeFromPartsStartsAtTheBlockHead) {
  Cell* b = blk({word("skip"), word("http"), word("h")});
  b->w1 = 1;
  Cell u = made_by(act::TO, T_URL, *b);
  EXPECT_EQ(text_of(&u), "http://h");
}

TEST_F(UrlTest, EmptyPartsRaiseBadToArg) {
  // to url! [] => !! script/bad-to-arg; make url! [] too
  Cell* empty = blk({});
  EXPECT_RAISES(made_by(act::TO, T_URL, *empty), err::script::bad_to_arg);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_URL));
  EXPECT_RAISES(made_by(act::MAKE, T_URL, *empty), err::script::bad_to_arg);
  Cell* past = blk({word("http")});
  past->w1 = 1;
  EXPECT_RAISES(made_by(act::TO, T_URL, *past), err::script::bad_to_arg);
}

TEST_F(UrlTest, OtherSpecsAndFileTakeTheStringRules) {
  // to url! "http://x" => http://x
  Cell u = made_by(act::TO, T_URL, *text("http://x"));
  EXPECT_EQ(cell::type(&u), uint32_t(T_URL));
  EXPECT_EQ(text_of(&u), "http://x");
  // make url! 10 => an empty url! (a count, as for strings)
  Cell* e = val(made_by(act::MAKE, T_URL, integer(10)));
  EXPECT_EQ(cell::type(e), uint32_t(T_URL));
  EXPECT_EQ(text_of(e), "");
  // to file! [a b] is no URL: the string rules join the parts
  Cell* parts = blk({word("a"), word("b")});
  Cell* f = val(made_by(act::TO, T_FILE, *parts));
  Cell* s = val(made_by(act::TO, T_STRING, *parts));
  EXPECT_EQ(cell::type(f), uint32_t(T_FILE));
  EXPECT_EQ(text_of(f), text_of(s));
  EXPECT_EQ(text_of(f).find("://"), std::string::npos);
}

TEST_F(UrlTest, PathJoinsWithOneSlash) {
  auto get = [&](Cell* parent, Cell* element) {
    auto f = datatype::slot<act::EVAL_PATH>(cell::type(parent));
    return *f(parent, element, nullptr, nullptr, nullptr, nullptr, 0, false, false, true, false);
  };
  struct Row {
    const char* kel;
    const char* parent;
    const char* element;
    const char* out;
  };
  const Row rows[] = {
      {"u: http://x/ u/y => http://x/y", "http://x/", "y", "http://x/y"},
      {R"(u: http://x/ u/("/y") => http://x/y)", "http://x/", "/y", "http://x/y"},
      {"u: http://x u/y => http://x/y", "http://x", "y", "http://x/y"},
      {R"(u: http://x u/("/y") => http://x/y)", "http://x", "/y", "http://x/y"},
      {R"(u: http://x/ u/("") => http://x/)", "http://x/", "", "http://x/"},
      {R"(u: http://x/ u/("//y") => http://x//y)", "http://x/", "//y", "http://x//y"},
  };
  for (const Row& r : rows) {
    Cell* u = url_of(r.parent);
    Cell joined = get(u, text(r.element));
    EXPECT_EQ(cell::type(&joined), uint32_t(T_URL)) << r.kel;
    EXPECT_EQ(text_of(&joined), r.out) << r.kel;
    EXPECT_EQ(text_of(u), r.parent) << "the parent is left as it was: " << r.kel;
  }
  // a word element is formed: http://x/a/b
  Cell* u = url_of("http://x/a");
  Cell j = get(u, word("b"));
  EXPECT_EQ(text_of(&j), "http://x/a/b");
  // file! inherits it and keeps its type: %dir/ + f => %dir/f
  Cell* d = text("dir/", T_FILE);
  Cell f = get(d, text("f"));
  EXPECT_EQ(cell::type(&f), uint32_t(T_FILE));
  EXPECT_EQ(text_of(&f), "dir/f");
  // a wide parent gives a wide result: http://x/é + y
  Cell wide = get(url_of("http://x/é"), text("y"));
  EXPECT_EQ(text_of(&wide), "http://x/é/y");
}

TEST_F(UrlTest, PathSetRaisesBadPathSet) {
  // u: http://x u/y: 1 => !! script/bad-path-set
  Cell* u = url_of("http://x");
  Cell* y = word("y");
  Cell one = integer(1), path{T_SET_PATH, 0, 0, 0};
  auto f = datatype::slot<act::EVAL_PATH>(T_URL);
  EXPECT_RAISES(f(u, y, &one, &path, nullptr, nullptr, 0, false, false, true, false),
                err::script::bad_path_set);
  EXPECT_EQ(cell::type(&error::pending().args[0]), uint32_t(T_SET_PATH));
  EXPECT_EQ(cell::type(&error::pending().args[1]), uint32_t(T_WORD));
}

TEST_F(UrlTest, HttpTestIgnoresCase) {
  EXPECT_TRUE(url::http_q(url_of("http://x")));
  EXPECT_TRUE(url::http_q(url_of("https://x")));
  EXPECT_TRUE(url::http_q(url_of("HTTP://x")));
  EXPECT_TRUE(url::http_q(url_of("HtTpS://x")));
  EXPECT_FALSE(url::http_q(url_of("ftp://x")));
  EXPECT_FALSE(url::http_q(url_of("htt")));
}

TEST_F(UrlTest, WriteChecksRunBeforeAnythingIsSent) {
  auto write = [&](const char* u, Cell* data) {
    Cell* dest = url_of(u);
    datatype::slot<act::WRITE>(T_URL)(dest, data, false, false, false, false, nullptr, nullptr,
                                      nullptr, nullptr);
  };
  // write http://x ["a"] => !! script/invalid-arg: the method must be a word
  EXPECT_RAISES(write("http://x", blk({text("a")})), err::script::invalid_arg);
  EXPECT_EQ(cell::type(&error::pending().args[0]), uint32_t(T_STRING));
  // an upper-case scheme is HTTP as well (a port would take any value)
  EXPECT_RAISES(write("HTTP://x", blk({text("a")})), err::script::invalid_arg);
  // write http://x [get 1] => !! script/invalid-arg: headers must be a block
  EXPECT_RAISES(write("http://x", blk({word("get"), val(integer(1))})), err::script::invalid_arg);
  // write http://x [post [] 5] => !! script/invalid-arg: data is a block, string or binary
  EXPECT_RAISES(write("http://x", blk({word("post"), blk({}), val(integer(5))})),
                err::script::invalid_arg);
  // write http://x 5 => !! script/invalid-arg
  EXPECT_RAISES(write("http://x", val(integer(5))), err::script::invalid_arg);
  // accepted values reach the HTTP client (a closed loopback port: no response)
  EXPECT_RAISES(write("http://127.0.0.1:9/", text("data")), err::access::no_connect);
  EXPECT_RAISES(write("http://127.0.0.1:9/", blk({})), err::access::no_connect);
  EXPECT_RAISES(write("http://127.0.0.1:9/", blk({word("put"), blk({}), text("d")})),
                err::access::no_connect);
  // other schemes go to a port through the boot library's url-parser/parse-url, which this
  // fixture does not load (tests/cases/port.kel and url-parser.kel have the started
  // runtime's answers)
  EXPECT_RAISES(write("ftp://x", blk({text("a")})), err::internal::not_done);
}

TEST_F(UrlTest, UnsupportedRefinementsRaiseNotDone) {
  Cell* u = url_of("http://x");
  Cell n = integer(1);
  auto read = datatype::slot<act::READ>(T_URL);
  // read/part http://x 1 => !! internal/not-done
  EXPECT_RAISES(read(u, &n, nullptr, false, false, false, nullptr), err::internal::not_done);
  EXPECT_RAISES(read(u, nullptr, &n, false, false, false, nullptr), err::internal::not_done);
  auto write = datatype::slot<act::WRITE>(T_URL);
  Cell* d = text("x");
  // write/allow http://x "x" none => !! internal/not-done
  EXPECT_RAISES(write(u, d, false, false, false, false, nullptr, nullptr, &n, nullptr),
                err::internal::not_done);
  EXPECT_RAISES(write(u, d, false, false, false, false, nullptr, &n, nullptr, nullptr),
                err::internal::not_done);
  // read ftp://x and open ftp://x hand over to the boot library's parse-url (not loaded here)
  EXPECT_RAISES(read(url_of("ftp://x"), nullptr, nullptr, false, false, false, nullptr),
                err::internal::not_done);
  EXPECT_RAISES(datatype::slot<act::OPEN>(T_URL)(url_of("ftp://x"), false, false, false, false,
                                                 nullptr),
                err::internal::not_done);
  // write/part http://x "x" 1 => !! internal/not-done
  EXPECT_RAISES(write(u, d, false, false, false, false, &n, nullptr, nullptr, nullptr),
                err::internal::not_done);
}

TEST_F(UrlTest, Registration) {
  EXPECT_STREQ(datatype::type_table[T_URL].name, "url!");
  // inherited from string!
  EXPECT_EQ(datatype::any_slot(T_URL, act::FORM), datatype::any_slot(T_STRING, act::FORM));
  EXPECT_EQ(datatype::any_slot(T_URL, act::COMPARE), datatype::any_slot(T_STRING, act::COMPARE));
  EXPECT_EQ(datatype::any_slot(T_URL, act::MODIFY), datatype::any_slot(T_STRING, act::MODIFY));
  // its own and the unsupported ones
  EXPECT_NE(datatype::any_slot(T_URL, act::MOLD), datatype::any_slot(T_STRING, act::MOLD));
  EXPECT_EQ(datatype::any_slot(T_URL, act::RANDOM), nullptr);
  EXPECT_EQ(datatype::any_slot(T_URL, act::REFLECT), nullptr);
  EXPECT_EQ(datatype::any_slot(T_URL, act::SORT), nullptr);
  EXPECT_EQ(datatype::any_slot(T_URL, act::DELETE), nullptr);
  EXPECT_EQ(datatype::any_slot(T_URL, act::QUERY), nullptr);
}

}  // namespace
}  // namespace kel::test
