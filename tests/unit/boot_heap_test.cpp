// The boot heap seen from outside (probe-boot_heap): a start that lays it in leaves exactly
// the memory state of a start that decodes the boot image, plainly and under the collector
// stress; images that fail their checks are refused without a change, and a start given an
// image whose own bytes were damaged decodes to that same state.
#include <gtest/gtest.h>

#include <string>

#include "kel_script.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {
std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-boot_heap"; }

std::string line_of(const std::string& out, const std::string& key) {
  size_t at = out.find(key + " ");
  return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}
}  // namespace

TEST(BootHeap, LaidInEqualsDecoded) {
  for (const char* env : {"KEL_GC_STRESS=0", "KEL_GC_STRESS=1"}) {
    auto laid = kel::testing::run_probe(probe(), {}, {env});
    auto decoded = kel::testing::run_probe(probe(), {"decode"}, {env});
    EXPECT_EQ(laid.status, 0) << env << laid.out << laid.err;
    EXPECT_EQ(decoded.status, 0) << env << decoded.out << decoded.err;
    EXPECT_EQ(line_of(laid.out, "laid"), "laid 1") << env;
    EXPECT_EQ(line_of(decoded.out, "laid"), "laid 0") << env;
    EXPECT_NE(line_of(laid.out, "digest"), "") << env;
    EXPECT_EQ(line_of(laid.out, "digest"), line_of(decoded.out, "digest")) << env;
    EXPECT_EQ(laid.out.find("FAIL"), std::string::npos) << env << laid.out;
  }
}

TEST(BootHeap, DamagedImageDecodesInstead) {
  auto damaged = kel::testing::run_probe(probe(), {"damaged"}, {"KEL_GC_STRESS=0"});
  auto decoded = kel::testing::run_probe(probe(), {"decode"}, {"KEL_GC_STRESS=0"});
  EXPECT_EQ(damaged.status, 0) << damaged.out << damaged.err;
  EXPECT_EQ(line_of(damaged.out, "laid"), "laid 0");
  EXPECT_NE(line_of(damaged.out, "digest"), "");
  EXPECT_EQ(line_of(damaged.out, "digest"), line_of(decoded.out, "digest"));
}
