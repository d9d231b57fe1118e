// Platform layer over Linux: mmap/munmap, getcwd/chdir, setenv/getenv, clock_gettime,
// localtime_r and nanosleep behind the runtime's platform calls.
#include "runtime/platform.h"

#include <errno.h>
#include <pwd.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/output.h"
#include "runtime/terminal.h"
#include "runtime/unwind.h"

namespace kel::platform {

void init() {
  init_console_output();
  terminal::init();
}

void* virtual_alloc(size_t size, bool executable) {
  int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
  void* p = size ? mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) : MAP_FAILED;
  if (p == MAP_FAILED) throw_code(unwind_code::VM_ALLOC_FAILED);
  return p;
}

void* virtual_alloc_huge(size_t size) {
  constexpr size_t HUGE_PAGE = size_t(2) << 20;
  if (!size || size > (size_t(1) << 46)) throw_code(unwind_code::VM_ALLOC_FAILED);
  // Over-map by one huge page less a page, then give back the ends around the boundary.
  size_t span = size + HUGE_PAGE - 4096;
  void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw_code(unwind_code::VM_ALLOC_FAILED);
  uintptr_t raw = reinterpret_cast<uintptr_t>(p);
  uintptr_t start = (raw + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
  if (start > raw) munmap(p, start - raw);
  uintptr_t end = start + size;
  if (raw + span > end) munmap(reinterpret_cast<void*>(end), raw + span - end);
  if (size >= HUGE_PAGE) madvise(reinterpret_cast<void*>(start), size & ~(HUGE_PAGE - 1), MADV_HUGEPAGE);
  return reinterpret_cast<void*>(start);
}

void* virtual_alloc_populated(size_t size) {
  void* p = size ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0)
                 : MAP_FAILED;
  if (p == MAP_FAILED) throw_code(unwind_code::VM_ALLOC_FAILED);
  return p;
}

void virtual_free(void* address, size_t size) {
  if (!address || !size || munmap(address, size) != 0) throw_code(unwind_code::VM_FREE_FAILED);
}

std::string current_dir_text() {
  std::string buf(256, '\0');
  for (;;) {
    if (getcwd(buf.data(), buf.size())) {
      buf.resize(std::strlen(buf.c_str()));
      return buf;
    }
    if (errno != ERANGE) return std::string();
    buf.resize(buf.size() * 2);
  }
}

bool change_dir(const char* path) { return path && chdir(path) == 0; }

namespace {
bool valid_env_name(std::string_view name) {
  return !name.empty() && name.find('=') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}
}  // namespace

std::optional<std::string> read_env_var(std::string_view name) {
  if (!valid_env_name(name)) return std::nullopt;
  const char* v = getenv(std::string(name).c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

bool write_env_var(std::string_view name, std::optional<std::string_view> value) {
  if (!valid_env_name(name)) return false;
  std::string n(name);
  if (!value) return unsetenv(n.c_str()) == 0;
  if (value->find('\0') != std::string_view::npos) return false;
  return setenv(n.c_str(), std::string(*value).c_str(), 1) == 0;
}

std::string cache_home() {
  std::optional<std::string> xdg = read_env_var("XDG_CACHE_HOME");
  if (xdg && !xdg->empty() && (*xdg)[0] == '/') return *xdg;
  std::optional<std::string> home = read_env_var("HOME");
  if (!home || home->empty()) {
    const passwd* entry = getpwuid(getuid());
    if (entry && entry->pw_dir && entry->pw_dir[0]) home = std::string(entry->pw_dir);
    else return ".";
  }
  return *home + "/.cache";
}

double utc_time(bool precise) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  double t = double(ts.tv_sec % 86400);
  if (precise) t += double(ts.tv_nsec / 100 * 100) / 1e9;
  return t;
}

uint32_t zone_bits(long offset_seconds) {
  long minutes = offset_seconds / 60;
  uint32_t sign = 0;
  if (minutes < 0) {
    sign = 0x40;
    minutes = -minutes;
  }
  uint32_t hours = uint32_t(minutes / 60) & 0xF;
  uint32_t quarters = uint32_t((minutes % 60) / 15);
  return sign | hours << 2 | quarters;
}

// tzset() looks at the zone file (a stat) on every call: it runs only when TZ changed, so
// a clock read many times a second (the profiler's) costs no system call.
static void refresh_zone() {
  static bool done = false;
  static std::string last;
  const char* tz = getenv("TZ");
  std::string now = tz ? std::string("=") + tz : std::string();
  if (done && now == last) return;
  tzset();
  last = std::move(now);
  done = true;
}

uint32_t date_now(bool utc) {
  time_t now = time(nullptr);
  tm t{};
  uint32_t zone = 0;
  if (utc) {
    gmtime_r(&now, &t);
  } else {
    refresh_zone();
    localtime_r(&now, &t);
    zone = zone_bits(t.tm_gmtoff);
  }
  uint32_t year = uint32_t(t.tm_year + 1900), month = uint32_t(t.tm_mon + 1), day = uint32_t(t.tm_mday);
  return year << 17 | month << 12 | day << 7 | zone;
}

long zone_offset_at(int64_t epoch_seconds) {
  time_t at = time_t(epoch_seconds);
  if (int64_t(at) != epoch_seconds) return 0;
  tm t{};
  refresh_zone();
  if (!localtime_r(&at, &t)) return 0;
  return t.tm_gmtoff;
}

uint64_t sleep_millis(double seconds) {
  double ms = seconds * 1000.0;
  if (!(ms >= 1.0)) return 1;  // below 1 ms, negative and NaN alike
  if (ms >= double(MAX_SLEEP_MILLIS)) return MAX_SLEEP_MILLIS;
  return uint64_t(ms);
}

namespace {
void real_sleep(uint64_t millis) {
  // Chunks of one day keep every timespec small; EINTR resumes with the remainder.
  constexpr uint64_t CHUNK = 86'400'000;
  while (millis) {
    uint64_t part = millis < CHUNK ? millis : CHUNK;
    millis -= part;
    timespec req{time_t(part / 1000), long(part % 1000) * 1'000'000L}, rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
  }
}
Sleeper g_sleeper = real_sleep;
}  // namespace

void set_sleeper(Sleeper s) { g_sleeper = s ? s : real_sleep; }

void sleep(double seconds) { g_sleeper(sleep_millis(seconds)); }

}  // namespace kel::platform
