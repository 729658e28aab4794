#include "detect/change_detector.h"

#include <windows.h>
#include <mmsystem.h>

#include "app/app_state.h"
#include "app/stamped_path.h"
#include "base/scoped_win.h"
#include "detect/change_count.h"
#include "detect/surface_count.h"
#include "imaging/still_codec.h"
#include "imaging/surfaces.h"

namespace torvanel {

namespace {
// The two looks are compared on the UI thread only; their buffers live for the run.
SurfaceChangeCounter counter;
}  // namespace

void ChangeDetector() {
    if (app.settings.CheckFlg.load() != 1) {
        return;
    }
    int32_t width = 0;
    int32_t height = 0;
    {
        // One picture and one size for the whole tick: the fetch thread cannot
        // redraw displaySurface or change the size between the copies.
        ExclusiveLock lock(app.surfaceLock);
        if (!app.surfacesLive) {
            return;
        }
        width = app.imageWidth;
        height = app.imageHeight;
        CopySurface(app.currentSurface, app.previousSurface);
        CopySurface(app.displaySurface, app.currentSurface);
    }
    if (app.detectorTicks.load() < 1) {
        app.detectorTicks.store(1);
        return;
    }
    // With no decoded picture both threshold and count would be 0 and every tick
    // would fire for as long as the camera is down.
    if (width <= 0 || height <= 0) {
        return;
    }
    const int32_t changed = counter.Count(app.currentSurface, app.previousSurface, width, height,
                                          app.settings.NoiseLevel.load());
    if (changed < 0 || changed < ChangeThreshold(width, height, app.settings.ErrorRate.load())) {
        return;
    }
    char path[kTextSize];
    if (StampedPath(StampKind::Check, path)) {
        SaveSnapshotJpeg(path);
    }
    // Synchronous: the tick ends when the sound has played, saved or not.
    PlaySoundA("check.wav", nullptr, SND_FILENAME);
}

}  // namespace torvanel
