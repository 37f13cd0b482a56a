// Container values, their conversions, dirty counters, links and spline curves.
#include <gtest/gtest.h>

#include <cmath>

#include "kwtest.h"

namespace {

// ---------------------------------------------------------------------------------------------
// GeData conversions

TEST(GeData, ReadsItsOwnTypeAndTheHostConversions) {
  const GeData longValue(LONG(7));
  const GeData boolValue(true);
  const GeData realValue(2.5);
  EXPECT_EQ(longValue.GetLong(), 7);
  EXPECT_EQ(longValue.GetReal(), 7.0);  // a Long reads as a Real
  EXPECT_TRUE(longValue.GetBool());     // and as a Bool, as the host stores booleans
  EXPECT_FALSE(GeData(LONG(0)).GetBool(true));
  EXPECT_EQ(boolValue.GetLong(), 1);  // a Bool reads as a Long
  EXPECT_EQ(GeData(false).GetLong(9), 0);
  EXPECT_EQ(realValue.GetReal(), 2.5);
}

TEST(GeData, OtherTypesGiveTheFallback) {
  const GeData realValue(2.5);
  const GeData text("abc");
  const GeData empty;
  EXPECT_EQ(realValue.GetLong(-1), -1);  // no silent truncation of a Real
  EXPECT_EQ(realValue.GetBool(true), true);
  EXPECT_EQ(realValue.GetString("x"), "x");
  EXPECT_EQ(text.GetReal(4.0), 4.0);
  EXPECT_EQ(text.GetVector(Vector(1, 2, 3)), Vector(1, 2, 3));
  EXPECT_EQ(empty.GetType(), DataType::None);
  EXPECT_EQ(empty.GetMatrix(Matrix({1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1})).off,
            Vector(1, 1, 1));
  EXPECT_EQ(empty.GetTime(BaseTime(3, 1)), BaseTime(3, 1));
  EXPECT_EQ(empty.GetBaseLink(), nullptr);
  EXPECT_EQ(empty.GetSpline(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// BaseContainer

TEST(BaseContainer, StoresEveryTypeUnderItsId) {
  BaseContainer bc;
  bc.SetLong(1, 3);
  bc.SetReal(2, 1.5);
  bc.SetBool(3, true);
  bc.SetString(4, "name");
  bc.SetVector(5, Vector(1, 2, 3));
  bc.SetMatrix(6, Matrix({1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}));
  bc.SetTime(7, BaseTime(1, 2));
  bc.SetData(8, GeData(SplineData({{1, 1}, {0, 0}})));
  EXPECT_EQ(bc.GetLong(1), 3);
  EXPECT_EQ(bc.GetReal(2), 1.5);
  EXPECT_TRUE(bc.GetBool(3));
  EXPECT_EQ(bc.GetString(4), "name");
  EXPECT_EQ(bc.GetVector(5), Vector(1, 2, 3));
  EXPECT_EQ(bc.GetMatrix(6).v2, Vector(1, 0, 0));
  EXPECT_EQ(bc.GetTime(7).Get(), 0.5);
  ASSERT_NE(bc.GetCustomDataType(8, CUSTOMDATATYPE_SPLINE), nullptr);
  EXPECT_EQ(bc.GetCustomDataType(8, 12345), nullptr);
  EXPECT_EQ(bc.GetCustomDataType(2, CUSTOMDATATYPE_SPLINE), nullptr);
  EXPECT_EQ(bc.GetType(5), DataType::Vector);
  EXPECT_EQ(bc.GetType(99), DataType::None);
  EXPECT_EQ(bc.GetReal(99, -4.0), -4.0);
  EXPECT_EQ(bc.GetReal(1), 3.0);
}

TEST(BaseContainer, CountsRealChangesInBothCounters) {
  BaseContainer bc;
  EXPECT_EQ(bc.GetDirty(), 0);
  bc.SetReal(1, 1.0);
  bc.SetReal(2, 2.0);
  EXPECT_EQ(bc.GetDirty(), 2);
  EXPECT_EQ(bc.GetChangeCount(), 2);

  bc.SetReal(1, 1.0);  // the value it has: nothing to re-evaluate
  EXPECT_EQ(bc.GetDirty(), 2);
  bc.SetLong(1, 1);  // same number, another type: a change
  EXPECT_EQ(bc.GetDirty(), 3);

  bc.ClearDirty();
  EXPECT_EQ(bc.GetDirty(), 0);
  EXPECT_EQ(bc.GetChangeCount(), 3);  // the change count never goes back

  bc.RemoveData(42);  // absent: no change
  EXPECT_EQ(bc.GetDirty(), 0);
  bc.RemoveData(2);
  bc.FlushAll();
  EXPECT_EQ(bc.GetDirty(), 2);
  EXPECT_EQ(bc.GetChangeCount(), 5);
  EXPECT_TRUE(bc.Entries().empty());
}

// ---------------------------------------------------------------------------------------------
// Links

class LinkTest : public kwtest::HostTest {};

TEST_F(LinkTest, ResolvesToNullOnceTheTargetIsFreed) {
  BaseObject* target = BaseObject::Alloc(Onull);
  BaseObject* owner = BaseObject::Alloc(Onull);
  doc->InsertObject(target, nullptr, nullptr);
  doc->InsertObject(owner, nullptr, nullptr);
  BaseContainer* bc = owner->GetDataInstance();
  bc->SetLink(1000, target);
  const BaseLink copy = *bc->GetData(1000)->GetBaseLink();
  EXPECT_EQ(bc->GetLink(1000, doc), target);

  BaseObject::Free(target);
  EXPECT_EQ(bc->GetLink(1000, doc), nullptr);
  EXPECT_EQ(bc->GetLink(1000, nullptr), nullptr);
  EXPECT_EQ(copy.GetNode(), nullptr);  // every copy of the link lets go
}

TEST_F(LinkTest, ResolvesOnlyInsideTheAskedDocument) {
  BaseObject* inDoc = BaseObject::Alloc(Onull);
  BaseObject* child = BaseObject::Alloc(Onull);
  BaseObject* loose = BaseObject::Alloc(Onull);
  doc->InsertObject(inDoc, nullptr, nullptr);
  child->InsertUnder(inDoc);
  BaseDocument* other = BaseDocument::Alloc();

  BaseContainer bc;
  bc.SetLink(1, child);
  bc.SetLink(2, loose);
  EXPECT_EQ(bc.GetLink(1, doc), child);
  EXPECT_EQ(bc.GetLink(1, other), nullptr);
  EXPECT_EQ(bc.GetLink(2, doc), nullptr);    // in no document
  EXPECT_EQ(bc.GetLink(2, nullptr), loose);  // no document asked: wherever it is

  child->Remove();  // out of the document now
  EXPECT_EQ(bc.GetLink(1, doc), nullptr);
  EXPECT_EQ(bc.GetLink(1, nullptr), child);

  bc.SetLink(1, nullptr);
  EXPECT_EQ(bc.GetType(1), DataType::Link);
  EXPECT_EQ(bc.GetLink(1, nullptr), nullptr);
  EXPECT_EQ(bc.GetLink(3, nullptr), nullptr);  // never set
  BaseObject::Free(child);
  BaseObject::Free(loose);
  BaseDocument::Free(other);
}

TEST_F(LinkTest, LinkToADocumentResolvesInItself) {
  BaseContainer bc;
  bc.SetLink(1, doc);
  EXPECT_EQ(bc.GetLink(1, doc), doc);
}

// ---------------------------------------------------------------------------------------------
// Spline curves

TEST(SplineData, IsPiecewiseLinearAndConstantBeyondTheEnds) {
  const SplineData curve({{1.0, 1.0}, {0.0, 0.0}, {0.5, 0.25}});  // sorted by x on the way in
  ASSERT_EQ(curve.GetKnotCount(), 3);
  EXPECT_EQ(curve.GetKnots()[1].x, 0.5);
  const struct {
    Real x, y;
  } cases[] = {{-1.0, 0.0},   {0.0, 0.0}, {0.25, 0.125}, {0.5, 0.25},
               {0.75, 0.625}, {1.0, 1.0}, {3.0, 1.0}};
  for (const auto& c : cases) {
    const Vector p = curve.GetPoint(c.x);
    EXPECT_DOUBLE_EQ(p.y, c.y) << "x = " << c.x;
    EXPECT_EQ(p.x, c.x);
  }
}

TEST(SplineData, EdgeCurves) {
  EXPECT_EQ(SplineData().GetPoint(0.3), Vector(0.3, 0, 0));
  EXPECT_EQ(SplineData({{0.5, 0.7}}).GetPoint(0.1).y, 0.7);
  EXPECT_EQ(SplineData({{0.5, 0.7}}).GetPoint(0.9).y, 0.7);
  // Two knots at one x make a step; there is no division by their zero distance.
  const SplineData step({{0, 0}, {0.5, 0}, {0.5, 1}, {1, 1}});
  EXPECT_EQ(step.GetPoint(0.25).y, 0.0);
  EXPECT_EQ(step.GetPoint(0.75).y, 1.0);
  EXPECT_TRUE(std::isfinite(step.GetPoint(0.5).y));
  // A NaN position stays inside the knots.
  EXPECT_EQ(step.GetPoint(std::nan("")).y, 0.0);
}

}  // namespace
