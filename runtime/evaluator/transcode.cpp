// Drivers of the lexer (lexer-scan, transcode-string): state set-up and clean-up, modes,
// results and consumed length; the lexer events and their position conversions.
#include "runtime/evaluator/transcode.h"

#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/datatypes/function.h"
#include "runtime/rt.h"
#include "runtime/symbol.h"

namespace kel::lexer {

const char* const EXIT_STATE_NAMES[SLOT_COUNT] = {
    "eof", "error!", "block!", "block!", "paren!", "paren!", "string!", "string!", "map!",
    "path!", "datatype!", "comment", "comma", "string!", "word!", "issue!", "integer!",
    "refinement!", "char!", "file!", "binary!", "percent!", "float!", "float!", "tuple!",
    "date!", "pair!", "point2D!", "time!", "money!", "tag!", "url!", "email!", "hex",
    "rawstring", "ref!"};

Connections& connections() {
  static Connections c;
  return c;
}

namespace {

bool has_callback(const State* s) {
  return s->native_callback || cell::type(&s->callback) != T_NONE;
}

bool path_type_q(uint32_t t) { return t >= T_PATH && t <= T_GET_PATH; }

// Restores the chain and the value-stack tail on every exit.
struct StateGuard {
  State* s;
  explicit StateGuard(State* state) : s(state) { link(s); }
  ~StateGuard() {
    s->tail = s->base;
    unlink(s);
  }
};

void append_into(Cell* into, int32_t from, int32_t to) {
  int32_t n = to - from;
  if (n <= 0) return;
  Node node = into->w2;
  SeriesBuffer* b = memory::node_buffer(node);
  uint32_t need = b->tail + uint32_t(n) * sizeof(Cell);
  if (int64_t(need) > int64_t(b->capacity)) b = memory::series_grow_copy_node(node, int32_t(need));
  std::memcpy(memory::tail(b), stack_cell(from), size_t(n) * sizeof(Cell));
  b->tail += uint32_t(n) * sizeof(Cell);
  memory::touch(b);
}

bool point_ahead(const State* s, int32_t paren) {
  const uint8_t* in = input(s);
  int32_t q = paren + 1;
  if (s->length - q < 4) return false;
  int32_t r = q;
  auto point_char = [](uint8_t b) {
    return (b >= '0' && b <= '9') || std::strchr("\t #+-.AEFINaefin", b) != nullptr;
  };
  while (r < s->length && in[r] && point_char(in[r])) ++r;
  return r > q && (r == s->length || in[r] == ',');
}

}  // namespace

uint32_t event_mask_of(const Cell* callback) {
  uint32_t type = cell::type(callback);
  if ((type != T_FUNCTION && type != T_ROUTINE) || !callback->w3) return ev::ALL;
  static const char* const NAMES[6] = {"prescan", "scan", "load", "open", "close", "error"};
  int32_t ids[6];
  Node extras = callback->w3;
  gc::Root keep(&extras);
  for (int i = 0; i < 6; ++i) ids[i] = symbol::canonical_id(symbol::intern_c_text(NAMES[i]));
  // Nothing allocates from here on.
  SeriesBuffer* b = memory::node_buffer(extras);
  Cell* body = memory::head_cells(b) + function::extras::BODY;
  if (body >= memory::tail_cells(b) || cell::type(body) != T_BLOCK || !body->w2) return ev::ALL;
  SeriesBuffer* bb = memory::node_buffer(body->w2);
  Cell* first = memory::head_cells(bb) + int32_t(body->w1);
  if (first >= memory::tail_cells(bb) || cell::type(first) != T_BLOCK || !first->w2) return ev::ALL;
  SeriesBuffer* wb = memory::node_buffer(first->w2);
  uint32_t mask = 0;
  for (Cell* c = memory::head_cells(wb) + int32_t(first->w1); c < memory::tail_cells(wb); ++c) {
    if (cell::type(c) != T_WORD) continue;
    int32_t id = symbol::canonical_id(int32_t(c->w2));
    for (int i = 0; i < 6; ++i)
      if (id == ids[i]) mask |= 1u << i;
  }
  return mask;
}

int32_t input_index(State* s, int32_t byte) {
  if (byte < 0) byte = 0;
  if (byte > s->length) byte = s->length;
  if (s->binary_source) return byte;
  const uint8_t* in = input(s);
  int32_t b = s->cache_byte, c = s->cache_char;
  if (byte >= b) {
    for (; b < byte; ++b) c += (in[b] & 0xC0) != 0x80;
  } else {
    for (; b > byte; --b) c -= (in[b - 1] & 0xC0) != 0x80;
  }
  s->cache_byte = byte;
  s->cache_char = c;
  return c;
}

namespace {
int32_t byte_of_index(State* s, int32_t index) {
  if (index < 0) index = 0;
  if (s->binary_source) return index > s->length ? s->length : index;
  const uint8_t* in = input(s);
  int32_t b = 0, c = 0;
  while (b < s->length && c < index) {
    ++b;
    while (b < s->length && (in[b] & 0xC0) == 0x80) ++b;
    ++c;
  }
  return b;
}
}  // namespace

bool event(State* s, uint32_t bit, int32_t type, const Cell* value, int32_t start, int32_t end) {
  // 1. Not subscribed.
  if (!(s->event_mask & bit)) return true;
  if (!has_callback(s)) return true;
  // 2.
  if (bit == ev::SCAN && type == -2) {
    bit = ev::ERROR;
    type = T_ERROR;
    if (!(s->event_mask & bit)) return true;
  }
  if (bit == ev::SCAN && (type == T_POINT2D || type == T_POINT3D)) start -= 1;
  // 3.
  if (bit == ev::PRESCAN) {
    const uint8_t* in = input(s);
    if (type == -(4 + 1) && start < s->length && in[start] == '(' && point_ahead(s, start))
      return true;
    if (type == T_ERROR && s->entry_state == st::BRACED) start = s->brace_start;
    if (type == T_POINT2D || type == T_POINT3D) start -= 1, end += 1;
  }
  // 4. Arguments.
  EventArgs a;
  a.event = bit;
  a.type = type;
  a.type_value = Cell{T_NONE, 0, 0, 0};
  if (type > 0) a.type_value = Cell{T_DATATYPE, uint32_t(type), 0, 0};
  else if (type < 0 && connections().exit_state_word)
    if (!connections().exit_state_word(-type - 1, &a.type_value)) a.type_value = Cell{T_NONE, 0, 0, 0};
  a.line = s->line;
  a.value = value;
  a.start = input_index(s, start) + 1;
  a.end = input_index(s, end) + 1;
  bool at_start = bit == ev::OPEN || (bit == ev::PRESCAN && type < 0);
  a.input_index = at_start ? a.start - 1 : a.end - 1;
  int32_t original = a.input_index;
  // 5. The call.
  bool result = true;
  if (s->native_callback) result = s->native_callback(s, &a, s->native_data);
  else if (connections().call_kel) result = connections().call_kel(s, &a);
  // 6. Input moved by the callback: resume there, inside the input.
  if (a.input_index != original) s->moved_to = byte_of_index(s, a.input_index);
  return result;
}

bool send_event(State* s, uint32_t bit, int32_t type, const Cell* value, int32_t start,
                int32_t end) {
  return event(s, bit, type, value, start, end);
}

int32_t run(const Request& r) {
  State st;
  std::memset(static_cast<void*>(&st), 0, sizeof st);
  State* outer = innermost();
  st.base = st.head = st.tail = outer ? outer->tail : 0;
  st.fixed = r.bytes;
  st.source = r.source ? *r.source : Cell{T_NONE, 0, 0, 0};
  st.callback = r.callback ? *r.callback : Cell{T_NONE, 0, 0, 0};
  if (!r.bytes) {
    // A binary! scanned in place: held as offsets, its address re-read when needed.
    SeriesBuffer* b = memory::node_buffer(st.source.w2);
    st.source_head = int32_t(b->head + st.source.w1);
  }
  st.length = r.length;
  st.line = 1;
  st.forced_type = -1;
  st.entry_state = st::START;
  st.load = r.scan && r.load;
  st.binary_source = !r.source || cell::type(r.source) != T_STRING;
  if (r.source && cell::type(r.source) >= T_STRING && cell::type(r.source) <= T_URL)
    st.binary_source = false;
  st.moved_to = -1;
  if (r.native) {
    st.native_callback = r.native;
    st.native_data = r.native_data;
    st.event_mask = r.native_mask;
  } else if (r.callback && cell::type(r.callback) != T_NONE) {
    st.event_mask = connections().kel_mask ? connections().kel_mask(r.callback)
                                           : event_mask_of(r.callback);
    st.extra_locals =
        connections().kel_extra_locals ? connections().kel_extra_locals(r.callback) : 0;
  }
  StateGuard guard(&st);
  bool escaped = false;
  try {
    scan_loop(&st, r.one_value, !r.scan);
  } catch (const Unwind& u) {
    if (u.code != ESCAPE) throw;
    escaped = true;
  }
  int32_t type = st.token_type;
  bool failed = st.token_type == T_ERROR;
  // Series never closed.
  if (!failed && st.tail > st.base) {
    Cell* m = open_marker(&st);
    if (m) {
      uint32_t kind = m->w2 & 0xFFFF;
      if (!st.load && path_type_q(kind)) {
        type = int32_t(kind);
      } else {
        st.pending_type = int32_t(kind);
        st.token_end = st.length;
        try {
          syntax_error(&st, int32_t(m->w3), st.length, -4);
        } catch (const Unwind& u) {
          if (u.code != ESCAPE) throw;
          failed = true;
          type = T_ERROR;
        }
      }
    }
  }
  (void)escaped;
  if (r.result) {
    if (!st.load || failed) {
      *r.result = failed || type <= 0 ? Cell{T_NONE, 0, 0, 0}
                                      : Cell{T_DATATYPE, uint32_t(type), 0, 0};
    } else if (r.into) {
      append_into(r.into, st.base, st.tail);
      if (r.one_value && st.tail > st.base) *r.result = *stack_cell(st.base);
      else *r.result = *r.into;
    } else if (r.one_value && !r.next_as_block) {
      *r.result = st.tail > st.base ? *stack_cell(st.base) : Cell{T_UNSET, 0, 0, 0};
      r.result->header &= ~hdr::NEW_LINE;
    } else {
      *r.result = load::series_from_cells(&st, T_BLOCK, st.base, st.tail);
    }
  }
  if (r.consumed) *r.consumed = input_index(&st, st.pos > st.length ? st.length : st.pos);
  return type < 0 ? 0 : type;
}

int32_t transcode_string(const Request& request, const Cell* string, int32_t length) {
  SeriesBuffer* b = memory::node_buffer(string->w2);
  uint32_t unit = memory::unit(b);
  int32_t available = int32_t((b->tail - b->head) / unit) - int32_t(string->w1);
  if (available < 0) available = 0;
  int32_t count = length < 0 || length > available ? available : length;
  int32_t per = unit == 1 ? 2 : unit == 2 ? 3 : 4;
  int32_t needed = count * per + 1;
  int32_t& fill = buffer_fill();
  bool temporary = BUFFER_BYTES - fill < needed;
  uint8_t* out = temporary ? static_cast<uint8_t*>(rt::alloc(size_t(needed)))
                           : buffer() + fill;
  // Re-read: nothing allocated in the collected heap since.
  b = memory::node_buffer(string->w2);
  const uint8_t* chars = memory::data(b) + b->head + size_t(string->w1) * unit;
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t c;
    if (unit == 1) c = chars[i];
    else if (unit == 2) { uint16_t v; std::memcpy(&v, chars + 2 * i, 2); c = v; }
    else std::memcpy(&c, chars + 4 * i, 4);
    if (c < 0x80) out[n++] = uint8_t(c);
    else if (c < 0x800) out[n++] = uint8_t(0xC0 | (c >> 6)), out[n++] = uint8_t(0x80 | (c & 0x3F));
    else if (c < 0x10000) {
      out[n++] = uint8_t(0xE0 | (c >> 12));
      out[n++] = uint8_t(0x80 | ((c >> 6) & 0x3F));
      out[n++] = uint8_t(0x80 | (c & 0x3F));
    } else {
      if (c > 0x10FFFF) c = 0xFFFD;
      out[n++] = uint8_t(0xF0 | (c >> 18));
      out[n++] = uint8_t(0x80 | ((c >> 12) & 0x3F));
      out[n++] = uint8_t(0x80 | ((c >> 6) & 0x3F));
      out[n++] = uint8_t(0x80 | (c & 0x3F));
    }
  }
  out[n] = 0;
  // The shared buffer's fill mark moves past the text while the scan runs.
  struct FillGuard {
    int32_t& fill;
    int32_t saved;
    uint8_t* temp;
    ~FillGuard() {
      fill = saved;
      if (temp) rt::free(temp);
    }
  } fill_guard{fill, fill, temporary ? out : nullptr};
  if (!temporary) fill += n + 1;
  Cell source = *string;
  gc::Root keep(&source);
  Request r = request;
  r.bytes = out;
  r.length = n;
  r.source = &source;
  return run(r);
}

int32_t transcode_string(Cell* result, const Cell* string, int32_t length, bool one_value,
                         bool scan, bool load, bool next_as_block, int32_t* consumed,
                         const Cell* callback, Cell* into) {
  Request r;
  r.result = result;
  r.one_value = one_value;
  r.scan = scan;
  r.load = load;
  r.next_as_block = next_as_block;
  r.consumed = consumed;
  r.callback = callback;
  r.into = into;
  return transcode_string(r, string, length);
}

}  // namespace kel::lexer

namespace kel {

int32_t lexer_scan(Cell* result, const uint8_t* bytes, int32_t length, bool one_value,
                   bool scan, bool load, bool next_as_block, int32_t* consumed,
                   const Cell* callback, const Cell* source, Cell* into) {
  lexer::Request r;
  r.result = result;
  r.bytes = bytes;
  r.length = length;
  r.one_value = one_value;
  r.scan = scan;
  r.load = load;
  r.next_as_block = next_as_block;
  r.consumed = consumed;
  r.callback = callback;
  r.source = source;
  r.into = into;
  return lexer::run(r);
}

}  // namespace kel
