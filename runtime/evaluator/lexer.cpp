// Lexer tables (classes, transitions, token types), the value stack and open markers, the
// chain of active scans, the scan loop, the syntax-error escape and the collector root.
#include "runtime/evaluator/lexer.h"

#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/rt.h"

namespace kel::lexer {

uint32_t class_table[256];
uint8_t line_count[CLASS_COUNT];
uint8_t delimiter[CLASS_COUNT];
uint8_t blank_skip[TYPE_STATES];
int8_t type_table[TYPE_STATES];
uint8_t transition[ROW_COUNT][CLASS_COUNT];
Handler scanners[SLOT_COUNT];
Handler loaders[SLOT_COUNT];

namespace {

bool tables_built = false;
State* chain = nullptr;
Cell* value_stack = nullptr;
int32_t value_capacity = 0;

// ---- Table construction ----

void fill(int state, int next) {
  for (int c = 0; c < CLASS_COUNT; ++c) transition[state][c] = uint8_t(next);
}
void set(int state, std::initializer_list<int> classes, int next) {
  for (int c : classes) transition[state][c] = uint8_t(next);
}
void copy_row(int state, int from) { std::memcpy(transition[state], transition[from], CLASS_COUNT); }

// Bytes that end most tokens.
const std::initializer_list<int> ENDS = {C_BLANK, C_LF, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN,
                                         C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_QUOTE,
                                         C_SEMICOLON, C_CONTROL, C_END};
const std::initializer_list<int> LETTERS = {C_X, C_T, C_H, C_E_LOW, C_E_UP, C_HEX_LOW, C_HEX_UP,
                                            C_WORD, C_CONTINUATION};
const std::initializer_list<int> DIGIT_CLASSES = {C_DIGIT, C_ZERO};
const std::initializer_list<int> SIGNS = {C_PLUS, C_MINUS};

void build_classes() {
  for (int b = 0; b < 256; ++b) {
    uint32_t c = C_WORD;
    if (b == 0) c = C_END;
    else if (b == '\t' || b == '\r' || b == ' ') c = C_BLANK;
    else if (b == '\n') c = C_LF;
    else if (b < 0x20) c = C_CONTROL;
    else if (b >= '1' && b <= '9') c = C_DIGIT;
    else if (b == '0') c = C_ZERO;
    else if (b >= 0x7F && b <= 0xBF) c = C_CONTINUATION;
    else if (b == 0xC0 || b == 0xC1 || b >= 0xF8) c = C_INVALID;
    else {
      switch (b) {
        case '[': c = C_BLOCK_OPEN; break;
        case ']': c = C_BLOCK_CLOSE; break;
        case '(': c = C_PAREN_OPEN; break;
        case ')': c = C_PAREN_CLOSE; break;
        case '{': c = C_BRACE_OPEN; break;
        case '}': c = C_BRACE_CLOSE; break;
        case '"': c = C_QUOTE; break;
        case '#': c = C_SHARP; break;
        case '\'': c = C_APOSTROPHE; break;
        case ':': c = C_COLON; break;
        case 'x': case 'X': c = C_X; break;
        case 'T': c = C_T; break;
        case 'h': c = C_H; break;
        case 'e': c = C_E_LOW; break;
        case 'E': c = C_E_UP; break;
        case 'a': case 'b': case 'c': case 'd': case 'f': c = C_HEX_LOW; break;
        case 'A': case 'B': case 'C': case 'D': case 'F': c = C_HEX_UP; break;
        case '/': c = C_SLASH; break;
        case '\\': c = C_BACKSLASH; break;
        case '<': c = C_LESS; break;
        case '>': c = C_GREATER; break;
        case '=': c = C_EQUAL; break;
        case '%': c = C_PERCENT; break;
        case ',': c = C_COMMA; break;
        case ';': c = C_SEMICOLON; break;
        case '@': c = C_AT; break;
        case '.': c = C_DOT; break;
        case '$': c = C_DOLLAR; break;
        case '+': c = C_PLUS; break;
        case '-': c = C_MINUS; break;
        case '^': c = C_CARET; break;
        default: c = C_WORD; break;
      }
    }
    uint32_t f = 0;
    switch (b) {
      case '%': f = flag::PERCENT; break;
      case '>': f = flag::GREATER; break;
      case '<': f = flag::LESS; break;
      case '+': case '-': f = flag::SIGN; break;
      case 0: f = flag::NUL; break;
      case '#': f = flag::SHARP; break;
      case 'e': case 'E': f = flag::EXPONENT; break;
      case '\'': f = flag::APOSTROPHE; break;
      case ':': f = flag::COLON; break;
      case ',': f = flag::COMMA; break;
      case '.': f = flag::DOT; break;
      case '^': f = flag::CARET; break;
      default: break;
    }
    if (b >= 0xC2 && b <= 0xEF) f |= flag::UTF8_2_3;
    if (b >= 0xF0 && b <= 0xF7) f |= flag::UTF8_4;
    class_table[b] = c | f;
  }
  for (int c = 0; c < CLASS_COUNT; ++c) {
    line_count[c] = c == C_LF;
    delimiter[c] = 0;
  }
  for (int c : {0, 1, 4, 5, 6, 7, 8, 10, 13, 23, 28, 37, 38, 39}) delimiter[c] = 1;
}

void build_transitions() {
  using namespace st;
  // 0: between tokens.
  fill(0, F_ERROR);
  set(0, {C_BLANK, C_LF, C_CONTROL}, 0);
  set(0, DIGIT_CLASSES, 23);
  set(0, {C_BLOCK_OPEN}, F_BLOCK);
  set(0, {C_BLOCK_CLOSE}, F_BLOCK_CLOSE);
  set(0, {C_PAREN_OPEN}, F_PAREN);
  set(0, {C_PAREN_CLOSE}, F_PAREN_CLOSE);
  set(0, {C_BRACE_OPEN}, F_BRACE);
  set(0, {C_QUOTE}, STRING);
  set(0, {C_SHARP}, SHARP);
  set(0, {C_APOSTROPHE, C_COLON}, 51);
  set(0, {C_WORD, C_X, C_T, C_H, C_E_LOW, C_HEX_LOW, C_GREATER, C_CARET}, WORD);
  set(0, {C_E_UP, C_HEX_UP}, 40);
  set(0, {C_SLASH}, SLASH);
  set(0, {C_LESS}, 43);
  set(0, {C_EQUAL}, 58);
  set(0, {C_PERCENT}, FILE_START);
  set(0, {C_COMMA}, F_COMMA);
  set(0, {C_SEMICOLON}, COMMENT);
  set(0, {C_AT}, 57);
  set(0, {C_DOT}, 49);
  set(0, {C_DOLLAR}, 36);
  set(0, SIGNS, 47);
  set(0, {C_END}, F_END);
  // 1: comment to the line end.
  fill(1, 1);
  set(1, {C_LF, C_END}, F_COMMENT);
  // 2-3: quoted string; 3 takes the byte after a caret.
  fill(2, 2);
  set(2, {C_QUOTE}, F_STRING);
  set(2, {C_CARET}, 3);
  set(2, {C_LF, C_END}, F_ERROR);
  fill(3, 2);
  set(3, {C_LF, C_END}, F_ERROR);
  // 4-5: braced string pieces; 5 takes the byte after a caret.
  fill(4, 4);
  set(4, {C_BRACE_OPEN}, F_BRACE);
  set(4, {C_BRACE_CLOSE}, F_BRACE_CLOSE);
  set(4, {C_CARET}, 5);
  set(4, {C_END}, F_ERROR);
  fill(5, 4);
  set(5, {C_END}, F_ERROR);
  // 6: after %; 7 file characters; 8 quoted file (50 its caret); 9 a run of %.
  fill(6, 7);
  set(6, ENDS, F_WORD);
  set(6, {C_BRACE_OPEN}, 10);
  set(6, {C_QUOTE}, 8);
  set(6, {C_PERCENT}, 9);
  fill(7, 7);
  set(7, ENDS, F_FILE);
  fill(8, 8);
  set(8, {C_QUOTE}, F_FILE);
  set(8, {C_CARET}, 50);
  set(8, {C_LF, C_END}, F_ERROR);
  fill(50, 8);
  set(50, {C_LF, C_END}, F_ERROR);
  fill(9, 7);
  set(9, ENDS, F_FILE);
  set(9, {C_PERCENT}, 9);
  set(9, {C_BRACE_OPEN}, 10);
  // 10-12: raw string, closed by } and its run of %.
  fill(10, 10);
  set(10, {C_BRACE_CLOSE}, 11);
  set(10, {C_END}, F_ERROR);
  fill(11, 10);
  set(11, {C_BRACE_CLOSE}, 11);
  set(11, {C_PERCENT}, 12);
  set(11, {C_END}, F_ERROR);
  fill(12, 10);
  set(12, ENDS, F_RAW_STRING);
  set(12, {C_PERCENT}, 12);
  set(12, {C_BRACE_CLOSE}, 11);
  // 13: after /; 14 //; 54 a sigil word of / ('/ :/ /:); 15 refinement body.
  fill(13, 15);
  set(13, ENDS, F_WORD);
  set(13, {C_SLASH}, 14);
  set(13, {C_COLON}, 54);
  set(13, {C_COMMA, C_BACKSLASH}, F_ERROR);
  fill(14, F_ERROR);
  set(14, ENDS, F_WORD);
  fill(54, F_ERROR);
  set(54, ENDS, F_WORD);
  fill(15, 15);
  set(15, ENDS, F_REFINEMENT);
  set(15, {C_SLASH, C_COLON, C_COMMA, C_BACKSLASH}, F_ERROR);
  // 16: after #; 17-18 binary (18 a comment in it); 19-20 char; 21 construction; 22 issue.
  fill(16, 22);
  set(16, ENDS, F_ISSUE);
  set(16, {C_BLOCK_OPEN}, F_MAP);
  set(16, {C_PAREN_OPEN}, 21);
  set(16, {C_BRACE_OPEN}, 17);
  set(16, {C_QUOTE}, 19);
  fill(17, F_ERROR);
  set(17, DIGIT_CLASSES, 17);
  set(17, LETTERS, 17);
  set(17, {C_BLANK, C_LF, C_PLUS, C_SLASH, C_EQUAL, C_APOSTROPHE, C_CONTROL}, 17);
  set(17, {C_BRACE_CLOSE}, F_BINARY);
  set(17, {C_SEMICOLON}, 18);
  fill(18, 18);
  set(18, {C_LF}, 17);
  set(18, {C_END}, F_ERROR);
  fill(19, 19);
  set(19, {C_QUOTE}, F_CHAR);
  set(19, {C_CARET}, 20);
  set(19, {C_LF, C_END}, F_ERROR);
  fill(20, 19);
  set(20, {C_LF, C_END}, F_ERROR);
  fill(21, 21);
  set(21, {C_PAREN_CLOSE}, F_CONSTRUCT);
  set(21, {C_LF, C_END, C_PAREN_OPEN, C_BLOCK_OPEN, C_BLOCK_CLOSE}, F_ERROR);
  fill(22, 22);
  set(22, ENDS, F_ISSUE);
  // 23: digits.
  fill(23, F_ERROR);
  set(23, DIGIT_CLASSES, 23);
  set(23, {C_APOSTROPHE}, 23);
  set(23, {C_DOT}, 24);
  set(23, {C_X}, 33);
  set(23, {C_E_LOW}, 26);
  set(23, {C_E_UP}, 27);
  set(23, {C_COLON}, 31);
  set(23, {C_MINUS, C_SLASH, C_T}, 30);
  set(23, {C_H}, 42);
  set(23, {C_HEX_UP}, 39);
  set(23, {C_SHARP}, SHARP);
  set(23, {C_PERCENT}, F_PERCENT);
  set(23, {C_AT}, 56);
  set(23, ENDS, F_INTEGER);
  set(23, {C_COMMA, C_LESS}, F_INTEGER);
  // 24: digits then a dot; 25 fraction; 26 after e; 27 exponent (or hex after E).
  fill(24, F_ERROR);
  set(24, DIGIT_CLASSES, 25);
  set(24, {C_SHARP}, 28);
  set(24, {C_PERCENT}, F_PERCENT);
  set(24, {C_X}, 33);
  set(24, {C_AT}, 56);
  set(24, {C_DOT}, 29);
  set(24, {C_E_LOW, C_E_UP}, 26);
  set(24, ENDS, F_FLOAT);
  set(24, {C_COMMA}, F_FLOAT);
  fill(25, F_ERROR);
  set(25, DIGIT_CLASSES, 25);
  set(25, {C_APOSTROPHE}, 25);
  set(25, {C_DOT}, 29);
  set(25, {C_E_LOW, C_E_UP}, 26);
  set(25, {C_PERCENT}, F_PERCENT);
  set(25, {C_X}, 33);
  set(25, {C_AT}, 56);
  set(25, ENDS, F_FLOAT);
  set(25, {C_COMMA}, F_FLOAT);
  fill(26, F_ERROR);
  set(26, DIGIT_CLASSES, 27);
  set(26, SIGNS, 27);
  set(26, ENDS, F_FLOAT);
  set(26, {C_COMMA}, F_FLOAT);
  fill(27, F_ERROR);
  set(27, DIGIT_CLASSES, 27);
  set(27, SIGNS, 27);
  set(27, {C_H}, 42);
  set(27, {C_HEX_UP, C_E_UP}, 39);
  set(27, {C_PERCENT}, F_PERCENT);
  set(27, ENDS, F_FLOAT);
  set(27, {C_COMMA}, F_FLOAT);
  // 28: special float after "digits.#".
  fill(28, F_ERROR);
  set(28, LETTERS, 28);
  set(28, ENDS, F_SPECIAL_FLOAT);
  set(28, {C_COMMA}, F_SPECIAL_FLOAT);
  // 29: tuple.
  fill(29, F_ERROR);
  set(29, DIGIT_CLASSES, 29);
  set(29, {C_DOT}, 29);
  set(29, ENDS, F_TUPLE);
  set(29, {C_COMMA}, F_TUPLE);
  // 30: date.
  fill(30, F_ERROR);
  set(30, DIGIT_CLASSES, 30);
  set(30, LETTERS, 30);
  set(30, {C_MINUS, C_PLUS, C_SLASH, C_COLON, C_DOT}, 30);
  set(30, ENDS, F_DATE);
  set(30, {C_COMMA}, F_DATE);
  // 31-32: time (32 the fraction).
  fill(31, F_ERROR);
  set(31, DIGIT_CLASSES, 31);
  set(31, {C_COLON, C_APOSTROPHE}, 31);
  set(31, {C_DOT, C_COMMA}, 32);  // the fraction mark is `.` or `,`
  set(31, ENDS, F_TIME);
  fill(32, F_ERROR);
  set(32, DIGIT_CLASSES, 32);
  set(32, ENDS, F_TIME);
  set(32, {C_COMMA}, F_TIME);
  // 33-34: pair after x.
  fill(33, F_ERROR);
  set(33, DIGIT_CLASSES, 34);
  set(33, SIGNS, 34);
  set(33, {C_DOT}, 34);
  fill(34, F_ERROR);
  set(34, DIGIT_CLASSES, 34);
  set(34, SIGNS, 34);
  set(34, {C_DOT, C_E_LOW, C_E_UP}, 34);
  set(34, ENDS, F_PAIR);
  set(34, {C_COMMA}, F_PAIR);
  // 35: point literal inside parens.
  fill(35, F_ERROR);
  set(35, DIGIT_CLASSES, 35);
  set(35, LETTERS, 35);
  set(35, SIGNS, 35);
  set(35, {C_BLANK, C_COMMA, C_DOT, C_SHARP, C_APOSTROPHE}, 35);
  set(35, {C_PAREN_CLOSE}, F_POINT);
  // 36-38: money.
  fill(36, F_ERROR);
  set(36, DIGIT_CLASSES, 38);
  // The decimal mark is `.` or `,`: a comma inside money is part of it.
  set(36, {C_DOT, C_COMMA, C_APOSTROPHE}, 38);
  set(36, ENDS, F_MONEY);
  copy_row(37, 36);
  fill(38, F_ERROR);
  set(38, DIGIT_CLASSES, 38);
  set(38, {C_DOT, C_COMMA, C_APOSTROPHE}, 38);
  set(38, ENDS, F_MONEY);
  // 47-48: a sign first.
  fill(47, F_ERROR);
  set(47, DIGIT_CLASSES, 23);
  set(47, {C_DOT}, 49);
  set(47, {C_DOLLAR}, 37);
  set(47, LETTERS, WORD);
  set(47, {C_PLUS, C_MINUS, C_GREATER, C_EQUAL, C_CARET}, WORD);
  set(47, {C_COLON}, 53);
  set(47, ENDS, F_WORD);
  set(47, {C_LESS}, F_WORD);
  copy_row(48, 47);
  // 52: word.
  fill(WORD, WORD);
  set(WORD, ENDS, F_WORD);
  set(WORD, {C_LESS}, F_WORD);
  set(WORD, {C_COLON}, 53);
  set(WORD, {C_SLASH}, F_PATH);
  set(WORD, {C_AT}, 56);
  set(WORD, {C_DOLLAR}, 36);
  set(WORD, {C_COMMA, C_PERCENT, C_BACKSLASH}, F_ERROR);
  // 39-42: hexadecimal; 40 a hex letter first (word or hex); 41 its h; 42 h after digits.
  fill(39, F_ERROR);
  set(39, DIGIT_CLASSES, 39);
  set(39, {C_HEX_UP, C_E_UP}, 39);
  set(39, {C_H}, 42);
  copy_row(40, WORD);
  set(40, DIGIT_CLASSES, 40);
  set(40, {C_HEX_UP, C_E_UP}, 40);
  set(40, {C_H}, 41);
  copy_row(41, WORD);
  set(41, ENDS, F_HEX);
  fill(42, F_ERROR);
  set(42, ENDS, F_HEX);
  set(42, {C_COMMA}, F_HEX);
  // 43: after <; 44 tag body; 45, 46 quoted runs in a tag.
  fill(43, 44);
  set(43, {C_LESS, C_EQUAL, C_GREATER}, 58);
  set(43, ENDS, F_WORD);
  fill(44, 44);
  set(44, {C_QUOTE}, 45);
  set(44, {C_APOSTROPHE}, 46);
  set(44, {C_GREATER}, F_TAG);
  set(44, {C_END}, F_ERROR);
  fill(45, 45);
  set(45, {C_QUOTE}, 44);
  set(45, {C_END}, F_ERROR);
  fill(46, 46);
  set(46, {C_APOSTROPHE}, 44);
  set(46, {C_END}, F_ERROR);
  // 49: after a dot.
  fill(49, F_ERROR);
  set(49, DIGIT_CLASSES, 25);
  set(49, LETTERS, WORD);
  set(49, {C_DOT, C_PLUS, C_MINUS, C_EQUAL, C_GREATER}, WORD);
  set(49, ENDS, F_WORD);
  // 51: after an apostrophe or colon.
  fill(51, F_ERROR);
  set(51, LETTERS, WORD);
  set(51, {C_PLUS, C_MINUS, C_CARET, C_DOT}, WORD);
  set(51, {C_LESS, C_GREATER, C_EQUAL}, 58);
  set(51, {C_SLASH}, 54);
  // 53: word then colon (set-word, or url when more follows); 55 url body.
  fill(53, 55);
  set(53, ENDS, F_WORD);
  set(53, {C_COLON, C_COMMA}, F_ERROR);
  fill(55, 55);
  set(55, ENDS, F_URL);
  // 56: email; 57 ref.
  fill(56, 56);
  set(56, ENDS, F_EMAIL);
  fill(57, 57);
  set(57, ENDS, F_REF);
  // 58: operator words of < = > and friends.
  fill(58, F_ERROR);
  set(58, {C_LESS, C_GREATER, C_EQUAL, C_PLUS, C_MINUS, C_CARET, C_WORD}, 58);
  set(58, {C_X, C_T, C_H, C_E_LOW, C_E_UP, C_HEX_LOW, C_HEX_UP, C_CONTINUATION}, WORD);
  set(58, {C_COLON}, 53);
  set(58, ENDS, F_WORD);
  // 59-64: path items.
  fill(59, F_ERROR);
  set(59, DIGIT_CLASSES, 60);
  set(59, {C_PAREN_OPEN}, F_PAREN);
  set(59, {C_QUOTE}, STRING);
  set(59, {C_SHARP}, 63);
  set(59, {C_APOSTROPHE, C_COLON}, 61);
  set(59, LETTERS, 62);
  set(59, {C_CARET, C_EQUAL, C_GREATER}, 62);
  set(59, {C_LESS}, 43);
  set(59, {C_AT}, 57);
  set(59, {C_DOLLAR}, 36);
  set(59, {C_PERCENT}, FILE_START);
  set(59, SIGNS, 64);
  fill(60, F_ERROR);
  set(60, DIGIT_CLASSES, 60);
  set(60, {C_APOSTROPHE}, 60);
  set(60, ENDS, F_INTEGER);
  set(60, {C_SLASH, C_COLON, C_COMMA, C_LESS}, F_INTEGER);
  fill(61, F_ERROR);
  set(61, LETTERS, 62);
  fill(62, 62);
  set(62, ENDS, F_WORD);
  set(62, {C_SLASH, C_COLON, C_LESS}, F_WORD);
  set(62, {C_COMMA, C_PERCENT, C_BACKSLASH, C_AT, C_DOLLAR}, F_ERROR);
  copy_row(63, SHARP);
  fill(64, F_ERROR);
  set(64, DIGIT_CLASSES, 60);
  set(64, LETTERS, 62);
  set(64, ENDS, F_WORD);
  set(64, {C_SLASH, C_COLON}, F_WORD);
  // Every row: invalid bytes end the token as an error.
  for (int s = 0; s < ROW_COUNT; ++s) transition[s][C_INVALID] = F_ERROR;
}

void build_state_tables() {
  for (int s = 0; s < TYPE_STATES; ++s) {
    blank_skip[s] = s == 0;
    type_table[s] = 0;
  }
  // Guesses for unfinished tokens.
  auto guess = [](std::initializer_list<int> states, int type) {
    for (int s : states) type_table[s] = int8_t(type);
  };
  guess({2, 3, 4, 5, 10, 11, 12}, T_STRING);
  guess({6, 7, 8, 9, 50}, T_FILE);
  guess({13, 15}, T_REFINEMENT);
  guess({14, 47, 48, 49, 51, 52, 54, 58, 40, 41, 43}, T_WORD);
  guess({16, 22}, T_ISSUE);
  guess({17, 18}, T_BINARY);
  guess({19, 20}, T_CHAR);
  guess({23, 39, 42}, T_INTEGER);
  guess({24, 25, 26, 27, 28}, T_FLOAT);
  guess({29}, T_TUPLE);
  guess({30}, T_DATE);
  guess({31, 32}, T_TIME);
  guess({33, 34}, T_PAIR);
  guess({35}, T_POINT2D);
  guess({36, 37, 38}, T_MONEY);
  guess({44, 45, 46}, T_TAG);
  guess({53}, T_SET_WORD);
  guess({55}, T_URL);
  guess({56}, T_EMAIL);
  guess({57}, T_REF);
  guess({59, 60, 61, 62, 63, 64}, T_PATH);
  // Finals: the type of their token.
  static const int8_t finals[SLOT_COUNT] = {
      0, 34, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 7, 15, 20, 11, 19, 10, 8,
      41, 38, 12, 12, 39, 47, 37, 51, 43, 49, 44, 9, 45, 11, 7, 50};
  for (int i = 0; i < SLOT_COUNT; ++i) type_table[FIRST_FINAL + i] = finals[i];
}

// Unicode blanks skipped before a word and cutting it inside.
bool unicode_blank_q(int32_t c) {
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0x180E;
}

uint8_t* shared_buffer = nullptr;
int32_t shared_fill = 0;

void grow_value_stack() {
  int32_t capacity = value_capacity * 2;
  Cell* bigger = static_cast<Cell*>(rt::realloc(value_stack, size_t(capacity) * sizeof(Cell)));
  if (!bigger) error::raise(err::internal::no_memory);
  value_stack = bigger;
  value_capacity = capacity;
}

}  // namespace

bool unicode_blank(int32_t c) { return unicode_blank_q(c); }

void init_static() {
  if (tables_built) return;
  build_classes();
  build_transitions();
  build_state_tables();
  for (int i = 0; i < SLOT_COUNT; ++i) {
    scanners[i] = handler_pairs[i].scanner;
    loaders[i] = handler_pairs[i].loader;
  }
  tables_built = true;
}

void init() {
  init_static();
  if (!value_stack) {
    value_capacity = VALUE_STACK_CELLS;
    value_stack = static_cast<Cell*>(rt::alloc(size_t(value_capacity) * sizeof(Cell)));
  }
  if (!shared_buffer) shared_buffer = static_cast<uint8_t*>(rt::alloc(BUFFER_BYTES));
  shared_fill = 0;
  chain = nullptr;
  gc::state().roots.mark_lexer_states = &mark_states;
}

void shutdown() {
  if (value_stack) rt::free(value_stack);
  if (shared_buffer) rt::free(shared_buffer);
  value_stack = nullptr;
  shared_buffer = nullptr;
  value_capacity = 0;
  shared_fill = 0;
  chain = nullptr;
}

uint8_t* buffer() { return shared_buffer; }
int32_t& buffer_fill() { return shared_fill; }

// ---- Chain ----

State* chain_head() { return chain; }
State* innermost() {
  State* s = chain;
  while (s && s->next) s = s->next;
  return s;
}
void link(State* s) {
  s->next = nullptr;
  s->prev = innermost();
  if (s->prev) s->prev->next = s;
  else chain = s;
}
void unlink(State* s) {
  if (s->prev) s->prev->next = nullptr;
  else if (chain == s) chain = nullptr;
  s->prev = nullptr;
}

// ---- Value stack ----

Cell* stack_cell(int32_t index) { return value_stack + index; }
int32_t stack_capacity() { return value_capacity; }

Cell* push_cell(State* s) {
  if (s->tail >= value_capacity) grow_value_stack();
  Cell* c = value_stack + s->tail++;
  *c = Cell{T_NONE | (s->lines_passed > 0 ? hdr::NEW_LINE : 0u), 0, 0, 0};
  return c;
}

void open_series(State* s, uint32_t type, int32_t offset) {
  int32_t gap = s->tail - s->head;
  Cell* m = push_cell(s);
  m->header = (m->header & hdr::NEW_LINE) | T_TRIPLE;
  m->w1 = uint32_t(gap);
  m->w2 = type;
  m->w3 = uint32_t(offset);
  s->head = s->tail;
}

Cell* open_marker(State* s) {
  if (s->head <= s->base) return nullptr;
  Cell* m = value_stack + s->head - 1;
  return cell::type(m) == T_TRIPLE ? m : nullptr;
}

namespace {
bool path_type_q(uint32_t t) { return t >= T_PATH && t <= T_GET_PATH; }
}  // namespace

void close_series(State* s, uint32_t type) {
  Cell* m = value_stack + s->head - 1;
  int32_t marker = s->head - 1;
  int32_t previous_head = marker - int32_t(m->w1);
  uint32_t new_line = m->header & hdr::NEW_LINE;
  if (s->load) {
    Cell value = load::series_from_cells(s, type, s->head, s->tail);
    value.header = (value.header & ~hdr::NEW_LINE) | new_line;
    value_stack[marker] = value;
    s->tail = marker + 1;
  } else {
    s->tail = marker;
  }
  s->head = previous_head;
  Cell* outer = open_marker(s);
  s->entry_state = (outer && path_type_q(outer->w2 & 0xFFFF)) ? st::PATH_ITEM : st::START;
}

void drop_open_series(State* s) {
  while (Cell* m = open_marker(s)) {
    int32_t marker = s->head - 1;
    s->head = marker - int32_t(m->w1);
    s->tail = marker;
  }
}

// ---- Input ----

const uint8_t* input(const State* s) {
  if (s->fixed) return s->fixed;
  SeriesBuffer* b = memory::node_buffer(s->source.w2);
  return memory::data(b) + s->source_head;
}

// ---- Syntax errors ----

namespace {

// Near text: from start to a line feed, the end or 30 bytes, whole characters only.
int32_t near_end(const uint8_t* in, int32_t start, int32_t length) {
  int32_t e = start;
  while (e < length && e - start < 30 && in[e] != '\n') {
    int32_t n = 1;
    uint8_t b = in[e];
    if (b >= 0xF0) n = 4;
    else if (b >= 0xE0) n = 3;
    else if (b >= 0xC0) n = 2;
    if (e + n - start > 30 || e + n > length) break;
    e += n;
  }
  return e;
}

uint32_t missing_char(uint32_t type, int32_t offending) {
  switch (type) {
    case T_BLOCK: case T_MAP: return offending == ']' ? '[' : ']';
    case T_PAREN: case T_POINT2D: case T_POINT3D: return offending == ')' ? '(' : ')';
    case T_STRING: return '}';
    default: return 0;
  }
}

}  // namespace

void syntax_error(State* s, int32_t start, int32_t end, int32_t code) {
  (void)end;
  if (!s->load) {
    s->token_type = T_ERROR;
    escape();
  }
  if (start < 0) {
    Cell* m = open_marker(s);
    start = m ? int32_t(m->w3) : 0;
  }
  if (s->native_callback || cell::type(&s->callback) != T_NONE) {
    int32_t type = code > 0 ? code
                   : s->pending_type > 0 ? s->pending_type
                   : s->token_type > 0 ? s->token_type
                   : s->forced_type > 0 ? s->forced_type
                   : int32_t(T_ERROR);
    if (Cell* m = open_marker(s)) {
      if (path_type_q(m->w2 & 0xFFFF)) close_series(s, m->w2 & 0xFFFF);
    }
    s->moved_to = -1;
    bool raise_it = send_event(s, ev::ERROR, type, nullptr, start, s->token_end);
    if (!raise_it) {
      if (s->moved_to >= 0) {
        s->pos = s->moved_to;
      } else if (s->pos <= s->token_start) {
        // Nothing consumed: step over one character so the scan cannot stall.
        const uint8_t* in = input(s);
        int32_t p = s->token_start;
        int32_t n = 1;
        if (p < s->length) {
          uint8_t b = in[p];
          n = b >= 0xF8 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 1;
        }
        s->pos = p + n > s->length ? s->length : p + n;
      }
      s->moved_to = -1;
      s->pending_type = 0;
      s->token_type = 0;
      escape();
    }
  }
  uint32_t pending = uint32_t(s->pending_type);
  if (pending >= T_PATH && pending <= T_GET_PATH) code = -1;
  drop_open_series(s);
  const uint8_t* in = input(s);
  if (start > s->length) start = s->length;
  int32_t offending = code == -4 ? '_' : (s->token_end < s->length ? in[s->token_end] : 0);
  int32_t near_stop = near_end(in, start, s->length);
  load::ErrorTexts texts = load::error_texts(s, start, near_stop);
  gc::Root r1(&texts.line_text), r2(&texts.near_text);
  if (code == -1) error::raise(err::syntax::bad_char, &texts.line_text, &texts.near_text);
  if (code == -2) error::raise(err::syntax::malconstruct, &texts.line_text, &texts.near_text);
  if (code == -3 || code == -4) {
    Cell c{T_CHAR, 0, missing_char(pending, offending), 0};
    error::raise(err::syntax::missing, &texts.line_text, &c, &texts.near_text);
  }
  Cell type{T_DATATYPE, uint32_t(code), 0, 0};
  error::raise(err::syntax::invalid, &texts.line_text, &type, &texts.near_text);
}

// ---- The scan loop ----

namespace {

// Bytes of the token's stopping character that belong to the token.
int32_t closing_bytes(const State* s, int state, const uint8_t* in) {
  switch (state) {
    case st::F_STRING: case st::F_CHAR: case st::F_BINARY: case st::F_TAG: case st::F_POINT:
    case st::F_PERCENT: case st::F_CONSTRUCT:
      return s->token_end < s->length ? 1 : 0;
    case st::F_FILE:
      return s->token_end < s->length && in[s->token_end] == '"' ? 1 : 0;
    default:
      return 0;
  }
}

bool has_callback(const State* s) {
  return s->native_callback || cell::type(&s->callback) != T_NONE;
}

// Runs a handler; true when it ended by the lexer's escape.
template <class F>
bool escaped(F&& f) {
  try {
    f();
  } catch (const Unwind& u) {
    if (u.code != ESCAPE) throw;
    return true;
  }
  return false;
}

}  // namespace

void scan_loop(State* s, bool one_value, bool prescan) {
  int32_t carry_lines = 0;
  for (;;) {
    // 1. Start a token.
    int entry = s->entry_state;
    int state = entry;
    int prev = state;
    int32_t start = s->pos;
    int32_t skip = 0;
    uint32_t flags = 0;
    int32_t line = s->line;
    // 2. Two table loads per byte.
    {
      const uint8_t* in = input(s);
      const uint8_t* p = in + s->pos;
      const uint8_t* end = in + s->length;
      while (p < end) {
        uint32_t entry_bits = class_table[*p];
        flags |= entry_bits & flag::MASK;
        prev = state;
        state = transition[state][entry_bits & 0xFF];
        skip += state == 0;
        if (state > 65) break;
        line += (entry_bits & 0xFF) == C_LF;
        ++p;
      }
      // 3. The NUL column at the input end.
      if (p >= end) {
        prev = state;
        state = transition[state][C_END];
      }
      // 4. Record the token.
      s->token_start = start + skip;
      s->pos = s->token_end = int32_t(p - in);
    }
    s->lines_passed = line - s->line + carry_lines;
    carry_lines = 0;
    s->line = line;
    s->prev_state = prev;
    s->forced_type = -1;
    s->token_type = type_table[state];
    s->moved_to = -1;
    int slot = state - FIRST_FINAL;
    // 5. Prescan: structure scanners run at once.
    bool structure_done = false;
    if (prescan && slot <= 13) {
      structure_done = true;
      if (escaped([&] { scanners[slot](s, s->token_start, s->token_end, flags, false); }))
        return;
    }
    // 6. Unicode blanks before a word.
    if (state == st::F_WORD && (flags & (flag::UTF8_2_3 | flag::UTF8_4))) {
      const uint8_t* in = input(s);
      int32_t q = s->token_start;
      while (q < s->token_end) {
        int32_t c;
        const uint8_t* next = load::read_char(in + q, in + s->token_end, &c);
        if (!unicode_blank_q(c)) break;
        q = int32_t(next - in);
      }
      if (q > s->token_start) {
        if (q < s->token_end) {
          s->pos = q;  // rescan from the first character after the blanks
          carry_lines = s->lines_passed;
          continue;
        }
        if (s->token_end < s->length) {
          carry_lines = s->lines_passed;
          continue;
        }
        state = st::F_END;
        slot = 0;
        s->token_type = 0;
        s->token_start = s->token_end;
      }
    }
    // 7. Whether to go on with this token.
    bool go;
    if (has_callback(s)) {
      if (entry == st::BRACED) {
        go = true;
      } else {
        int32_t type = s->token_type > 0 ? s->token_type : -(slot + 1);
        go = send_event(s, ev::PRESCAN, type, nullptr, s->token_start, s->pos);
      }
    } else {
      go = !prescan;
    }
    // 8. Scan and load.
    const uint8_t* in = input(s);
    if (slot >= 13 && !structure_done) s->pos = s->token_end + closing_bytes(s, state, in);
    if (slot >= 13) load::finish_token(s, state);
    if (go && !(prescan && slot <= 13)) {
      bool load_due = s->load;
      if (slot <= 12) {
        if (escaped([&] { scanners[slot](s, s->token_start, s->token_end, flags, s->load); }) &&
            !load_due)
          return;
      } else {
        Handler scanner = scanners[slot];
        Handler loader = loaders[slot];
        bool scan_events = has_callback(s) && (s->event_mask & ev::SCAN);
        // A loader checks its own token, so loading without scan events needs no separate
        // check pass (the errors are the same).
        bool check = !s->load || scan_events || (scanner && slot != 13);
        if (check) {
          bool esc = escaped([&] {
            if (scanner) scanner(s, s->token_start, s->token_end, flags, false);
            else loader(s, s->token_start, s->token_end, flags, false);
          });
          if (esc) {
            if (!s->load) return;
            load_due = false;
          } else if (has_callback(s)) {
            int32_t type = s->forced_type > 0 ? s->forced_type : s->token_type;
            load_due = send_event(s, ev::SCAN, type, nullptr, s->token_start, s->pos) &&
                       load_due;
          }
        }
        if (load_due && loader) {
          int32_t before = s->tail;
          bool esc = escaped([&] { loader(s, s->token_start, s->token_end, flags, true); });
          if (!esc && has_callback(s) && s->tail > before) {
            int32_t type = s->forced_type > 0 ? s->forced_type : s->token_type;
            Cell value = *stack_cell(s->tail - 1);
            gc::Root keep(&value);
            if (!send_event(s, ev::LOAD, type, &value, s->token_start, s->pos))
              s->tail = before;
          }
        }
      }
    }
    if (s->moved_to >= 0) {
      s->pos = s->moved_to;
      s->moved_to = -1;
    } else if (s->pos <= s->token_start && s->pos < s->length && slot != 0) {
      // A token skipped by an event consumed nothing: step over its first character.
      s->pos = load::next_char_offset(s, s->token_start);
    }
    // 9. Path continuation.
    if (s->entry_state == st::PATH_ITEM && state != st::F_PATH && state != st::F_ERROR) {
      if (escaped([&] { load::continue_path(s); }) && !s->load) return;
    }
    // 10. One value (or prescan): stop after the first complete top-level value.
    if ((one_value || prescan) && s->token_type > 0 && !open_marker(s)) {
      int32_t produced = s->tail - s->base;
      if (produced == 0 || (produced == 1 && cell::type(stack_cell(s->base)) != T_TRIPLE)) {
        return;
      }
    }
    // 11. At the input end.
    s->last_type = s->token_type;
    if (s->pos >= s->length) {
      if (s->entry_state == st::BRACED && s->brace_depth > 0) {
        s->pending_type = T_STRING;
        s->token_end = s->length;
        syntax_error(s, s->brace_start, s->length, -4);
      }
      return;
    }
  }
}

// ---- Collector root ----

void mark_states() {
  for (State* s = chain; s; s = s->next) {
    if (s->tail > s->base) gc::mark_cells(value_stack + s->base, value_stack + s->tail);
    gc::mark_cells(&s->source, &s->source + 1);
    gc::mark_cells(&s->callback, &s->callback + 1);
  }
}

}  // namespace kel::lexer

namespace kel {
void lexer_init() { lexer::init(); }
void lexer_mark_states() { lexer::mark_states(); }
}  // namespace kel
