// binary! base encodings: the base 2, 16, 58 and 64 encoders and decoders behind enbase,
// debase and to binary! of an issue. Pure functions over plain memory (no allocation here).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/rt.h"

namespace kel::binary {

namespace {

const char B64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char B58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
const char HEX[] = "0123456789ABCDEF";

// Digit values of the two alphabets (-1: not a digit), for characters below 128.
struct DigitTables {
  int8_t b64[128];
  int8_t b58[128];
  constexpr DigitTables() : b64(), b58() {
    for (int i = 0; i < 128; ++i) b64[i] = b58[i] = -1;
    for (int i = 0; i < 64; ++i) b64[int(B64[i])] = int8_t(i);
    for (int i = 0; i < 58; ++i) b58[int(B58[i])] = int8_t(i);
  }
};
constexpr DigitTables DIGITS{};

// 58^5, the largest power of 58 below 2^32: base 58 runs five digits per step.
constexpr uint32_t B58_CHUNK = 656356768u;

int64_t encode64(const uint8_t* in, int64_t n, uint8_t* out) {
  uint8_t* w = out;
  int64_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
    w[0] = uint8_t(B64[v >> 18]);
    w[1] = uint8_t(B64[(v >> 12) & 63]);
    w[2] = uint8_t(B64[(v >> 6) & 63]);
    w[3] = uint8_t(B64[v & 63]);
    w += 4;
  }
  if (n - i == 1) {
    uint32_t v = uint32_t(in[i]) << 16;
    *w++ = uint8_t(B64[v >> 18]);
    *w++ = uint8_t(B64[(v >> 12) & 63]);
    *w++ = '=';
    *w++ = '=';
  } else if (n - i == 2) {
    uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8;
    *w++ = uint8_t(B64[v >> 18]);
    *w++ = uint8_t(B64[(v >> 12) & 63]);
    *w++ = uint8_t(B64[(v >> 6) & 63]);
    *w++ = '=';
  }
  return w - out;
}

int64_t encode58(const uint8_t* in, int64_t n, uint8_t* out) {
  int64_t zeros = 0;
  while (zeros < n && in[zeros] == 0) ++zeros;
  for (int64_t i = 0; i < zeros; ++i) out[i] = '1';
  // The rest as big-endian 32-bit limbs, divided by 58^5 until nothing is left.
  int64_t rest = n - zeros;
  std::vector<uint32_t> limbs(size_t((rest + 3) / 4));
  for (int64_t i = 0; i < rest; ++i) {
    int64_t from_end = rest - 1 - i;
    limbs[size_t(limbs.size() - 1 - size_t(from_end / 4))] |= uint32_t(in[zeros + i]) << (8 * (from_end % 4));
  }
  std::string digits;  // least significant first
  size_t first = 0;
  while (first < limbs.size()) {
    uint64_t r = 0;
    for (size_t k = first; k < limbs.size(); ++k) {
      uint64_t cur = (r << 32) | limbs[k];
      limbs[k] = uint32_t(cur / B58_CHUNK);
      r = cur % B58_CHUNK;
    }
    while (first < limbs.size() && limbs[first] == 0) ++first;
    for (int d = 0; d < 5; ++d) {
      digits.push_back(B58[r % 58]);
      r /= 58;
    }
  }
  while (!digits.empty() && digits.back() == '1') digits.pop_back();
  uint8_t* w = out + zeros;
  for (size_t i = digits.size(); i-- > 0;) *w++ = uint8_t(digits[i]);
  return w - out;
}

int64_t encode16(const uint8_t* in, int64_t n, uint8_t* out) {
  for (int64_t i = 0; i < n; ++i) {
    out[2 * i] = uint8_t(HEX[in[i] >> 4]);
    out[2 * i + 1] = uint8_t(HEX[in[i] & 15]);
  }
  return 2 * n;
}

int64_t encode2(const uint8_t* in, int64_t n, uint8_t* out) {
  for (int64_t i = 0; i < n; ++i)
    for (int b = 0; b < 8; ++b) out[8 * i + b] = (in[i] & (0x80 >> b)) ? '1' : '0';
  return 8 * n;
}

// The characters of the text, one at a time, with ";" comments taken out: a comment runs
// to the next line feed (which is then read as an ordinary blank); the end inside a
// comment ends the text. Returns -1 at the end.
template <uint32_t U>
struct Reader {
  const uint8_t* p;
  int64_t n;
  int64_t i = 0;
  uint32_t at(int64_t k) const {
    if constexpr (U == 1) return p[k];
    else if constexpr (U == 2) { uint16_t v; std::memcpy(&v, p + 2 * k, 2); return v; }
    else { uint32_t v; std::memcpy(&v, p + 4 * k, 4); return v; }
  }
  int64_t next() {
    while (i < n) {
      uint32_t c = at(i++);
      if (c != ';') return c;
      while (i < n && at(i) != '\n') ++i;
    }
    return -1;
  }
};

bool blank58_q(int64_t c) {
  return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == ' ' || c == '\'';
}

template <uint32_t U>
bool decode2(Reader<U> r, std::string* out) {
  out->reserve(out->size() + size_t(r.n / 8));
  uint32_t bits = 0, count = 0;
  for (int64_t c; (c = r.next()) >= 0;) {
    if (c <= ' ') continue;
    if (c != '0' && c != '1') return false;
    bits = (bits << 1) | uint32_t(c - '0');
    if (++count == 8) {
      out->push_back(char(uint8_t(bits)));
      bits = count = 0;
    }
  }
  return count == 0;
}

template <uint32_t U>
bool decode16(Reader<U> r, std::string* out) {
  out->reserve(out->size() + size_t(r.n / 2));
  uint32_t high = 0;
  bool half = false;
  for (int64_t c; (c = r.next()) >= 0;) {
    if (c > 127) return false;  // foreign text is never read as its low bits
    if (c <= ' ') continue;
    uint32_t d;
    if (c >= '0' && c <= '9') d = uint32_t(c - '0');
    else if (c >= 'A' && c <= 'F') d = uint32_t(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f') d = uint32_t(c - 'a' + 10);
    else return false;
    if (half) out->push_back(char(uint8_t(high << 4 | d)));
    else high = d;
    half = !half;
  }
  return true;  // a last odd digit is dropped
}

template <uint32_t U>
bool decode58(Reader<U> r, std::string* out) {
  // The number in 32-bit limbs, least significant first; five digits per step.
  std::vector<uint32_t> limbs;
  int64_t ones = 0;
  bool leading = true;
  uint32_t chunk = 0, chunk_digits = 0;
  auto absorb = [&](uint32_t multiplier, uint32_t add) {
    uint64_t carry = add;
    for (uint32_t& limb : limbs) {
      uint64_t cur = uint64_t(limb) * multiplier + carry;
      limb = uint32_t(cur);
      carry = cur >> 32;
    }
    if (carry) limbs.push_back(uint32_t(carry));
  };
  static constexpr uint32_t POW58[6] = {1, 58, 3364, 195112, 11316496, B58_CHUNK};
  for (int64_t c; (c = r.next()) >= 0;) {
    if (c > 127) return false;  // foreign text fails rather than end the number silently
    if (blank58_q(c)) continue;
    int d = DIGITS.b58[c];
    if (d < 0) return false;
    if (leading && d == 0) {
      ++ones;
      continue;
    }
    leading = false;
    chunk = chunk * 58 + uint32_t(d);
    if (++chunk_digits == 5) {
      absorb(B58_CHUNK, chunk);
      chunk = chunk_digits = 0;
    }
  }
  if (chunk_digits) absorb(POW58[chunk_digits], chunk);
  out->append(size_t(ones), '\0');
  bool started = false;
  for (size_t k = limbs.size(); k-- > 0;)
    for (int s = 24; s >= 0; s -= 8) {
      uint8_t b = uint8_t(limbs[k] >> s);
      if (!started && b == 0) continue;
      started = true;
      out->push_back(char(b));
    }
  return true;
}

template <uint32_t U>
bool decode64(Reader<U> r, std::string* out) {
  out->reserve(out->size() + size_t((r.n + 3) / 4 * 3));
  uint32_t acc = 0, count = 0;
  for (int64_t c; (c = r.next()) >= 0;) {
    if (c > 127) return false;
    if (blank58_q(c)) continue;
    if (c == '=') {
      if (count == 3) {
        out->push_back(char(uint8_t(acc >> 10)));
        out->push_back(char(uint8_t(acc >> 2)));
        return true;
      }
      if (count == 2) {
        out->push_back(char(uint8_t(acc >> 4)));
        return true;
      }
      return false;
    }
    int d = DIGITS.b64[c];
    if (d < 0) return false;
    acc = acc << 6 | uint32_t(d);
    if (++count == 4) {
      char three[3] = {char(uint8_t(acc >> 16)), char(uint8_t(acc >> 8)), char(uint8_t(acc))};
      out->append(three, 3);
      acc = count = 0;
    }
  }
  return true;  // a last incomplete group without "=" is dropped
}

template <uint32_t U>
bool decode(int32_t base, const uint8_t* chars, int64_t n, std::string* out) {
  Reader<U> r{chars, n};
  switch (base) {
    case 2: return decode2(r, out);
    case 16: return decode16(r, out);
    case 58: return decode58(r, out);
    case 64: return decode64(r, out);
    default: rt::fatal_error(98, 0);
  }
}

}  // namespace

bool encoded_capacity(int32_t base, int64_t n, int64_t* capacity) {
  int64_t c;
  switch (base) {
    case 64: c = (n / 3) * 4 + (n % 3) * 4 / 3 + (n / 32) * 2 + 5; break;
    case 58: c = 2 * n; break;
    case 16: c = 2 * n + n / 32 + 32; break;
    case 2: c = 8 * n + (n / 8) * 2 + 4; break;
    default: rt::fatal_error(98, 0);
  }
  *capacity = c;
  return n >= 0 && c <= 0x7FFFFFFF;
}

int64_t to_base_text(int32_t base, const uint8_t* in, int64_t n, uint8_t* out) {
  switch (base) {
    case 64: return encode64(in, n, out);
    case 58: return encode58(in, n, out);
    case 16: return encode16(in, n, out);
    case 2: return encode2(in, n, out);
    default: rt::fatal_error(98, 0);
  }
}

bool from_base_text(int32_t base, const uint8_t* chars, int64_t n, uint32_t unit,
                    std::string* out) {
  if (base != 2 && base != 16 && base != 58 && base != 64) rt::fatal_error(98, 0);
  if (n <= 0) return true;
  switch (unit) {
    case 1: return decode<1>(base, chars, n, out);
    case 2: return decode<2>(base, chars, n, out);
    case 4: return decode<4>(base, chars, n, out);
    default: rt::fatal_error(98, 0);
  }
}

}  // namespace kel::binary
