#include "render.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "cli_error.h"

namespace kwcli {

namespace {

constexpr int kMaxPictureSide = 16384;
constexpr int kCircleSegments = 96;
constexpr Real kDefaultFov = 0.7;

// Colours of the picture itself; the plug-ins choose their own pens.
constexpr Vector kBackground{0.40, 0.41, 0.43};
constexpr Vector kMeshColour{0.74, 0.76, 0.80};
constexpr Vector kEdgeColour{0.16, 0.17, 0.20};
constexpr Vector kNullColour{0.85, 0.85, 0.85};

Vector Normalized(const Vector& v) {
  const Real length = Len(v);
  return length > 0.0 ? v / length : v;
}

std::vector<BaseObject*> TreeOrder(BaseDocument* doc) {
  std::vector<BaseObject*> objects;
  for (BaseObject* top = doc->GetFirstObject(); top; top = top->GetNext()) {
    VisitTree(top, [&](BaseObject* op) { objects.push_back(op); });
  }
  return objects;
}

/// The points of a drawn unit circle, in global space.
std::vector<Vector> CirclePoints(const Matrix& circle) {
  std::vector<Vector> points;
  for (int i = 0; i <= kCircleSegments; ++i) {
    const Real t = 2.0 * M_PI * i / kCircleSegments;
    points.push_back(circle.off + circle.v1 * std::cos(t) + circle.v2 * std::sin(t));
  }
  return points;
}

/// One polygon ready to paint: its corners in pixels and its shade.
struct Face {
  Real depth;
  int corners;
  Real x[4], y[4];
  Real shade;
};

struct MeshPoints {
  std::vector<Vector> global;
  std::vector<CPolygon> polygons;
};

std::vector<MeshPoints> CollectMeshes(const Scene& scene) {
  std::vector<MeshPoints> meshes;
  for (BaseObject* op : TreeOrder(scene.Document())) {
    BaseObject* evaluated = EvaluatedPoints(op);
    if (!evaluated) continue;
    const auto* points = static_cast<const PointObject*>(evaluated);
    MeshPoints mesh;
    const Matrix mg = op->GetMg();
    for (LONG i = 0; i < points->GetPointCount(); ++i)
      mesh.global.push_back(mg * points->GetPointR()[i]);
    if (evaluated->IsInstanceOf(Opolygon)) {
      const auto* polygons = static_cast<const PolygonObject*>(evaluated);
      mesh.polygons.assign(polygons->GetPolygonR(),
                           polygons->GetPolygonR() + polygons->GetPolygonCount());
    }
    meshes.push_back(std::move(mesh));
  }
  return meshes;
}

/// Nulls show as small crosses, so that anchors and targets can be seen.
std::vector<DrawCommand> NullCrosses(const Scene& scene, Real size) {
  std::vector<DrawCommand> crosses;
  for (BaseObject* op : TreeOrder(scene.Document())) {
    if (op->GetType() != Onull) continue;
    const Matrix mg = op->GetMg();
    for (const Vector& axis : {Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)}) {
      DrawCommand line;
      line.kind = DrawCommand::Kind::Line;
      line.pass = DRAWPASS_OBJECT;
      line.object = op;
      line.colour = kNullColour;
      line.a = mg.off - Normalized(mg.TransformDirection(axis)) * size;
      line.b = mg.off + Normalized(mg.TransformDirection(axis)) * size;
      crosses.push_back(line);
    }
  }
  return crosses;
}

class Painter {
 public:
  Painter(cairo_t* cr, const View& view) : cr_(cr), view_(view) {}

  void SetColour(const Vector& c, Real alpha = 1.0) {
    cairo_set_source_rgba(cr_, std::clamp(c.x, 0.0, 1.0), std::clamp(c.y, 0.0, 1.0),
                          std::clamp(c.z, 0.0, 1.0), alpha);
  }

  /// A line in global space, cut where it passes behind the camera.
  void Line(Vector a, Vector b) {
    const Real da = Dot(a - view_.eye, view_.forward);
    const Real db = Dot(b - view_.eye, view_.forward);
    if (da <= view_.near && db <= view_.near) return;
    if (da <= view_.near) a = a + (b - a) * ((view_.near * 1.0001 - da) / (db - da));
    if (db <= view_.near) b = b + (a - b) * ((view_.near * 1.0001 - db) / (da - db));
    Real ax, ay, bx, by, depth;
    if (!view_.Project(a, &ax, &ay, &depth) || !view_.Project(b, &bx, &by, &depth)) return;
    cairo_move_to(cr_, ax, ay);
    cairo_line_to(cr_, bx, by);
    cairo_stroke(cr_);
  }

  void Handle(const Vector& p, LONG size, const Vector& colour) {
    Real x, y, depth;
    if (!view_.Project(p, &x, &y, &depth)) return;
    const Real half = std::max<LONG>(size, 1) + 0.5;
    cairo_rectangle(cr_, x - half, y - half, 2 * half, 2 * half);
    SetColour(colour);
    cairo_fill_preserve(cr_);
    SetColour(Vector(0, 0, 0), 0.6);
    cairo_set_line_width(cr_, 0.75);
    cairo_stroke(cr_);
  }

 private:
  cairo_t* cr_;
  const View& view_;
};

void PaintMeshes(cairo_t* cr, const View& view, const std::vector<MeshPoints>& meshes,
                 bool wireframe) {
  // A light over the viewer's right shoulder: shapes read without a second light.
  const Vector light = Normalized(-view.forward + view.up * 0.6 + view.right * 0.3);
  std::vector<Face> faces;
  for (const MeshPoints& mesh : meshes) {
    for (const CPolygon& polygon : mesh.polygons) {
      const LONG idx[4] = {polygon.a, polygon.b, polygon.c, polygon.d};
      Face face;
      face.corners = polygon.IsTriangle() ? 3 : 4;
      face.depth = 0.0;
      bool visible = true;
      for (int k = 0; k < face.corners && visible; ++k) {
        Real depth;
        visible = view.Project(mesh.global[idx[k]], &face.x[k], &face.y[k], &depth);
        face.depth += depth / face.corners;
      }
      if (!visible) continue;
      const Vector& a = mesh.global[idx[0]];
      const Vector& b = mesh.global[idx[1]];
      const Vector& c = mesh.global[idx[2]];
      const Vector& d = mesh.global[idx[3]];
      // Quads take the diagonals' normal, which is exact for planar quads and fair for bent ones.
      const Vector normal = face.corners == 3 ? Cross(b - a, c - a) : Cross(c - a, d - b);
      face.shade = 0.28 + 0.72 * std::abs(Dot(Normalized(normal), light));
      faces.push_back(face);
    }
  }
  // Painter's order: far faces first; equal depths keep the scene's order.
  std::stable_sort(faces.begin(), faces.end(),
                   [](const Face& f, const Face& g) { return f.depth > g.depth; });
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  for (const Face& face : faces) {
    cairo_move_to(cr, face.x[0], face.y[0]);
    for (int k = 1; k < face.corners; ++k) cairo_line_to(cr, face.x[k], face.y[k]);
    cairo_close_path(cr);
    if (wireframe) {
      cairo_set_source_rgba(cr, kEdgeColour.x, kEdgeColour.y, kEdgeColour.z, 0.9);
      cairo_set_line_width(cr, 0.8);
      cairo_stroke(cr);
      continue;
    }
    const Vector colour = kMeshColour * face.shade;
    cairo_set_source_rgb(cr, colour.x, colour.y, colour.z);
    cairo_fill_preserve(cr);
    cairo_set_source_rgba(cr, kEdgeColour.x, kEdgeColour.y, kEdgeColour.z, 0.35);
    cairo_set_line_width(cr, 0.5);
    cairo_stroke(cr);
  }
}

void PaintDrawing(cairo_t* cr, const View& view, const std::vector<DrawCommand>& commands) {
  Painter painter(cr, view);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (const DrawCommand& command : commands) {
    switch (command.kind) {
      case DrawCommand::Kind::Line:
        cairo_set_line_width(cr, 1.4);
        painter.SetColour(command.colour);
        painter.Line(command.a, command.b);
        break;
      case DrawCommand::Kind::Circle: {
        cairo_set_line_width(cr, 1.4);
        painter.SetColour(command.colour);
        const std::vector<Vector> points = CirclePoints(command.circle);
        for (size_t i = 1; i < points.size(); ++i) painter.Line(points[i - 1], points[i]);
        break;
      }
      case DrawCommand::Kind::Handle:
        painter.Handle(command.a, command.size, command.colour);
        break;
    }
  }
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

}  // namespace

String PictureFormat(const String& path) {
  const size_t dot = path.rfind('.');
  if (dot == String::npos) return {};
  String extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == "png" || extension == "svg" ? extension : String();
}

bool ParseSize(const String& text, int* width, int* height) {
  const size_t x = text.find_first_of("xX");
  if (x == String::npos) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto w = std::from_chars(begin, begin + x, *width);
  const auto h = std::from_chars(begin + x + 1, end, *height);
  return w.ec == std::errc() && w.ptr == begin + x && h.ec == std::errc() && h.ptr == end &&
         *width >= 1 && *height >= 1 && *width <= kMaxPictureSide && *height <= kMaxPictureSide;
}

bool View::Project(const Vector& p, Real* x, Real* y, Real* depth) const {
  const Vector d = p - eye;
  *depth = Dot(d, forward);
  if (*depth <= near) return false;
  *x = centreX + Dot(d, right) / *depth * focal;
  *y = centreY - Dot(d, up) / *depth * focal;
  return true;
}

View FrameView(const SceneCamera& camera, const std::vector<Vector>& bounds, int width,
               int height) {
  Vector low(0.0), high(0.0);
  if (!bounds.empty()) {
    low = high = bounds.front();
    for (const Vector& p : bounds) {
      low = Vector(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z));
      high = Vector(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
    }
  }
  const Vector centre = (low + high) * 0.5;
  const Real radius = std::max(Len(high - low) * 0.5, 1.0);
  const Real fov = camera.fov.value_or(kDefaultFov);
  const Real aspect = static_cast<Real>(width) / height;

  View view;
  const Vector target = camera.target.value_or(centre);
  // From the front, above and to the right unless the scene places the camera.
  const Vector away =
      camera.position ? *camera.position - target : Normalized(Vector(0.55, 0.65, -1.0));
  view.forward = Normalized(-away);
  Vector worldUp(0, 1, 0);
  if (Len(Cross(worldUp, view.forward)) < 1e-9) worldUp = Vector(0, 0, 1);
  view.right = Normalized(Cross(worldUp, view.forward));
  view.up = Cross(view.forward, view.right);
  if (camera.position) {
    view.eye = *camera.position;
  } else {
    // The nearest distance along `away` at which every point lies inside the picture, with
    // a margin.
    const Real tanV = std::tan(fov * 0.5) * 0.92;
    const Real tanH = tanV * aspect;
    Real distance = radius * 0.1;
    for (const Vector& p : bounds) {
      const Vector d = p - target;
      const Real depth = Dot(d, view.forward);
      distance = std::max(distance, std::abs(Dot(d, view.right)) / tanH - depth);
      distance = std::max(distance, std::abs(Dot(d, view.up)) / tanV - depth);
      distance = std::max(distance, radius * 0.05 - depth);
    }
    view.eye = target - view.forward * distance;
  }
  view.focal = height * 0.5 / std::tan(fov * 0.5);
  view.centreX = width * 0.5;
  view.centreY = height * 0.5;
  view.near = std::max(radius, Len(view.eye - target)) * 1e-4;
  return view;
}

std::vector<DrawCommand> CollectDrawing(const Scene& scene) {
  BaseDraw bd;
  BaseDocument* doc = scene.Document();
  const std::vector<BaseObject*> objects = TreeOrder(doc);
  for (const LONG pass : {DRAWPASS_OBJECT, DRAWPASS_HANDLES}) {
    for (BaseObject* op : objects) {
      auto* data = dynamic_cast<ObjectData*>(op->GetNodeData());
      if (data) {
        BaseDrawHelp bh(&bd, op);
        bd.BeginPass(pass, op);
        data->Draw(op, pass, &bd, &bh);
      } else if (op->IsInstanceOf(Ofalloffbase) && pass == DRAWPASS_OBJECT) {
        C4D_Falloff* falloff = C4D_Falloff::Alloc();
        if (!falloff) continue;
        if (falloff->InitFalloff(op->GetDataInstance(), doc, FalloffGizmo(op))) {
          BaseDrawHelp bh(&bd, op);
          bd.BeginPass(pass, op);
          falloff->Draw(&bd, &bh, pass, op->GetDataInstance());
        }
        C4D_Falloff::Free(falloff);
      }
    }
  }
  return bd.Commands();
}

void RenderScene(const Scene& scene, const RenderOptions& options, OutputFiles& files) {
  const String format = PictureFormat(options.out);
  if (format.empty()) throw CliError(kExitUsage, options.out + ": expected a .png or .svg file");
  const std::vector<MeshPoints> meshes = CollectMeshes(scene);
  std::vector<DrawCommand> drawing = CollectDrawing(scene);

  std::vector<Vector> bounds;
  for (const MeshPoints& mesh : meshes)
    bounds.insert(bounds.end(), mesh.global.begin(), mesh.global.end());
  for (const DrawCommand& c : drawing) {
    if (c.kind == DrawCommand::Kind::Circle) {
      const std::vector<Vector> points = CirclePoints(c.circle);
      bounds.insert(bounds.end(), points.begin(), points.end());
    } else {
      bounds.push_back(c.a);
      if (c.kind == DrawCommand::Kind::Line) bounds.push_back(c.b);
    }
  }
  const View view = FrameView(scene.Camera(), bounds, options.width, options.height);
  Real crossSize = 1.0;
  if (!bounds.empty()) {
    Vector low = bounds.front(), high = bounds.front();
    for (const Vector& p : bounds) {
      low = Vector(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z));
      high = Vector(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
    }
    crossSize = std::max(Len(high - low) / 40.0, 1.0);
  }
  // Crosses go under the plug-ins' drawing, which stays on top.
  std::vector<DrawCommand> crosses = NullCrosses(scene, crossSize);
  drawing.insert(drawing.begin(), crosses.begin(), crosses.end());

  files.WriteWith(options.out, [&](const String& temporary) {
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
        format == "svg"
            ? cairo_svg_surface_create(temporary.c_str(), options.width, options.height)
            : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, options.width, options.height));
    auto fail = [&](cairo_status_t status) {
      throw CliError(kExitOutput,
                     options.out + ": cannot write: " + cairo_status_to_string(status));
    };
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      fail(cairo_surface_status(surface.get()));
    }
    {
      std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
      cairo_set_source_rgb(cr.get(), kBackground.x, kBackground.y, kBackground.z);
      cairo_paint(cr.get());
      PaintMeshes(cr.get(), view, meshes, options.wireframe);
      PaintDrawing(cr.get(), view, drawing);
      if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) fail(cairo_status(cr.get()));
    }
    if (format == "png") {
      const cairo_status_t status = cairo_surface_write_to_png(surface.get(), temporary.c_str());
      if (status != CAIRO_STATUS_SUCCESS) fail(status);
    } else {
      cairo_surface_finish(surface.get());
      if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        fail(cairo_surface_status(surface.get()));
      }
    }
  });
}

}  // namespace kwcli
