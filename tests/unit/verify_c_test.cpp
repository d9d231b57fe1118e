// What the `kel` program prints around an error: output made before the error stays,
// output of an expression that failed part-way is never shown.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {

std::string kel_program() { return std::string(KEL_PROBE_DIR) + "/../kel"; }

std::string temp_file(const std::string& text) {
  char path[] = "/tmp/kel-verify-c-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "";
  if (write(fd, text.data(), text.size()) != ssize_t(text.size())) return "";
  close(fd);
  return path;
}

struct Outcome {
  int status;
  std::string out;
};

Outcome script(const std::string& text) {
  std::string path = temp_file(text);
  auto r = kel::testing::run_probe(kel_program(), {path});
  unlink(path.c_str());
  return {r.status, r.out};
}

Outcome with_stdin(const std::string& input) {
  std::string path = temp_file(input);
  auto r = kel::testing::run_probe("/bin/sh", {"-c", kel_program() + " < " + path});
  unlink(path.c_str());
  return {r.status, r.out};
}

bool starts_with(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

}  // namespace

TEST(VerifyKelOutput, ArgumentPrintsBeforeItsTypeError) {
  const std::string expected = "1\n*** Script Error: f does not allow unset! for its x argument\n";
  Outcome r = with_stdin("f: func [x] [x] f (print 1)\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(starts_with(r.out, expected)) << r.out;
  r = script("Kel []\nf: func [x] [x] f (print 1)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(starts_with(r.out, expected)) << r.out;
}

TEST(VerifyKelOutput, FailedPrintShowsNothingAndTheNextPrintWorks) {
  Outcome r = with_stdin("print [1 nosuch]\nprint [2]\n");
  EXPECT_EQ(r.status, 0);
  // the report comes first: nothing of the failed print's buffer reached the output
  EXPECT_TRUE(starts_with(r.out, "*** Script Error: nosuch has no value\n")) << r.out;
  // the buffer was given back: the next print shows only its own text
  const std::string tail = "\n2\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
}
