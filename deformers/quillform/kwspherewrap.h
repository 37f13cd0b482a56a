// Dazori Roru: wraps the deformer's X-Z plane onto a sphere. A point's distance from the Y axis
// becomes an angle away from the sphere's pole, its height a distance from the sphere's centre.
#pragma once

#include <numbers>

#include "deformers/common/kw_deformerbase.h"

constexpr LONG ID_KWSPHEREWRAP = 1029695;

constexpr LONG SPHEREWRAP_RADIUS = 1000;    ///< real: sphere radius S
constexpr LONG SPHEREWRAP_STRENGTH = 1001;  ///< real: multiplies the falloff weight
constexpr LONG SPHEREWRAP_LENGTH = 1002;    ///< real: distance L wrapped to the angle A
constexpr LONG SPHEREWRAP_ANGLE = 1003;     ///< real: wrap angle A (radians) reached at L
constexpr LONG SPHEREWRAP_LIMIT = 1004;     ///< bool: the angle stops at A
constexpr LONG SPHEREWRAP_CENTERED = 1005;  ///< bool: the sphere's centre is the origin

/// The wrap's parameters, read once per evaluation or drawing.
struct SphereWrapSettings {
  Real radius = 200.0;  ///< S, deformer units
  Real strength = 1.0;
  Real length = 400.0;            ///< L, deformer units
  Real angle = std::numbers::pi;  ///< A, radians
  Bool limit = false;
  Bool centered = true;

  /// The settings stored in a deformer's container (absent values read as 0 / false).
  static SphereWrapSettings Read(const BaseContainer& bc);
  /// The sphere's centre in deformer space: the origin, or (0, −S, 0) so the pole touches it.
  Vector Centre() const { return centered ? Vector() : Vector(0, -radius, 0); }
};

/// The wrap angle (radians) at distance `rho` from the Y axis: (ρ / L)·A, stopped at A with
/// the limit and otherwise at π. Sets `defined` to false where the angle has no value: on the
/// axis when L is 0 (0/0), or beyond it when L is 0 and A is not positive.
Real SphereWrapAngle(Real rho, const SphereWrapSettings& settings, Bool& defined);

/// One point of the wrap. `deformerPos` is in the deformer's space; the weight
/// falloff × strength × restriction blends linearly between the old and the wrapped position.
/// The returned angle is the wrap angle times that weight. A point whose angle is undefined
/// (see `SphereWrapAngle`) stays where it is.
DeformedPoint SphereWrapPoint(const Vector& deformerPos, Real falloffWeight, Real restrictionWeight,
                              const SphereWrapSettings& settings);

/// The Dazori Roru deformer.
class KWSphereWrap : public KWDeformerBase {
 public:
  /// A new instance from the host allocator; null when memory is exhausted.
  static NodeData* Alloc();

  /// Base defaults, then the wrap's; three own handles.
  Bool Init(GeListNode* node) override;
  /// With Shift held at creation, also sizes L to the active object's X-Z extent and S to L/2.
  Bool Message(GeListNode* node, LONG type, void* data) override;
  /// Centre 0, half size (S, S, S).
  void GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) override;
  /// The falloff, then the sphere, the wrapped area and the four diagonal arcs (object pass)
  /// or the handles (handle pass).
  Bool Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) override;
  /// Wraps the points onto the sphere.
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) override;

 protected:
  /// Handles 0 sphere radius, 1 length, 2 angle; the falloff's follow.
  void GetOwnHandle(BaseObject* op, LONG i, HandleInfo& info) override;
  void SetOwnHandle(BaseObject* op, LONG i, const Vector& p) override;
};
