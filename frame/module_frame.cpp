#include "frame/module_frame.h"

#include <cstdint>

namespace kw::frame {
namespace {

constexpr LONG kInitFailed = -3;
constexpr LONG kQueryResult = 5;

Bool InitSystem(ModuleState& state, void* hostInterface, void* folder) {
  if (state.initCount > 0) {
    ++state.initCount;
    return true;
  }
  const auto* host = static_cast<const HostInterface*>(hostInterface);
  const auto* path = static_cast<const char*>(folder);
  if (!host || host->version < HOST_API_VERSION || !path) return false;
  state.folder = path;
  state.initCount = 1;
  return true;
}

void EndSystem(ModuleState& state) {
  if (state.initCount == 0) return;  // an end without a matching initialisation
  if (--state.initCount > 0) return;
  state.resource.Free();
  state.folder.clear();
}

Bool ModuleMessage(ModuleState& state, LONG id) {
  if (id == C4DMSG_INIT_RESOURCES) return state.resource.Init(state.folder);
  return false;
}

}  // namespace

String BannerLine(const ModuleSpec& spec) {
  return String(spec.name) + " " + spec.version;
}

Bool RegisterPlugin(const PluginEntry& entry, const GeResource& resource) {
  const String description = entry.description ? entry.description : "";
  if (!description.empty() &&
      !RegisterDescription(entry.id, description, const_cast<GeResource*>(&resource))) {
    return false;
  }
  const String name = resource.LoadString(entry.nameString);
  switch (entry.kind) {
    case PluginKind::FalloffShape:
      return RegisterFalloffPlugin(entry.id, name, entry.flags, entry.falloffAllocator, description,
                                   entry.className);
    case PluginKind::Deformer:
    case PluginKind::Tag: {
      BaseBitmap* icon = nullptr;
      if (entry.icon) {
        icon = BaseBitmap::Alloc();
        if (icon && !icon->Init(resource.GetFolder() + "/res/" + entry.icon)) {
          BaseBitmap::Free(icon);  // an unreadable icon means no icon, not a failed plug-in
        }
      }
      const auto registerFn =
          entry.kind == PluginKind::Deformer ? RegisterObjectPlugin : RegisterTagPlugin;
      return registerFn(entry.id, name, entry.flags, entry.allocator, description, icon,
                        entry.diskLevel, entry.className);
    }
  }
  return false;
}

std::size_t RegisterPlugins(const ModuleSpec& spec, const GeResource& resource) {
  std::size_t failed = 0;
  for (std::size_t i = 0; i < spec.pluginCount; ++i) {
    if (!RegisterPlugin(spec.plugins[i], resource)) ++failed;
  }
  return failed;
}

Bool StartModule(const ModuleSpec& spec, const GeResource& resource) {
  const std::size_t failed = RegisterPlugins(spec, resource);
  const bool startFailed =
      spec.startPolicy == StartPolicy::FailWhenAllFail ? failed == spec.pluginCount : failed > 0;
  if (startFailed) return false;
  if (spec.bannerStyle == BannerStyle::Framed) {
    GePrint(" ");
    GePrint(BannerLine(spec));
    GePrint(" ");
  } else {
    GePrint(BannerLine(spec));
  }
  return true;
}

LONG ModuleMain(const ModuleSpec& spec, ModuleState& state, LONG action, void* first, void* second,
                void* third) {
  switch (action) {
    case C4DPL_INIT_SYS:
      return InitSystem(state, first, third) ? 1 : kInitFailed;
    case C4DPL_START:
      return StartModule(spec, state.resource) ? 1 : 0;
    case C4DPL_END:
      EndSystem(state);
      return 1;
    case C4DPL_QUERY:
      return kQueryResult;
    case C4DPL_MESSAGE: {
      const auto id = static_cast<LONG>(reinterpret_cast<std::intptr_t>(first));
      return ModuleMessage(state, id) ? 1 : -1;
    }
    default:
      return -1;
  }
}

}  // namespace kw::frame
