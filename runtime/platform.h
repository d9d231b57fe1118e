// Platform layer over Linux: virtual memory, current directory, environment, time, sleep.
// Console output lives in runtime/output.h (same `platform` unit, separate file).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kel::platform {

// Sets up the platform layer (console output state). Called by runtime initialisation.
void init();

// Fresh zero-filled pages, read-write (and executable when asked).
// Throws Unwind{0x7FFFFFF7} when the system refuses.
void* virtual_alloc(size_t size, bool executable);
// Returns a region taken with virtual_alloc (the same size). Throws Unwind{0x7FFFFFF6} on failure.
void virtual_free(void* address, size_t size);
// Fresh zero-filled read-write pages starting at a 2 MB boundary, with transparent huge
// pages asked for (a hint: where the system gives none, ordinary pages). One fault then
// maps 2 MB instead of 4 KB. Freed with virtual_free; throws as virtual_alloc does.
void* virtual_alloc_huge(size_t size);
// Fresh zero-filled read-write pages mapped at once (one call instead of a fault per page),
// for blocks written whole as soon as they are made.
void* virtual_alloc_populated(size_t size);

// Current directory as UTF-8 (no trailing slash added); empty when it cannot be read.
std::string current_dir_text();
// Changes the current directory; true on success.
bool change_dir(const char* path);

// Environment. "Not set" (nullopt) differs from the empty text.
std::optional<std::string> read_env_var(std::string_view name);
// Sets name to value, or removes it when value is nullopt. An empty name, a name holding
// '=' or NUL, or a value holding NUL fail (false) and change nothing.
bool write_env_var(std::string_view name, std::optional<std::string_view> value);
// The folder the program's cache folder goes under: $XDG_CACHE_HOME when it is an absolute
// path, else the home folder's ".cache" (HOME when set and not empty, else the password
// entry's home), else "." (no home at all).
std::string cache_home();

// Seconds since midnight UTC; with `precise` the fraction in 100 ns steps is added.
double utc_time(bool precise);
// Today as the packed date word: year << 17 | month << 12 | day << 7 | zone
// (zone: bit 6 set west of UTC, bits 2-5 whole hours, bits 0-1 quarter hours).
uint32_t date_now(bool utc);
// Zone bits for an offset east of UTC in seconds.
uint32_t zone_bits(long offset_seconds);
// The local zone's offset east of UTC, in seconds, in effect at an instant (seconds since
// 1970, UTC); 0 when the system cannot place the instant.
long zone_offset_at(int64_t epoch_seconds);

// Sleeps for the given seconds: at least 1 ms (also for NaN and negative values); huge
// values are clamped; interrupted sleeps resume.
void sleep(double seconds);
// The milliseconds `sleep` waits for the given seconds.
uint64_t sleep_millis(double seconds);
// Longest wait: about 292 million years, so the millisecond count never overflows.
constexpr uint64_t MAX_SLEEP_MILLIS = uint64_t(1) << 53;
// Test seam: replaces the actual waiting (nullptr restores it).
using Sleeper = void (*)(uint64_t millis);
void set_sleeper(Sleeper s);

}  // namespace kel::platform
