// The LZ block codec: a bit-level dictionary packer and its checked unpacker, used for
// compressed KELBIN bodies.
#include "runtime/io/lz.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kel::lz {

namespace {

constexpr uint32_t MAX_BLOCK = 0x100000;
constexpr uint32_t WINDOW = 0x40000;
constexpr uint32_t MAX_MATCH = 566;
constexpr uint32_t CHAIN_LIMIT = 256;

uint32_t read32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Bits least significant first, one stream byte at a time (a read-ahead would take bytes of
// the next block's length word).
struct BitReader {
  const uint8_t* p;
  const uint8_t* end;
  uint32_t buffer = 0;
  int count = 0;
  bool bad = false;
  uint32_t bit() {
    if (count == 0) {
      if (p >= end) {
        bad = true;
        return 0;
      }
      buffer = *p++;
      count = 8;
    }
    uint32_t b = buffer & 1;
    buffer >>= 1;
    --count;
    return b;
  }
  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= bit() << i;
    return v;
  }
};

// Unpacks the blocks in [p, end) into out; limit caps the total output.
bool unpack_blocks(const uint8_t* p, const uint8_t* end, uint64_t limit, std::vector<uint8_t>* out) {
  while (p < end) {
    if (end - p < 4) return false;
    uint32_t length = read32(p);
    p += 4;
    if (length == 0 || length > MAX_BLOCK || out->size() + length > limit) return false;
    size_t start = out->size();
    out->resize(start + length);
    uint8_t* o = out->data() + start;
    BitReader r{p, end};
    uint32_t pos = 0;
    while (pos < length) {
      if (!r.bit()) {
        uint32_t byte = r.bits(8);
        if (r.bad) return false;
        o[pos++] = uint8_t(byte);
        continue;
      }
      uint32_t extra;
      if (r.bit()) extra = r.bits(2);
      else if (r.bit()) extra = 4 + r.bits(2);
      else if (r.bit()) extra = 8 + r.bits(2);
      else if (r.bit()) extra = 12 + r.bits(3);
      else if (r.bit()) extra = 20 + r.bits(5);
      else extra = 52 + r.bits(9);
      uint32_t k = r.bits(4);
      uint32_t d = k == 0 ? r.bits(3) : r.bits(int(k + 2)) + (1u << (k + 2));
      uint32_t n = extra + 3;
      if (r.bad || d >= pos || n > length - pos) return false;
      for (uint32_t i = 0; i < n; ++i, ++pos) o[pos] = o[pos - d - 1];
    }
    p = r.p;
  }
  return true;
}

struct BitWriter {
  uint8_t* out;
  size_t room;
  size_t used = 0;
  uint32_t acc = 0;
  int count = 0;
  bool full = false;
  void byte(uint8_t b) {
    if (used >= room) {
      full = true;
      return;
    }
    out[used++] = b;
  }
  void bits(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      acc |= ((v >> i) & 1) << count;
      if (++count == 8) {
        byte(uint8_t(acc));
        acc = 0;
        count = 0;
      }
    }
  }
  // Ends the block's stream on a byte boundary (zero bits fill the last byte).
  void flush() {
    if (count) bits(0, 8 - count);
  }
  void word(uint32_t v) {
    for (int i = 0; i < 4; ++i) byte(uint8_t(v >> (8 * i)));
  }
};

void emit_match(BitWriter& w, uint32_t length, uint32_t distance) {
  w.bits(1, 1);
  uint32_t extra = length - 3;
  if (extra < 4) {
    w.bits(1, 1);
    w.bits(extra, 2);
  } else if (extra < 8) {
    w.bits(0b10, 2);
    w.bits(extra - 4, 2);
  } else if (extra < 12) {
    w.bits(0b100, 3);
    w.bits(extra - 8, 2);
  } else if (extra < 20) {
    w.bits(0b1000, 4);
    w.bits(extra - 12, 3);
  } else if (extra < 52) {
    w.bits(0b10000, 5);
    w.bits(extra - 20, 5);
  } else {
    w.bits(0, 5);
    w.bits(extra - 52, 9);
  }
  uint32_t d = distance - 1;
  if (d < 8) {
    w.bits(0, 4);
    w.bits(d, 3);
  } else {
    int j = 31 - __builtin_clz(d);
    w.bits(uint32_t(j - 2), 4);
    w.bits(d - (1u << j), j);
  }
}

}  // namespace

bool unpack(const uint8_t* container, size_t size, std::vector<uint8_t>* out) {
  out->clear();
  bool ok = false;
  if (size >= 8) {
    uint32_t packed = read32(container);
    uint32_t unpacked = read32(container + 4);
    if (packed <= size - 8) {
      ok = unpack_blocks(container + 8, container + 8 + packed, uint64_t(unpacked) + 8, out);
    } else if (uint64_t(packed) + 4 == size) {
      // The short form: the count word alone, the total being the sum of the blocks.
      ok = unpack_blocks(container + 4, container + size, UINT64_MAX, out);
    }
  }
  if (!ok) {
    out->clear();
    out->shrink_to_fit();
  }
  return ok;
}

int64_t pack(const uint8_t* source, size_t length, uint8_t* destination) {
  if (length < 128) return -1;
  std::unique_ptr<int32_t[]> heads3(new int32_t[1u << 19]);
  std::unique_ptr<int32_t[]> heads4(new int32_t[1u << 20]);
  std::unique_ptr<int32_t[]> chain(new int32_t[WINDOW]);
  std::vector<uint8_t> work(MAX_BLOCK + MAX_MATCH, 0);
  BitWriter w{destination, length};
  w.word(0);
  w.word(0);
  for (size_t at = 0; at < length && !w.full; at += MAX_BLOCK) {
    uint32_t n = uint32_t(std::min<size_t>(MAX_BLOCK, length - at));
    std::memcpy(work.data(), source + at, n);
    std::fill(work.begin() + n, work.end(), 0);
    std::fill(heads3.get(), heads3.get() + (1u << 19), -1);
    std::fill(heads4.get(), heads4.get() + (1u << 20), -1);
    const uint8_t* b = work.data();
    auto h3 = [&](uint32_t i) { return ((uint32_t(b[i]) << 14) + (uint32_t(b[i + 1]) << 7) + b[i + 2]) & 0x7FFFF; };
    auto h4 = [&](uint32_t i) {
      return ((uint32_t(b[i]) << 15) + (uint32_t(b[i + 1]) << 10) + (uint32_t(b[i + 2]) << 5) + b[i + 3]) & 0xFFFFF;
    };
    auto insert = [&](uint32_t i) {
      heads3[h3(i)] = int32_t(i);
      uint32_t k = h4(i);
      chain[i % WINDOW] = heads4[k];
      heads4[k] = int32_t(i);
    };
    auto match_length = [&](uint32_t from, uint32_t i, uint32_t limit) {
      uint32_t len = 0;
      while (len < limit && b[from + len] == b[i + len]) ++len;
      return len;
    };
    w.word(n);
    uint32_t i = 0;
    while (i < n) {
      uint32_t limit = std::min(MAX_MATCH, n - i);
      uint32_t best = 2, dist = WINDOW;
      if (limit >= 3) {
        int32_t c = heads3[h3(i)];
        if (c >= 0 && i - uint32_t(c) <= WINDOW) {
          uint32_t len = match_length(uint32_t(c), i, limit);
          if (len > best) {
            best = len;
            dist = i - uint32_t(c);
          }
        }
        int32_t cand = heads4[h4(i)];
        for (uint32_t tries = 0; best < limit && cand >= 0 && tries < CHAIN_LIMIT; ++tries) {
          uint32_t c4 = uint32_t(cand);
          uint32_t d = i - c4;
          if (d > WINDOW) break;
          if (b[c4 + best] == b[i + best]) {
            uint32_t len = match_length(c4, i, limit);
            uint32_t k = 0;
            for (uint32_t x = d / 16; x > dist; x >>= 3) ++k;
            if (len > best + k) {
              best = len;
              dist = d;
            }
          }
          int32_t next = chain[c4 % WINDOW];
          if (next >= cand) break;  // the ring slot was reused by a newer position
          cand = next;
        }
      }
      if (best == 3 && dist > 65536) best = 2;
      uint32_t covered = 1;
      if (best < 3) {
        w.bits(0, 1);
        w.bits(b[i], 8);
      } else {
        emit_match(w, best, dist);
        covered = best;
      }
      for (uint32_t k = 0; k < covered; ++k) insert(i + k);
      i += covered;
    }
    w.flush();
  }
  if (w.full || w.used > length) return -1;
  uint32_t packed = uint32_t(w.used - 8);
  for (int k = 0; k < 4; ++k) {
    destination[k] = uint8_t(packed >> (8 * k));
    destination[4 + k] = uint8_t(uint32_t(length) >> (8 * k));
  }
  return int64_t(w.used);
}

}  // namespace kel::lz
