// Standard input's bytes, read in blocks and shared by every reader in the order they arrive.
#include "console/stdin_buffer.h"

#include <cstring>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/keys.h"
#include "runtime/output.h"
#include "runtime/terminal.h"

namespace kel::stdin_buffer {

namespace {
constexpr size_t READ_SIZE = 65536;
std::vector<uint8_t> g_bytes;
size_t g_begin = 0;
}  // namespace

const uint8_t* data() { return g_bytes.data() + g_begin; }
size_t size() { return g_bytes.size() - g_begin; }

void consume(size_t n) {
  g_begin += n < size() ? n : size();
  if (g_begin == g_bytes.size()) {
    g_bytes.clear();
    g_begin = 0;
  }
}

void reset() {
  g_bytes.clear();
  g_bytes.shrink_to_fit();
  g_begin = 0;
}

int64_t fill() {
  if (g_begin > 0) {
    g_bytes.erase(g_bytes.begin(), g_bytes.begin() + ptrdiff_t(g_begin));
    g_begin = 0;
  }
  size_t old = g_bytes.size();
  g_bytes.resize(old + READ_SIZE);
  int64_t r = terminal::read_input(g_bytes.data() + old, READ_SIZE);
  g_bytes.resize(old + size_t(r > 0 ? r : 0));
  return r;
}

namespace {
// Decodes the buffered bytes of the line into emit(cp) until a line feed (consumed) or the
// end of the buffered bytes; answers whether the line feed was met. A sequence cut off at
// the end of the buffer stays for the next fill, unless the input has ended.
template <class Emit>
bool decode_line(bool ended, bool* got, Emit emit) {
  const uint8_t* p = data();
  size_t n = size();
  size_t i = 0;
  while (i < n) {
    uint8_t b = p[i];
    if (b == '\n') {
      consume(i + 1);
      return true;
    }
    size_t used = 1;
    int32_t cp = b;
    if (b >= 0x80) {
      cp = keys::decode_utf8(p + i, n - i, &used);
      if (cp == keys::UTF8_CUT) {
        if (!ended) break;
        cp = 0xFFFD;
        used = n - i;
      } else if (cp == keys::UTF8_BAD) {
        cp = 0xFFFD;
      }
    }
    emit(cp);
    *got = true;
    i += used;
  }
  consume(i);
  return false;
}

template <class Emit>
bool read_line_with(Emit emit) {
  bool got = false;
  bool ended = false;
  for (;;) {
    if (decode_line(ended, &got, emit)) return true;
    if (ended) return got;
    if (fill() <= 0) ended = true;
  }
}
}  // namespace

bool read_line(Cell* line) {
  return read_line_with([line](int32_t cp) { string::add_codepoint(line, cp); });
}

bool read_line_bytes(std::string* line) {
  return read_line_with([line](int32_t cp) {
    uint8_t buf[4];
    int k = unicode::encode_utf8_raw(uint32_t(cp), buf);
    line->append(reinterpret_cast<char*>(buf), size_t(k));
  });
}

}  // namespace kel::stdin_buffer
