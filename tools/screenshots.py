#!/usr/bin/env python3
"""Takes the README's screenshots inside a Wine virtual desktop (where Wine
draws caption and frame): the tool showing the demo camera and its settings
dialog under ja_JP (code page 932), and its context menu and settings dialog
under en_US (code page 1252) in a folder named with "é" and Japanese letters.
Needs a built tool and the template prefix (tools/run_tests.sh makes both).

Usage: python3 tools/screenshots.py [output folder, default docs]
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import EXE, World  # noqa: E402

DESKTOP = (720, 560)
MARGIN = 20


def content_box(world):
    """(left, top, right, bottom) of what the desktop shows beside its plain
    background. The tool's windows live inside Wine's virtual desktop, out of
    reach of a probe on the default desktop, so they are found in the picture."""
    out = subprocess.run(["import", "-silent", "-window", "root", "-crop",
                          "%dx%d+0+0" % DESKTOP, "+repage", "-format", "%@", "info:"],
                         env=world.env, stdout=subprocess.PIPE, check=True).stdout.decode()
    size, x, y = out.split("+")
    w, h = (int(v) for v in size.split("x"))
    return int(x), int(y), int(x) + w, int(y) + h


def shoot(world, path):
    """The desktop from its top-left corner to just past what it shows."""
    _, _, right, bottom = content_box(world)
    w = min(DESKTOP[0], right + MARGIN)
    h = min(DESKTOP[1], bottom + MARGIN)
    subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+0+0" % (w, h),
                    "+repage", path], env=world.env, check=True)
    print("wrote", path)


def start(world):
    """Starts the tool in a virtual desktop; returns the desktop process and the
    main window's box once it shows a few pictures."""
    world.set_settings(url=world.url("live.jpg"), WaitTime=200)
    desk = subprocess.Popen(["wine", "explorer", "/desktop=Torvanel,%dx%d" % DESKTOP, EXE],
                            env=world.env, cwd=world.work, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    time.sleep(8)
    return desk, content_box(world)


def open_menu(world, main):
    # The middle of the main window is well inside its client area.
    world.x("mousemove", (main[0] + main[2]) // 2, (main[1] + main[3]) // 2)
    world.x("click", 3)
    time.sleep(1)


def open_settings(world, main):
    open_menu(world, main)
    world.x("key", "--delay", "80", "Down", "Return")
    time.sleep(2)


def japanese(out):
    world = World(name="shots", managed=True)
    try:
        desk, main = start(world)
        shoot(world, os.path.join(out, "screenshot-live.png"))
        open_settings(world, main)
        shoot(world, os.path.join(out, "screenshot-settings.png"))
        desk.kill()
    finally:
        world.close()


def western(out):
    world = World(name="shots-en", managed=True, lang="en_US.UTF-8", work_name="Café カメラ")
    try:
        desk, main = start(world)
        open_menu(world, main)
        shoot(world, os.path.join(out, "screenshot-en_US-menu.png"))
        world.x("key", "Escape")
        time.sleep(0.5)
        open_settings(world, main)
        shoot(world, os.path.join(out, "screenshot-en_US-settings.png"))
        desk.kill()
    finally:
        world.close()


def main(out):
    os.makedirs(out, exist_ok=True)
    japanese(out)
    western(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "docs")
