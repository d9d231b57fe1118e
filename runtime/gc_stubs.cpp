// Weak defaults for collector steps owned by units not yet built (image!).
// Each owner's real definition replaces its default here.
#include "runtime/gc.h"

namespace kel::image {
[[gnu::weak]] void gc_mark_bitmap(Cell*) {}
}
