// JSON scenes: a document built from a scene file (docs/scene-format.md), the buttons a
// user presses on it and its evaluation at a frame.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "kwhost/app/host.h"
#include "kwhost/c4d.h"

namespace kwcli {

/// One object of a loaded scene and where the scene defines it.
struct SceneObject {
  BaseObject* object = nullptr;
  String place;  ///< "objects[0].children[1]"
};

/// What a scene's optional "camera" entry sets for pictures; unset parts are chosen to
/// frame the scene.
struct SceneCamera {
  std::optional<Vector> position;
  std::optional<Vector> target;
  std::optional<Real> fov;  ///< vertical field of view, radians
};

/// A document built from a JSON scene. It holds plug-in objects, so it must be destroyed
/// before the modules that registered them are unloaded.
class Scene {
 public:
  Scene();
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  BaseDocument* Document() const { return doc_; }
  /// The scene file as it was named; every message about the scene starts with it.
  const String& File() const { return file_; }
  /// The scene's objects in tree order (depth first, parents before children).
  const std::vector<SceneObject>& Objects() const { return objects_; }
  const SceneCamera& Camera() const { return camera_; }
  /// The current frame the scene's document entry sets (0 without one).
  LONG Frame() const { return frame_; }

  /// The one object named `name`. When none or several objects carry the name, throws a
  /// CliError whose message starts with `where` ("scene.json: objects[1].params.LINK").
  BaseObject* FindObject(const String& name, const String& where) const;

 private:
  friend class SceneLoader;
  BaseDocument* doc_ = nullptr;
  String file_;
  std::vector<SceneObject> objects_;
  std::multimap<String, BaseObject*> names_;
  SceneCamera camera_;
  LONG frame_ = 0;
};

/// Reads and builds the scene file `path`. Throws CliError with one message naming the file
/// and the place of the fault.
std::unique_ptr<Scene> LoadScene(const String& path);

/// Builds a scene from `text`; `path` names it in messages and anchors relative OBJ files.
std::unique_ptr<Scene> ParseScene(const String& text, const String& path);

/// Presses a button as the attribute view does (a description command on the object).
/// `press` is "OBJECT:BUTTON", the button by description name or numeric ID.
void PressButton(Scene& scene, const String& press);

/// Moves the document to `frame` and executes the passes. False when the host reports a
/// failure (a deformer failed or the break test stopped the pass).
Bool Evaluate(Scene& scene, LONG frame, BaseThread* thread);

/// The points the evaluation produced for `op`: its deform cache, else the deform cache or
/// the cache a generator built, else `op` itself when it is a point object; null for objects
/// without points.
BaseObject* EvaluatedPoints(BaseObject* op);

/// The word scenes and reports use for `op`'s type ("plane", "falloff", "Twirl").
String TypeName(const BaseObject* op);

/// The parameters `node` shows: its plug-in's description, the host's for host types.
/// False when the node has none.
Bool DescribeNode(BaseList2D* node, Description& description);

/// The object whose global matrix places `op`'s falloff: the object linked by a Nullpin tag
/// on `op` when it resolves, else `op`.
BaseObject* FalloffGizmo(BaseObject* op);

/// Whether `op` carries a falloff in its own container (deformers and falloff objects).
Bool CarriesFalloff(const BaseObject* op);

}  // namespace kwcli
