// Byte-buffer operations over a series reached through its node: raw bytes and arrays of
// 32-bit words kept in collector memory (hash-table arrays, scratch buffers).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/memory.h"

namespace kel::memory {

Node buffer_new(uint32_t count, uint32_t unit);
Node buffer_new_zeroed(uint32_t bytes);
Node buffer_new_filled(uint32_t bytes, uint8_t fill);
void buffer_fill(Node node, uint8_t fill);
uint32_t buffer_unit_count(Node node);
void buffer_clear(Node node);
void buffer_truncate(Node node, uint32_t n);              // tail = head + (n - 1) units
Node buffer_clone(Node node);
uint8_t* buffer_head(Node node);
uint8_t buffer_byte_at(Node node, uint32_t n);            // 1-based
// Appends return addresses valid only until the next allocation.
uint8_t* buffer_append_byte(Node node, uint8_t byte);
uint8_t* buffer_append_bytes(Node node, const void* source, uint32_t n);
void buffer_append_int32(Node node, uint32_t word);
void buffer_push_int32(Node node, uint32_t word);
void buffer_insert_int32(Node node, uint32_t word, uint32_t position);   // 0-based
int32_t buffer_find_int32(Node node, uint32_t word);      // byte offset or -1
int32_t buffer_find_pointer(Node node, uint32_t word);
uint32_t buffer_int32_at(Node node, uint32_t n);          // 1-based
uint32_t buffer_pointer_at(Node node, uint32_t n);
void buffer_set_int32_at(Node node, uint32_t n, uint32_t word);
void buffer_remove_pointer(Node node, uint32_t word);
void buffer_remove_bytes(Node node, uint32_t offset, uint32_t n);
void* heap_alloc_filled(size_t bytes, uint8_t fill);

}  // namespace kel::memory
