// Probe: the preprocessor called from library code, as the console's start-up calls it with
// no user code on the stack: #include still loads the file for its macros and becomes `do`.
// Prints one line per check, exit 1 on a failure.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/evaluator/launch.h"
#include "runtime/evaluator/trace.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"

using namespace kel;

namespace {

int failures = 0;

void check(bool ok, const char* name) {
  std::printf("%s %s\n", ok ? "ok" : "FAIL", name);
  if (!ok) ++failures;
}

bool eval(const std::string& text, Cell* out) {
  Cell* block = stack::reserve_cell();
  *block = Cell{T_NONE, 0, 0, 0};
  launcher::load_text(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), block);
  bool is_error = false;
  launcher::run_protected(block, out, &is_error);
  return !is_error;
}

void check_true(const std::string& text, const char* name) {
  Cell* out = stack::reserve_cell();
  *out = Cell{T_NONE, 0, 0, 0};
  Cell* mark = stack::state().top;
  bool ok = eval(text, out);
  check(ok && cell::type(out) == T_LOGIC && out->w1 == 1, name);
  stack::state().top = mark - 1;
}

void checks() {
  char path[] = "/tmp/kel-pp-XXXXXX";
  int fd = mkstemp(path);
  const char text[] = "Kel [] #macro two: func [] [2]";
  bool written = fd >= 0 && write(fd, text, sizeof text - 1) == ssize_t(sizeof text - 1);
  if (fd >= 0) close(fd);
  check(written, "the included file is written");
  std::string file = std::string("%") + path;
  Cell* out = stack::reserve_cell();
  *out = Cell{T_NONE, 0, 0, 0};
  {
    trace::LibraryScope library;
    eval("pp-lib: func [] [expand-directives/clean [#include " + file + " two]]", out);
  }
  check_true("r: pp-lib  r = [do " + file + " 2]",
             "library code expanding an #include: the file's macros apply, the directive is do");
  check_true("r: pp-lib  'do = first r", "again, after the macros were cleaned");
  unlink(path);
  std::fflush(stdout);
  rt::exit_process(failures ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) { boot::start(argc, argv, &checks); }
