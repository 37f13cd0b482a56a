#include "scene.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "cli_error.h"
#include "obj_io.h"
#include "output.h"
#include "values.h"

namespace kwcli {

namespace {

/// The host's object types that scenes name by a word.
struct HostType {
  const char* word;
  LONG id;
};
constexpr HostType kHostTypes[] = {
    {"polygon", Opolygon}, {"null", Onull},     {"plane", Oplane},
    {"cube", Ocube},       {"sphere", Osphere}, {"falloff", Ofalloff},
};

std::optional<LONG> ParseInteger(const String& text) {
  LONG value = 0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  if (text.empty() || r.ec != std::errc() || r.ptr != end) return std::nullopt;
  return value;
}

/// A plug-in named by a scene: display name, class name, or ID (a number or digits).
const kwhost::PluginInfo* FindPluginFromJson(const Json& value) {
  if (value.is_string()) {
    const String text = value.get<String>();
    if (const kwhost::PluginInfo* info = kwhost::FindPluginByName(text)) return info;
    if (const std::optional<LONG> id = ParseInteger(text)) return kwhost::FindPlugin(*id);
    return nullptr;
  }
  if (const std::optional<LONG> id = IntegerFromJson(value)) return kwhost::FindPlugin(*id);
  return nullptr;
}

String Quoted(const String& s) {
  return "'" + s + "'";
}

String PluginNames(kwhost::PluginKind kind) {
  String names;
  for (const kwhost::PluginInfo& info : kwhost::RegisteredPlugins()) {
    const bool objectKind =
        info.kind == kwhost::PluginKind::Deformer || info.kind == kwhost::PluginKind::Object;
    if (kind == kwhost::PluginKind::Deformer ? !objectKind : info.kind != kind) continue;
    names += (names.empty() ? "" : ", ") + info.name;
  }
  return names.empty() ? "none loaded" : names;
}

// Rotations as the host builds them from heading, pitch and bank: M = H·P·B with H about
// Y, P about X and B about Z.
Matrix RotationX(Real w) {
  const Real c = std::cos(w), s = std::sin(w);
  return Matrix(Vector(), Vector(1, 0, 0), Vector(0, c, s), Vector(0, -s, c));
}
Matrix RotationY(Real w) {
  const Real c = std::cos(w), s = std::sin(w);
  return Matrix(Vector(), Vector(c, 0, -s), Vector(0, 1, 0), Vector(s, 0, c));
}
Matrix RotationZ(Real w) {
  const Real c = std::cos(w), s = std::sin(w);
  return Matrix(Vector(), Vector(c, s, 0), Vector(-s, c, 0), Vector(0, 0, 1));
}

struct ObjectDeleter {
  void operator()(BaseObject* op) const { BaseObject::Free(op); }
};
struct TagDeleter {
  void operator()(BaseTag* tag) const { BaseTag::Free(tag); }
};
using OwnedObject = std::unique_ptr<BaseObject, ObjectDeleter>;
using OwnedTag = std::unique_ptr<BaseTag, TagDeleter>;

struct FalloffDeleter {
  void operator()(C4D_Falloff* f) const { C4D_Falloff::Free(f); }
};
using OwnedFalloff = std::unique_ptr<C4D_Falloff, FalloffDeleter>;

/// Keeps the Shift qualifier for a menu command and releases it afterwards, also when the
/// command throws.
class QualifierScope {
 public:
  explicit QualifierScope(LONG bits) { kwhost::SetQualifier(bits); }
  ~QualifierScope() { kwhost::SetQualifier(0); }
};

const Description::Entry* FindEntry(const Description& description, const String& key) {
  if (const std::optional<LONG> id = ParseInteger(key)) return description.Find(*id);
  return description.FindByIdent(key);
}

bool IsDeformer(const BaseObject* op) {
  const kwhost::PluginInfo* info = kwhost::FindPlugin(op->GetType());
  return info && info->kind == kwhost::PluginKind::Deformer && op->GetNodeData();
}

}  // namespace

/// Builds a Scene from parsed JSON. Objects and tags come first, so that links, the
/// document's active objects and buttons can name any of them.
class SceneLoader {
 public:
  SceneLoader(Scene& scene, const String& file) : scene_(scene), file_(file) {
    scene_.file_ = file;
    const std::filesystem::path parent = std::filesystem::path(file).parent_path();
    folder_ = parent.empty() ? "." : parent.string();
  }

  void Load(const Json& root) {
    if (!root.is_object()) Fail("", "expected a scene object {\"document\", \"objects\"}");
    CheckKeys(root, "", {"document", "objects", "camera"});
    scene_.doc_ = BaseDocument::Alloc();
    if (!scene_.doc_) OutOfMemory("");

    if (root.contains("objects")) {
      const Json& objects = root["objects"];
      if (!objects.is_array()) Fail("objects", "expected an array of objects");
      BaseObject* pred = nullptr;
      for (size_t i = 0; i < objects.size(); ++i) {
        pred = BuildObject(objects[i], "objects[" + std::to_string(i) + "]", nullptr, pred);
      }
    }
    if (root.contains("document")) LoadDocument(root["document"]);
    if (root.contains("camera")) LoadCamera(root["camera"]);

    // Deformers arrive as if the user made them from the menu in the finished scene, with
    // the scene's active objects selected, and then set their parameters.
    for (const PendingParams& pending : params_) {
      if (!FromMenu(pending)) ApplyParams(pending);
    }
    if (std::any_of(menu_.begin(), menu_.end(), [](const MenuItem& m) { return m.shift; })) {
      // Shift places a deformer on the active object's bounding box, which a primitive has
      // only once the scene has been evaluated.
      BaseThread thread;
      if (!scene_.doc_->ExecutePasses(&thread, true, true, true, 0)) {
        Fail("", "the scene could not be evaluated to place the deformers made with Shift",
             kExitHost);
      }
    }
    for (const MenuItem& item : menu_) {
      QualifierScope shift(item.shift ? QUALIFIER_SHIFT : 0);
      item.object->Message(MSG_MENUPREPARE, scene_.doc_);
    }
    for (const PendingParams& pending : params_) {
      if (FromMenu(pending)) ApplyParams(pending);
    }
  }

 private:
  struct PendingParams {
    BaseList2D* node;
    BaseObject* object;  ///< the node, or the object a tag sits on
    const Json* params;
    String place;
  };
  struct MenuItem {
    BaseObject* object;
    bool shift;
  };

  /// A deformer's own parameters: set after it has been made from the menu.
  static bool FromMenu(const PendingParams& p) {
    return p.node == p.object && IsDeformer(p.object);
  }

  [[noreturn]] void Fail(const String& place, const String& text, int status = kExitInput) const {
    throw CliError(status, file_ + ": " + (place.empty() ? "" : place + ": ") + text);
  }
  [[noreturn]] void OutOfMemory(const String& place) const {
    Fail(place, "the host ran out of memory", kExitHost);
  }
  static String Join(const String& place, const String& key) {
    return place.empty() ? key : place + "." + key;
  }

  void CheckKeys(const Json& j, const String& place, std::initializer_list<const char*> allowed) {
    for (const auto& [key, value] : j.items()) {
      if (std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; }) ==
          allowed.end()) {
        Fail(Join(place, key), "unknown key");
      }
    }
  }

  String StringAt(const Json& j, const String& key, const String& place) {
    const Json& v = j[key];
    if (!v.is_string()) Fail(Join(place, key), "expected a string");
    return v.get<String>();
  }
  Vector VectorAt(const Json& v, const String& place) {
    const std::optional<Vector> result = VectorFromJson(v);
    if (!result) Fail(place, "expected [x, y, z]");
    return *result;
  }
  LONG IntegerAt(const Json& v, const String& place) {
    const std::optional<LONG> result = IntegerFromJson(v);
    if (!result) Fail(place, "expected an integer");
    return *result;
  }

  // Objects ---------------------------------------------------------------------------

  BaseObject* BuildObject(const Json& j, const String& place, BaseObject* parent,
                          BaseObject* pred) {
    if (!j.is_object()) Fail(place, "expected an object {\"name\", \"type\", ...}");
    if (!j.contains("name")) Fail(place, "missing \"name\"");
    if (!j.contains("type")) Fail(place, "missing \"type\"");
    const String name = StringAt(j, "name", place);

    LONG type = 0;
    const Json& typeValue = j["type"];
    if (typeValue.is_string()) {
      for (const HostType& host : kHostTypes) {
        if (typeValue.get<String>() == host.word) type = host.id;
      }
    }
    const kwhost::PluginInfo* plugin = type ? nullptr : FindPluginFromJson(typeValue);
    if (!type) {
      const String shown =
          typeValue.is_string() ? Quoted(typeValue.get<String>()) : typeValue.dump();
      if (!plugin) {
        Fail(Join(place, "type"), "unknown object type " + shown +
                                      " (polygon, null, plane, cube, sphere, falloff or a "
                                      "plug-in: " +
                                      PluginNames(kwhost::PluginKind::Deformer) + ")");
      }
      if (plugin->kind == kwhost::PluginKind::Falloff) {
        Fail(Join(place, "type"), shown + " is a falloff shape: give a falloff object or a " +
                                      "deformer FALLOFF_MODE " + Quoted(plugin->name));
      }
      if (plugin->kind == kwhost::PluginKind::Tag) {
        Fail(Join(place, "type"), shown + " is a tag: list it under \"tags\"");
      }
      type = plugin->id;
    }
    const bool deformer = plugin && plugin->kind == kwhost::PluginKind::Deformer;

    if (type == Opolygon) {
      CheckKeys(j, place,
                {"name", "type", "position", "rotation", "scale", "matrix", "params", "tags",
                 "children", "points", "polygons", "file"});
    } else if (deformer) {
      CheckKeys(j, place,
                {"name", "type", "position", "rotation", "scale", "matrix", "params", "tags",
                 "children", "shift"});
    } else {
      CheckKeys(j, place,
                {"name", "type", "position", "rotation", "scale", "matrix", "params", "tags",
                 "children"});
    }

    OwnedObject owned;
    if (type == Opolygon) {
      owned = BuildPolygonObject(j, place);
    } else {
      owned.reset(BaseObject::Alloc(type));
      if (!owned) {
        Fail(Join(place, "type"),
             "the host could not create " + (plugin ? Quoted(plugin->name) : typeValue.dump()),
             kExitHost);
      }
    }
    BaseObject* op = owned.get();
    op->SetName(name);
    op->SetMl(Placement(j, place));
    scene_.doc_->InsertObject(owned.release(), parent, pred);
    scene_.objects_.push_back({op, place});
    scene_.names_.emplace(name, op);

    if (deformer) {
      bool shift = false;
      if (j.contains("shift")) {
        if (!j["shift"].is_boolean()) Fail(Join(place, "shift"), "expected true or false");
        shift = j["shift"].get<bool>();
      }
      menu_.push_back({op, shift});
    }
    if (j.contains("params")) params_.push_back({op, op, &j["params"], Join(place, "params")});
    if (j.contains("tags")) BuildTags(op, j["tags"], Join(place, "tags"));
    if (j.contains("children")) {
      const Json& children = j["children"];
      if (!children.is_array()) Fail(Join(place, "children"), "expected an array of objects");
      BaseObject* childPred = nullptr;
      for (size_t i = 0; i < children.size(); ++i) {
        childPred =
            BuildObject(children[i], place + ".children[" + std::to_string(i) + "]", op, childPred);
      }
    }
    return op;
  }

  Matrix Placement(const Json& j, const String& place) {
    if (j.contains("matrix")) {
      if (j.contains("position") || j.contains("rotation") || j.contains("scale")) {
        Fail(Join(place, "matrix"), "a matrix excludes position, rotation and scale");
      }
      const std::optional<Matrix> m = MatrixFromJson(j["matrix"]);
      if (!m) {
        Fail(Join(place, "matrix"), "expected {\"off\", \"v1\", \"v2\", \"v3\"} of [x, y, z]");
      }
      return *m;
    }
    Matrix m;
    if (j.contains("rotation")) {
      const Vector hpb = VectorAt(j["rotation"], Join(place, "rotation"));
      m = RotationY(hpb.x) * RotationX(hpb.y) * RotationZ(hpb.z);
    }
    if (j.contains("scale")) {
      const Json& s = j["scale"];
      const Vector scale =
          s.is_number() ? Vector(s.get<Real>()) : VectorAt(s, Join(place, "scale"));
      m.v1 *= scale.x;
      m.v2 *= scale.y;
      m.v3 *= scale.z;
    }
    if (j.contains("position")) m.off = VectorAt(j["position"], Join(place, "position"));
    return m;
  }

  OwnedObject BuildPolygonObject(const Json& j, const String& place) {
    Mesh mesh;
    if (j.contains("file")) {
      if (j.contains("points") || j.contains("polygons")) {
        Fail(Join(place, "file"), "\"file\" excludes \"points\" and \"polygons\"");
      }
      const String name = StringAt(j, "file", place);
      const std::filesystem::path path = std::filesystem::path(name).is_absolute()
                                             ? std::filesystem::path(name)
                                             : std::filesystem::path(folder_) / name;
      mesh = ReadObj(path.string(), path.lexically_normal().string());
    } else {
      if (j.contains("points")) {
        const Json& points = j["points"];
        const String at = Join(place, "points");
        if (!points.is_array()) Fail(at, "expected an array of [x, y, z]");
        for (size_t i = 0; i < points.size(); ++i) {
          mesh.points.push_back(VectorAt(points[i], at + "[" + std::to_string(i) + "]"));
        }
      }
      if (j.contains("polygons")) {
        const Json& polygons = j["polygons"];
        const String at = Join(place, "polygons");
        if (!polygons.is_array()) Fail(at, "expected an array of [a, b, c] or [a, b, c, d]");
        for (size_t i = 0; i < polygons.size(); ++i) {
          const String pa = at + "[" + std::to_string(i) + "]";
          const Json& p = polygons[i];
          if (!p.is_array() || p.size() < 3 || p.size() > 4) {
            Fail(pa, "expected three or four point indices");
          }
          LONG idx[4];
          for (size_t k = 0; k < p.size(); ++k) {
            const String ka = pa + "[" + std::to_string(k) + "]";
            idx[k] = IntegerAt(p[k], ka);
            if (idx[k] < 0 || static_cast<size_t>(idx[k]) >= mesh.points.size()) {
              Fail(ka, "point index " + std::to_string(idx[k]) + " out of range (" +
                           std::to_string(mesh.points.size()) + " points)");
            }
          }
          mesh.polygons.push_back(p.size() == 3 ? CPolygon(idx[0], idx[1], idx[2])
                                                : CPolygon(idx[0], idx[1], idx[2], idx[3]));
        }
      }
    }
    OwnedObject owned(PolygonObject::Alloc(static_cast<LONG>(mesh.points.size()),
                                           static_cast<LONG>(mesh.polygons.size())));
    if (!owned) OutOfMemory(place);
    auto* polygonObject = static_cast<PolygonObject*>(owned.get());
    std::copy(mesh.points.begin(), mesh.points.end(), polygonObject->GetPointW());
    std::copy(mesh.polygons.begin(), mesh.polygons.end(), polygonObject->GetPolygonW());
    return owned;
  }

  // Tags --------------------------------------------------------------------------------

  void BuildTags(BaseObject* op, const Json& tags, const String& place) {
    if (!tags.is_array()) Fail(place, "expected an array of tags");
    BaseTag* pred = nullptr;
    for (size_t i = 0; i < tags.size(); ++i) {
      pred = BuildTag(op, tags[i], place + "[" + std::to_string(i) + "]", pred);
    }
  }

  BaseTag* BuildTag(BaseObject* op, const Json& j, const String& place, BaseTag* pred) {
    if (!j.is_object()) Fail(place, "expected a tag {\"type\", ...}");
    if (!j.contains("type")) Fail(place, "missing \"type\"");
    const Json& typeValue = j["type"];
    const String word = typeValue.is_string() ? typeValue.get<String>() : String();
    BaseTag* tag = nullptr;
    String defaultName;
    if (word == "vertexmap") {
      CheckKeys(j, place, {"type", "name", "values"});
      if (!op->IsInstanceOf(Opoint)) Fail(place, "vertex maps belong on polygon objects");
      const auto* points = static_cast<const PointObject*>(op);
      const Json& values = j.contains("values") ? j["values"] : Json::array();
      const String at = Join(place, "values");
      if (!values.is_array()) Fail(at, "expected an array of numbers");
      if (values.size() != static_cast<size_t>(points->GetPointCount())) {
        Fail(at, "expected " + std::to_string(points->GetPointCount()) +
                     " values, one per point, not " + std::to_string(values.size()));
      }
      for (size_t i = 0; i < values.size(); ++i) {
        if (!values[i].is_number()) Fail(at + "[" + std::to_string(i) + "]", "expected a number");
      }
      VariableTag* map = op->MakeVariableTag(Tvertexmap, points->GetPointCount(), pred);
      if (!map) OutOfMemory(place);
      SReal* data = map->GetDataAddressW();
      for (size_t i = 0; i < values.size(); ++i)
        data[i] = static_cast<SReal>(values[i].get<Real>());
      tag = map;
      defaultName = "Vertex Map";
    } else if (word == "edgeselection") {
      CheckKeys(j, place, {"type", "name", "edges"});
      if (!op->IsInstanceOf(Opolygon)) Fail(place, "edge selections belong on polygon objects");
      const LONG edgeCount = 4 * static_cast<const PolygonObject*>(op)->GetPolygonCount();
      const Json& edges = j.contains("edges") ? j["edges"] : Json::array();
      const String at = Join(place, "edges");
      if (!edges.is_array()) Fail(at, "expected an array of edge indices (4 * polygon + side)");
      std::vector<LONG> indices;
      for (size_t i = 0; i < edges.size(); ++i) {
        const String ea = at + "[" + std::to_string(i) + "]";
        const LONG e = IntegerAt(edges[i], ea);
        if (e < 0 || e >= edgeCount) {
          Fail(ea, "edge " + std::to_string(e) + " out of range (4 * polygon + side, below " +
                       std::to_string(edgeCount) + ")");
        }
        indices.push_back(e);
      }
      auto* selection = static_cast<SelectionTag*>(op->MakeTag(Tedgeselection, pred));
      if (!selection) OutOfMemory(place);
      for (const LONG e : indices) {
        if (!selection->GetBaseSelect()->Select(e)) OutOfMemory(place);
      }
      tag = selection;
      defaultName = "Edge Selection";
    } else if (word == "restriction") {
      CheckKeys(j, place, {"type", "name", "map"});
      if (!j.contains("map")) Fail(place, "missing \"map\" (the vertex map it names)");
      const String map = StringAt(j, "map", place);
      tag = op->MakeTag(Trestriction, pred);
      if (!tag) OutOfMemory(place);
      // The host reads the restricting map's name from ID 1 of the tag.
      tag->GetDataInstance()->SetString(1, map);
      defaultName = "Restriction";
    } else {
      const kwhost::PluginInfo* plugin = FindPluginFromJson(typeValue);
      const String shown = typeValue.is_string() ? Quoted(word) : typeValue.dump();
      if (!plugin || plugin->kind != kwhost::PluginKind::Tag) {
        Fail(Join(place, "type"), "unknown tag type " + shown +
                                      " (vertexmap, edgeselection, restriction or a plug-in "
                                      "tag: " +
                                      PluginNames(kwhost::PluginKind::Tag) + ")");
      }
      CheckKeys(j, place, {"type", "name", "params"});
      OwnedTag owned(BaseTag::Alloc(plugin->id));
      if (!owned) Fail(Join(place, "type"), "the host could not create " + shown, kExitHost);
      tag = owned.get();
      op->InsertTag(owned.release(), pred);
      defaultName = plugin->name;
      if (j.contains("params")) params_.push_back({tag, op, &j["params"], Join(place, "params")});
    }
    tag->SetName(j.contains("name") ? StringAt(j, "name", place) : defaultName);
    return tag;
  }

  // Document and camera ------------------------------------------------------------------

  void LoadDocument(const Json& j) {
    const String place = "document";
    if (!j.is_object()) Fail(place, "expected an object");
    CheckKeys(j, place, {"fps", "minFrame", "maxFrame", "frame", "active"});
    BaseDocument* doc = scene_.doc_;
    LONG fps = doc->GetFps();
    LONG minFrame = doc->GetMinTime().GetFrame(fps);
    LONG maxFrame = doc->GetMaxTime().GetFrame(fps);
    LONG frame = 0;
    if (j.contains("fps")) {
      fps = IntegerAt(j["fps"], "document.fps");
      if (fps < 1) Fail("document.fps", "expected a frame rate of at least 1");
    }
    if (j.contains("minFrame")) minFrame = IntegerAt(j["minFrame"], "document.minFrame");
    if (j.contains("maxFrame")) maxFrame = IntegerAt(j["maxFrame"], "document.maxFrame");
    if (j.contains("frame")) frame = IntegerAt(j["frame"], "document.frame");
    if (minFrame > maxFrame) Fail("document.maxFrame", "the last frame comes before the first");
    doc->SetFps(fps);
    doc->SetMinTime(BaseTime::FromFrame(minFrame, fps));
    doc->SetMaxTime(BaseTime::FromFrame(maxFrame, fps));
    doc->SetTime(BaseTime::FromFrame(frame, fps));
    scene_.frame_ = frame;

    if (j.contains("active")) {
      const Json& active = j["active"];
      if (!active.is_array()) Fail("document.active", "expected an array of object names");
      for (size_t i = 0; i < active.size(); ++i) {
        const String at = "document.active[" + std::to_string(i) + "]";
        if (!active[i].is_string()) Fail(at, "expected an object name");
        BaseObject* op = scene_.FindObject(active[i].get<String>(), file_ + ": " + at);
        if (i == 0) {
          doc->SetActiveObject(op);
        } else {
          doc->AddActiveObject(op);
        }
      }
    }
  }

  void LoadCamera(const Json& j) {
    if (!j.is_object()) Fail("camera", "expected an object {\"position\", \"target\", \"fov\"}");
    CheckKeys(j, "camera", {"position", "target", "fov"});
    SceneCamera& camera = scene_.camera_;
    if (j.contains("position")) camera.position = VectorAt(j["position"], "camera.position");
    if (j.contains("target")) camera.target = VectorAt(j["target"], "camera.target");
    if (j.contains("fov")) {
      const Json& fov = j["fov"];
      if (!fov.is_number() || fov.get<Real>() <= 0.0 || fov.get<Real>() >= 3.1) {
        Fail("camera.fov", "expected a field of view in radians between 0 and 3.1");
      }
      camera.fov = fov.get<Real>();
    }
    if (camera.position && camera.target && Len(*camera.position - *camera.target) == 0.0) {
      Fail("camera.target", "the camera cannot look at its own position");
    }
  }

  // Parameters ---------------------------------------------------------------------------

  void ApplyParams(const PendingParams& p) {
    const Json& params = *p.params;
    if (!params.is_object()) Fail(p.place, "expected an object of parameter values");
    if (p.node == p.object && !PrimitiveParameters(p.object->GetType()).empty()) {
      ApplyPrimitiveParams(p.object, params, p.place);
      return;
    }
    const kwhost::PluginInfo* tagPlugin =
        p.node == p.object ? nullptr : kwhost::FindPlugin(p.node->GetType());
    const String owner = p.node == p.object ? TypeName(p.object)
                         : tagPlugin        ? tagPlugin->name
                                            : p.node->GetName();
    Description description;
    DescribeNode(p.node, description);

    // The falloff shape decides which further parameters the node shows, so it comes first.
    for (const auto& [key, value] : params.items()) {
      const Description::Entry* entry = FindEntry(description, key);
      if (entry && entry->id.id == FALLOFF_MODE) {
        SetFalloffMode(p, value, Join(p.place, key));
        description = Description();
        DescribeNode(p.node, description);
      }
    }
    for (const auto& [key, value] : params.items()) {
      const String at = Join(p.place, key);
      const Description::Entry* entry = FindEntry(description, key);
      if (!entry) Fail(at, "unknown parameter of " + owner);
      if (entry->id.id == FALLOFF_MODE) continue;
      if (entry->type == DescType::Link) {
        SetLink(p, *entry, value, at);
        continue;
      }
      String expected;
      const std::optional<GeData> data =
          ValueFromJson(value, entry->type, entry->bc.GetString(DESC_CYCLE), &expected);
      if (!data) Fail(at, expected);
      p.node->GetDataInstance()->SetData(entry->id.id, *data);
    }
  }

  void ApplyPrimitiveParams(BaseObject* op, const Json& params, const String& place) {
    const auto table = PrimitiveParameters(op->GetType());
    BaseContainer* bc = op->GetDataInstance();
    const bool cube = op->GetType() == Ocube;
    for (const auto& [key, value] : params.items()) {
      const String at = Join(place, key);
      const std::optional<LONG> id = ParseInteger(key);
      // The cube's three segment counts have IDs of their own behind the one key.
      if (cube && id && *id >= kCubeSegmentsX && *id <= kCubeSegmentsX + 2) {
        bc->SetLong(*id, Segments(value, at));
        continue;
      }
      const PrimitiveParameter* parameter = nullptr;
      for (const PrimitiveParameter& candidate : table) {
        if (key == candidate.key || (id && *id == candidate.id)) parameter = &candidate;
      }
      if (!parameter) {
        String keys;
        for (const PrimitiveParameter& candidate : table) {
          keys += (keys.empty() ? "" : ", ") + String(candidate.key);
        }
        Fail(at, "unknown parameter of " + TypeName(op) + " (" + keys + ")");
      }
      if (cube && parameter->id == kCubeSegmentsX) {
        if (value.is_array()) {
          if (value.size() != 3) Fail(at, "expected a segment count or [x, y, z] counts");
          for (LONG k = 0; k < 3; ++k) {
            bc->SetLong(kCubeSegmentsX + k, Segments(value[k], at + "[" + std::to_string(k) + "]"));
          }
        } else {
          const LONG n = Segments(value, at);
          for (LONG k = 0; k < 3; ++k) bc->SetLong(kCubeSegmentsX + k, n);
        }
        continue;
      }
      if (parameter->type == DescType::Long) {
        bc->SetLong(parameter->id, Segments(value, at));
        continue;
      }
      String expected;
      const std::optional<GeData> data = ValueFromJson(value, parameter->type, "", &expected);
      if (!data) Fail(at, expected);
      const Vector size =
          parameter->type == DescType::Real ? Vector(data->GetReal()) : data->GetVector();
      if (size.x < 0.0 || size.y < 0.0 || size.z < 0.0) Fail(at, "expected a size of at least 0");
      bc->SetData(parameter->id, *data);
    }
  }

  LONG Segments(const Json& value, const String& place) {
    const std::optional<LONG> n = IntegerFromJson(value);
    if (!n || *n < 1) Fail(place, "expected a segment count of at least 1");
    return *n;
  }

  LONG FalloffModeFromJson(const Json& value, const String& place) {
    const String expected = "expected \"infinite\", \"sphere\", \"box\" or a falloff shape (" +
                            PluginNames(kwhost::PluginKind::Falloff) + ")";
    if (value.is_string()) {
      const String word = value.get<String>();
      const std::optional<LONG> host = CycleValue({{FALLOFF_MODE_INFINITE, "infinite"},
                                                   {FALLOFF_MODE_SPHERE, "sphere"},
                                                   {FALLOFF_MODE_BOX, "box"}},
                                                  word);
      if (host) return *host;
    }
    if (const std::optional<LONG> id = IntegerFromJson(value)) {
      if (*id == FALLOFF_MODE_INFINITE || *id == FALLOFF_MODE_SPHERE || *id == FALLOFF_MODE_BOX) {
        return *id;
      }
    }
    const kwhost::PluginInfo* shape = FindPluginFromJson(value);
    if (!shape || shape->kind != kwhost::PluginKind::Falloff) Fail(place, expected);
    return shape->id;
  }

  void SetFalloffMode(const PendingParams& p, const Json& value, const String& place) {
    const LONG mode = FalloffModeFromJson(value, place);
    BaseContainer* bc = p.node->GetDataInstance();
    if (p.node == p.object && IsDeformer(p.object)) {
      // A deformer's falloff takes its shape, and writes the shape's defaults, at the
      // deformer's dirty check, as after a change in the attribute view.
      bc->SetLong(FALLOFF_MODE, mode);
      p.object->GetNodeData<ObjectData>()->CheckDirty(p.object, scene_.doc_);
      return;
    }
    OwnedFalloff falloff(C4D_Falloff::Alloc());
    if (!falloff) OutOfMemory(place);
    if (!falloff->SetMode(mode, bc)) OutOfMemory(place);
  }

  void SetLink(const PendingParams& p, const Description::Entry& entry, const Json& value,
               const String& place) {
    BaseContainer* bc = p.node->GetDataInstance();
    const LONG id = entry.id.id;
    if (value.is_null()) {
      bc->SetLink(id, nullptr);
      return;
    }
    BaseList2D* target = nullptr;
    String shown;
    if (value.is_string()) {
      shown = value.get<String>();
      target = scene_.FindObject(shown, file_ + ": " + place);
    } else if (value.is_object() && value.size() == 2 && value.contains("object") &&
               value.contains("tag") && value["object"].is_string() && value["tag"].is_string()) {
      BaseObject* holder =
          scene_.FindObject(value["object"].get<String>(), file_ + ": " + Join(place, "object"));
      const String tagName = value["tag"].get<String>();
      int found = 0;
      for (BaseTag* tag = holder->GetFirstTag(); tag; tag = tag->GetNext()) {
        if (tag->GetName() == tagName && found++ == 0) target = tag;
      }
      if (found != 1) {
        Fail(Join(place, "tag"), Quoted(holder->GetName()) +
                                     (found ? " has several tags named " : " has no tag named ") +
                                     Quoted(tagName));
      }
      shown = holder->GetName() + "/" + tagName;
    } else {
      Fail(place, "expected an object name or {\"object\": NAME, \"tag\": TAGNAME}");
    }
    CheckShapeAcceptsLink(p, id, target, shown, place);
    bc->SetLink(id, target);
  }

  /// A link on a field the falloff shape adds is offered to the shape first, as a drop on
  /// that field would be; a refused link is an error.
  void CheckShapeAcceptsLink(const PendingParams& p, LONG id, BaseList2D* target,
                             const String& shown, const String& place) {
    if (p.node != p.object || !CarriesFalloff(p.object)) return;
    BaseContainer* bc = p.node->GetDataInstance();
    const LONG shapeId = bc->GetLong(FALLOFF_MODE);
    const kwhost::PluginInfo* shape = kwhost::FindPlugin(shapeId);
    if (!shape || shape->kind != kwhost::PluginKind::Falloff) return;
    Description shapeDescription;
    if (!shapeDescription.LoadDescription(shapeId) || !shapeDescription.Find(id)) return;

    DescriptionCheckDragAndDrop check;
    check.id = DescID(id);
    check.element = target;
    check.result = true;
    if (IsDeformer(p.object)) {
      // The deformer hands the message on to its falloff.
      p.object->Message(MSG_DESCRIPTION_CHECKDRAGANDDROP, &check);
    } else {
      OwnedFalloff falloff(C4D_Falloff::Alloc());
      if (!falloff || !falloff->SetMode(shapeId, bc)) OutOfMemory(place);
      falloff->Message(MSG_DESCRIPTION_CHECKDRAGANDDROP, bc, &check);
    }
    if (!check.result) Fail(place, shape->name + " refuses the link to " + Quoted(shown));
  }

  Scene& scene_;
  String file_;
  String folder_;
  std::vector<MenuItem> menu_;
  std::vector<PendingParams> params_;
};

Scene::Scene() = default;

Scene::~Scene() {
  BaseDocument::Free(doc_);
}

BaseObject* Scene::FindObject(const String& name, const String& where) const {
  const auto count = names_.count(name);
  if (count == 1) return names_.find(name)->second;
  if (count == 0) throw CliError(kExitInput, where + ": no object is named " + Quoted(name));
  throw CliError(kExitInput, where + ": " + std::to_string(count) + " objects are named " +
                                 Quoted(name) + "; a link needs a unique name");
}

std::unique_ptr<Scene> ParseScene(const String& text, const String& path) {
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::parse_error& e) {
    String what = e.what();
    // nlohmann's text starts with its own tag, "[json.exception.parse_error.101] ".
    if (const size_t bracket = what.find("] ");
        what.rfind("[json.", 0) == 0 && bracket != String::npos) {
      what = what.substr(bracket + 2);
    }
    throw CliError(kExitInput, path + ": malformed JSON: " + what);
  }
  auto scene = std::make_unique<Scene>();
  SceneLoader(*scene, path).Load(root);
  return scene;
}

std::unique_ptr<Scene> LoadScene(const String& path) {
  return ParseScene(ReadTextFile(path, path), path);
}

void PressButton(Scene& scene, const String& press) {
  const String where = "--press " + press;
  const size_t colon = press.rfind(':');
  if (colon == String::npos || colon == 0 || colon + 1 == press.size()) {
    throw CliError(kExitUsage, where + ": expected OBJECT:BUTTON");
  }
  BaseObject* op = scene.FindObject(press.substr(0, colon), where);
  const String key = press.substr(colon + 1);
  Description description;
  DescribeNode(op, description);
  const Description::Entry* entry = FindEntry(description, key);
  if (!entry) {
    throw CliError(kExitInput, where + ": " + TypeName(op) + " has no parameter " + Quoted(key));
  }
  if (entry->type != DescType::Button) {
    throw CliError(kExitInput, where + ": " + Quoted(key) + " is not a button");
  }
  DescriptionCommand command;
  command.id = entry->id;
  op->Message(MSG_DESCRIPTION_COMMAND, &command);
}

Bool Evaluate(Scene& scene, LONG frame, BaseThread* thread) {
  BaseDocument* doc = scene.Document();
  doc->SetTime(BaseTime::FromFrame(frame, doc->GetFps()));
  return doc->ExecutePasses(thread, true, true, true, 0);
}

BaseObject* EvaluatedPoints(BaseObject* op) {
  if (!op) return nullptr;
  if (BaseObject* deformed = op->GetDeformCache()) return deformed;
  if (BaseObject* cache = op->GetCache()) {
    if (BaseObject* deformed = cache->GetDeformCache()) return deformed;
    return cache->IsInstanceOf(Opoint) ? cache : nullptr;
  }
  return op->IsInstanceOf(Opoint) ? op : nullptr;
}

String TypeName(const BaseObject* op) {
  for (const HostType& host : kHostTypes) {
    if (op->GetType() == host.id) return host.word;
  }
  if (const kwhost::PluginInfo* info = kwhost::FindPlugin(op->GetType())) return info->name;
  return std::to_string(op->GetType());
}

Bool DescribeNode(BaseList2D* node, Description& description) {
  if (kwhost::GetNodeDescription(node, description)) return true;
  if (node->GetType() == Ofalloff) {
    OwnedFalloff falloff(C4D_Falloff::Alloc());
    return falloff && falloff->AddFalloffToDescription(&description, node->GetDataInstance());
  }
  return false;
}

BaseObject* FalloffGizmo(BaseObject* op) {
  if (BaseTag* tag = op->GetTag(Tnullpin, 0)) {
    BaseList2D* linked = tag->GetDataInstance()->GetLink(1000, op->GetDocument());
    if (auto* object = dynamic_cast<BaseObject*>(linked)) return object;
  }
  return op;
}

Bool CarriesFalloff(const BaseObject* op) {
  return op->IsInstanceOf(Ofalloffbase) || IsDeformer(op);
}

}  // namespace kwcli
