// Open-addressing hash tables over cell series: hash!, map!, symbol and word
// tables, and 32-bit-keyed record tables (owner table and friends).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"

namespace kel::hash {

using kel::Node;

// Words of the 48-byte table record. FREE_SLOTS (hash! only, else 0) names an int32
// series used as a stack of the free slots of the lists series, so a new duplicate list
// takes a slot in constant time; it always has room for every slot, so freeing one never
// allocates.
namespace rec {
enum : int {
  SIZE = 0, POSITIONS = 1, RECORD_WIDTH = 1, LISTS = 2, FLAGS = 3, INDEX = 4, VALUES = 5,
  OCCUPIED = 6, BUCKETS = 7, UPPER = 8, KIND = 9, STAMP = 10, FREE_SLOTS = 11, WORDS = 12
};
}
// Bucket flag values (2 bits each).
constexpr uint32_t LIVE = 0, DELETED = 1, EMPTY = 2;
// Table kinds; 3 and up are record tables (4 is the owner table).
constexpr int32_t KIND_HASH = 0, KIND_MAP = 1, KIND_SYMBOLS = 2, KIND_RECORDS = 3, KIND_OWNER = 4;

// The symbol table, once start-up has made it (0 before).
extern Node symbol_table;

// Record access: valid until the next allocation. Inline: every context's word count and
// word list is read through it.
inline int32_t* record(Node t) { return reinterpret_cast<int32_t*>(memory::node_head(t)); }
uint32_t bucket_flag(Node t, uint32_t i);

uint32_t round_up_pow2(uint32_t n);
bool address_hashed_q(uint32_t type);
uint32_t string_hash(const Cell* c, int case_sensitive);
uint32_t symbol_hash(const Cell* c);
uint32_t value_hash(const Cell* c, int case_sensitive);

Node table_create(int32_t size, const Cell* source, int32_t kind, int32_t d);
Cell* table_add(Node t, Cell* value);
Cell* table_add_value(Node t, Cell* value, int* status);
// Counts every change of a table's buckets (an entry added, a rehash, emptied, a new table):
// a map! position found under one count is where the same key is found again.
extern uint64_t map_writes;
// A map!'s look-up of a string! or word key (map_key_in_place_q) under equality, letter case
// folded or not, with nothing allocated: the key cell found, or null with `slot` (when
// given) the bucket the key would take. map_add_at indexes the entry at position p in that
// bucket while the table is unchanged since (same map_writes); false when it must grow
// first (then table_add_value).
bool map_key_in_place_q(const Cell* key);
Cell* map_search(Node t, const Cell* key, bool fold, int64_t* slot);
bool map_add_at(Node t, int32_t p, int64_t slot);
// Whether a stored key is the one map_search would take for key (as its probe compares).
bool map_search_equal_q(const Cell* stored, const Cell* key, bool fold);
// Returns the cell found, or nullptr for none.
Cell* table_search(Node t, Cell* key, int32_t start, int32_t skip, int op, bool last, bool reverse);
Cell* table_search_next(Node t, Cell* key, int32_t* cursor, int32_t* end_mark, int32_t* step);
void table_delete_value(Node t, Cell* value);
void table_delete_range(Node t, int32_t first, int32_t count);
void table_shift_indexes(Node t, int32_t offset, int32_t first, int32_t count, bool flag);
void table_move_indexes(Node t, int32_t destination, int32_t first, int32_t count);
void table_resize(Node t, int32_t n);
// Drops the scratch table of the position shifter (a node of a heap that is gone) and the
// spelling buffer; both are made again when next needed.
void forget_scratch();
void table_rebuild(Node t, int32_t n);
void table_rehash_to(Node t, int32_t target);
void table_reinsert_all(Node t, int32_t first, int32_t step);
Node table_duplicate(Node t, Node values);
Node table_copy_from(Node source);
void table_empty(Node t);
void table_no_op(Node t);
void refresh_if_stale(Node t);

// Record tables: address of the first data cell (valid until the next allocation).
Cell* table_add_key(Node t, uint32_t key);
Cell* table_lookup_key(Node t, uint32_t key);
Cell* table_delete_key(Node t, uint32_t key);
void grow_key_table(Node t, int32_t target);
void rehash_key_table(Node t);

int32_t find_symbol_name(Node t, const uint8_t* bytes, uint32_t length, bool any_case);
int32_t context_symbol_index(Node t, int32_t symbol, bool canonical, Node context, int32_t* index);
// A context's symbol table read once for a run of look-ups in which nothing allocates
// (binding a block): `find` is `context_symbol_index`'s canonical look-up without a context.
struct WordFinder {
  const uint32_t* flags;
  const int32_t* index;
  const Cell* words;
  uint32_t buckets;
  uint32_t word_count;
  int32_t find(int32_t symbol_id) const;
};
WordFinder word_finder(Node t);
// Adds the symbols of the set-words among cells[0, count) to a context's table, words not
// there yet each at the next index (w1 context), as context_symbol_index adds them one by one,
// when the table and its word list have room for them all without a rehash or a growth:
// nothing allocates, so cells may point into a series. Returns the count added, or -1 (and
// nothing changed) when there is no such room.
int32_t context_add_set_words_in_place(Node t, Node context, const Cell* cells, uint32_t count);
// The same for the words, get-words, lit-words and refinements among them (a spec's words).
int32_t context_add_spec_words_in_place(Node t, Node context, const Cell* cells, uint32_t count);
Cell* context_word_at(const Cell* context, int32_t i);
Cell* context_symbols(const Cell* context);
Node context_symbols_node(const Cell* context);

// Collector: *table_word may be rewritten when its node moved.
void mark_table(uint32_t* table_word);
// Owner table: marks the records whose key is marked elsewhere, to a fixpoint.
// Returns true when anything was newly marked.
bool mark_owner_records(Node t);
void sweep_records(Node* table);

}  // namespace kel::hash
