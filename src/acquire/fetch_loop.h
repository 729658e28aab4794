// The fetch thread: download, decode, present, fit, pause; again and again.
#pragma once

#include <windows.h>

#include <cstdint>

#include "acquire/camera_login.h"
#include "acquire/connection_status.h"
#include "acquire/http_fetcher.h"

namespace torvanel {

// Passes until the tool quits: each one downloads the camera URL, decodes a
// picture into displaySurface and only then keeps it as "work.jpg", presents
// it and, while the window still waits for its fit, fits the window to it.
// Every wait in a pass ends at once when the tool quits.
void FetchLoop();

// The thread procedure: FetchLoop, then 0.
DWORD WINAPI FetchThread(void* unused);

// One download of the camera picture into partPath, the login answered: a 401
// that teaches the login a challenge is answered at once by one repeat, never
// more, so a wrong password costs two requests and a picture one.
DownloadResult DownloadCamera(const UrlLogin& target, CameraLogin& login, const char* partPath,
                              HANDLE cancel);

// What a download's end tells the caption; a body still has to decode.
PassOutcome OutcomeForDownload(DownloadEnd end, uint32_t status);

}  // namespace torvanel
