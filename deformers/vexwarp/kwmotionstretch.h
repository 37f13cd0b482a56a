// Ridado Reruvod: smears an animated object along its own motion trail.
#pragma once

#include "deformers/common/kw_deformerbase.h"

constexpr LONG ID_KWMOTIONSTRETCH = 1032036;

/// The Ridado Reruvod deformer.
class KWMotionStretch : public KWDeformerBase {
 public:
  /// A new instance from the host allocator; null when memory is exhausted.
  static NodeData* Alloc();

  /// An empty gizmo.
  void GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) override;
  /// Leaves the points as they are.
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) override;
};
