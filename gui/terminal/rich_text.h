// Rich text: the prepared cells of a rich-text face (one per character of its text), the
// style block in its `data` applied to them, and the text-box metrics queries.
#pragma once
#include <cstdint>

#include "gui/terminal/widgets.h"
#include "runtime/cell.h"

namespace kel::gui {

// Start-up: the style words.
void init_rich_text();
// Rebuilds the widget's cells from its face's text, colour and style block (`data`); empty
// text or a `data` that is no block leaves them unbuilt. Raises script/draw-invalid.
void rebuild_rich_text(uint32_t widget);
void free_rich_text_data(void* data);
// Applies a style block to cells holding the characters of a text (raises draw-invalid).
void apply_text_styles(PreparedCells* cells, const Cell* styles);
// `gui/OS-text-box-metrics`: query type about arg0 for a rich-text face whose text is a
// string; the result into out.
void text_box_metrics(const Cell* face, const Cell* arg0, int32_t type, Cell* out);

}  // namespace kel::gui
