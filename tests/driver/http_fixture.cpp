// Starting and stopping the loopback HTTP fixture: python3 runs the script with a pipe on its
// input (closing it stops the server) and one on its output (the first line is the port).
#include "http_fixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kel::cases {

namespace {
pid_t g_pid = -1;
int g_input = -1;
}  // namespace

bool start_http_fixture(const std::string& script, std::string& why) {
  const char* given = std::getenv("KEL_TEST_URL");
  if (given && *given) return true;
  int in[2], out[2];
  if (pipe(in) != 0) {
    why = "no pipe";
    return false;
  }
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    why = "no pipe";
    return false;
  }
  pid_t pid = fork();
  if (pid < 0) {
    why = "cannot fork";
    return false;
  }
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    execlp("python3", "python3", script.c_str(), "--seconds", "900", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  g_pid = pid;
  g_input = in[1];
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
  close(out[0]);
  if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos) {
    stop_http_fixture();
    why = "the HTTP fixture did not start (python3 " + script + ")";
    return false;
  }
  std::string url = "http://127.0.0.1:" + line + "/";
  setenv("KEL_TEST_URL", url.c_str(), 1);
  return true;
}

void stop_http_fixture() {
  if (g_input >= 0) close(g_input);
  g_input = -1;
  if (g_pid > 0) {
    int status;
    waitpid(g_pid, &status, 0);
  }
  g_pid = -1;
}

}  // namespace kel::cases
