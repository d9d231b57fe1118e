// `kel` started with a command line: options, the script and its arguments, header checks,
// exit statuses, the settings file under the cache folder, and the shell words' listing.
// Each run gets a fresh working folder and a fresh cache folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kel_script.h"

namespace {

using kel::testing::console_banner_length;
using kel::testing::kel_program;

struct Started {
  int status;
  std::string out;
};

// A fresh working folder and cache folder, removed at the end.
struct Folders {
  std::string work, cache;
  Folders() {
    char w[] = "/tmp/kel-work-XXXXXX";
    char c[] = "/tmp/kel-cache-XXXXXX";
    work = mkdtemp(w);
    cache = mkdtemp(c);
  }
  ~Folders() { std::system(("rm -rf '" + work + "' '" + cache + "'").c_str()); }
  void put(const std::string& name, const std::string& text) const {
    std::string path = work + "/" + name;
    std::string dir = path.substr(0, path.rfind('/'));
    std::system(("mkdir -p '" + dir + "'").c_str());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string settings_path() const { return cache + "/Kel/Kel-Console/console-cfg.kel"; }
  // kel with the arguments (shell words) in the working folder, the input on standard input.
  Started run(const std::string& args, const std::string& input, const std::string& env = "") const {
    std::string in = work + "/.input";
    std::ofstream(in, std::ios::binary) << input;
    std::string cmd = "cd '" + work + "' && XDG_CACHE_HOME='" + cache + "' " + env + " '" +
                      kel_program() + "' " + args + " < .input";
    kel::testing::ProbeResult r = kel::testing::run_probe("/bin/sh", {"-c", cmd});
    return {r.status, r.out};
  }
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct ScriptCase {
  std::vector<std::pair<const char*, const char*>> files;
  const char* args;
  const char* input;
  int status;
  const char* out;  // the whole output, or its start (prefix)
  bool prefix;
};

const char kArgsScript[] = "Kel [] probe system/options/args print system/script/args\n";

TEST(ConsoleStart, ScriptsAndStatuses) {
  const ScriptCase cases[] = {
      {{{"s.kel", kArgsScript}}, "s.kel a \"b c\"", "", 0, "[\"a\" \"b c\"]\na \"b c\"\n", false},
      // --catch: no banner, the console after the script
      {{{"s.kel", kArgsScript}}, "--catch s.kel a b", "system/console/catch?\n", 0,
       "[\"a\" \"b\"]\na b\n== true\n", false},
      {{{"s.kel", kArgsScript}}, "--CATCH s.kel", "1\n", 0, "[]\n\n== 1\n", false},
      // other options are stepped over; nothing after "--" is an option
      {{{"s.kel", kArgsScript}}, "--foo s.kel x", "", 0, "[\"x\"]\nx\n", false},
      {{{"s.kel", kArgsScript}}, "-- s.kel --catch", "", 0, "[\"--catch\"]\n--catch\n", false},
      {{}, "-- --catch", "1\n", 1, "*** Access Error: cannot open: %--catch\n", true},
      // a script that cannot be read, then piped commands: they never run
      {{}, "nosuch.kel", "print 5\n", 1, "*** Access Error: cannot open: %nosuch.kel\n", true},
      {{}, "--catch nosuch.kel", "print 5\n", 0, "*** Access Error: cannot open: %nosuch.kel\n", true},
      // text before the header is skipped
      {{{"s.kel", "#!/usr/bin/env kel\nnotes\nKel [Title: \"t\"] print 1\n"}}, "s.kel", "", 0, "1\n", false},
      {{{"s.kel", "Kel\n\t[] print 3\n"}}, "s.kel", "", 0, "3\n", false},
      {{{"a:b.kel", "Kel [] print 4\n"}}, "a:b.kel", "", 0, "4\n", false},
      {{{"s.kel", "Kel/System [] 1\n"}}, "s.kel", "", 1,
       "*** Error: contains Kel/System code which requires compilation!\n", false},
      {{{"s.kel", "print 1\n"}}, "s.kel", "", 1, "*** Error: Kel header not found!\n", false},
      {{{"s.kel", "kel [] print 1\nKelvin [] print 2\n"}}, "s.kel", "", 1,
       "*** Error: Kel header not found!\n", false},
      {{{"s.kel", "Kel [] [1\n"}}, "s.kel", "", 1, "*** Syntax Error: ", true},
      {{{"s.kel", "Kel [] print 1 nosuch print 2\n"}}, "s.kel", "", 1,
       "1\n*** Script Error: nosuch has no value\n", true},
      {{{"s.kel", "Kel [] print 1 nosuch print 2\n"}}, "--catch s.kel", "print 3\n", 0,
       "1\n*** Script Error: nosuch has no value\n", true},
      {{{"s.kel", "Kel [] f: func [n] [f n + 1] f 1\n"}}, "s.kel", "", 1,
       "*** Internal Error: stack overflow\n", true},
      {{{"s.kel", "Kel [] halt print 2\n"}}, "s.kel", "", 0, "(halted)\n", false},
      {{{"s.kel", "Kel [] quit/return 3\n"}}, "s.kel", "", 3, "", false},
      {{{"sub/s.kel", "Kel [] print last split-path what-dir\n"}}, "sub/s.kel", "", 0, "sub/\n", false},
  };
  for (const ScriptCase& c : cases) {
    Folders f;
    for (auto& file : c.files) f.put(file.first, file.second);
    Started r = f.run(c.args, c.input);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    if (c.prefix)
      EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << c.args << "\ngot: " << r.out;
    else
      EXPECT_EQ(r.out, c.out) << c.args;
  }
}

// Piped output never holds an escape sequence (the title goes only to a terminal).
TEST(ConsoleStart, PipedOutputHoldsNoEscape) {
  Folders f;
  Started r = f.run("", "1\n");
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  EXPECT_GT(console_banner_length(r.out), 0u) << r.out;
}

TEST(ConsoleStart, SettingsFile) {
  {
    Folders f;
    Started r = f.run("", "quit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(f.settings_path()),
              "Kel [\n\tPurpose: \"Kel Console Configuration File\"\n]\n\nbuffer-lines: 10000 history: []");
  }
  {
    // the newest 100 of 150 lines are kept, in order; other settings are written back
    Folders f;
    std::string history;
    for (int i = 0; i < 150; ++i) history += " \"h" + std::to_string(i) + "\"";
    std::system(("mkdir -p '" + f.cache + "/Kel/Kel-Console'").c_str());
    std::ofstream(f.settings_path()) << "Kel []\nfoo: 1 history: [" << history << "]\n";
    Started r = f.run("", "length? system/console/history\nquit/return 2\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("== 150\n"), std::string::npos) << r.out;
    std::string saved = read_file(f.settings_path());
    std::string want;
    for (int i = 0; i < 100; ++i) want += (i ? " \"h" : "\"h") + std::to_string(i) + "\"";
    EXPECT_NE(saved.find("foo: 1 history: [" + want + "] buffer-lines: 10000"), std::string::npos) << saved;
  }
  // files the console cannot use as they are: it starts with the defaults
  const char* broken[] = {"Kel [", "Kel [] history: \"x\" buffer-lines: \"y\"",
                          "Kel [] history: [1 \"a\" b]", "no header", ""};
  const char* history[] = {"[]", "[]", "[\"a\"]", "[]", "[]"};
  for (size_t i = 0; i < sizeof broken / sizeof broken[0]; ++i) {
    Folders f;
    std::system(("mkdir -p '" + f.cache + "/Kel/Kel-Console'").c_str());
    std::ofstream(f.settings_path()) << broken[i];
    Started r = f.run("", "system/console/history\nquit\n");
    EXPECT_EQ(r.status, 0) << broken[i];
    EXPECT_NE(r.out.find(std::string("== ") + history[i] + "\n"), std::string::npos)
        << broken[i] << "\n" << r.out;
    std::string saved = read_file(f.settings_path());
    EXPECT_NE(saved.find("buffer-lines: 10000"), std::string::npos) << broken[i] << "\n" << saved;
  }
  {
    // no settings folder can be made: the console runs unsaved and quit keeps its status
    Folders f;
    f.put("afile", "x");
    Started r = f.run("", "1 + 1\nquit/return 3\n", "XDG_CACHE_HOME=\"$PWD/afile\"");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("== 2\n"), std::string::npos) << r.out;
  }
  {
    // a script's quit saves the settings too; the end of a script does not
    Folders f;
    f.put("q.kel", "Kel [] quit/return 5\n");
    f.put("e.kel", "Kel [] 1\n");
    EXPECT_EQ(f.run("e.kel", "").status, 0);
    struct stat st {};
    EXPECT_NE(stat(f.settings_path().c_str(), &st), 0);
    EXPECT_EQ(f.run("q.kel", "").status, 5);
    EXPECT_EQ(stat(f.settings_path().c_str(), &st), 0);
  }
}

TEST(ConsoleStart, ShellListing) {
  Folders f;
  f.put("d/a.txt", "");
  f.put("d/abcdefghijklmnopqrs", "");
  f.put("d/b/x", "");
  f.put("d/c", "");
  Started r = f.run("", "cd d\nls\nll\n");
  std::string out = r.out.substr(console_banner_length(r.out));
  std::string pad66(66 - 5, ' ');
  EXPECT_EQ(out,
            "== " + std::string("%") + f.work + "/d/\n"
            "\ta.txt               \tabcdefghijklmno...  \tb/                  \n"
            "\tc                   \n"
            "\ta.txt" + pad66 + " \n"
            "\tabcdefghijklmnopqrs" + std::string(66 - 19, ' ') + " \n"
            "\tb/" + std::string(64, ' ') + " \n"
            "\tc" + std::string(65, ' ') + " \n")
      << out;
}

}  // namespace
