// Fuzz driver for terminal input: the line editor's key decoder and the GUI's queue decoder
// over pieces of escape sequences, UTF-8 and control bytes, split into random reads. Every
// key is a code point or a known key code, nothing is read past the bytes, each decode ends,
// and the GUI queue never holds more than a cut-off character once the input stops coming.
// Runs for --seconds N (default 2), or as a libFuzzer target when built with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gui/terminal/input.h"
#include "runtime/keys.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

size_t g_size = 0;
int g_calls = 0;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "terminal-input fuzz: %s (%zu bytes)\n", what, g_size);
  std::abort();
}

void check_character(int32_t c, int32_t special) {
  if (special) {
    if (!(special == 10 || (special <= -20 && special >= -42))) fail("unknown special key");
  } else if (c < 0 || c > 0x10FFFF) {
    fail("character out of range");
  }
  // Every tenth call out resets the queue, as a nested event loop does.
  if (++g_calls % 10 == 0) kel::gui::reset_input();
}

void check_position(int32_t, float x, float y, uint32_t) {
  if (!(x >= -1.0f && x < 100000.0f && y > -200000.0f && y < 100000.0f)) fail("position out of range");
}

const kel::gui::InputSink kChecker{
    check_character,
    check_position,
    check_position,
    [](int32_t steps, float x, float y, uint32_t f) {
      if (steps != 1 && steps != -1) fail("wheel steps");
      check_position(0, x, y, f);
    },
    [] { return true; },
    nullptr,
};

void check_editor(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);  // exact size: a read past it shows
  size_t at = 0;
  while (at < size) {
    int32_t code = -99;
    size_t used = kel::keys::decode_editor_key(bytes.data() + at, size - at, true, &code);
    if (used == 0 || used > size - at) fail("editor decoder used no byte or too many");
    bool known = (code >= 0 && code <= 0x10FFFF) || (code <= -20 && code >= -29);
    if (!known) fail("editor key code");
    at += used;
  }
}

void check_gui(const uint8_t* data, size_t size, std::mt19937* rng) {
  kel::gui::reset_input();
  kel::gui::set_input_sink(&kChecker);
  size_t at = 0;
  while (at < size) {
    size_t n = 1 + (rng ? (*rng)() % 16 : size);
    if (n > size - at) n = size - at;
    for (size_t i = 0; i < n; ++i) kel::gui::queue_byte(data[at + i]);
    at += n;
    kel::gui::decode_input();
    if (kel::gui::read_position() > kel::gui::queued_count() + 1) fail("read position past the queue");
  }
  // Two passes with nothing new: only a cut-off character may wait.
  kel::gui::decode_input();
  kel::gui::decode_input();
  if (kel::gui::queued_count() > 3) fail("bytes left once the input stopped");
  kel::gui::set_input_sink(nullptr);
}

std::vector<uint8_t> make_input(std::mt19937& rng) {
  static const char* const pieces[] = {
      "\x1b", "\x1b[", "\x1b[<", "\x1bO", "\x1bP", "\x1b]", "\x1b\\", "[", "<", ";", "0", "1",
      "5", "9", "64", "99999999", "M", "m", "R", "~", "A", "Z", "H", "P", "\x07", "\r", "\n",
      "\x08", "\x7f", "\x03", "a", "\xc3", "\xa9", "\xe2\x82", "\xac", "\xf0\x9f\x98", "\x80",
      "\xff", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x1b[<0;10;5M", "\x1b[12;40R", "\x1b[3;5~"};
  std::vector<uint8_t> out;
  size_t n = rng() % 48;
  for (size_t i = 0; i < n; ++i) {
    if (rng() % 6 == 0) {
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
  g_size = size;
  check_editor(data, size);
  check_gui(data, size, nullptr);
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  std::mt19937 rng(12345);
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  size_t runs = 0;
  const uint8_t fixed[] = "a\x1b[<0;10;5M\x1b[<0;10;5m\x1bP1$r\x1b\\x\xe2\x82\xac\xff\x1b[1;5A\x1b";
  LLVMFuzzerTestOneInput(fixed, sizeof fixed - 1);
  while (std::chrono::steady_clock::now() < end) {
    auto input = make_input(rng);
    g_size = input.size();
    check_editor(input.data(), input.size());
    check_gui(input.data(), input.size(), &rng);
    ++runs;
  }
  std::printf("terminal-input fuzz: %zu inputs\n", runs);
  return 0;
}
#endif
