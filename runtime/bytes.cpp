// Byte-buffer operations over a series reached through its node: raw bytes and arrays
// of 32-bit words (1-based where said) in collector memory.
#include "runtime/bytes.h"

#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/rt.h"

namespace kel::memory {

Node buffer_new(uint32_t count, uint32_t unit) { return series_new(count, unit, 0); }

Node buffer_new_zeroed(uint32_t bytes) { return buffer_new_filled(bytes, 0); }

Node buffer_new_filled(uint32_t bytes, uint8_t fill) {
  Node n = series_new(bytes, 1, 0);
  SeriesBuffer* b = node_buffer(n);
  std::memset(data(b), fill, uint32_t(b->capacity));
  b->tail = uint32_t(b->capacity);
  return n;
}

void buffer_fill(Node node, uint8_t fill) {
  SeriesBuffer* b = node_buffer(node);
  std::memset(head(b), fill, uint32_t(b->capacity) - b->head);
}

uint32_t buffer_unit_count(Node node) { return units(node_buffer(node)); }

void buffer_clear(Node node) {
  SeriesBuffer* b = node_buffer(node);
  b->tail = b->head;
}

void buffer_truncate(Node node, uint32_t n) {
  SeriesBuffer* b = node_buffer(node);
  b->tail = b->head + (n - 1) * unit(b);
}

Node buffer_clone(Node node) { return series_clone_node(node); }

uint8_t* buffer_head(Node node) { return head(node_buffer(node)); }

uint8_t buffer_byte_at(Node node, uint32_t n) { return head(node_buffer(node))[n - 1]; }

uint8_t* buffer_append_byte(Node node, uint8_t byte) {
  uint8_t* p = runtime::series_reserve_bytes_node(node, 1);
  *p = byte;
  return p;
}

uint8_t* buffer_append_bytes(Node node, const void* source, uint32_t n) {
  // The source may lie in collector memory: copy it aside when it could move.
  if (in_collected_heap_q(source)) {
    uint8_t* tmp = static_cast<uint8_t*>(rt::alloc(n ? n : 1));
    std::memcpy(tmp, source, n);
    uint8_t* p = runtime::series_reserve_bytes_node(node, n);
    std::memcpy(p, tmp, n);
    rt::free(tmp);
    return p;
  }
  uint8_t* p = runtime::series_reserve_bytes_node(node, n);
  std::memcpy(p, source, n);
  return p;
}

void buffer_append_int32(Node node, uint32_t word) {
  uint8_t* p = runtime::series_reserve_bytes_node(node, 4);
  std::memcpy(p, &word, 4);
}

void buffer_push_int32(Node node, uint32_t word) { buffer_append_int32(node, word); }

void buffer_insert_int32(Node node, uint32_t word, uint32_t position) {
  SeriesBuffer* b = node_buffer(node);
  if (uint32_t(b->capacity) - b->tail < 4) b = series_grow_copy_node(node, 0);
  uint8_t* at = head(b) + position * 4;
  std::memmove(at + 4, at, size_t(tail(b) - at));
  std::memcpy(at, &word, 4);
  b->tail += 4;
}

int32_t buffer_find_int32(Node node, uint32_t word) {
  SeriesBuffer* b = node_buffer(node);
  for (uint32_t off = 0; off + 4 <= used_bytes(b); off += 4) {
    uint32_t v;
    std::memcpy(&v, head(b) + off, 4);
    if (v == word) return int32_t(off);
  }
  return -1;
}

int32_t buffer_find_pointer(Node node, uint32_t word) { return buffer_find_int32(node, word); }

uint32_t buffer_int32_at(Node node, uint32_t n) {
  uint32_t v;
  std::memcpy(&v, head(node_buffer(node)) + (n - 1) * 4, 4);
  return v;
}

uint32_t buffer_pointer_at(Node node, uint32_t n) { return buffer_int32_at(node, n); }

void buffer_set_int32_at(Node node, uint32_t n, uint32_t word) {
  std::memcpy(head(node_buffer(node)) + (n - 1) * 4, &word, 4);
}

void buffer_remove_pointer(Node node, uint32_t word) {
  int32_t off = buffer_find_int32(node, word);
  if (off >= 0) buffer_remove_bytes(node, uint32_t(off), 4);
}

void buffer_remove_bytes(Node node, uint32_t offset, uint32_t n) {
  SeriesBuffer* b = node_buffer(node);
  uint8_t* at = head(b) + offset;
  std::memmove(at, at + n, size_t(tail(b) - (at + n)));
  b->tail -= n;
}

void* heap_alloc_filled(size_t bytes, uint8_t fill) {
  void* p = rt::alloc(bytes ? bytes : 1);
  std::memset(p, fill, bytes);
  return p;
}

}  // namespace kel::memory
