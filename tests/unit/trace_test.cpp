// Tracing and the fast-* toolkit seen from C++: probe-trace's checks, plainly and under the
// collector stress mode, and the fatal end of a bad selector.
#include <gtest/gtest.h>

#include <string>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {
std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-trace"; }
}  // namespace

TEST(Trace, LibraryCodeAndToolkit) {
  auto r = kel::testing::run_probe(probe(), {});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST(Trace, LibraryCodeAndToolkitUnderStress) {
  auto r = kel::testing::run_probe(probe(), {}, {"KEL_GC_STRESS=1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST(Trace, BadSelectorIsFatal) {
  auto r = kel::testing::run_probe(probe(), {"bad-selector"});
  EXPECT_EQ(r.status, 101) << r.out << r.err;
}
