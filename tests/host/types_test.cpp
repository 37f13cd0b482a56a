// The matrix inverse and time conversions.
#include <gtest/gtest.h>

#include "kwhost/types.h"
#include "kwtest.h"

namespace {

using kwtest::VectorNear;

::testing::AssertionResult MatrixNear(const Matrix& expected, const Matrix& actual, Real tol) {
  for (auto [e, a] : {std::pair{expected.off, actual.off}, std::pair{expected.v1, actual.v1},
                      std::pair{expected.v2, actual.v2}, std::pair{expected.v3, actual.v3}}) {
    auto result = VectorNear(e, a, tol);
    if (!result) return result;
  }
  return ::testing::AssertionSuccess();
}

struct InverseCase {
  const char* name;
  Matrix m;
};

class InvertMatrixTest : public ::testing::TestWithParam<InverseCase> {};

TEST_P(InvertMatrixTest, UndoesTheMatrixOnBothSides) {
  const Matrix& m = GetParam().m;
  const Matrix inv = InvertMatrix(m);
  EXPECT_TRUE(MatrixNear(Matrix(), inv * m, 1e-12));
  EXPECT_TRUE(MatrixNear(Matrix(), m * inv, 1e-12));
  const Vector p(3.5, -7.25, 11.0);
  EXPECT_TRUE(VectorNear(p, inv * (m * p), 1e-12));
}

INSTANTIATE_TEST_SUITE_P(
    Invertible, InvertMatrixTest,
    ::testing::Values(
        InverseCase{"Identity", Matrix()},
        InverseCase{"Translation", Matrix({10, -20, 30}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1})},
        InverseCase{"RotationAndScale", Matrix({5, 6, 7}, {0, 2, 0}, {-3, 0, 0}, {0, 0, 0.5})},
        InverseCase{"Skewed", Matrix({1, 2, 3}, {1, 0.5, 0}, {0.25, 1, 0.75}, {0, -0.5, 2})},
        InverseCase{"Mirrored", Matrix({0, 0, 9}, {-1, 0, 0}, {0, 1, 0}, {0, 0, 1})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InvertMatrix, WorkedExample) {
  // Scale x by 2 and move by (4, 0, 0): the inverse halves and moves back by 2.
  const Matrix m({4, 0, 0}, {2, 0, 0}, {0, 1, 0}, {0, 0, 1});
  const Matrix inv = InvertMatrix(m);
  EXPECT_EQ(inv.v1, Vector(0.5, 0, 0));
  EXPECT_EQ(inv.off, Vector(-2, 0, 0));
}

TEST(InvertMatrix, ExactlySingularGivesTheIdentity) {
  const Matrix singular[] = {
      Matrix({1, 2, 3}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}),  // a zero axis
      Matrix({1, 2, 3}, {1, 0, 0}, {2, 0, 0}, {0, 0, 1}),  // two parallel axes
      Matrix({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}),  // three axes in one plane
      Matrix({5, 5, 5}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}),
  };
  for (const Matrix& m : singular) EXPECT_EQ(InvertMatrix(m), Matrix());
}

TEST(InvertMatrix, NearlySingularIsStillInverted) {
  // Only an exact zero determinant counts as singular.
  const Matrix m({0, 0, 0}, {1e-6, 0, 0}, {0, 1e-6, 0}, {0, 0, 1e-6});
  EXPECT_DOUBLE_EQ(InvertMatrix(m).v1.x, 1e6);
}

TEST(BaseTime, FrameTimesFromSecondsCompareEqual) {
  for (LONG fps : {24, 25, 30, 60}) {
    for (LONG frame : {0, 1, 7, 89, 1000, -3}) {
      const BaseTime fromSeconds = BaseTime::FromSeconds(static_cast<Real>(frame) / fps);
      EXPECT_EQ(fromSeconds, BaseTime::FromFrame(frame, fps)) << frame << " @ " << fps;
      EXPECT_EQ(fromSeconds.GetFrame(fps), frame);
    }
  }
}

TEST(BaseTime, OtherSecondsKeepTheirPrecision) {
  const Real seconds = 0.123456789012;
  EXPECT_DOUBLE_EQ(BaseTime::FromSeconds(seconds).Get(), seconds);
  EXPECT_LT(BaseTime::FromSeconds(0.5), BaseTime::FromSeconds(0.5 + 1e-9));
}

}  // namespace
