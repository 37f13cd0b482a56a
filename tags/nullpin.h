// Nullpin: the anchor tag. Put on a deformer, its link names the object whose global matrix
// places the deformer's gizmo, handles and falloff. The tag itself does nothing at evaluation
// time and draws nothing; the deformers read its link.
#pragma once

#include "kwhost/c4d.h"

/// The object the deformer's gizmo and falloff follow (link).
constexpr LONG NULLPIN_LINK = 1000;

class Nullpin : public TagData {
 public:
  /// Creates an instance through the host allocator; null when memory is exhausted.
  static NodeData* Alloc();
  /// Writes no parameter: an empty link means "use the deformer's own matrix".
  Bool Init(GeListNode* node) override { return true; }
};
