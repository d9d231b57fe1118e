// No-op stubs for the start-up entry points of units not built yet (declared in init_steps.h).
// A unit that lands deletes its lines here and in init_steps.h and defines them itself.
//
// Taking a stub over: define the function in your unit (same namespace and name), delete its
// stub below and its declaration in init_steps.h, and include your unit's header in init.cpp.
// A stub left behind shows up as a duplicate-symbol link error, never as a silent no-op.
#include "runtime/init_steps.h"
