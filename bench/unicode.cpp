// Benchmark of UTF-8 decoding: 100 MB of text loaded into strings (ASCII, Latin-1,
// CJK and emoji mixes), plus DFA counting and encoding back out.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/extern.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

using namespace kel;

namespace {

constexpr size_t kSize = 100u << 20;

// Repeats the sample until size bytes (whole sequences only).
std::vector<uint8_t> text_of(const std::string& sample, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size + sample.size());
  while (out.size() + sample.size() <= size) out.insert(out.end(), sample.begin(), sample.end());
  return out;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void report(const char* what, size_t bytes, double s) {
  std::printf("%-34s %8.1f MB in %7.3f s  %8.1f MB/s\n", what, bytes / 1048576.0, s, bytes / 1048576.0 / s);
}

}  // namespace

int main() {
  memory::init();
  gc::init();
  extern_::init();
  struct Case { const char* name; std::string sample; };
  const Case cases[] = {
      {"ASCII -> unit 1", "The quick brown fox jumps over the lazy dog. 0123456789\n"},
      {"Latin-1 mix -> unit 1", "Le coeur déçu mais l'âme plutôt naïve, Louÿs rêva de crapaüter\n"},
      {"CJK mix -> unit 2", "漢字かな交じり文 mixed with ASCII words, 한국어 텍스트\n"},
      {"emoji mix -> unit 4", "smile \xF0\x9F\x98\x80 and rocket \xF0\x9F\x9A\x80 here\n"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> in = text_of(c.sample, kSize);
    auto t0 = std::chrono::steady_clock::now();
    Node n = unicode::utf8_to_new_string(in.data(), int32_t(in.size()));
    double s = seconds_since(t0);
    gc::Root keep(&n);
    SeriesBuffer* b = memory::node_buffer(n);
    char label[80];
    std::snprintf(label, sizeof label, "load %s (%u)", c.name, memory::unit(b));
    report(label, in.size(), s);

    t0 = std::chrono::steady_clock::now();
    int32_t count = unicode::utf8_char_count(in.data(), in.data() + in.size());
    s = seconds_since(t0);
    std::snprintf(label, sizeof label, "  DFA count (%d chars)", count);
    report(label, in.size(), s);

    Cell str{T_STRING, 0, n, 0};
    gc::Root keep_str(&str);
    t0 = std::chrono::steady_clock::now();
    int32_t out = -1;
    unicode::string_as_utf8(&str, &out);
    s = seconds_since(t0);
    report("  encode back to UTF-8", size_t(out), s);
    str.w3 = 0;
  }
  memory::release_all();
  return 0;
}
