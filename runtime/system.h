// The `system` object: its layout, made once at start-up, and the one way other units add
// their fields to it (each from its own file).
#pragma once
#include "runtime/cell.h"

namespace kel::system {

// A unit's fields: called once `system` exists, with the object reachable through the
// functions below.
using Builder = void (*)();
// Registers a builder (from a unit's start-up entry, e.g. its install_type); when `system`
// exists already the builder runs at once. Builders run in registration order.
void on_build(Builder builder);
// Makes `system` with its base (words, platform, catalog, standard, state, locale, options,
// codecs, lexer) bound to the global word, then runs the builders. Start-up runs it before
// the error catalogue is loaded into it. `words` is the global context's own object, which
// `context?` gives for a global word. The boot library's system module lays the whole object
// out again in its own order from these values.
void build();
bool built_q();
// Forgets the `system` of a runtime that is gone (shut down or about to be made again), so
// builders registered while the next one starts wait for its build. The builders stay.
void forget();
// Start-up, right before the system module: the values it takes from the process and the
// build: script/args (the raw command line), options/cache (the folder the cache folder goes
// under, as text), build/date (seconds since 1970, or none) and build/config (an object of
// the build settings).
void put_process_values();
// Start-up, right after the system module: every field of the object the runtime built that
// the module's layout lacks (a unit's own, from its builder) is kept, after the layout's.
void keep_base_fields();
// A copy of field `name` of the object at `path` (as for push_object); false, leaving out
// alone, when an object on the way or the field is missing. Adds nothing.
bool find_field(const char* path, const char* name, Cell* out);
// Pushes the object at a path of field names below `system` ("" for `system` itself,
// "locale", "state/GC"); missing objects on the way are added.
Cell* push_object(const char* path);
// Sets field `name` of the object at `path` (added when missing) to the value.
void set_field(const char* path, const char* name, const Cell* value);
// Puts a codec record under its key word in `system/codecs`, a map! (capacity 8) made on
// first use.
void put_codec(const char* key, const Cell* record);

}  // namespace kel::system
