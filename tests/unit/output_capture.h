// Captures what the console writers send to standard output, through an in-memory file.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "runtime/output.h"

namespace kel::testing {

struct OutputCapture {
  int fd;
  int saved;
  OutputCapture() : fd(memfd_create("kel-out", 0)), saved(platform::output_fd()) {
    platform::set_output_fd(fd);
  }
  ~OutputCapture() {
    platform::set_output_fd(saved);
    close(fd);
  }
  // Everything written so far; clears the capture.
  std::string take() {
    std::string s;
    char buf[8192];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
    if (ftruncate(fd, 0) != 0) s += "<truncate failed>";
    lseek(fd, 0, SEEK_SET);
    return s;
  }
};

}  // namespace kel::testing
