// The boundary between the host and a module: the one exported entry point.
#pragma once

#include "kwhost/types.h"

// Action codes of `c4d_main`.
constexpr LONG C4DPL_INIT_SYS = 1;  ///< bind to the host (first argument: HostInterface*)
constexpr LONG C4DPL_START = 2;     ///< register the plug-ins
constexpr LONG C4DPL_END = 3;       ///< shut down (as often as C4DPL_INIT_SYS came)
constexpr LONG C4DPL_QUERY = 4;
constexpr LONG C4DPL_MESSAGE = 6;  ///< first argument: the message ID; second: its data

// Module messages.
constexpr LONG C4DMSG_INIT_RESOURCES = 1;  ///< load the string and description resources

/// The versioned record the host passes with C4DPL_INIT_SYS: its interface version and the
/// services a module reaches through it.
struct HostInterface {
  LONG version = 0;  ///< 13000 or above
  const char* hostName = nullptr;
};

/// The host's own record (version HOST_API_VERSION).
const HostInterface* GetHostInterface();

#define KW_EXPORT extern "C" __attribute__((visibility("default")))
