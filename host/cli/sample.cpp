#include "sample.h"

#include <charconv>

#include "cli_error.h"

namespace kwcli {

std::vector<FalloffSample> SampleFalloff(const Scene& scene, BaseObject* op,
                                         const std::vector<Vector>& positions) {
  if (!CarriesFalloff(op)) {
    throw CliError(kExitInput, "--object " + op->GetName() + ": a " + TypeName(op) +
                                   " carries no falloff (deformers and falloff objects do)");
  }
  // A deformer keeps its falloff to itself; a falloff prepared the same way gives the
  // same weights.
  C4D_Falloff* falloff = C4D_Falloff::Alloc();
  if (!falloff) throw CliError(kExitHost, "the host ran out of memory");
  std::vector<FalloffSample> samples;
  if (!falloff->InitFalloff(op->GetDataInstance(), scene.Document(), FalloffGizmo(op))) {
    C4D_Falloff::Free(falloff);
    throw CliError(kExitHost, "--object " + op->GetName() + ": the falloff cannot be prepared");
  }
  for (const Vector& p : positions) {
    FalloffSample sample{p, 0.0, 0.0};
    falloff->Sample(p, &sample.weight, true, 0.0);
    sample.raw = falloff->SampleRaw(p);
    samples.push_back(sample);
  }
  C4D_Falloff::Free(falloff);
  return samples;
}

bool ParsePosition(const String& text, Vector* position) {
  Real c[3];
  const char* p = text.data();
  const char* const end = p + text.size();
  for (int i = 0; i < 3; ++i) {
    if (p < end && *p == '+') ++p;
    const auto r = std::from_chars(p, end, c[i]);
    if (r.ec != std::errc()) return false;
    p = r.ptr;
    if (i < 2) {
      if (p == end || *p != ',') return false;
      ++p;
    }
  }
  if (p != end) return false;
  *position = Vector(c[0], c[1], c[2]);
  return true;
}

}  // namespace kwcli
