// Fuzz driver for the host's readers of outside text: the line splitting of files read with
// /lines, the os-release and uname fields of the OS description, and command splitting.
// Line ranges must stay inside the text, in order, hold no LF and lose no byte but the line
// ends; the OS facts keep their bytes below 256; unquoted commands split at every blank run.
// Runs for --seconds N (default 2), or as a libFuzzer target when built with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/io/host.h"
#include "runtime/io/simple_io.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

[[noreturn]] void fail(const char* what, size_t n) {
  std::fprintf(stderr, "host-text fuzz: %s (%zu bytes)\n", what, n);
  std::abort();
}

void check_lines(const uint8_t* data, size_t size) {
  std::vector<uint8_t> text(data, data + size);  // exact size: a read past it shows
  auto lines = kel::simple_io::line_ranges(text.data(), int64_t(size));
  int64_t next = 0;
  size_t kept = 0;
  for (auto [start, length] : lines) {
    if (start != next || length < 0 || start + length > int64_t(size)) fail("range", size);
    for (int64_t i = start; i < start + length; ++i)
      if (text[size_t(i)] == '\n') fail("LF inside a line", size);
    kept += size_t(length);
    next = start + length;
    if (next < int64_t(size) && text[size_t(next)] == '\r' && next + 1 < int64_t(size) &&
        text[size_t(next) + 1] == '\n')
      ++next;
    if (next < int64_t(size)) {
      if (text[size_t(next)] != '\n') fail("line not ended by LF", size);
      ++next;
    }
  }
  if (next != int64_t(size)) fail("bytes left over", size);
  size_t lf = 0;
  for (uint8_t b : text) lf += b == '\n';
  if (kept > size - lf) fail("more bytes kept than the text holds", size);
}

void check_host(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t third = size / 3;
  kel::host::OsFacts f = kel::host::os_facts(text, text.substr(0, third), text.substr(third));
  for (int32_t v : f.version)
    if (v < 0 || v > 255) fail("version part outside a byte", size);
  if (f.build < 0) fail("negative build", size);
  size_t total = 0;
  auto items = kel::host::split_command(text);
  for (const std::string& item : items) total += item.size();
  if (total > size) fail("items longer than the text", size);
  if (text.find('"') == std::string::npos) {
    // Without quotes the items are exactly the runs of non-blanks.
    std::vector<std::string> runs;
    std::string run;
    for (char c : text) {
      if (c == ' ' || c == '\t') {
        if (!run.empty()) runs.push_back(run);
        run.clear();
      } else {
        run.push_back(c);
      }
    }
    if (!run.empty()) runs.push_back(run);
    if (runs != items) fail("unquoted split", size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_lines(data, size);
  check_host(data, size);
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  std::mt19937 rng(20261210);
  const char alphabet[] = "\n\r\r\n ab\"\t-.0123456789PRETTY_NAME=x86_64'\xC3\xA9";
  auto start = std::chrono::steady_clock::now();
  std::string input;
  long runs = 0;
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    size_t n = rng() % 300;
    input.clear();
    for (size_t i = 0; i < n; ++i)
      input.push_back(rng() % 8 ? alphabet[rng() % (sizeof alphabet - 1)] : char(rng() % 256));
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    ++runs;
  }
  std::printf("host-text fuzz: %ld runs\n", runs);
  return 0;
}
#endif
