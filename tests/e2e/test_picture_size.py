"""Pictures of today's cameras end to end: an HD picture shown and saved
whole, detection over all of it, a window that follows the camera's size and
never outgrows the screen."""
import os
import subprocess
import time
import unittest

from harness import ToolTestCase, colour_close, parse_ppm, wait_until

ITEM_SAVE = 4

RED = (208, 16, 16)
BLUE = (16, 48, 208)
GREEN = (16, 160, 48)
WHITE = (240, 240, 240)


def make_quadrants(world, name, width, height, bottom_right=WHITE):
    """Red and blue above, green and a chosen colour below, so a shifted or
    partial copy shows."""
    w, h = width // 2, height // 2
    hexes = ["#%02x%02x%02x" % c for c in (RED, BLUE, GREEN, bottom_right)]
    return world.picture(name, [
        "(", "-size", "%dx%d" % (w, h), "xc:" + hexes[0], "xc:" + hexes[1], "+append", ")",
        "(", "-size", "%dx%d" % (w, h), "xc:" + hexes[2], "xc:" + hexes[3], "+append", ")",
        "-append", "-quality", "95"])


def quadrant_points(width, height, bottom_right=WHITE):
    """Points inside each quadrant, the picture's far corner among them."""
    return [(2, 2, RED), (width - 3, 2, BLUE), (2, height - 3, GREEN),
            (width - 3, height - 3, bottom_right), (3 * width // 4, 3 * height // 4, bottom_right)]


class PictureSizeTest(ToolTestCase):
    def client_size(self, world):
        return (world.client_rect() or (0, 0, 0, 0))[2:]

    def start_solid(self, size, colour, wait_time, quality=95):
        """A world whose camera sends one solid picture of size; (world, tool)."""
        world = self.make_world(avi=False, jpg=False)
        world.picture("solid.jpg", ["-size", size, "xc:" + colour, "-quality", str(quality)])
        world.set_settings(url=world.url("file/solid.jpg"), WaitTime=wait_time)
        tool = world.start_tool()
        world.wait_window()
        return world, tool

    def wait_client_size(self, world, size, timeout=20):
        wait_until(lambda: self.client_size(world) == size, timeout,
                   what="a client area of %s" % (size,))

    def test_hd_picture_is_shown_and_saved_whole(self):
        world = self.make_world(screen="2560x1600")
        make_quadrants(world, "hd.jpg", 1920, 1080)
        world.set_settings(url=world.url("file/hd.jpg"), WaitTime=300)
        tool = world.start_tool()
        world.wait_window()
        self.wait_client_size(world, (1920, 1080))

        def wrong_on_screen():
            x, y, _, _ = world.client_rect()
            face = world.grab().crop(x, y, 1920, 1080)
            return [(px, py, face.pixel(px, py)) for px, py, c in quadrant_points(1920, 1080)
                    if not colour_close(c, face.pixel(px, py))]
        # The paint after the resize may come a moment later.
        try:
            wait_until(lambda: not wrong_on_screen(), 5, interval=0.3)
        except AssertionError:
            pass
        self.assertEqual([], wrong_on_screen())

        world.menu(ITEM_SAVE)
        names = wait_until(lambda: world.work_files("jpg"), 10, what="a saved picture")
        saved = os.path.join(world.work, "jpg", names[0])
        wait_until(lambda: subprocess.run(["identify", saved], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL).returncode == 0, 5)
        ppm = subprocess.run(["convert", saved, "-depth", "8", "ppm:-"], stdout=subprocess.PIPE,
                             check=True).stdout
        image = parse_ppm(ppm)
        self.assertEqual((1920, 1080), (image.width, image.height))
        for px, py, colour in quadrant_points(1920, 1080):
            self.assertTrue(colour_close(colour, image.pixel(px, py)),
                            "(%d, %d) saved as %s" % (px, py, image.pixel(px, py)))
        self.assertIsNone(tool.poll())

    def test_change_in_the_bottom_right_quarter_of_an_hd_picture_fires(self):
        world = self.make_world(avi=False)
        make_quadrants(world, "a.jpg", 1920, 1080, WHITE)
        make_quadrants(world, "b.jpg", 1920, 1080, (0, 0, 0))
        # A quarter of the picture changes; 20 per cent is enough.
        world.set_settings(url=world.url("seq/file:a.jpg,file:b.jpg"), WaitTime=700,
                           TimerSec=1, CheckFlg=1, ErrorRate=20)
        tool = world.start_tool()
        world.wait_window()
        names = wait_until(lambda: [n for n in world.work_files("jpg")
                                    if n.startswith("check") and n.endswith(".jpg")],
                           20, what="a check picture")
        self.assertRegex(names[0], r"^check\d{12}\.jpg$")
        self.assertIsNone(tool.poll())

    def test_window_follows_every_change_of_the_camera_size(self):
        world = self.make_world(avi=False, jpg=False)
        world.picture("small.jpg", ["-size", "320x240", "xc:#d01010", "-quality", "95"])
        world.picture("large.jpg", ["-size", "640x480", "xc:#1030d0", "-quality", "95"])
        route = "seq/" + ",".join(["file:small.jpg"] * 6 + ["file:large.jpg"] * 6)
        world.set_settings(url=world.url(route), WaitTime=400)
        tool = world.start_tool()
        world.wait_window()
        seen = []
        deadline = time.monotonic() + 25
        while time.monotonic() < deadline and seen[-3:] != [(320, 240), (640, 480), (320, 240)]:
            size = self.client_size(world)
            if size in ((320, 240), (640, 480)) and (not seen or seen[-1] != size):
                seen.append(size)
            time.sleep(0.1)
        self.assertEqual([(320, 240), (640, 480), (320, 240)], seen[-3:], seen)
        self.assertIsNone(tool.poll())

    def test_a_window_the_user_resized_stays_while_the_size_stays(self):
        world, tool = self.start_solid("320x240", "#d01010", 200)
        self.wait_client_size(world, (320, 240))
        world.resize(500, 400)
        n = len(world.requests())
        wait_until(lambda: len(world.requests()) > n + 5, 15, what="passes after the resize")
        self.assertEqual((500, 400), world.outer_rect()[2:])
        self.assertIsNone(tool.poll())

    def test_picture_larger_than_the_screen_gives_a_window_inside_it(self):
        world, tool = self.start_solid("3840x2160", "#10a030", 500, quality=80)
        # The largest window that fits the 1280 x 1024 screen, placed on it.
        wait_until(lambda: (world.outer_rect() or (0, 0, 0, 0))[2:] == (1280, 1024), 30,
                   what="a window as large as the screen")
        x, y, w, h = world.outer_rect()
        self.assertTrue(x >= 0 and y >= 0 and x + w <= 1280 and y + h <= 1024, (x, y, w, h))
        cx, cy, caption = world.metrics()
        self.assertEqual((1280 - 2 * cx, 1024 - caption - 2 * cy), self.client_size(world))
        self.assertIsNone(tool.poll())


if __name__ == "__main__":
    unittest.main()
