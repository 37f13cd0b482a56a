#include "falloff/kwptfalloff.h"

Bool KWPTFalloff::Init(FalloffDataData& data, BaseContainer* bc) {
  return bc != nullptr;
}

void KWPTFalloff::ShowNotice(const String& text) const {
  const String line = title + ": " + text;
  StatusClear();
  GePrint(line);
  StatusSetText(line);
}

void SetDefaultValue(BaseContainer& bc, LONG id, const GeData& value) {
  if (bc.GetType(id) == DataType::None) bc.SetData(id, value);
}
