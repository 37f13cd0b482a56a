// The plug-in registry and description resources.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "host_internal.h"
#include "kwhost/app/host.h"
#include "kwhost/falloff.h"
#include "kwhost/resource.h"

namespace {

using Json = nlohmann::json;
using kwhost::PluginInfo;
using kwhost::PluginKind;

/// A parsed description resource and the module that registered it.
struct DescriptionRecord {
  String module;
  std::vector<Description::Entry> entries;
};

struct Registry {
  std::mutex mutex;
  std::vector<PluginInfo> plugins;
  std::set<LONG> refused;
  std::map<LONG, DescriptionRecord> byId;
  std::map<String, DescriptionRecord> byName;
  String loadingModule;
};

// Never destroyed: modules may still look plug-ins up while the process shuts down.
Registry& GetRegistry() {
  static Registry* registry = [] {
    auto* r = new Registry;
    // Pointers handed out by FindPlugin stay valid while a normal set of modules registers.
    r->plugins.reserve(256);
    return r;
  }();
  return *registry;
}

// Host object and tag types a plug-in must not take over.
bool IsHostType(LONG id) {
  switch (id) {
    case Obase:
    case Opoint:
    case Opolygon:
    case Ospline:
    case Onull:
    case Ocube:
    case Osphere:
    case Oplane:
    case Ofalloff:
    case Ofalloffbase:
    case Tpoint:
    case Tpolygon:
    case Tvertexmap:
    case Trestriction:
    case Tedgeselection:
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Description resources: res/description/<name>.json

/// A resource name is a plain file name: no folders, nothing hidden, so a name read from a
/// file cannot reach outside the description folder.
bool IsSafeResourceName(const String& name) {
  if (name.empty() || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
  });
}

bool ParseDescType(const String& text, DescType& type) {
  static const std::map<String, DescType> kTypes = {
      {"long", DescType::Long},     {"real", DescType::Real},          {"bool", DescType::Bool},
      {"string", DescType::String}, {"vector", DescType::Vector},      {"matrix", DescType::Matrix},
      {"time", DescType::Time},     {"link", DescType::Link},          {"spline", DescType::Spline},
      {"button", DescType::Button}, {"separator", DescType::Separator}};
  auto found = kTypes.find(text);
  if (found == kTypes.end()) return false;
  type = found->second;
  return true;
}

bool ReadLong(const Json& value, LONG& out) {
  if (!value.is_number_integer()) return false;
  const auto v = value.get<std::int64_t>();
  if (v < std::numeric_limits<LONG>::min() || v > std::numeric_limits<LONG>::max()) return false;
  out = static_cast<LONG>(v);
  return true;
}

/// Copies an optional string member into the entry; false when it is there but no string.
bool OptionalString(const Json& param, const char* key, LONG id, BaseContainer& bc) {
  auto found = param.find(key);
  if (found == param.end()) return true;
  if (!found->is_string()) return false;
  bc.SetString(id, found->get<String>());
  return true;
}

bool OptionalReal(const Json& param, const char* key, LONG id, BaseContainer& bc) {
  auto found = param.find(key);
  if (found == param.end()) return true;
  if (!found->is_number()) return false;
  bc.SetReal(id, found->get<Real>());
  return true;
}

/// One parameter of a description resource; false when it is malformed.
bool ParseParameter(const Json& param, Description::Entry& entry) {
  if (!param.is_object()) return false;
  auto id = param.find("id");
  auto type = param.find("type");
  if (id == param.end() || !ReadLong(*id, entry.id.id)) return false;
  if (type == param.end() || !type->is_string() || !ParseDescType(type->get<String>(), entry.type))
    return false;
  BaseContainer& bc = entry.bc;
  bc.SetLong(DESC_DTYPE, static_cast<LONG>(entry.type));
  if (!OptionalString(param, "label", DESC_NAME, bc) ||
      !OptionalString(param, "ident", DESC_IDENT, bc) ||
      !OptionalString(param, "group", DESC_GROUP, bc) ||
      !OptionalString(param, "unit", DESC_UNIT, bc) || !OptionalReal(param, "min", DESC_MIN, bc) ||
      !OptionalReal(param, "max", DESC_MAX, bc))
    return false;
  if (auto hide = param.find("hide"); hide != param.end()) {
    if (!hide->is_boolean()) return false;
    bc.SetBool(DESC_HIDE, hide->get<bool>());
  }
  if (auto cycle = param.find("cycle"); cycle != param.end()) {
    if (!cycle->is_array()) return false;
    String text;
    for (const Json& item : *cycle) {
      LONG value = 0;
      if (!item.is_array() || item.size() != 2 || !ReadLong(item[0], value) || !item[1].is_string())
        return false;
      if (!text.empty()) text += ';';
      text += std::to_string(value) + ':' + item[1].get<String>();
    }
    bc.SetString(DESC_CYCLE, text);
  }
  return true;
}

/// Reads description `name` from `folder` into `out`, its includes first. `open` holds the
/// names being read, so an include cycle fails instead of recursing forever.
bool ReadDescription(const String& folder, const String& name, std::vector<String>& open,
                     Description& out) {
  if (!IsSafeResourceName(name)) return false;
  if (std::find(open.begin(), open.end(), name) != open.end()) return false;
  std::ifstream in(folder + "/" + name + ".json", std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  const Json doc = Json::parse(text.str(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  if (auto n = doc.find("name"); n != doc.end() && !n->is_string()) return false;

  open.push_back(name);
  bool ok = true;
  if (auto includes = doc.find("include"); includes != doc.end()) {
    ok = includes->is_array();
    for (auto it = includes->begin(); ok && it != includes->end(); ++it)
      ok = it->is_string() && ReadDescription(folder, it->get<String>(), open, out);
  }
  open.pop_back();
  if (!ok) return false;

  auto params = doc.find("parameters");
  if (params == doc.end()) return true;
  if (!params->is_array()) return false;
  for (const Json& param : *params) {
    Description::Entry entry;
    if (!ParseParameter(param, entry)) return false;
    out.AddEntry(entry);
  }
  return true;
}

bool Register(PluginInfo info, BaseBitmap* icon) {
  if (icon) {
    const String& path = icon->GetFileName();
    const auto slash = path.find_last_of("/\\");
    info.icon = slash == String::npos ? path : path.substr(slash + 1);
    BaseBitmap::Free(icon);  // the host owns the icon from here on, registered or not
  }
  if (info.id <= 0 || IsHostType(info.id)) return false;
  if (!info.allocator && !info.falloffAllocator) return false;
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.refused.count(info.id)) return false;
  for (const PluginInfo& existing : r.plugins)
    if (existing.id == info.id) return false;
  info.module = r.loadingModule;
  try {
    r.plugins.push_back(std::move(info));
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registration

Bool RegisterDescription(LONG id, const String& name, GeResource* resource) {
  if (!resource || !resource->IsLoaded()) return false;
  Description description;
  std::vector<String> open;
  try {
    if (!ReadDescription(resource->GetFolder() + "/res/description", name, open, description))
      return false;
  } catch (...) {
    return false;
  }
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  DescriptionRecord record{r.loadingModule, description.Entries()};
  r.byName[name] = record;
  r.byId[id] = std::move(record);
  return true;
}

Bool RegisterObjectPlugin(LONG id, const String& name, LONG flags, DataAllocator allocator,
                          const String& description, BaseBitmap* icon, LONG diskLevel,
                          const char* className) {
  PluginInfo info;
  info.kind = (flags & OBJECT_MODIFIER) ? PluginKind::Deformer : PluginKind::Object;
  info.id = id;
  info.className = className ? className : "";
  info.name = name;
  info.description = description;
  info.flags = flags;
  info.diskLevel = diskLevel;
  info.allocator = allocator;
  return Register(std::move(info), icon);
}

Bool RegisterTagPlugin(LONG id, const String& name, LONG flags, DataAllocator allocator,
                       const String& description, BaseBitmap* icon, LONG diskLevel,
                       const char* className) {
  PluginInfo info;
  info.kind = PluginKind::Tag;
  info.id = id;
  info.className = className ? className : "";
  info.name = name;
  info.description = description;
  info.flags = flags;
  info.diskLevel = diskLevel;
  info.allocator = allocator;
  return Register(std::move(info), icon);
}

Bool RegisterFalloffPlugin(LONG id, const String& name, LONG flags, FalloffAllocator allocator,
                           const String& description, const char* className) {
  PluginInfo info;
  info.kind = PluginKind::Falloff;
  info.id = id;
  info.className = className ? className : "";
  info.name = name;
  info.description = description;
  info.flags = flags;
  info.falloffAllocator = allocator;
  return Register(std::move(info), nullptr);
}

namespace kwhost {

const std::vector<PluginInfo>& RegisteredPlugins() {
  return GetRegistry().plugins;
}

const PluginInfo* FindPlugin(LONG id) {
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const PluginInfo& info : r.plugins)
    if (info.id == id) return &info;
  return nullptr;
}

const PluginInfo* FindPluginByName(const String& name) {
  if (name.empty()) return nullptr;
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const PluginInfo& info : r.plugins)
    if (info.name == name || info.className == name) return &info;
  return nullptr;
}

void RefuseRegistration(LONG id) {
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.refused.insert(id);
}

void ClearRegistry() {
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.plugins.clear();
  r.refused.clear();
  r.byId.clear();
  r.byName.clear();
}

Bool GetNodeDescription(BaseList2D* node, Description& description) {
  if (!node) return false;
  if (NodeData* data = node->GetNodeData()) {
    LONG flags = 0;
    return data->GetDescription(node, &description, flags);
  }
  if (node->GetType() == Ofalloff) {
    // The falloff object shows exactly the falloff's parameters.
    C4D_Falloff* falloff = C4D_Falloff::Alloc();
    if (!falloff) return false;
    const Bool ok = falloff->AddFalloffToDescription(&description, node->GetDataInstance());
    C4D_Falloff::Free(falloff);
    return ok;
  }
  return description.LoadDescription(node->GetType());
}

namespace internal {

void SetLoadingModule(const String& module) {
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.loadingModule = module;
}

void ForgetModule(const String& module) {
  if (module.empty()) return;
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::erase_if(r.plugins, [&](const PluginInfo& info) { return info.module == module; });
  std::erase_if(r.byId, [&](const auto& item) { return item.second.module == module; });
  std::erase_if(r.byName, [&](const auto& item) { return item.second.module == module; });
}

}  // namespace internal
}  // namespace kwhost

// ---------------------------------------------------------------------------------------------
// Descriptions

namespace {

/// Appends the registered entries found under `key` in `index` (by ID or by name).
template <class Index, class Key>
Bool AppendRegistered(Description& description, Index Registry::*index, const Key& key) {
  std::vector<Description::Entry> entries;
  {
    Registry& r = GetRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto found = (r.*index).find(key);
    if (found == (r.*index).end()) return false;
    entries = found->second.entries;
  }
  for (const Description::Entry& entry : entries) description.AddEntry(entry);
  return true;
}

}  // namespace

Bool Description::LoadDescription(LONG type) {
  return AppendRegistered(*this, &Registry::byId, type);
}

Bool Description::LoadDescription(const String& name) {
  return AppendRegistered(*this, &Registry::byName, name);
}

void Description::AddEntry(const Entry& entry) {
  for (Entry& existing : entries_) {
    if (existing.id.id == entry.id.id) {
      existing = entry;  // keeps its place: an include's layout is not reshuffled
      return;
    }
  }
  entries_.push_back(entry);
}

BaseContainer* Description::GetParameterI(const DescID& id) {
  for (Entry& entry : entries_)
    if (entry.id.id == id.id) return &entry.bc;
  return nullptr;
}

const Description::Entry* Description::Find(LONG id) const {
  for (const Entry& entry : entries_)
    if (entry.id.id == id) return &entry;
  return nullptr;
}

const Description::Entry* Description::FindByIdent(const String& ident) const {
  if (ident.empty()) return nullptr;
  for (const Entry& entry : entries_)
    if (entry.bc.GetString(DESC_IDENT) == ident) return &entry;
  return nullptr;
}

Bool NodeData::GetDescription(GeListNode* node, Description* description, LONG& flags) {
  if (!(flags & DESCFLAGS_DESC_LOADED) && node && description &&
      description->LoadDescription(node->GetType()))
    flags |= DESCFLAGS_DESC_LOADED;
  return true;
}
