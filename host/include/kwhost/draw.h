// Drawing: the host records what plug-ins draw, so tests can read it and pictures show it.
#pragma once

#include <map>
#include <vector>

#include "kwhost/types.h"

class BaseObject;

/// One recorded drawing call, in global space.
struct DrawCommand {
  enum class Kind { Line, Circle, Handle };
  Kind kind = Kind::Line;
  LONG pass = 0;
  const BaseObject* object = nullptr;  ///< the object being drawn
  Vector colour;                       ///< the pen
  Vector a, b;                         ///< line end points; handle position in a
  Matrix circle;                       ///< circle: the unit circle in its first two axes
  Matrix matrix;                       ///< the drawing matrix in force
  LONG size = 0;                       ///< handle size
};

/// A viewport. Plug-ins draw through it; the host keeps the calls.
class BaseDraw {
 public:
  /// Sets the drawing matrix: later points are taken through `mg` into global space.
  void SetMatrix_Matrix(BaseObject* op, const Matrix& mg);
  void SetPen(const Vector& colour) { pen_ = colour; }
  void DrawLine(const Vector& a, const Vector& b, LONG flags = 0);
  /// Draws the unit circle in the first two axes of `m` (in the drawing matrix).
  void DrawCircle(const Matrix& m);
  void DrawHandle(const Vector& p, LONG size, LONG flags = 0);
  /// The colour the object is drawn with.
  Vector GetObjectColor(class BaseDrawHelp* bh, BaseObject* op, Bool lineObject = false) const;
  /// A view colour: 12 handles, 47 the highlighted handle.
  Vector GetViewColor(LONG id) const;

  // Host side.
  void BeginPass(LONG pass, const BaseObject* object);
  const std::vector<DrawCommand>& Commands() const { return commands_; }
  void ClearCommands() { commands_.clear(); }
  /// The handle under the cursor for `op` (-1: none).
  void SetHighlightHandle(const BaseObject* op, LONG index) { highlight_[op] = index; }
  LONG GetHighlightHandle(const BaseObject* op) const;

 private:
  /// A new command of `kind` with the current pass, object, pen and matrix.
  DrawCommand& Record(DrawCommand::Kind kind);

  LONG pass_ = 0;
  const BaseObject* object_ = nullptr;
  Matrix matrix_;
  Vector pen_{1, 1, 1};
  std::vector<DrawCommand> commands_;
  std::map<const BaseObject*, LONG> highlight_;
};

/// What the host tells an object about the drawing of it.
class BaseDrawHelp {
 public:
  BaseDrawHelp(BaseDraw* bd, BaseObject* op);
  /// The matrix the object is drawn with (its global matrix).
  Matrix GetMg() const { return mg_; }
  BaseObject* GetObject() const { return op_; }
  BaseDraw* GetBaseDraw() const { return bd_; }

 private:
  BaseDraw* bd_;
  BaseObject* op_;
  Matrix mg_;
};
