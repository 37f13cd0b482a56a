#include "falloff/grainfield.h"

// The measuring arrives with the shape's own behaviour; until then nothing is in range.
void Grainfield::Sample(const Vector& p, const FalloffDataData& data, Real* result) {
  *result = 0.0;
}

FalloffData* Grainfield::Alloc() {
  return NewObj<Grainfield>("grainfield\\source\\grainfield", __LINE__);
}
