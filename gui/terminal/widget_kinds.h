// Widget kinds: the set-up, paint, input and update callbacks a face's type chooses (field,
// button, base, progress, group-box, check, radio, text-list, rich-text) and their state.
#pragma once
#include <cstdint>

#include "gui/terminal/widgets.h"
#include "runtime/cell.h"

namespace kel::gui {

// Start-up: the type and option words the kinds test (interning may allocate, painting
// must not).
void init_kinds();
// The kind's set-up for a new widget whose face, type and rectangle are set. May run Kel
// code (a kind's first update): the widget may be gone afterwards.
void setup_kind(uint32_t widget);
// Runs the widget's on-update (Kel code may run).
void run_on_update(uint32_t widget);

bool window_type_q(const Widget* w);
bool field_or_area_q(const Widget* w);
bool text_list_q(const Widget* w);
bool rich_text_q(const Widget* w);
bool drop_list_q(const Widget* w);

// The accessors the script glue reaches through its routines.
bool widget_focused_q(uint32_t widget);
// A text list's first visible row; 0 for other kinds and for no widget.
int32_t widget_data_word(uint32_t widget);
void set_ui_text(uint32_t widget, const Cell* text);

// A text list's data lost part items at index: the first visible row and `selected` are
// pulled back inside it.
void text_list_pull_back(uint32_t widget, int32_t index, int32_t part);
// The prepared cells of a rich-text widget (null when unbuilt or another kind).
const PreparedCells* rich_text_cells(uint32_t widget);

// Calls function `index` of the TUI-helpers object with the face (null: no argument); the
// result into out.
void call_tui_helper(int32_t index, const Cell* face, Cell* out);
// The field names of TUI-helpers in their order (the widget code calls them by position).
constexpr int32_t TUI_HELPER_COUNT = 11;
extern const char* const TUI_HELPER_NAMES[TUI_HELPER_COUNT];

// Field state: characters before the caret, its column, and the text's width in cells.
struct FieldData {
  int32_t caret_index;
  int32_t caret_column;
  int32_t text_width;
};
const FieldData* field_data(uint32_t widget);

}  // namespace kel::gui
