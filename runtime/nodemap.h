// Node address map: open addressing with 32-bit keys and values on the process heap,
// used by the collector to record moved nodes (old node -> new node).
#pragma once
#include <cstdint>

namespace kel::hash {
// Murmur3 finaliser.
inline uint32_t mix_int32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}
}  // namespace kel::hash

namespace kel::addr_map {

struct Map {
  uint32_t size;       // live entries
  uint8_t* flags;      // 2 bits per bucket: 2 empty, 1 deleted, 0 live
  uint32_t* entries;   // bucket count pairs: key, value
  uint32_t occupied;   // buckets not empty
  uint32_t buckets;    // a power of two, at least 4
  uint32_t upper;      // upper bound of occupied before a resize
};

Map* create(uint32_t expected);
uint32_t put(Map* map, uint32_t key, uint32_t value);    // 0 new key, 1 present
uint32_t* get(Map* map, uint32_t key);                   // value word or null
int32_t find(Map* map, uint32_t key);                    // bucket or -1
void delete_(Map* map, uint32_t key);
uint32_t* next_live(Map* map, uint32_t* previous);       // entry (key word) or null
uint32_t size(Map* map);
void clear(Map* map);
void free(Map* map);

}  // namespace kel::addr_map
