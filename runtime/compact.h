// Reclaiming after marking: arena compaction, node-pool evacuation, the deferred node
// releases, and stress mode's move of every movable buffer to fresh memory.
#pragma once
#include <cstdint>

#include "runtime/memory.h"

namespace kel::gc {

constexpr uint32_t DEFERRED_CAPACITY = 20000;
constexpr uint32_t SPARSE_USED_LIMIT = 5000;

void release_node_deferred(Node node);
// Sorts n handles ascending; scratch has room for n.
void sort_handles(Node* handles, Node* scratch, uint32_t n);
void flush_deferred_releases();
uint32_t deferred_count();
// Moves the nodes out of pools that stayed sparse; true when nodes moved.
bool evacuate_sparse_pools();
// Moves every node of one pool (round robin) into other pools; true when nodes moved.
bool evacuate_one_pool_for_stress();
void compact_arena(memory::SeriesArena* arena);
void compact_arena_into_previous(memory::SeriesArena* arena, memory::SeriesArena* previous);
void compact_arenas();
// Copies every arena buffer into fresh arenas and unmaps the old ones.
void move_all_to_fresh_memory();
void compact_shutdown();

}  // namespace kel::gc
