// Tests of function! values: the spec grammar and its errors, building and binding, locals
// for `function`, reflect, mold, form, compare, frame defaults and the argument cache.
#include "function_fixture.h"

namespace kel::test {
namespace {

using FunctionSpecTest = FunctionTest;

// Rows: Kel text => result.
// mold func [a][a + 1]            => "func [a][a + 1]"
// form func [a][a]                => "?function?"
// mold func [a /b "doc"][]        => {func [a /b "doc"][]}
// mold make function! [[a][a]]    => "func [a][a]"
TEST_F(FunctionTest, MoldAndForm) {
  EXPECT_EQ(mold(func("a", "a + 1")), "func [a][a + 1]");
  EXPECT_EQ(form(func("a", "a")), "?function?");
  EXPECT_EQ(mold(func("a /b \"doc\"", "")), "func [a /b \"doc\"][]");
  EXPECT_EQ(mold(make(T_FUNCTION, load("[a] [a]"))), "func [a][a]");
}

// func [a [integer!] "doc" /ref b return: [string!]][]  => accepted
// func [[trace] a][]        => accepted, trace flag
// func ["doc" a "more" :b 'c /r d "x" /local e [integer!] f "y"][] => accepted
// func [a return: [integer!] "doc" /local x][]                     => accepted
TEST_F(FunctionSpecTest, ValidSpecs) {
  EXPECT_EQ(function::check_spec(load("a [integer!] \"doc\" /ref b return: [string!]")), 0u);
  EXPECT_EQ(function::check_spec(load("[trace] a")), function::FLAG_TRACE);
  EXPECT_EQ(function::check_spec(load("[no-trace other] a")), function::FLAG_NO_TRACE);
  EXPECT_EQ(function::check_spec(load("\"doc\" a \"more\" :b 'c /r d \"x\" /local e [integer!] f \"y\"")),
            0u);
  EXPECT_EQ(function::check_spec(load("a return: [integer!] \"doc\" /local x")), 0u);
  EXPECT_EQ(function::check_spec(load("")), 0u);
  Cell* f = func("[trace] a", "a");
  EXPECT_EQ(f->header, T_FUNCTION | function::FLAG_TRACE);
}

// func [a b a][]    => !! script/dup-vars (the later a)
// func [a A][]      => !! script/dup-vars (A)
// func [a /a][]     => !! script/dup-vars
// func [/local x x][] => !! script/dup-vars
TEST_F(FunctionSpecTest, DuplicatesNameTheLaterWord) {
  EXPECT_ERROR(function::check_spec(load("a b a")), err::script::dup_vars);
  EXPECT_EQ(error::pending().args[0].w2, uint32_t(symbol_of("a")));
  EXPECT_ERROR(function::check_spec(load("a A")), err::script::dup_vars);
  EXPECT_EQ(error::pending().args[0].w2, uint32_t(symbol_of("A")));
  EXPECT_ERROR(function::check_spec(load("a /a")), err::script::dup_vars);
  EXPECT_ERROR(function::check_spec(load("/local x x")), err::script::dup_vars);
  // return: is a set-word and does not count.
  EXPECT_EQ(function::check_spec(load("return [integer!] return: [integer!]")), 0u);
}

// func [/local :x][]               => !! script/bad-func-def
// func [/local a /ref][]           => !! script/bad-func-def
// func [a "doc" [integer!]][]      => !! script/bad-func-def
// func [a return: [integer!] b][]  => !! script/bad-func-def
// func [/local 'x][]; func [/local a return: [integer!]][]; func [return: [integer!] return: [integer!]][]
// func [a: 1][]; func [return: 1][]; func [return:][]; func [1][]; func [/r [integer!]][]
// func [[1] a][]; func [a [] []][]; func [a] with an attribute block not at the head
TEST_F(FunctionSpecTest, BadDefinitions) {
  for (const char* spec :
       {"/local :x", "/local a /ref", "a \"doc\" [integer!]", "a return: [integer!] b",
        "/local 'x", "/local a return: [integer!]", "return: [integer!] return: [integer!]",
        "a: 1", "return: 1", "return:", "1", "/r [integer!]", "[1] a", "a [integer!] [integer!]",
        "return: [integer!] /r", "return: [integer!] a", "/r 1",
        "return: [integer!] [integer!]"}) {
    SCOPED_TRACE(spec);
    EXPECT_ERROR(function::check_spec(load(spec)), err::script::bad_func_def);
  }
  // The argument is the whole spec block.
  EXPECT_ERROR(function::check_spec(load("a 1")), err::script::bad_func_def);
  EXPECT_EQ(cell::type(&error::pending().args[0]), uint32_t(T_BLOCK));
}

// func [a [1]][]             => !! script/invalid-type-spec
// func [a [foo]][] (foo unset) => !! script/no-value
// make function! [[a]]       => !! script/bad-func-def
// make function! [[a] 1]     => !! script/bad-func-def
// make function! 1           => !! script/bad-func-def
TEST_F(FunctionSpecTest, TypeBlocksAndMake) {
  EXPECT_ERROR(function::check_spec(load("a [1]")), err::script::invalid_type_spec);
  EXPECT_ERROR(function::check_spec(load("a [integer! \"x\"]")), err::script::invalid_type_spec);
  EXPECT_ERROR(function::check_spec(load("a [foo]")), err::script::no_value);
  EXPECT_ERROR(make(T_FUNCTION, load("[a]")), err::script::bad_func_def);
  EXPECT_ERROR(make(T_FUNCTION, load("[a] 1")), err::script::bad_func_def);
  Cell one;
  cell::set_integer(&one, 1);
  EXPECT_ERROR(make(T_FUNCTION, &one), err::script::bad_func_def);
  // A word whose value is a datatype or a word is a valid entry.
  Cell w = word::intern_global("my-type");
  Cell v = datatype::value_of(T_INTEGER);
  context::assign(&w, &v, context::global, false);
  EXPECT_EQ(function::check_spec(load("a [my-type string!]")), 0u);
  EXPECT_EQ(function::attribute_flags(load("trace 1")), -1);
}

// body: [a + 1] g: func [a] body append body 1 reflect :g 'body  => [a + 1], a bound to g
TEST_F(FunctionTest, BodyIsABoundDeepCopy) {
  Cell* spec = load("a");
  Cell* body = load("a + 1 [a (a) b/a]");
  Cell* g = func(spec, body);
  Cell one;
  cell::set_integer(&one, 1);
  block::append_copy(body, &one);
  Cell* b = reflect(g, "body");
  Node ctx = g->w1;  // read after the last allocation: nodes may move
  EXPECT_EQ(block::cell_at_index(b, 0)->w1, ctx);
  EXPECT_EQ(block::cell_at_index(b, 0)->w3, 0u);
  EXPECT_NE(block::cell_at_index(b, 1)->w1, ctx);  // + is not an argument
  // Nested blocks, parens and paths are copies too, and bound.
  Cell inner = *block::cell_at_index(b, 3);
  Cell* original = block::cell_at_index(body, 3);
  EXPECT_NE(inner.w2, original->w2);
  EXPECT_EQ(memory::head_cells(memory::node_buffer(inner.w2))[0].w1, ctx);
  Cell paren = memory::head_cells(memory::node_buffer(inner.w2))[1];
  EXPECT_EQ(memory::head_cells(memory::node_buffer(paren.w2))[0].w1, ctx);
  Cell path = memory::head_cells(memory::node_buffer(inner.w2))[2];
  EXPECT_EQ(memory::head_cells(memory::node_buffer(path.w2))[1].w1, ctx);
  // The context's self-cell holds the function; the spec is the given block itself.
  EXPECT_EQ(context::self_cell(ctx)->w3, g->w3);
  EXPECT_EQ(g->w2, spec->w2);
  EXPECT_TRUE(context::stack_held_q(ctx));
  EXPECT_FALSE(context::has_self_q(ctx));
  EXPECT_EQ(context::kind_of(ctx), context::KIND_FUNCTION);
  EXPECT_EQ(mold(b), "[a + 1 [a (a) b/a]]");
}

// A spec or body given past its head is copied from there.
TEST_F(FunctionTest, SpecAndBodyPastTheirHead) {
  Cell* spec = load("x a b");
  spec->w1 = 1;
  Cell* body = load("x a + b");
  body->w1 = 1;
  Cell* f = func(spec, body);
  EXPECT_NE(f->w2, spec->w2);
  EXPECT_EQ(mold(f), "func [a b][a + b]");
  EXPECT_EQ(context::word_count(f->w1), 2);
  // An index past the tail is taken as the tail.
  Cell* s2 = load("a");
  s2->w1 = 5;
  Cell* b2 = load("a");
  Cell* g = func(s2, b2);
  EXPECT_EQ(mold(g), "func [][a]");
}

// Extras: body, cache unset, code and reference unset unless given.
TEST_F(FunctionTest, ExtrasLayout) {
  Cell* s = load("a");
  Cell* b = load("a");
  function::build(s, b, 0, 7, 9, 0);
  Cell* f = stack::last_pushed();
  EXPECT_EQ(cell::type(function::extras_cell(f, function::extras::BODY)), uint32_t(T_BLOCK));
  EXPECT_EQ(cell::type(function::extras_cell(f, function::extras::ARG_CACHE)), uint32_t(T_UNSET));
  EXPECT_EQ(cell::get_int(function::extras_cell(f, function::extras::CODE)), 7);
  EXPECT_EQ(cell::type(function::extras_cell(f, function::extras::OP_SELF)), uint32_t(T_UNSET));
  EXPECT_EQ(cell::get_int(function::extras_cell(f, function::extras::CODE_REF)), 9);
  Cell none = Cell{T_NONE, 0, 0, 0};
  function::build(s, &none, 0, 0, 0, 0);
  Cell* g = stack::last_pushed();
  EXPECT_EQ(cell::type(function::extras_cell(g, function::extras::BODY)), uint32_t(T_NONE));
  EXPECT_EQ(cell::type(function::extras_cell(g, function::extras::CODE)), uint32_t(T_UNSET));
  EXPECT_EQ(mold(g), "func [a] none");
}

// function [a][b: 1 foreach [c d] x [e: 2]] => func [a /local b c d e][b: 1 foreach [c d] x [e: 2]]
// function [a /extern b][a: 1 b: 2 c: 3]    => spec [a /local c]
// function [a][a: 1]                        => spec [a]
// function [][repeat i 3 [j: i] remove-each [k :l 'm] x [(n: 1)]] => [/local i j k l m n]
// function [a /local z][b: 1 local: 2]      => [a /local z b]
// function [/extern x /local y][y: 1 z: 2]  => [/local y z]... /extern cut
TEST_F(FunctionTest, CollectLocals) {
  EXPECT_EQ(mold(function_("a", "b: 1 foreach [c d] x [e: 2]")),
            "func [a /local b c d e][b: 1 foreach [c d] x [e: 2]]");
  EXPECT_EQ(mold(reflect(function_("a /extern b", "a: 1 b: 2 c: 3"), "spec")), "[a /local c]");
  EXPECT_EQ(mold(reflect(function_("a", "a: 1"), "spec")), "[a]");
  EXPECT_EQ(mold(reflect(function_("", "repeat i 3 [j: i] remove-each [k :l 'm] x [(n: 1)]"), "spec")),
            "[/local i j k l m n]");
  EXPECT_EQ(mold(reflect(function_("a /local z", "b: 1 local: 2 z: 3"), "spec")), "[a /local z b]");
  EXPECT_EQ(mold(reflect(function_("/extern x /local y", "y: 1 z: 2 x: 3"), "spec")),
            "[/local y z]");
  // Arguments of every kind and refinements are not collected.
  EXPECT_EQ(mold(reflect(function_(":a 'b /c d", "a: b: c: d: e: 1"), "spec")),
            "[:a 'b /c d /local e]");
  // The collected list is the result.
  Cell* s = load("a");
  Cell* b = load("a: x: y: x: 1");
  Cell* list = function::collect_locals(s, b);
  EXPECT_EQ(mold(list), "[x y]");
  // A value that is not a word, block or string in a spec with /extern.
  Cell* s2 = load("a 1 /extern b");
  EXPECT_ERROR(function::collect_locals(s2, load("c: 1")), err::script::bad_func_extern);
}

// count-locals and push-defaults.
TEST_F(FunctionTest, LocalCountsAndDefaults) {
  EXPECT_EQ(function::count_locals(load("a /local x [integer!] \"doc\" y")->w2, 0, false), 3);
  EXPECT_EQ(function::count_locals(load("a")->w2, 0, true), -1);
  EXPECT_EQ(function::count_locals(load("a")->w2, 0, false), 0);
  EXPECT_EQ(function::count_locals(load("/local x")->w2, 1, true), -1);
  EXPECT_EQ(function::count_locals(load("/LOCAL x")->w2, 0, true), 2);
  // A call of a function whose spec ends in /local x y pushes false, none, none.
  Cell* before = stack::state().top;
  function::push_defaults(3);
  ASSERT_EQ(stack::state().top - before, 3);
  EXPECT_EQ(before[0].header, uint32_t(T_LOGIC));
  EXPECT_EQ(before[0].w1, 0u);
  EXPECT_EQ(cell::type(before + 1), uint32_t(T_NONE));
  EXPECT_EQ(cell::type(before + 2), uint32_t(T_NONE));
  function::push_defaults(0);
  EXPECT_EQ(stack::state().top - before, 3);
}

// reflect :f 'spec  => the spec itself; 'words => [a b c] bound to f; 'foo => !! internal/not-done
TEST_F(FunctionTest, Reflect) {
  Cell* f = func("a /b c", "a");
  Cell* spec = reflect(f, "spec");
  EXPECT_EQ(spec->w2, f->w2);
  EXPECT_EQ(spec->w1, 0u);
  Cell* words = reflect(f, "words");
  EXPECT_EQ(mold(words), "[a b c]");
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(block::cell_at_index(words, i)->w1, f->w1);
    EXPECT_EQ(block::cell_at_index(words, i)->w3, uint32_t(i));
    EXPECT_EQ(cell::type(block::cell_at_index(words, i)), uint32_t(T_WORD));
  }
  EXPECT_ERROR(reflect(f, "foo"), err::internal::not_done);
}

// two functions of one spec and body => unequal; a function and its copy => equal
TEST_F(FunctionTest, CompareByExtras) {
  Cell* s = load("a");
  Cell* b = load("a");
  Cell* f = func(s, b);
  Cell* g = func(s, b);
  Cell copy = *f;
  EXPECT_EQ(compare(f, &copy, 0), 0);
  EXPECT_NE(compare(f, g, 0), 0);
  EXPECT_EQ(compare(f, g, 1), f->w3 < g->w3 ? -1 : 1);
  EXPECT_EQ(compare(f, g, 3), -2);
  EXPECT_EQ(compare(f, s, 0), -2);
  for (int32_t op : {0, 1, 2, 7, 8, 9, 12}) EXPECT_EQ(compare(f, &copy, op), 0);
}

std::string describe_cache(FunctionTest* t, const Cell* cache) {
  std::string out;
  int32_t n = block::count_from_head(const_cast<Cell*>(cache));
  for (int32_t i = 0; i < n; ++i) {
    const Cell* c = block::cell_at_index(cache, i);
    if (!out.empty()) out += ' ';
    switch (cell::type(c)) {
      case T_TYPESET: {
        out += "ts" + std::to_string(function::cache::mode_of(c)) + "(";
        bool all = true;
        for (uint32_t ty = 1; ty < T_TYPE_COUNT; ++ty)
          if (ty != T_UNSET && !function::typeset_bits::has(c, ty)) all = false;
        if (all && !function::typeset_bits::has(c, T_UNSET)) {
          out += "any";
        } else {
          std::string names;
          for (uint32_t ty = 1; ty < T_TYPE_COUNT; ++ty)
            if (function::typeset_bits::has(c, ty))
              names += (names.empty() ? "" : " ") + std::string(datatype::type_table[ty].name);
          out += names;
        }
        out += ")";
        break;
      }
      case T_REFINEMENT:
        out += "/" + symbol::text(int32_t(c->w2)) + "#" + std::to_string(int32_t(c->w3));
        break;
      case T_INTEGER:
        out += std::to_string(cell::get_int(c));
        break;
      default:
        out += "?";
    }
  }
  (void)t;
  return out;
}

Cell* cache_of(const Cell* v) {
  Node n = interp::build_argument_cache(v);
  Cell* c = stack::reserve_cell();
  *c = Cell{T_BLOCK, 0, n, 0};
  return c;
}

// cache of func [a [integer! string!] 'b /ref c /local d [integer!] e][]
//   => typeset (0; integer! string!), typeset (2; all but unset!), /ref, typeset (0), integer 3
TEST_F(FunctionTest, ArgumentCacheOfAFunction) {
  Cell* f = func("a [integer! string!] 'b /ref c /local d [integer!] e", "");
  Cell* cache = cache_of(f);
  std::string d = describe_cache(this, cache);
  EXPECT_EQ(d, "ts0(string! integer!) ts2(any) /ref#" +
                   std::to_string(int32_t(block::cell_at_index(cache, 2)->w3)) + " ts0(any) 3");
  // A function-like refinement keeps its own word 3 (its binding index).
  Cell* spec_ref = memory::head_cells(memory::node_buffer(f->w2)) + 3;
  EXPECT_EQ(block::cell_at_index(cache, 2)->w3, spec_ref->w3);
  // return: gives a typeset of mode 3; get-words mode 1; an empty type block gives any.
  Cell* g = func(":a [] return: [integer!] \"doc\"", "");
  EXPECT_EQ(describe_cache(this, cache_of(g)), "ts1(any) ts3(integer!)");
}

// cache of a native with spec [a /r b /s] => typeset, /r (1), typeset, /s (2), integer 2
TEST_F(FunctionTest, ArgumentCacheOfANative) {
  Cell* n = make(T_NATIVE, load("[a /r b /s] 1"));
  EXPECT_EQ(describe_cache(this, cache_of(n)), "ts0(any) /r#1 ts0(any) /s#2 2");
  Cell* a = make(T_ACTION, load("[a [block!]] 25"));
  EXPECT_EQ(describe_cache(this, cache_of(a)), "ts0(block!)");
  // An op! is walked as the value it wraps.
  Cell* f = func("a b", "");
  Cell* o = make(T_OP, f);
  EXPECT_EQ(describe_cache(this, cache_of(o)), "ts0(any) ts0(any)");
  // Any set-word other than return: is refused.
  Cell* bad = make(T_NATIVE, load("[a b: [integer!]] 1"));
  EXPECT_ERROR(cache_of(bad), err::script::bad_func_def);
}

// A spec changed after the function was made no longer matches the frame its context
// describes: building the cache refuses it instead of letting the body reach other cells.
TEST_F(FunctionTest, CacheRefusesASpecChangedAfterMake) {
  Cell* spec = load("a b /local c");
  Cell* body = load("c: a");
  Cell* f = func(spec, body);
  EXPECT_EQ(describe_cache(this, cache_of(f)), "ts0(any) ts0(any) 2");
  block::truncate_at(spec, 1);  // [a]
  EXPECT_ERROR(cache_of(f), err::script::bad_func_def);
  EXPECT_EQ(error::pending().args[0].w2, f->w2);
  Cell* spec2 = load("a");
  Cell* g = func(spec2, load(""));
  Cell w = word::intern_global("z");
  block::append_copy(spec2, &w);  // [a z]
  EXPECT_ERROR(cache_of(g), err::script::bad_func_def);
  // Type blocks and strings after locals do not count as frame cells.
  Cell* h = func("a /local x [integer!] \"doc\" y", "");
  EXPECT_EQ(describe_cache(this, cache_of(h)), "ts0(any) 3");
}

// Building under the collector: results, bodies and contexts survive every allocation.
TEST_F(FunctionTest, ManyFunctionsSurviveCollections) {
  Cell* keep = block::push_empty(4);
  for (int i = 0; i < 50; ++i) {
    Cell* f = function_("a /b c", "d: a + c [e: (f: 1)]");
    block::append_copy(keep, f);
    stack::drop_cells(1);
  }
  gc::collect();
  for (int i = 0; i < 50; i += 7) {
    Cell* f = stack::push_copy(block::cell_at_index(keep, i));
    EXPECT_EQ(mold(f), "func [a /b c /local d e f][d: a + c [e: (f: 1)]]");
    EXPECT_EQ(context::self_cell(f->w1)->w3, f->w3);
    stack::drop_cells(1);
  }
}

}  // namespace
}  // namespace kel::test
