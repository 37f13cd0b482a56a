// Value types of the host SDK: numbers, vectors, matrices, time and strings.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

using Bool = bool;
using LONG = std::int32_t;   ///< the host's 32-bit integer
using LLONG = std::int64_t;  ///< the host's 64-bit integer
using Real = double;         ///< the host's floating-point number (64-bit)
using SReal = float;         ///< 32-bit float, as stored in vertex maps
using String = std::string;  ///< the host's string (UTF-8)

/// A point or direction: three 64-bit components.
struct Vector {
  Real x = 0.0, y = 0.0, z = 0.0;

  constexpr Vector() = default;
  constexpr Vector(Real x_, Real y_, Real z_) : x(x_), y(y_), z(z_) {}
  constexpr explicit Vector(Real v) : x(v), y(v), z(v) {}

  constexpr Vector operator+(const Vector& o) const { return {x + o.x, y + o.y, z + o.z}; }
  constexpr Vector operator-(const Vector& o) const { return {x - o.x, y - o.y, z - o.z}; }
  constexpr Vector operator-() const { return {-x, -y, -z}; }
  constexpr Vector operator*(Real s) const { return {x * s, y * s, z * s}; }
  constexpr Vector operator/(Real s) const { return {x / s, y / s, z / s}; }
  constexpr Vector& operator+=(const Vector& o) {
    x += o.x;
    y += o.y;
    z += o.z;
    return *this;
  }
  constexpr Vector& operator-=(const Vector& o) {
    x -= o.x;
    y -= o.y;
    z -= o.z;
    return *this;
  }
  constexpr Vector& operator*=(Real s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  constexpr bool operator==(const Vector& o) const = default;
};

constexpr Vector operator*(Real s, const Vector& v) {
  return v * s;
}
/// Dot product.
constexpr Real Dot(const Vector& a, const Vector& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
/// Cross product a × b.
constexpr Vector Cross(const Vector& a, const Vector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
/// Euclidean length.
inline Real Len(const Vector& v) {
  return std::sqrt(Dot(v, v));
}

/// An affine matrix: offset and three axes. A point p maps to off + p.x·v1 + p.y·v2 + p.z·v3.
struct Matrix {
  Vector off{0, 0, 0}, v1{1, 0, 0}, v2{0, 1, 0}, v3{0, 0, 1};

  constexpr Matrix() = default;
  constexpr Matrix(const Vector& off_, const Vector& v1_, const Vector& v2_, const Vector& v3_)
      : off(off_), v1(v1_), v2(v2_), v3(v3_) {}

  /// The point p transformed by this matrix (offset included).
  constexpr Vector operator*(const Vector& p) const { return off + v1 * p.x + v2 * p.y + v3 * p.z; }
  /// The direction d transformed by the axes only.
  constexpr Vector TransformDirection(const Vector& d) const {
    return v1 * d.x + v2 * d.y + v3 * d.z;
  }
  /// The product this·o: o applied first.
  constexpr Matrix operator*(const Matrix& o) const {
    return {*this * o.off, TransformDirection(o.v1), TransformDirection(o.v2),
            TransformDirection(o.v3)};
  }
  constexpr bool operator==(const Matrix& o) const = default;
};

/// The inverse of an affine matrix through the adjugate of its axis block. A matrix whose
/// determinant is exactly 0 has no inverse; the result is then the identity.
Matrix InvertMatrix(const Matrix& m);

/// The host's time: a rational number of seconds (numerator / denominator as doubles).
class BaseTime {
 public:
  constexpr BaseTime() = default;
  constexpr BaseTime(Real numerator, Real denominator) : num_(numerator), den_(denominator) {}
  /// A time of `seconds`, stored over the denominator 1000 * 3 * 5 * 7 (exact for the usual rates).
  static BaseTime FromSeconds(Real seconds);
  /// A time at `frame` for `fps` frames per second.
  static BaseTime FromFrame(LONG frame, LONG fps) { return BaseTime(frame, fps); }

  Real Get() const { return den_ != 0.0 ? num_ / den_ : 0.0; }  ///< seconds
  Real GetNumerator() const { return num_; }
  Real GetDenominator() const { return den_; }
  /// The frame at `fps`, rounded to the nearest frame.
  LONG GetFrame(Real fps) const { return static_cast<LONG>(std::floor(Get() * fps + 0.5)); }

  bool operator==(const BaseTime& o) const { return num_ * o.den_ == o.num_ * den_; }
  bool operator<(const BaseTime& o) const { return Get() < o.Get(); }
  bool operator<=(const BaseTime& o) const { return *this == o || *this < o; }
  bool operator>(const BaseTime& o) const { return o < *this; }
  bool operator>=(const BaseTime& o) const { return o <= *this; }

 private:
  Real num_ = 0.0, den_ = 1.0;
};

/// The record the host fills when it asks an object for one of its handles.
struct HandleInfo {
  Vector position;
  Vector direction;
  LONG type = 0;  ///< constraint type: 0 free along the direction, 1 as the plug-in says
};

/// Dimensions of an object's gizmo: centre and half size, in the object's space.
struct Dimension {
  Vector centre;
  Vector halfSize;
};

/// A polygon: four point indices; a triangle repeats c in d.
struct CPolygon {
  LONG a = 0, b = 0, c = 0, d = 0;
  constexpr CPolygon() = default;
  constexpr CPolygon(LONG a_, LONG b_, LONG c_) : a(a_), b(b_), c(c_), d(c_) {}
  constexpr CPolygon(LONG a_, LONG b_, LONG c_, LONG d_) : a(a_), b(b_), c(c_), d(d_) {}
  constexpr bool IsTriangle() const { return c == d; }
  constexpr bool operator==(const CPolygon&) const = default;
};
