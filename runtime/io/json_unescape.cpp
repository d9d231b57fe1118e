// The JSON codec's routines: the decoder's `unescape` (backslash escapes resolved in place),
// the encoder's `emit-string` (a text written quoted and escaped), their placement in the objects.
#include "runtime/io/json_unescape.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/number_scan.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/evaluator/blk.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::json {

namespace {

int32_t g_index = -1;
int32_t g_emit_index = -1;
int32_t g_members_index = -1;
int32_t g_items_index = -1;
int32_t g_object_map_index = -1;
int32_t g_add_name_index = -1;
int32_t g_add_number_index = -1;

[[noreturn]] void bad(const Cell* s) { error::raise(err::script::invalid_data, s); }

int32_t hex_value(int32_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The code unit of the four hex digits at character index i, or -1.
int32_t hex4(SeriesBuffer* b, uint32_t u, int32_t i) {
  const uint8_t* p = memory::head(b) + size_t(i) * u;
  int32_t v = 0;
  for (int k = 0; k < 4; ++k) {
    int32_t d = hex_value(unicode::load_unit(p + size_t(k) * u, u));
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// Rewrites the string from its index to its tail: each escape becomes its character. Indexes
// count characters from the buffer's head, so they stay right when
// a wider character widens the buffer; the buffer is read again through the node then.
void unescape_routine() {
  Cell* s = stack::state().base;  // an argument cell: the collector sees it
  string::count_from_head(s);     // clamps an index past the tail
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  int32_t n = int32_t(memory::units(b));
  int32_t r = int32_t(s->w1);
  int32_t w = r;
  while (r < n) {
    int32_t c = unicode::load_unit(memory::head(b) + size_t(r) * u, u);
    if (c != '\\') {
      if (w != r) unicode::store_unit(memory::head(b) + size_t(w) * u, u, c);
      ++w;
      ++r;
      continue;
    }
    if (r + 1 >= n) bad(s);
    int32_t letter = unicode::load_unit(memory::head(b) + size_t(r + 1) * u, u);
    r += 2;
    switch (letter) {
      case '"': case '\\': case '/': c = letter; break;
      case 'b': c = 8; break;
      case 'f': c = 12; break;
      case 'n': c = 10; break;
      case 'r': c = 13; break;
      case 't': c = 9; break;
      case 'u': {
        if (r + 4 > n) bad(s);
        c = hex4(b, u, r);
        if (c < 0) bad(s);
        r += 4;
        if (c >= 0xD800 && c <= 0xDBFF) {
          // A high surrogate needs "\u" and a low one right after it.
          if (r + 6 > n) bad(s);
          const uint8_t* p = memory::head(b) + size_t(r) * u;
          if (unicode::load_unit(p, u) != '\\' || unicode::load_unit(p + u, u) != 'u') bad(s);
          int32_t low = hex4(b, u, r + 2);
          if (low < 0xDC00 || low > 0xDFFF) bad(s);
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          r += 6;
        }
        break;
      }
      default: bad(s);
    }
    uint32_t need = c > 0xFFFF ? 4 : (c > 0xFF && u == 1 ? 2 : u);
    if (need > u) {
      b = string::widen_to(s, u, need);  // allocates: b, not the old address, from here on
      u = need;
    }
    unicode::store_unit(memory::head(b) + size_t(w) * u, u, c);
    ++w;
  }
  b->tail = b->head + uint32_t(w) * u;
  Cell out = *s;
  stack::set_only_result(&out);
}

// Appends text to the output's tail as a JSON string, then after (none: nothing). A string
// counts from its index; any word gives its formed text, any other value its molded text
// (the encoder's rule for member names). Quoted: each character in chars as it is, every
// other one escaped (the seven short escapes, else \u and four upper-case hex digits, a
// surrogate pair beyond U+FFFF). The output takes the text's unit when a character of it is
// copied, as an append of the text would. The output is the encoder's own new string.
// emit-string's work on cells the collector sees (out is rewritten when its buffer grows).
void emit_text(Cell* out, Cell* text, const Cell* chars, const Cell* after) {
  uint32_t t = cell::type(text);
  if (t == T_WORD) {  // a word forms to its name: the symbol's own string, nothing made
    *text = Cell{T_STRING, 0, symbol::string_node(int32_t(text->w2)), 0};
  } else if (t > T_WORD && t <= T_ISSUE) {
    *text = *actions::form(text, nullptr);
  } else if (t != T_STRING) {
    *text = *actions::mold(text, false, false, false, nullptr);
  }
  // Membership read once: bit n of the stored bytes, every value beyond them as complemented
  // says (the bitset's own rule). Valid until something allocates.
  auto member = [&](const uint8_t* bits, int64_t stored, bool beyond, int32_t c) {
    return c >= 0 && c < stored ? (bits[c >> 3] & (0x80 >> (c & 7))) != 0 : beyond;
  };
  int64_t stored = int64_t(bitset::stored_bytes(chars)) * 8;
  bool beyond = bitset::complemented_q(chars);
  // The common case without a copy: every character of the text plain, a unit no wider
  // than the output's, then none or an ASCII character; the units go across as they are.
  {
    SeriesBuffer* tb = memory::node_buffer(text->w2);
    SeriesBuffer* ob = memory::node_buffer(out->w2);
    int32_t n = int32_t(memory::units(tb));
    int32_t from = int32_t(text->w1) < n ? int32_t(text->w1) : n;
    uint32_t at = cell::type(after);
    uint32_t tu = memory::unit(tb), ou = memory::unit(ob);
    if (tu <= ou && (at == T_NONE || (at == T_CHAR && uint32_t(cell::get_int(after)) < 128))) {
      const uint8_t* bits = bitset::bytes_start(chars);
      const uint8_t* p = memory::head(tb);
      int32_t i = from;
      if (tu == 1) {
        while (i < n && member(bits, stored, beyond, p[i])) ++i;
      } else {
        while (i < n && member(bits, stored, beyond, unicode::load_unit(p + size_t(i) * tu, tu)))
          ++i;
      }
      if (i == n) {
        uint64_t used = memory::used_bytes(ob);
        uint64_t need = used + (uint64_t(n - from) + 2 + (at == T_CHAR)) * ou;
        if (need > 0x7FFFFF00u) error::raise(err::internal::no_memory);
        if (uint64_t(ob->head) + need > uint64_t(ob->capacity)) {
          ob = memory::series_grow_copy_node(out->w2, int32_t(std::min<uint64_t>(need * 2, 0x7FFFFF00u)));
          out->w2 = ob->node;
          tb = memory::node_buffer(text->w2);  // the growth may have moved it
        }
        uint8_t* w = memory::head(ob) + used;
        const uint8_t* r = memory::head(tb) + size_t(from) * tu;
        unicode::store_unit(w, ou, '"');
        w += ou;
        if (tu == ou) {
          std::memcpy(w, r, size_t(n - from) * ou);
          w += size_t(n - from) * ou;
        } else {
          for (int32_t k = from; k < n; ++k, r += tu, w += ou)
            unicode::store_unit(w, ou, unicode::load_unit(r, tu));
        }
        unicode::store_unit(w, ou, '"');
        w += ou;
        if (at == T_CHAR) unicode::store_unit(w, ou, cell::get_int(after));
        ob->tail = ob->head + uint32_t(need);
        return;
      }
    }
  }
  static std::vector<int32_t> cps;  // no Kel code runs in here: one buffer serves every call
  cps.clear();
  cps.push_back('"');
  bool copied = false;
  {  // nothing allocates in this block
    SeriesBuffer* b = memory::node_buffer(text->w2);
    uint32_t u = memory::unit(b);
    int32_t n = int32_t(memory::units(b));
    int32_t from = int32_t(text->w1) < n ? int32_t(text->w1) : n;
    const uint8_t* p = memory::head(b);
    const uint8_t* bits = bitset::bytes_start(chars);
    for (int32_t i = from; i < n; ++i) {
      int32_t c = unicode::load_unit(p + size_t(i) * u, u);
      if (member(bits, stored, beyond, c)) {
        cps.push_back(c);
        copied = true;
        continue;
      }
      int32_t e = 0;
      switch (c) {
        case '"': e = '"'; break;
        case '\\': e = '\\'; break;
        case 8: e = 'b'; break;
        case 12: e = 'f'; break;
        case 10: e = 'n'; break;
        case 13: e = 'r'; break;
        case 9: e = 't'; break;
        default: break;
      }
      if (e) {
        cps.push_back('\\');
        cps.push_back(e);
        continue;
      }
      auto hex4 = [](int32_t v) {
        static const char digits[] = "0123456789ABCDEF";
        cps.push_back('\\');
        cps.push_back('u');
        for (int k = 12; k >= 0; k -= 4) cps.push_back(digits[(v >> k) & 15]);
      };
      if (c > 0xFFFF) {
        hex4(0xD800 + ((c - 0x10000) >> 10));
        hex4(0xDC00 + ((c - 0x10000) & 1023));
      } else {
        hex4(c);
      }
    }
  }
  cps.push_back('"');
  uint32_t unit = copied ? string::unit_of(text) : 1;
  if (cell::type(after) == T_CHAR) {
    int32_t c = cell::get_int(after);
    cps.push_back(c);
    unit = std::max(unit, string::char_unit(c));
  } else if (cell::type(after) == T_STRING) {
    std::vector<int32_t> more = string::read_chars(after, int32_t(after->w1), INT32_MAX);
    cps.insert(cps.end(), more.begin(), more.end());
    if (!more.empty()) unit = std::max(unit, string::unit_of(after));
  }
  string::replace_chars(out, string::count_from_start(out), 0, cps, 1, unit);
}

void emit_string_routine() {
  Cell* out = stack::state().base;  // argument cells: the collector sees them
  emit_text(out, out + 1, out + 2, out + 3);
  Cell result = *out;
  stack::set_only_result(&result);
}

// ---- Runs of plain members and items ----
// The compact encoder writes a map's members and an array's items that need no call of its
// own here, each as its Kel code would: the name as emit-string writes it and ":", then the
// value and ",". A value needs no call when it is plain (a string through emit-string, an
// integer formed, a finite float molded, "true", "false", "null") or a map with word keys
// only (else `{}`) or a block whose members or items need none either, a few levels deep
// ("{" or "[", the members or items, the last comma made the closing bracket, ","). The
// first other value ends the run and goes back to the Kel code, which writes it (or raises
// its error) with the calls it always made. No Kel code runs here: nothing can change the
// values while they are written.

constexpr int32_t FULL_BUDGET = 0x7FFFFFFF;

bool plain_value_q(const Cell* v) {
  switch (cell::type(v)) {
    case T_STRING: case T_INTEGER: case T_LOGIC: case T_NONE: return true;
    case T_FLOAT: return std::isfinite(cell::get_double(v));
    default: return false;
  }
}

// Appends ASCII text to the output (the encoder's own string: no owner to tell).
void append_ascii(Cell* out, const char* text) {
  uint32_t n = uint32_t(std::strlen(text));
  SeriesBuffer* ob = memory::node_buffer(out->w2);
  uint32_t ou = memory::unit(ob);
  uint64_t used = memory::used_bytes(ob);
  uint64_t need = used + uint64_t(n) * ou;
  if (need > 0x7FFFFF00u) error::raise(err::internal::no_memory);
  if (uint64_t(ob->head) + need > uint64_t(ob->capacity)) {
    ob = memory::series_grow_copy_node(out->w2, int32_t(std::min<uint64_t>(need * 2, 0x7FFFFF00u)));
    out->w2 = ob->node;
  }
  uint8_t* w = memory::head(ob) + used;
  for (uint32_t i = 0; i < n; ++i, w += ou) unicode::store_unit(w, ou, uint8_t(text[i]));
  ob->tail = ob->head + uint32_t(need);
}

// Container levels a value written here may have (a value nested deeper, or holding itself,
// goes back to the Kel code).
constexpr int INLINE_DEPTH = 4;

bool word_keys_only_q(Node entries) {
  for (uint32_t k = 0, n = blk::count(entries); k + 1 < n; k += 2) {
    const Cell* e = blk::cells(entries) + k;
    if (cell::type(e + 1) != 0 && cell::type(e) != T_SET_WORD) return false;
  }
  return true;
}

// Whether the value is written here: plain, or a container of such values within depth
// levels. Nothing allocates.
bool written_here_q(const Cell* v, int depth) {
  switch (cell::type(v)) {
    case T_MAP: {
      if (depth == 0 || !word_keys_only_q(v->w2)) return false;
      for (uint32_t k = 0, n = blk::count(v->w2); k + 1 < n; k += 2) {
        const Cell* e = blk::cells(v->w2) + k;
        if (cell::type(e + 1) != 0 && !written_here_q(e + 1, depth - 1)) return false;
      }
      return true;
    }
    case T_BLOCK: {
      if (depth == 0) return false;
      for (uint32_t k = v->w1, n = blk::count(v->w2); k < n; ++k)
        if (!written_here_q(blk::cells(v->w2) + k, depth - 1)) return false;
      return true;
    }
    default:
      return plain_value_q(v);
  }
}

// `change back tail output` with the bracket and ",": the last value's comma closes it.
void close_with(Cell* out, char bracket) {
  SeriesBuffer* ob = memory::node_buffer(out->w2);
  uint32_t ou = memory::unit(ob);
  unicode::store_unit(memory::tail(ob) - ou, ou, uint8_t(bracket));
  append_ascii(out, ",");
}

// Writes a plain value then ",". scratch: two stack cells.
void emit_plain(Cell* out, const Cell* value, const Cell* chars, Cell* scratch) {
  switch (cell::type(value)) {
    case T_STRING:
      scratch[0] = *value;
      scratch[1] = Cell{T_CHAR, 0, uint32_t(','), 0};
      emit_text(out, scratch, chars, scratch + 1);
      return;
    case T_INTEGER:
      scratch[0] = *value;
      actions::direct_form(scratch, out, nullptr, FULL_BUDGET);
      break;
    case T_FLOAT:
      scratch[0] = *value;
      actions::direct_mold(scratch, out, false, false, false, nullptr, FULL_BUDGET, 0);
      break;
    case T_LOGIC:
      append_ascii(out, value->w1 ? "true" : "false");
      break;
    default:
      append_ascii(out, "null");
      break;
  }
  append_ascii(out, ",");
}

// Writes a value written_here_q allows, then ",". v: a stack cell; scratch: two stack cells.
void emit_value(Cell* out, Cell* v, const Cell* chars, Cell* scratch) {
  uint32_t t = cell::type(v);
  if (t == T_MAP) {
    if (map::length_q(v) == 0) {
      append_ascii(out, "{},");
      return;
    }
    append_ascii(out, "{");
    for (uint32_t k = 0; k + 1 < blk::count(v->w2); k += 2) {
      Cell key = blk::cells(v->w2)[k];
      if (cell::type(blk::cells(v->w2) + k + 1) == 0) continue;  // a removed entry
      scratch[0] = Cell{T_STRING, 0, symbol::string_node(int32_t(key.w2)), 0};
      scratch[1] = Cell{T_CHAR, 0, uint32_t(':'), 0};
      emit_text(out, scratch, chars, scratch + 1);
      Cell* value = stack::push_copy(blk::cells(v->w2) + k + 1);
      emit_value(out, value, chars, scratch);
      stack::drop_cells(1);
    }
    close_with(out, '}');
    return;
  }
  if (t == T_BLOCK) {
    if (v->w1 >= blk::count(v->w2)) {
      append_ascii(out, "[],");
      return;
    }
    append_ascii(out, "[");
    for (uint32_t k = v->w1; k < blk::count(v->w2); ++k) {
      Cell* item = stack::push_copy(blk::cells(v->w2) + k);
      emit_value(out, item, chars, scratch);
      stack::drop_cells(1);
    }
    close_with(out, ']');
    return;
  }
  emit_plain(out, v, chars, scratch);
}

// emit-members output map chars after: the members of a map whose keys are all words, from
// the one after the word `after` (none: the first), up to the first one whose value is not
// written here: its key is the result (a word!), none once every member is written. A map with a
// key of another kind writes nothing and gives false.
void emit_members_routine() {
  Cell* out = stack::state().base;
  Cell* m = out + 1;
  const Cell* chars = out + 2;
  Cell* after = out + 3;
  Cell* scratch = stack::reserve_cell();
  stack::reserve_cell();
  *scratch = scratch[1] = Cell{T_NONE, 0, 0, 0};
  int32_t i = 0;
  if (cell::type(after) == T_NONE) {
    if (!word_keys_only_q(m->w2)) {
      Cell r{T_LOGIC, 0, 0, 0};
      stack::set_only_result(&r);
      return;
    }
  } else {
    i = map::live_position(m, after, true);
    if (i < 0) error::raise(err::script::invalid_arg, after);  // not a key of the map
    i += 2;
  }
  Cell result{T_NONE, 0, 0, 0};
  for (; i + 1 < int32_t(blk::count(m->w2)); i += 2) {
    Cell key = blk::cells(m->w2)[i], value = blk::cells(m->w2)[i + 1];
    if (cell::type(&value) == 0) continue;  // a removed entry
    if (!written_here_q(&value, INLINE_DEPTH)) {
      result = Cell{T_WORD, key.w1, key.w2, key.w3};
      break;
    }
    // the name: the word's own string, nothing made
    scratch[0] = Cell{T_STRING, 0, symbol::string_node(int32_t(key.w2)), 0};
    scratch[1] = Cell{T_CHAR, 0, uint32_t(':'), 0};
    emit_text(out, scratch, chars, scratch + 1);
    Cell* v = stack::push_copy(blk::cells(m->w2) + i + 1);  // read again: writing moves buffers
    emit_value(out, v, chars, scratch);
    stack::drop_cells(1);
  }
  stack::set_only_result(&result);
}

// emit-items output items chars: the items of a block from its index up to the first one
// not written here: the block at that item is the result, none once every item is written.
void emit_items_routine() {
  Cell* out = stack::state().base;
  Cell* items = out + 1;
  const Cell* chars = out + 2;
  Cell* scratch = stack::reserve_cell();
  stack::reserve_cell();
  *scratch = scratch[1] = Cell{T_NONE, 0, 0, 0};
  Cell result{T_NONE, 0, 0, 0};
  for (uint32_t i = items->w1; i < blk::count(items->w2); ++i) {
    if (!written_here_q(blk::cells(items->w2) + i, INLINE_DEPTH)) {
      result = *items;
      result.w1 = i;
      break;
    }
    Cell* v = stack::push_copy(blk::cells(items->w2) + i);
    emit_value(out, v, chars, scratch);
    stack::drop_cells(1);
  }
  stack::set_only_result(&result);
}

// add-number res start end plain?: the number text from start to end (the decoder's input),
// while no pre-load hook wants to see it (plain?), appended to res as the value
// `pick transcode text 1` gives, and true; false with nothing done for a text the lexer
// must read itself (a long one).
void add_number_routine() {
  Cell* res = stack::state().base;
  const Cell* start = res + 1;
  const Cell* end = res + 2;
  const Cell* plain = res + 3;
  Cell truth{T_LOGIC, 0, 0, 0};
  Cell value{T_NONE, 0, 0, 0};
  bool done = false;
  if (cell::type(plain) == T_LOGIC && plain->w1 && start->w2 == end->w2 && end->w1 >= start->w1) {
    uint8_t text[64];
    SeriesBuffer* b = memory::node_buffer(start->w2);
    uint32_t u = memory::unit(b), n = memory::units(b);
    int32_t count = int32_t(end->w1 - start->w1);
    if (end->w1 <= n && count <= 64) {
      const uint8_t* p = memory::head(b) + size_t(start->w1) * u;
      bool ascii = true;
      for (int32_t k = 0; k < count; ++k) {
        int32_t c = unicode::load_unit(p + size_t(k) * u, u);
        if (c >= 128) ascii = false;
        text[k] = uint8_t(c);
      }
      done = ascii && lexer::number::json_number(text, count, &value);
    }
  }
  if (done) {
    Cell* v = stack::push_copy(&value);
    block::append(res, v, -1, false, 1, true);
    truth.w1 = 1;
  }
  stack::set_only_result(&truth);
}

// object-map names-values: an object's map as `extend/case make map! (length? names-values) / 2
// names-values` makes it (a table sized for the members, later duplicates winning in place).
void object_map_routine() {
  Cell* pairs = stack::state().base;
  Cell* m = stack::reserve_cell();
  *m = Cell{T_NONE, 0, 0, 0};
  int32_t n = int32_t(blk::count(pairs->w2)) - int32_t(pairs->w1);
  map::make_with_room(m, n < 0 ? 0 : n / 2);
  map::extend(m, pairs, true);
  Cell result = *m;
  stack::set_only_result(&result);
}

// add-name res names name: a member name met before in this decode (`select/case names name`
// finds it) has its word appended to res (as `append` does) and gives true; any other name
// gives false with nothing done.
void add_name_routine() {
  Cell* res = stack::state().base;
  Cell* names = res + 1;
  Cell* name = res + 2;
  int32_t at = map::live_position(names, name, true);
  Cell truth{T_LOGIC, at >= 0 ? 1u : 0u, 0, 0};
  if (at >= 0) {
    Cell* value = stack::push_copy(blk::cells(names->w2) + at + 1);
    block::append(res, value, -1, false, 1, true);
  }
  stack::set_only_result(&truth);
}

// A word of the block (nested blocks and parens too) bound to an object context that has
// a word named `field`; that context, or 0.
Node object_context_in(const Cell* block, int32_t field) {
  Cell* b = stack::push_copy(block);
  Node found = 0;
  for (uint32_t i = b->w1; !found && i < blk::count(b->w2); ++i) {
    Cell c = blk::cells(b->w2)[i];
    uint32_t t = cell::type(&c);
    if (t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD) {
      Node ctx = c.w1;
      if (ctx && ctx != context::global && context::kind_of(ctx) == context::KIND_OBJECT &&
          context::find_symbol(ctx, field, true) >= 0)
        found = ctx;
    } else if (t == T_BLOCK || t == T_PAREN) {
      found = object_context_in(&c, field);
    }
  }
  stack::drop_cells(1);
  return found;
}

// Puts the routine in the field of the object that the exported function's body is bound to
// (the codec objects are bound to no word).
void place(const char* exported, const char* field_name, int32_t index) {
  Cell entry = word::intern_global(exported);
  const Cell* fn = word::value_slot(&entry);
  if (cell::type(fn) != T_FUNCTION) return;  // started without the boot library
  Cell* top = stack::state().top;
  Cell* body = stack::push_copy(function::extras_cell(fn, function::extras::BODY));
  Cell name = word::intern_global(field_name);
  Cell* field = stack::push_copy(&name);
  Node ctx = object_context_in(body, int32_t(field->w2));
  gc::Root keep(&ctx);  // building the routine allocates
  if (ctx) {
    Cell* built = routine::push_built(index);
    context::set_or_add(ctx, field, built);
  }
  stack::state().top = top;
}

}  // namespace

void place_routines() {
  place("load-json", "unescape", g_index);
  place("load-json", "object-map", g_object_map_index);
  place("load-json", "add-name", g_add_name_index);
  place("load-json", "add-number", g_add_number_index);
  place("to-json", "emit-string", g_emit_index);
  place("to-json", "emit-members", g_members_index);
  place("to-json", "emit-items", g_items_index);
}

void register_routines() {
  if (g_index >= 0) return;
  g_index = routine::register_routine(
      {nullptr, "str [string!] return: [string!]", &unescape_routine, int32_t(T_STRING)});
  g_emit_index = routine::register_routine(
      {nullptr, "output [string!] text chars [bitset!] after [char! string! none!] return: [string!]",
       &emit_string_routine, int32_t(T_STRING)});
  g_add_number_index = routine::register_routine(
      {nullptr, "res [block!] start [string!] end [string!] plain [logic!] return: [logic!]",
       &add_number_routine, int32_t(T_LOGIC)});
  g_add_name_index = routine::register_routine(
      {nullptr, "res [block!] names [map!] name [string!] return: [logic!]", &add_name_routine,
       int32_t(T_LOGIC)});
  g_object_map_index = routine::register_routine(
      {nullptr, "names-values [block!] return: [map!]", &object_map_routine, int32_t(T_MAP)});
  g_members_index = routine::register_routine(
      {nullptr, "output [string!] map [map!] chars [bitset!] after [word! none!] return: [word! none! logic!]",
       &emit_members_routine, int32_t(T_WORD)});
  g_items_index = routine::register_routine(
      {nullptr, "output [string!] items [block!] chars [bitset!] return: [block! none!]",
       &emit_items_routine, int32_t(T_BLOCK)});
}

}  // namespace kel::json
