// Case-file driver: runs each given case file, line by line in one runtime on the evaluation
// thread, and reports every failing case as `file:line`. Exit status 1 when any case fails.
// With --scratch the cases run in a new temporary directory, removed afterwards.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "case_file.h"
#include "http_fixture.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/pair.h"
#include "runtime/init.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "runtime/system.h"

namespace {
struct Run {
  std::vector<std::string> files;
  bool scratch = false;
  kel::cases::Evaluator eval = nullptr;
  int failures = 0;
  int cases = 0;
};

int run_all(void* p) {
  auto* run = static_cast<Run*>(p);
  kel::runtime::init_units();
  kel::rt::record_machine_stack_bottom();
  kel::runtime::init();
  kel::runtime::run_boot_library();
  {
    // The size a console without a terminal has after its start-up (which the driver skips).
    kel::Cell* size = kel::stack::reserve_cell();
    kel::pair::init_cell(size, 80, 50);
    kel::system::set_field("console", "size", size);
    kel::stack::drop_cells(1);
  }
  for (auto& path : run->files) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::cout << path << ": cannot read\n";
      ++run->failures;
      continue;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto file = kel::cases::read_cases(text.str());
    run->cases += int(file.cases.size());
    run->failures += kel::cases::run_cases(path, file, run->eval, std::cout);
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  Run run;
  run.eval = kel::cases::runtime_evaluator();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--evaluator=fake") run.eval = kel::cases::fake_evaluate;
    else if (a == "--scratch") run.scratch = true;
    else run.files.push_back(std::filesystem::absolute(a).string());
  }
  if (run.files.empty()) {
    std::cerr << "usage: kel_cases [--evaluator=fake] [--scratch] file.kel...\n";
    return 2;
  }
  if (!run.eval) {
    std::cout << "no evaluator yet: the case files cannot run\n";
    return 1;
  }
  std::string dir;
  if (run.scratch) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kel-cases-XXXXXX").string();
    if (!mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0) {
      std::cout << "cannot make a scratch directory\n";
      return 1;
    }
    dir = pattern;
  }
  // Case files that read KEL_TEST_URL get the loopback HTTP fixture.
  bool http = false;
  for (auto& path : run.files) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().find("KEL_TEST_URL") != std::string::npos) http = true;
  }
  std::string why;
  if (http && !kel::cases::start_http_fixture(KEL_HTTP_FIXTURE, why)) {
    std::cout << why << "\n";
    return 1;
  }
  kel::rt::init_process(argc, argv);
  kel::rt::run_on_evaluation_thread(run_all, &run);
  kel::cases::stop_http_fixture();
  if (!dir.empty()) {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    std::filesystem::remove_all(dir, ec);
  }
  std::cout << run.cases << " cases, " << run.failures << " failed\n";
  return run.failures ? 1 : 0;
}
