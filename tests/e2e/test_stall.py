"""Cameras that stall, drip or crawl, end to end: a download without progress
is given up after 10 s and one that has not finished after 60 s too, and then
the camera is asked again, while a slow but steady picture is never cut. These
take as long as the bounds they check."""
import os
import time
import unittest

from harness import ToolTestCase, is_jpeg, read_bytes, wait_until

ITEM_EXIT = 7



class StallTest(ToolTestCase):
    def wait_caption(self, world, window, check, timeout, what):
        return wait_until(lambda: (lambda c: c if c is not None and check(c) else None)(
            world.caption(window)), timeout, interval=0.2, what=what)

    def requests_to(self, world, fragment, after=0.0):
        return [r for r in world.requests() if fragment in r["path"] and r["time"] > after]

    def test_stalled_camera_is_given_up_and_asked_again(self):
        world = self.make_world()
        work = os.path.join(world.work, "work.jpg")
        world.set_settings(url=world.url("switch/cam"), WaitTime=200)
        tool = world.start_tool()
        window = world.wait_window()
        wait_until(lambda: os.path.exists(work) and is_jpeg(work), 20, what="a picture")

        stalled = world.set_camera("cam", "stall")
        wait_until(lambda: self.requests_to(world, "/switch/", stalled), 10,
                   what="a request to the stalled camera")
        first = self.requests_to(world, "/switch/", stalled)[0]["time"]
        # Each pass loads "work.jpg" anew from disk, so it is steady from here on.
        time.sleep(0.5)
        kept = read_bytes(work)
        stamp = os.stat(work).st_mtime_ns
        caption = self.wait_caption(
            world, window, lambda c: c.startswith("Torvanel - 応答がありません ("),
            max(1.0, first + 15 - time.time()), "応答がありません within 15 s of the stall")
        self.assertRegex(caption, r"^Torvanel - 応答がありません \(\d\d:\d\d:\d\d の画像\)$")

        time.sleep(max(0.0, stalled + 30 - time.time()))
        self.assertEqual(kept, read_bytes(work))
        self.assertEqual(stamp, os.stat(work).st_mtime_ns)
        asked = [r["time"] for r in self.requests_to(world, "/switch/", stalled)]
        # Given up after 10 s and asked again, each time.
        self.assertGreaterEqual(len(asked), 2, asked)
        for a, b in zip(asked, asked[1:]):
            self.assertGreater(b - a, 9, asked)

        answering = world.set_camera("cam", "live")
        wait_until(lambda: read_bytes(work) != kept and is_jpeg(work), 15,
                   what="a new picture within 15 s of the camera answering again")
        self.wait_caption(world, window, lambda c: c == "Torvanel", 5, "Torvanel again")
        self.assertLess(time.time() - answering, 20)

        world.menu(ITEM_EXIT)
        self.assertEqual(0, world.wait_exit(tool, 10))

    def test_dripping_camera_is_given_up_after_60_s_and_asked_again(self):
        world = self.make_world()
        world.picture("a.jpg", ["-size", "320x240", "plasma:fractal", "-quality", "90"])
        work = os.path.join(world.work, "work.jpg")
        # A picture, then one that comes a byte every 2 s, then the picture again.
        route = "seq/file:a.jpg,drip:2:file:a.jpg,file:a.jpg"
        world.set_settings(url=world.url(route), WaitTime=200)
        tool = world.start_tool()
        window = world.wait_window()
        wait_until(lambda: len(world.requests()) >= 2, 20, what="the dripping request")
        dripping = world.requests()[1]["time"]
        kept = read_bytes(work)
        stamp = os.stat(work).st_mtime_ns

        self.wait_caption(world, window, lambda c: c.startswith("Torvanel - 応答がありません ("),
                          max(1.0, dripping + 15 - time.time()), "応答がありません")
        # Untouched for as long as the drip lasts (the pass after it rewrites
        # the same picture).
        deadline = time.time() + 90
        while time.time() < deadline:
            seen = os.stat(work).st_mtime_ns, read_bytes(work)
            if len(world.requests()) >= 3:
                break  # seen may already be the next pass's
            self.assertEqual((stamp, kept), seen)
            time.sleep(0.5)
        self.assertGreaterEqual(len(world.requests()), 3, "no request after the drip")
        retried = world.requests()[2]["time"]
        # Bytes kept coming, so the 10 s bound never struck; the 60 s bound did.
        self.assertGreater(retried - dripping, 55)
        self.assertLess(retried - dripping, 75)
        self.wait_caption(world, window, lambda c: c == "Torvanel", 10, "Torvanel again")

        world.menu(ITEM_EXIT)
        self.assertEqual(0, world.wait_exit(tool, 10))

    def test_slow_steady_picture_is_shown_whole(self):
        world = self.make_world()
        big = world.picture("big.jpg", ["-size", "800x600", "plasma:fractal", "+noise", "Random",
                                        "-quality", "95"])
        body = read_bytes(big)
        self.assertGreater(len(body), 100000)  # a few kB a second over 40 s
        work = os.path.join(world.work, "work.jpg")
        world.set_settings(url=world.url("seq/slow:40:file:big.jpg,file:big.jpg"), WaitTime=200)
        tool = world.start_tool()
        window = world.wait_window()
        wait_until(lambda: world.requests(), 20, what="the request")
        started = world.requests()[0]["time"]
        wait_until(lambda: os.path.exists(work), 58, what="the slow picture")
        self.assertGreater(time.time() - started, 35)
        self.assertEqual(body, read_bytes(work))
        later = [r["time"] - started for r in world.requests()[1:]]
        self.assertTrue(all(t > 35 for t in later), "the slow download was cut: %s" % later)
        wait_until(lambda: (world.client_rect() or (0, 0, 0, 0))[2:] == (800, 600), 10,
                   what="the window fitted to the picture")
        self.wait_caption(world, window, lambda c: c == "Torvanel", 10, "Torvanel")

        world.menu(ITEM_EXIT)
        self.assertEqual(0, world.wait_exit(tool, 10))


if __name__ == "__main__":
    unittest.main()
