// vector! element arithmetic against a plain reference: every operation, width and element
// type, with a scalar and with a second vector of the same or another width.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "block_actions_fixture.h"
#include "runtime/datatypes/vector.h"

namespace kel::test {
namespace {

class VectorTest : public BlockActionsTest {
 protected:
  std::mt19937 rng{2024};

  // A vector of the element type and unit holding the values (stored as the type stores
  // them), pushed on the stack.
  Cell* make_vector(uint32_t type, uint32_t unit, const std::vector<int64_t>& values) {
    Cell* v = stack::reserve_cell();
    vector::init_cell(v, int64_t(values.size()), type, unit);
    for (int64_t x : values) {
      Cell c{type, 0, uint32_t(int32_t(x)), 0};
      vector::append_value(v, &c);
    }
    return v;
  }
  Cell* make_float_vector(uint32_t unit, const std::vector<double>& values) {
    Cell* v = stack::reserve_cell();
    vector::init_cell(v, int64_t(values.size()), T_FLOAT, unit);
    for (double x : values) {
      Cell c{T_FLOAT, 0, 0, 0};
      cell::put_double(&c, x);
      vector::append_value(v, &c);
    }
    return v;
  }
  std::vector<int64_t> ints_of(const Cell* v) {
    std::vector<int64_t> out;
    Cell* b = stack::reserve_cell();
    vector::elements_into_block(v, b);
    for (int32_t i = 0; i < block::count_from_head(b); ++i)
      out.push_back(cell::get_int(block::cell_at_index(b, i)));
    return out;
  }
  std::vector<double> doubles_of(const Cell* v) {
    std::vector<double> out;
    Cell* b = stack::reserve_cell();
    vector::elements_into_block(v, b);
    for (int32_t i = 0; i < block::count_from_head(b); ++i)
      out.push_back(cell::get_double(block::cell_at_index(b, i)));
    return out;
  }
  // combine on a frame of the two operands; the result is copied to a new stack cell.
  Cell* combine(int32_t op, const Cell* a, const Cell* b) {
    Cell result;
    {
      StackRestore restore;
      stack::push_native_frame(nullptr);
      stack::push_copy(a);
      stack::push_copy(b);
      result = *vector::combine(op);
    }
    return stack::push_copy(&result);
  }
};

// The element a stored 32-bit result reads back as: low bytes, sign-extended for integers,
// zero-extended for chars.
int64_t stored(int64_t r, uint32_t unit, uint32_t type) {
  uint32_t u = uint32_t(r);
  if (unit == 1) return type == T_CHAR ? int64_t(uint8_t(u)) : int64_t(int8_t(uint8_t(u)));
  if (unit == 2) return type == T_CHAR ? int64_t(uint16_t(u)) : int64_t(int16_t(uint16_t(u)));
  return int32_t(u);
}

int64_t reference_op(int64_t x, int64_t y, int32_t op) {
  int32_t a = int32_t(x), b = int32_t(y);
  switch (op) {
    case 0: return int32_t(uint32_t(a) + uint32_t(b));
    case 1: return int32_t(uint32_t(a) - uint32_t(b));
    case 2: return int32_t(uint32_t(a) * uint32_t(b));
    case 3: return b == -1 ? int32_t(0u - uint32_t(a)) : a / b;
    case 4: return b == -1 ? 0 : a % b;
    case 5: return a | b;
    case 6: return a & b;
    default: return a ^ b;
  }
}

TEST_F(VectorTest, ScalarOperationsMatchTheWrappedReference) {
  for (uint32_t type : {T_INTEGER, T_CHAR}) {
    for (uint32_t unit : {1u, 2u, 4u}) {
      for (int32_t op = 0; op < 8; ++op) {
        StackRestore restore;
        std::vector<int64_t> raw;
        for (int i = 0; i < 64; ++i) raw.push_back(int32_t(rng()) >> (rng() % 32));
        if (type == T_CHAR && unit == 4)
          for (int64_t& x : raw) x &= 0xFFFF;  // codes, not negative numbers
        Cell* v = make_vector(type, unit, raw);
        std::vector<int64_t> before = ints_of(v);
        for (int64_t y : {int64_t(3), int64_t(-1), int64_t(-7), int64_t(int32_t(rng()) | 1)}) {
          Cell scalar{T_INTEGER, 0, uint32_t(int32_t(y)), 0};
          vector::apply_math_op(op, v, &scalar);
          std::vector<int64_t> after = ints_of(v);
          ASSERT_EQ(after.size(), before.size());
          for (size_t i = 0; i < before.size(); ++i)
            ASSERT_EQ(after[i], stored(reference_op(before[i], y, op), unit, type))
                << "type " << type << " unit " << unit << " op " << op << " y " << y << " i " << i;
          before = after;
        }
      }
    }
  }
}

TEST_F(VectorTest, VectorOperationsTakeTheWiderWidthAndShorterLength) {
  for (uint32_t type : {T_INTEGER, T_CHAR}) {
    for (uint32_t ua : {1u, 2u, 4u}) {
      for (uint32_t ub : {1u, 2u, 4u}) {
        for (int32_t op = 0; op < 8; ++op) {
          StackRestore restore;
          std::vector<int64_t> xa, xb;
          for (int i = 0; i < 40; ++i) xa.push_back(int32_t(rng()) & 0x7FFF);
          for (int i = 0; i < 33; ++i) xb.push_back((int32_t(rng()) & 0x7FFF) | 1);
          Cell* a = make_vector(type, ua, xa);
          Cell* b = make_vector(type, ub, xb);
          std::vector<int64_t> ea = ints_of(a), eb = ints_of(b);
          Cell* r = combine(op, a, b);
          uint32_t u = std::max(ua, ub);
          EXPECT_EQ(memory::unit(memory::node_buffer(r->w2)), u);
          std::vector<int64_t> er = ints_of(r);
          ASSERT_EQ(er.size(), eb.size());
          for (size_t i = 0; i < er.size(); ++i)
            ASSERT_EQ(er[i], stored(reference_op(ea[i], eb[i], op), u, type))
                << "type " << type << " widths " << ua << "/" << ub << " op " << op;
          EXPECT_EQ(ints_of(a), ea);  // the operands stay as they were
        }
      }
    }
  }
}

TEST_F(VectorTest, FloatOperationsNarrowThirtyTwoBitElements) {
  for (uint32_t ua : {4u, 8u}) {
    for (uint32_t ub : {4u, 8u}) {
      for (int32_t op = 0; op < 5; ++op) {
        StackRestore restore;
        std::vector<double> xa, xb;
        for (int i = 0; i < 20; ++i) xa.push_back(double(int32_t(rng())) / 1024.0);
        for (int i = 0; i < 20; ++i) xb.push_back(double(int32_t(rng()) | 1) / 4096.0);
        xa.push_back(3e38);
        xb.push_back(10.0);
        Cell* a = make_float_vector(ua, xa);
        Cell* b = make_float_vector(ub, xb);
        std::vector<double> ea = doubles_of(a), eb = doubles_of(b);
        Cell* r = combine(op, a, b);
        uint32_t u = std::max(ua, ub);
        std::vector<double> er = doubles_of(r);
        ASSERT_EQ(er.size(), ea.size());
        for (size_t i = 0; i < er.size(); ++i) {
          double want = op == 0 ? ea[i] + eb[i] : op == 1 ? ea[i] - eb[i]
                      : op == 2 ? ea[i] * eb[i] : op == 3 ? ea[i] / eb[i]
                                                          : std::fmod(ea[i], eb[i]);
          if (u == 4) want = std::fabs(want) > 3.4028234663852886e38
                                 ? std::copysign(HUGE_VAL, want)
                                 : double(float(want));
          ASSERT_EQ(er[i], want) << "widths " << ua << "/" << ub << " op " << op << " i " << i;
        }
        Cell two{T_FLOAT, 0, 0, 0};
        cell::put_double(&two, 2.0);
        vector::apply_math_op(op, a, &two);
        std::vector<double> scaled = doubles_of(a);
        for (size_t i = 0; i < scaled.size(); ++i) {
          double want = op == 0 ? ea[i] + 2 : op == 1 ? ea[i] - 2 : op == 2 ? ea[i] * 2
                      : op == 3 ? ea[i] / 2 : std::fmod(ea[i], 2.0);
          if (ua == 4) want = std::fabs(want) > 3.4028234663852886e38
                                  ? std::copysign(HUGE_VAL, want)
                                  : double(float(want));
          ASSERT_EQ(scaled[i], want) << "width " << ua << " op " << op << " i " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kel::test
