// The registration tables of the six modules.
#pragma once

#include <iterator>

#include "frame/module_frame.h"

namespace kw::frame {

const ModuleSpec& VexwarpModule();
const ModuleSpec& QuillformModule();
const ModuleSpec& FieldwiseModule();
const ModuleSpec& GrainfieldModule();
const ModuleSpec& MergefieldModule();
const ModuleSpec& NullpinModule();

}  // namespace kw::frame
