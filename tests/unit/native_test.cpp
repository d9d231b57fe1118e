// Tests of native!, action! and op! values: make and its refusals, the op! spec rule,
// reflect, form, mold and compare.
#include "function_fixture.h"

namespace kel::test {
namespace {

using NativeTest = FunctionTest;

// make native! [[a] 0]; make native! [[a] 1 2]; make action! [[] 63] => !! script/bad-make-arg
// make native! ["a" 1]; make action! [[] 8]                           => !! script/bad-make-arg
// make native! [[a] 108] (no code behind it); make native! [[a] "1"]; make native! 1
TEST_F(NativeTest, MakeRefusals) {
  for (const char* spec : {"[a] 0", "[a] 1 2", "[a]", "\"a\" 1", "[a] 108", "[a] 121",
                           "[a] \"1\"", "1 [a]"}) {
    SCOPED_TRACE(spec);
    EXPECT_ERROR(make(T_NATIVE, load(spec)), err::script::bad_make_arg);
  }
  for (const char* spec : {"[] 63", "[] 8", "[] 0", "[] -1"}) {
    SCOPED_TRACE(spec);
    EXPECT_ERROR(make(T_ACTION, load(spec)), err::script::bad_make_arg);
  }
  Cell one;
  cell::set_integer(&one, 1);
  EXPECT_ERROR(make(T_NATIVE, &one), err::script::bad_make_arg);
  // The error names the datatype and the spec.
  EXPECT_ERROR(make(T_ACTION, load("[] 8")), err::script::bad_make_arg);
  EXPECT_EQ(error::pending().args[0].header, uint32_t(T_DATATYPE));
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_ACTION));
  EXPECT_EQ(cell::type(&error::pending().args[1]), uint32_t(T_BLOCK));
}

// mold make native! [[a b] 1]  => "make native! [[a b]]"
// form :append                  => "?action?"
// reflect :append 'body         => 25
// reflect :append 'words        => !! internal/not-done
TEST_F(NativeTest, MakeMoldFormReflect) {
  Cell* n = make(T_NATIVE, load("[a b] 1"));
  EXPECT_EQ(n->header, uint32_t(T_NATIVE));
  EXPECT_EQ(n->w1, 1u);
  EXPECT_EQ(mold(n), "make native! [[a b]]");
  EXPECT_EQ(form(n), "?native?");
  Cell* append = make(T_ACTION, load("[series value /only] 25"));
  EXPECT_EQ(form(append), "?action?");
  EXPECT_EQ(mold(append), "make action! [[series value /only]]");
  Cell* body = reflect(append, "body");
  EXPECT_EQ(cell::type(body), uint32_t(T_INTEGER));
  EXPECT_EQ(cell::get_int(body), 25);
  EXPECT_ERROR(reflect(append, "words"), err::internal::not_done);
  Cell* spec = reflect(append, "spec");
  EXPECT_EQ(spec->w2, append->w2);
  EXPECT_EQ(mold(spec), "[series value /only]");
  // Extras: the context! cell of a stack-held function context, then none.
  Cell* ctx = function::extras_cell(append, function::native_extras::CONTEXT);
  EXPECT_EQ(cell::type(ctx), uint32_t(T_CONTEXT));
  EXPECT_TRUE(ctx->header & hdr::CONTEXT_ON_STACK);
  EXPECT_FALSE(ctx->header & hdr::CONTEXT_HAS_SELF);
  EXPECT_EQ((ctx->header & hdr::CONTEXT_KIND_MASK) >> hdr::CONTEXT_KIND_SHIFT, context::KIND_FUNCTION);
  EXPECT_EQ(cell::type(function::extras_cell(append, function::native_extras::ARG_CACHE)),
            uint32_t(T_NONE));
  EXPECT_EQ(mold(make(T_NATIVE, load("[] 107"))), "make native! [[]]");
}

// make op! of functions with specs [a b], [a 'b], [a b /local c], [a :b /extern c] => accepted
// the same with [a b c], [:a b], ['a 'b], [a /ref b], [a], [a b: c]                   => !! script/bad-op-spec
// make op! 1                                                                          => !! script/invalid-type
TEST_F(NativeTest, OpSpecs) {
  for (const char* spec : {"a b", "a 'b", "a b /local c", "a :b /extern c", "a [integer!] \"x\" b",
                           "a b return: [integer!]"}) {
    Cell* f = func(spec, "");
    Cell* o = make(T_OP, f);
    EXPECT_EQ(o->header, T_OP | (T_FUNCTION << 16));
    stack::state().top = f;
  }
  for (const char* spec : {"a b c", ":a b", "'a 'b", "a /ref b", "a", ""}) {
    Cell* f = func(spec, "");
    SCOPED_TRACE(spec);
    EXPECT_ERROR(make(T_OP, f), err::script::bad_op_spec);
    stack::state().top = f;
  }
  EXPECT_FALSE(op::valid_spec_q(load("a return: b c")->w2));
  Cell one;
  cell::set_integer(&one, 1);
  EXPECT_ERROR(make(T_OP, &one), err::script::invalid_type);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_INTEGER));
}

// mold make op! func [a b][a + b]  => "make op! func [a b][a + b]"
// form make op! :add                => "?op?"
// mold make op! :add                => "make op! [[a b]]"
TEST_F(NativeTest, OpValues) {
  Cell* f = func("a b", "a + b");
  Cell* o = make(T_OP, f);
  EXPECT_EQ(mold(o), "make op! func [a b][a + b]");
  EXPECT_EQ(o->w1, f->w1);
  EXPECT_EQ(o->w2, f->w2);
  EXPECT_EQ(o->w3, f->w3);
  // The wrapped function keeps a copy of itself for the interpreter.
  Cell* self = function::extras_cell(f, function::extras::OP_SELF);
  EXPECT_EQ(self->header, uint32_t(T_FUNCTION));
  EXPECT_EQ(self->w3, f->w3);
  EXPECT_EQ(mold(reflect(o, "body")), "[a + b]");

  Cell* add = make(T_ACTION, load("[a b] 11"));
  Cell* op_add = make(T_OP, add);
  EXPECT_EQ(op_add->header, T_OP | (T_ACTION << 16));
  EXPECT_EQ(form(op_add), "?op?");
  EXPECT_EQ(mold(op_add), "make op! [[a b]]");
  EXPECT_EQ(cell::get_int(reflect(op_add, "body")), 11);
  // The flags of the wrapped value are not carried.
  Cell* traced = func("[trace] a b", "");
  EXPECT_EQ(make(T_OP, traced)->header, T_OP | (T_FUNCTION << 16));
}

// op/compare of an op! and the native! it wraps => -2; two natives of one id => 0
TEST_F(NativeTest, Compare) {
  Cell* a = make(T_NATIVE, load("[a b] 5"));
  Cell* b = make(T_NATIVE, load("[x y] 5"));
  Cell* c = make(T_NATIVE, load("[a b] 6"));
  EXPECT_EQ(compare(a, b), 0);
  EXPECT_EQ(compare(a, c, 1), -1);
  EXPECT_EQ(compare(c, a, 1), 1);
  EXPECT_EQ(compare(a, b, 3), -2);
  Cell* o = make(T_OP, a);
  EXPECT_EQ(compare(o, a), -2);
  EXPECT_EQ(compare(a, o), -2);
  Cell* o2 = make(T_OP, b);
  EXPECT_EQ(compare(o, o2), 0);
  Cell* act = make(T_ACTION, load("[a b] 5"));
  EXPECT_EQ(compare(act, a), -2);
  EXPECT_EQ(compare(act, make(T_ACTION, load("[] 5"))), 0);
}

}  // namespace
}  // namespace kel::test
