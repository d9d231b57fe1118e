// Runs the `kel` program on a script or on standard input (or a scenario of probe-objects) and
// returns what it printed; for behaviour that needs the whole started runtime.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace kel::testing {

inline std::string kel_program() { return std::string(KEL_PROBE_DIR) + "/../kel"; }

// A new temporary file holding the text; "" when it cannot be made.
inline std::string temp_file(const std::string& text) {
  char path[] = "/tmp/kel-test-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "";
  ssize_t w = write(fd, text.data(), text.size());
  close(fd);
  if (w != ssize_t(text.size())) {
    unlink(path);
    return "";
  }
  return path;
}

struct KelOutcome {
  int status;
  std::string out;
};

// The `kel` program run on a script file holding the text.
inline KelOutcome run_kel_script(const std::string& text) {
  std::string path = temp_file(text);
  ProbeResult r = run_probe(kel_program(), {path});
  unlink(path.c_str());
  return {r.status, r.out};
}

// The lines the console prints first when it starts without a script: everything up to
// the empty line after "Type HELP ...", or 0 when the output does not start with them.
inline size_t console_banner_length(const std::string& out) {
  static const std::string head = "--== Kel ";
  static const std::string tail = " ==-- \nType HELP for starting information. \n\n";
  if (out.compare(0, head.size(), head) != 0) return 0;
  size_t at = out.find(tail);
  return at == std::string::npos ? 0 : at + tail.size();
}

// The `kel` program reading the text as its standard input, with a cache folder of its own
// (the console's settings).
inline KelOutcome run_kel_stdin_whole(const std::string& input) {
  std::string path = temp_file(input);
  ProbeResult r = run_probe(
      "/bin/sh", {"-c", "c=$(mktemp -d) && XDG_CACHE_HOME=$c " + kel_program() + " < " + path +
                            "; s=$?; rm -rf \"$c\"; exit $s"});
  unlink(path.c_str());
  return {r.status, r.out};
}
// The same with the banner taken off what it printed.
inline KelOutcome run_kel_stdin(const std::string& input) {
  KelOutcome r = run_kel_stdin_whole(input);
  r.out.erase(0, console_banner_length(r.out));
  return r;
}

// What a script of the text (after a plain header) printed.
inline std::string run_kel_text(const std::string& body) {
  return run_kel_script("Kel []\n" + body + "\n").out;
}

// A table of Kel texts and what each prints when run as a script.
struct ScriptCase {
  const char* code;
  const char* out;
};
inline void check_scripts(const ScriptCase* cases, size_t n) {
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(run_kel_text(cases[i].code), cases[i].out) << cases[i].code;
}

inline std::string run_objects_probe(const std::string& scenario) {
  return run_probe(std::string(KEL_PROBE_DIR) + "/probe-objects", {scenario}).out;
}

// The first line of an error report's text, as "!! category/id" is not printed by scripts.
inline std::string first_line(const std::string& s) { return s.substr(0, s.find('\n')); }

}  // namespace kel::testing
