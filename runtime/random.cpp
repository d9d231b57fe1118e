// The twisted generator (MT19937 structure, right shifts sign-propagating), the secure
// source over getrandom(2), and the uniform pick.
#include "runtime/random.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "runtime/rt.h"

namespace kel::random {

namespace {

constexpr int N = 624;
constexpr int M = 397;

struct Generator {
  int32_t w[N];
  int index = N;
};
Generator g_gen;

inline int32_t sar(int32_t v, int s) { return v >> s; }  // arithmetic (C++20)
inline int32_t wrap(uint32_t v) { return int32_t(v); }

void regenerate() {
  int32_t* w = g_gen.w;
  for (int k = 0; k < N - 1; ++k) {
    int32_t y = wrap((uint32_t(w[k]) & 0x80000000u) | (uint32_t(w[k + 1]) & 0x7FFFFFFFu));
    uint32_t v = uint32_t(w[(k + M) % N]) ^ uint32_t(sar(y, 1));
    if (w[k + 1] & 1) v ^= 0x9908B0DFu;
    w[k] = wrap(v);
  }
  int32_t y = wrap((uint32_t(w[N - 1]) & 0x80000000u) | (uint32_t(w[0]) & 0x7FFFFFFFu));
  uint32_t v = uint32_t(w[M - 1]) ^ uint32_t(sar(y, 1));
  if (w[0] & 1) v ^= 0x9908B0DFu;
  w[N - 1] = wrap(v);
  g_gen.index = 0;
}

// The operating system's source when getrandom(2) is missing.
bool urandom_bytes(void* out, size_t n) {
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, static_cast<char*>(out) + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += size_t(r);
  }
  ::close(fd);
  return got == n;
}

}  // namespace

void init() { seed(19650218); }

void seed(int32_t s) {
  int32_t* w = g_gen.w;
  w[0] = s;
  for (int i = 1; i < N; ++i) {
    uint32_t prev = uint32_t(w[i - 1]) ^ uint32_t(sar(w[i - 1], 30));
    w[i] = wrap(uint32_t(i) + 1812433253u * prev);
  }
  g_gen.index = 0;
}

int32_t next_word() {
  if (g_gen.index >= N) regenerate();
  int32_t y = g_gen.w[g_gen.index++];
  y ^= sar(y, 11);
  y ^= wrap((uint32_t(y) << 7) & 0x9D2C5680u);
  y ^= wrap((uint32_t(y) << 15) & 0xEFC60000u);
  y ^= sar(y, 18);
  return y;
}

int32_t secure_31() {
  uint32_t v = 0;
  for (;;) {
    ssize_t r = ::getrandom(&v, sizeof v, 0);
    if (r == ssize_t(sizeof v)) break;
    if (r < 0 && errno == EINTR) continue;
    if (urandom_bytes(&v, sizeof v)) break;
    rt::fatal_error(33, 0);  // no source of secure random bytes at all
  }
  return int32_t(v & 0x7FFFFFFFu);
}

int32_t pick_1_to_n(bool secure, int32_t n) {
  if (n == 0) return 0;
  auto draw = [secure] { return secure ? secure_31() : next_word(); };
  if (n == INT32_MIN) return -1 - draw();
  int32_t m = n > 0 ? n : -n;
  int32_t limit = (2147483647 / m) * m;
  int32_t d;
  do d = draw();
  while (d >= limit);
  return n > 0 ? d % m + 1 : -(d % m) - 1;
}

}  // namespace kel::random
