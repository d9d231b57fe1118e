// Runs Kel text through the `kel` program as a script (or a scenario of probe-objects) and
// returns what it printed; for behaviour that needs the whole started runtime.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "probe_run.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace kel::testing {

inline std::string run_kel_text(const std::string& body) {
  char path[] = "/tmp/kel-script-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "mkstemp failed";
  std::string text = "Kel []\n" + body + "\n";
  ssize_t w = write(fd, text.data(), text.size());
  close(fd);
  if (w != ssize_t(text.size())) return "write failed";
  ProbeResult r = run_probe(std::string(KEL_PROBE_DIR) + "/../kel", {path});
  unlink(path);
  return r.out;
}

inline std::string run_objects_probe(const std::string& scenario) {
  return run_probe(std::string(KEL_PROBE_DIR) + "/probe-objects", {scenario}).out;
}

// The first line of an error report's text, as "!! category/id" is not printed by scripts.
inline std::string first_line(const std::string& s) { return s.substr(0, s.find('\n')); }

}  // namespace kel::testing
