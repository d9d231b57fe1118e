// Fuzz driver for face text painted into the GUI's grid: escape sequences, wide characters,
// controls and newlines, at random origins, clips and grid sizes, with and without wrapping.
// Nothing is written outside the grid, a wide character's second column always follows its
// head, and the frame made from the grid holds no control byte but its own (ESC, CR, LF).
// Runs for --seconds N (default 2), or as a libFuzzer target when built with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gui/terminal/console_io.h"
#include "gui/terminal/paint.h"
#include "gui/terminal/screen.h"
#include "runtime/init.h"
#include "runtime/io/simple_io.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

size_t g_size = 0;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "face-text fuzz: %s (%zu bytes)\n", what, g_size);
  std::abort();
}

void check_grid() {
  kel::gui::Screen& s = kel::gui::screen();
  for (int32_t y = 0; y < s.height; ++y) {
    int32_t owed = 0;  // tail columns the last head still covers
    for (int32_t x = 0; x < s.width; ++x) {
      const kel::gui::ScreenCell& c = s.cells[size_t(y) * size_t(s.width) + size_t(x)];
      bool tail = c.attrs & kel::gui::attr::WIDE_TAIL;
      if (tail != (owed > 0)) fail("a wide character's columns are apart");
      if (tail) {
        --owed;
      } else if (c.ch) {
        int32_t w = kel::gui::char_width(int32_t(c.ch));
        owed = w > 1 ? w - 1 : 0;
      }
    }
  }
  s.output.clear();
  s.lines_used = 0;
  kel::gui::output_grid();
  const std::string& out = s.output;
  for (size_t i = 0; i < out.size(); ++i) {
    uint8_t b = uint8_t(out[i]);
    if (b == 0x1B) {
      if (i + 1 >= out.size() || out[i + 1] != '[') fail("ESC without a sequence in the frame");
      continue;
    }
    if ((b < 0x20 && b != '\r' && b != '\n') || b == 0x7F) fail("a control byte in the frame");
    if (b == 0xC2 && i + 1 < out.size() && uint8_t(out[i + 1]) >= 0x80 && uint8_t(out[i + 1]) <= 0x9F)
      fail("a C1 control in the frame");
  }
}

void paint_once(const uint8_t* data, size_t size, uint32_t shape) {
  kel::stack::TopGuard keep;
  // Face text is a string: its characters, bad bytes as U+FFFD.
  std::string valid = kel::unicode::valid_utf8(std::string(reinterpret_cast<const char*>(data), size));
  kel::Cell* text = kel::simple_io::push_utf8_string(reinterpret_cast<const uint8_t*>(valid.data()),
                                                     int64_t(valid.size()));
  kel::gui::Screen& s = kel::gui::screen();
  s.width = int32_t(shape % 13);
  s.height = int32_t(shape / 13 % 5);
  s.cells.assign(size_t(s.width) * size_t(s.height), kel::gui::ScreenCell{0, 0, 0, 0});
  if (s.width < 1 || s.height < 1) return;
  int32_t x = int32_t(shape / 65 % 9) - 3, y = int32_t(shape / 585 % 5) - 2;
  kel::gui::ClipRect clip{std::max(0, x + int32_t(shape / 2925 % 3)), std::max(0, y),
                          std::min(s.width, x + 1 + int32_t(shape / 8775 % 12)), s.height};
  kel::gui::PaintStyle style{kel::gui::STYLE_ESCAPES | (shape & 1 ? kel::gui::attr::PASSWORD : 0u),
                             shape & 2 ? kel::gui::align::WRAP : 0u, 0, 0};
  if (clip.right > clip.left) kel::gui::paint_text(text, nullptr, x, y, clip, style);
  // A second text over part of the first cuts its wide characters.
  kel::gui::ClipRect inner{std::max(0, clip.left + 1), clip.top, clip.right, clip.bottom};
  if (inner.right > inner.left) kel::gui::paint_text(text, nullptr, inner.left, y, inner, style);
  check_grid();
}

std::vector<uint8_t> make_input(std::mt19937& rng) {
  static const char* const pieces[] = {
      "\x1b", "\x1b[", "[", ";", "0", "1", "31", "38;5;200", "48;5;1", "m", "K", "H", "9999999",
      "\n", "\t", "\r", "\x7f", "a", "bc", "\xe4\xb8\xad", "\xc2\x9b", "\xcc\x81", "\xf0\x9f\x98\x80",
      "\xff", "\x1b[1;4m", "\x1b[0m", "\x1b[38;2;1;2;3m", "\x00"};
  std::vector<uint8_t> out;
  size_t n = rng() % 40;
  for (size_t i = 0; i < n; ++i) {
    if (rng() % 8 == 0) {
      out.push_back(uint8_t(rng()));
      continue;
    }
    const char* p = pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    out.insert(out.end(), p, p + std::max<size_t>(1, std::strlen(p)));
  }
  return out;
}

void start() {
  static bool started = false;
  if (started) return;
  started = true;
  kel::runtime::init_units();
  kel::runtime::init();
  kel::runtime::run_boot_library();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  start();
  g_size = size;
  for (uint32_t shape : {0x12345u, 0x9F3u, 0x7777u, 0x2A0Bu}) paint_once(data, size, shape);
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  start();
  std::mt19937 rng(4321);
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  size_t runs = 0;
  const uint8_t fixed[] = "ab\xe4\xb8\xad\x1b[31mc\x1b[38;5;200m\n\xe4\xb8\xad\xe4\xb8\xad\x1b";
  LLVMFuzzerTestOneInput(fixed, sizeof fixed - 1);
  while (std::chrono::steady_clock::now() < end) {
    auto input = make_input(rng);
    g_size = input.size();
    paint_once(input.data(), input.size(), uint32_t(rng()));
    ++runs;
  }
  std::printf("face-text fuzz: %zu inputs\n", runs);
  return 0;
}
#endif
