// Start-up sequence and process-level fault handling: signal handlers, the evaluation thread
// (own mmap'd stack with a guard region), FP mode and the top frame.
#include "runtime/startup.h"

#include <fenv.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <initializer_list>
#include <new>

#include "runtime/init.h"
#include "runtime/rt.h"
#include "runtime/unwind.h"

namespace kel::rt {

namespace {
int g_argc = 0;
char** g_argv = nullptr;
StackBounds g_eval_stack{0, 0, 0, 0};
uintptr_t g_stack_bottom = 0;
constexpr size_t ALT_STACK_SIZE = 64 * 1024;

void on_fault(int signo, siginfo_t* info, void* context) {
  enter_signal_context();
  uint32_t code = signal_fatal_code(signo, info->si_code, reinterpret_cast<uintptr_t>(info->si_addr));
  uintptr_t address = 0;
  if (context) address = uintptr_t(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
  if (!address) address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  fatal_error(code, address);
}

void on_interrupt(int) {
  // An interrupted run must not report success.
  enter_signal_context();
  run_terminal_restore_hooks();
  _exit(130);
}

void install_alt_stack() {
  void* mem = mmap(nullptr, ALT_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mem == MAP_FAILED) return;  // faults then die without a report, but still die
  stack_t ss{};
  ss.ss_sp = mem;
  ss.ss_size = ALT_STACK_SIZE;
  sigaltstack(&ss, nullptr);
}
}  // namespace

void init_process(int argc, char** argv) {
  g_argc = argc;
  g_argv = argv;  // the system hands arguments as bytes; UTF-8 by convention
  struct sigaction sa {};
  sa.sa_sigaction = on_fault;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(s, &sa, nullptr);
  struct sigaction ign {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  sigaction(SIGPIPE, &ign, nullptr);
  struct sigaction in {};
  in.sa_handler = on_interrupt;
  sigemptyset(&in.sa_mask);
  sigaction(SIGINT, &in, nullptr);
  install_alt_stack();
}

int arg_count() { return g_argc; }
char** arg_values() { return g_argv; }

uint32_t signal_fatal_code(int signo, int si_code, uintptr_t fault_address) {
  switch (signo) {
    case SIGFPE:
      switch (si_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
      }
    case SIGSEGV:
      if (fault_address >= g_eval_stack.guard_low && fault_address < g_eval_stack.guard_high) return 19;
      return 1;
    case SIGBUS:
      switch (si_code) {
        case BUS_ADRALN: return 2;
        case BUS_ADRERR: return 27;
        case BUS_OBJERR: return 28;
        case BUS_MCEERR_AR: return 29;
        case BUS_MCEERR_AO: return 30;
        default: return 34;
      }
    case SIGILL:
      switch (si_code) {
        case ILL_ILLOPC: return 17;
        case ILL_ILLOPN: return 23;
        case ILL_ILLADR: return 24;
        case ILL_ILLTRP: return 25;
        case ILL_PRVOPC: return 15;
        case ILL_PRVREG: return 31;
        case ILL_COPROC: return 26;
        case ILL_BADSTK: return 19;
        default: return 17;
      }
    default:
      return 99;
  }
}

void set_fp_mode() {
  asm volatile("fninit");
  uint16_t cw = 0x027F;  // all exceptions masked, 53-bit precision, round to nearest
  asm volatile("fldcw %0" : : "m"(cw));
  uint32_t csr = 0x1F80;  // SSE: all exceptions masked, round to nearest, no flush-to-zero
  asm volatile("ldmxcsr %0" : : "m"(csr));
  fesetround(FE_TONEAREST);
}

StackBounds evaluation_stack() { return g_eval_stack; }
uintptr_t machine_stack_bottom() { return g_stack_bottom; }
void record_machine_stack_bottom() { g_stack_bottom = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)); }

int run_top_frame(int (*body)(void*), void* arg) {
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  try {
    return body(arg);
  } catch (const Unwind&) {
    fatal_error(95, here);
  } catch (const std::bad_alloc&) {
    fatal_error(94, here);
  } catch (...) {
    fatal_error(99, here);
  }
}

namespace {
struct ThreadJob {
  int (*body)(void*);
  void* arg;
  int result;
};

void* evaluation_main(void* p) {
  auto* job = static_cast<ThreadJob*>(p);
  install_alt_stack();
  set_fp_mode();
  job->result = run_top_frame(job->body, job->arg);
  return nullptr;
}
}  // namespace

int run_on_evaluation_thread(int (*body)(void*), void* arg) {
  size_t total = EVAL_STACK_SIZE + EVAL_GUARD_SIZE;
  void* mem = mmap(nullptr, total, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (mem == MAP_FAILED) fatal_error(94, 0);
  auto base = reinterpret_cast<uintptr_t>(mem);
  mprotect(mem, EVAL_GUARD_SIZE, PROT_NONE);  // the stack grows down into this
  g_eval_stack = {base + EVAL_GUARD_SIZE, base + total, base, base + EVAL_GUARD_SIZE};

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstack(&attr, reinterpret_cast<void*>(base + EVAL_GUARD_SIZE), EVAL_STACK_SIZE);
  ThreadJob job{body, arg, 0};
  pthread_t thread;
  if (pthread_create(&thread, &attr, evaluation_main, &job) != 0) fatal_error(94, 0);
  pthread_attr_destroy(&attr);
  pthread_join(thread, nullptr);
  g_eval_stack = {0, 0, 0, 0};
  munmap(mem, total);
  return job.result;
}

}  // namespace kel::rt

namespace kel::boot {

namespace {
LaunchFn g_launch = nullptr;

int start_on_evaluation_thread(void*) {
  runtime::init_units();
  rt::record_machine_stack_bottom();
  runtime::init();
  runtime::run_boot_library();
  runtime::call_launch(g_launch);
  rt::fatal_error(0, 0);
}
}  // namespace

void start(int argc, char** argv, LaunchFn launch) {
  rt::init_process(argc, argv);
  g_launch = launch;
  rt::run_on_evaluation_thread(start_on_evaluation_thread, nullptr);
  rt::fatal_error(0, 0);  // not reached: the evaluation thread ends the process
}

}  // namespace kel::boot
