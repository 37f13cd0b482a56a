// The SDK layer the modules compile against: include this one header.
#pragma once

#include "kwhost/container.h"
#include "kwhost/description.h"
#include "kwhost/draw.h"
#include "kwhost/falloff.h"
#include "kwhost/gui.h"
#include "kwhost/ids.h"
#include "kwhost/memory.h"
#include "kwhost/module.h"
#include "kwhost/nodes.h"
#include "kwhost/plugin.h"
#include "kwhost/resource.h"
#include "kwhost/types.h"
