"""The live picture end to end: download, decode, show, fit, snapshot and quit,
with the real torvanel.exe against the camera server on 127.0.0.1."""
import contextlib
import os
import subprocess
import time
import unittest

from harness import ToolTestCase, colour_close, parse_ppm, wait_until

ITEM_SAVE = 4
ITEM_EXIT = 7

RED = (208, 16, 16)
BLUE = (16, 48, 208)


def make_halves(world, name="a.jpg", width=320, height=240):
    """A picture whose left half is red and right half blue, so a shifted,
    mirrored or partial copy shows."""
    half = "%dx%d" % (width // 2, height)
    return world.picture(name, ["-size", half, "xc:#d01010", "-size", half, "xc:#1030d0",
                                "+append", "-quality", "95"])


def halves_points(width, height):
    """(x, y, colour) inside each half, corners included."""
    return [(2, 2, RED), (width // 4, height // 2, RED), (2, height - 3, RED),
            (width - 3, 2, BLUE), (3 * width // 4, height // 2, BLUE),
            (width - 3, height - 3, BLUE)]


class LiveTest(ToolTestCase):
    def wrong_pixels(self, world, width, height):
        x, y, _, _ = world.client_rect()
        face = world.grab().crop(x, y, width, height)
        return ["(%d, %d) shows %s" % (px, py, face.pixel(px, py))
                for px, py, colour in halves_points(width, height)
                if not colour_close(colour, face.pixel(px, py))]

    def assert_shows_halves(self, world, width, height, settle=0.0):
        """The client area shows the picture; settle allows the paint that
        follows a resize to arrive first."""
        if settle:
            with contextlib.suppress(AssertionError):
                wait_until(lambda: not self.wrong_pixels(world, width, height), settle,
                           interval=0.2)
        self.assertEqual([], self.wrong_pixels(world, width, height))

    def wait_client_size(self, world, size, timeout=15):
        wait_until(lambda: (world.client_rect() or (0, 0, 0, 0))[2:] == size, timeout,
                   what="a client area of %s" % (size,))

    def test_picture_is_shown_fitted_downloaded_and_saved(self):
        world = self.make_world()
        served = make_halves(world)
        world.set_settings(url=world.url("file/a.jpg"), WaitTime=200)
        tool = world.start_tool()
        world.wait_window()

        with self.subTest("the client area takes the picture's size and colours"):
            self.wait_client_size(world, (320, 240))
            cx, cy, caption = world.metrics()
            self.assertEqual((320 + 2 * cx, 240 + caption + 2 * cy), world.outer_rect()[2:])
            self.assert_shows_halves(world, 320, 240, settle=3)

        with self.subTest("work.jpg is the served body byte for byte"):
            with open(served, "rb") as f:
                body = f.read()
            with open(os.path.join(world.work, "work.jpg"), "rb") as f:
                self.assertEqual(body, f.read())

        with self.subTest("the camera sees the user agent and Accept */*"):
            headers = {k.lower(): v for k, v in world.requests()[0]["headers"]}
            self.assertEqual("torvanel", headers.get("user-agent"))
            self.assertEqual("*/*", headers.get("accept"))
            self.assertEqual("/file/a.jpg", world.requests()[0]["path"])

        with self.subTest("the pause between passes is WaitTime"):
            n = len(world.requests())
            time.sleep(2)
            # 200 ms apart: about ten in two seconds, never a flood.
            self.assertTrue(4 <= len(world.requests()) - n <= 12, len(world.requests()) - n)

        with self.subTest("saving writes one JPEG of the client area"):
            world.menu(ITEM_SAVE)
            names = wait_until(lambda: world.work_files("jpg"), 10, what="a saved picture")
            time.sleep(0.5)
            names = world.work_files("jpg")
            self.assertEqual(1, len(names), names)
            self.assertRegex(names[0], r"^save\d{12}\.jpg$")
            saved = os.path.join(world.work, "jpg", names[0])
            kind = subprocess.run(["identify", "-format", "%m %w %h", saved],
                                  stdout=subprocess.PIPE, check=True).stdout.decode()
            self.assertEqual("JPEG 320 240", kind)
            ppm = subprocess.run(["convert", saved, "-depth", "8", "ppm:-"],
                                 stdout=subprocess.PIPE, check=True).stdout
            image = parse_ppm(ppm)
            for px, py, colour in halves_points(320, 240):
                self.assertTrue(colour_close(colour, image.pixel(px, py)),
                                "(%d, %d) saved as %s" % (px, py, image.pixel(px, py)))

        with self.subTest("quit ends with exit code 0"):
            world.menu(ITEM_EXIT)
            self.assertEqual(0, world.wait_exit(tool, 10))

    def test_empty_url_fetches_nothing(self):
        world = self.make_world()
        old = os.path.join(world.work, "work.jpg")
        with open(old, "wb") as f:
            f.write(b"left by an earlier run")
        stamp = os.stat(old).st_mtime_ns
        world.start_camera()
        world.set_settings(url="", WaitTime=0)
        tool = world.start_tool()
        window = world.wait_window()
        first = world.client_rect()
        time.sleep(2.5)
        self.assertIsNone(tool.poll())
        self.assertEqual("Torvanel", world.caption(window))
        self.assertEqual([], world.requests())
        with open(old, "rb") as f:
            self.assertEqual(b"left by an earlier run", f.read())
        self.assertEqual(stamp, os.stat(old).st_mtime_ns)
        # Still the template's small strip, never fitted.
        self.assertEqual(first[2:], world.client_rect()[2:])
        self.assertTrue(120 <= first[2] <= 260 and 30 <= first[3] <= 90, first)

    def test_refused_first_pass_shows_the_earlier_work_jpg_fitted(self):
        world = self.make_world()
        earlier = make_halves(world, "earlier.jpg", 200, 150)
        with open(earlier, "rb") as f:
            body = f.read()
        with open(os.path.join(world.work, "work.jpg"), "wb") as f:
            f.write(body)
        world.set_settings(url="http://127.0.0.1:1/live.jpg", WaitTime=300)
        tool = world.start_tool()
        world.wait_window()
        self.wait_client_size(world, (200, 150))
        self.assert_shows_halves(world, 200, 150, settle=3)
        time.sleep(1)
        with open(os.path.join(world.work, "work.jpg"), "rb") as f:
            self.assertEqual(body, f.read())
        self.assertIsNone(tool.poll())

    def test_save_without_jpg_folder_writes_nothing_and_runs_on(self):
        world = self.make_world(jpg=False)
        make_halves(world)
        world.set_settings(url=world.url("file/a.jpg"), WaitTime=200)
        tool = world.start_tool()
        world.wait_window()
        self.wait_client_size(world, (320, 240))
        world.menu(ITEM_SAVE)
        time.sleep(1.5)
        self.assertIsNone(tool.poll())
        self.assertFalse(os.path.exists(os.path.join(world.work, "jpg")))
        # Nothing else appeared beside the working file (and its download under way).
        self.assertEqual([], [n for n in os.listdir(world.work)
                              if n not in ("avi", "work.jpg", "work.jpg.part")])
        n = len(world.requests())
        wait_until(lambda: len(world.requests()) > n + 2, 10, what="passes after the save")
        self.assert_shows_halves(world, 320, 240, settle=3)

    def test_quit_during_a_stalled_download_ends_within_2_s(self):
        world = self.make_world()
        world.set_settings(url=world.url("stall"), WaitTime=0)
        tool = world.start_tool()
        world.wait_window()
        wait_until(lambda: world.requests(), 15, what="the stalled request")
        time.sleep(0.5)
        world.menu(ITEM_EXIT)
        started = time.monotonic()
        self.assertEqual(0, world.wait_exit(tool, 10))
        self.assertLess(time.monotonic() - started, 2.0)

    def test_flaky_camera_never_wipes_the_picture(self):
        world = self.make_world()
        make_halves(world)
        # Round after round; the very first answer is no picture, so the window
        # must wait for the first pass that brings one before it fits.
        route = "seq/garbage,file:a.jpg,404,cut:a.jpg,garbage,empty"
        # A negative pause counts as none.
        world.set_settings(url=world.url(route), WaitTime=-1000)
        tool = world.start_tool()
        world.wait_window()
        self.wait_client_size(world, (320, 240))
        self.assert_shows_halves(world, 320, 240, settle=3)

        # From here on nothing may take the picture away, not for one grab.
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            self.assertEqual((320, 240), world.client_rect()[2:])
            self.assert_shows_halves(world, 320, 240)
            self.assertIsNone(tool.poll())
            time.sleep(0.2)
        # Without pauses the rounds follow each other: many in five seconds.
        self.assertGreater(len(world.requests()), 30)
        world.menu(ITEM_EXIT)
        self.assertEqual(0, world.wait_exit(tool, 10))

if __name__ == "__main__":
    unittest.main()
