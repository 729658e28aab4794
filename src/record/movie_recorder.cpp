#include "record/movie_recorder.h"

#include "app/app_state.h"

namespace torvanel {

void RecorderLoop() {}

DWORD WINAPI RecorderThread(void* /*unused*/) {
    RecorderLoop();
    return 0;
}

void StopRecording() { app.recording = 0; }

}  // namespace torvanel
