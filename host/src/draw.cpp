// The recording viewport: every drawing call is kept in global space.
#include "kwhost/draw.h"

#include "kwhost/nodes.h"

namespace {

// Deformers are drawn in the host's deformer blue; handles in yellow, the one under the
// cursor in orange, so a picture tells them apart.
constexpr Vector kDeformerColour(0.35, 0.55, 1.0);
constexpr Vector kHandleColour(0.95, 0.8, 0.1);
constexpr Vector kActiveHandleColour(1.0, 0.4, 0.1);
constexpr Vector kOtherViewColour(0.6, 0.6, 0.6);

}  // namespace

void BaseDraw::SetMatrix_Matrix(BaseObject* op, const Matrix& mg) {
  matrix_ = mg;
}

DrawCommand& BaseDraw::Record(DrawCommand::Kind kind) {
  DrawCommand& command = commands_.emplace_back();
  command.kind = kind;
  command.pass = pass_;
  command.object = object_;
  command.colour = pen_;
  command.matrix = matrix_;
  return command;
}

void BaseDraw::DrawLine(const Vector& a, const Vector& b, LONG flags) {
  DrawCommand& command = Record(DrawCommand::Kind::Line);
  command.a = matrix_ * a;
  command.b = matrix_ * b;
}

void BaseDraw::DrawCircle(const Matrix& m) {
  DrawCommand& command = Record(DrawCommand::Kind::Circle);
  command.circle = matrix_ * m;
  command.a = command.circle.off;
}

void BaseDraw::DrawHandle(const Vector& p, LONG size, LONG flags) {
  DrawCommand& command = Record(DrawCommand::Kind::Handle);
  command.a = matrix_ * p;
  command.size = size;
}

Vector BaseDraw::GetObjectColor(BaseDrawHelp* bh, BaseObject* op, Bool lineObject) const {
  return kDeformerColour;
}

Vector BaseDraw::GetViewColor(LONG id) const {
  if (id == VIEWCOLOR_HANDLES) return kHandleColour;
  if (id == VIEWCOLOR_ACTIVEHANDLES) return kActiveHandleColour;
  return kOtherViewColour;
}

void BaseDraw::BeginPass(LONG pass, const BaseObject* object) {
  pass_ = pass;
  object_ = object;
  // Each object starts from global space; what it set for itself does not carry over.
  matrix_ = Matrix();
}

LONG BaseDraw::GetHighlightHandle(const BaseObject* op) const {
  auto found = highlight_.find(op);
  return found == highlight_.end() ? -1 : found->second;
}

BaseDrawHelp::BaseDrawHelp(BaseDraw* bd, BaseObject* op)
    : bd_(bd), op_(op), mg_(op ? op->GetMg() : Matrix()) {}
