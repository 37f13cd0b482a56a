// Fieldwise: a falloff shape registered under its own plug-in ID. It measures nothing yet and
// weights every position 0; its behaviour arrives later.
#pragma once

#include "falloff/kwptfalloff.h"

/// The Fieldwise falloff shape.
class Fieldwise : public KWPTFalloff {
 public:
  static constexpr LONG kPluginId = 1029531;

  /// A new instance; null when memory is exhausted.
  static FalloffData* Alloc();

  Fieldwise() : KWPTFalloff("Fieldwise") {}

  /// Weight 0 everywhere: there is nothing to measure yet.
  void Sample(const Vector& p, const FalloffDataData& data, Real* result) override;
};
