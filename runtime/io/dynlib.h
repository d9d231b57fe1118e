// Shared libraries opened at their first use instead of linked, so that a start-up neither
// loads nor relocates them: a library's entry points resolved by name into function pointers.
#pragma once

#include <dlfcn.h>

namespace kel::dynlib {

// Opens the library by soname; each call sets one function pointer, and ok() says whether the
// library and every entry point asked for were found.
class Binder {
 public:
  explicit Binder(const char* soname)
      : lib_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)), ok_(lib_ != nullptr) {}

  template <class Fn>
  void operator()(Fn& fn, const char* name) {
    void* p = lib_ ? dlsym(lib_, name) : nullptr;
    if (!p) ok_ = false;
    fn = reinterpret_cast<Fn>(p);
  }

  bool ok() const { return ok_; }

 private:
  void* lib_;
  bool ok_;
};

}  // namespace kel::dynlib
