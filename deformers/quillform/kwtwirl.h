// Twirl: turns points about the deformer's Y axis by an angle that grows with their distance
// from the axis, out to a radius.
#pragma once

#include <numbers>

#include "deformers/common/kw_deformerbase.h"

constexpr LONG ID_KWTWIRL = 1030430;

constexpr LONG TWIRL_RADIUS = 1000;   ///< real: radius R; 0 switches the deformer off
constexpr LONG TWIRL_ANGLE = 1001;    ///< real: twist A (radians) reached at R
constexpr LONG TWIRL_REVERSE = 1002;  ///< integer: non-zero twists most on the axis
constexpr LONG TWIRL_LIMIT = 1003;    ///< bool: distances beyond R count as R
constexpr LONG TWIRL_EDGE = 1004;     ///< real: fraction of R, inward from the rim, blended

/// The twirl's parameters, read once per evaluation or drawing.
struct TwirlSettings {
  Real radius = 400.0;                  ///< R, deformer units
  Real angle = std::numbers::pi / 2.0;  ///< A, radians
  Bool reverse = false;
  Bool limit = false;
  Real edge = 0.0;  ///< e, 0..1

  /// The settings stored in a deformer's container (absent values read as 0 / false).
  static TwirlSettings Read(const BaseContainer& bc);
};

/// The twist (radians) at distance `distance` from the Y axis: −(d / R)·A, or −((R − d) / R)·A
/// in reverse, with d capped at R by the limit, and blended over the rim band e·R (the twist
/// reaches −A at the rim and stays there, or fades to 0 at the rim in reverse). 0 for R = 0.
Real TwirlTwist(Real distance, const TwirlSettings& settings);

/// One point of the twirl. `deformerPos` is in the deformer's space; the falloff weight scales
/// the twist, the restriction weight blends linearly between the old and the twisted position.
/// The returned angle is the twist times the restriction weight.
DeformedPoint TwirlPoint(const Vector& deformerPos, Real falloffWeight, Real restrictionWeight,
                         const TwirlSettings& settings);

/// The Twirl deformer.
class KWTwirl : public KWDeformerBase {
 public:
  /// A new instance from the host allocator; null when memory is exhausted.
  static NodeData* Alloc();

  /// Base defaults, then the twirl's; three own handles.
  Bool Init(GeListNode* node) override;
  /// With Shift held at creation, also sizes the radius to the active object's X-Z extent.
  Bool Message(GeListNode* node, LONG type, void* data) override;
  /// Centre 0, half size (R, R, R).
  void GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) override;
  /// The falloff, then the rim circle and the two-armed spiral (object pass) or the handles
  /// with their guide lines (handle pass).
  Bool Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) override;
  /// Twists the points; R = 0 leaves them as they are.
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) override;

 protected:
  /// Handles 0 radius, 1 edge, 2 angle; the falloff's follow.
  void GetOwnHandle(BaseObject* op, LONG i, HandleInfo& info) override;
  void SetOwnHandle(BaseObject* op, LONG i, const Vector& p) override;
};
