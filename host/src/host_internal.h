// Seams between the host's own source files; nothing here is part of the SDK layer.
#pragma once

#include "kwhost/types.h"

namespace kwhost::internal {

/// Counts one allocation for host storage that does not come from `GeAlloc` (point and
/// polygon arrays, tag values) so that failure injection reaches it too. False when this
/// allocation is to fail.
bool TakeAllocation();

/// The module whose `c4d_main` is running (its registrations carry this name); empty outside
/// loading.
void SetLoadingModule(const String& module);
/// Forgets the plug-ins and descriptions a module registered (its code is about to go away).
void ForgetModule(const String& module);

}  // namespace kwhost::internal
