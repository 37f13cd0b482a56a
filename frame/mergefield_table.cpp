#include "falloff/mergefield.h"
#include "frame/module_tables.h"

namespace kw::frame {

// A falloff shape registers with flags 0, no icon and no disk level.
const ModuleSpec& MergefieldModule() {
  static const PluginEntry plugins[] = {{PluginKind::FalloffShape, 1031672, "Mergefield", 0,
                                         "oboolefalloff_kw", nullptr, 0, 0, nullptr,
                                         Mergefield::Alloc}};
  static const ModuleSpec spec{
      "Mergefield",       "v1.01", plugins, std::size(plugins), StartPolicy::FailWhenAnyFails,
      BannerStyle::Framed};
  return spec;
}

}  // namespace kw::frame
