// Falloff weights of a scene object at chosen positions.
#pragma once

#include <vector>

#include "scene.h"

namespace kwcli {

struct FalloffSample {
  Vector at;    ///< global position
  Real weight;  ///< the owner's final weight (inverted, scaled and clamped by the host)
  Real raw;     ///< the shape's own result at the position
};

/// Samples the falloff of `op` (a deformer or a falloff object) at each global position.
/// The falloff is prepared as the deformer's own is: with `op`'s container, placed by the
/// object a Nullpin tag on `op` links, else by `op`. Throws CliError when `op` carries no
/// falloff or the host runs out of memory.
std::vector<FalloffSample> SampleFalloff(const Scene& scene, BaseObject* op,
                                         const std::vector<Vector>& positions);

/// Parses "X,Y,Z"; false when malformed.
bool ParsePosition(const String& text, Vector* position);

}  // namespace kwcli
