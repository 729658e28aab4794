#!/usr/bin/env python3
"""Measures the noisy feeds of the demo camera for choosing NoiseLevel and
ErrorRate: the share of pixels that count as changed between two frames, at
each noise level, for a still scene and for the moving dark square.

The frames are the camera's own (tools/camera_server.py, kept in its cache
folder), decoded by ImageMagick; a pixel counts when its red, green or blue byte
differs by more than the level, as the tool counts it.

Usage: python3 tools/measure_noise.py [--cache FOLDER]
"""
import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import camera_server as cam  # noqa: E402

LEVELS = (0, 4, 8, 12, 16, 24)
SIGMAS = (2, 4)
# Frames one second apart: what the detector compares at TimerSec 1.
TICK = cam.NOISY_FPS


def decode(path):
    return subprocess.run(["convert", path, "-depth", "8", "rgb:-"], stdout=subprocess.PIPE,
                          check=True).stdout


def largest_differences(a, b):
    """Per pixel, the largest difference of its three colour bytes."""
    return [max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2]))
            for i in range(0, len(a), 3)]


def shares(frames, step):
    """{level: (lowest, highest) per cent of pixels changed} over the pairs
    (i, i + step) of the cycle."""
    out = {level: [] for level in LEVELS}
    for i in range(len(frames)):
        diffs = largest_differences(frames[i], frames[(i + step) % len(frames)])
        histogram = [0] * 256
        for d in diffs:
            histogram[d] += 1
        for level in LEVELS:
            out[level].append(100.0 * sum(histogram[level + 1:]) / len(diffs))
    return {level: (min(v), max(v)) for level, v in out.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "torvanel-camera"))
    args = parser.parse_args()
    camera = cam.Camera(None, None, args.cache)
    print("per cent of pixels changed, lowest-highest over every pair of frames")
    print("%-28s" % "feed" + "".join("%14s" % ("level %d" % n) for n in LEVELS))
    for kind in ("still", "moving"):
        for sigma in SIGMAS:
            count = cam.noisy_frame_count(kind)
            frames = []
            with tempfile.TemporaryDirectory() as tmp:
                for i in range(count):
                    path = os.path.join(tmp, "f.jpg")
                    with open(path, "wb") as f:
                        f.write(camera.noisy_frame(kind, sigma, i))
                    frames.append(decode(path))
            steps = [(1, "next frame")] + ([(TICK, "1 s apart")] if kind == "moving" else [])
            for step, what in steps:
                row = shares(frames, step)
                name = "%s-%d, %s" % (kind, sigma, what)
                print("%-28s" % name + "".join("%14s" % ("%.2f-%.2f" % row[n]) for n in LEVELS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
