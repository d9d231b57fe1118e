// Error raising by catalogue positions, the argument type checks, and the error report
// (title and message from the embedded catalogue text, then the `where` word).
#include "runtime/error.h"
#include "runtime/hooks.h"
#include "runtime/output.h"

#include <string_view>
#include <vector>

#include "runtime/context.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/memory.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/unwind.h"

namespace kel {
// The tracer's services (runtime/evaluator/trace.cpp).
bool tracing_q();
void trace_fire(uint32_t event, const Cell* code, uint32_t position, const Cell* value,
                const Cell* referent);
}  // namespace kel

namespace kel::error::detail {
std::string symbol_text(uint32_t symbol);
}  // namespace kel::error::detail

namespace kel::error {

namespace {

constexpr uint32_t TRACE_ERROR_EVENT = 0x1000;

Pending g_pending{0, 0, {}, {T_NONE, 0, 0, 0}, {T_NONE, 0, 0, 0}};

// ---- The catalogue, read once from its Kel text ----

struct Item {
  bool is_string;
  std::string text;  // the string's content, or the argument word (without ':')
};
struct Template {
  bool is_block;
  std::vector<Item> items;  // one string item when not a block
};
struct Category {
  std::string name;
  std::string title;
  std::vector<std::string> ids;        // by position (0 and 1 are code and type)
  std::vector<Template> templates;     // parallel to ids
};

std::vector<std::string_view> tokenize(std::string_view t) {
  std::vector<std::string_view> out;
  size_t i = 0, n = t.size();
  while (i < n) {
    char c = t[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == ';') {
      while (i < n && t[i] != '\n') ++i;
    } else if (c == '[' || c == ']') {
      out.push_back(t.substr(i, 1));
      ++i;
    } else if (c == '"') {
      size_t j = i + 1;
      while (j < n && t[j] != '"') j += t[j] == '^' ? 2 : 1;
      out.push_back(t.substr(i, j + 1 - i));
      i = j + 1;
    } else {
      size_t j = i;
      while (j < n && !(t[j] == ' ' || t[j] == '\t' || t[j] == '\r' || t[j] == '\n' ||
                        t[j] == '[' || t[j] == ']' || t[j] == '"'))
        ++j;
      out.push_back(t.substr(i, j - i));
      i = j;
    }
  }
  return out;
}

std::string unquote(std::string_view tok) {
  std::string s;
  for (size_t i = 1; i + 1 < tok.size(); ++i) {
    if (tok[i] == '^' && i + 2 < tok.size()) {
      char e = tok[++i];
      s += e == '/' ? '\n' : e == '-' ? '\t' : e;
    } else {
      s += tok[i];
    }
  }
  return s;
}

std::vector<Category> parse_catalogue() {
  std::vector<Category> cats;
  auto toks = tokenize(catalogue_text());
  size_t i = 0, n = toks.size();
  while (i < n && toks[i] != "errors:") ++i;
  if (i + 1 >= n) return cats;
  i += 2;  // "errors:" "["
  while (i < n && toks[i] != "]") {
    Category cat;
    cat.name = std::string(toks[i].substr(0, toks[i].size() - 1));
    i += 2;  // name: [
    while (i < n && toks[i] != "]") {
      std::string field(toks[i].substr(0, toks[i].size() - 1));
      ++i;
      Template tpl{false, {}};
      if (i < n && toks[i] == "[") {
        tpl.is_block = true;
        ++i;
        while (i < n && toks[i] != "]") {
          std::string_view t = toks[i++];
          if (t.size() >= 2 && t[0] == '"') tpl.items.push_back({true, unquote(t)});
          else tpl.items.push_back({false, std::string(t[0] == ':' ? t.substr(1) : t)});
        }
        ++i;
      } else if (i < n && !toks[i].empty() && toks[i][0] == '"') {
        tpl.items.push_back({true, unquote(toks[i++])});
      } else if (i < n && toks[i] != "]" && toks[i].back() != ':') {
        ++i;  // a plain value (the code)
      }
      if (field == "type" && !tpl.items.empty()) cat.title = tpl.items[0].text;
      cat.ids.push_back(field);
      cat.templates.push_back(std::move(tpl));
    }
    ++i;
    cats.push_back(std::move(cat));
  }
  return cats;
}

const std::vector<Category>& catalogue() {
  static const std::vector<Category> cats = parse_catalogue();
  return cats;
}

// ---- Forming argument values (until mold and form exist for every datatype) ----


std::string type_name(uint32_t t) { return t < T_TYPE_COUNT ? TYPE_NAMES[t] : "unknown!"; }

ValueFormer g_former = nullptr;

std::string form_value(const Cell* v, bool mold) {
  switch (cell::type(v)) {
    case T_INTEGER: return std::to_string(cell::get_int(v));
    case T_NONE: return mold ? "none" : "none";
    case T_UNSET: return "";
    case T_LOGIC: return v->w1 ? "true" : "false";
    case T_DATATYPE: return type_name(v->w1);
    case T_WORD: return detail::symbol_text(v->w2);
    case T_SET_WORD: return detail::symbol_text(v->w2) + ":";
    case T_GET_WORD: return ":" + detail::symbol_text(v->w2);
    case T_LIT_WORD: return (mold ? "'" : "") + detail::symbol_text(v->w2);
    case T_REFINEMENT: return "/" + detail::symbol_text(v->w2);
    case T_ISSUE: return "#" + detail::symbol_text(v->w2);
    default: {
      std::string text;
      if (g_former && g_former(v, mold, &text)) return text;
      return type_name(cell::type(v));
    }
  }
}

const Cell* arg_by_name(const Pending& p, const std::string& name) {
  if (name == "arg1") return &p.args[0];
  if (name == "arg2") return &p.args[1];
  if (name == "arg3") return &p.args[2];
  return nullptr;
}

}  // namespace

Pending& pending() { return g_pending; }

void forget_pending() {
  g_pending.category = g_pending.id = 0;
  for (Cell& c : g_pending.args) c = Cell{T_NONE, 0, 0, 0};
  g_pending.where = g_pending.stack = Cell{T_NONE, 0, 0, 0};
}

void set_value_former(ValueFormer former) { g_former = former; }

void new_from_ids(Cell* out, uint32_t category, uint32_t id, const Cell* arg1, const Cell* arg2,
                  const Cell* arg3) {
  Pending& p = g_pending;
  p.category = category;
  p.id = id;
  const Cell* args[3] = {arg1, arg2, arg3};
  for (int i = 0; i < 3; ++i) p.args[i] = args[i] ? *args[i] : Cell{T_NONE, 0, 0, 0};
  p.where = Cell{T_NONE, 0, 0, 0};
  p.stack = Cell{T_NONE, 0, 0, 0};
  if (catalogue_loaded_q()) {
    // The argument copies in the record stay put while the error object is built.
    new_error_value(out, category, id, arg1 ? &p.args[0] : nullptr, arg2 ? &p.args[1] : nullptr,
                    arg3 ? &p.args[2] : nullptr);
    return;
  }
  // Before the catalogue is loaded (early start-up, lower-layer tests): the error cell
  // carries the code and the record above its fields.
  *out = Cell{T_ERROR, 0, category * 100 + id, 0};
}

namespace {
// The field of a loaded error object (null when the cell holds none).
Cell* object_field(Cell* error, int32_t i) {
  if (cell::type(error) != T_ERROR || !error->w1) return nullptr;
  Node v = context::values_node(error->w1);
  if (uint32_t(i) >= memory::units(memory::node_buffer(v))) return nullptr;
  return memory::head_cells(memory::node_buffer(v)) + i;
}
}  // namespace

void fill_where(Cell* error, const Cell* value) {
  if (cell::type(error) != T_ERROR) return;
  if (Cell* f = object_field(error, field::WHERE)) {
    if (cell::type(f) == T_NONE) *f = *value;
    return;
  }
  if (cell::type(&g_pending.where) == T_NONE) g_pending.where = *value;
}

Cell* stack_field(Cell* error) {
  if (Cell* f = object_field(error, field::STACK)) return f;
  return cell::type(error) == T_ERROR ? &g_pending.stack : nullptr;
}

void raise(uint32_t category, uint32_t id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  Cell err;
  new_from_ids(&err, category, id, arg1, arg2, arg3);
  if (tracing_q()) {
    stack::State& s = stack::state();
    uint32_t saved = s.pending_code;
    s.pending_code = 0;
    gc::Root keep(&err);  // the tracer may move nodes
    trace_fire(TRACE_ERROR_EVENT, nullptr, 0, &err, nullptr);
    s.pending_code = saved;
  }
  stack::propagate_error(&err);
}

void raise_bad_make_arg(const Cell* type, const Cell* spec) {
  raise(err::script::bad_make_arg, type, spec);
}

std::string form_report(const Cell* error) {
  if (cell::type(error) == T_ERROR && error->w1) return report_text(error);
  const Pending& p = g_pending;
  const auto& cats = catalogue();
  std::string out = "*** ";
  uint32_t c = p.category, id = p.id;
  if (cell::type(error) != T_ERROR || c >= cats.size() || id < 2 || id >= cats[c].ids.size()) {
    out += "Internal Error: invalid error object field value: ";
    out += std::to_string(cell::type(error) == T_ERROR ? error->w2 : 0);
  } else {
    const Category& cat = cats[c];
    bool syntax = cat.name == "syntax";
    out += cat.title;
    out += ": ";
    const Template& tpl = cat.templates[id];
    for (size_t i = 0; i < tpl.items.size(); ++i) {
      const Item& it = tpl.items[i];
      if (it.is_string) {
        out += it.text;
      } else if (const Cell* v = arg_by_name(p, it.text)) {
        std::string s = form_value(v, !syntax);
        if (s.size() > 80) {
          size_t cut = 80;
          while (cut > 0 && (uint8_t(s[cut]) & 0xC0) == 0x80) --cut;  // never split a character
          s.resize(cut);
        }
        out += s;
      }
      if (i + 1 < tpl.items.size()) out += ' ';
    }
  }
  out += "\n*** Where: ";
  uint32_t wt = cell::type(&p.where);
  if (wt == T_WORD) out += detail::symbol_text(p.where.w2);
  else out += "???";
  return out;
}

void print_report(const Cell* error) {
  std::string text = form_report(error);
  text += '\n';
  tui::PrintScope around;
  platform::write_bytes(text.data(), text.size());  // already UTF-8
}

}  // namespace kel::error

namespace kel::runtime {

namespace {
[[noreturn]] void raise_expect_arg(uint32_t type, int32_t arg_number) {
  // The three arguments live on the argument stack while the error is built.
  Cell* fn = stack::reserve_cell();
  *fn = stack::current_function_word();
  Cell* dt = stack::reserve_cell();
  *dt = Cell{T_DATATYPE, type, 0, 0};
  Cell* arg = stack::reserve_cell();
  *arg = error::nth_argument_word(arg_number);
  error::raise(err::script::expect_arg, fn, dt, arg);
}
}  // namespace

const Cell* verify_arg_type(const Cell* typeset, int32_t arg_number, const Cell* value) {
  uint32_t t = cell::type(value);
  const uint8_t* bits = reinterpret_cast<const uint8_t*>(&typeset->w1);
  if (t < 96 && (bits[t / 8] & (0x80u >> (t % 8)))) return value;
  raise_expect_arg(t, arg_number);
}

void verify_frame_arg_type(int32_t slot, const Cell* typeset, int32_t arg_number) {
  if (slot < 0) return;
  verify_arg_type(typeset, arg_number, stack::state().base + slot);
}

const Cell* verify_refinement_arg_type(const Cell* refinement, const Cell* typeset,
                                       int32_t arg_number, const Cell* value) {
  if (refinement->w1 == 0) return value;
  return verify_arg_type(typeset, arg_number, value);
}

const Cell* verify_arg_set(int32_t arg_number, const Cell* value) {
  if (cell::type(value) != T_UNSET) return value;
  raise_expect_arg(T_UNSET, arg_number);
}

void print_error_value(uint32_t category, uint32_t id, const Cell* arg1, const Cell* arg2,
                       const Cell* arg3) {
  stack::State& s = stack::state();
  Cell body{T_WORD, 0, s.body_symbol, 0xFFFFFFFF};
  stack::push_native_frame(&body);
  Cell* slot = stack::reserve_cell();
  // Arguments may sit where the frame's cells go: take copies first.
  Cell a[3];
  const Cell* args[3] = {arg1, arg2, arg3};
  for (int i = 0; i < 3; ++i) {
    if (args[i]) a[i] = *args[i];
  }
  error::Pending saved = error::pending();
  // The copy is restored after allocations: its cells stay rooted (nodes may move).
  gc::RootRange keep_args(saved.args, saved.args + 3);
  gc::Root keep_where(&saved.where), keep_stack(&saved.stack);
  error::new_from_ids(slot, category, id, arg1 ? &a[0] : nullptr, arg2 ? &a[1] : nullptr,
                      arg3 ? &a[2] : nullptr);
  error::print_report(slot);
  error::pending() = saved;
  cell::set_type(slot, T_UNSET);
  stack::pop_frame();
  stack::drop_cells(1);  // the warning adds no value to its caller
}

}  // namespace kel::runtime
