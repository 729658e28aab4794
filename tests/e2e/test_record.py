"""Time-lapse movies end to end: the real torvanel.exe records the live picture
through Wine's own compressor dialog, driven with xdotool; ffprobe and ffmpeg
read what it wrote."""
import contextlib
import ctypes
import json
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

from harness import ToolTestCase, colour_close, wait_until

ITEM_START = 2
ITEM_STOP = 3
ITEM_SAVE = 4
ITEM_EXIT = 7
DIALOG = "ビデオ圧縮"
SETTLE_S = 0.3

RED = (208, 16, 16)
BLUE = (16, 48, 208)
GREEN = (16, 160, 48)
WHITE = (240, 240, 240)

# An odd width, so every row of a frame carries padding.
WIDTH, HEIGHT = 322, 242


def make_quadrants(world, name="q.jpg", width=WIDTH, height=HEIGHT):
    """Red and blue above, green and white below: a frame upside down, mirrored
    or shifted shows."""
    w, h = width // 2, height // 2
    return world.picture(name, [
        "(", "-size", "%dx%d" % (w, h), "xc:#d01010", "xc:#1030d0", "+append", ")",
        "(", "-size", "%dx%d" % (w, h), "xc:#10a030", "xc:#f0f0f0", "+append", ")",
        "-append", "-quality", "95"])


def quadrant_points(w=WIDTH, h=HEIGHT):
    return [(2, 2, RED), (w - 3, 2, BLUE), (2, h - 3, GREEN), (w - 3, h - 3, WHITE),
            (w // 4, h // 4, RED), (3 * w // 4, h // 4, BLUE), (w // 4, 3 * h // 4, GREEN),
            (3 * w // 4, 3 * h // 4, WHITE)]


def probe(path):
    """ffprobe's view of a movie: its streams, frames counted by decoding."""
    r = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json",
                        path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if r.returncode != 0:
        return None
    return json.loads(r.stdout)["streams"]


def complete(path):
    """The streams when ffprobe reads the file whole (the stored frame count is
    the decoded one), else None. A file the AVI library has not completed yet
    does not read at all; a stream of no frames has neither count."""
    streams = probe(path)
    if not streams or streams[0].get("nb_frames") != streams[0].get("nb_read_frames"):
        return None
    return streams


def frame_count(stream):
    return int(stream.get("nb_read_frames", 0))


def frames_rgb(path, width, height):
    """Every frame as ffmpeg decodes it, in RGB."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt",
                          "rgb24", "-"], stdout=subprocess.PIPE, check=True, timeout=60).stdout
    size = width * height * 3
    return [raw[i:i + size] for i in range(0, len(raw), size)]


def pixel(frame, width, x, y):
    i = (y * width + x) * 3
    return tuple(frame[i:i + 3])


class FolderWatch:
    """Files created and removed in a folder, as the kernel reports them, so a
    file that lived for a moment is seen too."""
    IN_CREATE, IN_DELETE, IN_NONBLOCK = 0x100, 0x200, 0o4000

    def __init__(self, folder):
        self._libc = ctypes.CDLL("libc.so.6", use_errno=True)
        self._fd = self._libc.inotify_init1(self.IN_NONBLOCK)
        if self._fd < 0 or self._libc.inotify_add_watch(
                self._fd, folder.encode(), self.IN_CREATE | self.IN_DELETE) < 0:
            raise OSError(ctypes.get_errno(), "inotify")
        self.created, self.removed = [], []

    def poll(self):
        while True:
            try:
                data = os.read(self._fd, 65536)
            except BlockingIOError:
                return self
            pos = 0
            while pos + 16 <= len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, pos)
                name = data[pos + 16:pos + 16 + length].rstrip(b"\0").decode()
                (self.created if mask & self.IN_CREATE else self.removed).append(name)
                pos += 16 + length

    def close(self):
        os.close(self._fd)


# How the recorder counts a movie file, as the AVI library lays it out: a
# 2 KiB header area, a chunk of 8 header bytes and the data (odd data padded)
# per frame, and at the close an index of 8 + 16 bytes a frame and 20 bytes of
# tail. A file is closed before the next frame could take it past the limit:
# 16 MiB below 2^31.
FILE_LIMIT = 0x7FFFFFFF - (16 << 20)
HEADER_AREA, CHUNK_HEADER, INDEX_ENTRY, CLOSE_TAIL = 2048, 8, 16, 20


def frames_per_file(frame_bytes):
    per_frame = CHUNK_HEADER + frame_bytes + (frame_bytes & 1) + INDEX_ENTRY
    return (FILE_LIMIT - HEADER_AREA - CHUNK_HEADER - CLOSE_TAIL) // per_frame


def closed_file_bytes(frames, frame_bytes):
    return (HEADER_AREA + frames * (CHUNK_HEADER + frame_bytes + (frame_bytes & 1)) +
            CHUNK_HEADER + INDEX_ENTRY * frames + CLOSE_TAIL)


def probe_errors(path):
    """What ffprobe reports as errors when it reads every packet of the file."""
    r = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_entries",
                        "stream=nb_read_packets", "-of", "json", path],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    return r.stderr.decode(errors="replace").strip() or (None if r.returncode == 0 else "failed")


def first_frame_rgb(path, width, height):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-frames:v", "1", "-f", "rawvideo",
                          "-pix_fmt", "rgb24", "-"], stdout=subprocess.PIPE, check=True,
                         timeout=60).stdout
    return raw[:width * height * 3]


def whole_jpeg(path):
    """True when ImageMagick decodes the file to its end without a warning."""
    r = subprocess.run(["convert", "-regard-warnings", path, "null:"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    return r.returncode == 0


def fill_disk(folder):
    """Writes a file into folder until the disk holds no more."""
    fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        for block in (64 << 10, 1):
            with contextlib.suppress(OSError):
                while os.write(fd, b"\0" * block) > 0:
                    pass
    finally:
        os.close(fd)


class RecordTest(ToolTestCase):
    def small_disk(self, world, megabytes):
        """Mounts a tmpfs of that size as the world's working folder, with its
        "jpg" and "avi" folders. Needs root: skips the test otherwise."""
        if os.geteuid() != 0:
            self.skipTest("mounting a small disk needs root")
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % megabytes, "tmpfs",
                            world.work], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if r.returncode != 0:
            self.skipTest("mounting a tmpfs is not permitted here: %s" % r.stderr.decode().strip())

        def unmount():
            world.close()  # nothing may hold the disk any more
            subprocess.run(["umount", world.work], check=True, timeout=30)
        self.addCleanup(unmount)
        for folder in ("jpg", "avi"):
            os.makedirs(os.path.join(world.work, folder))

    def stallable_avi_folder(self, world):
        """Mounts a small ext4 disk as the world's "avi" folder, whose writes can
        be held (fsfreeze) for as long as a test wants a recorder to take to
        finish. Needs root: skips the test otherwise. Returns (hold, release)."""
        if os.geteuid() != 0:
            self.skipTest("mounting a disk needs root")
        avi = os.path.join(world.work, "avi")
        image = os.path.join(world.root, "avi.img")
        with open(image, "wb") as f:
            f.truncate(128 << 20)
        made = subprocess.run(["mkfs.ext4", "-q", "-F", image], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        if made.returncode != 0:
            self.skipTest("no ext4 disk image could be made")
        r = subprocess.run(["mount", "-o", "loop", image, avi], stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
        if r.returncode != 0:
            self.skipTest("mounting a disk image is not permitted here: %s"
                          % r.stderr.decode().strip())
        held = []

        def hold():
            subprocess.run(["fsfreeze", "-f", avi], check=True, timeout=30)
            held.append(True)

        def release():
            if held:
                subprocess.run(["fsfreeze", "-u", avi], check=True, timeout=30)
                held.clear()

        def unmount():
            # A thread held in a write cannot even be killed until the release.
            release()
            world.close()
            subprocess.run(["umount", avi], check=True, timeout=30)
        self.addCleanup(unmount)
        os.rmdir(os.path.join(avi, "lost+found"))
        return hold, release

    def live_world(self, size=(WIDTH, HEIGHT), **settings):
        world = self.make_world(**settings.pop("world", {}))
        make_quadrants(world, width=size[0], height=size[1])
        world.set_settings(url=world.url("file/q.jpg"), WaitTime=200, **settings)
        tool = world.start_tool()
        window = world.wait_window()
        wait_until(lambda: tuple((world.client_rect() or (0, 0, 0, 0))[2:]) == tuple(size), 20,
                   what="the window fitted to the picture")
        return world, tool, window

    # The dialog opens over the window's top-left corner, so the menu is opened
    # lower down, with the keyboard given back to the main window first.
    def menu(self, world, window, item):
        world.focus(window)
        world.menu(item, cx=10, cy=HEIGHT - 10)

    def open_dialog(self, world, window):
        before = set(world.find_windows(DIALOG))
        self.menu(world, window, ITEM_START)
        dialog = wait_until(lambda: [d for d in world.find_windows(DIALOG) if d not in before],
                            10, what="the compressor dialog")[0]
        # Just after a dialog appears, keys meant for a menu of the main window
        # can go astray; a moment later they do not.
        time.sleep(SETTLE_S)
        return dialog

    def answer(self, world, dialog, *keys):
        """Presses keys in the dialog. Once the main window has had the keyboard,
        focus alone no longer brings it back to the dialog: it is raised and
        clicked on a blank spot too. A press that was still lost is repeated."""
        for _ in range(3):
            # Two dialogs lie on top of each other; a press may close the other one.
            if dialog not in world.find_windows(DIALOG):
                return
            world.x("windowraise", dialog, check=False)
            time.sleep(0.2)
            world.focus(dialog)
            x, y, _, h = world.geometry(dialog)
            world.x("mousemove", x + 20, y + h - 15, "click", "1")
            time.sleep(0.2)
            world.x("key", "--delay", "60", *keys)
            try:
                wait_until(lambda: dialog not in world.find_windows(DIALOG), 3,
                           what="the dialog to close")
                return
            except AssertionError:
                pass
        raise AssertionError("the dialog did not take %s" % (keys,))

    def assert_shows_picture(self, world):
        x, y, _, _ = world.client_rect()
        face = world.grab().crop(x, y, WIDTH, HEIGHT)
        for px, py, colour in quadrant_points():
            self.assertTrue(colour_close(colour, face.pixel(px, py)), (px, py, face.pixel(px, py)))

    def assert_movie(self, path, frames=None, rate=None):
        streams = wait_until(lambda: complete(path), 10, what="a complete %s" % path)
        self.assertEqual(1, len(streams), "one stream, no audio")
        s = streams[0]
        self.assertEqual(("video", "rawvideo", "bgr24"),
                         (s["codec_type"], s["codec_name"], s["pix_fmt"]))
        self.assertEqual((WIDTH, HEIGHT), (s["width"], s["height"]))
        if rate:
            self.assertEqual(rate, s["r_frame_rate"])
        if frames is not None:
            self.assertEqual(frames, frame_count(s))
        return frame_count(s)

    def assert_frames_show_picture(self, path):
        frames = frames_rgb(path, WIDTH, HEIGHT)
        self.assertTrue(frames)
        for n, frame in enumerate(frames):
            for x, y, colour in quadrant_points():
                self.assertTrue(colour_close(colour, pixel(frame, WIDTH, x, y)),
                                "frame %d at (%d, %d): %s" % (n, x, y, pixel(frame, WIDTH, x, y)))

    def test_record_cancel_stop_in_dialog_and_a_rejecting_compressor(self):
        world, tool, window = self.live_world(CaptureTime=250, Frame=3, PerSec=2)
        avi = os.path.join(world.work, "avi")
        watch = FolderWatch(avi)
        self.addCleanup(watch.close)

        with self.subTest("a recording holds one frame per pass, as shown, at Frame/PerSec"):
            started = time.time()
            dialog = self.open_dialog(world, window)
            outer_start = time.monotonic()
            self.answer(world, dialog, "Return")
            inner_start = time.monotonic()
            time.sleep(2)
            inner = time.monotonic() - inner_start
            self.menu(world, window, ITEM_STOP)
            outer = time.monotonic() - outer_start
            names = world.work_files("avi")
            self.assertEqual(1, len(names), names)
            self.assertRegex(names[0], r"^\d{12}\.avi$")
            stamp = time.mktime(time.strptime("20" + names[0][:12], "%Y%m%d%H%M%S"))
            self.assertLess(abs(stamp - started), 3, "named by the start time")
            path = os.path.join(avi, names[0])
            count = self.assert_movie(path, rate="3/2")
            # A pass is one frame and a pause of 250 ms; the set-up and a frame
            # take a little more.
            self.assertTrue(int(inner / 0.4) <= count <= 1 + int(outer / 0.25),
                            (count, inner, outer))
            self.assert_frames_show_picture(path)
            first = names[0]

        with self.subTest("cancel: no file, and the live picture goes on"):
            watch.poll().created.clear()
            dialog = self.open_dialog(world, window)
            self.answer(world, dialog, "Escape")
            asked = len(world.requests())
            time.sleep(1)
            self.assertEqual([first], world.work_files("avi"))
            self.assertEqual([], watch.poll().created, "no file, not even for a moment")
            self.assertGreater(len(world.requests()), asked)
            self.assertIsNone(tool.poll())
            self.assert_shows_picture(world)

        with self.subTest("stop while the dialog is open, then accept: a stream and no frame"):
            dialog = self.open_dialog(world, window)
            self.menu(world, window, ITEM_STOP)
            self.answer(world, dialog, "Return")
            made = wait_until(lambda: [n for n in world.work_files("avi") if n != first], 10,
                              what="the second movie")
            self.assertEqual(1, len(made), made)
            self.assert_movie(os.path.join(avi, made[0]), frames=0, rate="3/2")
            done = world.work_files("avi")

        with self.subTest("a compressor that takes no 24-bit frames leaves no file"):
            watch.poll().created.clear()
            watch.removed.clear()
            dialog = self.open_dialog(world, window)
            # One down from the full-frames choice: another of Wine's compressors.
            self.answer(world, dialog, "Down", "Return")
            wait_until(lambda: watch.poll().removed, 10, what="the refused file to go")
            self.assertEqual(1, len(watch.created), watch.created)
            self.assertEqual(watch.created, watch.removed)
            self.assertEqual(done, world.work_files("avi"))
            time.sleep(0.5)
            self.assertIsNone(tool.poll())
            self.assert_shows_picture(world)

    def test_two_starts_in_one_second_write_two_files_and_one_stop_ends_both(self):
        # A pause of 24 days, and a rate no player could use.
        world, tool, window = self.live_world(CaptureTime=0x7FFFFFFF, Frame=0, PerSec=-1)
        x, y, _, _ = world.client_rect()
        avi = os.path.join(world.work, "avi")

        def start():
            # One quick xdotool run, so both starts fit in one second.
            world.focus(window)
            world.x("mousemove", x + 10, y + HEIGHT - 10, "click", "3", "sleep", "0.08", "key",
                    "--delay", "12", *(["Down"] * ITEM_START + ["Return"]))

        # Both starts right after a second begins; a busy machine may still push
        # the second start into the next second, so a few tries are allowed.
        for _ in range(3):
            wait_until(lambda: time.time() % 1 < 0.05, 2, interval=0.005, what="a new second")
            start()
            wait_until(lambda: world.find_windows(DIALOG), 5, interval=0.01,
                       what="the first dialog")
            time.sleep(0.1)
            start()
            dialogs = wait_until(lambda: len(world.find_windows(DIALOG)) == 2 and
                                 world.find_windows(DIALOG), 10, what="two dialogs")
            for dialog in dialogs:
                self.answer(world, dialog, "Return")
            names = wait_until(lambda: len(world.work_files("avi")) == 2 and
                               world.work_files("avi"), 10, what="two movies")
            if names[0][:12] == names[1][:12]:
                break
            self.menu(world, window, ITEM_STOP)
            for name in names:
                wait_until(lambda: complete(os.path.join(avi, name)), 10, what="a complete movie")
                os.remove(os.path.join(avi, name))
        stamp = names[0][:12]
        self.assertEqual([stamp + ".avi", stamp + "_2.avi"], names)

        time.sleep(1)
        self.menu(world, window, ITEM_STOP)
        for name in names:
            with self.subTest(name):
                # Each took its first frame and waits in its pause; only the end
                # of the recording completes the file.
                self.assert_movie(os.path.join(avi, name), frames=1, rate="5/1")
        self.assertIsNone(tool.poll())

    def test_quit_or_close_while_recording_completes_the_file(self):
        def quit_from_menu(world, window):
            self.menu(world, window, ITEM_EXIT)

        def close_with_alt_f4(world, window):
            world.keys(window, "alt+F4")

        cases = [
            # No pause at all: frames follow each other up to the very end.
            ("quit from the menu while frames follow", -1, True, quit_from_menu),
            # The quit ends a pause of 24 days at once.
            ("Alt+F4 during a long pause", 0x7FFFFFFF, True, close_with_alt_f4),
            # A recorder still choosing has no file yet: nothing to wait for.
            ("quit while the dialog is open", 500, False, quit_from_menu),
        ]
        for what, capture_time, accept, end in cases:
            with self.subTest(what):
                world, tool, window = self.live_world(CaptureTime=capture_time)
                dialog = self.open_dialog(world, window)
                if accept:
                    self.answer(world, dialog, "Return")
                time.sleep(1)
                end(world, window)
                self.assertEqual(0, world.wait_exit(tool, 10))
                names = world.work_files("avi")
                if not accept:
                    self.assertEqual([], names)
                    world.close()
                    continue
                self.assertEqual(1, len(names), names)
                path = os.path.join(world.work, "avi", names[0])
                streams = complete(path)
                self.assertIsNotNone(streams, "ffprobe reads every frame the file counts")
                count = frame_count(streams[0])
                if capture_time < 0:
                    # A negative pause is no pause: far more than one frame a second.
                    self.assertGreater(count, 5)
                else:
                    self.assertEqual(1, count)
                last = frames_rgb(path, WIDTH, HEIGHT)[-1]
                for x, y, colour in quadrant_points():
                    self.assertTrue(colour_close(colour, pixel(last, WIDTH, x, y)), (x, y))
                world.close()

    def test_a_recording_goes_on_in_a_new_file_before_2_gib(self):
        size = (1024, 768)
        frame_bytes = size[0] * 3 * size[1]
        per_file = frames_per_file(frame_bytes)
        # A little past the first split; each file is removed once checked.
        wanted = FILE_LIMIT + 64 * frame_bytes
        # The world's folders go below the temporary directory.
        free = shutil.disk_usage(tempfile.gettempdir()).free
        if free < wanted + (1 << 30):
            self.skipTest("%.1f GB free where the test writes; it needs %.1f GB"
                          % (free / 1e9, (wanted + (1 << 30)) / 1e9))

        world, tool, window = self.live_world(size=size, CaptureTime=0)
        avi = os.path.join(world.work, "avi")
        started = time.time()
        dialog = self.open_dialog(world, window)
        self.answer(world, dialog, "Return")

        def written():
            total = 0
            for name in world.work_files("avi"):
                with contextlib.suppress(OSError):
                    total += os.path.getsize(os.path.join(avi, name))
            return total >= wanted and len(world.work_files("avi")) >= 2

        # About 10 s here: a frame of 2.4 MB every few milliseconds.
        wait_until(written, 240, interval=0.5, what="%.1f GB of movie" % (wanted / 1e9))
        self.menu(world, window, ITEM_STOP)
        stopped = time.time()
        names = world.work_files("avi")
        self.assertGreaterEqual(len(names), 2, names)

        for n, name in enumerate(names):
            with self.subTest(name):
                path = os.path.join(avi, name)
                self.assertRegex(name, r"^\d{12}(_\d+)?\.avi$")
                stamp = time.mktime(time.strptime("20" + name[:12], "%Y%m%d%H%M%S"))
                self.assertTrue(started - 3 < stamp < stopped + 3, "named by its start")
                streams = wait_until(lambda: complete(path), 60, what="a complete %s" % name)
                self.assertLess(os.path.getsize(path), 1 << 31)
                self.assertIsNone(probe_errors(path))
                s = streams[0]
                self.assertEqual((1024, 768, "rawvideo"), (s["width"], s["height"],
                                                           s["codec_name"]))
                count = frame_count(s)
                # Headers and index describe exactly the frames in the file.
                self.assertEqual(closed_file_bytes(count, frame_bytes), os.path.getsize(path))
                if n < len(names) - 1:
                    self.assertEqual(per_file, count, "a file is full before the next")
                else:
                    self.assertTrue(1 <= count <= per_file, count)
                # The frame that opened the file is the picture, whole.
                first = first_frame_rgb(path, *size)
                for x, y, colour in quadrant_points(*size):
                    self.assertTrue(colour_close(colour, pixel(first, size[0], x, y)), (x, y))
                os.remove(path)
        self.assertIsNone(tool.poll())

    def test_a_disk_that_fills_ends_the_recording_with_a_whole_file(self):
        world = self.make_world()
        self.small_disk(world, 30)
        size = (640, 480)
        frame_bytes = size[0] * 3 * size[1]
        # Two pictures in turn, so every tick of the detector finds a change.
        make_quadrants(world, "a.jpg", *size)
        world.picture("b.jpg", ["-size", "%dx%d" % size, "xc:#2060c0", "-quality", "90"])
        world.set_settings(url=world.url("seq/file:a.jpg,file:b.jpg"), WaitTime=100,
                           CaptureTime=0, CheckFlg=1, TimerSec=1, ErrorRate=1)
        tool = world.start_tool()
        window = world.wait_window()
        wait_until(lambda: tuple((world.client_rect() or (0, 0, 0, 0))[2:]) == size, 20,
                   what="the window fitted to the picture")
        dialog = self.open_dialog(world, window)
        self.answer(world, dialog, "Return")

        # The recording stops before the disk is full, its file whole. Frames
        # follow each other with no pause, so only the disk ends the recording;
        # the file is complete once it has ended.
        name = wait_until(lambda: world.work_files("avi"), 10, what="the movie")[0]
        path = os.path.join(world.work, "avi", name)
        streams = wait_until(lambda: complete(path), 60, what="the recording to end")
        count = frame_count(streams[0])
        self.assertGreater(count, 5)
        self.assertIsNone(probe_errors(path))
        self.assertEqual(closed_file_bytes(count, frame_bytes), os.path.getsize(path))
        self.assertGreater(shutil.disk_usage(world.work).free, 0)

        # Now the disk fills up, and the camera's next picture is larger than
        # anything that would still fit: every picture the tool writes from
        # here on meets a full disk. Once "work.jpg" cannot be rewritten the
        # shown picture stops changing and the detector saves nothing more, so
        # pictures are saved from the menu too, each in a second of its own.
        fill_disk(world.work)
        world.picture("b.jpg", ["-size", "%dx%d" % size, "xc:", "+noise", "Random", "-quality",
                                "100"])
        asked = len(world.requests())
        for _ in range(3):
            self.menu(world, window, ITEM_SAVE)
            time.sleep(1.2)
        self.assertGreater(len(world.requests()), asked + 10, "the tool goes on")
        self.assertIsNone(tool.poll())

        with self.subTest("no cut or empty picture"):
            cut = [n for n in world.work_files("jpg")
                   if not whole_jpeg(os.path.join(world.work, "jpg", n))]
            self.assertEqual([], cut)
        with self.subTest('"work.jpg" a whole picture'):
            self.assertTrue(whole_jpeg(os.path.join(world.work, "work.jpg")))
        with self.subTest("the movie is still whole"):
            self.assertEqual(closed_file_bytes(count, frame_bytes), os.path.getsize(path))

    def test_quit_waits_for_a_recorder_held_by_its_disk_and_keeps_the_window_painted(self):
        # No pause: the recorder is always in the middle of a frame.
        world, tool, window = self.live_world(CaptureTime=-1)
        hold, release = self.stallable_avi_folder(world)
        dialog = self.open_dialog(world, window)
        self.answer(world, dialog, "Return")
        name = wait_until(lambda: world.work_files("avi"), 10, what="the movie")[0]
        path = os.path.join(world.work, "avi", name)
        wait_until(lambda: os.path.getsize(path) > 1 << 20, 10, what="frames in the movie")

        # The disk holds the recorder's next write for as long as the test
        # wants: only a quit that waits for the recorder lets it finish the
        # file, however quick the rest of the quit is.
        hold()
        time.sleep(0.5)
        self.menu(world, window, ITEM_EXIT)
        time.sleep(1)
        self.assertIsNone(tool.poll())
        self.assertIsNotNone(world.client_rect(), "the window stays while the quit waits")

        with self.subTest("the window is painted during the wait"):
            # Another program resizes the window and its content is discarded.
            self.assertEqual(0, world.probe("grow", "TORVANEL", "8")[0])

            def shows_picture():
                x, y, _, _ = world.client_rect()
                face = world.grab().crop(x, y, WIDTH, HEIGHT)
                return all(colour_close(c, face.pixel(px, py)) for px, py, c in quadrant_points())
            wait_until(shows_picture, 10, what="the picture painted again")
            self.assertIsNone(tool.poll())

        release()
        self.assertEqual(0, world.wait_exit(tool, 20))
        streams = complete(path)
        self.assertIsNotNone(streams, "ffprobe reads every frame the file counts")
        self.assertGreater(frame_count(streams[0]), 0)

    def test_the_end_of_the_session_completes_the_movie(self):
        # No pause: frames follow each other up to the end of the session.
        world, tool, window = self.live_world(CaptureTime=-1)
        dialog = self.open_dialog(world, window)
        self.answer(world, dialog, "Return")
        name = wait_until(lambda: world.work_files("avi"), 10, what="the movie")[0]
        path = os.path.join(world.work, "avi", name)
        wait_until(lambda: os.path.getsize(path) > 1 << 20, 10, what="frames in the movie")

        # A simulated log-off: WM_QUERYENDSESSION and WM_ENDSESSION to every
        # window of the prefix; Wine ends the process once WM_ENDSESSION is
        # answered.
        r = subprocess.run(["wineboot", "--end-session"], env=world.env, cwd=world.work,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        self.assertEqual(0, r.returncode)
        self.assertEqual(0, world.wait_exit(tool, 20))
        streams = complete(path)
        self.assertIsNotNone(streams, "ffprobe reads every frame the file counts")
        count = frame_count(streams[0])
        self.assertGreater(count, 1)
        row = (WIDTH * 3 + 3) & ~3
        self.assertEqual(closed_file_bytes(count, row * HEIGHT), os.path.getsize(path))
        last = frames_rgb(path, WIDTH, HEIGHT)[-1]
        for x, y, colour in quadrant_points():
            self.assertTrue(colour_close(colour, pixel(last, WIDTH, x, y)), (x, y))

    def test_missing_avi_folder_makes_no_file(self):
        world, tool, window = self.live_world(world={"avi": False})
        dialog = self.open_dialog(world, window)
        self.answer(world, dialog, "Return")
        asked = len(world.requests())
        time.sleep(1.5)
        movies = [os.path.join(d, f) for d, _, files in os.walk(world.work) for f in files
                  if f.lower().endswith(".avi")]
        self.assertEqual([], movies)
        self.assertFalse(os.path.exists(os.path.join(world.work, "avi")))
        self.assertIsNone(tool.poll())
        self.assertGreater(len(world.requests()), asked, "the live picture goes on")
        self.assert_shows_picture(world)


if __name__ == "__main__":
    unittest.main()
