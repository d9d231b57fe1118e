// Face values in the backend's own forms: flag bits, colours, points, the font's face list
// (`link-font`), UTF-16 counts of text ranges and zero-filling of records.
#include "gui/terminal/face_values.h"

#include <cstring>

#include "gui/face_fields.h"
#include "gui/terminal/vocabulary.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/error.h"
#include "runtime/gc.h"

namespace kel::gui {

namespace {

uint32_t flag_bit(const Cell* element) {
  uint32_t bit = face_flag_bit(element);
  if (!bit) {
    Cell arg = *element;  // the element's block may move while the error is built
    error::raise(err::script::invalid_arg, &arg);
  }
  return bit;
}

bool same_object_q(const Cell* a, const Cell* b) {
  return cell::type(a) == T_OBJECT && cell::type(b) == T_OBJECT && a->w1 == b->w1;
}

}  // namespace

uint32_t get_flags(const Cell* facet) {
  switch (cell::type(facet)) {
    case T_WORD:
      return flag_bit(facet);
    case T_BLOCK: {
      uint32_t bits = 0;
      int32_t n = block::count_from_head(facet);
      for (int32_t i = 0; i < n; ++i)
        bits |= flag_bit(block::cell_at_index(facet, int32_t(facet->w1) + i));
      return bits;
    }
    default:
      return 0;
  }
}

uint32_t tuple_to_rgb(const Cell* tuple) {
  uint8_t b[12];
  tuple::bytes_of(tuple, b);
  uint32_t alpha = tuple::length_of(tuple) >= 4 ? b[3] : 0;
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | alpha << 24;
}

Cell* pair_to_point(Cell* cell) {
  if (cell::type(cell) == T_PAIR) pair::as_point2D_cell(cell);
  return cell;
}

// The font's `parent` field lists the faces that use it, kept positioned at its tail. The
// list is started afresh when it is no block, or when its first face no longer uses this
// font (the list is stale); the face joins it unless it is there already.
void link_font(const Cell* face_in, const Cell* font_in) {
  if (cell::type(face_in) != T_OBJECT || cell::type(font_in) != T_OBJECT) return;
  Cell face = *face_in, font = *font_in, list{T_NONE, 0, 0, 0};
  gc::Root keep_face(&face), keep_font(&font), keep_list(&list);
  const Cell* parent = font_slot(&font, font_field::PARENT);
  if (!parent) return;
  list = *parent;
  bool fresh = true;
  if (cell::type(&list) == T_BLOCK) {
    list.w1 = 0;
    if (block::count_from_head(&list) > 0) {
      Cell first = *block::cell_at_index(&list, 0);
      const Cell* uses = cell::type(&first) == T_OBJECT ? face_slot(&first, face_field::FONT) : nullptr;
      fresh = !uses || !same_object_q(uses, &font);
    }
  }
  if (fresh) block::init_cell(&list, 4);
  bool held = false;
  int32_t n = block::count_from_head(&list);
  for (int32_t i = 0; i < n && !held; ++i) held = same_object_q(block::cell_at_index(&list, i), &face);
  if (!held) *runtime::block_append_cell(&list) = face;
  list.w1 = uint32_t(block::count_from_head(&list));
  Cell* slot = font_slot(&font, font_field::PARENT);  // re-read: the append may have moved it
  if (slot) *slot = list;
}

int32_t utf16_count(const Cell* s, int32_t start, int32_t count, int32_t step) {
  if (!string::any_string_q(cell::type(s)) || string::unit_of(s) != 4) return count;
  int32_t head = int32_t(s->w1) + (start > 0 ? start : 0);
  int32_t end = head + (count > 0 ? count : 0);
  int32_t result = count;
  // codepoint_at answers -1 past the tail, so the walk never reads beyond the text.
  for (int32_t i = head; i < end; ++i) {
    int32_t c = string::codepoint_at(s, i);
    if (c < 0) break;
    if (c >= 0x10000) {
      result += step;
      if (step < 0) --end;
    }
  }
  return result;
}

void zero_fill(void* memory, size_t length) {
  if (memory && length) std::memset(memory, 0, length);
}

}  // namespace kel::gui
