#include "falloff/grainfield.h"
#include "frame/module_tables.h"

namespace kw::frame {

// A falloff shape registers with flags 0, no icon and no disk level.
const ModuleSpec& GrainfieldModule() {
  static const PluginEntry plugins[] = {{PluginKind::FalloffShape, 1032559, "Grainfield", 0,
                                         "onoisefalloff_kw", nullptr, 0, 0, nullptr,
                                         Grainfield::Alloc}};
  static const ModuleSpec spec{
      "Grainfield",       "v0.01", plugins, std::size(plugins), StartPolicy::FailWhenAnyFails,
      BannerStyle::Framed};
  return spec;
}

}  // namespace kw::frame
