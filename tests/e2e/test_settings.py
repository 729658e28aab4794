"""The settings dialog end to end: opened from the context menu of the real
tool, driven with the mouse and keyboard through xdotool, checked in the
registry (wine reg query), in the main window's size and in the camera's log."""
import os
import re
import subprocess
import time
import unittest

from harness import EXE, SETTINGS_CAPTION, ToolTestCase, wait_until

ITEM_SETTINGS = 1

# The CONFIG template in dialog units: its client size, and x, y, w, h of the
# controls the tests use.
DIALOG_UNITS = (274, 235)
FIELDS = {
    "url": (80, 20, 180, 14),
    "WaitTime": (80, 40, 40, 14),
    "TimerSec": (80, 104, 40, 14),
    "ErrorRate": (80, 124, 40, 14),
    "CaptureTime": (80, 164, 40, 14),
    "Frame": (80, 184, 28, 14),
    "PerSec": (144, 184, 28, 14),
    "NoiseLevel": (186, 84, 36, 14),
}
CHECK_BOX = (12, 88, 10, 10)  # the box itself, left of its label
OK_BUTTON = (200, 216, 33, 14)
CANCEL_BUTTON = (236, 216, 33, 14)

DEFAULTS = {"CaptureTime": 500, "Frame": 5, "PerSec": 1, "url": "", "WaitTime": 500,
            "TimerSec": 5, "CheckFlg": 0, "ErrorRate": 30, "NoiseLevel": 0}


def stored(world):
    """The tool's registry values as {name: int or str}, or None without the key."""
    values = world.reg_query()
    if values is None:
        return None
    out = {}
    for name, (kind, text) in values.items():
        if kind == "REG_DWORD":
            n = int(text, 16)
            out[name] = n - (1 << 32) if n >= 1 << 31 else n
        else:
            out[name] = text
    return out


class Dialog:
    """The open settings dialog, its controls reached through the template's layout."""

    def __init__(self, world):
        self.world = world
        world.menu(ITEM_SETTINGS)
        self.window = world.wait_window(SETTINGS_CAPTION, 10)
        # The dialog class; the tool has no other dialog open.
        self.client = wait_until(lambda: world.client_rect("#32770"), 10, what="the dialog's rect")
        self.outer = world.outer_rect("#32770")

    def point(self, rect):
        x, y, w, h = self.client
        ux, uy, uw, uh = rect
        return (x + round((ux + uw / 2) * w / DIALOG_UNITS[0]),
                y + round((uy + uh / 2) * h / DIALOG_UNITS[1]))

    def click(self, rect):
        x, y = self.point(rect)
        self.world.x("mousemove", x, y)
        self.world.x("click", 1)

    def type_into(self, name, text):
        """Replaces a field's text as a user does: click, select it all, type."""
        self.click(FIELDS[name])
        time.sleep(0.2)
        self.world.x("key", "--delay", "40", "End", "shift+Home", "BackSpace")
        if text:
            self.world.x("type", "--delay", "8", "--", text)

    def tick(self):
        self.click(CHECK_BOX)

    def ok(self):
        self.click(OK_BUTTON)
        self.world.wait_no_window(SETTINGS_CAPTION)

    def cancel(self):
        self.click(CANCEL_BUTTON)
        self.world.wait_no_window(SETTINGS_CAPTION)

    def escape(self):
        self.world.keys(self.window, "Escape")
        self.world.wait_no_window(SETTINGS_CAPTION)

    def close_box(self):
        # The caption's close box, at the right end of the caption bar.
        ox, oy, ow, _ = self.outer
        cx, cy, cw, _ = self.client
        frame = (ow - cw) // 2
        caption = cy - oy - frame
        self.world.x("mousemove", ox + ow - frame - caption // 2 - 1, oy + frame + caption // 2)
        self.world.x("click", 1)
        self.world.wait_no_window(SETTINGS_CAPTION)


def picture_size(world):
    rect = world.client_rect()
    return rect[2:] if rect else None


def wait_more_requests(world, count, timeout=15):
    start = len(world.requests())
    wait_until(lambda: len(world.requests()) >= start + count, timeout,
               what="%d more camera requests" % count)


class SettingsDialogTest(ToolTestCase):
    def test_first_run_cancel_keeps_the_key_absent_and_ok_writes_the_defaults(self):
        world = self.make_world()
        tool = world.start_tool()
        world.wait_window()

        for how in ("cancel", "escape", "close_box"):
            with self.subTest("edited, then left by " + how):
                dialog = Dialog(world)
                dialog.type_into("WaitTime", "999")
                dialog.tick()
                getattr(dialog, how)()
                self.assertIsNone(stored(world), "the key stays absent")
                self.assertIsNone(tool.poll())

        with self.subTest("OK without a change creates the key with all nine defaults"):
            Dialog(world).ok()
            self.assertEqual(DEFAULTS, stored(world))

    def test_values_in_force_are_shown_cancel_keeps_the_fit_ok_refits(self):
        world = self.make_world()
        world.picture("a.jpg", ["-size", "320x240", "xc:#2060c0"])
        url = world.url("file/a.jpg")
        in_force = {"CaptureTime": 250, "Frame": 3, "PerSec": 2, "url": url, "WaitTime": 100,
                    "TimerSec": 3600, "CheckFlg": 2, "ErrorRate": -40, "NoiseLevel": 300}
        world.set_settings(**in_force)
        world.start_tool()
        world.wait_window()
        wait_until(lambda: picture_size(world) == (320, 240), 20, what="the fit to 320 x 240")

        # The user resizes the window; the camera's size stays, so only a
        # cleared windowSized fits the window to the picture again.
        world.resize(400, 300)
        resized = picture_size(world)
        self.assertNotEqual((320, 240), resized)
        wait_more_requests(world, 3)
        self.assertEqual(resized, picture_size(world))

        for how in ("cancel", "escape", "close_box"):
            with self.subTest("left by " + how):
                getattr(Dialog(world), how)()
                wait_more_requests(world, 3)
                self.assertEqual(resized, picture_size(world), "no refit")
                self.assertEqual(in_force, stored(world))

        with self.subTest("OK without a change refits and writes what was shown"):
            Dialog(world).ok()
            wait_until(lambda: picture_size(world) == (320, 240), 10, what="the refit")
            # A CheckFlg of 2 shows as a ticked box, which stores 1.
            self.assertEqual(dict(in_force, CheckFlg=1), stored(world))

    def test_typed_values_arrive_converted_and_show_again(self):
        world = self.make_world()
        world.picture("a.jpg", ["-size", "160x120", "xc:#208020"])
        world.set_settings(url=world.url("file/a.jpg"), WaitTime=200, TimerSec=3600)
        tool = world.start_tool()
        world.wait_window()
        wait_until(lambda: world.requests(), 20, what="the first download")

        base = "http://127.0.0.1:%d/file/a.jpg?" % world.port
        long_url = base + "".join(chr(ord("a") + i % 26) for i in range(300 - len(base)))
        typed = {"CaptureTime": "12abc", "Frame": "abc", "PerSec": "", "WaitTime": "  250",
                 "TimerSec": "+7", "ErrorRate": "-5", "NoiseLevel": "16", "url": long_url}
        expected = {"CaptureTime": 12, "Frame": 0, "PerSec": 0, "WaitTime": 250, "TimerSec": 7,
                    "ErrorRate": -5, "NoiseLevel": 16, "CheckFlg": 1, "url": long_url[:254]}
        dialog = Dialog(world)
        for name, text in typed.items():
            dialog.type_into(name, text)
        dialog.tick()
        dialog.ok()

        with self.subTest("stored converted"):
            self.assertEqual(expected, stored(world))
            reg = world.reg_query()
            self.assertEqual(("REG_DWORD", "0xfffffffb"), reg["ErrorRate"])

        with self.subTest("the cut URL is the one downloaded next"):
            path = long_url[:254][len("http://127.0.0.1:%d" % world.port):]
            wait_until(lambda: any(r["path"] == path for r in world.requests()), 10,
                       what="a request for the 254-character URL")

        with self.subTest("opened again, the dialog shows what was stored"):
            Dialog(world).ok()
            self.assertEqual(expected, stored(world))
        self.assertIsNone(tool.poll())

    def test_new_url_at_the_next_pass_new_wait_time_at_the_next_pause(self):
        world = self.make_world()
        world.picture("a.jpg", ["-size", "160x120", "xc:#808020"])
        world.set_settings(url=world.url("file/a.jpg?old"), WaitTime=100, TimerSec=3600)
        world.start_tool()
        world.wait_window()
        wait_more_requests(world, 3, 20)

        def paths():
            return [r["path"] for r in world.requests()]

        with self.subTest("a new URL is fetched from the next pass on"):
            dialog = Dialog(world)
            dialog.type_into("url", world.url("file/a.jpg?new"))
            dialog.ok()
            first_new = wait_until(
                lambda: [i for i, p in enumerate(paths()) if p.endswith("?new")], 10,
                what="the new URL")[0]
            wait_more_requests(world, 3)
            self.assertEqual({"/file/a.jpg?new"}, set(paths()[first_new:]))

        with self.subTest("a new WaitTime holds from the next pause on"):
            dialog = Dialog(world)
            dialog.type_into("WaitTime", "60000")
            dialog.ok()
            closed = len(paths())
            time.sleep(3)
            # Only a pass that was pausing the old 100 ms when OK came may follow;
            # the pause after it is the new one.
            self.assertLessEqual(len(paths()) - closed, 1)


# The CONFIG template as compiled into the tool, read back by the toolchain's
# resource compiler: (identifier, class, style, x, y, w, h, text) per control.
WINDRES = os.environ.get("TORVANEL_WINDRES", "x86_64-w64-mingw32-windres")
TABSTOP = 0x00010000
# The 25 controls of the dialog before the noise level, in template order.
FIRST_25 = [
    (1011, "EDIT", 0x50810080, 80, 20, 180, 14, ""),
    (1012, "EDIT", 0x50810080, 80, 40, 40, 14, ""),
    (1014, "EDIT", 0x50810080, 80, 104, 40, 14, ""),
    (1015, "EDIT", 0x50810080, 80, 124, 40, 14, ""),
    (1, "BUTTON", 0x50010000, 200, 216, 33, 14, "OK"),
    (2, "BUTTON", 0x50010000, 236, 216, 33, 14, "ｷｬﾝｾﾙ"),
    (-1, "STATIC", 0x50020000, 12, 24, 60, 8, "*.jpg ﾌｧｲﾙ名(URL)"),
    (-1, "STATIC", 0x50020000, 12, 44, 60, 8, "再読み込み間隔"),
    (-1, "STATIC", 0x50020000, 124, 44, 60, 8, "ミリ秒"),
    (1013, "BUTTON", 0x50010003, 12, 88, 120, 10, "動き検出"),
    (-1, "STATIC", 0x50020000, 12, 108, 60, 8, "監視間隔"),
    (-1, "STATIC", 0x50020000, 124, 108, 60, 8, "秒"),
    (-1, "STATIC", 0x50020000, 12, 128, 60, 8, "エラー検出率"),
    (-1, "STATIC", 0x50020000, 124, 128, 60, 8, "％"),
    (-1, "BUTTON", 0x50000007, 4, 8, 264, 60, "基本設定（ライブカメラ画像の読み込み）"),
    (-1, "BUTTON", 0x50000007, 4, 72, 264, 76, "画像に変化があった場合の静止画像保存機能"),
    (-1, "BUTTON", 0x50000007, 4, 152, 264, 56, "動画生成時の設定"),
    (1019, "EDIT", 0x50810080, 80, 184, 28, 14, ""),
    (1020, "EDIT", 0x50810080, 144, 184, 28, 14, ""),
    (-1, "STATIC", 0x50020000, 12, 188, 60, 8, "動画生成時ﾊﾟﾗﾒｰﾀ"),
    (-1, "STATIC", 0x50020000, 112, 188, 28, 8, "ﾌﾚｰﾑ /"),
    (-1, "STATIC", 0x50020000, 176, 188, 16, 8, "秒"),
    (1016, "EDIT", 0x50810080, 80, 164, 40, 14, ""),
    (-1, "STATIC", 0x50020000, 12, 168, 60, 8, "動画キャプチャ間隔"),
    (-1, "STATIC", 0x50020000, 124, 168, 60, 8, "ミリ秒"),
]
# The three appended ones: (identifier, class, style, text); placed freely.
NOISE_CONTROLS = [
    (-1, "STATIC", 0x50020000, "ノイズ許容"),
    (1021, "EDIT", 0x50810080, ""),
    (-1, "STATIC", 0x50020000, "(0-255)"),
]
DETECTION_GROUP = 15  # index of the group box "画像に変化があった場合の静止画像保存機能"
CONTROL_LINE = re.compile(r'^\s*CONTROL\s+(L?"(?:[^"\\]|\\.)*")\s*,\s*(\d+)\s*,\s*"(\w+)"\s*,'
                          r'\s*(0x[0-9a-fA-F]+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)')


def rc_text(literal):
    """The text of a string literal as windres writes it (L"\\x30ce..." or "...")."""
    body = literal[2:-1] if literal.startswith("L") else literal[1:-1]
    return re.sub(r'\\x([0-9a-fA-F]{4})|\\(.)',
                  lambda m: chr(int(m.group(1), 16)) if m.group(1) else m.group(2), body)


def config_controls():
    rc = subprocess.run([WINDRES, "-i", EXE, "-O", "rc"], stdout=subprocess.PIPE, check=True,
                        stderr=subprocess.DEVNULL).stdout.decode("ascii")
    dialog = re.search(r'^"CONFIG" DIALOG.*?^BEGIN$(.*?)^END$', rc, re.M | re.S)
    controls = []
    for line in dialog.group(1).splitlines():
        m = CONTROL_LINE.match(line)
        if m:
            ident = int(m.group(2))
            controls.append((-1 if ident == 65535 else ident, m.group(3), int(m.group(4), 16),
                             *(int(m.group(i)) for i in range(5, 9)), rc_text(m.group(1))))
    return controls


def overlap(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah


def inside(inner, outer):
    ix, iy, iw, ih = inner
    ox, oy, ow, oh = outer
    return ox <= ix and oy <= iy and ix + iw <= ox + ow and iy + ih <= oy + oh


class SettingsTemplateTest(unittest.TestCase):
    def test_noise_level_controls_are_appended_inside_their_group_and_overlap_nothing(self):
        controls = config_controls()
        self.assertEqual(len(FIRST_25) + len(NOISE_CONTROLS), len(controls))
        with self.subTest("the first 25 keep order, identifiers, places, styles and texts"):
            self.assertEqual(FIRST_25, controls[:25])
        added = controls[25:]
        with self.subTest("the three new ones"):
            self.assertEqual(NOISE_CONTROLS, [(c[0], c[1], c[2], c[7]) for c in added])
        group = FIRST_25[DETECTION_GROUP][3:7]
        for i, control in enumerate(added):
            rect = control[3:7]
            with self.subTest(control=control[7] or control[0]):
                self.assertTrue(inside(rect, group), rect)
                others = [c for j, c in enumerate(controls) if j not in (DETECTION_GROUP, 25 + i)]
                self.assertEqual([], [c for c in others if overlap(rect, c[3:7])])
        with self.subTest("the tab order only grows at its end"):
            stops = [c[0] for c in controls if c[2] & TABSTOP]
            self.assertEqual([1011, 1012, 1014, 1015, 1, 2, 1013, 1019, 1020, 1016, 1021], stops)


if __name__ == "__main__":
    unittest.main()
