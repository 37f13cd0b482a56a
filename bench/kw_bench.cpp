// The benchmarks: each deformer's ModifyObject, a whole evaluation pass and falloff sampling on
// a segmented plane, measured in the same run as the floors they are judged against (copying
// the points, and the deformers' own per-point kernels looped bare, without the host).
//
// Run with no arguments for the full set (five repetitions of every case in random order,
// medians, a summary of ratios at the end); Google Benchmark's flags (--benchmark_filter=...,
// --benchmark_repetitions=N, --benchmark_min_time=S for profiling) narrow or change it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "bench_scene.h"
#include "bench_summary.h"
#include "deformers/quillform/kwspherewrap.h"
#include "deformers/quillform/kwtwirl.h"
#include "deformers/vexwarp/kwexpand.h"

namespace kwbench {
namespace {

// 317² = 100,489 and 1001² = 1,002,001 points (the second is the grid of the peer comparison).
const std::vector<Size> kSizes = {{"100k", 316}, {"1M", 1000}};

constexpr int kDefaultRepetitions = 5;
// Long enough for a stable median of millisecond iterations, short enough that the whole set
// runs in a few minutes.
constexpr double kMinTimeSeconds = 0.2;
// False when the command line sets --benchmark_min_time (for profiling, say).
bool useOwnMinTime = true;

constexpr Real kExpandStrength = EXPAND_STRENGTH_DEFAULT;

// ---------------------------------------------------------------------------------------------
// Floors

/// Copying the points: the least any deformation of them costs.
void CopyFloor(benchmark::State& state, const Size& size) {
  const std::vector<Vector> points = PlanePoints(kPlaneWidth, size.segments);
  std::vector<Vector> target(points.size());
  for (auto _ : state) {
    std::memcpy(target.data(), points.data(), points.size() * sizeof(Vector));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points.size()));
}

/// A per-point rule in place over the points, as a bare loop would run it.
using BareRule = std::function<void(std::vector<Vector>& points)>;

/// Runs `rule` over freshly restored points; the restore is not timed, as in the deformer
/// cases.
void BareFloor(benchmark::State& state, const Size& size, const BareRule& rule) {
  const std::vector<Vector> points = PlanePoints(kPlaneWidth, size.segments);
  std::vector<Vector> work = points;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), points.data(), points.size() * sizeof(Vector));
    state.ResumeTiming();
    rule(work);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points.size()));
}

// The bare loops call the deformers' own kernels with full weight, so the difference to the
// ModifyObject cases is the frame: matrices, falloff, restriction, maps, break test.

void BareTwirl(std::vector<Vector>& points) {
  const TwirlSettings settings;
  for (Vector& p : points) p = TwirlPoint(p, 1.0, 1.0, settings).position;
}

void BareSphereWrap(std::vector<Vector>& points) {
  const SphereWrapSettings settings;
  for (Vector& p : points) p = SphereWrapPoint(p, 1.0, 1.0, settings).position;
}

template <Vector (*Target)(const Vector&, Real)>
void BareExpandScale(std::vector<Vector>& points) {
  const Real factor = 1.0 + kExpandStrength;
  for (Vector& p : points) p = ExpandBlend(p, Target(p, factor), 1.0);
}

/// The normal mode needs its normals: computed as the deformer does, into a buffer that
/// already exists.
BareRule BareExpandNormal(PolygonObject* plane) {
  auto normals = std::make_shared<std::vector<Vector>>(plane->GetPointCount());
  return [plane, normals](std::vector<Vector>& points) {
    Vector* n = normals->data();
    CalcVertexNormals(points.data(), Matrix(), false, n, plane);
    for (size_t i = 0; i < points.size(); ++i) {
      points[i] = ExpandBlend(points[i], ExpandAlongNormal(points[i], n[i], kExpandStrength), 1.0);
    }
  };
}

void BareExpandNormalFloor(benchmark::State& state, const Size& size) {
  PolygonObject* plane = MakePlane(kPlaneWidth, size.segments);
  if (!plane) {
    state.SkipWithError("cannot build the plane");
    return;
  }
  BareFloor(state, size, BareExpandNormal(plane));
  BaseObject* object = plane;
  BaseObject::Free(object);
}

/// The least the weighted uniform Expand costs: the same work as the frame does for it (the
/// sphere weight, the restriction, the rule, the distance map), written out in one loop from
/// the rules, without the host. The sphere is centred on the plane, as in the deformer case.
void BareExpandWeightedFloor(benchmark::State& state, const Size& size) {
  const std::vector<Vector> points = PlanePoints(kPlaneWidth, size.segments);
  std::vector<Vector> work = points;
  std::vector<SReal> restriction(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    restriction[i] = RestrictionValue(static_cast<LONG>(i));
  }
  std::vector<SReal> map(points.size());
  const Real factor = 1.0 + kExpandStrength;
  const Real radius = kSphereRadius;
  const Real maxDistance = DEFORMERBASE_MAXDISTANCE_DEFAULT;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), points.data(), points.size() * sizeof(Vector));
    state.ResumeTiming();
    for (size_t i = 0; i < work.size(); ++i) {
      const Vector p = work[i];
      // Full ramp over the radius, strength 1, clamped to 0..1.
      const Real t = Len(p) / radius;
      const Real falloff = t >= 1.0 ? 0.0 : 1.0 - t;
      const Vector q = ExpandBlend(p, ExpandUniform(p, factor), falloff * restriction[i]);
      const Real v = Len(q - p) / maxDistance;
      map[i] = static_cast<SReal>(v > 1.0 ? 1.0 : v);
      work[i] = q;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points.size()));
}

// ---------------------------------------------------------------------------------------------
// The host and the frame

/// ModifyObject on the plane's deform cache, restored (untimed) before each call.
void ModifyCase(benchmark::State& state, const Size& size, DeformerSetup setup,
                Weighting weighting) {
  DeformScene scene(setup, weighting, size.segments);
  if (!scene.Ok()) {
    state.SkipWithError("cannot build the scene");
    return;
  }
  BaseThread thread;
  for (auto _ : state) {
    state.PauseTiming();
    scene.RestoreCache();
    state.ResumeTiming();
    if (!scene.Modify(&thread)) {
      state.SkipWithError("ModifyObject failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * size.Points());
}

enum class PassKind {
  kTwirlOn,    ///< the Twirl deforms the plane
  kTwirlIdle,  ///< the Twirl is on with radius 0: the host copies, the deformer returns at once
  kTwirlOff,   ///< the Twirl is switched off: nothing to deform, the host's own traversal
};

/// Times whole evaluation passes of `scene`.
template <class Scene>
void RunPasses(benchmark::State& state, Scene& scene, const Size& size) {
  BaseThread thread;
  for (auto _ : state) {
    if (!scene.Pass(&thread)) {
      state.SkipWithError("ExecutePasses failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * size.Points());
}

void PassCase(benchmark::State& state, const Size& size, PassKind kind) {
  DeformScene scene({ID_KWTWIRL}, Weighting::kInfinite, size.segments);
  if (!scene.Ok()) {
    state.SkipWithError("cannot build the scene");
    return;
  }
  if (kind == PassKind::kTwirlIdle) scene.Deformer()->GetDataInstance()->SetReal(TWIRL_RADIUS, 0);
  if (kind == PassKind::kTwirlOff) scene.Deformer()->SetDeformMode(false);
  RunPasses(state, scene, size);
}

/// A pass over the plane primitive: the host generates the mesh, copies it and deforms it.
void PrimitivePassCase(benchmark::State& state, const Size& size) {
  PrimitiveScene scene(size.segments);
  if (!scene.Ok()) {
    state.SkipWithError("cannot build the scene");
    return;
  }
  RunPasses(state, scene, size);
}

/// The falloff's weight at every point of the plane, one position at a time.
void SampleCase(benchmark::State& state, const Size& size, SamplingScene::Shape shape) {
  SamplingScene scene(shape);
  if (!scene.Ok()) {
    state.SkipWithError("cannot prepare the falloff");
    return;
  }
  const std::vector<Vector> points = PlanePoints(kPlaneWidth, size.segments);
  C4D_Falloff* falloff = scene.Falloff();
  for (auto _ : state) {
    Real sum = 0.0;
    for (const Vector& p : points) {
      Real w = 0.0;
      falloff->Sample(p, &w, true, 0.0);
      sum += w;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points.size()));
}

// ---------------------------------------------------------------------------------------------
// The case list

struct Deformer {
  const char* name;
  DeformerSetup setup;
  const char* bare;  ///< the name of its bare-kernel floor
  bool moved;        ///< also measured with the plane and the deformer moved and turned
};

const Deformer kDeformers[] = {
    {"Twirl", {ID_KWTWIRL}, "Bare/Twirl", true},
    {"DazoriRoru", {ID_KWSPHEREWRAP}, "Bare/DazoriRoru", false},
    {"Expand/Uniform", {ID_KWEXPAND, EXPAND_MODE_UNIFORM}, "Bare/Expand/Uniform", true},
    {"Expand/Radial", {ID_KWEXPAND, EXPAND_MODE_RADIAL}, "Bare/Expand/Radial", false},
    {"Expand/Axial", {ID_KWEXPAND, EXPAND_MODE_AXIAL}, "Bare/Expand/Axial", false},
    {"Expand/Normal", {ID_KWEXPAND, EXPAND_MODE_NORMAL}, "Bare/Expand/Normal", false},
};

const char* const kCopyFloor = "Copy";

/// Every case in summary order, with what it is judged against.
std::vector<CaseInfo> CaseInfos() {
  std::vector<CaseInfo> cases;
  cases.push_back({kCopyFloor, ""});
  for (const Deformer& d : kDeformers) cases.push_back({d.bare, ""});
  for (const Deformer& d : kDeformers) {
    cases.push_back({std::string("ModifyObject/") + d.name + "/Infinite", d.bare, 1.5});
  }
  for (const Deformer& d : kDeformers) {
    cases.push_back({std::string("ModifyObject/") + d.name + "/SphereMaps", d.bare, 2.5});
  }
  cases.push_back({"Bare/Expand/Uniform/SphereMaps", "Bare/Expand/Uniform"});
  cases.push_back({"ModifyObject/Expand/Uniform/SphereMaps", "Bare/Expand/Uniform/SphereMaps"});
  for (const Deformer& d : kDeformers) {
    if (!d.moved) continue;
    cases.push_back({std::string("ModifyObject/") + d.name + "/Moved",
                     std::string("ModifyObject/") + d.name + "/Infinite"});
  }
  cases.push_back({"Pass/TwirlOn", "ModifyObject/Twirl/Infinite", 1.3, 90.0});
  cases.push_back({"Pass/TwirlIdle", "ModifyObject/Twirl/Infinite"});
  cases.push_back({"Pass/TwirlOff", "ModifyObject/Twirl/Infinite"});
  cases.push_back({"Pass/PrimitivePlaneTwirlOn", "ModifyObject/Twirl/Infinite"});
  cases.push_back({"Falloff/Sphere", "", 0.0, 0.0, true});
  cases.push_back({"Falloff/Mergefield", "", 0.0, 0.0, true});
  return cases;
}

template <class Fn>
void Register(const std::string& name, const Size& size, Fn&& fn) {
  benchmark::internal::Benchmark* bench = benchmark::RegisterBenchmark(
      (name + "/" + size.label).c_str(), [fn, size](benchmark::State& state) { fn(state, size); });
  bench->Unit(benchmark::kMillisecond)->UseRealTime();
  if (useOwnMinTime) bench->MinTime(kMinTimeSeconds);
}

void RegisterCases() {
  for (const Size& size : kSizes) {
    Register(kCopyFloor, size, CopyFloor);
    Register("Bare/Twirl", size,
             [](benchmark::State& s, const Size& z) { BareFloor(s, z, BareTwirl); });
    Register("Bare/DazoriRoru", size,
             [](benchmark::State& s, const Size& z) { BareFloor(s, z, BareSphereWrap); });
    Register("Bare/Expand/Uniform", size, [](benchmark::State& s, const Size& z) {
      BareFloor(s, z, BareExpandScale<ExpandUniform>);
    });
    Register("Bare/Expand/Radial", size, [](benchmark::State& s, const Size& z) {
      BareFloor(s, z, BareExpandScale<ExpandRadial>);
    });
    Register("Bare/Expand/Axial", size, [](benchmark::State& s, const Size& z) {
      BareFloor(s, z, BareExpandScale<ExpandAxial>);
    });
    Register("Bare/Expand/Normal", size, BareExpandNormalFloor);

    for (const Weighting weighting : {Weighting::kInfinite, Weighting::kSphereMaps}) {
      const char* suffix = weighting == Weighting::kInfinite ? "/Infinite" : "/SphereMaps";
      for (const Deformer& d : kDeformers) {
        const DeformerSetup setup = d.setup;
        Register(std::string("ModifyObject/") + d.name + suffix, size,
                 [setup, weighting](benchmark::State& s, const Size& z) {
                   ModifyCase(s, z, setup, weighting);
                 });
      }
    }

    for (const Deformer& d : kDeformers) {
      if (!d.moved) continue;
      const DeformerSetup setup = d.setup;
      Register(std::string("ModifyObject/") + d.name + "/Moved", size,
               [setup](benchmark::State& s, const Size& z) {
                 ModifyCase(s, z, setup, Weighting::kMoved);
               });
    }
    Register("Bare/Expand/Uniform/SphereMaps", size, BareExpandWeightedFloor);

    Register("Pass/TwirlOn", size,
             [](benchmark::State& s, const Size& z) { PassCase(s, z, PassKind::kTwirlOn); });
    Register("Pass/TwirlIdle", size,
             [](benchmark::State& s, const Size& z) { PassCase(s, z, PassKind::kTwirlIdle); });
    Register("Pass/TwirlOff", size,
             [](benchmark::State& s, const Size& z) { PassCase(s, z, PassKind::kTwirlOff); });
    Register("Pass/PrimitivePlaneTwirlOn", size, PrimitivePassCase);
    Register("Falloff/Sphere", size, [](benchmark::State& s, const Size& z) {
      SampleCase(s, z, SamplingScene::Shape::kSphere);
    });
    Register("Falloff/Mergefield", size, [](benchmark::State& s, const Size& z) {
      SampleCase(s, z, SamplingScene::Shape::kMergefield);
    });
  }
}

/// The command line with the defaults of a full run added where the caller gave none.
std::vector<std::string> WithDefaults(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  auto given = [&](const char* flag) {
    for (const std::string& a : args) {
      if (a.rfind(flag, 0) == 0) return true;
    }
    return false;
  };
  useOwnMinTime = !given("--benchmark_min_time");
  if (!given("--benchmark_repetitions")) {
    args.push_back("--benchmark_repetitions=" + std::to_string(kDefaultRepetitions));
  }
  // Repetitions of all cases in random order: a burst of load from elsewhere on a shared
  // machine then touches a few repetitions of many cases, not all of one case and its floor.
  if (!given("--benchmark_enable_random_interleaving")) {
    args.push_back("--benchmark_enable_random_interleaving=true");
  }
  if (!given("--benchmark_display_aggregates_only") && !given("--benchmark_report_aggregates")) {
    args.push_back("--benchmark_display_aggregates_only=true");
  }
  return args;
}

}  // namespace
}  // namespace kwbench

int main(int argc, char** argv) {
  if (!kwbench::RegisterAllModules()) return 1;
  std::vector<std::string> args = kwbench::WithDefaults(argc, argv);
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  int count = static_cast<int>(argp.size());
  benchmark::Initialize(&count, argp.data());
  if (benchmark::ReportUnrecognizedArguments(count, argp.data())) return 1;

  kwbench::RegisterCases();
  kwbench::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.HasResults()) {
    reporter.PrintSummary(std::cout, kwbench::kSizes, kwbench::CaseInfos(), kwbench::kCopyFloor);
  }
  benchmark::Shutdown();
  return 0;
}
