// Structure scanners of the lexer (end, error, blocks, parens and points, braced strings,
// maps, paths, construction, comments, commas), path continuation, and the one table of
// 36 (scanner, loader) pairs.
#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/gc.h"

namespace kel::lexer {

namespace {

constexpr int32_t INNERMOST = -1;  // error start: the innermost open series or the input start

bool path_type_q(uint32_t t) { return t >= T_PATH && t <= T_GET_PATH; }
bool has_callback(const State* s) {
  return s->native_callback || cell::type(&s->callback) != T_NONE;
}
bool notify(State* s, uint32_t bit, int32_t type, const Cell* value, int32_t start, int32_t end) {
  if (!has_callback(s)) return true;
  return send_event(s, bit, type, value, start, end);
}

void scan_end(State* s, int32_t, int32_t, uint32_t, bool) { s->pos = s->length; }

void scan_error(State* s, int32_t start, int32_t end, uint32_t, bool) {
  int prev = s->prev_state;
  int32_t code = -1;
  if (prev < 65) {
    code = type_table[prev];
    if (code == 0) code = -1;
  }
  if (s->entry_state == st::BRACED) {
    start = s->brace_start;
    if (end >= s->length) {
      // A braced string open at the end: the scan loop reports it missing.
      s->pos = s->length;
      s->token_type = 0;
      return;
    }
  } else if (code == T_BLOCK || code == T_PAREN || path_type_q(uint32_t(code))) {
    start = INNERMOST;
  }
  if (code > 0) s->token_type = code;
  syntax_error(s, start, end, code);
}

void open_block_like(State* s, uint32_t type, int32_t start, int32_t end) {
  s->pos = end + 1;
  if (!notify(s, ev::OPEN, int32_t(type), nullptr, start, end + 1)) return;
  open_series(s, type, start);
  s->entry_state = st::START;
}

// Closes the innermost series with ] (block or map) or ) (paren or point).
void close_block_like(State* s, uint32_t closing, int32_t start, int32_t end) {
  s->pos = end + 1;
  Cell* m = open_marker(s);
  if (!m) {
    s->pending_type = int32_t(closing);
    syntax_error(s, start, end, -3);
  }
  uint32_t type = m->w2 & 0xFFFF;
  bool ok = closing == T_BLOCK ? (type == T_BLOCK || type == T_MAP)
                               : (type == T_PAREN || type == T_POINT2D || type == T_POINT3D);
  if (!ok) {
    s->pending_type = int32_t(type);
    syntax_error(s, INNERMOST, end, -3);
  }
  if (!notify(s, ev::CLOSE, int32_t(type), nullptr, start, end + 1)) {
    s->entry_state = st::START;
    return;
  }
  close_series(s, type);
  s->token_type = int32_t(type);
}

void scan_block(State* s, int32_t start, int32_t end, uint32_t, bool) {
  open_block_like(s, T_BLOCK, start, end);
}
void scan_block_close(State* s, int32_t start, int32_t end, uint32_t, bool) {
  close_block_like(s, T_BLOCK, start, end);
}

bool point_char_q(uint8_t b) {
  switch (b) {
    case '\t': case ' ': case '#': case '+': case '-': case '.':
    case 'A': case 'E': case 'F': case 'I': case 'N': case 'a': case 'e': case 'f': case 'i':
    case 'n':
      return true;
    default:
      return b >= '0' && b <= '9';
  }
}

void scan_paren(State* s, int32_t start, int32_t end, uint32_t, bool) {
  const uint8_t* in = input(s);
  int32_t q = end + 1;
  if (s->length - q >= 4) {
    int32_t r = q;
    while (r < s->length && point_char_q(in[r])) ++r;
    if (r > q && (r == s->length || in[r] == ',')) {
      // A point literal: (x, y) or (x, y, z) scanned by state 35.
      s->pos = q;
      s->point_lines = s->line;
      s->entry_state = st::POINT;
      s->token_type = 0;
      return;
    }
  }
  open_block_like(s, T_PAREN, start, end);
}
void scan_paren_close(State* s, int32_t start, int32_t end, uint32_t, bool) {
  close_block_like(s, T_PAREN, start, end);
}

void scan_brace(State* s, int32_t start, int32_t end, uint32_t flags, bool) {
  s->pos = end + 1;
  if (s->brace_depth == 0) {
    notify(s, ev::OPEN, T_STRING, nullptr, start, end + 1);
    s->brace_start = start;
    s->brace_flags = s->lines_passed > 0 ? flag::NEWLINE_BEFORE_BRACE : 0;
  }
  s->brace_depth++;
  s->brace_flags |= flags;
  s->entry_state = st::BRACED;
}

void scan_brace_close(State* s, int32_t, int32_t end, uint32_t flags, bool load) {
  s->pos = end + 1;
  s->brace_flags |= flags;
  if (--s->brace_depth > 0) {
    if (end + 1 >= s->length) {
      s->token_type = T_STRING;
      syntax_error(s, s->brace_start, end, T_STRING);
    }
    s->entry_state = st::BRACED;
    return;
  }
  int32_t first = s->brace_start;
  uint32_t all = s->brace_flags;
  s->entry_state = st::START;
  s->brace_depth = 0;
  s->brace_start = 0;
  s->brace_flags = 0;
  s->token_type = T_STRING;
  s->token_start = first;
  (void)load;
  bool due = s->load;
  if (!s->load || has_callback(s)) {
    load::check_string(s, first, end, all, false);
    due = notify(s, ev::SCAN, T_STRING, nullptr, first, end + 1) && s->load;
  }
  if (due) {
    int32_t before = s->tail;
    load::load_string(s, first, end, all, true);
    if (s->tail > before) {
      Cell* c = stack_cell(s->tail - 1);
      if (all & flag::NEWLINE_BEFORE_BRACE) c->header |= hdr::NEW_LINE;
      else c->header &= ~hdr::NEW_LINE;
      if (has_callback(s)) {
        Cell value = *c;
        gc::Root keep(&value);
        if (!send_event(s, ev::LOAD, T_STRING, &value, first, end + 1)) s->tail = before;
      }
    }
  }
  notify(s, ev::CLOSE, T_STRING, nullptr, first, end + 1);
}

void scan_map(State* s, int32_t start, int32_t end, uint32_t, bool) {
  const uint8_t* in = input(s);
  if (in[start] != '#') syntax_error(s, start, end, T_MAP);
  open_block_like(s, T_MAP, start, end);
}

void scan_path(State* s, int32_t start, int32_t end, uint32_t flags, bool) {
  const uint8_t* in = input(s);
  uint32_t kind = in[start] == '\'' ? T_LIT_PATH : in[start] == ':' ? T_GET_PATH : T_PATH;
  load::check_utf8(s, start, end, int32_t(kind));
  s->pos = end + 1;
  s->entry_state = st::PATH_ITEM;
  notify(s, ev::OPEN, int32_t(kind), nullptr, start, end + 1);
  open_series(s, kind, start);
  s->forced_type = T_WORD;
  s->token_type = int32_t(kind);
  if (!s->load) return;
  bool due = notify(s, ev::SCAN, T_WORD, nullptr, start, end);
  if (!due) return;
  int32_t before = s->tail;
  load::load_word(s, start, end, flags & ~flag::COLON, true);
  if (has_callback(s) && s->tail > before) {
    Cell value = *stack_cell(s->tail - 1);
    gc::Root keep(&value);
    if (!send_event(s, ev::LOAD, T_WORD, &value, start, end)) s->tail = before;
  }
}

// Datatype names in id order, for construction syntax.
const char* const TYPE_NAMES[] = {
    "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!", "url!",
    "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!", "lit-word!",
    "get-word!", "refinement!", "issue!", "native!", "action!", "op!", "function!", "path!",
    "lit-path!", "set-path!", "get-path!", "routine!", "bitset!", "triple!", "object!",
    "typeset!", "error!", "vector!", "hash!", "pair!", "percent!", "tuple!", "map!", "binary!",
    "series!", "time!", "tag!", "email!", "handle!", "date!", "port!", "money!", "ref!",
    "point2D!", "point3D!", "image!", "event!"};

bool same_text_nocase(const uint8_t* a, int32_t n, const char* b) {
  if (int32_t(std::strlen(b)) != n) return false;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t x = a[i], y = uint8_t(b[i]);
    if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
    if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool prefix_nocase(const uint8_t* a, int32_t n, const char* b) {
  if (int32_t(std::strlen(b)) < n) return false;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t x = a[i], y = uint8_t(b[i]);
    if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
    if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
    if (x != y) return false;
  }
  return true;
}

void scan_construct(State* s, int32_t start, int32_t end, uint32_t, bool) {
  s->pos = end + 1;
  const uint8_t* in = input(s);
  const uint8_t* name = in + start + 2;
  int32_t n = end - (start + 2);
  while (n > 0 && (*name == ' ' || *name == '\t')) ++name, --n;
  while (n > 0 && (name[n - 1] == ' ' || name[n - 1] == '\t')) --n;
  Cell value{T_NONE, 0, 0, 0};
  int32_t type = 0;
  if (same_text_nocase(name, n, "true")) value = Cell{T_LOGIC, 1, 0, 0}, type = T_LOGIC;
  else if (same_text_nocase(name, n, "false")) value = Cell{T_LOGIC, 0, 0, 0}, type = T_LOGIC;
  else if (same_text_nocase(name, n, "none")) value = Cell{T_NONE, 0, 0, 0}, type = T_NONE;
  else if (same_text_nocase(name, n, "unset")) value = Cell{T_UNSET, 0, 0, 0}, type = T_UNSET;
  else if (n > 0) {
    for (uint32_t id = 1; id < T_TYPE_COUNT; ++id) {
      if (prefix_nocase(name, n, TYPE_NAMES[id - 1])) {
        value = Cell{T_DATATYPE, id, 0, 0};
        type = int32_t(id);
        break;
      }
    }
  }
  if (type == 0) syntax_error(s, start, end, -2);
  s->token_type = type;
  if (!s->load) return;
  if (!notify(s, ev::SCAN, type, nullptr, start, end + 1)) return;
  Cell* c = push_cell(s);
  c->header = (c->header & hdr::NEW_LINE) | value.header;
  c->w1 = value.w1;
  c->w2 = value.w2;
  c->w3 = value.w3;
  if (has_callback(s)) {
    Cell copy = *c;
    if (!send_event(s, ev::LOAD, type, &copy, start, end + 1)) s->tail--;
  }
}

void scan_comment(State* s, int32_t start, int32_t end, uint32_t, bool) {
  s->pos = end;
  notify(s, ev::SCAN, -(11 + 1), nullptr, start, end);
}

void scan_comma(State* s, int32_t start, int32_t end, uint32_t, bool) {
  s->pos = end + 1;
  Cell* m = open_marker(s);
  uint32_t type = m ? (m->w2 & 0xFFFF) : 0;
  uint32_t commas = m ? (m->w2 >> 16) : 0;
  if (type == T_PAREN) {
    m->w2 = T_POINT2D | (1u << 16);
  } else if (type == T_POINT2D && commas == 1) {
    m->w2 = T_POINT3D | (2u << 16);
  } else {
    uint32_t code = type == T_POINT2D && commas >= 2 ? T_POINT3D : T_POINT2D;
    if (type == T_POINT3D) code = T_POINT3D;
    s->token_type = int32_t(code);
    syntax_error(s, start, end, int32_t(code));
  }
}

}  // namespace

// ---- Path continuation ----

void load::continue_path(State* s) {
  Cell* m = open_marker(s);
  if (!m) return;
  uint32_t kind = m->w2 & 0xFFFF;
  if (!path_type_q(kind)) return;
  const uint8_t* in = input(s);
  int32_t p = s->pos;
  if (p >= s->length || delimiter[class_table[in[p]] & 0xFF]) {
    if (p < s->length && in[p] == ':') {
      if (p + 1 < s->length && in[p + 1] == '/') {
        s->token_type = int32_t(kind);
        syntax_error(s, INNERMOST, p, int32_t(kind));
      }
      if (kind != T_PATH) {
        // A set-path cannot close a lit-path or get-path: a mismatch.
        s->pending_type = int32_t(kind);
        syntax_error(s, INNERMOST, p, -3);
      }
      s->pos = p + 1;
      notify(s, ev::CLOSE, T_SET_PATH, nullptr, int32_t(m->w3), p + 1);
      close_series(s, T_SET_PATH);
      s->token_type = T_SET_PATH;
      return;
    }
    notify(s, ev::CLOSE, int32_t(kind), nullptr, int32_t(m->w3), p);
    close_series(s, kind);
    s->token_type = int32_t(kind);
    return;
  }
  if (p == s->length - 1 || in[p] != '/') {
    s->token_type = int32_t(kind);
    syntax_error(s, INNERMOST, p, int32_t(kind));
  }
  s->pos = p + 1;
}

// ---- The handler table: (scanner, loader) per final state 66-101 ----

const HandlerPair handler_pairs[SLOT_COUNT] = {
    {scan_end, nullptr},                        // 66 end of input
    {scan_error, nullptr},                      // 67 invalid token
    {scan_block, nullptr},                      // 68 [
    {scan_block_close, nullptr},                // 69 ]
    {scan_paren, nullptr},                      // 70 (
    {scan_paren_close, nullptr},                // 71 )
    {scan_brace, nullptr},                      // 72 {
    {scan_brace_close, nullptr},                // 73 }
    {scan_map, nullptr},                        // 74 #[
    {scan_path, nullptr},                       // 75 word/
    {scan_construct, nullptr},                  // 76 #(...)
    {scan_comment, nullptr},                    // 77 ;
    {scan_comma, nullptr},                      // 78 ,
    {load::check_string, load::load_string},    // 79 "..."
    {load::check_word, load::load_word},        // 80 word
    {load::check_issue, load::load_word},       // 81 issue
    {nullptr, load::load_integer},              // 82
    {nullptr, load::load_refinement},           // 83
    {nullptr, load::load_char},                 // 84
    {nullptr, load::load_file},                 // 85
    {nullptr, load::load_binary},               // 86
    {nullptr, load::load_percent},              // 87
    {nullptr, load::load_float},                // 88
    {nullptr, load::load_special_float},        // 89
    {nullptr, load::load_tuple},                // 90
    {nullptr, load::load_date},                 // 91
    {nullptr, load::load_pair},                 // 92
    {nullptr, load::load_point},                // 93
    {nullptr, load::load_time},                 // 94
    {nullptr, load::load_money},                // 95
    {nullptr, load::load_tag},                  // 96
    {nullptr, load::load_url},                  // 97
    {nullptr, load::load_email},                // 98
    {nullptr, load::load_hex},                  // 99
    {nullptr, load::load_raw_string},           // 100
    {nullptr, load::load_ref},                  // 101
};

}  // namespace kel::lexer
