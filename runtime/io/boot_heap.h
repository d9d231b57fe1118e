// The embedded boot heap: the heap image of what decoding the boot image leaves, defined by
// the source kel-mkheap generates (the image tools define an empty one: they start without).
#pragma once
#include "runtime/io/boot_image.h"

namespace kel::boot_heap {
boot_image::Bytes get();
}  // namespace kel::boot_heap
