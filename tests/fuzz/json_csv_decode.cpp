// Fuzz driver for the JSON and CSV decoders: texts built from pieces of both formats (escapes,
// surrogates, numbers, quotes, line ends, deep nesting) and from bytes, then mutated, go
// through load-json and load-csv with their refinements. Bad text must give the decoders'
// own errors; what decodes must encode and decode again to the same value. A fault saves the
// input to fuzz-json-csv-crash.bin. Runs for --seconds N (default 2) in a started runtime,
// the second half under the collector stress (every 50th allocation).
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/launch.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "runtime/output.h"
#include "tests/fuzz/fuzz_support.h"

using namespace kel;

namespace {

double g_seconds = 2;
uint64_t g_decoded = 0;  // inputs that one of the decoders took
std::vector<uint8_t>& g_current = fuzz::input().bytes;

using fuzz::fail;
using fuzz::guarded;

// Each step answers none, or a text naming what went wrong.
const char* const CHECKS = R"KEL(
fuzz-json: func [s /local r t r2] [
	r: try [load-json s]
	if error? r [
		if r/type = 'user [
			unless find/match r/arg1 "Invalid JSON string. Line: " [return "load-json: wrong message"]
			return none
		]
		if find [invalid-data parse-stack] r/id [return none]
		return join-text ["load-json raised " r/type "/" r/id]
	]
	fuzz-decoded: true
	foreach t reduce [try [to-json :r] try [to-json/ascii :r] try [to-json/pretty :r "^-"]] [
		if error? t [
			if t/id = 'invalid-arg [return none]
			return join-text ["to-json raised " t/type "/" t/id]
		]
		r2: try [load-json t]
		if error? r2 [
			; a lone high surrogate (it can come in as raw bytes) is written as its \u escape,
			; which the decoder refuses as a broken pair; nothing else may fail
			if all [r2/id = 'invalid-data lone-high-escape? t] [continue]
			return "to-json wrote text load-json refuses"
		]
		unless (to-json r2) == to-json :r [return "a value changed going through to-json"]
	]
	none
]
fuzz-csv: func [s /local r t] [
	foreach call [
		[load-csv s] [load-csv/flat s] [load-csv/header s] [load-csv/header/as-records s]
		[load-csv/as-columns/trim s] [load-csv/with/quote s ";" #"'"] [load-csv/with s "::"]
	] [
		r: try call
		if all [error? r r/type <> 'user] [return join-text [mold call " raised " r/type "/" r/id]]
	]
	r: load-csv s
	if error? r [
		if any [r/arg1 == "Data are not aligned" find/match r/arg1 "Invalid CSV data at line "] [return none]
		return join-text ["load-csv: unexpected message " r/arg1]
	]
	fuzz-decoded: true
	t: to-csv r
	if all [not tail? r error? t] [return "to-csv refuses what load-csv made"]
	unless tail? r [
		unless r == load-csv t [return "a record changed going through to-csv"]
	]
	none
]
lone-high-escape?: func [t] [
	foreach h ["\uD8" "\uD9" "\uDA" "\uDB"] [if find t h [return true]]
	false
]
join-text: func [parts /local s] [s: copy "" foreach p parts [append s form p] s]
fuzz-decoded: false
)KEL";

const char* const STEP = "fuzz-json fuzz-input";
const char* const STEP_CSV = "fuzz-csv fuzz-input";

const char* const PIECES[] = {
    "{", "}", "[", "]", ",", ":", "\"", "\\", "\\u", "\\u00e9", "\\uD83D", "\\uDE00", "\\uD800\\uDC00",
    "\\n", "\\\"", "\\/", "\\x", "true", "false", "null", "TRUE", "-", "0", "1", "9", ".", "e", "E",
    "+", "1e400", "12345678901", "-0.0", "5e-324", " ", "\n", "\r", "\r\n", "\t", "\"a\"",
    "\"k\":", "\"-1\":", "\"A\":1,\"a\":2", "a", "x", ";", "::", "'", "\"\"", "\xC3\xA9",
    "\xF0\x9F\x98\x80", "\xE4\xB8\xAD", "\xC2\xA0", "\xEF\xBB\xBF", "\xFF", "\xED\xA0\x80", "\x00",
    "\x01", "\x7F"};

std::vector<uint8_t> make_input(std::mt19937& rng) {
  std::vector<uint8_t> d;
  if (rng() % 64 == 0) {
    // Hostile nesting and counts: errors or values, never a crash or a huge allocation.
    const char* open = rng() % 2 ? "[" : "{\"a\":";
    size_t n = 1000 + rng() % 20000;
    for (size_t i = 0; i < n; ++i) d.insert(d.end(), open, open + std::strlen(open));
    if (rng() % 2) d.insert(d.end(), n, rng() % 2 ? ']' : '}');
    return d;
  }
  if (rng() % 64 == 0) {
    size_t n = 1 + rng() % 5000;
    for (size_t i = 0; i < n; ++i) {
      const char* p = rng() % 3 ? "\"a,b\"\"c\"," : "x\r\n";
      d.insert(d.end(), p, p + std::strlen(p));
    }
    return d;
  }
  int n = int(rng() % 24);
  for (int i = 0; i < n; ++i) {
    const char* p = PIECES[rng() % (sizeof PIECES / sizeof PIECES[0])];
    size_t len = *p ? std::strlen(p) : 1;  // "\x00" is one byte
    d.insert(d.end(), p, p + len);
  }
  int flips = rng() % 4 == 0 ? int(rng() % 3) : 0;
  for (int i = 0; i < flips && !d.empty(); ++i) d[rng() % d.size()] = uint8_t(rng());
  return d;
}

Cell* g_steps[2] = {nullptr, nullptr};

void load_block(const char* text, Cell* out) {
  launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), out);
}

void run_one(const std::vector<uint8_t>& input) {
  g_current = input;
  Cell* mark = stack::state().top;
  Cell* text = stack::reserve_cell();
  cell::set_none(text);
  fuzz::poison_free_memory();  // a cell never written faults at once
  bool decoded = guarded([&] {
    const uint8_t* bytes = input.empty() ? reinterpret_cast<const uint8_t*>("") : input.data();
    *text = *string::from_utf8_binary(bytes, int32_t(input.size()));
  });
  if (decoded) {
    for (Cell* step : g_steps) {
      Cell name = word::intern_global("fuzz-input");
      *word::value_slot(&name) = *text;
      Cell result{T_NONE, 0, 0, 0};
      bool is_error = false;
      launcher::run_protected(step, &result, &is_error);
      if (is_error) fail("a check raised an error");
      if (cell::type(&result) == T_STRING) {
        std::string what;
        int32_t n = string::count_from_head(&result);
        for (int32_t i = 0; i < n; ++i) {
          uint8_t buf[4];
          int k = unicode::encode_utf8_raw(uint32_t(string::codepoint_at(&result, i)), buf);
          what.append(reinterpret_cast<char*>(buf), size_t(k));
        }
        fail(what.c_str());
      }
    }
    Cell flag = word::intern_global("fuzz-decoded");
    Cell* v = word::value_slot(&flag);
    if (cell::type(v) == T_LOGIC && v->w1) ++g_decoded;
    *v = Cell{T_LOGIC, 0, 0, 0};
  }
  stack::state().top = mark;
}

void launch() {
  rt::add_terminal_restore_hook(&fuzz::save_input);
  Cell* defs = stack::reserve_cell();
  cell::set_none(defs);
  load_block(CHECKS, defs);
  Cell ignored{T_NONE, 0, 0, 0};
  bool is_error = false;
  launcher::run_protected(defs, &ignored, &is_error);
  if (is_error) fail("the checks do not load");
  // The two step blocks stay on the stack below every input's cells, where the collector
  // sees them.
  g_steps[0] = stack::reserve_cell();
  cell::set_none(g_steps[0]);
  load_block(STEP, g_steps[0]);
  g_steps[1] = stack::reserve_cell();
  cell::set_none(g_steps[1]);
  load_block(STEP_CSV, g_steps[1]);
  std::mt19937 rng(20261210);
  uint64_t runs = fuzz::run_for(g_seconds, [&] { run_one(make_input(rng)); });
  fuzz::finish(runs, g_decoded, "decoded");
}

}  // namespace

int main(int argc, char** argv) {
  fuzz::input().label = "json-csv";
  fuzz::input().file = "fuzz-json-csv-crash.bin";
  g_seconds = fuzz::seconds_arg(argc, argv);
  fuzz::read_replay_args(argc, argv);
  char* args[] = {argv[0], nullptr};
  boot::start(1, args, &launch);
}
