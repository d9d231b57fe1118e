// Clipboard text helpers: invalid UTF-8 repaired with U+FFFD, file lists as text/uri-list.
#include <gtest/gtest.h>

#include "runtime/io/clipboard.h"
#include "runtime/unicode.h"

namespace kel::test {
namespace {

TEST(Clipboard, InvalidUtf8BecomesReplacementCharacters) {
  struct Row {
    std::string in, out;
  } rows[] = {
      {"h\xC3\xA9llo", "h\xC3\xA9llo"},
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
      {"\xC3", "\xEF\xBF\xBD"},                          // cut short
      {"\xC0\xAF", "\xEF\xBF\xBD"},                      // overlong: one replacement
      {"\xED\xA0\x80x", "\xEF\xBF\xBDx"},                // a surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD"},              // above U+10FFFF
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (auto& r : rows) EXPECT_EQ(unicode::valid_utf8(r.in), r.out) << r.in;
}

TEST(Clipboard, UriListsBothWays) {
  std::vector<std::string> paths = {"/tmp/a b", "/tmp/\xC3\xA9%", "/x/y"};
  std::string list = clipboard::paths_to_uri_list(paths);
  EXPECT_EQ(list, "file:///tmp/a%20b\r\nfile:///tmp/%C3%A9%25\r\nfile:///x/y\r\n");
  EXPECT_EQ(clipboard::uri_list_to_paths(list), paths);
  // Comments, other schemes and other hosts are skipped; LF alone ends a line too.
  EXPECT_EQ(clipboard::uri_list_to_paths("# note\nhttp://a/b\nfile://host/c\nfile://localhost/d\nfile:///e%2"),
            (std::vector<std::string>{"/d", "/e%2"}));
}

}  // namespace
}  // namespace kel::test
