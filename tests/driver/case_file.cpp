// Case-file reader, outcome matching and the runner that reports `file:line` failures.
// Also the small fake evaluator that the driver's self-test runs against.
#include "case_file.h"

#include <charconv>
#include <map>

namespace kel::cases {

namespace {
std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Kel's own escapes for line ends: ^/ is a line feed, ^^ a caret.
std::string decode_printed(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '^' && i + 1 < s.size() && (s[i + 1] == '/' || s[i + 1] == '^')) {
      out.push_back(s[i + 1] == '/' ? '\n' : '^');
      ++i;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string encode_printed(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += "^/";
    else if (c == '^') out += "^^";
    else out.push_back(c);
  }
  return out;
}
}  // namespace

bool split_case(std::string_view line, std::string* input, std::string* expected) {
  // The separator is " =>" followed by a space or the line end, outside "..." and {...} strings
  // (^ escapes the next character in them): the first one outside [...] and (...) too, else
  // the first one at all (inputs with an unclosed block still split).
  int braces = 0, depth = 0;
  bool quoted = false;
  size_t first = std::string_view::npos, outside = std::string_view::npos;
  for (size_t i = 0; i < line.size() && outside == std::string_view::npos; ++i) {
    char c = line[i];
    if (quoted || braces) {
      if (c == '^') ++i;
      else if (quoted && c == '"') quoted = false;
      else if (!quoted && c == '{') ++braces;
      else if (!quoted && c == '}') --braces;
      continue;
    }
    if (c == '"') quoted = true;
    else if (c == '{') braces = 1;
    else if (c == '[' || c == '(') ++depth;
    else if (c == ']' || c == ')') --depth;
    else if (c == ' ' && line.substr(i + 1, 2) == "=>" &&
             (i + 3 == line.size() || line[i + 3] == ' ')) {
      if (first == std::string_view::npos) first = i;
      if (depth == 0) outside = i;
    }
  }
  size_t at = outside != std::string_view::npos ? outside : first;
  if (at == std::string_view::npos) return false;
  *input = std::string(trim(line.substr(0, at)));
  *expected = std::string(trim(line.substr(std::min(at + 3, line.size()))));
  return !input->empty();
}

CaseFile read_cases(std::string_view text) {
  CaseFile f;
  int line_no = 0;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++line_no;
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';') continue;
    std::string input, expected;
    if (!split_case(t, &input, &expected)) {
      f.errors.push_back({line_no, std::string(t)});
      continue;
    }
    Case c{line_no, input, Expect::MOLDED, expected};
    if (expected.empty()) {
      c.kind = Expect::NOTHING;
    } else if (expected.rfind("!!", 0) == 0) {
      c.kind = Expect::ERROR;
      c.expected = std::string(trim(std::string_view(expected).substr(2)));
    } else if (expected.rfind("prints:", 0) == 0) {
      c.kind = Expect::PRINTS;
      c.expected = decode_printed(trim(std::string_view(expected).substr(7)));
    }
    f.cases.push_back(std::move(c));
  }
  return f;
}

bool matches(const Case& c, const Outcome& o) {
  switch (c.kind) {
    case Expect::MOLDED: return !o.error && o.has_value && o.molded == c.expected;
    case Expect::ERROR: return o.error && o.error_id == c.expected;
    case Expect::PRINTS: {
      std::string_view p = o.printed;
      if (!p.empty() && p.back() == '\n') p.remove_suffix(1);
      return !o.error && p == c.expected;
    }
    case Expect::NOTHING: return !o.error && !o.has_value && o.printed.empty();
  }
  return false;
}

std::string describe(const Outcome& o) {
  std::string s;
  if (o.error) s = "!! " + o.error_id;
  else if (o.has_value) s = o.molded;
  else if (o.printed.empty()) s = "(nothing)";
  if (!o.printed.empty()) s += (s.empty() ? "" : "  ") + std::string("prints: ") + encode_printed(o.printed);
  return s;
}

namespace {
std::string describe_expected(const Case& c) {
  switch (c.kind) {
    case Expect::MOLDED: return c.expected;
    case Expect::ERROR: return "!! " + c.expected;
    case Expect::PRINTS: return "prints: " + encode_printed(c.expected);
    case Expect::NOTHING: return "(nothing)";
  }
  return "";
}
}  // namespace

int run_cases(const std::string& path, const CaseFile& file, Evaluator eval, std::ostream& out) {
  int failures = 0;
  for (auto& e : file.errors) {
    out << path << ":" << e.line << ": not a case (no ` => ` outside strings): " << e.text << "\n";
    ++failures;
  }
  for (auto& c : file.cases) {
    Outcome o = eval(c.input);
    if (matches(c, o)) continue;
    ++failures;
    out << path << ":" << c.line << ": " << c.input << "\n    expected: " << describe_expected(c)
        << "\n    got:      " << describe(o) << "\n";
    out.flush();
  }
  return failures;
}

// The fake evaluator: integers, `a + b`, `a / b`, `print "text"`, `word: value`, `word`,
// `comment "..."` (no result). Enough to drive every branch of the runner.
namespace {
std::map<std::string, long> g_vars;

bool to_int(std::string_view s, long* v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}
bool value_of(std::string_view s, long* v) {
  if (to_int(s, v)) return true;
  auto it = g_vars.find(std::string(s));
  if (it == g_vars.end()) return false;
  *v = it->second;
  return true;
}
}  // namespace

void fake_reset() { g_vars.clear(); }

Outcome fake_evaluate(std::string_view input) {
  Outcome o;
  auto fail = [&](const char* id) {
    o.error = true;
    o.error_id = id;
    return o;
  };
  auto value = [&](long v) {
    o.has_value = true;
    o.molded = std::to_string(v);
    return o;
  };
  std::string_view in = trim(input);
  if (in.rfind("print ", 0) == 0) {
    std::string_view arg = trim(in.substr(6));
    if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') {
      o.printed = std::string(arg.substr(1, arg.size() - 2)) + "\n";
      return o;
    }
    long v;
    if (!value_of(arg, &v)) return fail("script/no-value");
    o.printed = std::to_string(v) + "\n";
    return o;
  }
  if (in.rfind("comment ", 0) == 0) return o;
  size_t colon = in.find(": ");
  if (colon != std::string_view::npos) {
    long v;
    if (!value_of(trim(in.substr(colon + 2)), &v)) return fail("script/no-value");
    g_vars[std::string(in.substr(0, colon))] = v;
    return value(v);
  }
  for (char op : {'+', '/'}) {
    size_t at = in.find(std::string(" ") + op + " ");
    if (at == std::string_view::npos) continue;
    long a, b;
    if (!value_of(trim(in.substr(0, at)), &a) || !value_of(trim(in.substr(at + 3)), &b))
      return fail("script/no-value");
    if (op == '/' && b == 0) return fail("math/zero-divide");
    return value(op == '+' ? a + b : a / b);
  }
  long v;
  if (value_of(in, &v)) return value(v);
  return fail("script/no-value");
}

}  // namespace kel::cases
