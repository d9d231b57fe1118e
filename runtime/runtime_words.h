// The runtime's own words: the spellings runtime code compares against, in interning order,
// each with the kind of value made for it. Interning fills runtime_word_ids.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kel::runtime {

enum class WordKind : uint8_t {
  SYMBOL,       // a symbol id only (exact spelling)
  SYMBOL_WORD,  // a global word made over a symbol id interned earlier in the table
  GLOBAL_WORD,  // a global word interned from its spelling
  REFINEMENT,   // a global refinement, kept in the root block
};

struct RuntimeWord {
  std::string_view spelling;
  WordKind kind;
};

namespace rw_kind {
constexpr WordKind SYMBOL = WordKind::SYMBOL;
constexpr WordKind SYMBOL_WORD = WordKind::SYMBOL_WORD;
constexpr WordKind GLOBAL_WORD = WordKind::GLOBAL_WORD;
constexpr WordKind REFINEMENT = WordKind::REFINEMENT;

inline constexpr RuntimeWord runtime_words[] = {
  // symbol ids
  {"spec", SYMBOL}, {"body", SYMBOL}, {"words", SYMBOL}, {"class", SYMBOL}, {"logic!", SYMBOL},
  {"integer!", SYMBOL}, {"char!", SYMBOL}, {"float!", SYMBOL}, {"percent!", SYMBOL},
  {"any-type!", SYMBOL}, {"exit", SYMBOL}, {"return", SYMBOL}, {"Windows", SYMBOL},
  {"Syllable", SYMBOL}, {"macOS", SYMBOL}, {"Linux", SYMBOL}, {"NetBSD", SYMBOL},
  {"repeat", SYMBOL}, {"foreach", SYMBOL}, {"map-each", SYMBOL}, {"remove-each", SYMBOL},
  {"any", SYMBOL}, {"break", SYMBOL}, {"copy", SYMBOL}, {"end", SYMBOL}, {"fail", SYMBOL},
  {"into", SYMBOL}, {"opt", SYMBOL}, {"not", SYMBOL}, {"quote", SYMBOL}, {"case", SYMBOL},
  {"reject", SYMBOL}, {"set", SYMBOL}, {"skip", SYMBOL}, {"some", SYMBOL}, {"thru", SYMBOL},
  {"to", SYMBOL}, {"none", SYMBOL}, {"|", SYMBOL}, {"-", SYMBOL}, {"if", SYMBOL},
  {"remove", SYMBOL}, {"while", SYMBOL}, {"insert", SYMBOL}, {"only", SYMBOL}, {"collect", SYMBOL},
  {"keep", SYMBOL}, {"pick", SYMBOL}, {"ahead", SYMBOL}, {"after", SYMBOL}, {"x", SYMBOL},
  {"y", SYMBOL}, {"z", SYMBOL}, {"self", SYMBOL}, {"values", SYMBOL}, {"owner", SYMBOL},
  {"owned", SYMBOL}, {"events?", SYMBOL}, {"true", SYMBOL}, {"false", SYMBOL}, {"yes", SYMBOL},
  {"no", SYMBOL}, {"on", SYMBOL}, {"off", SYMBOL}, {"type", SYMBOL}, {"face", SYMBOL},
  {"window", SYMBOL}, {"offset", SYMBOL}, {"key", SYMBOL}, {"flag", SYMBOL}, {"code", SYMBOL},
  {"picked", SYMBOL}, {"flags", SYMBOL}, {"away?", SYMBOL}, {"ctrl?", SYMBOL}, {"shift?", SYMBOL},
  {"down?", SYMBOL}, {"mid-down?", SYMBOL}, {"alt-down?", SYMBOL}, {"aux-down?", SYMBOL},
  {"orientation", SYMBOL}, {"get", SYMBOL}, {"put", SYMBOL}, {"post", SYMBOL}, {"head", SYMBOL},
  {"size", SYMBOL}, {"rgb", SYMBOL}, {"alpha", SYMBOL}, {"argb", SYMBOL}, {"date", SYMBOL},
  {"year", SYMBOL}, {"month", SYMBOL}, {"day", SYMBOL}, {"zone", SYMBOL}, {"isoweek", SYMBOL},
  {"week", SYMBOL}, {"weekday", SYMBOL}, {"yearday", SYMBOL}, {"julian", SYMBOL}, {"time", SYMBOL},
  {"hour", SYMBOL}, {"minute", SYMBOL}, {"second", SYMBOL}, {"timezone", SYMBOL},
  {"amount", SYMBOL}, {"user", SYMBOL}, {"host", SYMBOL}, {"system", SYMBOL},
  {"system-global", SYMBOL}, {"stack", SYMBOL}, {"trace", SYMBOL}, {"no-trace", SYMBOL},
  // global words over symbol ids made above
  {"to", SYMBOL_WORD}, {"thru", SYMBOL_WORD}, {"not", SYMBOL_WORD}, {"remove", SYMBOL_WORD},
  {"while", SYMBOL_WORD}, {"collect", SYMBOL_WORD}, {"keep", SYMBOL_WORD}, {"ahead", SYMBOL_WORD},
  {"|", SYMBOL_WORD}, {"any", SYMBOL_WORD}, {"some", SYMBOL_WORD}, {"copy", SYMBOL_WORD},
  {"opt", SYMBOL_WORD}, {"into", SYMBOL_WORD}, {"insert", SYMBOL_WORD}, {"if", SYMBOL_WORD},
  {"quote", SYMBOL_WORD}, {"set", SYMBOL_WORD}, {"case", SYMBOL_WORD}, {"end", SYMBOL_WORD},
  // global words
  {"at", GLOBAL_WORD}, {"back", GLOBAL_WORD}, {"find", GLOBAL_WORD}, {"head", GLOBAL_WORD},
  {"head?", GLOBAL_WORD}, {"index?", GLOBAL_WORD}, {"length?", GLOBAL_WORD}, {"next", GLOBAL_WORD},
  {"pick", GLOBAL_WORD}, {"skip", GLOBAL_WORD}, {"select", GLOBAL_WORD}, {"tail", GLOBAL_WORD},
  {"tail?", GLOBAL_WORD}, {"change", GLOBAL_WORD}, {"changed", GLOBAL_WORD},
  {"clear", GLOBAL_WORD}, {"cleared", GLOBAL_WORD}, {"set-path", GLOBAL_WORD},
  {"append", GLOBAL_WORD}, {"appended", GLOBAL_WORD}, {"move", GLOBAL_WORD},
  {"moved", GLOBAL_WORD}, {"poke", GLOBAL_WORD}, {"poked", GLOBAL_WORD}, {"put", GLOBAL_WORD},
  {"put-ed", GLOBAL_WORD}, {"removed", GLOBAL_WORD}, {"random", GLOBAL_WORD},
  {"randomized", GLOBAL_WORD}, {"reverse", GLOBAL_WORD}, {"reversed", GLOBAL_WORD},
  {"sort", GLOBAL_WORD}, {"sorted", GLOBAL_WORD}, {"swap", GLOBAL_WORD}, {"swaped", GLOBAL_WORD},
  {"take", GLOBAL_WORD}, {"taken", GLOBAL_WORD}, {"trim", GLOBAL_WORD}, {"trimmed", GLOBAL_WORD},
  {"inserted", GLOBAL_WORD}, {"uppercase", GLOBAL_WORD}, {"lowercase", GLOBAL_WORD},
  {"checksum", GLOBAL_WORD}, {"push", GLOBAL_WORD}, {"pop", GLOBAL_WORD}, {"fetch", GLOBAL_WORD},
  {"match", GLOBAL_WORD}, {"iterate", GLOBAL_WORD}, {"paren", GLOBAL_WORD},
  {"<anon>", GLOBAL_WORD}, {"<body>", GLOBAL_WORD}, {"<not-found>", GLOBAL_WORD},
  {"add", GLOBAL_WORD}, {"subtract", GLOBAL_WORD}, {"divide", GLOBAL_WORD},
  {"on-parse-event", GLOBAL_WORD}, {"on-change*", GLOBAL_WORD}, {"on-deep-change*", GLOBAL_WORD},
  {"type", GLOBAL_WORD}, {"id", GLOBAL_WORD}, {"try", GLOBAL_WORD}, {"catch", GLOBAL_WORD},
  {"name", GLOBAL_WORD}, {"multiply", GLOBAL_WORD}, {"browse", GLOBAL_WORD}, {"open", GLOBAL_WORD},
  {"create", GLOBAL_WORD}, {"close", GLOBAL_WORD}, {"delete", GLOBAL_WORD},
  {"modify", GLOBAL_WORD}, {"query", GLOBAL_WORD}, {"read", GLOBAL_WORD}, {"rename", GLOBAL_WORD},
  {"update", GLOBAL_WORD}, {"write", GLOBAL_WORD}, {"prescan", GLOBAL_WORD}, {"scan", GLOBAL_WORD},
  {"load", GLOBAL_WORD}, {"error", GLOBAL_WORD}, {"comment", GLOBAL_WORD}, {"init", GLOBAL_WORD},
  {"exec", GLOBAL_WORD}, {"call", GLOBAL_WORD}, {"return", GLOBAL_WORD}, {"enter", GLOBAL_WORD},
  {"exit", GLOBAL_WORD}, {"prolog", GLOBAL_WORD}, {"epilog", GLOBAL_WORD}, {"throw", GLOBAL_WORD},
  {"expr", GLOBAL_WORD}, {"<interp-callback>", GLOBAL_WORD}, {"<lexer-callback>", GLOBAL_WORD},
  {"<parse-callback>", GLOBAL_WORD}, {"<compare-callback>", GLOBAL_WORD}, {"throw", GLOBAL_WORD},
  {"note", GLOBAL_WORD}, {"syntax", GLOBAL_WORD}, {"script", GLOBAL_WORD}, {"math", GLOBAL_WORD},
  {"access", GLOBAL_WORD}, {"user", GLOBAL_WORD}, {"internal", GLOBAL_WORD},
  {"invalid-error", GLOBAL_WORD}, {"local", GLOBAL_WORD}, {"<applied>", GLOBAL_WORD},
  // refinements
  {"local", REFINEMENT}, {"extern", REFINEMENT}, {"compare", REFINEMENT}, {"part", REFINEMENT},
  {"skip", REFINEMENT}, {"with", REFINEMENT},
};
}  // namespace rw_kind
using rw_kind::runtime_words;
inline constexpr size_t RUNTIME_WORD_COUNT = sizeof(runtime_words) / sizeof(runtime_words[0]);

// Position of the first entry with that spelling and kind; a spelling not in the table does
// not compile.
consteval size_t runtime_word_index(std::string_view spelling, WordKind kind) {
  for (size_t i = 0; i < RUNTIME_WORD_COUNT; ++i)
    if (runtime_words[i].spelling == spelling && runtime_words[i].kind == kind) return i;
  throw "not a runtime word";
}

// Symbol id of each entry once interned (0 until then). Words and refinements keep their
// symbol id here; their cells are kept by the symbol unit.
extern uint32_t runtime_word_ids[RUNTIME_WORD_COUNT];

}  // namespace kel::runtime
