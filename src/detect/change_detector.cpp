#include "detect/change_detector.h"

#include <windows.h>
#include <mmsystem.h>

#include "app/app_state.h"
#include "app/stamped_path.h"
#include "detect/change_count.h"
#include "detect/surface_count.h"
#include "imaging/still_codec.h"

namespace torvanel {

namespace {
// The two looks are compared on the UI thread only; their buffers live for the run.
SurfaceChangeCounter counter;
}  // namespace

void ChangeDetector() {
    if (app.settings.CheckFlg.load() != 1) {
        return;
    }
    // One picture and one size for the whole tick: the looks are taken and read
    // out in one hold of the surfaces' guard, and the count works on the copies.
    const bool priming = app.detectorTicks.load() < 1;
    bool read = true;
    const FrameSurfaces::Look look =
        app.surfaces.RotateLooks([&](HDC current, HDC previous, SIZE looks, PictureSize picture) {
            if (!priming) {
                read = counter.Read(current, previous, looks, picture.width, picture.height);
            }
        });
    if (!look.taken) {
        return;
    }
    if (priming) {
        app.detectorTicks.store(1);
        return;
    }
    const int32_t width = look.picture.width;
    const int32_t height = look.picture.height;
    // With no decoded picture both threshold and count would be 0 and every tick
    // would fire for as long as the camera is down.
    if (width <= 0 || height <= 0 || !read) {
        return;
    }
    const int32_t changed = counter.Count(width, height, app.settings.NoiseLevel.load());
    if (changed < ChangeThreshold(width, height, app.settings.ErrorRate.load())) {
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
