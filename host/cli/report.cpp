#include "report.h"

#include <filesystem>
#include <set>

#include "cli_error.h"
#include "obj_io.h"

namespace kwcli {

namespace {

/// The scene's objects in tree order, including any that plug-ins added.
std::vector<BaseObject*> TreeOrder(BaseDocument* doc) {
  std::vector<BaseObject*> objects;
  for (BaseObject* top = doc->GetFirstObject(); top; top = top->GetNext()) {
    VisitTree(top, [&](BaseObject* op) { objects.push_back(op); });
  }
  return objects;
}

Json TagReport(BaseTag* tag) {
  Json j = Json::object();
  j["name"] = tag->GetName();
  switch (tag->GetType()) {
    case Tvertexmap: {
      const auto* map = static_cast<const VariableTag*>(tag);
      Json values = Json::array();
      for (LONG i = 0; i < map->GetDataCount(); ++i) {
        values.push_back(static_cast<Real>(map->GetDataAddressR()[i]));
      }
      j["type"] = "vertexmap";
      j["values"] = std::move(values);
      break;
    }
    case Tedgeselection: {
      j["type"] = "edgeselection";
      j["edges"] = static_cast<const SelectionTag*>(tag)->GetBaseSelect()->GetAll();
      break;
    }
    case Trestriction:
      j["type"] = "restriction";
      j["map"] = tag->GetDataInstance()->GetString(1);
      break;
    default: {
      const kwhost::PluginInfo* info = kwhost::FindPlugin(tag->GetType());
      j["type"] = info ? Json(info->name) : Json(tag->GetType());
      j["params"] = ParamsReport(tag);
      break;
    }
  }
  return j;
}

}  // namespace

Json ParamsReport(BaseList2D* node) {
  Json params = Json::object();
  const BaseContainer* bc = node->GetDataInstance();
  if (auto* op = dynamic_cast<BaseObject*>(node);
      op && !PrimitiveParameters(op->GetType()).empty()) {
    for (const PrimitiveParameter& p : PrimitiveParameters(op->GetType())) {
      if (op->GetType() == Ocube && p.id == kCubeSegmentsX) {
        if (bc->GetData(p.id)) {
          params[p.key] =
              Json::array({bc->GetLong(p.id), bc->GetLong(p.id + 1), bc->GetLong(p.id + 2)});
        }
      } else if (const GeData* value = bc->GetData(p.id)) {
        params[p.key] = ValueToJson(*value);
      }
    }
    return params;
  }
  Description description;
  if (!DescribeNode(node, description)) return params;
  for (const Description::Entry& entry : description.Entries()) {
    if (entry.type == DescType::Button || entry.type == DescType::Separator) continue;
    const GeData* value = bc->GetData(entry.id.id);
    if (!value) continue;
    String key = entry.bc.GetString(DESC_IDENT);
    if (key.empty()) key = std::to_string(entry.id.id);
    params[key] = ValueToJson(*value);
  }
  return params;
}

Json ObjectReport(BaseObject* op) {
  Json j = Json::object();
  j["name"] = op->GetName();
  j["type"] = TypeName(op);
  j["matrix"] = MatrixToJson(op->GetMg());
  if (BaseObject* evaluated = EvaluatedPoints(op)) {
    const auto* points = static_cast<const PointObject*>(evaluated);
    Json list = Json::array();
    for (LONG i = 0; i < points->GetPointCount(); ++i) {
      list.push_back(VectorToJson(points->GetPointR()[i]));
    }
    j["points"] = std::move(list);
  }
  j["params"] = ParamsReport(op);
  Json tags = Json::array();
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) tags.push_back(TagReport(tag));
  j["tags"] = std::move(tags);
  return j;
}

Json BuildReport(const Scene& scene, LONG frame) {
  Json report = Json::object();
  report["frame"] = frame;
  report["time"] = scene.Document()->GetTime().Get();
  report["console"] = kwhost::ConsoleLines();
  report["status"] = kwhost::StatusText();
  Json objects = Json::array();
  for (BaseObject* op : TreeOrder(scene.Document())) objects.push_back(ObjectReport(op));
  report["objects"] = std::move(objects);
  return report;
}

void StageObjFiles(const Scene& scene, const String& folder, OutputFiles& files, std::ostream& err,
                   bool showProgress) {
  std::vector<std::pair<BaseObject*, BaseObject*>> written;
  std::set<String> names;
  for (BaseObject* op : TreeOrder(scene.Document())) {
    BaseObject* evaluated = EvaluatedPoints(op);
    if (!evaluated) continue;
    const String& name = op->GetName();
    if (name.empty() || name == "." || name == ".." || name.find('/') != String::npos ||
        name.find('\0') != String::npos) {
      throw CliError(kExitInput,
                     scene.File() + ": object '" + name + "': its name cannot name an OBJ file");
    }
    if (!names.insert(name).second) {
      throw CliError(kExitInput, scene.File() + ": two point objects are named '" + name +
                                     "'; their OBJ files would collide");
    }
    written.emplace_back(op, evaluated);
  }
  Progress progress(err, showProgress, "writing meshes", static_cast<long long>(written.size()));
  LLONG done = 0;
  for (const auto& [op, evaluated] : written) {
    const String path = (std::filesystem::path(folder) / (op->GetName() + ".obj")).string();
    files.Write(path, FormatObj(op->GetName(), *static_cast<const PointObject*>(evaluated)));
    progress.Update(++done);
  }
}

}  // namespace kwcli
