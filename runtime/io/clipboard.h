// The clipboard behind read-clipboard and write-clipboard: wl-paste/wl-copy under Wayland,
// xclip under X11 (each run bounded to 2 s), else a clipboard private to the process.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace kel::clipboard {

// Reads into out: false when the clipboard cannot be opened, none when it holds nothing
// readable, else a string!, a block of file! values or an image!.
void read(Cell* out);
// Writes a string!, a block of file! and string! paths, an image! or none (which empties
// the clipboard); true on success. Other values raise script/invalid-arg.
bool write(const Cell* value);

// The routines read-clipboard and write-clipboard, on the current frame.
void read_routine();
void write_routine();

// ---- Pieces shared with the tests ----

// file:// URIs of absolute paths, percent-encoded, each ended by CR LF; and back (entries
// that are not file URIs are skipped).
std::string paths_to_uri_list(const std::vector<std::string>& paths);
std::vector<std::string> uri_list_to_paths(const std::string& list);

}  // namespace kel::clipboard
