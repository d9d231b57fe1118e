// The face tree: widgets made for faces, face changes applied to widgets, trees freed, the
// image of a face turned into cells, the `rate` timer and the backend's start-up.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::gui {

// `gui/OS-make-view`: the widget for a face under the parent widget (0 for a window); its
// id. A bad `rate` raises script/invalid-facet-type before anything is made.
uint32_t os_make_view(const Cell* face, uint32_t parent);
// `gui/OS-update-view`: applies the change bits of state/2 (cleared) to the face's widget.
void os_update_view(const Cell* face);
// `free face tree`: the pane's widgets first, then the face's own; state becomes none.
void free_face_tree(const Cell* face);
// `gui/OS-destroy-view`: frees the tree, ends the loop when empty is true, and marks a
// repaint when windows remain.
void os_destroy_view(const Cell* face, bool empty);
// The face's image (image!) as cells of the widget; anything else clears them.
void image_to_cells(uint32_t widget, const Cell* image);
// The interval a `rate` value asks for in ms, -1 for none; raises invalid-facet-type.
int32_t rate_interval(const Cell* rate);

// The colour level check-color-support gave at start-up (4: true colour).
int32_t colour_level();
void set_colour_level(int32_t level);

// The start-up: version, build and product of system/view/platform, the colour level, the
// screen lists, the widget table, the timers, the input queue and the collector marker.
void start_up();

}  // namespace kel::gui
