// Parameter containers: typed values under numeric IDs, links and spline curves.
#pragma once

#include <map>
#include <memory>
#include <variant>
#include <vector>

#include "kwhost/types.h"

class BaseDocument;
class BaseList2D;

/// A user-drawn curve (custom data type 1009060): piecewise linear between knots sorted by
/// x, constant beyond the first and the last knot.
class SplineData {
 public:
  struct Knot {
    Real x = 0.0, y = 0.0;
    bool operator==(const Knot&) const = default;
  };

  SplineData() = default;
  /// A curve through `knots`; they are sorted by x.
  explicit SplineData(std::vector<Knot> knots);

  LONG GetKnotCount() const { return static_cast<LONG>(knots_.size()); }
  const std::vector<Knot>& GetKnots() const { return knots_; }
  /// The curve's point at x: (x, y(x)); (x, 0) for a curve without knots.
  Vector GetPoint(Real x) const;
  bool operator==(const SplineData&) const = default;

 private:
  std::vector<Knot> knots_;
};

/// A weak reference to a node: resolves to null once the node is freed.
class BaseLink {
 public:
  BaseLink() = default;
  explicit BaseLink(const BaseList2D* node);
  /// The linked node, or null when unset or freed, or when `doc` is given and the node is
  /// not in that document.
  BaseList2D* GetLink(const BaseDocument* doc) const;
  /// The linked node whatever document it is in (null when unset or freed).
  BaseList2D* GetNode() const;
  bool operator==(const BaseLink& o) const { return GetNode() == o.GetNode(); }

 private:
  std::shared_ptr<struct NodeAnchor> anchor_;
};

/// The data types a container value can hold.
enum class DataType { None, Long, Real, Bool, String, Vector, Matrix, Time, Link, Spline };

/// One typed container value.
class GeData {
 public:
  GeData() = default;
  GeData(LONG v) : value_(v) {}
  GeData(Real v) : value_(v) {}
  GeData(Bool v) : value_(v) {}
  GeData(const String& v) : value_(v) {}
  GeData(const char* v) : value_(String(v)) {}
  GeData(const Vector& v) : value_(v) {}
  GeData(const Matrix& v) : value_(v) {}
  GeData(const BaseTime& v) : value_(v) {}
  GeData(const BaseLink& v) : value_(v) {}
  GeData(const SplineData& v) : value_(v) {}

  DataType GetType() const { return static_cast<DataType>(value_.index()); }
  /// The value as the asked type; a value of another type gives `fallback` (a Long reads as
  /// a Real and a Bool as a Long, as the host converts them).
  LONG GetLong(LONG fallback = 0) const;
  Real GetReal(Real fallback = 0.0) const;
  Bool GetBool(Bool fallback = false) const;
  String GetString(const String& fallback = {}) const;
  Vector GetVector(const Vector& fallback = {}) const;
  Matrix GetMatrix(const Matrix& fallback = {}) const;
  BaseTime GetTime(const BaseTime& fallback = {}) const;
  const BaseLink* GetBaseLink() const { return std::get_if<BaseLink>(&value_); }
  const SplineData* GetSpline() const { return std::get_if<SplineData>(&value_); }
  bool operator==(const GeData& o) const { return value_ == o.value_; }

 private:
  std::variant<std::monostate, LONG, Real, Bool, String, Vector, Matrix, BaseTime, BaseLink,
               SplineData>
      value_;
};

/// The host's per-node key/value store. Every change counts in two counters: `GetDirty`,
/// the changes since the host last evaluated the owner (the dirty query), and
/// `GetChangeCount`, every change since the container was made.
class BaseContainer {
 public:
  BaseContainer() = default;
  explicit BaseContainer(LONG id) : id_(id) {}

  LONG GetId() const { return id_; }
  /// The value under `id`, or null when the container holds none.
  const GeData* GetData(LONG id) const;
  /// The type of the value under `id` (`DataType::None` when absent).
  DataType GetType(LONG id) const;

  LONG GetLong(LONG id, LONG fallback = 0) const;
  Real GetReal(LONG id, Real fallback = 0.0) const;
  Bool GetBool(LONG id, Bool fallback = false) const;
  String GetString(LONG id, const String& fallback = {}) const;
  Vector GetVector(LONG id, const Vector& fallback = {}) const;
  Matrix GetMatrix(LONG id, const Matrix& fallback = {}) const;
  BaseTime GetTime(LONG id, const BaseTime& fallback = {}) const;
  /// The linked node; null when unset, freed, or (with a document given) outside `doc`.
  BaseList2D* GetLink(LONG id, const BaseDocument* doc) const;
  /// Custom data of type `type` under `id`, or null (only 1009060, spline curves, exists).
  const SplineData* GetCustomDataType(LONG id, LONG type) const;

  void SetData(LONG id, const GeData& value);
  void SetLong(LONG id, LONG v) { SetData(id, GeData(v)); }
  void SetReal(LONG id, Real v) { SetData(id, GeData(v)); }
  void SetBool(LONG id, Bool v) { SetData(id, GeData(v)); }
  void SetString(LONG id, const String& v) { SetData(id, GeData(v)); }
  void SetVector(LONG id, const Vector& v) { SetData(id, GeData(v)); }
  void SetMatrix(LONG id, const Matrix& v) { SetData(id, GeData(v)); }
  void SetTime(LONG id, const BaseTime& v) { SetData(id, GeData(v)); }
  /// Links `node`; a null node clears the link (the entry keeps the link type).
  void SetLink(LONG id, const BaseList2D* node) { SetData(id, GeData(BaseLink(node))); }
  void RemoveData(LONG id);
  void FlushAll();

  /// The dirty query: the number of changes since the host last evaluated the owner;
  /// 0 when nothing changed.
  LLONG GetDirty() const { return dirty_; }
  /// Every change since the container was made; never decreases.
  LLONG GetChangeCount() const { return changes_; }
  /// Host side: the owner has been evaluated with the current values.
  void ClearDirty() { dirty_ = 0; }
  const std::map<LONG, GeData>& Entries() const { return values_; }

 private:
  LONG id_ = 0;
  std::map<LONG, GeData> values_;
  LLONG dirty_ = 0;
  LLONG changes_ = 0;
};
