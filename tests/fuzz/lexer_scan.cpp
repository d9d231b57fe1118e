// Fuzz driver for the lexer over outside bytes: texts built from token pieces and from
// well-formed and malformed UTF-8 sequences, then mutated, are loaded, scanned and prescanned
// (errors are fine); whatever loads must mold without an error into Unicode scalar values.
// A fault saves the input to fuzz-lexer-crash.bin. Runs for --seconds N (default 2) in a
// started runtime, the second half under the collector stress (every 50th allocation).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "runtime/unicode.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_support.h"

using namespace kel;

namespace {

double g_seconds = 2;
uint64_t g_loaded = 0;
std::vector<uint8_t>& g_current = fuzz::input().bytes;

using fuzz::fail;
using fuzz::guarded;

// Token pieces and UTF-8 sequences: good ones at the edges of the ranges, and overlong
// forms, surrogates, code points above 10FFFF, cut and stray sequences.
const char* const PIECES[] = {
    "[", "]", "(", ")", "{", "}", "\"", "#", "'", "%", ":", "/", ";", ",", ".", "$", "@", "<",
    ">", "^", "+", "-", "x", "e", "0", "1", " ", "\n", "#{", "#\"", "%\"", "http://", "a@",
    "#[", "1.5", "12:30", "1x2", "a/b", "^(41)", "^(D800)", "%41", "%ED%A0%80",
    "\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBF",
    "\xED\x9F\xBF", "\xEE\x80\x80", "\xC2\xA0", "\xE3\x80\x80",
    "\xF4\x90\x80\x80", "\xED\xA0\x80", "\xED\xBF\xBF", "\xE0\x80\xAF", "\xF0\x8F\xBF\xBF",
    "\xC0\xAF", "\xC1\xBF", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80", "\xC3", "\xE6\x97",
    "\x80", "\xBF", "\xFF"};

std::vector<uint8_t> make_input(std::mt19937& rng) {
  std::vector<uint8_t> d;
  int n = int(rng() % 14);
  for (int i = 0; i < n; ++i) {
    const char* p = PIECES[rng() % (sizeof PIECES / sizeof PIECES[0])];
    d.insert(d.end(), p, p + std::strlen(p));
  }
  int flips = rng() % 4 == 0 ? int(rng() % 3) : 0;
  for (int i = 0; i < flips && !d.empty(); ++i) d[rng() % d.size()] = uint8_t(rng());
  return d;
}

void run_one(const std::vector<uint8_t>& input) {
  g_current = input;
  Cell* mark = stack::state().top;
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  const uint8_t* bytes = input.empty() ? reinterpret_cast<const uint8_t*>("") : input.data();
  int32_t n = int32_t(input.size());
  bool loaded = guarded([&] {
    lexer_scan(result, bytes, n, false, true, true, false, nullptr, nullptr, nullptr, nullptr);
  });
  if (loaded) {
    ++g_loaded;
    bool scalar = true;
    bool molded = guarded([&] {
      Cell* c = stack::push_copy(result);
      Cell* s = actions::mold(c, false, false, false, nullptr);
      int32_t count = string::count_from_head(s);
      for (int32_t i = 0; i < count; ++i) {
        int32_t cp = string::codepoint_at(s, i);
        if (cp < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) scalar = false;
      }
    });
    if (!molded) fail("a loaded value does not mold");
    if (!scalar) fail("a loaded value molds into a surrogate or a code point above 10FFFF");
  }
  Cell* other = stack::reserve_cell();
  cell::set_none(other);
  guarded([&] {
    lexer_scan(other, bytes, n, false, true, false, false, nullptr, nullptr, nullptr, nullptr);
  });
  guarded([&] {
    lexer_scan(other, bytes, n, true, false, false, false, nullptr, nullptr, nullptr, nullptr);
  });
  stack::state().top = mark;
}

void launch() {
  rt::add_terminal_restore_hook(&fuzz::save_input);
  std::mt19937 rng(20261210);
  uint64_t runs = fuzz::run_for(g_seconds, [&] { run_one(make_input(rng)); });
  fuzz::finish(runs, g_loaded, "loaded");
}

}  // namespace

int main(int argc, char** argv) {
  fuzz::input().label = "lexer";
  fuzz::input().file = "fuzz-lexer-crash.bin";
  g_seconds = fuzz::seconds_arg(argc, argv);
  fuzz::read_replay_args(argc, argv);
  char* args[] = {argv[0], nullptr};
  boot::start(1, args, &launch);
}
