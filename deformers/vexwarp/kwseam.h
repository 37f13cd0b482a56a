// Seam: pulls two rows of edges of a mesh together.
#pragma once

#include "deformers/common/kw_deformerbase.h"

constexpr LONG ID_KWSEAM = 1031759;

/// The Seam deformer.
class KWSeam : public KWDeformerBase {
 public:
  /// A new instance from the host allocator; null when memory is exhausted.
  static NodeData* Alloc();

  /// An empty gizmo.
  void GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) override;
  /// Leaves the points as they are.
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) override;
};
