// Value types: the matrix inverse and time conversions.
#include "kwhost/types.h"

#include <cmath>

Matrix InvertMatrix(const Matrix& m) {
  // The rows of the inverse axis block are the cofactor vectors (the adjugate) divided by the
  // determinant.
  const Vector r1 = Cross(m.v2, m.v3);
  const Vector r2 = Cross(m.v3, m.v1);
  const Vector r3 = Cross(m.v1, m.v2);
  const Real det = Dot(m.v1, r1);
  if (det == 0.0) return Matrix();

  Matrix result(Vector(), Vector(r1.x / det, r2.x / det, r3.x / det),
                Vector(r1.y / det, r2.y / det, r3.y / det),
                Vector(r1.z / det, r2.z / det, r3.z / det));
  result.off = -result.TransformDirection(m.off);
  return result;
}

BaseTime BaseTime::FromSeconds(Real seconds) {
  constexpr Real kDenominator = 1000.0 * 3.0 * 5.0 * 7.0;
  Real numerator = seconds * kDenominator;
  // Frame times of the usual rates land a rounding error away from a whole numerator; snap
  // them so that equal times compare equal. Other values keep their full precision.
  const Real whole = std::round(numerator);
  if (std::isfinite(numerator) &&
      std::fabs(numerator - whole) <= 1e-12 * std::fmax(1.0, std::fabs(whole)))
    numerator = whole;
  return BaseTime(numerator, kDenominator);
}
