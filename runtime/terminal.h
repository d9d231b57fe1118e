// The Linux terminal layer shared by the line editor and the GUI backend: raw mode and its
// restore on every exit path, the window size and its change signal, waiting and reading fd 0.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::terminal {

// Installs the signal handlers (SIGWINCH; SIGTERM, SIGHUP and SIGQUIT restore the terminal,
// then take their default action), the resize pipe and the restore hook. Idempotent.
void init();

// Standard input and output are both terminals and TERM is not "dumb": the line editor edits.
bool console_q();
// Standard input is a terminal (the GUI's test).
bool stdin_tty_q();

// Raw input. The editor blocks for one byte (VMIN 1); the GUI reads what is there (VMIN 0).
// Both clear ICANON ECHO ISIG IEXTEN and IXON ICRNL INLCR (the editor also IGNCR, the GUI
// BRKINT) and keep OPOST. The modes before the first entry are saved once and put back by
// leave_raw and by every exit path. false when fd 0 is not a terminal or refuses.
enum class Raw { Editor, Gui };
bool enter_raw(Raw mode);
void leave_raw();
bool raw_q();

// Screen states the GUI turns on; the exit restore turns each one off again.
constexpr unsigned SCREEN_MOUSE = 1;       // mouse reporting
constexpr unsigned SCREEN_ALTERNATE = 2;   // alternate screen
constexpr unsigned SCREEN_ATTRIBUTES = 4;  // colours or attributes set
constexpr unsigned SCREEN_CURSOR_HIDDEN = 8;
void set_screen_state(unsigned bits, bool on);
unsigned screen_state();
// What the exit restore writes for the given screen states (at most 64 bytes).
size_t restore_bytes(unsigned states, char* out);
// The restore hook: the screen states off, then the saved modes. Async-signal-safe.
void restore();

// Columns and rows of the terminal on fd 1; false when the query fails or gives 0.
bool read_size(int* columns, int* rows);
// True once after each window size change (SIGWINCH).
bool take_resize();
bool resize_pending_q();

// What wait saw: bits, 0 when the time ran out.
constexpr int WAIT_INPUT = 1;   // fd 0 has bytes (or its end)
constexpr int WAIT_RESIZE = 2;  // the window size changed
constexpr int WAIT_HANGUP = 4;  // fd 0 hung up or failed; it is not polled again
// Waits up to ms milliseconds (negative: no limit) for input on fd 0 (a terminal only) or a
// size change. EINTR recomputes the time left; a hung-up fd 0 is dropped from the poll.
int wait(int64_t ms);
// fd 0 hung up during an earlier wait.
bool input_hung_up_q();
// One read of fd 0 of at most n bytes (EINTR resumed): bytes read, 0 at the end, -1 on error.
int64_t read_input(uint8_t* buffer, size_t n);
// Monotonic milliseconds.
int64_t now_ms();

}  // namespace kel::terminal
