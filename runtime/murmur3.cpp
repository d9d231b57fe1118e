// MurmurHash3 x86 32-bit and the process hash seed.
// Byte runs are read little-endian, four bytes a block, tail bytes folded last.
#include "runtime/murmur3.h"

#include <cstring>

namespace kel::hash {

uint32_t seed = 0x4B454C31u;

uint32_t murmur3_x86_32_seeded(const void* data, size_t len, uint32_t s) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t h = s;
  size_t blocks = len / 4;
  for (size_t i = 0; i < blocks; i++) {
    uint32_t k;
    std::memcpy(&k, p + i * 4, 4);
    h = murmur3_mix_block(h, k);
  }
  const uint8_t* tail = p + blocks * 4;
  uint32_t k = 0;
  switch (len & 3) {
    case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
    case 1:
      k ^= tail[0];
      k *= 0xCC9E2D51u;
      k = (k << 15) | (k >> 17);
      k *= 0x1B873593u;
      h ^= k;
  }
  h ^= uint32_t(len);
  return mix_int32(h);
}

uint32_t murmur3_x86_32(const void* data, size_t len) { return murmur3_x86_32_seeded(data, len, seed); }

}  // namespace kel::hash
