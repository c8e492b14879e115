#pragma once

// An axis's shape in a patch's JSON text, under the axis's "shape" key.

#include <string>

#include "tamborex/model/axis_shape.h"
#include "tamborex/storage/patch_json_checker.h"

// Every setting, for a shape that is not the default (a default one is left out of the text).
PatchJson ShapeJson(const AxisShape& shape);

// The settings a "shape" object gives; those it leaves out keep their defaults. Each value is
// held to what the patch file's extension takes.
void CheckShape(CJsonChecker& check, const PatchJson& value, const std::string& path,
                AxisShape& shape);
