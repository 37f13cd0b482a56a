// Reduze Zivi: rolls a sheet up onto a spiral.
#pragma once

#include "deformers/common/kw_deformerbase.h"

constexpr LONG ID_KWSCROLLROLL = 1030431;

/// The Reduze Zivi deformer.
class KWScrollRoll : public KWDeformerBase {
 public:
  /// A new instance from the host allocator; null when memory is exhausted.
  static NodeData* Alloc();

  /// An empty gizmo.
  void GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) override;
  /// Leaves the points as they are.
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) override;
};
