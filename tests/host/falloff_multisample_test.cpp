// Sampling a run of positions at once gives, bit for bit, what sampling them one at a time
// gives: the deform frame relies on that to weigh its points in runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kwtest.h"

namespace {

constexpr LONG kRampShapeId = 1099102;

/// A plug-in shape whose raw weight runs along x past both ends of 0..1, so that inversion,
/// strength and clamping all show.
class RampShape : public FalloffData {
 public:
  static FalloffData* Alloc() { return NewObj<RampShape>("tests\\rampshape", __LINE__); }
  void Sample(const Vector& p, const FalloffDataData&, Real* result) override {
    *result = p.x / 200.0 + 0.5;
  }
};

struct Settings {
  const char* what;
  LONG mode;
  Vector size;
  Real falloff;
  Real strength;
  Bool invert;
};

bool SameBits(Real a, Real b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class FalloffMultiSample : public kwtest::HostTest {
 protected:
  void SetUp() override {
    kwhost::ClearRegistry();
    HostTest::SetUp();
    ASSERT_TRUE(RegisterFalloffPlugin(kRampShapeId, "Ramp", 0, RampShape::Alloc, "", "Ramp"));
    owner = BaseObject::Alloc(Ofalloff);
    ASSERT_NE(owner, nullptr);
    doc->InsertObject(owner, nullptr, nullptr);
    // Turned, scaled and moved, so that both transforms matter.
    owner->SetMg(
        Matrix(Vector(30, -20, 10), Vector(0.8, 0.6, 0), Vector(-0.6, 0.8, 0), Vector(0, 0, 1.5)));
    falloff = C4D_Falloff::Alloc();
    ASSERT_NE(falloff, nullptr);
  }
  void TearDown() override {
    C4D_Falloff::Free(falloff);
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }

  void Prepare(const Settings& s) {
    BaseContainer* bc = owner->GetDataInstance();
    bc->SetLong(FALLOFF_MODE, s.mode);
    bc->SetVector(FALLOFF_SIZE, s.size);
    bc->SetReal(FALLOFF_FALLOFF, s.falloff);
    bc->SetReal(FALLOFF_STRENGTH, s.strength);
    bc->SetBool(FALLOFF_INVERT, s.invert);
    ASSERT_TRUE(falloff->InitFalloff(bc, doc, owner)) << s.what;
  }

  /// Object-local positions through and around the shapes, on their surfaces and beyond.
  static std::vector<Vector> Positions() {
    std::vector<Vector> points;
    for (int i = -12; i <= 12; ++i) {
      for (int j = -3; j <= 3; ++j) {
        points.emplace_back(25.0 * i, 33.3 * j, 12.5 * (i - j));
      }
    }
    points.emplace_back(std::numeric_limits<Real>::quiet_NaN(), 0, 0);
    points.emplace_back(std::numeric_limits<Real>::infinity(), 0, 0);
    return points;
  }

  BaseObject* owner = nullptr;
  C4D_Falloff* falloff = nullptr;
};

TEST_F(FalloffMultiSample, EveryShapeGivesTheSameBitsAsSamplingOneAtATime) {
  const Settings settings[] = {
      {"infinite", FALLOFF_MODE_INFINITE, Vector(100), 1.0, 1.0, false},
      {"infinite, inverted, half strength", FALLOFF_MODE_INFINITE, Vector(100), 1.0, 0.5, true},
      {"sphere, full ramp", FALLOFF_MODE_SPHERE, Vector(150), 1.0, 1.0, false},
      {"sphere, partial ramp", FALLOFF_MODE_SPHERE, Vector(150), 0.3, 1.0, false},
      {"sphere, hard edge", FALLOFF_MODE_SPHERE, Vector(150), 0.0, 1.0, false},
      {"sphere, inverted, strength 2", FALLOFF_MODE_SPHERE, Vector(150), 0.6, 2.0, true},
      {"sphere of radius 0", FALLOFF_MODE_SPHERE, Vector(0), 1.0, 1.0, false},
      {"box", FALLOFF_MODE_BOX, Vector(120, 60, 200), 0.5, 1.0, false},
      {"box, inverted", FALLOFF_MODE_BOX, Vector(120, 60, 200), 1.0, 0.7, true},
      {"plug-in shape", kRampShapeId, Vector(100), 1.0, 1.0, false},
      {"plug-in shape, inverted, strength 3", kRampShapeId, Vector(100), 1.0, 3.0, true},
  };
  const Matrix toGlobal(Vector(-5, 7, 2), Vector(1, 0, 0), Vector(0, 0, -1), Vector(0, 1, 0));
  const std::vector<Vector> points = Positions();
  for (const Settings& s : settings) {
    Prepare(s);
    std::vector<Real> run(points.size(), -1.0);
    falloff->MultiSample(points.data(), toGlobal, run.data(), static_cast<LONG>(points.size()));
    for (size_t i = 0; i < points.size(); ++i) {
      Real single = -1.0;
      falloff->Sample(toGlobal * points[i], &single);
      EXPECT_TRUE(SameBits(single, run[i])) << s.what << ", position " << i << ": " << single
                                            << " one at a time, " << run[i] << " in a run";
    }
  }
}

TEST_F(FalloffMultiSample, NothingHappensWithoutArraysOrPositions) {
  Prepare({"sphere", FALLOFF_MODE_SPHERE, Vector(150), 1.0, 1.0, false});
  const Vector p;
  Real result = -1.0;
  falloff->MultiSample(nullptr, Matrix(), &result, 1);
  falloff->MultiSample(&p, Matrix(), &result, 0);
  falloff->MultiSample(&p, Matrix(), &result, -3);
  EXPECT_EQ(result, -1.0);
  falloff->MultiSample(&p, Matrix(), nullptr, 1);  // must not crash
}

}  // namespace
