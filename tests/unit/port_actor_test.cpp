// Ports whose actor is a native table, seen from Kel text (tests/probes/port_actor.cpp makes
// the table and the routine that hands it out).
#include <gtest/gtest.h>

#include <string>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

TEST(PortActor, NativeTableFirst) {
  for (const char* env : {"KEL_GC_STRESS=0", "KEL_GC_STRESS=1"}) {
    auto r = kel::testing::run_probe(std::string(KEL_PROBE_DIR) + "/probe-port_actor", {}, {env});
    EXPECT_EQ(r.status, 0) << env << r.err;
    EXPECT_EQ(r.out,
              "handle!\n"
              "port!\n"
              "\"native read\"\n"
              "\"bytes\"\n"
              "\"native read\"\n"
              "3\n"
              "no-port-action\n"  // no append in the table
              "no-port-action\n"
              "\"make port! [\"\n"
              "true\n"
              "handle!\n"
              "\"native read\"\n"
              "\"n\"\n")
        << env;
  }
}
