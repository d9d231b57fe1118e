// MurmurHash3 x86 32-bit over byte runs, its finaliser, and the process hash seed.
// Every hash table of the runtime hashes through these.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::hash {

// Set once at start-up, before any table is made; never stored outside the process.
extern uint32_t seed;

uint32_t murmur3_x86_32_seeded(const void* data, size_t len, uint32_t seed);
// Seeded with the process seed.
uint32_t murmur3_x86_32(const void* data, size_t len);

// fmix32 alone, no seed.
inline uint32_t mix_int32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// The block step of the body, shared with the per-character string hash.
inline uint32_t murmur3_mix_block(uint32_t h, uint32_t k) {
  k *= 0xCC9E2D51u;
  k = (k << 15) | (k >> 17);
  k *= 0x1B873593u;
  h ^= k;
  h = (h << 13) | (h >> 19);
  return h * 5 + 0xE6546B64u;
}

}  // namespace kel::hash
