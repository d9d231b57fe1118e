// Platform layer: virtual memory and its throw codes, current directory, environment,
// time of day, the packed date word with its zone, and sleep.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "runtime/platform.h"
#include "runtime/unwind.h"

namespace platform = kel::platform;

namespace {
uint32_t thrown_code(void (*f)()) {
  try {
    f();
  } catch (const kel::Unwind& u) {
    return u.code;
  }
  return 0;
}
}  // namespace

TEST(Platform, VirtualMemory) {
  size_t size = 1 << 20;
  auto* p = static_cast<uint8_t*>(platform::virtual_alloc(size, false));
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[size - 1], 0);
  p[size - 1] = 7;
  platform::virtual_free(p, size);
  void* x = platform::virtual_alloc(4096, true);
  platform::virtual_free(x, 4096);

  EXPECT_EQ(thrown_code([] { platform::virtual_alloc(0, false); }), 0x7FFFFFF7u);
  EXPECT_EQ(thrown_code([] { platform::virtual_alloc(size_t(1) << 62, false); }), 0x7FFFFFF7u);
  EXPECT_EQ(thrown_code([] { platform::virtual_free(nullptr, 4096); }), 0x7FFFFFF6u);
  EXPECT_EQ(thrown_code([] { platform::virtual_free(reinterpret_cast<void*>(0x1001), 4096); }),
            0x7FFFFFF6u);
}

TEST(Platform, CurrentDirectory) {
  std::string start = platform::current_dir_text();
  ASSERT_FALSE(start.empty());
  // A path longer than the first guess of the buffer makes it grow.
  char tmpl[] = "/tmp/kel-cwd-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string deep = tmpl;
  for (int i = 0; i < 6; ++i) {
    deep += "/" + std::string(60, char('a' + i)) + "\xC3\xA9";
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  EXPECT_TRUE(platform::change_dir(deep.c_str()));
  EXPECT_EQ(platform::current_dir_text(), deep);
  EXPECT_FALSE(platform::change_dir("/no/such/kel/dir"));
  EXPECT_EQ(platform::current_dir_text(), deep);
  EXPECT_TRUE(platform::change_dir(start.c_str()));
  std::string cmd = "rm -rf " + std::string(tmpl);
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST(Platform, Environment) {
  using std::string_view;
  EXPECT_TRUE(platform::write_env_var("KEL_TEST_VAR", string_view("")));
  ASSERT_TRUE(platform::read_env_var("KEL_TEST_VAR").has_value());
  EXPECT_EQ(*platform::read_env_var("KEL_TEST_VAR"), "");
  EXPECT_TRUE(platform::write_env_var("KEL_TEST_VAR", string_view("v\xC3\xA9")));
  EXPECT_EQ(*platform::read_env_var("KEL_TEST_VAR"), "v\xC3\xA9");
  // Bad names and values fail and change nothing.
  EXPECT_FALSE(platform::write_env_var("", string_view("x")));
  EXPECT_FALSE(platform::write_env_var("A=B", string_view("x")));
  EXPECT_FALSE(platform::write_env_var(string_view("KEL_TEST_VAR\0X", 14), string_view("x")));
  EXPECT_FALSE(platform::write_env_var("KEL_TEST_VAR", string_view("a\0b", 3)));
  EXPECT_EQ(*platform::read_env_var("KEL_TEST_VAR"), "v\xC3\xA9");
  EXPECT_FALSE(platform::read_env_var("A=B").has_value());
  EXPECT_TRUE(platform::write_env_var("KEL_TEST_VAR", std::nullopt));
  EXPECT_FALSE(platform::read_env_var("KEL_TEST_VAR").has_value());
}

TEST(Platform, UtcTime) {
  double coarse = platform::utc_time(false);
  double fine = platform::utc_time(true);
  time_t now = time(nullptr);
  EXPECT_EQ(coarse, std::floor(coarse));
  EXPECT_GE(coarse, 0.0);
  EXPECT_LT(fine, 86400.0);
  double expected = double(now % 86400);
  double diff = std::fmod(fine - expected + 86400.0, 86400.0);
  EXPECT_LE(std::min(diff, 86400.0 - diff), 2.0);  // also right at midnight
  double ticks = fine * 1e7;
  EXPECT_LT(std::fabs(ticks - std::round(ticks)), 0.01);  // 100 ns steps
}

TEST(Platform, DateNowZones) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  struct { const char* tz; uint32_t zone; } cases[] = {
      {"IST-5:30", 0x16}, {"BRT3", 0x4C}, {"NPT-5:45", 0x17}, {"UTC0", 0}, {"XST+11:15", 0x40 | 11 << 2 | 1},
  };
  for (auto& c : cases) {
    setenv("TZ", c.tz, 1);
    tzset();
    uint32_t d = platform::date_now(false);
    EXPECT_EQ(d & 0x7F, c.zone) << c.tz;
    time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    EXPECT_EQ(d >> 17, uint32_t(t.tm_year + 1900));
    EXPECT_EQ((d >> 12) & 0xF, uint32_t(t.tm_mon + 1));
    EXPECT_EQ((d >> 7) & 0x1F, uint32_t(t.tm_mday));
    EXPECT_EQ(d & 0x10000, 0u);
  }
  setenv("TZ", "IST-5:30", 1);
  EXPECT_EQ(platform::date_now(true) & 0x7F, 0u);  // UTC has zone 0
  if (old) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

TEST(Platform, SleepMillis) {
  struct { double seconds; uint64_t ms; } cases[] = {
      {0, 1}, {0.0004, 1}, {1.9999, 1999}, {NAN, 1}, {-3, 1}, {-INFINITY, 1},
      {1e300, platform::MAX_SLEEP_MILLIS}, {INFINITY, platform::MAX_SLEEP_MILLIS}, {2.5, 2500},
  };
  for (auto& c : cases) EXPECT_EQ(platform::sleep_millis(c.seconds), c.ms) << c.seconds;
}

namespace {
uint64_t g_slept = 0;
void record_sleep(uint64_t ms) { g_slept = ms; }
void on_alarm(int) {}
}  // namespace

TEST(Platform, SleepIsInjectableAndResumesAfterSignals) {
  platform::set_sleeper(record_sleep);
  platform::sleep(1e300);
  EXPECT_EQ(g_slept, platform::MAX_SLEEP_MILLIS);
  platform::sleep(NAN);
  EXPECT_EQ(g_slept, 1u);
  platform::set_sleeper(nullptr);

  struct sigaction sa {}, old {};
  sa.sa_handler = on_alarm;  // no SA_RESTART: nanosleep sees EINTR
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, &old);
  itimerval every{{0, 3000}, {0, 3000}}, off{};
  setitimer(ITIMER_REAL, &every, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  platform::sleep(0.05);
  auto elapsed = std::chrono::steady_clock::now() - t0;
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_GE(elapsed, std::chrono::milliseconds(50));
}
