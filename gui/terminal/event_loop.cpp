// The GUI's event loop and its timers, the event makers, mouse routing (hover, capture,
// clicks, double clicks, wheel) and the dispatch of events to system/view/awake.
#include "gui/terminal/event_loop.h"

#include <algorithm>
#include <vector>

#include "gui/terminal/console_io.h"
#include "gui/terminal/input.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/vocabulary.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/trace.h"
#include "runtime/hooks.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"
#include "runtime/terminal.h"
#include "runtime/unwind.h"

namespace kel::gui {

namespace {
LoopState g_loop{};
std::vector<std::unique_ptr<Timer>> g_timers;
int32_t g_timer_walks = 0;  // run_timers levels in progress (a callback may run the loop)

int64_t terminal_clock() { return terminal::now_ms(); }
void terminal_waiter(int32_t ms) { terminal::wait(ms); }
int64_t (*g_clock)() = terminal_clock;
void (*g_wait)(int32_t) = terminal_waiter;

constexpr int32_t FRAME_MS = 33;
constexpr uint32_t ALL_STATES = 0xFFFFFFFFu;

bool has_face(const Widget* w) { return w && cell::type(&w->face) == T_OBJECT; }
bool disabled(const Widget* w) { return !w || (w->flags & wflag::DISABLED); }

void compact_timers() {
  g_timers.erase(std::remove_if(g_timers.begin(), g_timers.end(),
                                [](const std::unique_ptr<Timer>& t) { return t->dropped; }),
                 g_timers.end());
}

void drop_timer(size_t i) {
  if (g_timer_walks > 0) g_timers[i]->dropped = true;  // compacted after the walk
  else g_timers.erase(g_timers.begin() + ptrdiff_t(i));
}

// system/view/platform/mouse-event? as a logic.
bool mouse_event_wanted() {
  Cell platform;
  if (!system::find_field("view", "platform", &platform) || cell::type(&platform) != T_OBJECT) return false;
  Cell value;
  if (!system::find_field("view/platform", "mouse-event?", &value)) return false;
  return cell::type(&value) == T_LOGIC && value.w1;
}

// Tracing stays off while handlers run, and comes back as it was.
struct TracingOff {
  bool was = interpreter::tracing_q();
  TracingOff() { interpreter::set_tracing(false); }
  ~TracingOff() { interpreter::set_tracing(was); }
};

bool is_ancestor(uint32_t ancestor, uint32_t id) {
  const Widget* w = widget(id);
  for (int guard = 0; w && w->parent && guard < 1 << 20; ++guard) {
    if (w->parent == ancestor) return true;
    w = widget(w->parent);
  }
  return false;
}

bool ancestor_or_sibling(uint32_t a, uint32_t of) {
  const Widget* x = widget(a);
  const Widget* y = widget(of);
  if (!x || !y) return false;
  return is_ancestor(a, of) || (x->parent && x->parent == y->parent);
}

bool in_over_list(uint32_t id) {
  auto& l = screen().over_list;
  return std::find(l.begin(), l.end(), id) != l.end();
}

// The decoder's sink.
void sink_key(int32_t character, int32_t special) { make_key_event(0, character, special); }
void sink_button(int32_t type, float x, float y, uint32_t flags) {
  mouse_button(type, screen().active_window, x, y, flags);
}
void sink_over(int32_t type, float x, float y, uint32_t flags) {
  route_over(type, screen().active_window, x, y, flags, true);
}
void sink_wheel(int32_t steps, float x, float y, uint32_t flags) {
  route_wheel(steps, screen().active_window, x, y, flags);
}
bool sink_active() { return screen().active_window != 0; }
const InputSink g_sink{sink_key, sink_button, sink_over, sink_wheel, sink_active, on_terminal_resize};

// One pass under a catch of every exit; the code it was ended by, 0 when none. An error's
// value goes to *error (when it is still none).
template <class Body>
uint32_t guarded_pass(Cell* error, Body&& body) {
  Cell* base = stack::state().base;
  Cell* top = stack::state().top;
  stack::Frame* frames = stack::state().frames_top;
  stack::push_try_frame(&interp::words.body);
  uint32_t code = stack::land(0xFFFFFFFFu, body);
  if (code) {
    stack::take_pending_code();
    if (code == unwind_code::ERROR) {
      Cell* last = stack::last_pushed();
      if (cell::type(error) == T_NONE && stack::state().top > top && cell::type(last) == T_ERROR)
        *error = *last;
    }
  }
  stack::set_frame_top(frames);
  stack::state().base = base;
  stack::state().top = top;
  return code;
}
}  // namespace

LoopState& loop_state() { return g_loop; }

void reset_loop_state() {
  g_loop = LoopState{};
  g_timers.clear();
  g_timer_walks = 0;
}

void set_loop_clock(int64_t (*clock)()) { g_clock = clock ? clock : terminal_clock; }
void set_loop_waiter(void (*wait)(int32_t)) { g_wait = wait ? wait : terminal_waiter; }

bool do_events(bool no_wait) {
  LoopState& L = g_loop;
  Console& con = console();
  bool nested = no_wait || con.set_up || L.depth > 0;
  int32_t saved_depth = L.depth;
  if (!no_wait) ++L.depth;
  stack::TopGuard keep_top;
  Cell* error = stack::reserve_cell();
  cell::set_none(error);
  if (nested) {
    if (!no_wait) reset_input();
  } else {
    enter_console_mode();
    enter_screen();
    mark_redraw(0);
    bool wanted = mouse_event_wanted();
    if (wanted != L.mouse_reporting && con.set_up) {
      L.mouse_reporting = wanted;
      if (wanted) mouse_on();
      else mouse_off();
    }
  }
  int64_t elapsed = 0;
  bool had_input = false;
  for (;;) {
    bool leave = false;
    uint32_t code = guarded_pass(error, [&] {
      had_input = poll_console(true) > 0;
      if (no_wait && !had_input) {
        leave = true;
        return;
      }
      int32_t step = FRAME_MS;
      if (elapsed <= FRAME_MS) g_wait(int32_t(FRAME_MS - elapsed));
      else step = int32_t(std::min<int64_t>(elapsed, INT32_MAX));
      int64_t start = g_clock();
      ++L.passes;
      run_timers(step);
      refresh();
      decode_input();
      if (L.click_state == 2 && L.click_timer < 800) L.click_timer += FRAME_MS;
      elapsed = g_clock() - start;
    });
    if (code) --L.depth;  // the level ends
    if (leave || no_wait || L.depth <= saved_depth) break;
  }
  if (nested) {
    poll_console(false);
    reset_input();
  } else {
    finish_inline_display();
    if (L.mouse_reporting) {
      mouse_off();
      L.mouse_reporting = false;
    }
    leave_screen();
    show_cursor();
    poll_console(false);
    leave_console_mode();
    reset_input();
    if (window_count() == 0) shutdown_screen();
  }
  // An error that ended the level is told, now that the terminal is the console's again.
  if (cell::type(error) == T_ERROR) error::print_report(error);
  return had_input;
}

void post_quit_msg() { --g_loop.depth; }

// ---- Timers ----

std::unique_ptr<Timer> new_timer(uint32_t target, int32_t interval, void (*callback)(uint32_t),
                                 bool one_shot) {
  return std::unique_ptr<Timer>(new Timer{one_shot ? 1 : 0, 0, 0, interval, target, callback, false});
}

void add_timer(uint32_t widget, int32_t interval) {
  g_timers.push_back(new_timer(widget, interval, timer_fired, false));
}

void remove_timer(uint32_t widget) {
  for (size_t i = g_timers.size(); i-- > 0;) {
    if (!g_timers[i]->dropped && g_timers[i]->target == widget) {
      drop_timer(i);
      return;
    }
  }
}

void remove_timers_of(uint32_t widget) {
  for (size_t i = g_timers.size(); i-- > 0;)
    if (!g_timers[i]->dropped && g_timers[i]->target == widget) drop_timer(i);
}

void run_timers(int32_t step) {
  ++g_timer_walks;
  // The count is read again at each step: callbacks add timers; removed ones are marked.
  for (size_t i = 0; i < g_timers.size(); ++i) {
    Timer* t = g_timers[i].get();
    if (t->dropped) continue;
    if (!widget_live_q(t->target)) {
      t->dropped = true;  // its widget is gone
      continue;
    }
    tick_timer(t, step);
  }
  if (--g_timer_walks == 0) compact_timers();
}

void reset_timer(Timer* t) {
  t->fired = 0;
  t->elapsed = 0;
}

int32_t tick_timer(Timer* t, int32_t step) {
  t->elapsed += step;
  if (t->fired == 1 || t->elapsed < t->interval) return 0;
  if (t->callback) t->callback(t->target);
  t->fired = 0;
  t->elapsed = 0;
  if (t->one_shot) t->fired = 1;
  return 1;
}

void timer_fired(uint32_t widget) { make_event(evt::TIME, widget, 0); }

int32_t timer_count() {
  return int32_t(std::count_if(g_timers.begin(), g_timers.end(),
                               [](const std::unique_ptr<Timer>& t) { return !t->dropped; }));
}

void init_timers() {
  g_timers.clear();
  g_timers.reserve(8);
  g_timer_walks = 0;
}

// ---- Dispatch ----

int32_t dispatch_event(int32_t type, const EventRecord& record, uint32_t flags) {
  stack::TopGuard keep_top;
  ScopedEventRecord live(record);
  Cell* event = stack::reserve_cell();
  event::init_backend(event, uint32_t(type), flags, live.id);
  Cell* face = stack::reserve_cell();
  if (!face_of_widget(record.widget, face)) cell::set_none(face);
  Cell* awake = stack::reserve_cell();
  if (!system::find_field("view", "awake", awake)) return 0;
  uint32_t t = cell::type(awake);
  if (t != T_FUNCTION && t != T_NATIVE && t != T_ACTION && t != T_ROUTINE) return 0;
  Cell* call = stack::reserve_cell();
  cell::set_none(call);
  block::init_cell(call, 2);
  *runtime::block_append_cell(call) = *awake;
  *runtime::block_append_cell(call) = *event;
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  {
    Cell* base = stack::state().base;
    Cell* top = stack::state().top;
    stack::Frame* frames = stack::state().frames_top;
    stack::push_try_all_frame(&interp::words.body);
    TracingOff tracing_off;
    uint32_t code = stack::land(0xFFFFFFFFu, [&] { interp::eval_block(call, true); });
    if (code) stack::take_pending_code();  // an error is dropped: neither printed nor passed on
    else *result = *stack::state().base;
    stack::set_frame_top(frames);
    stack::state().base = base;
    stack::state().top = top;
  }
  if (word::any_word_type_q(cell::type(result)) &&
      symbol::canonical_id(int32_t(result->w2)) == symbol::canonical_id(symbol::intern_c_text("done")))
    return 1;
  if (cell::type(face) == T_OBJECT && face_handle_q(face) != record.widget) return 2;
  return 0;
}

// ---- Event makers ----

int32_t make_event(int32_t type, uint32_t id, uint32_t flags) {
  Widget* w = widget(id);
  if (disabled(w)) return 0;
  EventRecord record{id, 0, 0, 0, 0};
  if (w->on_event) w->on_event(id, type, &record);
  if (!has_face(widget(id))) return 0;
  return dispatch_event(type, record, flags);
}

int32_t make_value_event(int32_t type, uint32_t id, int32_t value) {
  Widget* w = widget(id);
  if (disabled(w) || !has_face(w)) return 0;
  EventRecord record{id, 0, 0, value, 0};
  return dispatch_event(type, record, 0);
}

int32_t make_mouse_event(int32_t type, uint32_t id, float x, float y, uint32_t flags) {
  Widget* w = widget(id);
  if (disabled(w)) return 0;
  EventRecord record{id, x, y, 0, 0};
  if (w->on_event && w->on_event(id, type, &record) == 2) return 2;
  if (!has_face(widget(id))) return 0;
  return dispatch_event(type, record, flags);
}

int32_t make_key_event(uint32_t id, int32_t character, int32_t special) {
  if (!id) id = screen().focused;
  Widget* w = widget(id);
  if (disabled(w)) return 0;
  uint32_t flags = 0;
  int32_t key = character;
  if (special == 10) {
    key = 9;  // back-tab: a tab with shift
    flags = event_flag::SHIFT;
  } else if (special) {
    key = special;
    flags = event_flag::SPECIAL_KEY;
  }
  if (key == 0) return 0;
  EventRecord record{id, 0, 0, key, 0};
  int32_t r = 0;
  if (has_face(w)) {
    r = dispatch_event(evt::KEY_DOWN, record, flags);
    if (r == 0 && has_face(widget(id))) r = dispatch_event(evt::KEY, record, flags);
  }
  if (r == 0) {
    w = widget(id);
    if (w && w->on_event) r = w->on_event(id, evt::KEY, &record);
  }
  return r;
}

// ---- Mouse routing ----

int32_t route_over(int32_t type, uint32_t id, float x, float y, uint32_t flags, bool top) {
  Screen& sc = screen();
  int32_t r = 0;
  bool sent = false;  // this widget has had the event already
  if (!widget(id)) return 0;
  if (!sc.hovered) {
    r = make_mouse_event(type, id, x, y, flags);
    sent = true;
    if (r == 2) return 2;
  }
  if (uint32_t child = hit_test(id, x, y)) {
    const Widget* c = widget(child);
    r = route_over(type, child, x - c->left, y - c->top, flags, false);
  } else {
    if (id != sc.hovered) {
      uint32_t hovered = sc.hovered;
      if (hovered && ancestor_or_sibling(id, hovered)) {
        if (hovered == sc.captured)
          if (Widget* h = widget(hovered)) h->flags |= wflag::LEFT_CAPTURED;
        make_mouse_event(type, hovered, g_loop.last_x, g_loop.last_y, flags | event_flag::AWAY);
      }
      if (hovered && ancestor_or_sibling(hovered, id)) {
        if (Widget* w = widget(id)) w->flags &= ~wflag::LEFT_CAPTURED;
        r = make_mouse_event(type, id, x, y, flags);
        sent = true;
      }
      sc.hovered = widget(id) ? id : 0;
    }
    g_loop.last_x = x;
    g_loop.last_y = y;
  }
  const Widget* w = widget(id);
  if (r == 0 && !sent && w && (w->flags & wflag::ALL_OVER)) r = make_mouse_event(type, id, x, y, flags);
  if (top) send_to_captured(type, x, y, flags, wflag::ALL_OVER);
  return r;
}

void send_to_captured(int32_t type, float x, float y, uint32_t flags, uint32_t mask) {
  uint32_t id = screen().captured;
  const Widget* w = widget(id);
  if (!w || !(w->flags & wflag::LEFT_CAPTURED)) return;
  if (mask != ALL_STATES && !(w->flags & mask)) return;
  for (const Widget* a = w; a && a->parent; a = widget(a->parent)) {
    x -= a->left;
    y -= a->top;
  }
  make_mouse_event(type, id, x, y, flags);
}

void mouse_button(int32_t type, uint32_t id, float x, float y, uint32_t flags) {
  Screen& sc = screen();
  if (type == evt::DOWN) sc.captured = sc.hovered;
  route_button(type, id, x, y, flags);
  if (type == evt::UP) {
    send_to_captured(type, x, y, flags, ALL_STATES);
    sc.captured = 0;
    sc.over_list.clear();
    g_loop.click_state = g_loop.click_state == 10 ? 0 : 2;
    g_loop.click_timer = 0;
  }
}

uint32_t route_button(int32_t type, uint32_t id, float x, float y, uint32_t flags) {
  if (!widget(id)) return 0;
  uint32_t child = hit_test(id, x, y);
  uint32_t from_child = 0;
  if (child) {
    const Widget* c = widget(child);
    from_child = route_button(type, child, x - c->left, y - c->top, flags);
    if ((from_child & 0xFF) == 2 || (from_child >> 8 & 0xFF) == 2) return from_child;
  }
  uint32_t own = 0, click = 0;
  uint32_t last = from_child >> 16;
  if (!child || (from_child & 0xFF) == 0) {
    own = uint32_t(make_mouse_event(type, id, x, y, flags));
    if (own == 2) return 2 | uint32_t(type) << 16;
    last = uint32_t(type);
  }
  bool left_button = type == evt::DOWN || type == evt::UP;
  if (type == evt::DOWN) {
    if (widget(id)) screen().over_list.push_back(id);
  } else if (type == evt::UP && !(from_child >> 8 & 0xFF) && in_over_list(id)) {
    if ((child && (from_child >> 16) == uint32_t(evt::DBL_CLICK)) ||
        (g_loop.click_state == 2 && g_loop.click_timer < 500)) {
      click = uint32_t(make_mouse_event(evt::CLICK, id, x, y, flags));
      if (click != 2) {
        g_loop.click_state = 10;
        click = uint32_t(make_mouse_event(evt::DBL_CLICK, id, x, y, flags));
      }
      last = uint32_t(evt::DBL_CLICK);
    } else {
      click = uint32_t(make_mouse_event(evt::CLICK, id, x, y, flags));
      last = uint32_t(evt::CLICK);
    }
    if (click == 2) return own | click << 8 | last << 16;
  }
  if (left_button && !child) {
    const Widget* w = widget(id);
    if (w && (w->flags & wflag::FOCUSABLE) && !(w->flags & wflag::FOCUSED)) set_focus(0, id, nullptr);
  }
  return own | click << 8 | last << 16;
}

int32_t route_wheel(int32_t steps, uint32_t id, float x, float y, uint32_t flags) {
  if (!widget(id)) return 0;
  int32_t r = 0;
  if (uint32_t child = hit_test(id, x, y)) {
    const Widget* c = widget(child);
    r = route_wheel(steps, child, x - c->left, y - c->top, flags);
  }
  const Widget* w = widget(id);
  if ((r & 0xFFFF) == 0 && has_face(w) && !disabled(w)) {
    EventRecord record{id, x, y, 0, float(steps)};
    r = dispatch_event(evt::WHEEL, record, flags);
  }
  return r;
}

void init_event_loop() {
  set_input_sink(&g_sink);
  init_timers();
}

}  // namespace kel::gui

// ---- Around console output, and the pass `wait` runs ----

namespace kel::tui {

void suspend_for_print() {
  if (!gui::console().set_up) return;
  gui::Screen& sc = gui::screen();
  if (gui::console().full_screen) {
    // Printed text belongs on the main screen, where it stays.
    if (sc.screen_entered) gui::leave_alt_screen();
  } else {
    gui::erase_inline_display();
  }
  sc.something_shown = false;
  gui::restore_output_mode();
}

void resume_after_print() {
  if (!gui::console().set_up) return;
  gui::set_output_mode();
  gui::screen().redraw_needed = true;
  if (gui::console().full_screen) {
    if (gui::screen().screen_entered) gui::enter_alt_screen();
  } else {
    gui::ask_cursor_position();
  }
}

void event_pass() {
  if (gui::console().set_up) gui::do_events(true);
}

}  // namespace kel::tui
