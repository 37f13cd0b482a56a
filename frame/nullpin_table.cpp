#include "frame/module_tables.h"
#include "tags/nullpin.h"

namespace kw::frame {

const ModuleSpec& NullpinModule() {
  static const PluginEntry plugins[] = {{PluginKind::Tag, Tnullpin, "Nullpin", 0, "tnullpin_kw",
                                         "nullpin.tif", TAG_VISIBLE, 0, Nullpin::Alloc}};
  static const ModuleSpec spec{
      "Nullpin",         "v1.00", plugins, std::size(plugins), StartPolicy::FailWhenAnyFails,
      BannerStyle::Plain};
  return spec;
}

}  // namespace kw::frame
