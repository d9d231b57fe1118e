// Random numbers: the 624-word twisted generator with arithmetic right shifts, the
// operating system's secure source, and the uniform pick used by every random action.
#pragma once
#include <cstdint>

namespace kel::random {

// Start-up: seeds the generator with 19650218.
void init();
// Reseeds the generator; its next 624 outputs are the tempered seeding words.
void seed(int32_t seed);
// The next output, 0 to 2147483647.
int32_t next_word();
// Four bytes from the operating system's generator (getrandom), low 31 bits.
int32_t secure_31();
// Uniform in 1..n for n > 0, -1..n for n < 0, 0 for 0; min-int gives -1 minus one draw.
int32_t pick_1_to_n(bool secure, int32_t n);

}  // namespace kel::random
