#include "detect/change_detector.h"

namespace torvanel {

void ChangeDetector() {}

}  // namespace torvanel
