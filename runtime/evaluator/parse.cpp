// The parse engine: one loop over push, fetch, match, after-match and pop states, with
// sub-rules, loops and commands as frames on the rule stack, and the `parse` native.
#include "runtime/evaluator/parse.h"

#include <climits>
#include <utility>
#include <string>
#include <vector>

#include "runtime/casemap.h"
#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/natives_control.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::parse {

namespace {

// ---- Keywords, compared by canonical symbol ----

enum Kw : uint8_t {
  KW_UNKNOWN = 0,
  K_PIPE, K_SKIP, K_ANY, K_SOME, K_OPT, K_WHILE, K_COPY, K_SET, K_TO, K_THRU, K_REMOVE,
  K_INSERT, K_CHANGE, K_BREAK, K_REJECT, K_FAIL, K_NOT, K_AHEAD, K_NONE, K_END, K_QUOTE, K_IF,
  K_CASE, K_INTO, K_COLLECT, K_KEEP, K_PICK, K_ONLY, K_AFTER,
  KW_COUNT,
  KW_NOT = 0xFF,
};

using runtime::runtime_word_index;
using runtime::WordKind;
consteval size_t sym(std::string_view s) { return runtime_word_index(s, WordKind::SYMBOL); }
constexpr size_t KW_POSITIONS[KW_COUNT] = {
    0, sym("|"), sym("skip"), sym("any"), sym("some"), sym("opt"), sym("while"), sym("copy"),
    sym("set"), sym("to"), sym("thru"), sym("remove"), sym("insert"),
    runtime_word_index("change", WordKind::GLOBAL_WORD), sym("break"), sym("reject"),
    sym("fail"), sym("not"), sym("ahead"), sym("none"), sym("end"), sym("quote"), sym("if"),
    sym("case"), sym("into"), sym("collect"), sym("keep"), sym("pick"), sym("only"),
    sym("after")};

int32_t g_kw_canon[KW_COUNT];
uint32_t g_kw_stamp = 0;           // the id of `|` the table was built with
std::vector<uint8_t> g_kw_cache;   // by symbol id: KW_UNKNOWN not looked up yet
// The cache as read by keyword_of: empty until a run found the table current.
const uint8_t* g_kw_table = nullptr;
size_t g_kw_size = 0;

Kw keyword_lookup(uint32_t id);
void compiled_clear();

// The cached answer; the look-up otherwise. Every run checks the table first
// (keywords_current), and symbol ids do not change while one runs.
inline Kw keyword_of(uint32_t id) {
  if (id < g_kw_size) {
    uint8_t k = g_kw_table[id];
    if (k != KW_UNKNOWN) return k == KW_NOT ? KW_UNKNOWN : Kw(k);
  }
  return keyword_lookup(id);
}

// Drops the cache when the symbols it was built with are gone (a new start-up).
void keywords_current() {
  uint32_t stamp = uint32_t(symbol::runtime_id(KW_POSITIONS[K_PIPE]));
  if (stamp == g_kw_stamp && stamp != 0) return;
  for (int k = 1; k < KW_COUNT; ++k)
    g_kw_canon[k] = symbol::canonical_id(symbol::runtime_id(KW_POSITIONS[k]));
  g_kw_cache.clear();
  compiled_clear();
  g_kw_stamp = stamp;
  g_kw_table = nullptr;
  g_kw_size = 0;
}

Kw keyword_lookup(uint32_t id) {
  keywords_current();
  if (id < g_kw_cache.size() && g_kw_cache[id] != KW_UNKNOWN) {
    uint8_t k = g_kw_cache[id];
    return k == KW_NOT ? KW_UNKNOWN : Kw(k);
  }
  int32_t c = symbol::canonical_id(int32_t(id));
  uint8_t found = KW_NOT;
  for (int k = 1; k < KW_COUNT; ++k)
    if (g_kw_canon[k] == c) { found = uint8_t(k); break; }
  if (id >= g_kw_cache.size()) g_kw_cache.resize(size_t(id) + 64, KW_UNKNOWN);
  g_kw_cache[id] = found;
  g_kw_table = g_kw_cache.data();
  g_kw_size = g_kw_cache.size();
  return found == KW_NOT ? KW_UNKNOWN : Kw(found);
}

bool is_keyword(const Cell* c, Kw k) { return cell::type(c) == T_WORD && keyword_of(c->w2) == k; }

// ---- Compiled rule blocks ----

// What a rule block's cells say on their own: where each alternative begins, and the
// keyword of each word. Trusted while the block's write stamp is the one it was compiled
// at (every write of its cells gives a new one); the values of its words and the contents
// of bitsets are not in it: they can change while a parse runs and are read at each use.
// Process-wide, by node; an entry is checked (node and stamp) at every look-up, so a nested
// parse that replaced it is seen.
struct Compiled {
  Node node = 0;
  uint32_t stamp = 0;
  int32_t changes = 0;        // recompiles of this node since it took the slot
  std::vector<uint8_t> kw;    // by cell from the buffer head: a word's keyword
  std::vector<int32_t> alt;   // by cell: where the alternative after the first `|` at or
                              // after it begins; -1 without one (one entry past the tail)
};
// Two ways a set: a miss compiles into the first way and moves its entry to the second, so
// two blocks of one set used in turn both stay compiled.
constexpr uint32_t COMPILED_SETS = 128;
Compiled g_compiled[COMPILED_SETS][2];
uint64_t g_compiled_renames = 0;

// Drops every compiled form (nodes renamed, a stamp clock that wrapped, a new start-up).
void compiled_clear() {
  for (auto& set : g_compiled)
    for (Compiled& c : set) {
      c.node = 0;
      c.changes = 0;
    }
}

// Compiles the block into the set's first way: null for a block its own actions keep
// changing (compiling it at every use would cost more than reading its cells).
[[gnu::noinline]] const Compiled* compile(Compiled* set, Node node, const SeriesBuffer* b) {
  if (set[1].node == node) std::swap(set[0], set[1]);
  if (set[0].node == node) {
    if (set[0].changes >= 16) return nullptr;
    ++set[0].changes;
  } else {
    std::swap(set[0], set[1]);
    set[0].changes = 0;
  }
  Compiled& c = set[0];
  c.node = 0;
  const Cell* cells = memory::head_cells(const_cast<SeriesBuffer*>(b));
  int32_t n = int32_t((b->tail - b->head) >> 4);
  c.kw.assign(size_t(n), KW_UNKNOWN);
  c.alt.assign(size_t(n) + 1, -1);
  int32_t next = -1;
  for (int32_t i = n - 1; i >= 0; --i) {
    if (cell::type(cells + i) == T_WORD) {
      c.kw[size_t(i)] = keyword_of(cells[i].w2);
      if (c.kw[size_t(i)] == K_PIPE) next = i + 1;
    }
    c.alt[size_t(i)] = next;
  }
  c.node = node;
  c.stamp = memory::stamp(b);
  return &c;
}

// The compiled form of the block in node (its buffer b), or null where none is kept. Good
// until the next look-up (which may replace it). Nothing here allocates on the collected
// heap.
inline const Compiled* compiled_of(Node node, const SeriesBuffer* b) {
  if (memory::detail::g_memory.renames != g_compiled_renames) [[unlikely]] {
    compiled_clear();
    g_compiled_renames = memory::detail::g_memory.renames;
  }
  Compiled* set = g_compiled[(node * 0x9E3779B1u) >> 25];
  uint32_t st = memory::stamp(b);
  if (set[0].node == node && set[0].stamp == st) return &set[0];
  if (set[1].node == node && set[1].stamp == st) return &set[1];
  return compile(set, node, b);
}

// ---- Small helpers ----

enum class Kind { BLOCK, TEXT, BYTES };
enum State { GO_FETCH, GO_AFTER, GO_POP, GO_DONE };
enum Collect : uint32_t { PLAIN = 0, SET_WORD_MODE = 1, INTO_MODE = 2, AFTER_MODE = 3 };

inline int32_t units_in(const SeriesBuffer* b);
// Units from the buffer head to the tail.
inline int32_t tail_of(const Cell* s) { return units_in(memory::node_buffer(s->w2)); }

inline int32_t char_at(const Cell* s, int32_t i) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  const uint8_t* p = memory::head(b) + size_t(i) * u;
  return u == 1 ? *p : u == 2 ? *reinterpret_cast<const uint16_t*>(p)
                              : int32_t(*reinterpret_cast<const uint32_t*>(p));
}

inline int32_t fold(int32_t c) { return case_::map_char(c, case_::DIR_UPPER); }

bool in_bitset(const Cell* bitset, uint32_t c) {
  SeriesBuffer* b = memory::node_buffer(bitset->w2);
  uint32_t stored = memory::used_bytes(b);
  if (c < stored * 8u) return (memory::head(b)[c >> 3] & (0x80u >> (c & 7))) != 0;
  return (b->flags & sflag::COMPLEMENT) != 0;
}

bool text_type_q(uint32_t t) { return string::any_string_q(t); }
bool series_type_q(uint32_t t) {
  return block::any_block_q(t) || text_type_q(t) || t == T_BINARY;
}
bool word_type_q(uint32_t t) { return t == T_WORD || t == T_GET_WORD; }
bool path_rule_q(uint32_t t) { return t == T_PATH || t == T_SET_PATH || t == T_GET_PATH; }

// Values that a repetition may match in one step, without frames: one bit test.
constexpr uint64_t NOT_LITERAL =
    uint64_t(1) << T_BLOCK | uint64_t(1) << T_PAREN | uint64_t(1) << T_WORD |
    uint64_t(1) << T_SET_WORD | uint64_t(1) << T_GET_WORD | uint64_t(1) << T_DATATYPE |
    uint64_t(1) << T_TYPESET | uint64_t(1) << T_INTEGER | uint64_t(1) << T_PATH |
    uint64_t(1) << T_SET_PATH | uint64_t(1) << T_GET_PATH | uint64_t(1) << T_UNSET;
static_assert(T_TYPE_COUNT <= 64);
inline bool literal_q(uint32_t t) { return t >= 64 || !((NOT_LITERAL >> t) & 1); }

void append_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// The bytes a string-like or binary value stands for on binary input (a tag with its
// brackets).
std::string bytes_of(const Cell* v) {
  std::string out;
  uint32_t t = cell::type(v);
  int32_t n = tail_of(v);
  if (t == T_BINARY) {
    const uint8_t* p = memory::head(memory::node_buffer(v->w2));
    for (int32_t i = int32_t(v->w1); i < n; ++i) out += char(p[i]);
    return out;
  }
  if (t == T_TAG) out += '<';
  for (int32_t i = int32_t(v->w1); i < n; ++i) append_utf8(out, uint32_t(char_at(v, i)));
  if (t == T_TAG) out += '>';
  return out;
}

[[noreturn]] void bad_part(const Cell* value) {
  constexpr size_t REF_PART = runtime_word_index("part", WordKind::REFINEMENT);
  Cell r{T_REFINEMENT, 0, uint32_t(symbol::runtime_id(REF_PART)), 0xFFFFFFFFu};
  gc::Root keep(&r);
  error::raise(err::script::invalid_refine_arg, &r, value);
}

// Buffers move only when a series grows into a new buffer or the collector runs: an
// address read through a node stays good while the move counter is unchanged.
memory::MemoryState& M = memory::detail::g_memory;
inline uint64_t epoch() { return M.moves; }

inline int32_t units_in(const SeriesBuffer* b) {
  uint32_t bytes = b->tail - b->head;
  switch (memory::unit(b)) {
    case 1: return int32_t(bytes);
    case 2: return int32_t(bytes >> 1);
    case 4: return int32_t(bytes >> 2);
    case 16: return int32_t(bytes >> 4);
    default: return int32_t(bytes / memory::unit(b));
  }
}

inline int32_t char_in(SeriesBuffer* b, int32_t i) {
  uint32_t u = memory::unit(b);
  const uint8_t* p = memory::head(b) + size_t(i) * u;
  return u == 1 ? *p : u == 2 ? *reinterpret_cast<const uint16_t*>(p)
                              : int32_t(*reinterpret_cast<const uint32_t*>(p));
}

// ---- The engine ----

struct Engine {
  // Rooted cells: every node the engine keeps between steps lives here or on the stacks.
  Cell cells[11] = {};
  Cell& input = cells[0];     // current input, index = current position
  Cell& rules = cells[1];     // current rule block (its head, as pushed)
  Cell& item = cells[2];      // the rule item being matched
  Cell& value = cells[3];     // a word's value, an evaluated paren
  Cell& callback = cells[4];
  Cell& result = cells[5];    // a top-level collect's block
  Cell& tmp = cells[6];
  Cell& tmp2 = cells[7];
  Cell& aux = cells[8];
  Cell& event = cells[9];
  Cell& top_rules = cells[10];  // the rule block parse began with
  gc::RootRange roots{cells, cells + 11};

  // Rule-block frames of this run counted by a hash of (block node, head, input index): a
  // push whose bucket is empty cannot repeat a frame, so the stack walk of the recursion
  // check runs only on a hit. Rebuilt from the stack when nodes may have been renamed.
  static constexpr uint32_t REC_BUCKETS = 1024;
  uint16_t rec[REC_BUCKETS] = {};
  uint64_t rec_renames = M.renames;

  static uint32_t rec_hash(Node node, uint32_t head, uint32_t at) {
    uint32_t h = node * 0x9E3779B1u ^ head * 0x85EBCA6Bu ^ at * 0xC2B2AE35u;
    return (h ^ (h >> 16)) & (REC_BUCKETS - 1);
  }
  void rec_rebuild() {
    for (uint16_t& r : rec) r = 0;
    int32_t i = rtop() - 1, head = rhead();
    while (i >= head) {
      const Cell* top = rat(i);
      if (cell::type(top) == T_TRIPLE) {
        const Cell* b = rat(i - 1);
        ++rec[rec_hash(b->w2, b->w1, top->w2)];
      }
      i -= frame_size(top);
    }
    rec_renames = M.renames;
  }
  // Before the rule-block frame on top of the stack is dropped.
  void rec_drop_top() {
    if (M.renames != rec_renames) rec_rebuild();
    const Cell* top = memory::tail_cells(rs_b()) - 1;
    --rec[rec_hash(top[-1].w2, top[-1].w1, top->w2)];
  }

  // The short cuts below (recursion counters, repetitions that fail at once) are off with
  // the interpreter's short paths (KEL_NO_FAST_PATHS=1), so the cases check both ways.
  bool shortcuts = !interp::switches.no_fast_paths;

  int32_t ri = 0;          // index of the next rule in the current block
  int32_t frame = -1;      // rule-stack index of the current rule-block frame's triple
  int32_t limit = INT_MAX;
  int32_t mode = 0;
  Kind kind = Kind::BLOCK;
  bool flag = true;
  bool stopped = false;
  bool has_result = false;
  bool tracing = false;
  bool saved = false;

  // Buffers of the rule stack, the current rules and the input, read again only after
  // something allocated or collected: one move count for the three, so the checks of
  // accesses that follow one another without a call between fold into one. Replacing the
  // rules (set_rules) or the input (set_kind) reads that buffer again.
  mutable uint64_t buf_epoch = ~uint64_t(0);
  mutable SeriesBuffer* rs_buf = nullptr;
  mutable SeriesBuffer* rules_buf = nullptr;
  mutable SeriesBuffer* in_buf = nullptr;
  [[gnu::noinline]] void read_buffers() const {
    rs_buf = memory::node_buffer(rs()->w2);
    rules_buf = rules.w2 ? memory::node_buffer(rules.w2) : nullptr;
    in_buf = memory::node_buffer(input.w2);
    buf_epoch = epoch();
  }
  void buffers_current() const {
    if (buf_epoch != epoch()) [[unlikely]] read_buffers();
  }
  SeriesBuffer* in_b() const {
    buffers_current();
    return in_buf;
  }
  SeriesBuffer* rules_b() const {
    buffers_current();
    return rules_buf;
  }
  // The buffers without the check, in the hot states only: where a check came first in the
  // same step and nothing between can allocate (nor run code, raise aside).
  SeriesBuffer* rs_cur() const { return rs_buf; }
  SeriesBuffer* rules_cur() const { return rules_buf; }
  SeriesBuffer* in_cur() const { return in_buf; }
  int32_t end_cur() const {
    int32_t t = units_in(in_buf);
    return limit < t ? limit : t;
  }

  // -- rule stack access (addresses valid until the next allocation) --
  static Cell* rs() { return rule_stack(); }
  // The rule stack's buffer; its address holds until something allocates.
  SeriesBuffer* rs_b() const {
    buffers_current();
    return rs_buf;
  }
  static int32_t cells_in(const SeriesBuffer* b) { return int32_t((b->tail - b->head) >> 4); }
  Cell* rat(int32_t i) const { return memory::head_cells(rs_b()) + i; }
  int32_t rtop() const {
    const SeriesBuffer* b = rs_b();
    return int32_t((b->tail - b->head) >> 4);
  }
  static int32_t rhead() { return int32_t(rs()->w1); }
  // Cells without nodes go by value; a node-holding cell is read from its rooted place
  // only after the push made room (the room may move nodes).
  // With room in the buffer nothing allocates, so the cell is written straight away.
  void rpush(const Cell& c) {
    SeriesBuffer* b = rs_b();
    if (b->tail + sizeof(Cell) <= uint32_t(b->capacity)) {
      *memory::tail_cells(b) = c;
      b->tail += sizeof(Cell);
      return;
    }
    *runtime::block_append_cell(rs()) = c;
  }
  void rpush_rooted(const Cell* c) {
    SeriesBuffer* b = rs_b();
    if (b->tail + sizeof(Cell) <= uint32_t(b->capacity)) {
      *memory::tail_cells(b) = *c;
      b->tail += sizeof(Cell);
      return;
    }
    Cell* slot = runtime::block_append_cell(rs());
    *slot = *c;
  }
  void rdrop(int32_t n) {
    SeriesBuffer* b = rs_b();
    b->tail -= uint32_t(n) * uint32_t(sizeof(Cell));
  }
  static int32_t frame_size(const Cell* top) {
    if (cell::type(top) == T_TRIPLE) return 2;
    int32_t k = int32_t(top->w2);
    if (k == code::REPEAT || k == code::WHILE) return 3;
    if (k == code::COPY || k == code::SET || k == code::COLLECT) return 4;
    return 2;
  }

  int32_t rule_count() const {
    const SeriesBuffer* b = rules_b();
    return int32_t((b->tail - b->head) >> 4);
  }
  const Cell* rule_at(int32_t i) const {
    return memory::head_cells(rules_b()) + i;
  }
  // Wherever the current rule block is replaced (its cache is read by the move counter).
  void set_rules(const Cell& c) {
    rules = c;
    if (buf_epoch == epoch()) rules_buf = memory::node_buffer(c.w2);
  }

  void set_kind() {
    if (buf_epoch == epoch()) in_buf = memory::node_buffer(input.w2);
    uint32_t t = cell::type(&input);
    kind = block::any_block_q(t) ? Kind::BLOCK : t == T_BINARY ? Kind::BYTES : Kind::TEXT;
  }
  int32_t end_index() const {
    int32_t t = units_in(in_b());
    return limit < t ? limit : t;
  }
  bool eq_char(int32_t a, int32_t b) const {
    return a == b || (mode != 2 && fold(a) == fold(b));
  }

  // Resets the stacks, then raises (the next parse must not meet stale frames).
  [[noreturn]] void fail(ErrorPos e, const Cell* arg = nullptr) {
    Cell a = arg ? *arg : Cell{T_NONE, 0, 0, 0};
    gc::Root keep(&a);
    reset_stacks(saved);
    error::raise(e, arg ? &a : nullptr);
  }

  void need(bool ok) {
    if (!ok) fail(err::script::parse_end, &item);
  }

  // -- trace --
  bool ev(const char* name, const Cell* rule_cell, int32_t index) {
    event = word::intern_global(name);
    Cell r = *rule_cell;
    gc::Root keep(&r);
    if (!trace(&callback, &event, flag, &r, uint32_t(index), &input)) stopped = true;
    return !stopped;
  }
  bool ev(const char* name) { return !tracing || ev(name, &rules, ri); }

  // -- values --
  // The values of the last context a rule word was read from: its head cell and values
  // series, good while nothing moved. A read checks the context's values node and flags
  // again, so it answers exactly what context::value_slot answers, without its two node
  // look-ups; anything else (no index yet, an unbound word, a function's frame) goes there.
  uint64_t vc_epoch = ~uint64_t(0);
  Node vc_ctx = 0, vc_values = 0;
  const Cell* vc_x = nullptr;
  Cell* vc_head = nullptr;

  [[gnu::noinline]] bool values_of(Node ctx) {
    const Cell* x = reinterpret_cast<const Cell*>(memory::node_head(ctx));
    // a function's frame keeps a stack index there, not a node
    if (!x->w2 || (x->header & hdr::CONTEXT_ON_STACK)) return false;
    vc_ctx = ctx;
    vc_x = x;
    vc_values = x->w2;
    vc_head = reinterpret_cast<Cell*>(memory::node_head(x->w2));
    vc_epoch = epoch();
    return true;
  }
  [[gnu::always_inline]] const Cell* cached_slot(const Cell* w) {
    Node ctx = w->w1;
    if (int32_t(w->w3) == -1 || !ctx) return nullptr;
    if ((ctx != vc_ctx || vc_epoch != epoch()) && !values_of(ctx)) return nullptr;
    if (vc_x->w2 != vc_values || (vc_x->header & hdr::CONTEXT_ON_STACK)) {
      vc_epoch = ~uint64_t(0);
      return nullptr;
    }
    return vc_head + int32_t(w->w3);
  }
  // The buffer of the last bitset tested, kept while nothing moved (its bits are read
  // live, so a bitset changed in place is seen).
  // Two ways: a grammar's runs alternate between two sets (`some letters | some other`).
  uint64_t bs_epoch = ~uint64_t(0);
  Node bs_nodes[2] = {0, 0};
  SeriesBuffer* bs_bufs[2] = {nullptr, nullptr};
  SeriesBuffer* bitset_buffer(Node n) {
    if (bs_epoch != epoch()) {
      bs_nodes[0] = bs_nodes[1] = 0;
      bs_epoch = epoch();
    }
    if (n == bs_nodes[0]) return bs_bufs[0];
    if (n == bs_nodes[1]) return bs_bufs[1];
    bs_nodes[1] = bs_nodes[0];
    bs_bufs[1] = bs_bufs[0];
    bs_nodes[0] = n;
    return bs_bufs[0] = memory::node_buffer(n);
  }
  bool member(const Cell* bitset, uint32_t c) {
    SeriesBuffer* bs_buf = bitset_buffer(bitset->w2);
    if (c < memory::used_bytes(bs_buf) * 8u)
      return (memory::head(bs_buf)[c >> 3] & (0x80u >> (c & 7))) != 0;
    return (bs_buf->flags & sflag::COMPLEMENT) != 0;
  }

  [[gnu::noinline]] static void word_value_other(const Cell* w, Cell* out) {
    *out = *context::value_slot(w, w->w1);
  }
  [[gnu::always_inline]] void word_value(const Cell* w, Cell* out) {
    const Cell* at = cached_slot(w);
    if (at) *out = *at;
    else word_value_other(w, out);
  }

  void element(int32_t i, Cell* out) {
    if (kind == Kind::BLOCK) *out = *(memory::head_cells(in_b()) + i);
    else if (kind == Kind::TEXT) *out = Cell{T_CHAR, 0, uint32_t(char_in(in_b(), i)), 0};
    else *out = Cell{T_INTEGER, 0, memory::head(in_b())[i], 0};
  }

  void copy_part(int32_t from, int32_t count, Cell* out) {
    if (kind == Kind::TEXT && cell::type(&input) == T_STRING && from >= 0 && count >= 0 &&
        from + count <= units_in(in_b())) {
      // what copy/part answers there, without the action's dispatch (input is rooted)
      series::copy_range(&input, uint32_t(from), uint32_t(count), out);
      return;
    }
    uint32_t slot = stack::index_of(stack::state().top);
    Cell* src = stack::push_copy(&input);
    src->w1 = uint32_t(from);
    Cell* part = stack::reserve_cell();
    cell::set_integer(part, count < 0 ? 0 : count);
    src = stack::at_index(slot);
    actions::direct<datatype::action::COPY>(src, out, stack::at_index(slot + 1), false, nullptr);
    stack::state().top = stack::at_index(slot);
  }

  bool same_series_q(const Cell* v) const {
    return cell::type(v) == cell::type(&input) && v->w2 == input.w2;
  }

  // -- literal matching: the count of input values matched at i, or -1 --
  int32_t match_at(const Cell* rule, int32_t i, bool quoted) {
    int32_t end = end_index();
    uint32_t t = cell::type(rule);
    if (kind == Kind::BLOCK) {
      if (i >= end) return -1;
      const Cell* head = memory::head_cells(in_b()) + i;
      if (!quoted && t == T_DATATYPE) return cell::type(head) == rule->w1 ? 1 : -1;
      if (!quoted && t == T_TYPESET) return typeset::has_q(rule, cell::type(head)) ? 1 : -1;
      int32_t op = (t == T_LIT_WORD || t == T_LIT_PATH) ? (mode == 2 ? 10 : 11) : mode;
      tmp = *head;
      tmp2 = *rule;
      return actions::compare(&tmp, &tmp2, op) ? 1 : -1;
    }
    if (kind == Kind::TEXT) {
      if (!quoted && (t == T_DATATYPE || t == T_TYPESET)) fail(err::script::parse_unsupported);
      SeriesBuffer* ib = in_b();  // nothing allocates in these matches
      if (t == T_CHAR) return i < end && eq_char(char_in(ib, i), int32_t(rule->w2)) ? 1 : -1;
      if (t == T_BITSET) return i < end && in_bitset(rule, uint32_t(char_in(ib, i))) ? 1 : -1;
      if (text_type_q(t)) {
        SeriesBuffer* rb = memory::node_buffer(rule->w2);
        int32_t from = int32_t(rule->w1), n = units_in(rb) - from;
        if (n < 0) n = 0;
        int32_t extra = t == T_TAG ? 2 : 0;
        if (i + n + extra > end) return -1;
        int32_t at = i;
        if (t == T_TAG && char_in(ib, at++) != '<') return -1;
        for (int32_t k = 0; k < n; ++k)
          if (!eq_char(char_in(ib, at + k), char_in(rb, from + k))) return -1;
        if (t == T_TAG && char_in(ib, at + n) != '>') return -1;
        return n + extra;
      }
      return -1;
    }
    // binary input
    const uint8_t* p = memory::head(in_b());
    if (t == T_CHAR) return i < end && p[i] == rule->w2 ? 1 : -1;
    if (t == T_BITSET) return i < end && in_bitset(rule, p[i]) ? 1 : -1;
    if (text_type_q(t) || t == T_BINARY) {
      std::string bytes = bytes_of(rule);
      int32_t n = int32_t(bytes.size());
      if (i + n > end) return -1;
      p = memory::head(in_b());
      for (int32_t k = 0; k < n; ++k)
        if (p[i + k] != uint8_t(bytes[size_t(k)])) return -1;
      return n;
    }
    if (!quoted && (t == T_DATATYPE || t == T_TYPESET)) {
      if (i >= end) return -1;
      // scanned in place: the lexer reads the bytes through the node
      Cell res{T_NONE, 0, 0, 0}, src = input;
      gc::Root keep(&res), keep_src(&src);
      src.w1 = uint32_t(i);
      int32_t consumed = 0;
      int32_t type = lexer_scan(&res, nullptr, end - i, true, true, false, false, &consumed,
                                nullptr, &src, nullptr);
      if (type <= 0 || consumed <= 0) return -1;
      bool ok = t == T_DATATYPE ? uint32_t(type) == rule->w1 : typeset::has_q(rule, uint32_t(type));
      return ok ? consumed : -1;
    }
    return -1;
  }

  // -- frames --
  int32_t find_block_frame() const {
    const SeriesBuffer* b = rs_b();
    const Cell* c = memory::head_cells(const_cast<SeriesBuffer*>(b));
    int32_t i = cells_in(b) - 1, head = rhead();
    while (i >= head) {
      const Cell* top = c + i;
      if (cell::type(top) == T_TRIPLE) return i;
      i -= frame_size(top);
    }
    return -1;
  }
  // Rule-stack index of the top cell of the innermost frame with one of the codes, or -1.
  int32_t find_command(int32_t a, int32_t b) const {
    int32_t i = rtop() - 1, head = rhead();
    while (i >= head) {
      const Cell* top = rat(i);
      if (cell::type(top) == T_PAIR && (int32_t(top->w2) == a || int32_t(top->w2) == b)) return i;
      i -= frame_size(top);
    }
    return -1;
  }
  void push_command(int32_t k, uint32_t flag_word, int32_t rule_index) {
    rpush(Cell{T_TRIPLE, uint32_t(rule_index), input.w1, uint32_t(units_in(in_b()))});
    rpush(Cell{T_PAIR, 0, uint32_t(k), flag_word});
  }

  State push_block(const Cell* block_cell) {
    buffers_current();
    if (cells_in(rs_cur()) - rhead() >= STACK_LIMIT) check_limits(saved);
    if (M.renames != rec_renames) rec_rebuild();
    uint32_t h = rec_hash(block_cell->w2, block_cell->w1, input.w1);
    if (!shortcuts || rec[h]) check_recursion(block_cell, input.w1, saved);
    // nothing above allocated: the checks raise or return
    SeriesBuffer* b = rs_cur();
    if (frame >= 0) memory::head_cells(b)[frame].w1 = uint32_t(ri);
    rules = *block_cell;  // set_rules, the buffers being current
    rules_buf = memory::node_buffer(rules.w2);
    rules.header = T_BLOCK;
    Cell triple{T_TRIPLE, rules.w1, input.w1, uint32_t(units_in(in_cur()))};
    if (b->tail + 2 * sizeof(Cell) <= uint32_t(b->capacity)) {
      Cell* at = memory::tail_cells(b);
      at[0] = rules;
      at[1] = triple;
      b->tail += 2 * sizeof(Cell);
      frame = cells_in(b) - 1;
      ++rec[h];  // nothing allocated: no node renamed, the same bucket
    } else {
      rpush_rooted(&rules);
      rpush(triple);
      frame = rtop() - 1;
      if (M.renames != rec_renames) rec_rebuild();  // counts the new frame too
      else ++rec[h];
    }
    ri = int32_t(rules.w1);
    if (tracing && !ev("push")) return GO_DONE;
    return GO_FETCH;
  }

  // Drops a rule-block frame; the enclosing block becomes current. From pop, with the
  // buffers current (nothing here allocates).
  void drop_block_frame() {
    if (M.renames != rec_renames) rec_rebuild();
    SeriesBuffer* b = rs_cur();
    const Cell* top = memory::tail_cells(b) - 1;
    --rec[rec_hash(top[-1].w2, top[-1].w1, top->w2)];
    b->tail -= 2 * uint32_t(sizeof(Cell));
    frame = find_block_frame();
    if (frame >= 0) {
      const Cell* c = memory::head_cells(b);
      set_rules(c[frame - 1]);
      ri = int32_t(c[frame].w1);
    }
  }

  // -- states --
  State fetch() {
    const SeriesBuffer* rb = rules_b();
    if (ri >= cells_in(rb)) {
      // A command still waiting for its rule (a paren shortened the block) fails; the
      // block itself ends with a match.
      flag = cells_in(rs_cur()) - 1 == frame;
      return flag ? GO_POP : GO_AFTER;
    }
    item = memory::head_cells(const_cast<SeriesBuffer*>(rb))[ri];
    if (tracing) {
      if (!ev("fetch")) return GO_DONE;
      buffers_current();  // the callback ran: what match_item reads unchecked is read again
    }
    ++ri;
    return match_item();
  }

  State match_item() {
    switch (cell::type(&item)) {
      case T_WORD: {
        Kw k = keyword_of(item.w2);
        if (k == K_ANY || k == K_SOME || k == K_OPT) {  // the common ones without the switch
          need(ri < cells_in(rules_cur()));
          return repeat(k == K_SOME ? 1 : 0, k == K_OPT ? 1 : -1, code::REPEAT);
        }
        if (k == K_PIPE) {  // the alternative matched: so does the block
          need(ri < cells_in(rules_cur()) && cells_in(rs_cur()) - 1 == frame);
          flag = true;
          return GO_POP;
        }
        if (k != KW_UNKNOWN && k != K_ONLY && k != K_AFTER) return keyword(k);
        word_value(&item, &value);
        uint32_t vt = cell::type(&value);
        if (vt == T_UNSET) fail(err::script::parse_rule, &item);
        if (vt == T_BLOCK) return push_block(&value);
        return match_value(&value);
      }
      case T_SET_WORD: {
        tmp = input;
        word::assign_value(&item, &tmp);
        flag = true;
        return GO_AFTER;
      }
      case T_GET_WORD: {
        word_value(&item, &value);
        if (!same_series_q(&value)) fail(err::script::parse_invalid_ref, &item);
        input.w1 = value.w1;
        flag = true;
        return GO_AFTER;
      }
      case T_BLOCK:
        return push_block(&item);
      case T_PAREN:
        eval_paren(&item, &value);
        flag = true;
        if (tracing && !ev("paren")) return GO_DONE;
        return GO_AFTER;
      case T_INTEGER:
        return counted();
      case T_PATH: case T_SET_PATH: case T_GET_PATH:
        fail(err::script::parse_rule, &item);
      default:
        return match_value(&item);
    }
  }

  State match_value(const Cell* v) {
    int32_t n;
    uint32_t t = cell::type(v);
    if (kind == Kind::TEXT && (t == T_CHAR || t == T_BITSET)) {
      // the common literal on text, as match_at answers it; nothing allocates here
      // from match_item: nothing allocated since fetch's check
      int32_t i = int32_t(input.w1);
      n = -1;
      if (i < end_cur()) {
        int32_t c = char_in(in_cur(), i);
        if (t == T_CHAR ? eq_char(c, int32_t(v->w2)) : member(v, uint32_t(c))) n = 1;
      }
    } else {
      n = match_at(v, int32_t(input.w1), false);
    }
    flag = n >= 0;
    if (flag) input.w1 += uint32_t(n);
    if (tracing && !ev("match")) return GO_DONE;
    return GO_AFTER;
  }

  // The rule after a repetition keyword or count, as a literal matched in one step; false
  // when it needs frames. out receives the literal.
  bool single_rule(const Cell* next, Cell* out) {
    uint32_t t = cell::type(next);
    if (literal_q(t)) {
      *out = *next;
      return true;
    }
    if (type_rule_q(t)) {
      *out = *next;
      return true;
    }
    if (t != T_WORD || tracing || keyword_of(next->w2) != KW_UNKNOWN) return false;
    word_value(next, out);
    return literal_q(cell::type(out)) || type_rule_q(cell::type(out));
  }

  // A datatype or typeset on block input: one type test per value, nothing to evaluate.
  // Traced runs keep their per-iteration events.
  bool type_rule_q(uint32_t t) const {
    return (t == T_DATATYPE || t == T_TYPESET) && kind == Kind::BLOCK && !tracing && shortcuts;
  }

  // From repeat and capture_single: nothing allocated since fetch's check.
  State single(const Cell* rule, int32_t min, int32_t max) {
    int32_t i = int32_t(input.w1), count = 0;
    bool satisfied = false;
    uint32_t rt = cell::type(rule);
    if (kind == Kind::BLOCK && (rt == T_DATATYPE || rt == T_TYPESET)) {
      // nothing allocates in this loop
      int32_t end = end_cur();
      if (max >= 0 && end - i > max) end = i + max;
      const Cell* c = memory::head_cells(in_cur());
      if (rt == T_DATATYPE) {
        uint32_t want = rule->w1;
        while (i < end && cell::type(c + i) == want) ++i;
      } else {
        while (i < end && typeset::has_q(rule, cell::type(c + i))) ++i;
      }
      count = i - int32_t(input.w1);
    } else if (kind != Kind::BLOCK && rt == T_BITSET) {
      // the common run: characters or bytes in a set
      // nothing allocates in this loop: both buffers stay put
      int32_t end = end_cur();
      if (max >= 0 && end - i > max) end = i + max;
      SeriesBuffer* bb = bitset_buffer(rule->w2);
      const uint8_t* bits = memory::head(bb);
      uint32_t stored = memory::used_bytes(bb) * 8u;
      bool outside = (bb->flags & sflag::COMPLEMENT) != 0;
      SeriesBuffer* ib = in_cur();
      const uint8_t* p = memory::head(ib);
      uint32_t u = kind == Kind::TEXT ? memory::unit(ib) : 1;
      auto member = [&](uint32_t c) {
        return c < stored ? (bits[c >> 3] & (0x80u >> (c & 7))) != 0 : outside;
      };
      if (u == 1) {
        while (i < end && member(p[i])) ++i;
      } else if (u == 2) {
        const uint16_t* q = reinterpret_cast<const uint16_t*>(p);
        while (i < end && member(q[i])) ++i;
      } else {
        const uint32_t* q = reinterpret_cast<const uint32_t*>(p);
        while (i < end && member(q[i])) ++i;
      }
      count = i - int32_t(input.w1);
    } else {
      while (max < 0 || count < max) {
        int32_t n = match_at(rule, i, false);
        if (n < 0) break;
        if (n == 0) {  // an empty string matches at once
          satisfied = true;
          break;
        }
        i += n;
        ++count;
      }
    }
    flag = satisfied || count >= min;
    if (flag) input.w1 = uint32_t(i);
    if (tracing && !ev("match")) return GO_DONE;
    return GO_AFTER;
  }

  // The slot of a resolved word's value, where reading it cannot raise; null otherwise.
  const Cell* plain_value(const Cell* w) { return cached_slot(w); }

  // Whether a text or binary rule (a block, or a word holding one) cannot match here without
  // running anything: every alternative begins with a char, bitset, string or binary (or a
  // word holding one) that fails at the input position. Only where pushing the block could
  // raise nothing and report nothing: no trace, away from the stack limit, and no frame of
  // the same block beginning here.
  bool fails_at_once(const Cell* rule) {
    if (tracing || kind == Kind::BLOCK || !shortcuts) return false;
    uint32_t t = cell::type(rule);
    if (t == T_WORD) {
      if (keyword_of(rule->w2) != KW_UNKNOWN || !(rule = plain_value(rule))) return false;
      t = cell::type(rule);
    }
    if (t != T_BLOCK) return false;
    return block_fails_here(rule);
  }

  // fails_at_once for a block rule (text or binary input, no trace).
  // From repeat only (nothing allocated since fetch's check).
  bool block_fails_here(const Cell* rule) {
    int32_t depth = cells_in(rs_cur()) - rhead();
    if (depth <= 0 || depth >= STACK_LIMIT - 16) return false;
    int32_t at = int32_t(input.w1);
    // the value at the position (none at the end): a char or byte; nothing allocates below
    bool more = at < end_cur();
    uint32_t ch = 0;
    if (more) ch = kind == Kind::TEXT ? uint32_t(char_in(in_cur(), at)) : memory::head(in_cur())[at];
    if (M.renames != rec_renames) rec_rebuild();
    return block_fails(rule, more, ch, 2);
  }

  // fails_at_once for one block: every alternative begins with a literal that fails on
  // the value at the position (ch; none when !more), or with a block (up to `levels`
  // deep) for which that holds; and no frame of the block begins here.
  bool block_fails(const Cell* rule, bool more, uint32_t ch, int levels) {
    const SeriesBuffer* b = memory::node_buffer(rule->w2);
    const Cell* c = memory::head_cells(const_cast<SeriesBuffer*>(b));
    int32_t n = cells_in(b), i = int32_t(rule->w1);
    const Compiled* cp = compiled_of(rule->w2, b);
    for (;;) {
      if (i >= n) return false;  // an empty alternative matches
      const Cell* lit = c + i;
      uint32_t lt = cell::type(lit);
      if (lt == T_WORD) {
        Kw k = cp ? Kw(cp->kw[size_t(i)]) : keyword_of(lit->w2);
        if (k != KW_UNKNOWN || !(lit = plain_value(lit))) return false;
        lt = cell::type(lit);
      }
      if (lt == T_CHAR) {
        if (more && (kind == Kind::TEXT ? eq_char(int32_t(ch), int32_t(lit->w2)) : ch == lit->w2))
          return false;
      } else if (lt == T_BITSET) {
        if (more && member(lit, ch)) return false;
      } else if (text_type_q(lt) || lt == T_BINARY) {
        if (match_at(lit, int32_t(input.w1), false) >= 0) return false;
      } else if (lt == T_BLOCK && levels > 0) {
        if (!block_fails(lit, more, ch, levels - 1)) return false;
        cp = compiled_of(rule->w2, b);  // the inner look-up may have replaced it
      } else {
        return false;
      }
      if (cp) {
        i = cp->alt[size_t(i) + 1];
        if (i < 0) break;
        continue;
      }
      for (++i; i < n; ++i)
        if (cell::type(c + i) == T_WORD && keyword_of(c[i].w2) == K_PIPE) break;
      if (i >= n) break;
      ++i;
    }
    return rec[rec_hash(rule->w2, rule->w1, input.w1)] == 0;
  }

  // From keyword and counted: nothing since fetch's check allocated.
  State repeat(int32_t min, int32_t max, int32_t k) {
    const Cell* next = memory::head_cells(rules_cur()) + ri;
    if (cell::type(next) == T_WORD && !tracing && keyword_of(next->w2) == KW_UNKNOWN) {
      // a rule word (`any ws`, `some letters`): its value read once for the tests below,
      // which decide as single_rule and fails_at_once do
      if (const Cell* v = plain_value(next)) {
        uint32_t vt = cell::type(v);
        if (k != code::WHILE) aux = *v;
        if (vt == T_BLOCK) {
          if (kind != Kind::BLOCK && shortcuts && block_fails_here(v)) {
            ++ri;
            flag = min == 0;
            return GO_AFTER;
          }
        } else if (k != code::WHILE && (literal_q(vt) || type_rule_q(vt))) {
          ++ri;
          return single(&aux, min, max);
        }
        return push_loop(min, max, k);
      }
    }
    if (k != code::WHILE && single_rule(memory::head_cells(rules_cur()) + ri, &aux)) {
      ++ri;
      return single(&aux, min, max);
    }
    // A first iteration that fails at once: the loop ends there, as its frames would say.
    if (fails_at_once(memory::head_cells(rules_cur()) + ri)) {
      ++ri;
      flag = min == 0;
      return GO_AFTER;
    }
    return push_loop(min, max, k);
  }

  // The loop's frame: its counts, where its rule is and the input there, its code.
  State push_loop(int32_t min, int32_t max, int32_t k) {
    SeriesBuffer* b = rs_cur();
    if (b->tail + 3 * sizeof(Cell) <= uint32_t(b->capacity)) {
      Cell* at = memory::tail_cells(b);
      at[0] = Cell{T_TRIPLE, uint32_t(min), uint32_t(max), 1};
      at[1] = Cell{T_TRIPLE, uint32_t(ri), input.w1, uint32_t(units_in(in_cur()))};
      at[2] = Cell{T_PAIR, 0, uint32_t(k), 0};
      b->tail += 3 * sizeof(Cell);
      return GO_FETCH;
    }
    rpush(Cell{T_TRIPLE, uint32_t(min), uint32_t(max), 1});
    push_command(k, 0, ri);
    return GO_FETCH;
  }

  State counted() {
    int32_t min = int32_t(item.w2), max = min;
    if (min < 0) fail(err::script::out_of_range, &item);
    int32_t n = rule_count();
    if (ri < n && cell::type(rule_at(ri)) == T_INTEGER) {
      tmp = *rule_at(ri);
      max = int32_t(tmp.w2);
      if (max < 0) fail(err::script::out_of_range, &tmp);
      ++ri;
    }
    if (ri >= n || max < min) fail(err::script::parse_rule, &item);
    if (max == 0) {
      skip_rule();
      flag = true;
      return GO_AFTER;
    }
    return repeat(min, max, code::REPEAT);
  }

  // Steps over one rule (with a keyword's arguments) without running it.
  void skip_rule() {
    int32_t n = rule_count();
    while (ri < n) {
      const Cell* it = rule_at(ri++);
      uint32_t t = cell::type(it);
      if (t == T_INTEGER) {
        if (ri < n && cell::type(rule_at(ri)) == T_INTEGER) ++ri;
        continue;
      }
      if (t != T_WORD) return;
      switch (keyword_of(it->w2)) {
        case K_ANY: case K_SOME: case K_OPT: case K_WHILE: case K_NOT: case K_AHEAD:
        case K_TO: case K_THRU: case K_REMOVE: case K_INTO:
          continue;
        case K_COPY: case K_SET: case K_CASE:
          ++ri;
          continue;
        case K_KEEP:
          if (ri < n && is_keyword(rule_at(ri), K_PICK)) ++ri;
          continue;
        case K_COLLECT:
          if (ri < n && cell::type(rule_at(ri)) == T_WORD) {
            Kw m = keyword_of(rule_at(ri)->w2);
            if (m == K_SET || m == K_INTO || m == K_AFTER) ri += 2;
          }
          continue;
        case K_QUOTE: case K_IF:
          ++ri;
          return;
        case K_INSERT: case K_CHANGE:
          if (ri < n && is_keyword(rule_at(ri), K_ONLY)) ++ri;
          ri += 2;
          if (ri > n) ri = n;
          return;
        default:
          return;
      }
    }
  }

  // Only from match_item, right after fetch's check.
  State keyword(Kw k) {
    int32_t n = cells_in(rules_cur());
    switch (k) {
      case K_PIPE:
        need(ri < n && rtop() - 1 == frame);  // nor right after a command
        flag = true;
        return GO_POP;
      case K_SKIP:
        flag = int32_t(input.w1) < end_index();
        if (flag) ++input.w1;
        if (tracing && !ev("match")) return GO_DONE;
        return GO_AFTER;
      case K_ANY: need(ri < n); return repeat(0, -1, code::REPEAT);
      case K_SOME: need(ri < n); return repeat(1, -1, code::REPEAT);
      case K_OPT: need(ri < n); return repeat(0, 1, code::REPEAT);
      case K_WHILE: need(ri < n); return repeat(0, -1, code::WHILE);
      case K_COPY: case K_SET: {
        need(ri + 1 < n);
        uint32_t wt = cell::type(memory::head_cells(rules_cur()) + ri);
        if (wt != T_WORD && wt != T_SET_WORD) {
          tmp = *rule_at(ri);
          fail(err::script::parse_rule, &tmp);
        }
        if (capture_single(k == K_COPY, n)) return GO_AFTER;
        int32_t kc = k == K_COPY ? code::COPY : code::SET;
        SeriesBuffer* b = rs_b();
        if (b->tail + 4 * sizeof(Cell) <= uint32_t(b->capacity)) {  // room: nothing allocates
          Cell* at = memory::tail_cells(b);
          at[0] = Cell{T_BLOCK, uint32_t(ri), rules.w2, 0};
          at[1] = Cell{T_TRIPLE, 1, 1, 1};
          at[2] = Cell{T_TRIPLE, uint32_t(ri + 1), input.w1, uint32_t(units_in(in_b()))};
          at[3] = Cell{T_PAIR, 0, uint32_t(kc), 0};
          b->tail += 4 * sizeof(Cell);
        } else {
          Cell* at = runtime::block_append_cell(rs());
          *at = Cell{T_BLOCK, uint32_t(ri), rules.w2, 0};
          rpush(Cell{T_TRIPLE, 1, 1, 1});
          push_command(kc, 0, ri + 1);
        }
        ++ri;
        return GO_FETCH;
      }
      case K_TO: case K_THRU: return to_thru(k == K_TO);
      case K_REMOVE: {
        need(ri < n);
        const Cell* next = rule_at(ri);
        if (word_type_q(cell::type(next)) && keyword_of(next->w2) == KW_UNKNOWN) {
          tmp = *next;
          word_value(&tmp, &value);
          if (same_series_q(&value)) {
            ++ri;
            int32_t from = int32_t(input.w1), to = int32_t(value.w1);
            if (to < from) std::swap(from, to);
            remove_range(from, to - from);
            input.w1 = uint32_t(from);
            flag = true;
            return GO_AFTER;
          }
        }
        push_command(code::REMOVE, 0, ri);
        return GO_FETCH;
      }
      case K_INSERT: return insert();
      case K_CHANGE: return change();
      case K_BREAK: case K_REJECT: return loop_exit(k == K_BREAK);
      case K_FAIL:
        flag = false;
        return GO_AFTER;
      case K_NOT: case K_AHEAD:
        need(ri < n);
        push_command(k == K_NOT ? code::NOT : code::AHEAD, 0, ri);
        return GO_FETCH;
      case K_NONE:
        flag = true;
        if (tracing && !ev("match")) return GO_DONE;
        return GO_AFTER;
      case K_END:
        flag = int32_t(input.w1) >= end_index();
        if (tracing && !ev("match")) return GO_DONE;
        return GO_AFTER;
      case K_QUOTE: {
        need(ri < n);
        aux = *rule_at(ri++);
        int32_t m = match_at(&aux, int32_t(input.w1), true);
        flag = m >= 0;
        if (flag) input.w1 += uint32_t(m);
        if (tracing && !ev("match")) return GO_DONE;
        return GO_AFTER;
      }
      case K_IF:
        need(ri < n && cell::type(rule_at(ri)) == T_PAREN);
        aux = *rule_at(ri++);
        eval_paren(&aux, &value);
        flag = natives::truthy_q(&value);
        if (tracing && !ev("paren")) return GO_DONE;
        return GO_AFTER;
      case K_CASE: {
        need(ri + 1 < n && cell::type(rule_at(ri)) == T_WORD);
        tmp = *rule_at(ri++);
        word_value(&tmp, &value);
        push_command(code::CASE, 0, mode);
        mode = natives::truthy_q(&value) && cell::type(&value) != T_UNSET ? 2 : 0;
        return GO_FETCH;
      }
      case K_INTO: return into();
      case K_COLLECT: return collect();
      case K_KEEP: return keep();
      case K_PICK: fail(err::script::parse_rule, &item);
      default: break;
    }
    return GO_AFTER;
  }

  State to_thru(bool to) {
    int32_t n = rule_count();
    need(ri < n);
    aux = *rule_at(ri);
    uint32_t t = cell::type(&aux);
    bool frame_rule = t == T_BLOCK || t == T_PAREN || t == T_SET_WORD ||
                      t == T_GET_WORD;
    if (t == T_WORD) {
      Kw k = keyword_of(aux.w2);
      if (k == K_END) {
        ++ri;
        input.w1 = uint32_t(end_index());
        flag = true;
        if (tracing && !ev("match")) return GO_DONE;
        return GO_AFTER;
      }
      if (k != KW_UNKNOWN) {
        frame_rule = true;
      } else {
        word_value(&aux, &aux);
        if (cell::type(&aux) == T_UNSET) {
          tmp = *rule_at(ri);
          fail(err::script::parse_rule, &tmp);
        }
        frame_rule = cell::type(&aux) == T_BLOCK;
      }
    }
    if (path_rule_q(t)) fail(err::script::parse_rule, &aux);
    if (frame_rule) {
      rpush(Cell{T_TRIPLE, uint32_t(ri), input.w1, input.w1});
      rpush(Cell{T_PAIR, 0, uint32_t(to ? code::TO : code::THRU), 0});
      return GO_FETCH;
    }
    ++ri;
    uint32_t at = cell::type(&aux);
    if (kind != Kind::BLOCK && at != T_BITSET && at != T_CHAR && !text_type_q(at) &&
        at != T_BINARY)
      fail(err::script::parse_rule, &aux);
    int32_t end = end_index();
    flag = false;
    for (int32_t i = int32_t(input.w1); i < end; ++i) {
      int32_t m = match_at(&aux, i, false);
      if (m >= 0) {
        input.w1 = uint32_t(to ? i : i + m);
        flag = true;
        break;
      }
    }
    if (tracing && !ev("match")) return GO_DONE;
    return GO_AFTER;
  }

  // A value argument of insert/change: a paren's result, a word's value, or the literal.
  State rewrite_value(Cell* out) {
    need(ri < rule_count());  // a paren may have shortened the rules
    aux = *rule_at(ri++);
    uint32_t t = cell::type(&aux);
    if (t == T_PAREN) {
      eval_paren(&aux, out);
      if (tracing && !ev("paren")) return GO_DONE;
      return GO_AFTER;
    }
    if (path_rule_q(t)) fail(err::script::parse_rule, &aux);
    if (word_type_q(t)) {
      word_value(&aux, out);
      if (cell::type(out) == T_UNSET) fail(err::script::no_value, &aux);
      return GO_AFTER;
    }
    *out = aux;
    return GO_AFTER;
  }

  // A word or get-word naming a position in the input series, and a value after it.
  bool position_word(int32_t at, Cell* out) {
    int32_t n = rule_count();
    if (at + 1 >= n) return false;
    const Cell* w = rule_at(at);
    if (!word_type_q(cell::type(w)) || keyword_of(w->w2) != KW_UNKNOWN) return false;
    tmp = *w;
    word_value(&tmp, out);
    return same_series_q(out);
  }

  // The `only` after insert or change; something must follow both.
  bool take_only() {
    int32_t n = rule_count();
    need(ri < n);
    if (!is_keyword(rule_at(ri), K_ONLY)) return false;
    ++ri;
    need(ri < n);
    return true;
  }

  State insert() {
    bool only = take_only();
    int32_t pos = int32_t(input.w1);
    if (position_word(ri, &tmp2)) {
      pos = int32_t(tmp2.w1);
      ++ri;
    }
    if (rewrite_value(&value) == GO_DONE) return GO_DONE;
    uint32_t slot = stack::index_of(stack::state().top);
    Cell* s = stack::push_copy(&input);
    s->w1 = uint32_t(pos);
    stack::push_copy(&value);
    s = stack::at_index(slot);
    actions::direct<datatype::action::INSERT>(s, stack::at_index(slot + 1), -1, only, 1, false);
    int32_t after = int32_t(stack::at_index(slot)->w1);
    stack::state().top = stack::at_index(slot);
    if (pos <= int32_t(input.w1)) input.w1 += uint32_t(after - pos);
    flag = true;
    return GO_AFTER;
  }

  // Keeps [from, from + count) inside the input: a paren may have shortened it.
  void clamp_range(int32_t* from, int32_t* count) {
    int32_t tail = units_in(in_b());
    if (*from > tail) *from = tail;
    if (*count > tail - *from) *count = tail - *from;
    if (*count < 0) *count = 0;
  }

  // Replaces count values from `from` with the value; the input continues after it.
  void change_range(int32_t from, int32_t count, const Cell* v, bool only) {
    clamp_range(&from, &count);
    uint32_t slot = stack::index_of(stack::state().top);
    Cell* s = stack::push_copy(&input);
    s->w1 = uint32_t(from);
    stack::push_copy(v);
    s = stack::at_index(slot);
    actions::direct<datatype::action::CHANGE>(s, stack::at_index(slot + 1), count, only, 1);
    input.w1 = stack::at_index(slot)->w1;
    stack::state().top = stack::at_index(slot);
  }

  void remove_range(int32_t from, int32_t count) {
    clamp_range(&from, &count);
    if (count <= 0) return;
    uint32_t slot = stack::index_of(stack::state().top);
    Cell* s = stack::push_copy(&input);
    s->w1 = uint32_t(from);
    cell::set_integer(stack::reserve_cell(), count);
    s = stack::at_index(slot);
    actions::direct<datatype::action::REMOVE>(s, stack::at_index(slot + 1), nullptr);
    stack::state().top = stack::at_index(slot);
  }

  State change() {
    bool only = take_only();
    int32_t n = rule_count();
    if (position_word(ri, &tmp2)) {
      ++ri;
      if (rewrite_value(&value) == GO_DONE) return GO_DONE;
      int32_t from = int32_t(input.w1), to = int32_t(tmp2.w1);
      if (to < from) std::swap(from, to);
      change_range(from, to - from, &value, only);
      flag = true;
      return GO_AFTER;
    }
    need(ri + 1 < n);
    push_command(only ? code::CHANGE_ONLY : code::CHANGE, 0, ri);
    return GO_FETCH;
  }

  State into() {
    if (kind != Kind::BLOCK) fail(err::script::parse_block, &input);
    int32_t n = rule_count();
    need(ri < n);
    aux = *rule_at(ri);
    if (cell::type(&aux) == T_WORD && keyword_of(aux.w2) == KW_UNKNOWN) word_value(&aux, &aux);
    need(cell::type(&aux) == T_BLOCK);
    ++ri;
    int32_t at = int32_t(input.w1);
    flag = false;
    if (at < end_index()) {
      tmp = *(memory::head_cells(in_b()) + at);
      flag = series_type_q(cell::type(&tmp)) || cell::type(&tmp) == T_HASH;
    }
    if (!flag) {
      if (tracing && !ev("match")) return GO_DONE;
      return GO_AFTER;
    }
    Cell* is = input_stack();
    block::append_copy(is, &input);
    Cell lim{T_INTEGER, 0, uint32_t(limit), 0};
    block::append_copy(input_stack(), &lim);
    check_limits(saved);
    push_command(code::INTO, 0, ri);
    input = tmp;
    limit = INT_MAX;
    set_kind();
    return push_block(&aux);
  }

  // Takes the outer input of the innermost into back from the saved-input stack.
  void restore_outer_input() {
    Cell* is = input_stack();
    int32_t c = int32_t(blk::count(is->w2));
    input = blk::cells(is->w2)[c - 2];
    limit = int32_t(blk::cells(is->w2)[c - 1].w2);
    block::truncate_at(is, c - 2);
    set_kind();
  }

  State collect() {
    int32_t n = rule_count();
    need(ri < n);
    uint32_t how = PLAIN;
    Cell w{T_NONE, 0, 0, 0};
    const Cell* next = rule_at(ri);
    if (cell::type(next) == T_WORD) {
      Kw m = keyword_of(next->w2);
      if (m == K_SET || m == K_INTO || m == K_AFTER) {
        how = m == K_SET ? SET_WORD_MODE : m == K_INTO ? INTO_MODE : AFTER_MODE;
        ++ri;
        need(ri + 1 < n && word_type_q(cell::type(rule_at(ri))));
        w = *rule_at(ri++);
      }
    }
    need(ri < n);
    tmp2 = w;
    if (how == PLAIN || how == SET_WORD_MODE) {
      blk::init(&tmp, 8);
    } else {
      word_value(&tmp2, &tmp);
      uint32_t t = cell::type(&tmp);
      if (!series_type_q(t) || same_series_q(&tmp)) fail(err::script::parse_into_bad, &tmp);
      bool fits = block::any_block_q(t) || (kind == Kind::TEXT && text_type_q(t)) ||
                  (kind == Kind::BYTES && t == T_BINARY);
      if (!fits) fail(err::script::parse_into_type, &tmp);
      if (how == AFTER_MODE) tmp.w1 = uint32_t(tail_of(&tmp));
    }
    rpush_rooted(&tmp);
    rpush_rooted(&tmp2);
    push_command(code::COLLECT, how, ri);
    return GO_FETCH;
  }

  // Adds one value to the innermost collect's target.
  void keep_value(const Cell* v) {
    int32_t c = find_command(code::COLLECT, code::COLLECT);
    if (c < 0) fail(err::script::parse_keep);
    uint32_t how = rat(c)->w3;
    uint32_t slot = stack::index_of(stack::state().top);
    stack::push_copy(rat(c - 3));
    stack::push_copy(v);
    Cell* s = stack::at_index(slot);
    if (how == INTO_MODE) {
      actions::direct<datatype::action::INSERT>(s, stack::at_index(slot + 1), -1, true, 1, false);
      rat(c - 3)->w1 = stack::at_index(slot)->w1;
    } else {
      actions::direct<datatype::action::APPEND>(s, stack::at_index(slot + 1), -1, true, 1, true);
    }
    stack::state().top = stack::at_index(slot);
  }

  void keep_range(int32_t from, int32_t to, bool pick) {
    int32_t count = to - from;
    clamp_range(&from, &count);
    to = from + count;
    if (count <= 0) return;
    if (count == 1 || pick) {
      for (int32_t k = from; k < to; ++k) {
        element(k, &aux);
        keep_value(&aux);
      }
      return;
    }
    copy_part(from, count, &aux);
    keep_value(&aux);
  }

  State keep() {
    if (find_command(code::COLLECT, code::COLLECT) < 0) fail(err::script::parse_keep);
    int32_t n = rule_count();
    need(ri < n);
    bool pick = false;
    if (is_keyword(rule_at(ri), K_PICK)) {
      pick = true;
      ++ri;
      need(ri < n);
    }
    if (cell::type(rule_at(ri)) == T_PAREN) {
      aux = *rule_at(ri++);
      eval_paren(&aux, &value);
      keep_value(&value);
      flag = true;
      if (tracing && !ev("paren")) return GO_DONE;
      return GO_AFTER;
    }
    push_command(code::KEEP, pick ? 1 : 0, ri);
    return GO_FETCH;
  }

  // break and reject: the innermost loop ends as if its iteration matched or failed.
  State loop_exit(bool is_break) {
    int32_t at = find_command(code::REPEAT, code::WHILE);
    if (at < 0) {  // no loop: break matches, reject fails, as a rule of their own
      flag = is_break;
      return GO_AFTER;
    }
    bool popped = false;
    while (rtop() - 1 > at) {
      Cell top = *rat(rtop() - 1);
      if (cell::type(&top) == T_TRIPLE) {
        if (tracing && !ev("pop")) return GO_DONE;
        rec_drop_top();
        rdrop(2);
        popped = true;
        continue;
      }
      int32_t k = int32_t(top.w2);
      if (k == code::INTO) restore_outer_input();
      if (k == code::CASE) mode = int32_t(rat(rtop() - 2)->w1);
      rdrop(frame_size(&top));
    }
    if (popped) {
      frame = find_block_frame();
      set_rules(*rat(frame - 1));
      ri = int32_t(rat(frame)->w1);
    }
    return finish_loop(is_break, true);
  }

  State finish_loop(bool matched_iteration, bool stop) {
    Cell* c = memory::head_cells(rs_b());  // nothing allocates before the trace event
    int32_t top = rtop() - 1;
    int32_t k = int32_t(c[top].w2);
    Cell open = c[top - 1];
    Cell counts = c[top - 2];
    int32_t min = int32_t(counts.w1), max = int32_t(counts.w2), count = int32_t(counts.w3);
    bool matched;
    if (matched_iteration) {
      int32_t len = units_in(in_b());
      bool stuck = input.w1 == open.w2 && len >= int32_t(open.w3);
      bool go_on = !stop && (max < 0 || count < max) && (k == code::WHILE || !stuck);
      if (go_on) {
        c[top - 1].w2 = input.w1;
        c[top - 1].w3 = uint32_t(len);
        c[top - 2].w3 = uint32_t(count + 1);
        ri = int32_t(open.w1);
        if (tracing && !ev("iterate")) return GO_DONE;
        return GO_FETCH;
      }
      matched = count >= min;
    } else {
      input.w1 = open.w2;
      matched = count - 1 >= min || min == 0;
    }
    rdrop(3);
    flag = matched;
    return GO_AFTER;
  }

  // copy/set after their rule matched from `from` to the input position: the word (in
  // tmp2) gets the copy or the first value.
  void capture(bool copy, int32_t from) {
    cell::set_type(&tmp2, T_WORD);
    int32_t count = int32_t(input.w1) - from;
    if (copy) copy_part(from, count, &value);
    else if (count > 0 && from < units_in(in_b())) element(from, &value);
    else cell::set_none(&value);
    word::assign_value(&tmp2, &value);
  }

  // copy/set whose rule is a repetition of one literal (`copy w some letters`): the match
  // and the assignment their frames would give, without the frames. Only where nothing
  // could see them: no trace, and nothing in the rule that runs code or pushes a block.
  // From keyword: nothing allocated since fetch's check, up to the match.
  bool capture_single(bool copy, int32_t n) {
    if (tracing || !shortcuts || ri + 2 >= n) return false;
    const Cell* kw = memory::head_cells(rules_cur()) + ri + 1;
    if (cell::type(kw) != T_WORD) return false;
    int32_t min = 0, max = -1;
    switch (keyword_of(kw->w2)) {
      case K_ANY: break;
      case K_SOME: min = 1; break;
      case K_OPT: max = 1; break;
      default: return false;
    }
    if (!single_rule(memory::head_cells(rules_cur()) + ri + 2, &aux)) return false;
    int32_t at = ri, from = int32_t(input.w1);
    ri += 3;
    single(&aux, min, max);  // a match on block input uses tmp and tmp2
    if (flag) {
      tmp2 = *rule_at(at);
      capture(copy, from);
    }
    return true;
  }

  State finish_command() {
    int32_t top = rtop() - 1;
    Cell pair = *rat(top);
    Cell open = *rat(top - 1);
    int32_t k = int32_t(pair.w2);
    switch (k) {
      case code::REPEAT: case code::WHILE:
        return finish_loop(flag, false);
      case code::COPY: case code::SET: {
        Cell b = *rat(top - 3);
        if (flag && int32_t(b.w1) < int32_t(blk::count(b.w2))) {
          tmp2 = *(blk::cells(b.w2) + b.w1);
          capture(k == code::COPY, int32_t(open.w2));
        }
        rdrop(4);
        return GO_AFTER;
      }
      case code::TO: case code::THRU: {
        if (flag) {
          if (k == code::TO) input.w1 = open.w2;
          rdrop(2);
          return GO_AFTER;
        }
        int32_t next = int32_t(open.w2) + 1;
        if (next > end_index()) {
          input.w1 = open.w3;
          rdrop(2);
          return GO_AFTER;
        }
        rat(top - 1)->w2 = uint32_t(next);
        input.w1 = uint32_t(next);
        ri = int32_t(open.w1);
        return GO_FETCH;
      }
      case code::NOT:
        input.w1 = open.w2;
        flag = !flag;
        rdrop(2);
        return GO_AFTER;
      case code::AHEAD:
        if (flag) input.w1 = open.w2;
        rdrop(2);
        return GO_AFTER;
      case code::INTO: {
        bool whole = flag && int32_t(input.w1) >= units_in(in_b());
        restore_outer_input();
        rdrop(2);
        flag = whole;
        if (whole) ++input.w1;
        return GO_AFTER;
      }
      case code::REMOVE:
        if (flag) {
          remove_range(int32_t(open.w2), int32_t(input.w1) - int32_t(open.w2));
          input.w1 = open.w2;
        }
        rdrop(2);
        return GO_AFTER;
      case code::CHANGE: case code::CHANGE_ONLY: {
        bool matched = flag;
        if (rewrite_value(&value) == GO_DONE) return GO_DONE;
        if (matched) {
          int32_t from = int32_t(open.w2);
          change_range(from, int32_t(input.w1) - from, &value, k == code::CHANGE_ONLY);
        }
        rdrop(2);
        flag = matched;
        return GO_AFTER;
      }
      case code::COLLECT: {
        tmp = *rat(top - 3);
        tmp2 = *rat(top - 2);
        uint32_t how = pair.w3;
        rdrop(4);
        if (how == SET_WORD_MODE) {
          tmp.w1 = 0;
          word::assign_value(&tmp2, &tmp);
        } else if (how == PLAIN) {
          if (find_command(code::COLLECT, code::COLLECT) >= 0) {
            if (flag) keep_value(&tmp);
          } else {
            result = tmp;
            result.w1 = 0;
            has_result = true;
          }
        }
        return GO_AFTER;
      }
      case code::KEEP:
        if (flag) keep_range(int32_t(open.w2), int32_t(input.w1), pair.w3 != 0);
        rdrop(2);
        return GO_AFTER;
      case code::CASE:
        mode = int32_t(open.w1);
        rdrop(2);
        return GO_AFTER;
      default:
        rdrop(2);
        return GO_AFTER;
    }
  }

  State after() {
    if (cell::type(memory::tail_cells(rs_b()) - 1) == T_PAIR) return finish_command();
    if (flag) return GO_FETCH;
    // nothing allocates in this scan (the rule stack's check above holds)
    const SeriesBuffer* rb = rules_cur();
    int32_t n = cells_in(rb);
    if (ri >= n) return GO_POP;
    if (const Compiled* cp = compiled_of(rules.w2, rb)) {
      int32_t next = cp->alt[size_t(ri)];
      if (next < 0) return GO_POP;
      input.w1 = memory::head_cells(rs_cur())[frame].w2;
      ri = next;
      return GO_FETCH;
    }
    const Cell* r = memory::head_cells(const_cast<SeriesBuffer*>(rb));
    for (int32_t j = ri; j < n; ++j) {
      const Cell* c = r + j;
      if (cell::type(c) == T_WORD && keyword_of(c->w2) == K_PIPE) {
        input.w1 = rat(frame)->w2;
        ri = j + 1;
        return GO_FETCH;
      }
    }
    return GO_POP;
  }

  // A matched rule block that is the rule of the loop right under it, when that loop goes
  // on and its rule still gives this very block: the frame serves the next iteration,
  // left exactly as dropping it, iterating and pushing the block again would leave the
  // stack, the counters and the engine's cells. False (nothing changed) wherever that
  // path could do anything else: a trace, a recursion or stack-limit check to run, a rule
  // that is no longer this block.
  bool next_iteration() {
    if (tracing || !shortcuts || M.renames != rec_renames) return false;
    SeriesBuffer* b = rs_b();
    Cell* c = memory::head_cells(b);
    int32_t top = cells_in(b) - 1, cmd = top - 2, head = rhead();
    if (cmd - 2 < head || cell::type(c + cmd) != T_PAIR) return false;
    int32_t k = int32_t(c[cmd].w2);
    if (k != code::REPEAT && k != code::WHILE) return false;
    Cell open = c[cmd - 1], counts = c[cmd - 2];
    int32_t max = int32_t(counts.w2), count = int32_t(counts.w3);
    int32_t len = units_in(in_cur());  // rs_b above checked the moves
    bool stuck = input.w1 == open.w2 && len >= int32_t(open.w3);
    if (!((max < 0 || count < max) && (k == code::WHILE || !stuck))) return false;
    if (top - 1 - head >= STACK_LIMIT) return false;
    // the block frame the loop runs in, and the loop's rule there
    int32_t outer = cmd - 3;
    while (outer >= head && cell::type(c + outer) != T_TRIPLE) outer -= frame_size(c + outer);
    if (outer < head) return false;
    const SeriesBuffer* ob = memory::node_buffer(c[outer - 1].w2);
    int32_t at = int32_t(open.w1);
    if (at >= cells_in(ob)) return false;
    const Cell* rule = memory::head_cells(const_cast<SeriesBuffer*>(ob)) + at;
    const Cell* blk = rule;
    uint32_t rt = cell::type(rule);
    if (rt == T_WORD) {
      if (keyword_of(rule->w2) != KW_UNKNOWN || !(blk = plain_value(rule))) return false;
    } else if (rt != T_BLOCK) {
      return false;
    }
    if (cell::type(blk) != T_BLOCK || blk->w2 != c[top - 1].w2 || blk->w1 != c[top - 1].w1)
      return false;
    uint32_t h_old = rec_hash(blk->w2, blk->w1, c[top].w2);
    uint32_t h_new = rec_hash(blk->w2, blk->w1, input.w1);
    if (rec[h_new] - (h_new == h_old ? 1 : 0) != 0) return false;
    // what fetch and push_block would have read and written
    item = *rule;
    if (rt == T_WORD) value = *blk;
    Cell block = *blk;
    block.header = T_BLOCK;
    c[cmd - 2].w3 = uint32_t(count + 1);
    c[cmd - 1].w2 = input.w1;
    c[cmd - 1].w3 = uint32_t(len);
    c[outer].w1 = uint32_t(at + 1);
    c[top - 1] = block;
    c[top] = Cell{T_TRIPLE, block.w1, input.w1, uint32_t(len)};
    --rec[h_old];
    ++rec[h_new];
    set_rules(block);
    ri = int32_t(block.w1);
    return true;
  }

  State pop() {
    // Only the current rule block's frame is popped; a command above it finishes first.
    if (rtop() - 1 != frame) return GO_AFTER;
    if (tracing) {
      if (!ev("pop")) return GO_DONE;
      buffers_current();  // the callback ran
    }
    if (flag && next_iteration()) return GO_FETCH;  // nothing in it allocates
    if (!flag) input.w1 = memory::head_cells(rs_cur())[frame].w2;
    drop_block_frame();
    if (cells_in(rs_cur()) <= rhead()) return GO_DONE;
    return GO_AFTER;
  }

  void execute(const Cell* rules_cell) {
    top_rules = *rules_cell;
    tmp = top_rules;
    State st = push_block(&tmp);
    // A callback that stops the run makes its state GO_DONE; only a traced run can stop.
    while (st != GO_DONE) {
      switch (st) {
        case GO_FETCH: st = fetch(); break;
        case GO_AFTER: st = after(); break;
        case GO_POP: st = pop(); break;
        case GO_DONE: break;
      }
      if (tracing && stopped) st = GO_DONE;
    }
    if (!stopped) {
      flag = flag && int32_t(input.w1) >= end_index();
      if (tracing) ev("end", &top_rules, int32_t(blk::count(top_rules.w2)));
    }
  }
};

}  // namespace

void run(const Cell* input, const Cell* rules, int32_t mode, int32_t limit,
         const Cell* callback, Cell* result) {
  Engine e;
  e.input = *input;
  e.callback = *callback;
  e.mode = mode;
  e.limit = limit < 0 ? INT_MAX : limit;
  e.tracing = cell::type(callback) == T_FUNCTION;
  e.set_kind();
  keywords_current();
  Cell r = *rules;
  gc::Root keep_rules(&r);
  e.saved = save_stacks();
  // Every exit resets once: a reset that already ran (before an engine error) moved the
  // head back to the outer parse's, and must not run again over the outer frames.
  struct Reset {
    bool saved;
    uint32_t head;
    ~Reset() {
      if (!saved || rule_stack()->w1 == head) reset_stacks(saved);
    }
  } reset{e.saved, rule_stack()->w1};
  e.execute(&r);
  if (e.has_result) *result = e.result;
  else *result = Cell{T_LOGIC, e.flag ? 1u : 0u, 0, 0};
}

void parse_(int32_t, const int32_t* refs) {
  Cell* base = stack::state().base;
  int32_t mode = refs[0] >= 0 ? 2 : 0;
  int32_t index = int32_t(base->w1);
  int32_t tail = tail_of(base);
  int32_t limit = -1;
  if (refs[1] >= 0) {
    Cell* part = base + refs[1];
    uint32_t t = cell::type(part);
    int64_t end;
    if (t == T_INTEGER) {
      end = int64_t(index) + int32_t(part->w2);
    } else if (t == T_FLOAT || t == T_PERCENT) {
      natives::count_to_integer(part);
      end = int64_t(index) + int32_t(part->w2);
    } else if (cell::type(part) == cell::type(base) && part->w2 == base->w2) {
      end = int32_t(part->w1);
    } else {
      bad_part(part);
    }
    if (end - index < 1) {
      Cell c{T_LOGIC, index >= tail ? 1u : 0u, 0, 0};
      stack::set_only_result(&c);
      return;
    }
    limit = end > INT_MAX ? INT_MAX : int32_t(end);
  }
  Cell callback{T_NONE, 0, 0, 0};
  if (refs[2] >= 0) callback = base[refs[2]];
  gc::Root keep_callback(&callback);
  Cell result{T_NONE, 0, 0, 0};
  gc::Root keep_result(&result);
  run(base, base + 1, mode, limit, &callback, &result);
  stack::set_only_result(&result);
}

}  // namespace kel::parse
