#include "deformers/quillform/kwimpact.h"
#include "deformers/quillform/kwscrollroll.h"
#include "deformers/quillform/kwspherewrap.h"
#include "deformers/quillform/kwtwirl.h"
#include "frame/module_tables.h"

namespace kw::frame {

const ModuleSpec& QuillformModule() {
  static const PluginEntry plugins[] = {
      {PluginKind::Deformer, 1029695, "KWSphereWrap", 0, "ospherewrapdeformer_kw",
       "kwspherewrap.tif", OBJECT_MODIFIER, 1, KWSphereWrap::Alloc},
      {PluginKind::Deformer, 1030430, "KWTwirl", 1, "otwirldeformer_kw", "kwtwirl.tif",
       OBJECT_MODIFIER, 1, KWTwirl::Alloc},
      {PluginKind::Deformer, 1030431, "KWScrollRoll", 2, "oscrollrolldeformer_kw",
       "kwscrollroll.tif", OBJECT_MODIFIER, 1, KWScrollRoll::Alloc},
      {PluginKind::Deformer, 1030432, "KWImpact", 3, "oimpactdeformer_kw", "kwimpact.tif",
       OBJECT_MODIFIER, 1, KWImpact::Alloc},
  };
  static const ModuleSpec spec{
      "Quillform",        "v1.37", plugins, std::size(plugins), StartPolicy::FailWhenAllFail,
      BannerStyle::Framed};
  return spec;
}

}  // namespace kw::frame
