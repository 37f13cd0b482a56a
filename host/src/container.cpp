// Parameter containers, their values, links and spline curves.
#include "kwhost/container.h"

#include <algorithm>

#include "kwhost/nodes.h"

// ---------------------------------------------------------------------------------------------
// SplineData

SplineData::SplineData(std::vector<Knot> knots) : knots_(std::move(knots)) {
  // Stable, so knots sharing an x keep their order and the curve steps between them.
  std::stable_sort(knots_.begin(), knots_.end(),
                   [](const Knot& a, const Knot& b) { return a.x < b.x; });
}

Vector SplineData::GetPoint(Real x) const {
  if (knots_.empty()) return Vector(x, 0.0, 0.0);
  // Written so that a NaN position takes the first knot's value instead of running past the
  // end of the knots.
  if (!(x > knots_.front().x)) return Vector(x, knots_.front().y, 0.0);
  if (x >= knots_.back().x) return Vector(x, knots_.back().y, 0.0);
  const auto upper = std::upper_bound(knots_.begin(), knots_.end(), x,
                                      [](Real value, const Knot& k) { return value < k.x; });
  const Knot& b = *upper;
  const Knot& a = *(upper - 1);
  const Real t = (x - a.x) / (b.x - a.x);  // b.x > x >= a.x, so never a division by zero
  return Vector(x, a.y + (b.y - a.y) * t, 0.0);
}

// ---------------------------------------------------------------------------------------------
// BaseLink

BaseLink::BaseLink(const BaseList2D* node) {
  if (node) anchor_ = node->Anchor();
}

BaseList2D* BaseLink::GetNode() const {
  return anchor_ ? anchor_->node : nullptr;
}

BaseList2D* BaseLink::GetLink(const BaseDocument* doc) const {
  BaseList2D* node = GetNode();
  if (!node || !doc) return node;
  return node->GetDocument() == doc ? node : nullptr;
}

// ---------------------------------------------------------------------------------------------
// GeData: the conversions follow the host, which stores booleans as integers.

LONG GeData::GetLong(LONG fallback) const {
  if (const LONG* v = std::get_if<LONG>(&value_)) return *v;
  if (const Bool* v = std::get_if<Bool>(&value_)) return *v ? 1 : 0;
  return fallback;
}

Real GeData::GetReal(Real fallback) const {
  if (const Real* v = std::get_if<Real>(&value_)) return *v;
  if (const LONG* v = std::get_if<LONG>(&value_)) return static_cast<Real>(*v);
  return fallback;
}

Bool GeData::GetBool(Bool fallback) const {
  if (const Bool* v = std::get_if<Bool>(&value_)) return *v;
  if (const LONG* v = std::get_if<LONG>(&value_)) return *v != 0;
  return fallback;
}

String GeData::GetString(const String& fallback) const {
  const String* v = std::get_if<String>(&value_);
  return v ? *v : fallback;
}

Vector GeData::GetVector(const Vector& fallback) const {
  const Vector* v = std::get_if<Vector>(&value_);
  return v ? *v : fallback;
}

Matrix GeData::GetMatrix(const Matrix& fallback) const {
  const Matrix* v = std::get_if<Matrix>(&value_);
  return v ? *v : fallback;
}

BaseTime GeData::GetTime(const BaseTime& fallback) const {
  const BaseTime* v = std::get_if<BaseTime>(&value_);
  return v ? *v : fallback;
}

// ---------------------------------------------------------------------------------------------
// BaseContainer

const GeData* BaseContainer::GetData(LONG id) const {
  auto found = values_.find(id);
  return found == values_.end() ? nullptr : &found->second;
}

DataType BaseContainer::GetType(LONG id) const {
  const GeData* d = GetData(id);
  return d ? d->GetType() : DataType::None;
}

LONG BaseContainer::GetLong(LONG id, LONG fallback) const {
  const GeData* d = GetData(id);
  return d ? d->GetLong(fallback) : fallback;
}

Real BaseContainer::GetReal(LONG id, Real fallback) const {
  const GeData* d = GetData(id);
  return d ? d->GetReal(fallback) : fallback;
}

Bool BaseContainer::GetBool(LONG id, Bool fallback) const {
  const GeData* d = GetData(id);
  return d ? d->GetBool(fallback) : fallback;
}

String BaseContainer::GetString(LONG id, const String& fallback) const {
  const GeData* d = GetData(id);
  return d ? d->GetString(fallback) : fallback;
}

Vector BaseContainer::GetVector(LONG id, const Vector& fallback) const {
  const GeData* d = GetData(id);
  return d ? d->GetVector(fallback) : fallback;
}

Matrix BaseContainer::GetMatrix(LONG id, const Matrix& fallback) const {
  const GeData* d = GetData(id);
  return d ? d->GetMatrix(fallback) : fallback;
}

BaseTime BaseContainer::GetTime(LONG id, const BaseTime& fallback) const {
  const GeData* d = GetData(id);
  return d ? d->GetTime(fallback) : fallback;
}

BaseList2D* BaseContainer::GetLink(LONG id, const BaseDocument* doc) const {
  const GeData* d = GetData(id);
  const BaseLink* link = d ? d->GetBaseLink() : nullptr;
  return link ? link->GetLink(doc) : nullptr;
}

const SplineData* BaseContainer::GetCustomDataType(LONG id, LONG type) const {
  if (type != CUSTOMDATATYPE_SPLINE) return nullptr;
  const GeData* d = GetData(id);
  return d ? d->GetSpline() : nullptr;
}

void BaseContainer::SetData(LONG id, const GeData& value) {
  auto found = values_.find(id);
  if (found != values_.end()) {
    // Writing the value that is there already is no change: the owner need not re-evaluate.
    if (found->second == value) return;
    found->second = value;
  } else {
    values_.emplace(id, value);
  }
  ++dirty_;
  ++changes_;
}

void BaseContainer::RemoveData(LONG id) {
  if (values_.erase(id) == 0) return;
  ++dirty_;
  ++changes_;
}

void BaseContainer::FlushAll() {
  if (values_.empty()) return;
  values_.clear();
  ++dirty_;
  ++changes_;
}
