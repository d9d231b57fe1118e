// Fields of `system` and routines that a unit adds from its own file, seen from Kel text
// (tests/probes/wiring.cpp does the wiring on the started runtime).
#include <gtest/gtest.h>

#include <string>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

TEST(Wiring, SystemFieldsAndRoutinesFromCxx) {
  for (const char* env : {"KEL_GC_STRESS=0", "KEL_GC_STRESS=1"}) {
    auto r = kel::testing::run_probe(std::string(KEL_PROBE_DIR) + "/probe-wiring", {}, {env});
    EXPECT_EQ(r.status, 0) << env << r.err;
    EXPECT_EQ(r.out,
              "[840]\n"
              "true\n"
              "42\n"
              "8\n"
              "error\n"  // the spec's type block is checked
              "5\n"
              "11\n"
              "routine!\n")
        << env;
  }
}
