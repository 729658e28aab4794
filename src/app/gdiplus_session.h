// Start and stop of GDI+ around the main window's life.
#pragma once

namespace torvanel {

void StartGdiplus();
void StopGdiplus();

}  // namespace torvanel
