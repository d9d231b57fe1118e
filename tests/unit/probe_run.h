// Runs a probe program as a child process and collects its exit status and output.
// Used by the tests of fatal paths, which end the process they run in.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kel::testing {

struct ProbeResult {
  int status;  // exit status, or 128 + signal when killed
  std::string out, err;
};

inline ProbeResult run_probe(const std::string& path, const std::vector<std::string>& args,
                             const std::vector<std::string>& env = {}) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {-1, "", "pipe failed"};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    for (auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ProbeResult r{0, "", ""};
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_fds = 2;
  char buf[4096];
  while (open_fds) {
    poll(fds, 2, -1);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      } else {
        (i ? r.err : r.out).append(buf, size_t(n));
      }
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

}  // namespace kel::testing
