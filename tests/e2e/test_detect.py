"""Change detection end to end: the real torvanel.exe ticking once a second
against the camera server on 127.0.0.1, judged by the "check" JPEGs it writes.

The timer is armed in the same step that starts the fetch thread, so the
camera's first request marks the start of the tick schedule: the priming tick
comes about 1 s later, the first comparison about 2 s later. Sound cannot be
observed here (no sound device), only files.
"""
import os
import subprocess
import time
import unittest

from harness import MAIN_CAPTION, ToolTestCase, colour_close, wait_until

RED = (255, 0, 0)
BLUE = (0, 0, 255)
PICTURE = (200, 150)

# The settings the help page recommends for a real camera.
RECOMMENDED = dict(NoiseLevel=16, ErrorRate=2)
# The camera's noisy feeds: a still scene with sensor noise of 2 or 4 grey
# levels, or the same with a dark square of 3 % of the picture crossing it.
STILL_NOISY = "noisy/still-%d.jpg"
MOVING_NOISY = "noisy/moving-4.jpg"

# A check file written before this many seconds after the first request came
# from the priming tick (about 1 s) or from a timer faster than asked.
NOT_BEFORE_S = 1.5
# Ticks at about 2, 3 and 4 s compare; 4.6 s leaves room for the last one.
WATCH_S = 4.6


def make_solid(world, name, colour):
    return world.picture(name, ["-size", "%dx%d" % PICTURE, "xc:rgb(%d,%d,%d)" % colour,
                                "-quality", "95"])


def mean_colour(path):
    out = subprocess.run(["convert", path, "-scale", "1x1!", "-depth", "8", "rgb:-"],
                         stdout=subprocess.PIPE, check=True).stdout
    return tuple(out[:3])


class DetectTest(ToolTestCase):
    def start(self, route, jpg=True, **settings):
        """A world with two solid pictures, the tool started on route with
        detection ticking once a second; returns (world, tool, first request time)."""
        world = self.make_world(jpg=jpg, avi=False)
        make_solid(world, "a.jpg", RED)
        make_solid(world, "b.jpg", BLUE)
        values = dict(url=world.url(route), TimerSec=1, CheckFlg=1, WaitTime=200)
        values.update(settings)
        world.set_settings(**values)
        tool = world.start_tool()
        world.wait_window()
        wait_until(world.requests, 30, what="the first camera request")
        return world, tool, world.requests()[0]["time"]

    def checks(self, world):
        """{name: mtime} of the check pictures written so far."""
        folder = os.path.join(world.work, "jpg")
        return {n: os.stat(os.path.join(folder, n)).st_mtime for n in world.work_files("jpg")
                if n.startswith("check") and n.endswith(".jpg")}

    def watch(self, start, seconds=WATCH_S):
        time.sleep(max(0.0, start + seconds - time.time()))

    @staticmethod
    def comparing_ticks(start, end):
        """Ticks that compared between the first request and end: one a second,
        the first (about 1 s in) only priming."""
        return max(0, int(end - start) - 1)

    def test_changing_camera_fires_after_priming(self):
        # The picture swaps every 1.5 s between solid red and solid blue, so a
        # tick that straddles a swap sees every pixel changed: that reaches even
        # ErrorRate 100 (all pixels, or all but one), and only a full count does.
        world, tool, start = self.start("seq/file:a.jpg,file:b.jpg", WaitTime=1500, ErrorRate=100)
        wait_until(lambda: self.checks(world), 10, what="a check picture")
        first_name, first_time = min(self.checks(world).items(), key=lambda item: item[1])
        self.assertGreaterEqual(first_time - start, NOT_BEFORE_S,
                                "%s came from the priming tick" % first_name)
        path = os.path.join(world.work, "jpg", first_name)
        out = subprocess.run(["identify", "-format", "%m %w %h", path], stdout=subprocess.PIPE,
                             check=True).stdout.decode()
        self.assertEqual("JPEG %d %d" % PICTURE, out)
        colour = mean_colour(path)
        self.assertTrue(colour_close(RED, colour) or colour_close(BLUE, colour), colour)
        self.assertIsNone(tool.poll())

    def test_zero_error_rate_fires_on_every_tick_but_the_priming_one(self):
        # A still camera: count 0 equals threshold 0, which fires. TimerSec 0
        # must tick once a second too, not as fast as the system timer can.
        for timer_sec in (1, 0):
            with self.subTest(TimerSec=timer_sec):
                world, tool, start = self.start("file/a.jpg", ErrorRate=0, TimerSec=timer_sec)
                self.watch(start)
                written = self.checks(world)
                self.assertGreaterEqual(len(written), 2, sorted(written))
                early = [n for n, t in written.items() if t - start < NOT_BEFORE_S]
                self.assertEqual([], early)
                self.assertIsNone(tool.poll())

    def test_no_change_or_detection_off_writes_nothing(self):
        cases = [
            ("a still camera at ErrorRate 30", "file/a.jpg", dict(ErrorRate=30)),
            # ErrorRate 0 would fire on every tick, if the detector ran at all.
            ("CheckFlg 2", "seq/file:a.jpg,file:b.jpg", dict(CheckFlg=2, ErrorRate=0)),
            # No decoded picture: threshold and count both 0, yet no alarm.
            ("a camera down from the start", "404", dict(ErrorRate=0)),
        ]
        for name, route, settings in cases:
            with self.subTest(name):
                world, tool, start = self.start(route, **settings)
                self.watch(start)
                self.assertEqual({}, self.checks(world))
                self.assertIsNone(tool.poll())

    def test_noisy_still_scene_at_the_recommended_settings_writes_nothing_in_30_s(self):
        # Both noise strengths at once, each in a world of its own.
        runs = {sigma: self.start(STILL_NOISY % sigma, **RECOMMENDED) for sigma in (2, 4)}
        self.watch(max(start for _, _, start in runs.values()), 30.5)
        for sigma, (world, tool, start) in runs.items():
            with self.subTest(noise=sigma):
                self.assertEqual({}, self.checks(world))
                # The feed was read all along, not stuck on one picture.
                self.assertGreater(len(world.requests()), 30)
                self.assertIsNone(tool.poll())

    def test_noise_level_0_fires_on_every_tick_and_16_on_most_ticks_of_a_moving_object(self):
        # NoiseLevel 0 is the rule without a level: on the noisy still scene
        # nearly every pixel differs, so each comparing tick fires. At the
        # recommended settings a dark square of 3 % crossing the same kind of
        # scene fires too.
        level_0 = dict(RECOMMENDED, NoiseLevel=0)
        runs = {
            "NoiseLevel 0, still scene": self.start(STILL_NOISY % 4, **level_0),
            "recommended, moving square": self.start(MOVING_NOISY, **RECOMMENDED),
        }
        self.watch(max(start for _, _, start in runs.values()), 10.5)
        end = time.time()
        counts = {}
        for name, (world, tool, start) in runs.items():
            written = self.checks(world)
            early = [n for n, t in written.items() if t - start < NOT_BEFORE_S]
            self.assertEqual([], early, name)
            self.assertIsNone(tool.poll(), name)
            counts[name] = (len(written), self.comparing_ticks(start, end))
        written, ticks = counts["NoiseLevel 0, still scene"]
        # One tick may share its second, and so its file name, with the next.
        self.assertGreaterEqual(written, ticks - 1, counts)
        written, ticks = counts["recommended, moving square"]
        self.assertGreaterEqual(written, 0.6 * ticks, counts)

    def test_missing_jpg_folder_writes_nothing_and_runs_on(self):
        world, tool, start = self.start("file/a.jpg", jpg=False, ErrorRate=0)
        self.watch(start)
        # Only the fetch loop's own work file: no folder made, no picture elsewhere.
        self.assertEqual([], [n for n in os.listdir(world.work) if not n.startswith("work.jpg")])
        seen = len(world.requests())
        wait_until(lambda: len(world.requests()) > seen, 10, what="the fetch loop going on")
        self.assertIsNone(tool.poll())
        self.assertTrue(world.find_windows(MAIN_CAPTION))


if __name__ == "__main__":
    unittest.main()
