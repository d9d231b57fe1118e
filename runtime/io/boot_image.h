// The embedded boot image: its bytes, defined by the generated image source that every
// program links except the image tool (which defines an empty one: it starts without it).
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::boot_image {
struct Bytes {
  const uint8_t* data;
  size_t size;
};
Bytes get();
// A hash of the bytes, made with them (0 without an image).
uint64_t stamp();
}  // namespace kel::boot_image
