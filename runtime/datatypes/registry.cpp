// Datatype registry: the type table, the action table, registration with snapshot
// inheritance, the install calls in registration order, and the type words.
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/typeset.h"

#include <cstring>

#include "runtime/context.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash_block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/rt.h"
#include "runtime/symbol.h"

namespace kel::datatype {

TypeRecord type_table[TABLE_TYPES];
AnySlot action_table[TABLE_TYPES * ROW_SLOTS];
uint32_t highest_registered = 0;

void register_type(const Registration& r) {
  // An id outside the tables is a build fault: report it, never ignore it.
  if (r.id == 0 || r.id >= TABLE_TYPES || r.parent >= TABLE_TYPES) rt::fatal_error(98, 0);
  if (r.id > highest_registered) highest_registered = r.id;
  TypeRecord& rec = type_table[r.id];
  rec.name = r.name;
  rec.name_length = uint32_t(std::strlen(r.name)) - 1;
  rec.word = Cell{T_NONE, 0, 0, 0};

  SlotEntry entries[SLOT_COUNT];
  std::memcpy(entries, &r.slots, sizeof entries);
  AnySlot* row = &action_table[r.id * ROW_SLOTS];
  const AnySlot* parent_row = &action_table[r.parent * ROW_SLOTS];
  for (uint32_t k = 0; k < SLOT_COUNT; ++k) {
    const SlotEntry& e = entries[k];
    AnySlot fn = e.fn;
    if (e.how == SlotHow::INHERIT) fn = r.parent ? parent_row[k] : nullptr;
    else if (e.how == SlotHow::EMPTY) fn = nullptr;
    row[k] = fn;
  }
}

void alloc_tables() {
  std::memset(type_table, 0, sizeof type_table);
  std::memset(action_table, 0, sizeof action_table);
  highest_registered = 0;
}

void install(uint32_t type_id) {
  switch (type_id) {
    case T_DATATYPE: datatype::install_type(); break;
    case T_UNSET: unset::install_type(); break;
    case T_NONE: none::install_type(); break;
    case T_LOGIC: logic::install_type(); break;
    case T_INTEGER: integer::install_type(); break;
    case T_CHAR: char_::install_type(); break;
    case T_TRIPLE: triple::install_type(); break;
    case T_FLOAT: float_::install_type(); break;
    case T_PERCENT: percent::install_type(); break;
    case T_TIME: time::install_type(); break;
    case T_STRING: string::install_type(); break;
    case T_SERIES: series::install_type(); break;
    case T_BLOCK: block::install_type(); break;
    case T_PAREN: paren::install_type(); break;
    case T_SYMBOL: symbol::install_type(); break;
    case T_CONTEXT: context::install_type(); break;
    case T_WORD: word::install_type(); break;
    case T_LIT_WORD: lit_word::install_type(); break;
    case T_SET_WORD: set_word::install_type(); break;
    case T_GET_WORD: get_word::install_type(); break;
    case T_REFINEMENT: refinement::install_type(); break;
    case T_ISSUE: issue::install_type(); break;
    case T_TYPESET: typeset::install_type(); break;
    case T_NATIVE: native::install_type(); break;
    case T_ACTION: ::kel::action::install_type(); break;
    case T_OP: op::install_type(); break;
    case T_FUNCTION: function::install_type(); break;
    case T_ROUTINE: routine::install_type(); break;
    case T_PATH: path::install_type(); break;
    case T_LIT_PATH: lit_path::install_type(); break;
    case T_SET_PATH: set_path::install_type(); break;
    case T_GET_PATH: get_path::install_type(); break;
    case T_URL: url::install_type(); break;
    case T_FILE: file::install_type(); break;
    case T_BITSET: bitset::install_type(); break;
    case T_OBJECT: object::install_type(); break;
    case T_ERROR: error::install_type(); break;
    case T_MAP: map::install_type(); break;
    case T_HASH: hash::install_type(); break;
    case T_VECTOR: vector::install_type(); break;
    case T_BINARY: binary::install_type(); break;
    case T_TAG: tag::install_type(); break;
    case T_EMAIL: email::install_type(); break;
    case T_HANDLE: handle::install_type(); break;
    case T_REF: ref::install_type(); break;
    case T_PORT: port::install_type(); break;
    case T_MONEY: money::install_type(); break;
    case T_DATE: date::install_type(); break;
    case T_PAIR: pair::install_type(); break;
    case T_TUPLE: tuple::install_type(); break;
    case T_POINT2D: point2D::install_type(); break;
    case T_POINT3D: point3D::install_type(); break;
    case T_IMAGE: image::install_type(); break;
    case T_EVENT: event::install_type(); break;
    default: break;  // the other types add their install call here as they land
  }
}

namespace {
// The type words hold the global context's node, which the collector may move.
void mark_type_words() {
  for (TypeRecord& r : type_table) gc::mark_cells(&r.word, &r.word + 1);
}
}  // namespace

void intern_type_words() {
  for (uint32_t id = 1; id <= highest_registered; ++id)
    if (type_table[id].name) type_table[id].word = word::intern_global(type_table[id].name);
  gc::remove_root(&mark_type_words);
  gc::add_root(&mark_type_words);
}

}  // namespace kel::datatype
