// What the system object takes from the process at start-up, seen from a real `kel` run:
// the command-line fields and the cache folder from the environment.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kel_script.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/io/host.h"

namespace {

using kel::testing::kel_program;
using kel::testing::run_probe;
using kel::testing::temp_file;

// `kel` on a script with these arguments, run through env(1) with its arguments first.
std::string run(const std::string& text, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {}) {
  std::string path = temp_file("Kel []\n" + text);
  std::vector<std::string> argv = env;
  argv.push_back(kel_program());
  argv.push_back(path);
  argv.insert(argv.end(), args.begin(), args.end());
  auto r = run_probe("/usr/bin/env", argv);
  unlink(path.c_str());
  return r.out;
}

}  // namespace

// The items are argv's own: a double quote or an empty item arrives whole.
TEST(SystemValues, ArgumentsFromArgv) {
  EXPECT_EQ(run("print mold back back tail system/options/args", {"a\"b", ""}), "[{a\"b} \"\"]\n");
  // the console's start leaves only the script's own arguments
  EXPECT_EQ(run("print mold system/options/args", {"my file", "-x"}), "[\"my file\" \"-x\"]\n");
  EXPECT_EQ(run("print system/options/boot = \"" + kel_program() + "\"", {}), "true\n");
}

// The raw text of the script's own arguments: items holding blanks are quoted.
TEST(SystemValues, ScriptArgsRawText) {
  std::string path = temp_file("Kel []\nprint mold system/script/args\n");
  auto r = run_probe(kel_program(), {path, "a b", "c"});
  unlink(path.c_str());
  EXPECT_EQ(r.out, "{\"a b\" c}\n");
}

// The console makes its settings folder in the cache folder at start: every folder named
// here lies in a temporary folder.
TEST(SystemValues, CacheFolder) {
  char tmp[] = "/tmp/kel-cache-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmp), nullptr);
  const std::string t = tmp;
  const std::string show = "print mold system/options/cache";
  EXPECT_EQ(run(show, {}, {"XDG_CACHE_HOME=" + t + "/c/x"}), "%" + t + "/c/x/Kel/\n");
  EXPECT_EQ(run(show, {}, {"XDG_CACHE_HOME=/" + t + "//c//x/"}), "%" + t + "/c/x/Kel/\n");
  EXPECT_EQ(run(show, {}, {"-u", "XDG_CACHE_HOME", "HOME=" + t + "/h"}), "%" + t + "/h/.cache/Kel/\n");
  EXPECT_EQ(run(show, {}, {"XDG_CACHE_HOME=rel", "HOME=" + t + "/h"}), "%" + t + "/h/.cache/Kel/\n");
  EXPECT_EQ(run(show, {}, {"XDG_CACHE_HOME=", "HOME=" + t + "/h/"}), "%" + t + "/h/.cache/Kel/\n");
  // Without HOME, the password entry's home folder (whose cache gets the settings folder, as
  // every start of the console there does).
  const passwd* entry = getpwuid(getuid());
  if (entry && entry->pw_dir && entry->pw_dir[0] == '/') {
    std::string home = entry->pw_dir;
    if (home.back() != '/') home += '/';
    EXPECT_EQ(run(show, {}, {"-u", "XDG_CACHE_HOME", "-u", "HOME"}),
              "%" + home + ".cache/Kel/\n");
  }
  // The settings folder, and nothing else, is made.
  EXPECT_EQ(run("print exists? rejoin [system/options/cache %Kel-Console/]", {}, {"XDG_CACHE_HOME=" + t + "/n"}),
            "true\n");
  std::system(("rm -rf '" + t + "'").c_str());
}

// The current folder at start, as a folder.
TEST(SystemValues, CurrentFolder) {
  std::string out = run("print mold system/options/path", {}, {"-C", "/tmp"});
  EXPECT_EQ(out, "%/tmp/\n");
}

// What lexer events name for token kinds, in the lexer's own order.
TEST(SystemValues, ExitStatesMatchTheLexer) {
  std::string want = "[";
  for (int i = 0; i < kel::lexer::SLOT_COUNT; ++i)
    want += std::string(i ? " " : "") + kel::lexer::EXIT_STATE_NAMES[i];
  EXPECT_EQ(run("print mold system/lexer/exit-states", {}), want + "]\n");
}

// An argument that is not UTF-8 does not stop start-up: its bad bytes read as U+FFFD.
TEST(SystemValues, ArgumentsNotUtf8) {
  EXPECT_EQ(run("print mold system/options/args print mold system/script/args",
                {"a\xff" "b", "\xc3"}),
            "[\"a\xEF\xBF\xBD" "b\" \"\xEF\xBF\xBD\"]\n\"a\xEF\xBF\xBD" "b \xEF\xBF\xBD\"\n");
}

// `call` splits a command as extract-boot-args splits the command line: the two agree.
TEST(SystemValues, ExtractBootArgsSplitsAsCallDoes) {
  const std::vector<std::string> lines = {
      "kel a b",        "  kel\ta  b ", "kel \"my file\" x", "kel \"\" a",  "\"a b\"c d",
      "kel a\"b c\"d",  "kel \"",       "kel \"unclosed x",   "k \"a\"\"b\"", "",
      "kel x\" \"y\"",  "\t\"q\"",
  };
  std::string script = "foreach line [";
  for (const std::string& l : lines) script += "{" + l + "} ";
  script += "] [system/script/args: copy line args: extract-boot-args "
            "if system/options/boot [insert args system/options/boot] print mold args]";
  std::string want;
  for (const std::string& l : lines) {
    std::string row = "[";
    bool first = true;
    for (const std::string& item : kel::host::split_command(l)) {
      row += std::string(first ? "" : " ");
      first = false;
      // Molded as the case would: braces when the text holds a double quote.
      row += item.find('"') == std::string::npos ? "\"" + item + "\"" : "{" + item + "}";
    }
    want += row + "]\n";
  }
  EXPECT_EQ(run(script, {}), want);
}
