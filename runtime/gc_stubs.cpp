// Weak defaults for collector steps owned by units not yet built (hash tables, cycle
// guard, image!). Each owner's real definition replaces its default here.
#include "runtime/gc.h"

namespace kel::hash {
// Until hash tables exist a table is one plain series.
[[gnu::weak]] void mark_table(Node* table) {
  if (*table) gc::mark_series(table);
}
[[gnu::weak]] void sweep_records(Node*) {}
}  // namespace kel::hash

namespace kel::cycle {
[[gnu::weak]] void remap() {}
}

namespace kel::image {
[[gnu::weak]] void gc_mark_bitmap(Cell*) {}
}
