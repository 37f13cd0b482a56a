// Pictures of an evaluated scene: meshes through a camera that frames the scene, then what
// the plug-ins draw of themselves (gizmos and handles), as PNG or SVG through cairo.
#pragma once

#include <vector>

#include "output.h"
#include "scene.h"

namespace kwcli {

struct RenderOptions {
  String out;  ///< the picture file; its extension (.png or .svg) chooses the format
  int width = 800;
  int height = 600;
  bool wireframe = false;  ///< mesh edges only, instead of flat shaded polygons
};

/// "png" or "svg" by the file name's extension (any case); empty for anything else.
String PictureFormat(const String& path);

/// Parses "WxH" (both 1 to 16384); false when malformed.
bool ParseSize(const String& text, int* width, int* height);

/// A pinhole camera: global space to picture pixels.
struct View {
  Vector eye, right, up, forward;  ///< forward points from the eye at the target
  Real focal = 1.0;                ///< pixels per unit at distance 1
  Real centreX = 0.0, centreY = 0.0;
  Real near = 1e-3;  ///< nothing closer than this along `forward` is drawn

  /// The pixel of the global point `p` and its depth; false when it lies before `near`.
  bool Project(const Vector& p, Real* x, Real* y, Real* depth) const;
};

/// The camera for a picture of `width`×`height`: the scene's camera entry where it sets
/// position and target, the rest chosen so that every point of `bounds` is in view.
View FrameView(const SceneCamera& camera, const std::vector<Vector>& bounds, int width, int height);

/// Everything the scene's object plug-ins and falloff objects draw, in the object pass and
/// then the handle pass, in global space.
std::vector<DrawCommand> CollectDrawing(const Scene& scene);

/// Renders the evaluated scene into the picture named by `options.out`, staged in `files`.
/// Throws CliError (output) when the picture cannot be written.
void RenderScene(const Scene& scene, const RenderOptions& options, OutputFiles& files);

}  // namespace kwcli
