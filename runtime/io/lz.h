// The LZ block codec: a bit-level dictionary packer and its checked unpacker, used for
// compressed KELBIN bodies.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::lz {

// Unpacks a container (8-byte header, then blocks) of size bytes into out. False on any
// fault (bad length word, overflow of the declared size, a match outside its block, a
// truncated stream); out is then cleared. The output grows block by block, so a header
// that declares gigabytes costs nothing until blocks deliver them.
bool unpack(const uint8_t* container, size_t size, std::vector<uint8_t>* out);

// Packs length bytes into destination (room for length bytes). Returns the container
// size, or -1 when the input is shorter than 128 bytes or the packed form would not fit.
int64_t pack(const uint8_t* source, size_t length, uint8_t* destination);

}  // namespace kel::lz
