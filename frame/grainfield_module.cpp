// The Grainfield module's entry point.
#include "frame/module_tables.h"

namespace {
kw::frame::ModuleState state;
}

KW_EXPORT LONG c4d_main(LONG action, void* first, void* second, void* third) {
  return kw::frame::ModuleMain(kw::frame::GrainfieldModule(), state, action, first, second, third);
}
