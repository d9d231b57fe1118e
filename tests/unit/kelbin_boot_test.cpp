// The boot image seen from outside: probe-kelbin's C++-level checks (plain and under the
// collector stress), and a corrupt image ending start-up with its message and status 254.
#include <gtest/gtest.h>

#include <string>

#include "kel_script.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {
std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-kelbin"; }
}  // namespace

TEST(KelbinBoot, CxxLevelChecks) {
  for (bool stress : {false, true}) {
    auto r = stress ? kel::testing::run_probe(probe(), {}, {"KEL_GC_STRESS=1"})
                    : kel::testing::run_probe(probe(), {});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  }
}

TEST(KelbinBoot, CorruptImageEndsStartUp) {
  struct {
    const char* scenario;
    const char* message;
  } cases[] = {
      {"bad-magic", "Error: Not a Kelbin file!\n"},
      {"bad-record", "Error: KELBIN - invalid record at index 13\n"},
      {"bad-unpack", "Error: Kelbin compressed data corrupted!\n"},
      {"not-a-block", "Error: KELBIN - invalid record at index 11\n"},
  };
  for (const auto& c : cases) {
    auto r = kel::testing::run_probe(probe(), {c.scenario});
    EXPECT_EQ(r.status, 254) << c.scenario << r.out << r.err;
    EXPECT_EQ(r.out, c.message) << c.scenario;
  }
}
