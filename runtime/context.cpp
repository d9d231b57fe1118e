// Contexts: creation, word lookup and addition, slots in a values series or on the stack,
// assignment with change notification, binding, and the global context (a collector root).
#include "runtime/context.h"

#include <exception>

#include "runtime/cell_api.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/object.h"
#include "runtime/evaluator/lexer_first.h"
#include "runtime/evaluator/trace.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/hash_mem.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::context {

using gc::Kept;
using stack::TopGuard;

Node global = 0;

namespace {

// Keeps a context alive across allocations and follows its node when it moves.
struct Held {
  Cell cell;
  gc::Root root;
  explicit Held(Node ctx) : cell{T_OBJECT, ctx, 0, 0}, root(&cell) {}
  Node node() const { return cell.w1; }
};

Cell* cells(Node n) { return reinterpret_cast<Cell*>(hash::mem::data(n)); }
uint32_t cell_count(Node n) { return hash::mem::used(n) / 16; }

Node table_of(Node ctx) { return cell_of(ctx)->w1; }

void append_value(Node ctx, const Cell& v) {
  Cell copy = v;
  gc::Root keep(&copy);
  *runtime::series_append_cell_node(cell_of(ctx)->w2) = copy;
}

bool any_word_q(uint32_t t) { return t >= T_WORD && t <= T_REFINEMENT; }
bool any_block_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}

int32_t self_canonical() { return symbol::canonical_id(symbol::runtime_id(symbol::RW_SELF)); }

}  // namespace

Cell* cell_of(Node ctx) { return cells(ctx); }
Cell* self_cell(Node ctx) { return cells(ctx) + 1; }
uint32_t kind_of(Node ctx) { return (cell_of(ctx)->header & hdr::CONTEXT_KIND_MASK) >> hdr::CONTEXT_KIND_SHIFT; }
bool stack_held_q(Node ctx) { return cell_of(ctx)->header & hdr::CONTEXT_ON_STACK; }
bool has_self_q(Node ctx) { return cell_of(ctx)->header & hdr::CONTEXT_HAS_SELF; }
Node words_node(Node ctx) { return uint32_t(hash::record(table_of(ctx))[hash::rec::VALUES]); }
int32_t word_count(Node ctx) {
  // The word list's buffer of the context asked last, for as long as nothing moved: a
  // buffer is replaced (a larger one, a collection, a fresh heap) only with a move, and its
  // count is read live, so a word added in place since is counted. Comparators ask for
  // their function's count on every call.
  static Node last = 0;
  static uint64_t last_moves = ~uint64_t(0);
  static const SeriesBuffer* words = nullptr;
  uint64_t moves = memory::state().moves;
  if (ctx != last || moves != last_moves) {
    words = memory::node_buffer(words_node(ctx));
    last = ctx;
    last_moves = moves;
  }
  return int32_t(memory::used_bytes(words) / 16);
}
Cell* word_at(Node ctx, int32_t index) {
  // The word list's cells of the context asked last, for as long as nothing moved (its table
  // and word list nodes are the context's for good; a buffer is replaced only with a move):
  // each store into an object flags its word here.
  static Node last = 0;
  static uint64_t last_moves = ~uint64_t(0);
  static Cell* words = nullptr;
  uint64_t moves = memory::state().moves;
  if (ctx != last || moves != last_moves) {
    words = cells(words_node(ctx));
    last = ctx;
    last_moves = moves;
  }
  return words + index;
}
Node values_node(Node ctx) { return stack_held_q(ctx) ? 0 : cell_of(ctx)->w2; }

void make_global() {
  global = create(int32_t(GLOBAL_WORDS), false, false, 0, KIND_GLOBAL);
  gc::state().roots.global_context = &global;
}

Node create(int32_t slots, bool stack_held, bool self, Node source, uint32_t kind) {
  if (slots <= 0) slots = 1;
  Held src(source);
  Held h(memory::series_new_cells(2));
  uint32_t header = T_CONTEXT | (kind << hdr::CONTEXT_KIND_SHIFT);
  if (stack_held) header |= hdr::CONTEXT_ON_STACK;
  if (self) header |= hdr::CONTEXT_HAS_SELF;
  Cell* c = cells(h.node());
  c[0] = Cell{header, 0, 0, 0};
  c[1] = Cell{T_UNSET, 0, 0, 0};
  hash::mem::set_used(h.node(), 32);
  Node table;
  if (src.node()) {
    Cell from{T_CONTEXT, table_of(src.node()), 0, 0};
    table = hash::table_create(slots, &from, hash::KIND_SYMBOLS, 2);
  } else {
    table = hash::table_create(slots, nullptr, hash::KIND_SYMBOLS, 0);
  }
  cell_of(h.node())->w1 = table;  // stored before anything else allocates
  if (!stack_held) {
    Node values = memory::series_new_unset_cells(uint32_t(slots));
    cell_of(h.node())->w2 = values;
  }
  return h.node();
}

Node from_spec(const Cell* spec, bool stack_held, bool self, uint32_t kind) {
  Kept s(spec);
  Node b = s.c.w2;
  uint32_t n = cell_count(b), head = s.c.w1 > n ? n : s.c.w1;
  Held h(create(int32_t(n - head), stack_held, self, 0, kind));
  for (uint32_t i = head; i < cell_count(s.c.w2); ++i) {
    const Cell* c = cells(s.c.w2) + i;
    uint32_t t = cell::type(c);
    if (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD || t == T_REFINEMENT) {
      int32_t added;
      find_or_add_symbol(h.node(), int32_t(c->w2), true, &added);
    }
  }
  if (!stack_held) {
    // One unset value per word: the values stay parallel to the word list.
    uint32_t words = uint32_t(word_count(h.node()));
    Node v = cell_of(h.node())->w2;
    hash::mem::ensure(v, words * 16);
    v = cell_of(h.node())->w2;
    for (uint32_t i = 0; i < words; ++i) cells(v)[i] = Cell{T_UNSET, 0, 0, 0};
    hash::mem::set_used(v, words * 16);
  }
  return h.node();
}

int32_t find_symbol(Node ctx, int32_t symbol, bool canonical) {
  int32_t index = -1;
  return hash::context_symbol_index(table_of(ctx), symbol, canonical, 0, &index);
}

int32_t find_or_add_symbol(Node ctx, int32_t symbol, bool canonical, int32_t* new_index) {
  int32_t index = -1;  // the table call roots the context itself when it adds
  int32_t r = hash::context_symbol_index(table_of(ctx), symbol, canonical, ctx, &index);
  if (r < 0 && new_index) *new_index = index;
  return r;
}

int32_t find_or_add_word_index(Node ctx, const Cell* word) {
  Held h(ctx);
  int32_t added = -1;
  int32_t r = find_or_add_symbol(ctx, int32_t(word->w2), true, &added);
  if (r >= 0) return r;
  if (!stack_held_q(h.node())) append_value(h.node(), Cell{T_UNSET, 0, 0, 0});
  return added;
}

void set_or_add(Node ctx, const Cell* word, const Cell* value) {
  Held h(ctx);
  Kept v(value);
  int32_t i = find_symbol(ctx, int32_t(word->w2), true);
  if (i >= 0 && !stack_held_q(ctx)) {
    cells(cell_of(ctx)->w2)[i] = v.c;
    return;
  }
  if (i >= 0) return;  // stack-held: no values series to store into
  int32_t added = -1;
  find_or_add_symbol(ctx, int32_t(word->w2), true, &added);
  if (!stack_held_q(h.node())) append_value(h.node(), v.c);
}

void add_missing_with_value(Node ctx, const Cell* word, const Cell* value) {
  if (find_symbol(ctx, int32_t(word->w2), true) >= 0) return;
  set_or_add(ctx, word, value);
}

Cell add_word(int32_t symbol, bool canonical, bool keep_case) {
  // `global` is a collector root of its own: it follows its node, so it is re-read after
  // each call that may allocate.
  int32_t added = -1;
  int32_t r = find_or_add_symbol(global, symbol, canonical, &added);
  if (r >= 0) {
    // Found by exact id, or asked to keep the case: the spelling asked for, on the slot
    // found (case variants share the first variant's index). Otherwise the entry's own.
    if (canonical && !keep_case) {
      Cell w = *word_at(global, r);
      w.header = T_WORD;
      return w;
    }
    return Cell{T_WORD, global, uint32_t(symbol), uint32_t(r)};
  }
  uint32_t slot = uint32_t(added);
  if (symbol::alias_id(symbol) > 0) {
    // A case variant shares the slot of the variant that came first.
    int32_t first = find_symbol(global, symbol::canonical_id(symbol), true);
    if (first >= 0 && first != added) word_at(global, added)->w3 = slot = uint32_t(first);
  }
  append_value(global, Cell{T_UNSET, 0, 0, 0});
  // The entry the add wrote, without reading it back (`global` follows its node).
  return Cell{T_WORD, global, uint32_t(symbol), slot};
}

Cell add_global_word(int32_t symbol) { return add_word(symbol, false, true); }

Cell* value_of_symbol(int32_t symbol, Node ctx) {
  if (stack_held_q(ctx)) ctx = global;
  int32_t i = find_symbol(ctx, symbol, true);
  if (i < 0) return nullptr;
  return cells(cell_of(ctx)->w2) + i;
}

namespace detail {
LastStore last_store;

// assign_in_place past its inline case: the context taken as the one stored into last, the
// values' cells read again, an object's word flagged as assigned.
bool assign_in_place_other(const Cell* word, const Cell* value, Node ctx, bool notify) {
  if (!ctx || int32_t(word->w3) == -1) return false;
  LastStore& l = last_store;
  uint64_t moves = memory::state().moves;
  if (ctx != l.ctx || moves != l.moves) {
    l.ctx = ctx;
    l.moves = moves;
    l.cell = cells(ctx);
    l.values = 0;
  }
  Cell* x = l.cell;  // the context! cell, then self
  if (x->w2 == 0) return false;
  uint32_t index = word->w3;
  if (x->header & hdr::CONTEXT_ON_STACK) {
    *stack::at_index(x->w2 - 1 + index) = *value;
    return true;
  }
  if (notify && x[1].w3) return false;  // a change handler may run
  if (((x->header & hdr::CONTEXT_KIND_MASK) >> hdr::CONTEXT_KIND_SHIFT) == KIND_OBJECT)
    word_at(ctx, int32_t(index))->header |= hdr::WORD_ASSIGNED;
  if (x->w2 != l.values) {
    l.values = x->w2;
    l.value_cells = cells(x->w2);
  }
  l.value_cells[index] = *value;
  return true;
}
}  // namespace detail

void assign(Cell* word, const Cell* value, Node ctx, bool notify) {
  if (assign_in_place(word, value, ctx, notify)) return;
  if (!ctx) error::raise(err::script::not_defined, word);  // an unbound word
  Held h(ctx);
  Kept v(value);
  if (int32_t(word->w3) == -1) {
    int32_t i = find_symbol(h.node(), int32_t(word->w2), false);
    if (i < 0) i = find_or_add_word_index(h.node(), word);
    word->w3 = uint32_t(i);
  }
  int32_t index = int32_t(word->w3);
  Cell* x = cell_of(h.node());
  if (x->w2 == 0) error::raise(err::script::not_defined, word);
  if (x->header & hdr::CONTEXT_ON_STACK) {
    *stack::at_index(x->w2 - 1 + uint32_t(index)) = v.c;
    return;
  }
  if (kind_of(h.node()) == KIND_OBJECT) word_at(h.node(), index)->header |= hdr::WORD_ASSIGNED;
  if (notify && self_cell(h.node())->w3) {
    TopGuard top;
    Cell* old = stack::push_copy(cells(cell_of(h.node())->w2) + index);
    Cell* slot = cells(cell_of(h.node())->w2) + index;
    *slot = v.c;
    Kept self(self_cell(h.node()));
    object::fire_change(&self.c, word, old, cells(cell_of(h.node())->w2) + index);
    return;
  }
  cells(cell_of(h.node())->w2)[index] = v.c;
}

Cell* value_slot_other(const Cell* word, Node ctx) {
  int32_t index = int32_t(word->w3);
  if (index == -1) {
    if (word->w1 && symbol::canonical_id(int32_t(word->w2)) == self_canonical()) return self_cell(word->w1);
    error::raise(err::script::no_value, word);
  }
  if (!ctx) error::raise(err::script::not_defined, word);  // an unbound word
  Cell* x = cell_of(ctx);
  if (x->w2 == 0) error::raise(err::script::not_in_context, word);
  if (x->header & hdr::CONTEXT_ON_STACK) return stack::at_index(x->w2 - 1 + uint32_t(index));
  return cells(x->w2) + index;
}

Node clone(Cell* value, uint32_t kind) {
  Node old = value->w1;
  Node fresh = create(word_count(old), stack_held_q(old), has_self_q(old), old, kind);
  Node wl = words_node(fresh);
  for (uint32_t i = 0, n = cell_count(wl); i < n; ++i) cells(wl)[i].w1 = fresh;
  value->w1 = fresh;
  return fresh;
}

int32_t bind_one(Node ctx, Cell* word) {
  int32_t i = find_symbol(ctx, int32_t(word->w2), true);
  if (i >= 0) {
    word->w1 = ctx;
    word->w3 = uint32_t(i);
  }
  return i;
}

namespace {

// One binding walk: the context's table read once, and a filter of its words' canonical
// ids (a bit per id modulo 1,024) that turns away most words without a probe. Nothing in
// the walk allocates, so the addresses stay good throughout.
struct Binder {
  Node ctx;
  bool self;
  int32_t self_id;
  bool filtered;
  hash::WordFinder finder;
  uint64_t filter[16];
  uint32_t mark;  // series flags set on the way (0: none)
  // The symbol list's entries as canonical_id reads them: nothing in the walk allocates, so
  // they hold throughout; ids past `symbols` (none when the view was stale) ask the list.
  const Cell* entries;
  uint32_t symbols;
  // Contexts of up to SMALL words: each word's canonical id and what the finder answers
  // for it. The finder's answer depends only on the canonical id asked for (a word matches
  // by its canonical id), and no id outside these can match, so the answers are the same.
  static constexpr uint32_t SMALL = 16;
  uint32_t small;  // 0: ask the finder
  int32_t small_canon[SMALL];
  int32_t small_index[SMALL];
  // The walk's own blocks on the cycle stack, counted by node in 256 buckets: a block whose
  // bucket is empty is not on the stack unless the stack held entries before the walk
  // (`outer`). Otherwise the stack is searched as always.
  bool outer;
  mutable uint16_t on_path[256];

  bool maybe_in(int32_t canon) const {
    uint32_t bit = uint32_t(canon) & 1023;
    return (filter[bit >> 6] >> (bit & 63)) & 1;
  }
  int32_t canonical(int32_t id) const {
    if (uint32_t(id - 1) < symbols) [[likely]] {
      int32_t alias = int32_t(entries[id - 1].w1);
      return alias > 0 ? alias : id;
    }
    return symbol::canonical_id(id);
  }
  // Larger ones: the finder's answers met so far, by canonical id modulo 64 (ids are
  // positive, so a zero entry holds none).
  mutable int32_t met_canon[64];
  mutable int32_t met_index[64];

  int32_t find(int32_t id, int32_t canon) const {
    if (!small) {
      uint32_t k = uint32_t(canon) & 63;
      if (met_canon[k] == canon) return met_index[k];
      int32_t index = finder.find(id);
      met_canon[k] = canon;
      met_index[k] = index;
      return index;
    }
    for (uint32_t i = 0; i < small; ++i)
      if (small_canon[i] == canon) return small_index[i];
    return -1;
  }
};

constexpr uint32_t FILTER_MAX_WORDS = 512;  // beyond this the filter would pass nearly all

bool mark_nested_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH);
}

// SELF and FILTERED as the binder has them: the per-word tests chosen once per walk.
template <bool SELF, bool FILTERED>
void bind_walk(Cell* block, const Binder& b, bool mark) {
  Node n = block->w2;
  if (!n) return;
  uint16_t& path = b.on_path[n & 255];
  if ((path || b.outer) && cycle::visiting_q(n)) return;
  cycle::Scope scope(n);
  ++path;
  SeriesBuffer* sb = memory::node_buffer(n);
  memory::touch(sb);  // its words may take other bindings
  uint32_t count = memory::used_bytes(sb) / 16;
  Cell* head = memory::head_cells(sb);
  if (mark) {
    // The mark covers the whole series, as trace's walk does: the cells before the head
    // are marked through without binding.
    if (sb->flags & b.mark) {
      mark = false;
    } else {
      sb->flags |= b.mark;
      for (uint32_t i = 0; i < block->w1 && i < count; ++i)
        if (mark_nested_q(cell::type(head + i))) trace::mark_library_series(head[i].w2);
    }
  }
  for (uint32_t i = block->w1; i < count; ++i) {
    Cell* c = head + i;
    uint32_t t = cell::type(c);
    if (any_word_q(t)) {
      int32_t canon = b.canonical(int32_t(c->w2));
      if (SELF && t == T_WORD && canon == b.self_id) {
        c->w1 = b.ctx;
        c->w3 = NO_INDEX;
      } else if (!FILTERED || b.maybe_in(canon)) {
        int32_t index = b.find(int32_t(c->w2), canon);
        if (index >= 0) {
          c->w1 = b.ctx;
          c->w3 = uint32_t(index);
        }
      }
    } else if (any_block_q(t)) {
      bind_walk<SELF, FILTERED>(c, b, mark && t != T_HASH);
    }
  }
  --path;
}

}  // namespace

Cell* bind_block(Cell* block, Node ctx, bool self, uint32_t mark_flags) {
  if (!block->w2 || cycle::visiting_q(block->w2)) return block;
  Binder b{ctx, self, self ? self_canonical() : 0, false, hash::word_finder(table_of(ctx)), {},
           mark_flags, nullptr, 0, 0, {}, {}, cycle::detail::g_top != 0, {}, {}, {}};
  const symbol::detail::ListView& view = symbol::detail::g_list_view;
  if (view.moves == memory::state().moves) {
    b.entries = view.entries;
    b.symbols = view.count;
  }
  if (b.finder.word_count <= FILTER_MAX_WORDS) {
    b.filtered = true;
    for (uint32_t i = 0; i < b.finder.word_count; ++i) {
      uint32_t bit = uint32_t(b.canonical(int32_t(b.finder.words[i].w2))) & 1023;
      b.filter[bit >> 6] |= uint64_t(1) << (bit & 63);
    }
  }
  if (b.finder.word_count <= Binder::SMALL) {
    for (uint32_t i = 0; i < b.finder.word_count; ++i) {
      int32_t id = int32_t(b.finder.words[i].w2);
      b.small_canon[i] = b.canonical(id);
      b.small_index[i] = b.finder.find(id);
    }
    b.small = b.finder.word_count;
  }
  bool mark = mark_flags != 0;
  if (self) {
    if (b.filtered) bind_walk<true, true>(block, b, mark);
    else bind_walk<true, false>(block, b, mark);
  } else {
    if (b.filtered) bind_walk<false, true>(block, b, mark);
    else bind_walk<false, false>(block, b, mark);
  }
  return block;
}

namespace {
// add_set_words when the context's table, its word list and its values all have room for
// every set-word (a fresh object made for its spec's count): the words go in with nothing
// allocated, the values get one unset cell per word added. False, with nothing changed, else.
bool add_set_words_in_place(Node ctx, const Cell* block, bool* added_any) {
  if (stack_held_q(ctx) || !block->w2) return false;
  Node b = block->w2;
  uint32_t n = cell_count(b), head = block->w1 > n ? n : block->w1;
  const Cell* from = cells(b) + head;
  uint32_t sets = 0;
  for (uint32_t i = 0; i < n - head; ++i) sets += cell::type(from + i) == T_SET_WORD;
  SeriesBuffer* vb = memory::node_buffer(cell_of(ctx)->w2);
  if (vb->tail + uint64_t(sets) * sizeof(Cell) > uint32_t(vb->capacity)) return false;
  int32_t added = hash::context_add_set_words_in_place(table_of(ctx), ctx, from, n - head);
  if (added < 0) return false;
  Cell* to = memory::tail_cells(vb);
  for (int32_t i = 0; i < added; ++i) to[i] = Cell{T_UNSET, 0, 0, 0};
  vb->tail += uint32_t(added) * sizeof(Cell);
  if (added) memory::touch(vb);
  *added_any = added > 0;
  return true;
}
}  // namespace

bool add_set_words(Node ctx, const Cell* block) {
  bool added = false;
  if (add_set_words_in_place(ctx, block, &added)) return added;
  Held h(ctx);
  Kept b(block);
  int32_t before = word_count(ctx);
  uint32_t n = cell_count(b.c.w2);
  for (uint32_t i = b.c.w1 > n ? n : b.c.w1; i < cell_count(b.c.w2); ++i) {
    const Cell* c = cells(b.c.w2) + i;
    if (cell::type(c) != T_SET_WORD) continue;
    Cell w = *c;
    find_or_add_word_index(h.node(), &w);
  }
  return word_count(h.node()) > before;
}

void install_type() { datatype::register_type(datatype::Registration{T_CONTEXT, 0, "context!", {}}); }

}  // namespace kel::context

// Services the stack unit takes from contexts.
namespace kel::stack::detail {
const Cell* word_value(const Cell* word) {
  Node ctx = word->w1;
  if (!ctx) return nullptr;
  int32_t i = context::find_symbol(ctx, int32_t(word->w2), true);
  if (i < 0) return nullptr;
  Cell* x = context::cell_of(ctx);
  if (!x->w2) return nullptr;
  if (x->header & hdr::CONTEXT_ON_STACK) return stack::at_index(x->w2 - 1 + uint32_t(i));
  return reinterpret_cast<Cell*>(hash::mem::data(x->w2)) + i;
}
uint32_t global_context() { return context::global; }
}  // namespace kel::stack::detail
