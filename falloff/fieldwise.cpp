#include "falloff/fieldwise.h"

// The measuring arrives with the shape's own behaviour; until then nothing is in range.
void Fieldwise::Sample(const Vector& p, const FalloffDataData& data, Real* result) {
  *result = 0.0;
}

FalloffData* Fieldwise::Alloc() {
  return NewObj<Fieldwise>("fieldwise\\source\\fieldwise", __LINE__);
}
