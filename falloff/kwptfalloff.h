// KWPTFalloff: what the falloff shapes Fieldwise, Grainfield and Mergefield share.
//
// The host calls a shape for one owner in this order: the allocator, `Init` (defaults into the
// owner's container), `InitFalloff` (read parameters and links), `Sample` per position,
// `FreeFalloff`; `CheckDirty`, `GetDVisible` and `Message` may come at any time in between and
// rely on nothing the preparation created. The shape's parameters live in the owner's
// container, beside the host's own falloff parameters.
#pragma once

#include "kwhost/c4d.h"

/// The common base of the falloff shapes: the display title and the notice to the user.
class KWPTFalloff : public FalloffData {
 public:
  explicit KWPTFalloff(const String& shapeTitle = {}) : title(shapeTitle) {}

  /// False for a null container, so no shape writes its defaults into nothing; true otherwise.
  /// Every shape's own `Init` calls this first.
  Bool Init(FalloffDataData& data, BaseContainer* bc) override;

  /// Tells the user something: clears the status line, then prints one console line and sets
  /// the status line, both with `title` + ": " + `text`.
  void ShowNotice(const String& text) const;

  const String& GetTitle() const { return title; }

 protected:
  /// The prefix of every notice ("Fieldwise", "Grainfield", "Mergefield").
  String title;
};

/// Writes `value` under `id` only when `bc` holds no value there yet, so that user settings and
/// values read from a scene file survive every `Init`.
void SetDefaultValue(BaseContainer& bc, LONG id, const GeData& value);

/// The global position a shape measures with: the falloff-local position `local` mapped through
/// the falloff's matrix in the sample record.
inline Vector FalloffToGlobal(const Vector& local, const FalloffDataData& data) {
  return data.mat * local;
}
