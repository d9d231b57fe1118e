// Terminal input of the GUI backend: bytes from standard input into a queue, decoded once
// per pass into keys, mouse reports and cursor reports handed to a sink.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::gui {

// Where decoded input goes: the event makers and the routing of the event loop. Each call
// may run handlers that reset the queue; the decoder re-reads its place afterwards.
struct InputSink {
  // The key maker (no widget: the focused one): a character, or a special key code.
  void (*key)(int32_t character, int32_t special);
  void (*mouse_button)(int32_t type, float x, float y, uint32_t flags);
  void (*route_over)(int32_t type, float x, float y, uint32_t flags);
  void (*route_wheel)(int32_t steps, float x, float y, uint32_t flags);
  // Mouse reports count only while a window is active.
  bool (*active_window)();
  // The screen's answer to a new terminal size while the console is set up.
  void (*terminal_resized)(int32_t columns, int32_t rows);
};
void set_input_sink(const InputSink* sink);

// Event codes and flag bits the decoder hands on.
constexpr int32_t EVT_OVER = 12;
constexpr uint32_t FLAG_DOWN = 0x02000000;
constexpr uint32_t FLAG_CONTROL = 0x10000000;
constexpr uint32_t FLAG_SHIFT = 0x20000000;
constexpr uint32_t FLAG_ALT = 0x40000000;

// Reads what standard input (a terminal only) has: the bytes read, plus 1 for a size change
// (which runs resize_console). queue false drops the bytes. 0 when nothing was there, when
// standard input is not a terminal (its input is never consumed) or on a failure.
int32_t poll_console(bool queue);
// Decodes the queue from the read position (one pass).
void decode_input();
void reset_input();
void queue_char(int32_t cp);
void queue_byte(uint8_t byte);
bool input_exhausted_q();

// The pieces of a pass, for the loop and the tests.
void decode_key(const uint8_t* sequence, size_t length, uint8_t final_byte);
void cursor_report(int32_t row, int32_t column);
void mouse_report(bool release, int32_t b, int32_t x, int32_t y);
// Reads the size again, stores it into the first screen face's `size`, and tells the screen
// when the console is set up.
void resize_console();

// Queue state (tests).
size_t queued_count();
size_t read_position();  // 1-based
bool incomplete_q();
// Whether the last mouse button report was a release (shared with the event loop).
bool& last_button_release();

}  // namespace kel::gui
