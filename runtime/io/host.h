// Host services: the command line as text, the environment as a map, the operating system's
// description, and child processes with their redirections and captured output.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace kel::host {

// The process's arguments joined by spaces, items holding blanks in double quotes.
std::string command_line_text();
// A new string! on the stack with that text.
Cell* command_line_string();
// A new map! on the stack of the environment's names and values (strings).
Cell* environment_map();
// A new object! on the stack: name (string!), arch (word!), version (tuple! of three),
// build (integer!).
Cell* os_description();

// The OS facts behind os_description, from the os-release text and uname's fields.
struct OsFacts {
  std::string name;
  std::string arch;
  int32_t version[3];
  int32_t build;
};
OsFacts os_facts(const std::string& os_release, const std::string& machine,
                 const std::string& release);
// The items of a command line, split as the boot arguments are: blanks outside double
// quotes end an item, one quote at each end of an item is removed.
std::vector<std::string> split_command(const std::string& text);

// Runs a program. in, out, err: string!, binary! or file! cells (null when not given).
// Answers the exit status (128 + signal when killed) when waiting, the pid when not, -1
// when it could not start.
int32_t call(const std::string& command, bool wait, bool console, bool shell, Cell* in,
             Cell* out, Cell* err);
// Opens the file or URL with the desktop's opener, without a shell; its answer is ignored.
void browse(const std::string& target);

// Start-up step: registers the host routines.
void make_conversion_buffer();

}  // namespace kel::host
