// Fuzz driver for the response-header reader: every field name is a non-empty HTTP token,
// names are distinct without regard to case, values hold no line end and no blank at either
// end, and no field holds more bytes than the text. Runs for --seconds N (default 2), or as a
// libFuzzer target when built with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/io/http.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

[[noreturn]] void fail(const char* what, size_t n) {
  std::fprintf(stderr, "http-headers fuzz: %s (%zu bytes)\n", what, n);
  std::abort();
}

void check(const uint8_t* data, size_t size) {
  std::vector<uint8_t> text(data, data + size);  // exact size: a read past it shows
  auto fields = kel::simple_io::header_fields(text.data(), size);
  std::set<std::string> seen;
  size_t total = 0;
  for (auto& [name, values] : fields) {
    if (name.empty()) fail("empty name", size);
    std::string lower;
    for (char c : name) {
      uint8_t b = uint8_t(c);
      if (b <= 0x20 || b >= 0x7F || c == ':') fail("name outside the token characters", size);
      lower.push_back(char(b >= 'A' && b <= 'Z' ? b + 32 : b));
    }
    if (!seen.insert(lower).second) fail("a name twice", size);
    if (values.empty()) fail("a name without values", size);
    for (auto& v : values) {
      if (v.find('\n') != std::string::npos) fail("LF in a value", size);
      if (!v.empty() && (v.front() == ' ' || v.back() == ' ' || v.front() == '\t' ||
                         v.back() == '\t'))
        fail("blank kept at a value's end", size);
      total += name.size() + v.size();
    }
  }
  if (total > size) fail("more bytes than the text", size);
}

// Header-like text: names, colons, blanks, CR, LF and some other bytes.
std::vector<uint8_t> make_input(std::mt19937& rng) {
  static const char* const pieces[] = {"Set-Cookie", "set-cookie", "X-B", ":", ": ", " ", "\t",
                                       "\r\n", "\n", "\r", "a=1", "HTTP/1.1 200 OK", "",
                                       "\xE9", "x y", "Content-Type:text/plain"};
  std::vector<uint8_t> out;
  size_t n = rng() % 40;
  for (size_t i = 0; i < n; ++i) {
    if (rng() % 5 == 0) {
      out.push_back(uint8_t(rng()));
      continue;
    }
    const char* p = pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    out.insert(out.end(), p, p + std::strlen(p));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(data, size);
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  std::mt19937 rng(12345);
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  size_t runs = 0;
  const uint8_t fixed[] = "X-B:y\r\nX-C:\r\nSet-Cookie: a=1\r\nset-cookie: b=2\nno colon\r\n:x\r\n";
  LLVMFuzzerTestOneInput(fixed, sizeof fixed - 1);
  while (std::chrono::steady_clock::now() < end) {
    auto input = make_input(rng);
    LLVMFuzzerTestOneInput(input.data(), input.size());
    ++runs;
  }
  std::printf("http-headers fuzz: %zu inputs\n", runs);
  return 0;
}
#endif
