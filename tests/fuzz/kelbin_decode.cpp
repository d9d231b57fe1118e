// Fuzz driver for the KELBIN decoder and the LZ unpacker: committed fixtures and a value zoo
// (encoded both ways) are mutated; each input is decoded as user data (errors are fine),
// what decodes is encoded again in both forms and decoded again (same mold), and the body is
// unpacked. Each decode carves from poisoned free memory, so a cell it never wrote faults at
// once; images cut short inside a value must not decode. A fault saves the input to
// fuzz-kelbin-crash.bin; more than the allocation cap in use after an input is a fault too.
// Runs for --seconds N (default 2) in a started runtime, the second half under the collector
// stress (every 50th allocation).
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
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/io/kelbin.h"
#include "runtime/io/lz.h"
#include "runtime/io/simple_io.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "runtime/unicode.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_support.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

using namespace kel;

namespace {

double g_seconds = 2;
uint64_t g_decoded = 0;  // inputs that decoded (and went through the round trips)
std::vector<uint8_t>& g_current = fuzz::input().bytes;
constexpr size_t ALLOCATION_CAP = size_t(1) << 30;

using fuzz::fail;
using fuzz::guarded;

std::string mold_text(const Cell* v) {
  Cell* c = stack::push_copy(v);
  return simple_io::utf8_text(actions::mold(c, false, false, false, nullptr));
}

Cell* new_block() {
  Cell* b = stack::reserve_cell();
  cell::set_none(b);
  blk::init(b, 4);
  return b;
}

void run_one(const std::vector<uint8_t>& input) {
  g_current = input;
  Cell* mark = stack::state().top;
  Cell* block = new_block();
  fuzz::poison_free_memory();
  bool decoded = guarded([&] {
    kelbin::codec_q = true;
    kelbin::decode(input.data(), input.size(), block->w2, block);
  });
  if (decoded) {
    ++g_decoded;
    for (bool compact : {true, false}) {
      std::string before, after;
      bool ok = guarded([&] {
        std::vector<uint8_t> again = kelbin::encode_bytes(block, compact);
        Cell* back = new_block();
        fuzz::poison_free_memory();
        kelbin::decode(again.data(), again.size(), back->w2, back);
        if (blk::count(back->w2) != 1) fail("a re-encoded value decodes to other than one value");
        Cell* first = stack::push_copy(blk::cells(back->w2));  // molding allocates
        before = mold_text(block);
        after = mold_text(first);
      });
      if (ok && before != after) {
        std::fprintf(stderr, "before: %s\nafter:  %s\n", before.c_str(), after.c_str());
        fail("a round trip changed the value");
      }
    }
  }
  if (input.size() > 8) {
    std::vector<uint8_t> out;
    lz::unpack(input.data() + 8, input.size() - 8, &out);
  }
  stack::state().top = mark;
  if (memory::state().os_bytes > ALLOCATION_CAP) fail("allocation over the cap");
}

std::vector<uint8_t> from_hex(const char* hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  return out;
}

const char* const FIXTURES[] = {
    "4B454C42494E02010101AA",
    "4B454C42494E020101024C02",
    "4B454C42494E020101026664",
    "4B454C42494E020101040705AC20",
    "4B454C42494E0201010905020500C105020000",
    "4B454C42494E020001000000080000000B0000002A000000",
    "4B454C42494E0205010201020000000061000F00",
    "4B454C42494E02030B000000080000000800000002182840E07000",
    "4B454C42494E02010102C480",
    "4B454C42494E0201010605FFFFFFFF07",
    "4B454C42494E0201010735FFFF03FFFF03",
    "4B454C42494E0201010B3502010000FFFFFFFFFF7F",
};

// Fixed-width images whose last record inside a value is padding up to the end: none may
// decode (a function's body and an error's last field were read from cells never written).
const char* const CUT_SHORT[] = {
    "4B454C42494E0204010000003000000001000000080000000000000078000000000000001800000001000000"
    "010000000E00002401000000000000000500000000000000010000000F0000020000000000000000",
    "4B454C42494E020001000000200000002200000090010000030000000300000003000000030000000300000000000000",
    "4B454C42494E020001000000180000000500000000000000020000000B0000000100000000000000",
};

// Values of every codec type, with sharing, cycles, bindings and heads.
const char* const ZOO =
    "b: [1 2] s: \"text\" c: copy [] append/only c c i: make image! [2x2 #{FF000000FF00} #{0080FF}] o: make object! [a: 1 f: does [a] g: func [x] [x + a]] "
    "reduce [b next b s next s c o :append :if :+ func [y /z w] [reduce [y z w]] "
    "#[k 1 \"v\" [2]] make hash! [x 1 y 2] make vector! [integer! 16 [1 -2 3]] make vector! [float! 64 [0.5]] "
    "complement make bitset! \"ab\" #{00FF} [w 'w :w w: /w #w a/b/c 'a/b :a/b a/b: (1 + 2)] "
    "1.5 -0.0 1e300 33.333% 50% 10:20:30 1-Jan-2000/10:00+2:00 3-Mar-2003 $1.25 -EUR$3 1.2.3.4.5 3x4 "
    "#\"x\" \"ü€𝄞\" %file http://a.b <tag> a@b.c integer! none true false 0 63 64 -1 2147483647 "
    "try [1 / 0] reduce [o o b b] i next i skip i 3 make image! 0x2 reduce [i next i]]";

std::vector<std::vector<uint8_t>> seeds() {
  std::vector<std::vector<uint8_t>> out;
  for (const char* f : FIXTURES) out.push_back(from_hex(f));
  Cell* mark = stack::state().top;
  Cell* code = stack::reserve_cell();
  cell::set_none(code);
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  launcher::load_text(reinterpret_cast<const uint8_t*>(ZOO), int32_t(std::strlen(ZOO)), code);
  bool is_error = false;
  launcher::run_protected(code, result, &is_error);
  if (is_error) fail("the value zoo did not evaluate");
  out.push_back(kelbin::encode_bytes(result, true));
  out.push_back(kelbin::encode_bytes(result, false));
  for (uint32_t i = 0; i < blk::count(result->w2); ++i) {
    Cell v = blk::cells(result->w2)[i];
    out.push_back(kelbin::encode_bytes(&v, i % 2 == 0));
  }
  std::vector<uint8_t> plain(4000);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i % 7 == 0 ? i : i / 13);
  std::vector<uint8_t> packed(plain.size());
  int64_t n = lz::pack(plain.data(), plain.size(), packed.data());
  if (n > 0) {
    std::vector<uint8_t> image = {'K', 'E', 'L', 'B', 'I', 'N', 2, 3};
    image.insert(image.end(), packed.begin(), packed.begin() + n);
    out.push_back(image);
  }
  stack::state().top = mark;
  return out;
}

std::vector<uint8_t> mutate(const std::vector<std::vector<uint8_t>>& corpus, std::mt19937& rng) {
  std::vector<uint8_t> d = corpus[rng() % corpus.size()];
  static const uint8_t interesting[] = {0, 1, 0x7F, 0x80, 0xBF, 0xC0, 0xC1, 0xC4, 0xFF, 0x05, 0x0E, 0x20, 0x18, 0x0F, 0x3F};
  int rounds = 1 + int(rng() % 4);
  for (int r = 0; r < rounds; ++r) {
    size_t at = d.empty() ? 0 : rng() % d.size();
    switch (rng() % 7) {
      case 0: if (!d.empty()) d[at] ^= uint8_t(1u << (rng() % 8)); break;
      case 1: if (!d.empty()) d[at] = interesting[rng() % sizeof interesting]; break;
      case 2: d.insert(d.begin() + long(at), uint8_t(rng())); break;
      case 3: if (d.size() > 9) d.erase(d.begin() + long(std::max<size_t>(at, 8))); break;
      case 4: if (d.size() > 9) d.resize(8 + rng() % (d.size() - 8)); break;
      case 5: {
        const std::vector<uint8_t>& o = corpus[rng() % corpus.size()];
        if (o.size() > 8) {
          size_t from = 8 + rng() % (o.size() - 8), n = 1 + rng() % std::min<size_t>(16, o.size() - from);
          d.insert(d.begin() + long(std::max<size_t>(at, 8) > d.size() ? d.size() : std::max<size_t>(at, 8)),
                   o.begin() + long(from), o.begin() + long(from + n));
        }
        break;
      }
      default: if (!d.empty()) d[at] = uint8_t(rng()); break;
    }
  }
  return d;
}

void launch() {
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_death_callback(&fuzz::save_input);
#endif
  rt::add_terminal_restore_hook(&fuzz::save_input);
  std::vector<std::vector<uint8_t>> corpus = seeds();
  std::mt19937 rng(20261210);
  for (const char* hex : CUT_SHORT) {
    std::vector<uint8_t> image = from_hex(hex);
    uint64_t before = g_decoded;
    run_one(image);
    if (g_decoded != before) fail("an image cut short inside a value decoded");
    corpus.push_back(image);
  }
  for (const auto& s : corpus) run_one(s);
  uint64_t runs = fuzz::run_for(g_seconds, [&] { run_one(mutate(corpus, rng)); });
  fuzz::finish(runs, g_decoded, "decoded");
}

}  // namespace

int main(int argc, char** argv) {
  fuzz::input().label = "kelbin";
  fuzz::input().file = "fuzz-kelbin-crash.bin";
  g_seconds = fuzz::seconds_arg(argc, argv);
  fuzz::read_replay_args(argc, argv);
  char* args[] = {argv[0], nullptr};
  boot::start(1, args, &launch);
}
