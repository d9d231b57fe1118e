// The GUI's event loop: passes of about 33 ms (input, wait, timers, refresh, decoding),
// timers aimed at widgets, the event makers, mouse routing and the dispatch to Kel handlers.
#pragma once
#include <cstdint>
#include <memory>

#include "gui/terminal/event_records.h"

namespace kel::gui {

// Event type codes the loop makes.
namespace evt {
constexpr int32_t DOWN = 1, UP = 2, MID_DOWN = 3, MID_UP = 4, ALT_DOWN = 5, ALT_UP = 6;
constexpr int32_t CLICK = 9, DBL_CLICK = 10, WHEEL = 11, OVER = 12, KEY = 13, KEY_DOWN = 14;
constexpr int32_t TIME = 33;
}  // namespace evt

// The loop state.
struct LoopState {
  int32_t depth;          // running loop levels
  bool mouse_reporting;   // mouse-event? as last applied to the terminal
  int32_t click_state;    // 0 idle, 2 a click may become a double click, 10 one just did
  int32_t click_timer;    // ms since the last click, in steps of 33
  float last_x, last_y;   // the last pointer position given to the hovered widget
  int32_t passes;         // passes run (tests and benchmarks)
};
LoopState& loop_state();

// `gui/do-events`: runs loop passes until the level ends (one pass with no_wait); true
// when the last poll found input.
bool do_events(bool no_wait);
// `gui/post-quit-msg`: the innermost running level ends after its pass.
void post_quit_msg();

// ---- Timers ----
struct Timer {
  int32_t one_shot;
  int32_t fired;
  int32_t elapsed;
  int32_t interval;
  uint32_t target;  // widget id
  void (*callback)(uint32_t widget);
  bool dropped;     // removed while the list was being walked
};
std::unique_ptr<Timer> new_timer(uint32_t target, int32_t interval, void (*callback)(uint32_t),
                                 bool one_shot);
void add_timer(uint32_t widget, int32_t interval);
// The last timer aimed at the widget goes (and is freed).
void remove_timer(uint32_t widget);
// Every timer aimed at the widget goes (the widget is being freed).
void remove_timers_of(uint32_t widget);
void run_timers(int32_t step);
void reset_timer(Timer* timer);
int32_t tick_timer(Timer* timer, int32_t step);
void timer_fired(uint32_t widget);
int32_t timer_count();
void init_timers();

// ---- Event makers and routing: each answers the dispatch result (0, 1 done, 2 gone) ----
int32_t make_event(int32_t type, uint32_t widget, uint32_t flags);
int32_t make_value_event(int32_t type, uint32_t widget, int32_t value);
int32_t make_mouse_event(int32_t type, uint32_t widget, float x, float y, uint32_t flags);
// No widget: the focused one. A special key code (non-zero) or a character.
int32_t make_key_event(uint32_t widget, int32_t character, int32_t special);
int32_t route_over(int32_t type, uint32_t widget, float x, float y, uint32_t flags, bool top);
void send_to_captured(int32_t type, float x, float y, uint32_t flags, uint32_t mask);
void mouse_button(int32_t type, uint32_t widget, float x, float y, uint32_t flags);
// Packed: bits 0-7 this level's event result, 8-15 the click result, 16 up the last type.
uint32_t route_button(int32_t type, uint32_t widget, float x, float y, uint32_t flags);
int32_t route_wheel(int32_t steps, uint32_t widget, float x, float y, uint32_t flags);
// The event to the face's handlers through system/view/awake.
int32_t dispatch_event(int32_t type, const EventRecord& record, uint32_t flags);

// Start-up: the input decoder's sink, the timer list.
void init_event_loop();

// ---- Test seams ----
// Milliseconds of a monotonic clock, and the wait for input (null: the terminal's again).
void set_loop_clock(int64_t (*clock)());
void set_loop_waiter(void (*wait)(int32_t ms));
void reset_loop_state();

}  // namespace kel::gui
