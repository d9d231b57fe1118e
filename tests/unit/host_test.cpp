// Host services that Kel text cannot reach with chosen inputs: the OS facts from os-release
// and uname's fields, and the splitting of a command line.
#include <gtest/gtest.h>

#include "runtime/io/host.h"

namespace kel {
namespace {

TEST(HostTest, OsFactsFromReleaseAndMachine) {
  struct Row {
    const char* os_release;
    const char* machine;
    const char* release;
    const char* name;
    const char* arch;
    int32_t v0, v1, v2, build;
  };
  const Row rows[] = {
      {"NAME=Debian\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", "x86_64",
       "6.1.0-18-amd64", "Debian GNU/Linux 12 (bookworm)", "x86-64", 6, 1, 0, 18},
      {"PRETTY_NAME='Alpine'\n", "aarch64", "5.15.90", "Alpine", "ARM64", 5, 15, 90, 0},
      {"", "i686", "4.4", "Linux", "x86-32", 4, 4, 0, 0},
      {"PRETTY_NAME=\"\"\n", "armv7l", "3.2.1-rc4", "Linux", "ARM", 3, 2, 1, 0},
      {"NAME=x\n", "ia64", "2.6.32-754.el6", "Linux", "IA-64", 2, 6, 32, 754},
      {"", "riscv64", "700.300.1000-x", "Linux", "Unknown", 255, 255, 255, 0},
      {"", "", "", "Linux", "Unknown", 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    host::OsFacts f = host::os_facts(r.os_release, r.machine, r.release);
    EXPECT_EQ(f.name, r.name) << r.release;
    EXPECT_EQ(f.arch, r.arch) << r.machine;
    EXPECT_EQ(f.version[0], r.v0) << r.release;
    EXPECT_EQ(f.version[1], r.v1) << r.release;
    EXPECT_EQ(f.version[2], r.v2) << r.release;
    EXPECT_EQ(f.build, r.build) << r.release;
  }
}

TEST(HostTest, CommandsSplitAtBlanksOutsideQuotes) {
  using V = std::vector<std::string>;
  struct Row {
    const char* text;
    V items;
  };
  const Row rows[] = {
      {"ls -l  /tmp", V{"ls", "-l", "/tmp"}},
      {"\tprintf \"a b\" c\t", V{"printf", "a b", "c"}},
      {"echo a\"b c\"d", V{"echo", "a\"b c\"d"}},
      {"say \"\" x", V{"say", "", "x"}},
      {"one \"", V{"one", ""}},
      {"'a b'", V{"'a", "b'"}},
      {"   ", V{}},
  };
  for (const Row& r : rows) EXPECT_EQ(host::split_command(r.text), r.items) << r.text;
}

}  // namespace
}  // namespace kel
