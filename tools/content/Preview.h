// A quick look at point clouds without the engine: each cloud becomes one row of three perspective views
// (the show's default front view from -z, a side view from +x, and a view from above at three quarters),
// drawn as small depth-tested dots shaded by their normals, or as additive specks where a cloud has no
// normals. For checking the generated shapes by eye; nothing in the show uses it.
#pragma once

#include "tools/content/PointCloudFile.h"
#include "tools/content/Sprite.h"

#include <vector>

namespace Content {

RgbaImage renderPreview(const std::vector<std::vector<CloudPoint>>& clouds, int panelSize);

} // namespace Content
