// The preprocessor seen from C++: probe-preprocessor's checks of library code expanding
// scripts, plainly and under the collector stress mode.
#include <gtest/gtest.h>

#include <string>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {
std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-preprocessor"; }
}  // namespace

TEST(Preprocessor, LibraryCodeIncludes) {
  auto r = kel::testing::run_probe(probe(), {});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST(Preprocessor, LibraryCodeIncludesUnderStress) {
  auto r = kel::testing::run_probe(probe(), {}, {"KEL_GC_STRESS=1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}
