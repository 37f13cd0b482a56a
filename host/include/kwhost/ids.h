// Fixed numbers of the host: object and tag types, messages, flags, colours.
#pragma once

#include "kwhost/types.h"

// Object types (`GetType`); instance bases answer `IsInstanceOf`.
constexpr LONG Obase = 5155;
constexpr LONG Opoint = 5156;    ///< instance base of every point object
constexpr LONG Opolygon = 5100;  ///< polygon object
constexpr LONG Ospline = 5101;   ///< spline object (a point object without polygons)
constexpr LONG Onull = 5140;
constexpr LONG Ocube = 5159;
constexpr LONG Osphere = 5160;
constexpr LONG Oplane = 5168;
constexpr LONG Ofalloff = 1018561;      ///< the host's falloff object
constexpr LONG Ofalloffbase = 1018560;  ///< what every falloff object is an instance of

// Tag types.
constexpr LONG Tpoint = 5600;
constexpr LONG Tpolygon = 5604;
constexpr LONG Tvertexmap = 5682;
constexpr LONG Trestriction = 5683;
constexpr LONG Tedgeselection = 5701;
constexpr LONG Tnullpin = 1030379;  ///< the anchor tag of the Nullpin module

// Data types of container values and custom data.
constexpr LONG CUSTOMDATATYPE_SPLINE = 1009060;

// Libraries.
constexpr LONG LIBRARY_FALLOFF = 1019541;

// Messages (`Message` of nodes and plug-ins).
constexpr LONG MSG_UPDATE = 5;
constexpr LONG MSG_DESCRIPTION_COMMAND = 18;
constexpr LONG MSG_MENUPREPARE = 22;
constexpr LONG MSG_DESCRIPTION_CHECKDRAGANDDROP = 26;

// Dirty flags (`SetDirty`, `GetDirty`, `IsDirty`).
constexpr LONG DIRTYFLAGS_MATRIX = 2;
constexpr LONG DIRTYFLAGS_DATA = 4;
constexpr LONG DIRTYFLAGS_CACHE = 16;

// Undo types.
constexpr LONG UNDOTYPE_CHANGE = 42;
constexpr LONG UNDOTYPE_NEW = 44;

// Description flags and entry flags.
constexpr LONG DESCFLAGS_DESC_LOADED = 2;
constexpr LONG DESC_HIDE = 15;

// Drawing.
constexpr LONG DRAWPASS_OBJECT = 0;
constexpr LONG DRAWPASS_HANDLES = 2;
constexpr LONG VIEWCOLOR_HANDLES = 12;
constexpr LONG VIEWCOLOR_ACTIVEHANDLES = 47;

// Input state.
constexpr LONG QUALIFIER_SHIFT = 1;
constexpr LONG QUALIFIER_CTRL = 2;
constexpr LONG BFM_INPUT_QUALIFIER = 1768976737;
constexpr LONG BFM_INPUT_KEYBOARD = 1801812322;
constexpr LONG BFM_INPUT_CHANNEL = 1768973430;
constexpr LONG BFM_INPUT_VALUE = 1768978017;
constexpr LONG KEY_ESC = 27;

// Plug-in registration flags.
constexpr LONG OBJECT_MODIFIER = 1;
constexpr LONG TAG_VISIBLE = 1;

// The host's interface version handed to modules.
constexpr LONG HOST_API_VERSION = 13000;
