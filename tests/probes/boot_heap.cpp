// Probe: the boot heap laid in at start against the boot image decoded (a no-op image sink
// makes it decode; `damaged` gives a start the image with a byte of the decode's own changed,
// which it must refuse and decode): whether it was laid in and the digest of the whole memory
// state once the boot library ran; then (laid in) images refused by their checks, leaving the
// state as it was.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/heap_image.h"
#include "runtime/io/boot_heap.h"
#include "runtime/io/boot_image.h"
#include "runtime/io/kelbin.h"
#include "runtime/rt.h"
#include "runtime/startup.h"

using namespace kel;

namespace {

int failures = 0;

void check(bool ok, const char* name) {
  std::printf("%s %s\n", ok ? "ok" : "FAIL", name);
  if (!ok) ++failures;
}

void put32(std::vector<uint8_t>* v, size_t at, uint32_t x) { std::memcpy(v->data() + at, &x, 4); }

bool parses(const std::vector<uint8_t>& v) {
  heap_image::View view;
  return heap_image::parse(v.data(), v.size(), &view);
}

void refusals() {
  boot_image::Bytes heap = boot_heap::get();
  std::vector<uint8_t> good(heap.data, heap.data + heap.size);
  check(parses(good), "the embedded image parses");
  // Images that must not parse: cut, unsealed, or sealed again over a bad field.
  struct Case {
    const char* name;
    void (*spoil)(std::vector<uint8_t>*);
    bool reseal;
  } cases[] = {
      {"cut by a word", [](std::vector<uint8_t>* v) { v->resize(v->size() - 8); }, true},
      {"cut inside the header", [](std::vector<uint8_t>* v) { v->resize(96); }, true},
      {"size not a whole word", [](std::vector<uint8_t>* v) { v->push_back(0); }, true},
      {"another magic", [](std::vector<uint8_t>* v) { (*v)[7] = '2'; }, true},
      {"another version", [](std::vector<uint8_t>* v) { put32(v, 8, 2); }, true},
      {"a node slot changed", [](std::vector<uint8_t>* v) { (*v)[v->size() - 16] ^= 0x10; }, false},
      {"a byte before the step's own changed", [](std::vector<uint8_t>* v) { (*v)[200] ^= 0x01; }, false},
      {"a header field changed", [](std::vector<uint8_t>* v) { put32(v, 64, 7); }, false},
      {"arena runs past the used bytes", [](std::vector<uint8_t>* v) { put32(v, 12, 8); }, true},
      {"no pools", [](std::vector<uint8_t>* v) { put32(v, 52, 0); }, true},
      {"more runs than bytes", [](std::vector<uint8_t>* v) { put32(v, 56, 0x10000000); }, true},
      {"a first run longer than the image", [](std::vector<uint8_t>* v) { put32(v, 132, 0x7FFFFFF0); }, true},
      {"a run across the step's first byte", [](std::vector<uint8_t>* v) { put32(v, 104, 100); }, true},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> v = good;
    c.spoil(&v);
    if (c.reseal) heap_image::seal(&v);
    check(!parses(v), c.name);
  }
  // A sound image laid over another state, or for another boot image, changes nothing.
  heap_image::View view;
  heap_image::parse(good.data(), good.size(), &view);
  uint64_t was = heap_image::digest();
  Node result = 0;
  check(!heap_image::lay_in(view, boot_image::stamp() + 1, &result) && heap_image::digest() == was,
        "another boot image's heap is refused");
  check(!heap_image::lay_in(view, boot_image::stamp(), &result) && heap_image::digest() == was,
        "a heap made from another state is refused");
}

void at_launch() {
  std::printf("laid %d\n", kelbin::boot_heap_laid_q() ? 1 : 0);
  std::printf("digest %016llx\n", static_cast<unsigned long long>(heap_image::digest()));
  if (kelbin::boot_heap_laid_q()) refusals();
  std::fflush(stdout);
  rt::exit_process(failures ? 1 : 0);
}

void ignore(const std::vector<uint8_t>&) {}

}  // namespace

std::vector<uint8_t> g_damaged;

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "decode") == 0) kelbin::set_heap_image_sink(&ignore);
  if (argc > 1 && std::strcmp(argv[1], "damaged") == 0) {
    boot_image::Bytes heap = boot_heap::get();
    g_damaged.assign(heap.data, heap.data + heap.size);
    if (!g_damaged.empty()) g_damaged[g_damaged.size() / 2] ^= 0x10;  // inside the decode's bytes
    kelbin::set_boot_heap(g_damaged.data(), g_damaged.size());
  }
  char* args[] = {argv[0], nullptr};
  boot::start(1, args, &at_launch);
}
