// Grainfield: a falloff shape registered under its own plug-in ID. It measures nothing yet and
// weights every position 0; its behaviour arrives later.
#pragma once

#include "falloff/kwptfalloff.h"

/// The Grainfield falloff shape.
class Grainfield : public KWPTFalloff {
 public:
  static constexpr LONG kPluginId = 1032559;

  /// A new instance; null when memory is exhausted.
  static FalloffData* Alloc();

  Grainfield() : KWPTFalloff("Grainfield") {}

  /// Weight 0 everywhere: there is nothing to measure yet.
  void Sample(const Vector& p, const FalloffDataData& data, Real* result) override;
};
