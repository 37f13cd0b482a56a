// The recording viewport.
#include <gtest/gtest.h>

#include "kwtest.h"

namespace {

using kwtest::VectorNear;

class DrawTest : public kwtest::HostTest {};

TEST_F(DrawTest, RecordsCommandsInGlobalSpace) {
  BaseObject* op = BaseObject::Alloc(Onull);
  doc->InsertObject(op, nullptr, nullptr);
  op->SetMl(Matrix({10, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, 0, 2}));  // turned, z doubled

  BaseDraw bd;
  BaseDrawHelp bh(&bd, op);
  EXPECT_EQ(bh.GetMg(), op->GetMg());
  EXPECT_EQ(bh.GetObject(), op);
  EXPECT_EQ(bh.GetBaseDraw(), &bd);

  bd.BeginPass(DRAWPASS_OBJECT, op);
  bd.SetMatrix_Matrix(op, bh.GetMg());
  bd.SetPen(Vector(1, 0, 0));
  bd.DrawLine(Vector(0, 0, 0), Vector(1, 0, 1));
  bd.DrawCircle(Matrix({0, 0, 1}, {5, 0, 0}, {0, 5, 0}, {0, 0, 1}));
  bd.BeginPass(DRAWPASS_HANDLES, op);
  bd.SetPen(bd.GetViewColor(VIEWCOLOR_HANDLES));
  bd.DrawHandle(Vector(1, 2, 3), 3);  // the pass started from global space again

  const auto& commands = bd.Commands();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].kind, DrawCommand::Kind::Line);
  EXPECT_EQ(commands[0].pass, DRAWPASS_OBJECT);
  EXPECT_EQ(commands[0].object, op);
  EXPECT_EQ(commands[0].colour, Vector(1, 0, 0));
  EXPECT_TRUE(VectorNear(Vector(10, 0, 0), commands[0].a));
  EXPECT_TRUE(VectorNear(Vector(10, 1, 2), commands[0].b));
  EXPECT_EQ(commands[0].matrix, op->GetMg());

  EXPECT_EQ(commands[1].kind, DrawCommand::Kind::Circle);
  EXPECT_TRUE(VectorNear(Vector(10, 0, 2), commands[1].circle.off));
  EXPECT_TRUE(VectorNear(Vector(0, 5, 0), commands[1].circle.v1));
  EXPECT_TRUE(VectorNear(Vector(-5, 0, 0), commands[1].circle.v2));

  EXPECT_EQ(commands[2].kind, DrawCommand::Kind::Handle);
  EXPECT_EQ(commands[2].pass, DRAWPASS_HANDLES);
  EXPECT_EQ(commands[2].a, Vector(1, 2, 3));
  EXPECT_EQ(commands[2].size, 3);
  EXPECT_EQ(commands[2].colour, bd.GetViewColor(VIEWCOLOR_HANDLES));

  bd.ClearCommands();
  EXPECT_TRUE(bd.Commands().empty());
}

TEST_F(DrawTest, ColoursAndHighlightedHandles) {
  BaseDraw bd;
  BaseObject* op = BaseObject::Alloc(Onull);
  doc->InsertObject(op, nullptr, nullptr);
  const Vector object = bd.GetObjectColor(nullptr, op);
  const Vector handle = bd.GetViewColor(VIEWCOLOR_HANDLES);
  const Vector active = bd.GetViewColor(VIEWCOLOR_ACTIVEHANDLES);
  EXPECT_NE(handle, active);
  EXPECT_NE(object, handle);
  EXPECT_NE(object, active);
  EXPECT_EQ(bd.GetObjectColor(nullptr, nullptr), object);  // one colour for every deformer

  EXPECT_EQ(op->GetHighlightHandle(&bd), -1);
  EXPECT_EQ(op->GetHighlightHandle(nullptr), -1);
  bd.SetHighlightHandle(op, 2);
  EXPECT_EQ(op->GetHighlightHandle(&bd), 2);
}

}  // namespace
