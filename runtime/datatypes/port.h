// port! (id 48, parent object!): ports made from a spec through a scheme, the forwarding of
// the series and port actions to the scheme's actor, and the port fields of `system`.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kel::port {

// A port cell is an object cell of type 48 with this class id; its fields are those of
// `system/standard/port`: spec scheme actor awake state data extra.
constexpr uint32_t CLASS_ID = 2;

// Actors written in C++: one function per action 25-62 (index id - 25), with that action's
// slot signature; null where the actor lacks the action. A port whose actor is a handle! of
// kind handle::KIND_PORT_ACTOR sends those actions to its table before anything else.
struct ActorTable {
  datatype::AnySlot slots[38];
};
// Makes out a handle! naming the table (kept for the life of the process).
void init_actor_handle(Cell* out, const ActorTable* table);

// The value of the port's actor field; access/invalid-port when it is not an object!.
Cell actor_of(const Cell* port);
// Calls the actor's function named by the action (an id 25-62) with the port and the values
// (stack cells, or cells holding no series), fitted to the function's arguments: missing ones
// are none, extra ones dropped. The result is pushed. access/no-port-action when the actor has
// no function! under the action's word.
Cell* call_actor(uint32_t action, const Cell* port, const Cell* const* values, int32_t count);

// make: a port from a spec block (the body of a `system/standard/url-parts` object) or a spec
// object. Pushes the port.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
// As object! compares, between two ports; anything else is not comparable.
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void install_type();

}  // namespace kel::port
