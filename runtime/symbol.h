// Symbols: the process-wide symbol list with its kind-2 hash, exact and any-case interning,
// case aliases and canonical ids, each symbol's name as UTF-8 bytes and as a string.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/runtime_words.h"

namespace kel::symbol {

// Room of the symbol list and expected keys of its hash at start.
constexpr uint32_t INITIAL_ENTRIES = 4000;

// The symbol list when start-up made it in the root block (0: the hash makes its own).
extern Node list;

// Makes the symbol hash over the symbol list and registers it as a collector root.
void create_hash();

// Interning. Ids are 1-based and never reused. The bytes may lie anywhere, also in a
// buffer that moves: they are copied before anything allocates.
int32_t intern_text(const uint8_t* text, uint32_t length);
int32_t intern_c_text(const char* text);
int32_t intern_c_text_any_case(const char* text);
inline int32_t intern(std::string_view text) {
  return intern_text(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
}
// An any-string from its head, by the byte count its UTF-8 form has (a NUL inside counts).
int32_t intern_string(const Cell* string);

// Entries.
uint32_t count();
// The entry of the id with its string ensured; valid until the next allocation.
Cell* cell_of(int32_t id);
// Builds the entry's string once (word 2), when it is still 0.
void ensure_string(int32_t id);
// The node of the entry's string, built when missing.
Node string_node(int32_t id);
// UTF-8 name bytes (a NUL follows them); valid until the next allocation.
const uint8_t* utf8(int32_t id, uint32_t* length);
std::string text(int32_t id);

namespace detail {
// The symbol list's entries as last read, valid while `memory::state().moves` equals
// `moves`; ids past `count` (added since) take the slow path, which reads them again.
struct ListView {
  uint64_t moves;
  const Cell* entries;
  uint32_t count;
};
extern ListView g_list_view;
int32_t canonical_id_slow(int32_t id);
}  // namespace detail

// Every word look-up asks this: inline while the list's buffer has not moved.
inline int32_t canonical_id(int32_t id) {
  const detail::ListView& v = detail::g_list_view;
  if (v.moves == memory::state().moves && uint32_t(id - 1) < v.count) [[likely]] {
    int32_t alias = int32_t(v.entries[id - 1].w1);
    return alias > 0 ? alias : id;
  }
  return detail::canonical_id_slow(id);
}
int32_t alias_id(int32_t id);

// The symbol! compare slot: the names compared as strings under the comparison code.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// Registers symbol! (compare only).
void install_type();

// Runtime words: positions in the runtime-word table, read as ids without any text lookup.
using runtime::WordKind;
constexpr size_t RW_SELF = runtime::runtime_word_index("self", WordKind::SYMBOL);
constexpr size_t RW_TRUE = runtime::runtime_word_index("true", WordKind::SYMBOL);
constexpr size_t RW_FALSE = runtime::runtime_word_index("false", WordKind::SYMBOL);
// The id interned for a runtime word (interned on the spot before start-up has run).
inline int32_t runtime_id(size_t position) {
  uint32_t id = runtime::runtime_word_ids[position];
  return id ? int32_t(id) : intern(runtime::runtime_words[position].spelling);
}

}  // namespace kel::symbol
