// The JSON report of an evaluated scene and the OBJ files of its point objects.
#pragma once

#include <vector>

#include "output.h"
#include "scene.h"
#include "values.h"

namespace kwcli {

/// The report of the scene as evaluated at `frame`: {"frame", "time", "console", "status",
/// "objects": [{"name", "type", "matrix", "points", "params", "tags"}]}, objects in tree
/// order, values in the scene's JSON forms.
Json BuildReport(const Scene& scene, LONG frame);

/// One object's entry of the report.
Json ObjectReport(BaseObject* op);

/// The parameters `node` holds, under their description names (host primitives under the
/// scene's keys); buttons and separators are left out.
Json ParamsReport(BaseList2D* node);

/// Stages DIR/<name>.obj for every object with evaluated points. Names must be usable as
/// file names and unique among those objects; throws CliError (input) otherwise.
/// Progress goes to `err` when `showProgress`.
void StageObjFiles(const Scene& scene, const String& folder, OutputFiles& files, std::ostream& err,
                   bool showProgress);

}  // namespace kwcli
