// url! values: the percent codec (also behind dehex and enhex), making a URL from a block
// of parts, the encoded mold, path joining, and open, read and write down to host I/O.
#include "runtime/datatypes/url.h"

#include <climits>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/io_handover.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::url {
namespace {

// One table for both: bit 0 the URL table, bit 1 the unreserved table.
constexpr uint8_t URL_BIT = 1;
constexpr uint8_t UNRESERVED_BIT = 2;

struct Tables {
  uint8_t t[128];
  constexpr Tables() : t{} {
    for (const char* p = "!#$&'()*+,-./:=?@_~"; *p; ++p) t[uint8_t(*p)] = URL_BIT;
    for (const char* p = "-._~"; *p; ++p) t[uint8_t(*p)] |= UNRESERVED_BIT;
    for (int c = '0'; c <= '9'; ++c) t[c] = URL_BIT | UNRESERVED_BIT;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = URL_BIT | UNRESERVED_BIT;
    for (int c = 'a'; c <= 'z'; ++c) t[c] = URL_BIT | UNRESERVED_BIT;
  }
};
constexpr Tables tables;

const char HEX[] = "0123456789ABCDEF";

int32_t hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The characters from the head as UTF-8, copied out so later allocations cannot move them.
// starts, when given, gets each character's codepoint at the position of its first byte.
std::vector<uint8_t> utf8_of(Cell* s, std::vector<int32_t>* starts = nullptr) {
  std::vector<uint8_t> out;
  int32_t n = string::count_from_head(s);
  int32_t head = int32_t(s->w1);
  out.reserve(size_t(n));
  uint8_t seq[4];
  for (int32_t i = 0; i < n; ++i) {
    int32_t cp = string::codepoint_at(s, head + i);
    int32_t len = unicode::encode_utf8_char(cp, seq);
    if (starts) {
      starts->resize(out.size() + size_t(len), -1);
      (*starts)[out.size()] = cp;
    }
    out.insert(out.end(), seq, seq + len);
  }
  return out;
}

// The byte of an escape at i, or -1 when there is none.
int32_t escape_at(const std::vector<uint8_t>& b, size_t i) {
  if (i + 2 >= b.size()) return -1;
  if (b[i] != '%') return -1;
  int32_t hi = hex_value(b[i + 1]), lo = hex_value(b[i + 2]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

Cell datatype_cell(uint32_t type) { return Cell{T_DATATYPE, type, 0, 0}; }

bool block_spec_q(uint32_t t) { return t == T_BLOCK || t == T_PAREN || t == T_HASH; }

void add_text(Cell* out, const char* text) {
  for (const char* p = text; *p; ++p) string::add_codepoint(out, uint8_t(*p));
}

// Forms the value (copied out of its block first) onto the end of out.
void form_onto(Cell* out, const Cell* value) {
  Cell v = *value;
  gc::Root keep(&v);
  actions::direct_form(&v, out, nullptr, INT32_MAX);
}

// scheme "://" host [":" port] ["/" segment ...], "#" before an issue!.
Cell* make_from_block(Cell* proto, Cell* spec_in) {
  Cell spec = *spec_in;
  gc::Root keep_spec(&spec);
  int32_t n = block::count_from_head(&spec);
  if (n <= 0) {
    Cell t = datatype_cell(T_URL);
    error::raise(err::script::bad_to_arg, &t, spec_in);
  }
  int32_t head = int32_t(spec.w1);
  Cell out;
  string::init_cell(&out, 32);
  gc::Root keep_out(&out);

  form_onto(&out, block::cell_at_index(&spec, head));
  add_text(&out, "://");
  int32_t i = 1;
  if (i < n) form_onto(&out, block::cell_at_index(&spec, head + i++));
  if (i < n && cell::type(block::cell_at_index(&spec, head + i)) == T_INTEGER) {
    string::add_codepoint(&out, ':');
    form_onto(&out, block::cell_at_index(&spec, head + i++));
  }
  if (i < n) {
    string::add_codepoint(&out, '/');
    form_onto(&out, block::cell_at_index(&spec, head + i++));
    for (; i < n; ++i) {
      const Cell* v = block::cell_at_index(&spec, head + i);
      string::add_codepoint(&out, cell::type(v) == T_ISSUE ? '#' : '/');
      form_onto(&out, block::cell_at_index(&spec, head + i));
    }
  }
  cell::set_type(&out, T_URL);
  *proto = out;
  return proto;
}

bool http_prefix_q(Cell* url) {
  static const char lower[] = "http";
  if (string::count_from_head(url) < 4) return false;
  int32_t head = int32_t(url->w1);
  for (int32_t i = 0; i < 4; ++i) {
    int32_t c = string::codepoint_at(url, head + i);
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    if (c != lower[i]) return false;
  }
  return true;
}

[[noreturn]] void not_done() { error::raise(err::internal::not_done); }

}  // namespace

bool url_char_q(uint32_t byte) { return byte < 128 && (tables.t[byte] & URL_BIT); }
bool unreserved_char_q(uint32_t byte) { return byte < 128 && (tables.t[byte] & UNRESERVED_BIT); }

// ---- Percent codec ----

void decode_percent(Cell* source_in, Cell* out) {
  Cell source = *source_in;
  gc::Root keep(&source);
  std::vector<int32_t> starts;
  std::vector<uint8_t> b = utf8_of(&source, &starts);
  size_t i = 0;
  while (i < b.size()) {
    int32_t byte = escape_at(b, i);
    if (byte >= 0) {
      int32_t n = unicode::utf8_lead_length(uint8_t(byte));
      if (n == 0) {
        string::add_codepoint(out, byte);
        i += 3;
        continue;
      }
      uint8_t seq[4] = {uint8_t(byte)};
      bool whole = true;
      for (int32_t k = 1; k < n; ++k) {
        int32_t next = escape_at(b, i + 3 * size_t(k));
        if (next < 0) {
          whole = false;
          break;
        }
        seq[k] = uint8_t(next);
      }
      if (whole) {
        int32_t count = n;
        int32_t cp = unicode::read_utf8_char_checked(seq, &count);
        string::add_codepoint(out, cp);
        i += 3 * size_t(n);
        continue;
      }
    }
    // A character as it stands: positions only ever land on the first byte of one, so it
    // is taken from the source itself (also a lone surrogate the UTF-8 decoder would refuse).
    int32_t cp = starts[i];
    string::add_codepoint(out, cp);
    i += size_t(unicode::utf8_length_of(cp));
  }
}

Encoded encode_byte(int32_t selector, uint32_t byte) {
  byte &= 0xFF;
  bool keep = selector == UNRESERVED ? unreserved_char_q(byte) : url_char_q(byte);
  Encoded e{};
  if (keep) {
    e.length = 1;
    e.text[0] = char(byte);
  } else {
    e.length = 3;
    e.text[0] = '%';
    e.text[1] = HEX[byte >> 4];
    e.text[2] = HEX[byte & 15];
  }
  return e;
}

void encode_percent(Cell* source_in, int32_t selector, Cell* out) {
  Cell source = *source_in;
  gc::Root keep(&source);
  std::vector<uint8_t> b = utf8_of(&source);
  for (uint8_t byte : b) {
    Encoded e = encode_byte(selector, byte);
    for (int32_t k = 0; k < e.length; ++k) string::add_codepoint(out, uint8_t(e.text[k]));
  }
}

// ---- make and to ----

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  if (type == T_URL && block_spec_q(cell::type(spec))) return make_from_block(proto, spec);
  return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
  if (type == T_URL && block_spec_q(cell::type(spec))) return make_from_block(proto, spec);
  return string::to(proto, spec, type);
}

// ---- mold ----

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
  Cell v = *value;
  gc::Root keep(&v);
  std::vector<uint8_t> b = utf8_of(&v);
  int32_t written = 0;
  for (uint8_t byte : b) {
    Encoded e = encode_byte(0, byte);
    for (int32_t k = 0; k < e.length; ++k) {
      if (part && written >= budget) return budget - written;
      string::add_codepoint(buffer, uint8_t(e.text[k]));
      ++written;
    }
  }
  return budget - written;
}

// ---- path ----

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool, bool, bool, bool) {
  if (value) error::raise(err::script::bad_path_set, path, element);
  Cell p = *parent;
  Cell e = *element;
  gc::Root keep_p(&p);
  gc::Root keep_e(&e);
  int32_t length = string::count_from_head(&p);

  Cell text;
  string::init_cell_sized(&text, length + 16, string::unit_of(&p));
  gc::Root keep_t(&text);
  actions::direct_form(&e, &text, nullptr, INT32_MAX);

  Cell* result = stack::reserve_cell();
  cell::set_none(result);  // the collector may look at it before it is a string
  string::init_cell_sized(result, length + string::count_from_head(&text) + 1,
                          string::unit_of(&p));
  cell::set_type(result, cell::type(&p));
  string::concat(result, &p, string::MODE_APPEND);
  bool parent_slash = length > 0 && string::codepoint_at(&p, int32_t(p.w1) + length - 1) == '/';
  bool element_slash = !string::head_at_tail(&text) && string::codepoint_at(&text, int32_t(text.w1)) == '/';
  if (parent_slash && element_slash) {
    text.w1 += 1;
  } else if (!parent_slash && !element_slash) {
    string::add_codepoint(result, '/');
  }
  string::concat(result, &text, string::MODE_APPEND);
  return result;
}

// ---- open, read, write ----

bool http_q(Cell* url) { return http_prefix_q(url); }

Cell* open_port(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow, bool open) {
  Cell* parsed = boot::parse_url(url);
  if (cell::type(parsed) != T_OBJECT) error::raise(err::script::invalid_arg, url);
  Cell* port = port::make_from_spec(parsed);
  if (open) port = port::open(port, new_, read, write, seek, allow);
  return port;
}

Cell* open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow) {
  return open_port(url, new_, read, write, seek, allow, true);
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
  if (http_prefix_q(source)) {
    if (part || seek || as) not_done();
    Cell* r = io::http_request({nullptr, "get"}, source, nullptr, nullptr, binary, lines, info);
    if (!r) error::raise(err::access::no_connect, source);
    return r;
  }
  Cell* port = open_port(source, false, false, false, false, nullptr, false);
  return port::read(port, part, seek, binary, lines, info, as);
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as) {
  if (!http_prefix_q(destination)) {
    Cell* copy = stack::push_copy(data);
    Cell* port = open_port(destination, false, false, false, false, nullptr, false);
    return port::write(port, copy, binary, lines, info, append, part, seek, allow, as);
  }
  if (part || seek || allow || as) not_done();

  io::HttpMethod method{nullptr, "post"};
  Cell* headers = nullptr;
  Cell* body = data;
  if (cell::type(data) == T_BLOCK) {
    int32_t n = block::count_from_head(data);
    int32_t head = int32_t(data->w1);
    body = nullptr;
    if (n == 0) {
      method.name = "get";
    } else {
      Cell first = *block::cell_at_index(data, head);
      uint32_t ft = cell::type(&first);
      if (ft != T_WORD && ft != T_LIT_WORD && ft != T_GET_WORD && ft != T_SET_WORD)
        error::raise(err::script::invalid_arg, &first);
      if (n > 1) {
        Cell second = *block::cell_at_index(data, head + 1);
        if (cell::type(&second) != T_BLOCK) error::raise(err::script::invalid_arg, &second);
      }
      // The pieces are taken onto the stack so nothing moves under the request.
      method.word = stack::push_copy(block::cell_at_index(data, head));
      if (n > 1) headers = stack::push_copy(block::cell_at_index(data, head + 1));
      if (n > 2) body = stack::push_copy(block::cell_at_index(data, head + 2));
    }
  }
  if (body) {
    uint32_t bt = cell::type(body);
    if (bt != T_BLOCK && bt != T_STRING && bt != T_BINARY)
      error::raise(err::script::invalid_arg, body);
  }
  Cell* r = io::http_request(method, destination, headers, body, binary, lines, info);
  if (!r) error::raise(err::access::no_connect, destination);
  return r;
}

// ---- registration ----

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_URL, .parent = T_STRING, .name = "url!",
       .slots = {.make = make, .to = to, .form = inherit, .mold = mold, .eval_path = eval_path,
                 .compare = inherit, .append = inherit, .at = inherit, .back = inherit,
                 .change = inherit, .clear = inherit, .copy = inherit, .find = inherit,
                 .head = inherit, .head_q = inherit, .index_q = inherit, .insert = inherit,
                 .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit,
                 .poke = inherit, .remove = inherit, .reverse = inherit, .select = inherit,
                 .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
                 .take = inherit, .modify = inherit, .open = open, .read = read,
                 .write = write}});
}

}  // namespace kel::url
