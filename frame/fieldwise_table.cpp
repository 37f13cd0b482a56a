#include "falloff/fieldwise.h"
#include "frame/module_tables.h"

namespace kw::frame {

// A falloff shape registers with flags 0, no icon and no disk level.
const ModuleSpec& FieldwiseModule() {
  static const PluginEntry plugins[] = {{PluginKind::FalloffShape, 1029531, "Fieldwise", 0,
                                         "ofalloff_kw", nullptr, 0, 0, nullptr, Fieldwise::Alloc}};
  static const ModuleSpec spec{
      "Fieldwise",        "v1.10", plugins, std::size(plugins), StartPolicy::FailWhenAnyFails,
      BannerStyle::Framed};
  return spec;
}

}  // namespace kw::frame
