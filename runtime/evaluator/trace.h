// The tracer: trace state, event firing to a Kel tracer function, do/trace's start and end,
// and the library-code mark that makes boot functions look compiled to tracing.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::trace {

// A traced evaluation is running (do/trace started one); interp::switches.trace_enabled is the
// delivery switch, paused inside tracer calls and by no-trace bodies.
extern bool active;
// The event bits the tracer wants.
extern uint32_t mask;
// A position that an event does not have.
constexpr uint32_t NO_POSITION = 0xFFFFFFFF;

// The mask a tracer's body asks for: the event words of a leading block, else every event.
uint32_t event_mask(const Cell* tracer);

// Fires one event whose code is a block, paren or path value (null: none); `position` is
// a cell index in that value's series (NO_POSITION: none).
void fire_in(uint32_t event, const Cell* code, uint32_t position, const Cell* referent,
             const Cell* value);

// Fires call or return: from library code only when the callee is a function! that is
// not library code, then without code.
void fire_call(uint32_t event, Node code, uint32_t position, const Cell* referent,
               const Cell* value, const Cell* callee);

// do/trace: when no trace runs, checks the callback (six arguments before any refinement,
// else script invalid-arg) and installs it (the caller fires init); false when a trace is
// already running (nothing checked, nothing installed).
bool start(const Cell* tracer);
// Fires end and uninstalls; the flags are cleared even when the end event raises. While
// an exit is under way (unwinding) an error or throw from the end event gives way to it:
// the exit's value on the stack top and its pending state are put back as they were.
void finish(bool unwinding);

// One-line wrappers: each tests the switch, then fires its event.
void init();
void end();
void throw_(const Cell* value);
void catch_(const Cell* value);
void call_event(const Cell* word, const Cell* fn);
void return_event(const Cell* word, const Cell* fn);

// Function bodies: header bits 9 (no-trace) and 10 (trace) switch delivery for the body,
// restored on every way out. Compiled-looking library functions switch it off.
struct BodySwitch {
  bool saved;
  bool changed = false;
  explicit BodySwitch(uint32_t function_header);
  ~BodySwitch();
  BodySwitch(const BodySwitch&) = delete;
  BodySwitch& operator=(const BodySwitch&) = delete;
};

// ---- Library code ----

// Header mark of a function! built while library code loads (not one with the trace
// attribute): tracing treats it as compiled code.
constexpr uint32_t FLAG_LIBRARY = 0x800;
// Series flag of its body and of every block, paren and path inside it.
constexpr uint32_t SERIES_LIBRARY = sflag::LIBRARY;

// While one is alive, function::build marks what it builds as library code. The boot
// source loader and the boot image decoder open one around their work.
struct LibraryScope {
  bool saved;
  LibraryScope();
  ~LibraryScope();
  LibraryScope(const LibraryScope&) = delete;
  LibraryScope& operator=(const LibraryScope&) = delete;
};
bool library_loading_q();
// Marks a built function (header and the series of its body, deep) when library code is
// loading and the function has no trace attribute.
void mark_library_function(Cell* fn);
// The library mark on one series and, through blocks, parens and paths, on all it holds.
void mark_library_series(Node series);
bool library_series_q(Node series);

// A rooted cell for the naming word of a call while its open event runs.
Cell* open_name();

// Collector roots of the trace state (the tracer cell).
void mark_roots();

// The routine `tracing?`, on the current frame.
void tracing_routine();

}  // namespace kel::trace

namespace kel::interpreter {
// Event delivery is on.
bool tracing_q();
// Pauses or resumes delivery; it stays off when no trace is installed.
void set_tracing(bool on);
// A tracer is installed.
bool trace_q();
}  // namespace kel::interpreter
