// The runtime evaluator that case files run against: each input is loaded and evaluated as
// typed at the console, its result molded, its printed output captured.
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "case_file.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::cases {

namespace {

// Category and id names by catalogue position, read from the embedded catalogue text.
struct Catalogue {
  std::vector<std::string> categories;
  std::vector<std::vector<std::string>> fields;  // per category: code, type, ids...
};

const Catalogue& catalogue() {
  static Catalogue c = [] {
    Catalogue out;
    std::string t = error::catalogue_text();
    size_t i = 0, n = t.size();
    int depth = 0;
    bool in_errors = false;  // the header's fields are no categories
    while (i < n) {
      char ch = t[i];
      if (ch == ';') {
        while (i < n && t[i] != '\n') ++i;
      } else if (ch == '"') {
        ++i;
        while (i < n && t[i] != '"') i += t[i] == '^' ? 2 : 1;
        ++i;
      } else if (ch == '{') {
        int d = 0;
        do {
          if (t[i] == '{') ++d;
          if (t[i] == '}') --d;
          ++i;
        } while (i < n && d > 0);
      } else if (ch == '[') {
        ++depth;
        ++i;
      } else if (ch == ']') {
        --depth;
        ++i;
      } else if (isspace(static_cast<unsigned char>(ch))) {
        ++i;
      } else {
        size_t j = i;
        while (j < n && !isspace(static_cast<unsigned char>(t[j])) && t[j] != '[' && t[j] != ']' && t[j] != '"')
          ++j;
        std::string tok = t.substr(i, j - i);
        if (tok == "errors:" && depth == 0) in_errors = true;
        if (in_errors && !tok.empty() && tok.back() == ':') {
          tok.pop_back();
          if (depth == 1 && tok != "errors") {
            out.categories.push_back(tok);
            out.fields.emplace_back();
          } else if (depth == 2 && !out.fields.empty()) {
            out.fields.back().push_back(tok);
          }
        }
        i = j;
      }
    }
    return out;
  }();
  return c;
}

std::string error_name(uint32_t category, uint32_t id) {
  const Catalogue& c = catalogue();
  std::string name = category < c.categories.size() ? c.categories[category] : "?";
  std::string idn = "?";
  if (category < c.fields.size() && id < c.fields[category].size())
    idn = c.fields[category][id];
  return name + "/" + idn;
}

std::string to_utf8(Cell* s) {
  std::string out;
  int32_t n = string::count_from_head(s);
  for (int32_t i = 0; i < n; ++i) {
    uint8_t buf[4];
    int k = unicode::encode_utf8_raw(uint32_t(string::codepoint_at(s, i)), buf);
    out.append(reinterpret_cast<char*>(buf), size_t(k));
  }
  return out;
}

struct Capture {
  int fd;
  int saved;
  Capture() : fd(memfd_create("kel-cases", 0)), saved(platform::output_fd()) {
    platform::set_output_fd(fd);
  }
  ~Capture() {
    platform::set_output_fd(saved);
    close(fd);
  }
  std::string take() {
    std::string s;
    char buf[8192];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
    return s;
  }
};

Outcome evaluate(std::string_view input) {
  Outcome o;
  Cell* mark = stack::state().top;
  Cell* block = stack::reserve_cell();
  *block = Cell{T_NONE, 0, 0, 0};
  Cell* result = stack::reserve_cell();
  *result = Cell{T_NONE, 0, 0, 0};
  bool is_error = false;
  {
    Capture cap;
    stack::push_try_frame(&interp::words.body);
    uint32_t code = stack::land(unwind_code::ERROR, [&] {
      launcher::load_text(reinterpret_cast<const uint8_t*>(input.data()), int32_t(input.size()),
                          block);
    });
    if (code) {
      stack::take_pending_code();
      stack::take_caught_error();
      *result = *stack::state().base;
      is_error = true;
    } else {
      stack::pop_frame();
      launcher::run_protected(block, result, &is_error);
    }
    if (!is_error && cell::type(result) != T_UNSET) {
      stack::push_try_frame(&interp::words.body);
      uint32_t c2 = stack::land(unwind_code::ERROR, [&] {
        // The console forms float! results and molds everything else.
        Cell* s = cell::type(result) == T_FLOAT ? actions::form(result, nullptr)
                                                : actions::mold(result, false, false, false, nullptr);
        o.molded = to_utf8(s);
      });
      if (c2) {
        stack::take_pending_code();
        stack::take_caught_error();
        *result = *stack::state().base;
        is_error = true;
      } else {
        stack::pop_frame();
        o.has_value = true;
      }
    }
    o.printed = cap.take();
  }
  if (is_error) {
    o.error = true;
    o.has_value = false;
    // category * 100 + catalogue position. The provisional carrier (no context) keeps that
    // in w2; an error object's code field is category * 100 + position - 2.
    uint32_t code = result->w2;
    if (cell::type(result) == T_ERROR && result->w1 != 0)
      code = uint32_t(cell::get_int(object::values_start(result) + error::field::CODE)) + 2;
    o.error_id = error_name(code / 100, code % 100);
  }
  stack::state().top = mark;
  return o;
}

}  // namespace

Evaluator runtime_evaluator() { return &evaluate; }

}  // namespace kel::cases
