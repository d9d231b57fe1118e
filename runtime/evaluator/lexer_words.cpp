// The lexer's word memory: a small two-way table from spelling to symbol id and global index,
// valid for one scan, its indexes re-checked against the changes of context word tables.
#include "runtime/evaluator/lexer_words.h"

#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/hash.h"
#include "runtime/symbol.h"

namespace kel::lexer::words {

namespace {

constexpr uint32_t ENTRIES = 128;  // a power of two, in pairs (two ways a spelling may use)
constexpr int32_t LONGEST = 22;    // longer spellings are not remembered

struct Entry {
  uint64_t serial;   // the scan that filled it (0: empty)
  int32_t symbol;
  uint32_t index;    // in the global context, when global is set
  Node global;       // the global context the index was found in (0: no index)
  uint32_t changes;  // context-table changes then: an added word may rehash the global table,
                     // after which a canonical look-up can meet another case variant first
  uint8_t length;
  uint8_t bytes[LONGEST];
};

Entry entries[ENTRIES];
uint8_t victims[ENTRIES / 2];  // per pair, the way a miss fills next
uint64_t last_serial = 0;

// From the length and three bytes: cheap, and the keys of data files differ there.
uint32_t pair_of(const uint8_t* text, int32_t n) {
  uint32_t h = uint32_t(n) * 0x9E3779B1u;
  h ^= text[0] * 0x85EBCA77u;
  h ^= text[n - 1] * 0xC2B2AE3Du;
  h ^= text[n / 2] * 0x27D4EB2Fu;
  return (h ^ (h >> 15)) & (ENTRIES / 2 - 1);
}

bool holds(const Entry* e, uint64_t serial, const uint8_t* text, int32_t n) {
  if (e->serial != serial || e->length != n) return false;
  for (int32_t i = 0; i < n; ++i)
    if (e->bytes[i] != text[i]) return false;
  return true;
}

// What interning and binding make, without the memory.
Cell plain(uint32_t type, int32_t symbol) {
  Cell w{type, 0, uint32_t(symbol), context::NO_INDEX};
  if (type == T_ISSUE) {
    w.w1 = context::global;
  } else if (type != T_REFINEMENT) {
    // Loaded words belong to the global context, as every word made from text.
    word::init_cell(symbol, &w);
    cell::set_type(&w, type);
  }
  return w;
}

}  // namespace

Cell make(State* s, uint32_t type, const uint8_t* text, int32_t length) {
  // Events run Kel code between tokens: no memory across them.
  bool events = s->native_callback || cell::type(&s->callback) != T_NONE;
  if (length <= 0 || length > LONGEST || events || !context::global)
    return plain(type, symbol::intern_text(text, uint32_t(length)));
  if (!s->word_serial) s->word_serial = ++last_serial;
  uint64_t serial = s->word_serial;
  uint32_t pair = pair_of(text, length);
  Entry* e = entries + 2 * pair;
  if (holds(e, serial, text, length)) {
    victims[pair] = 1;
  } else if (holds(e + 1, serial, text, length)) {
    ++e;
    victims[pair] = 0;
  } else {
    e += victims[pair];
    victims[pair] ^= 1;
    uint8_t spelling[LONGEST];
    std::memcpy(spelling, text, size_t(length));  // interning may move the text
    int32_t symbol = symbol::intern_text(spelling, uint32_t(length));
    e->serial = serial;
    e->symbol = symbol;
    e->global = 0;
    e->length = uint8_t(length);
    std::memcpy(e->bytes, spelling, size_t(length));
  }
  int32_t symbol = e->symbol;
  if (type == T_ISSUE || type == T_REFINEMENT) return plain(type, symbol);
  if (e->global == context::global && e->changes == hash::context_table_changes) {
    Cell w{T_WORD, context::global, uint32_t(symbol), e->index};
    cell::set_type(&w, type);
    return w;
  }
  Cell w = plain(type, symbol);
  // Taken after the binding, which may have added the word (the entry cannot have moved:
  // no scan runs inside it, but it is checked anyway).
  if (e->serial == serial && e->symbol == symbol) {
    e->global = context::global;
    e->changes = hash::context_table_changes;
    e->index = w.w3;
  }
  return w;
}

}  // namespace kel::lexer::words
