#!/usr/bin/env python3
"""Takes the README's screenshots: the tool showing the demo camera, and its
settings dialog, inside a Wine virtual desktop (where Wine draws caption and
frame). Needs a built tool and the template prefix (tools/run_tests.sh makes both).

Usage: python3 tools/screenshots.py [output folder, default docs]
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import EXE, World  # noqa: E402

DESKTOP = (720, 560)


def shoot(world, path, box):
    x, y, w, h = box
    subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                    "+repage", path], env=world.env, check=True)
    print("wrote", path)


def main(out):
    os.makedirs(out, exist_ok=True)
    world = World(name="shots", managed=True)
    try:
        world.set_settings(url=world.url("live.jpg"), WaitTime=200)
        desk = subprocess.Popen(["wine", "explorer", "/desktop=Torvanel,%dx%d" % DESKTOP, EXE],
                                env=world.env, cwd=world.work, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        time.sleep(8)
        shoot(world, os.path.join(out, "screenshot-live.png"), (0, 0, 420, 300))
        # The window keeps its template position (30, 20 dialog units) and is
        # fitted to the 320 x 240 picture: its middle is well inside the client area.
        world.x("mousemove", 200, 150)
        world.x("click", 3)
        time.sleep(0.6)
        world.x("key", "--delay", "80", "Down", "Return")
        time.sleep(2)
        shoot(world, os.path.join(out, "screenshot-settings.png"), (0, 0, 540, 470))
        desk.kill()
    finally:
        world.close()


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "docs")
