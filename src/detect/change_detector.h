// One tick of change detection, on the UI thread.
#pragma once

namespace torvanel {

void ChangeDetector();

}  // namespace torvanel
