// The 62 action entry points (stack forms) generated from the action slot list, with the
// particular rules of make/to, form/mold, compare, /part, copy's kind and pick/poke.
#include <cmath>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/rt.h"
#include "runtime/stack.h"

namespace kel::actions {

namespace {

namespace act = datatype::action;

inline Cell* arg(int i) { return stack::state().base + i; }
inline Cell* ref_cell(int32_t r) { return r < 0 ? nullptr : stack::state().base + r; }
inline bool on(int32_t r) { return r != -1; }

int32_t word_field(const Cell* f) { return int32_t(f->w2); }

Cell word_named(const char* text) { return word::intern_global(text); }

void result_from(const Cell* c) {
  Cell v = *c;
  stack::set_only_result(&v);
}

// Frame-only entries: the slot reads the frame and writes the result itself.
template <uint32_t K>
void entry(const int32_t*) {
  reinterpret_cast<datatype::FrameFn>(resolve_for_cell(arg(0), K))();
}

template <uint32_t K>
void make_or_to(const int32_t*) {
  uint32_t type = make_type_of(arg(0));
  datatype::AnySlot fn = type < datatype::TABLE_TYPES ? datatype::any_slot(type, K) : nullptr;
  if (!fn) {
    Cell f = stack::current_function_word();
    Cell dt{T_DATATYPE, type, 0, 0};
    Cell a = error::nth_argument_word(0);
    error::raise(err::script::expect_arg, &f, &dt, &a);
  }
  Cell* r = reinterpret_cast<datatype::MakeFn>(fn)(arg(0), arg(1), type);
  result_from(r);
}

template <> void entry<act::MAKE>(const int32_t* r) { make_or_to<act::MAKE>(r); }
template <> void entry<act::TO>(const int32_t* r) { make_or_to<act::TO>(r); }

template <> void entry<act::RANDOM>(const int32_t* r) {
  direct<act::RANDOM>(arg(0), on(r[0]), on(r[1]), on(r[2]));
}

template <> void entry<act::REFLECT>(const int32_t*) {
  Cell* f = arg(1);
  int32_t field = word_field(f);
  result_from(direct<act::REFLECT>(arg(0), field));
}

template <> void entry<act::FORM>(const int32_t* r) {
  Cell* s = form(arg(0), ref_cell(r[0]));
  result_from(s);
}

template <> void entry<act::MOLD>(const int32_t* r) {
  Cell* s = mold(arg(0), on(r[0]), on(r[1]), on(r[2]), ref_cell(r[3]));
  result_from(s);
}

template <> void entry<act::EVAL_PATH>(const int32_t* r) {
  uint32_t t = cell::type(arg(0));
  auto fn = t < datatype::TABLE_TYPES ? datatype::slot<act::EVAL_PATH>(t) : nullptr;
  if (!fn) {
    Cell dt{T_DATATYPE, t, 0, 0};
    error::raise(err::script::bad_path_type2, arg(1), &dt);
  }
  Cell* v = (r && r[0]) ? arg(2) : nullptr;
  result_from(fn(arg(0), arg(1), v, nullptr, nullptr, nullptr, -1, false, false, true, false));
}

template <> void entry<act::COMPARE>(const int32_t*) {
  bool truth = compare(arg(0), arg(1), cell::get_int(arg(2)));
  Cell v{T_INTEGER, 0, truth ? 1u : 0u, 0};
  stack::set_only_result(&v);
}

template <> void entry<act::ROUND>(const int32_t* r) {
  direct<act::ROUND>(arg(0), ref_cell(r[0]), on(r[1]), on(r[2]), on(r[3]), on(r[4]), on(r[5]),
                     on(r[6]));
}

template <uint32_t K>
void predicate(const int32_t*) {
  bool truth = direct<K>(arg(0));
  Cell v{T_LOGIC, truth ? 1u : 0u, 0, 0};
  stack::set_only_result(&v);
}
template <> void entry<act::EVEN_Q>(const int32_t* r) { predicate<act::EVEN_Q>(r); }
template <> void entry<act::ODD_Q>(const int32_t* r) { predicate<act::ODD_Q>(r); }

template <uint32_t K>
void insert_like(const int32_t* r) {
  Cell* series = arg(0);
  Cell* value = arg(1);
  int32_t part = -1;
  if (on(r[0]) && !part_count_for(value, ref_cell(r[0]), true, &part)) {
    result_from(series);
    return;
  }
  int32_t dup = 1;
  if (on(r[2])) {
    Cell* d = ref_cell(r[2]);
    dup = cell::type(d) == T_FLOAT ? int32_t(cell::get_double(d)) : cell::get_int(d);
    if (dup <= 0) {
      result_from(series);
      return;
    }
  }
  direct<K>(series, value, part, on(r[1]), dup, K == act::APPEND);
}
template <> void entry<act::APPEND>(const int32_t* r) { insert_like<act::APPEND>(r); }
template <> void entry<act::INSERT>(const int32_t* r) { insert_like<act::INSERT>(r); }

template <> void entry<act::CHANGE>(const int32_t* r) {
  Cell* series = arg(0);
  int32_t part = -1;
  if (on(r[0])) part_count_for(series, ref_cell(r[0]), false, &part);
  int32_t dup = 1;
  if (on(r[2])) {
    Cell* d = ref_cell(r[2]);
    dup = cell::type(d) == T_FLOAT ? int32_t(cell::get_double(d)) : cell::get_int(d);
  }
  direct<act::CHANGE>(series, arg(1), part, on(r[1]), dup);
}

template <uint32_t K>
void unary_cell(const int32_t*) {
  result_from(direct<K>(arg(0)));
}
template <> void entry<act::CLEAR>(const int32_t* r) { unary_cell<act::CLEAR>(r); }
template <> void entry<act::CREATE>(const int32_t* r) { unary_cell<act::CREATE>(r); }
template <> void entry<act::CLOSE>(const int32_t* r) { unary_cell<act::CLOSE>(r); }
template <> void entry<act::DELETE>(const int32_t* r) { unary_cell<act::DELETE>(r); }
template <> void entry<act::OPEN_Q>(const int32_t* r) { unary_cell<act::OPEN_Q>(r); }
template <> void entry<act::QUERY>(const int32_t* r) { unary_cell<act::QUERY>(r); }
template <> void entry<act::UPDATE>(const int32_t* r) { unary_cell<act::UPDATE>(r); }

template <> void entry<act::COPY>(const int32_t* r) {
  Cell* kind = ref_cell(r[2]);
  if (kind && cell::type(kind) != T_DATATYPE && cell::type(kind) != T_TYPESET) {
    Cell f = stack::current_function_word();
    Cell dt{T_DATATYPE, cell::type(kind), 0, 0};
    Cell w = word_named("kind");
    error::raise(err::script::expect_arg, &f, &dt, &w);
  }
  Cell* result = stack::reserve_cell();
  *result = Cell{T_UNSET, 0, 0, 0};
  result_from(direct<act::COPY>(arg(0), result, ref_cell(r[0]), on(r[1]), kind));
}

template <> void entry<act::FIND>(const int32_t* r) {
  result_from(direct<act::FIND>(arg(0), arg(1), ref_cell(r[0]), on(r[1]), on(r[2]), on(r[3]),
                                on(r[4]), ref_cell(r[5]), ref_cell(r[6]), on(r[7]), on(r[8]),
                                on(r[9]), on(r[10])));
}

template <> void entry<act::SELECT>(const int32_t* r) {
  result_from(direct<act::SELECT>(arg(0), arg(1), ref_cell(r[0]), on(r[1]), on(r[2]), on(r[3]),
                                  on(r[4]), ref_cell(r[5]), ref_cell(r[6]), on(r[7]), on(r[8])));
}

template <> void entry<act::LENGTH_Q>(const int32_t*) {
  int32_t n = direct<act::LENGTH_Q>(arg(0));
  Cell v = n < 0 ? Cell{T_NONE, 0, 0, 0} : Cell{T_INTEGER, 0, uint32_t(n), 0};
  stack::set_only_result(&v);
}

template <> void entry<act::MOVE>(const int32_t* r) {
  result_from(direct<act::MOVE>(arg(0), arg(1), ref_cell(r[0])));
}

template <> void entry<act::PICK>(const int32_t*) {
  result_from(direct<act::PICK>(arg(0), pick_index(arg(1)), arg(1)));
}

template <> void entry<act::POKE>(const int32_t*) {
  direct<act::POKE>(arg(0), pick_index(arg(1)), arg(2), arg(1));
  result_from(arg(2));
}

template <> void entry<act::PUT>(const int32_t* r) {
  result_from(direct<act::PUT>(arg(0), arg(1), arg(2), on(r[0])));
}

template <> void entry<act::REMOVE>(const int32_t* r) {
  direct<act::REMOVE>(arg(0), ref_cell(r[0]), ref_cell(r[1]));
}

template <> void entry<act::REVERSE>(const int32_t* r) {
  direct<act::REVERSE>(arg(0), ref_cell(r[0]), ref_cell(r[1]));
}

template <> void entry<act::SORT>(const int32_t* r) {
  result_from(direct<act::SORT>(arg(0), on(r[0]), ref_cell(r[1]), ref_cell(r[2]),
                                ref_cell(r[3]), on(r[4]), on(r[5]), on(r[6])));
}

template <> void entry<act::SWAP>(const int32_t*) { direct<act::SWAP>(arg(0), arg(1)); }

template <> void entry<act::RENAME>(const int32_t*) {
  result_from(direct<act::RENAME>(arg(0), arg(1)));
}

template <> void entry<act::TAKE>(const int32_t* r) {
  result_from(direct<act::TAKE>(arg(0), ref_cell(r[0]), on(r[1]), on(r[2])));
}

template <> void entry<act::TRIM>(const int32_t* r) {
  direct<act::TRIM>(arg(0), on(r[0]), on(r[1]), on(r[2]), on(r[3]), on(r[4]), ref_cell(r[5]));
}

template <> void entry<act::MODIFY>(const int32_t* r) {
  direct<act::MODIFY>(arg(0), arg(1), arg(2), on(r[0]));
  result_from(arg(0));
}

template <> void entry<act::OPEN>(const int32_t* r) {
  result_from(direct<act::OPEN>(arg(0), on(r[0]), on(r[1]), on(r[2]), on(r[3]), ref_cell(r[4])));
}

template <> void entry<act::READ>(const int32_t* r) {
  result_from(direct<act::READ>(arg(0), ref_cell(r[0]), ref_cell(r[1]), on(r[2]), on(r[3]),
                                on(r[4]), ref_cell(r[5])));
}

template <> void entry<act::WRITE>(const int32_t* r) {
  result_from(direct<act::WRITE>(arg(0), arg(1), on(r[0]), on(r[1]), on(r[2]), on(r[3]),
                                 ref_cell(r[4]), ref_cell(r[5]), ref_cell(r[6]), ref_cell(r[7])));
}

}  // namespace

EntryFn entry_table[62] = {
#define KEL_ENTRY(k, member, name) (k == act::SET_PATH ? nullptr : &entry<k>),
    KEL_ACTION_SLOTS(KEL_ENTRY)
#undef KEL_ENTRY
};

void build_table() {
  // The table is static; nothing to allocate. Entry 8 stays empty.
}

int32_t pick_index(const Cell* index) {
  switch (cell::type(index)) {
    case T_INTEGER: case T_CHAR: return cell::get_int(index);
    case T_LOGIC: return index->w1 ? 1 : 2;
    default: return 0;
  }
}

namespace {
bool series_type_q(uint32_t t) {
  switch (t) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH: case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
    case T_BINARY: case T_VECTOR: case T_IMAGE: case T_MAP:
      return true;
    default: return false;
  }
}

int32_t clamped_index(const Cell* s) {
  if (cell::type(s) == T_IMAGE) {  // w2 is a record id, not a node
    int64_t n = int64_t(s->w3 & 0xFFFF) * (s->w3 >> 16);
    return int32_t(s->w1 > n ? n : s->w1);
  }
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t n = (b->tail - b->head) / memory::unit(b);
  return int32_t(s->w1 > n ? n : s->w1);
}
}  // namespace

bool part_count_for(Cell* reference, const Cell* part, bool value_is_reference, int32_t* count) {
  uint32_t rt_ = cell::type(reference);
  if (value_is_reference && (!series_type_q(rt_) || !reference->w2))
    error::raise(err::script::invalid_part, part);
  int32_t n;
  switch (cell::type(part)) {
    case T_INTEGER: n = cell::get_int(part); break;
    case T_FLOAT: {
      double d = cell::get_double(part);
      n = std::isnan(d) ? 0 : d > 2147483647.0 ? 2147483647 : d < -2147483648.0 ? INT32_MIN : int32_t(d);
      break;
    }
    default:
      if (cell::type(part) != rt_ || part->w2 != reference->w2) {
        Cell w = word_named("part");
        error::raise(err::script::invalid_refine_arg, &w, part);
      }
      n = clamped_index(part) - clamped_index(reference);
      break;
  }
  if (n < 0) {
    int32_t at = clamped_index(reference);
    if (value_is_reference && at == 0) return false;
    int32_t back = at + n < 0 ? 0 : at + n;
    n = at - back;
    reference->w1 = uint32_t(back);
  }
  *count = n;
  return !(value_is_reference && n == 0);
}

}  // namespace kel::actions
