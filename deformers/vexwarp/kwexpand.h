// Expand: moves points away from or toward the deformer, by a uniform scale about its origin, a
// scale about its Y axis, a scale along that axis, or a push along each point's vertex normal.
#pragma once

#include "deformers/common/kw_deformerbase.h"

constexpr LONG ID_KWEXPAND = 1031654;

constexpr LONG EXPAND_STRENGTH = 1000;  ///< real: amount s (scale 1 + s, or push s · 100)
constexpr LONG EXPAND_MODE = 1001;      ///< integer: one of the modes below

constexpr LONG EXPAND_MODE_UNIFORM = 0;  ///< scale about the origin
constexpr LONG EXPAND_MODE_RADIAL = 1;   ///< scale X and Z about the Y axis
constexpr LONG EXPAND_MODE_AXIAL = 2;    ///< scale Y only
constexpr LONG EXPAND_MODE_NORMAL = 3;   ///< push along the vertex normals

constexpr Real EXPAND_STRENGTH_DEFAULT = 0.5;
/// Units a point is pushed along its normal per unit of strength.
constexpr Real EXPAND_NORMAL_DISTANCE = 100.0;

/// Uniform target: (f·x, f·y, f·z) for a deformer-space position.
Vector ExpandUniform(const Vector& deformerPos, Real factor);
/// Radial target: (f·x, y, f·z); the Y axis stays fixed.
Vector ExpandRadial(const Vector& deformerPos, Real factor);
/// Axial target: (x, f·y, z); the X-Z plane stays fixed.
Vector ExpandAxial(const Vector& deformerPos, Real factor);
/// Normal target: the position pushed by strength · 100 along `normal` (unit, deformer space).
Vector ExpandAlongNormal(const Vector& deformerPos, const Vector& normal, Real strength);
/// The share `weight` (falloff × restriction) of the way from `deformerPos` to `target`.
Vector ExpandBlend(const Vector& deformerPos, const Vector& target, Real weight);

/// The Expand deformer.
class KWExpand : public KWDeformerBase {
 public:
  /// A new instance from the host allocator; null when memory is exhausted.
  static NodeData* Alloc();

  /// Base defaults, then axial mode with strength 0.5; one own handle.
  Bool Init(GeListNode* node) override;
  /// Centre 0, half size (100, 100, 100).
  void GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) override;
  /// The falloff, then what the mode leaves fixed (object pass) or the handles with the
  /// strength guide line (handle pass).
  Bool Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) override;
  /// Moves the points by the mode; false when the normals cannot be allocated.
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) override;

 protected:
  /// Handle 0 is the strength on the Y axis; the falloff's follow.
  void GetOwnHandle(BaseObject* op, LONG i, HandleInfo& info) override;
  void SetOwnHandle(BaseObject* op, LONG i, const Vector& p) override;

 private:
  Bool ExpandAlongNormals(const DeformCall& call, Real strength);
};
