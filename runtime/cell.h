// The 16-byte value cell shared by every datatype, stack and series of values.
// Owns the layout, the datatype ids and the header bits common to all units.
#pragma once
#include <bit>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

namespace kel {

// Datatype ids, in registration order.
enum TypeId : uint32_t {
  T_NONE_ID = 0,  // no datatype (empty slot)
  T_DATATYPE = 1, T_UNSET, T_NONE, T_LOGIC, T_BLOCK, T_PAREN, T_STRING, T_FILE, T_URL,
  T_CHAR, T_INTEGER, T_FLOAT, T_SYMBOL, T_CONTEXT, T_WORD, T_SET_WORD, T_LIT_WORD,
  T_GET_WORD, T_REFINEMENT, T_ISSUE, T_NATIVE, T_ACTION, T_OP, T_FUNCTION, T_PATH,
  T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_ROUTINE, T_BITSET, T_TRIPLE, T_OBJECT,
  T_TYPESET, T_ERROR, T_VECTOR, T_HASH, T_PAIR, T_PERCENT, T_TUPLE, T_MAP, T_BINARY,
  T_SERIES, T_TIME, T_TAG, T_EMAIL, T_HANDLE, T_DATE, T_PORT, T_MONEY, T_REF,
  T_POINT2D, T_POINT3D, T_IMAGE, T_EVENT,
  T_TYPE_COUNT  // 55: one past the last id
};

// The name of each datatype id ("" for 0), whether or not its unit has registered yet.
inline constexpr const char* TYPE_NAMES[T_TYPE_COUNT] = {
    "", "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!",
    "url!", "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!",
    "lit-word!", "get-word!", "refinement!", "issue!", "native!", "action!", "op!",
    "function!", "path!", "lit-path!", "set-path!", "get-path!", "routine!", "bitset!",
    "triple!", "object!", "typeset!", "error!", "vector!", "hash!", "pair!", "percent!",
    "tuple!", "map!", "binary!", "series!", "time!", "tag!", "email!", "handle!", "date!",
    "port!", "money!", "ref!", "point2D!", "point3D!", "image!", "event!"};
inline const char* type_name_of(uint32_t id) { return id < T_TYPE_COUNT ? TYPE_NAMES[id] : ""; }

// Header bits used across units; others are private to their datatype.
namespace hdr {
constexpr uint32_t TYPE_MASK = 0xFF;
constexpr uint32_t CONTEXT_KIND_SHIFT = 11;       // context!: 0 global, 1 function, 2 object
constexpr uint32_t CONTEXT_KIND_MASK = 0x1800;
constexpr uint32_t EVENT_HAS_BLOCK = 0x1000;      // event!: w2 holds a block node
constexpr uint32_t WORD_ASSIGNED = 0x2000;        // word of an object's word list: field assigned
constexpr uint32_t OP_TYPE_SHIFT = 16;            // op!: type of the wrapped function value
constexpr uint32_t OP_TYPE_MASK = 0xFF0000;
constexpr uint32_t CONTEXT_ON_STACK = 0x400000;   // context!: values are argument cells on the stack
constexpr uint32_t CONTEXT_HAS_SELF = 0x1000000;  // context!: has a `self`
constexpr uint32_t NEW_LINE = 0x40000000;         // mold starts this value on a new line
}  // namespace hdr

// A value: header (type id in bits 0-7, flags above) and three payload words.
struct alignas(8) Cell {
  uint32_t header;
  uint32_t w1;
  uint32_t w2;
  uint32_t w3;
};
static_assert(sizeof(Cell) == 16, "a value cell is exactly 16 bytes");
static_assert(alignof(Cell) <= 8);

namespace cell {

inline uint32_t type(const Cell* c) { return c->header & hdr::TYPE_MASK; }
// Replaces only the type bits; every flag survives.
inline void set_type(Cell* c, uint32_t t) { c->header = (c->header & ~hdr::TYPE_MASK) | t; }
inline void clear_new_line(Cell* c) { c->header &= ~hdr::NEW_LINE; }
inline Cell* copy(const Cell* src, Cell* dst) {
  if (src != dst) *dst = *src;
  return dst;
}

// A double lives in payload words 2 and 3 (w2 low half, w3 high half).
inline double get_double(const Cell* c) {
  uint64_t bits = (uint64_t(c->w3) << 32) | c->w2;
  return std::bit_cast<double>(bits);
}
inline void put_double(Cell* c, double d) {
  uint64_t bits = std::bit_cast<uint64_t>(d);
  c->w2 = uint32_t(bits);
  c->w3 = uint32_t(bits >> 32);
}
// integer! and char! keep their value in w2; w1 and w3 are unused.
inline int32_t get_int(const Cell* c) { return int32_t(c->w2); }

// Writes a whole cell in one 16-byte store. A whole-cell copy soon after reads it at once;
// after four field stores it would wait for all of them to land (the short paths write
// results that are copied right away).
inline void store(Cell* c, uint32_t header, uint32_t w1, uint32_t w2, uint32_t w3) {
#if defined(__SSE2__)
  _mm_storeu_si128(reinterpret_cast<__m128i*>(c),
                   _mm_set_epi32(int32_t(w3), int32_t(w2), int32_t(w1), int32_t(header)));
#else
  *c = Cell{header, w1, w2, w3};
#endif
}
inline void store_double(Cell* c, uint32_t header, double d) {
  uint64_t bits = std::bit_cast<uint64_t>(d);
  store(c, header, 0, uint32_t(bits), uint32_t(bits >> 32));
}

}  // namespace cell
}  // namespace kel
