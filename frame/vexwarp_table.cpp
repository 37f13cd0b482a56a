#include "deformers/vexwarp/kwexpand.h"
#include "deformers/vexwarp/kwmotionstretch.h"
#include "deformers/vexwarp/kwrebend.h"
#include "deformers/vexwarp/kwseam.h"
#include "frame/module_tables.h"

namespace kw::frame {

const ModuleSpec& VexwarpModule() {
  static const PluginEntry plugins[] = {
      {PluginKind::Deformer, 1031649, "KWRebend", 1, "orebenddeformer_kw", "kwrebend.tif",
       OBJECT_MODIFIER, 1, KWRebend::Alloc},
      {PluginKind::Deformer, 1032036, "KWMotionStretch", 3, "omotionstretchdeformer_kw",
       "kwmotionstretch.tif", OBJECT_MODIFIER, 3, KWMotionStretch::Alloc},
      {PluginKind::Deformer, 1031654, "KWExpand", 0, "oexpanddeformer_kw", "kwexpand.tif",
       OBJECT_MODIFIER, 1, KWExpand::Alloc},
      {PluginKind::Deformer, 1031759, "KWSeam", 2, "oseamdeformer_kw", "kwseam.tif",
       OBJECT_MODIFIER, 1, KWSeam::Alloc},
  };
  static const ModuleSpec spec{
      "Vexwarp",          "v1.05", plugins, std::size(plugins), StartPolicy::FailWhenAllFail,
      BannerStyle::Framed};
  return spec;
}

}  // namespace kw::frame
