// Case files: one case a line, `input => expected`, run in order against one evaluator.
// Reader, matcher and runner; the evaluator is plugged in by whoever runs the cases.
#pragma once
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kel::cases {

enum class Expect {
  MOLDED,   // `=> 3`: the molded result
  ERROR,    // `=> !! math/zero-divide`: an error of that category and id
  PRINTS,   // `=> prints: text`: the printed output (one final line end dropped; ^/ is a line end)
  NOTHING,  // `=>` alone: no result and no output
};

struct Case {
  int line;
  std::string input;
  Expect kind;
  std::string expected;  // molded text, `category/id`, or the printed text with ^/ decoded
};

struct ParseError {
  int line;
  std::string text;
};

struct CaseFile {
  std::vector<Case> cases;
  std::vector<ParseError> errors;  // unsplittable lines: each fails the run
};

// Splits one line; false when it holds no ` =>` outside the input's strings.
bool split_case(std::string_view line, std::string* input, std::string* expected);
CaseFile read_cases(std::string_view text);

// What evaluating one input gave.
struct Outcome {
  bool error = false;
  std::string error_id;  // `category/id`
  bool has_value = false;
  std::string molded;
  std::string printed;
};

// The evaluator: one call per input, in file order, all in one runtime.
using Evaluator = Outcome (*)(std::string_view input);

bool matches(const Case& c, const Outcome& o);
std::string describe(const Outcome& o);

// Runs every case of the file; reports each failure as `path:line: ...` on out.
// Returns the number of failures (unsplittable lines included).
int run_cases(const std::string& path, const CaseFile& file, Evaluator eval, std::ostream& out);

// The evaluator of the language runtime, or null while there is none.
Evaluator runtime_evaluator();
// A tiny evaluator for testing the driver itself (integers, +, /, print, set-words).
Outcome fake_evaluate(std::string_view input);
void fake_reset();

}  // namespace kel::cases
