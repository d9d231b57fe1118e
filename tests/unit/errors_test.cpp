// Error catalogue tests: generated positions, raising with arguments, the embedded text.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/error.h"
#include "runtime/unwind.h"

namespace kel::test {
namespace {

TEST(Errors, GeneratedPositions) {
  struct Case { ErrorPos pos; uint32_t category; uint32_t id; };
  Case cases[] = {
      {err::script::out_of_range, 3, 43},   {err::script::expect_arg, 3, 7},
      {err::script::bad_make_arg, 3, 55},   {err::internal::stack_overflow, 9, 6},
      {err::access::no_port_action, 5, 12}, {err::throw_::break_, 0, 2},
      {err::internal::no_memory, 9, 4},     {err::internal::wrong_mem, 9, 5},
      {err::user::message, 8, 2},           {err::math::zero_divide, 4, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.pos.category, c.category);
    EXPECT_EQ(c.pos.id, c.id);
  }
  EXPECT_EQ(err::CATEGORY_COUNT, 10u);
  EXPECT_EQ(err::cat::internal, 9u);
  EXPECT_EQ(err::cat::reserved2, 7u);
  EXPECT_EQ(err::reserved1::FIELD_COUNT, 2u);
  EXPECT_EQ(err::script::FIELD_COUNT, 96u);
}

TEST(Errors, RaiseCarriesPositionsAndArguments) {
  Cell a{T_INTEGER, 5, 0, 0};
  Cell b{T_INTEGER, 6, 0, 0};
  try {
    error::raise(err::script::expect_arg, &a, &b);
    FAIL() << "raise returned";
  } catch (const Unwind& u) {
    EXPECT_EQ(u.code, unwind_code::ERROR);
  }
  const error::Pending& p = error::pending();
  EXPECT_EQ(p.category, 3u);
  EXPECT_EQ(p.id, 7u);
  EXPECT_EQ(p.args[0].w1, 5u);
  EXPECT_EQ(p.args[1].w1, 6u);
  EXPECT_EQ(cell::type(&p.args[2]), uint32_t(T_NONE)) << "absent argument";
  EXPECT_THROW(error::raise_bad_make_arg(&a, &b), Unwind);
  EXPECT_EQ(error::pending().id, err::script::bad_make_arg.id);
}

TEST(Errors, CatalogueTextEmbedded) {
  const char* t = error::catalogue_text();
  EXPECT_EQ(std::strncmp(t, "Kel [", 5), 0);
  EXPECT_NE(std::strstr(t, "no-memory: \"not enough memory\""), nullptr);
  EXPECT_NE(std::strstr(t, "out-of-range: [\"value out of range:\" :arg1]"), nullptr);
}

}  // namespace
}  // namespace kel::test
