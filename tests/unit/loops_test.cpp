// Loop-support and exit operations seen from outside: the checks of probe-loops, plainly
// and under the collector's stress mode.
#include <gtest/gtest.h>

#include <string>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {
std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-loops"; }
}  // namespace

TEST(Loops, CxxLevelChecks) {
  auto r = kel::testing::run_probe(probe(), {});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST(Loops, CxxLevelChecksUnderStress) {
  auto r = kel::testing::run_probe(probe(), {}, {"KEL_GC_STRESS=1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}
