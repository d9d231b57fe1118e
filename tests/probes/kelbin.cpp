// Probe: boot-image checks that Kel text cannot reach, run in the real runtime: the embedded
// image's header and first definition, its modules against their text loads, boot-bound
// words, and (scenarios) a bad image ending start-up. One line per check, exit 1 on a failure.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/io/boot_image.h"
#include "runtime/io/kelbin.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "runtime/symbol.h"

#ifndef KEL_BOOT_SOURCES
#error "KEL_BOOT_SOURCES must list the boot sources in manifest order"
#endif

using namespace kel;

namespace {

int failures = 0;
std::string g_scenario;

void check(bool ok, const char* name, const std::string& detail = "") {
  std::printf("%s %s%s%s\n", ok ? "ok" : "FAIL", name, detail.empty() ? "" : ": ", detail.c_str());
  if (!ok) ++failures;
}

uint32_t varint(const uint8_t* p, size_t* at) {
  uint32_t v = 0;
  for (int i = 0; i < 5; ++i) {
    uint8_t b = p[(*at)++];
    v |= uint32_t(b & 0x7F) << (7 * i);
    if (!(b & 0x80)) break;
  }
  return v;
}

void image_header() {
  boot_image::Bytes img = boot_image::get();
  const uint8_t* p = img.data;
  check(img.size > 16 && std::memcmp(p, "KELBIN\x01\x05", 8) == 0, "image starts KELBIN 01 05");
  size_t at = 8;
  varint(p, &at);                    // root count
  varint(p, &at);                    // payload size
  uint32_t n = varint(p, &at);       // symbols
  uint32_t names = varint(p, &at);   // name area
  size_t offsets = at, area = at + size_t(n) * 4;
  at = area + names;
  bool first = p[at] == 0xC4 && p[at + 1] == 0x10;
  at += 2;
  uint32_t sym = varint(p, &at);
  first = first && p[at] == 0x01 && p[at + 1] == 0x01;
  uint32_t off = uint32_t(p[offsets + sym * 4]) | uint32_t(p[offsets + sym * 4 + 1]) << 8;
  std::string name(reinterpret_cast<const char*>(p + area + off));
  check(first && name == "datatype!", "first record C4 10 <datatype!> 01 01", name);
}

// Evaluates text; the result lands in *out (a stack cell the caller keeps).
bool eval(const std::string& text, Cell* out) {
  Cell* block = stack::reserve_cell();
  cell::set_none(block);
  launcher::load_text(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), block);
  bool is_error = false;
  launcher::run_protected(block, out, &is_error);
  return !is_error;
}

// By canonical symbol id: nothing allocates while cell addresses are held.
bool word_is(const Cell* c, int32_t symbol) {
  return cell::type(c) == T_WORD && symbol::canonical_id(int32_t(c->w2)) == symbol;
}

// The text load of a source without its header and native/action definitions.
void text_module(const std::string& path, Cell* out) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  Cell* src = stack::reserve_cell();
  cell::set_none(src);
  launcher::load_text(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), src);
  launcher::skip_header(src);
  blk::init(out, 16);
  int32_t make = symbol::canonical_id(symbol::intern_c_text("make"));
  int32_t native = symbol::canonical_id(symbol::intern_c_text("native!"));
  int32_t action = symbol::canonical_id(symbol::intern_c_text("action!"));
  for (uint32_t i = src->w1; i < blk::count(src->w2);) {
    const Cell* c = blk::cells(src->w2) + i;
    if (i + 3 < blk::count(src->w2) && cell::type(c) == T_SET_WORD && word_is(c + 1, make) &&
        (word_is(c + 2, native) || word_is(c + 2, action)) && cell::type(c + 3) == T_BLOCK) {
      i += 4;
      continue;
    }
    Cell copy = *c;
    gc::Root keep(&copy);  // the append may collect and rename its nodes
    *runtime::block_append_cell(out) = copy;
    ++i;
  }
}

void modules_match_text() {
  std::vector<std::string> sources;
  std::stringstream list(KEL_BOOT_SOURCES);
  for (std::string s; std::getline(list, s, '|');)
    if (!s.empty()) sources.push_back(s);
  Cell* mark = stack::state().top;
  Cell* scratch = stack::reserve_cell();
  cell::set_none(scratch);
  blk::init(scratch, 8);
  boot_image::Bytes img = boot_image::get();
  kelbin::decode_boot_into(img.data, img.size, scratch->w2);
  check(blk::count(scratch->w2) == sources.size(), "one module per manifest source");
  for (size_t i = 0; i < sources.size() && i < blk::count(scratch->w2); ++i) {
    Cell* text = stack::reserve_cell();
    cell::set_none(text);
    text_module(sources[i], text);
    Cell* a = stack::push_copy(blk::cells(scratch->w2) + i);
    Cell w = word::intern_global("kb-image");
    *word::value_slot(&w) = *a;
    w = word::intern_global("kb-text");
    *word::value_slot(&w) = *text;
    Cell* r = stack::reserve_cell();
    cell::set_none(r);
    bool ok = eval("reduce [strict-equal? kb-image kb-text equal? mold kb-image mold kb-text]", r) &&
              cell::type(r) == T_BLOCK && blk::cells(r->w2)[0].w1 == 1 && blk::cells(r->w2)[1].w1 == 1;
    check(ok, "module strict-equal to its text load, new lines kept", sources[i]);
  }
  stack::state().top = mark;
}

void bound_words() {
  // Root 0: an object context (kind 2, self, values) with a: 1; root 1: the word `a` bound
  // to root 0's context by name (index -1); root 2: a copy of root 0 by its path [0].
  int32_t a = symbol::intern_c_text("a");
  (void)a;
  const uint8_t image[] = {'K', 'E', 'L', 'B', 'I', 'N', 1, 5, 1, 12, 1, 2, 0, 0, 0, 0, 'a', 0,
                           0x0E, 0x1A, 1, 0, 0x81,  // context record
                           0x4F, 0, 0, 1,           // word a, root 0, index -1
                           0xFF, 1, 0};             // copy of root 0
  Cell* mark = stack::state().top;
  Cell* scratch = stack::reserve_cell();
  cell::set_none(scratch);
  blk::init(scratch, 4);
  *runtime::block_append_cell(scratch) = Cell{T_INTEGER, 0, 99, 0};  // base is 1
  kelbin::decode_boot_into(image, sizeof image, scratch->w2);
  const Cell* c = blk::cells(scratch->w2);
  bool ok = blk::count(scratch->w2) == 4 && cell::type(c + 1) == T_OBJECT && cell::type(c + 2) == T_WORD &&
            c[2].w1 == c[1].w1 && c[2].w3 == 0 && cell::type(c + 3) == T_OBJECT && c[3].w1 == c[1].w1;
  check(ok, "boot word, variant set, index -1: bound by name at base + root index");
  Cell v = *context::value_slot(c + 2, c[2].w1);
  check(cell::type(&v) == T_INTEGER && cell::get_int(&v) == 1, "the bound word reads its field");
  stack::state().top = mark;
}

void checks() {
  if (g_scenario == "bad-magic") {
    const uint8_t bad[] = {'K', 'E', 'L', 'B', 'O', 'X', 1, 5, 1, 1, 0x80};
    kelbin::decode_boot_into(bad, sizeof bad, kelbin::boot_modules());
  } else if (g_scenario == "bad-record") {
    const uint8_t bad[] = {'K', 'E', 'L', 'B', 'I', 'N', 1, 1, 1, 2, 0xC4, 0x80};
    kelbin::decode_boot_into(bad, sizeof bad, kelbin::boot_modules());
  } else if (g_scenario == "not-a-block") {
    // A module that decodes to an integer: start-up would evaluate it.
    const uint8_t bad[] = {'K', 'E', 'L', 'B', 'I', 'N', 1, 1, 1, 1, 0x85};
    kelbin::decode_boot_into(bad, sizeof bad, kelbin::boot_modules());
  } else if (g_scenario == "bad-unpack") {
    const uint8_t bad[] = {'K', 'E', 'L', 'B', 'I', 'N', 1, 3, 4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    kelbin::decode_boot_into(bad, sizeof bad, kelbin::boot_modules());
  }
  image_header();
  modules_match_text();
  bound_words();
  std::fflush(stdout);
  rt::exit_process(failures ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_scenario = argv[1];
  char* args[] = {argv[0], nullptr};
  boot::start(1, args, &checks);
}
