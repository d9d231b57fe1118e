// The KELBIN codec record: `system/codecs/kelbin` with its fields, and the `encode*` and
// `decode` routines that hand values to the KELBIN encoders and decoder.
#pragma once

namespace kel::kelbin_codec {
// Adds `system/codecs/kelbin`; run once the boot specs and routines are bound.
void install();
}  // namespace kel::kelbin_codec
