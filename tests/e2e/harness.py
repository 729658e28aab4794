"""End-to-end harness: the real torvanel.exe under Wine in Xvfb, against the
project's camera server on 127.0.0.1.

A World gives one test its own X display, Wine prefix (copied from the
template), working folder (with or without "jpg" and "avi"), registry values
and camera, and removes all of it, processes included by PID, on every path.
"""
import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

ROOT = os.environ.get("TORVANEL_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
EXE = os.environ.get("TORVANEL_EXE") or os.path.join(ROOT, "build", "torvanel.exe")
PROBE = os.environ.get("TORVANEL_PROBE") or os.path.join(ROOT, "build", "tests", "e2e_probe.exe")
CACHE = os.environ.get("TORVANEL_CACHE") or os.path.join(
    os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "torvanel")
TEMPLATE_PREFIX = os.environ.get("TORVANEL_TEMPLATE_PREFIX") or os.path.join(CACHE, "wine-template")
CAMERA = os.path.join(ROOT, "tools", "camera_server.py")

KEY = r"HKCU\Software\Kembrisk\torvanel"
MAIN_CAPTION = "Torvanel"
# The main window's caption also tells the connection's state ("Torvanel - ...").
MAIN_CAPTION_PATTERN = "^Torvanel( - .+)?$"
ABOUT_CAPTION = "ﾊﾞｰｼﾞｮﾝ情報"
SETTINGS_CAPTION = "環境設定"


def wait_until(predicate, timeout, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class Image:
    """An RGB screen grab: width, height and pixel access."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, x, y, w, h):
        rows = []
        for yy in range(y, y + h):
            i = (yy * self.width + x) * 3
            rows.append(self.data[i:i + w * 3])
        return Image(w, h, b"".join(rows))

    def colours(self):
        return {tuple(self.data[i:i + 3]) for i in range(0, len(self.data), 3)}


def parse_ppm(blob):
    """Parses a binary PPM (P6, maxval 255)."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while blob[pos:pos + 1].isspace():
            pos += 1
        if blob[pos:pos + 1] == b"#":
            pos = blob.index(b"\n", pos) + 1
            continue
        end = pos
        while not blob[end:end + 1].isspace():
            end += 1
        fields.append(blob[pos:end])
        pos = end
    pos += 1
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError("not a P6 PPM with maxval 255")
    w, h = int(fields[1]), int(fields[2])
    return Image(w, h, blob[pos:pos + w * h * 3])


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def is_jpeg(path):
    """Whether ImageMagick reads the file as a whole JPEG."""
    r = subprocess.run(["identify", "-format", "%m", path], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL)
    return r.returncode == 0 and r.stdout == b"JPEG"


def stop_process(p):
    """Ends a child we started: politely, then by force."""
    if p is not None and p.poll() is None:
        p.terminate()
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait(5)


def colour_close(a, b, tolerance=24):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


class World:
    """One test's display, prefix, working folder, registry and camera."""

    def __init__(self, *, jpg=True, avi=True, managed=False, name="e2e", screen="1280x1024",
                 lang="ja_JP.UTF-8", work_name="work"):
        self.root = tempfile.mkdtemp(prefix="torvanel-%s-" % name)
        self.prefix = os.path.join(self.root, "prefix")
        self.work = os.path.join(self.root, work_name)
        self.lang = lang
        self.files = os.path.join(self.root, "files")
        self.camera_log = os.path.join(self.root, "camera.log")
        os.makedirs(self.work)
        os.makedirs(self.files)
        if jpg:
            os.makedirs(os.path.join(self.work, "jpg"))
        if avi:
            os.makedirs(os.path.join(self.work, "avi"))
        self._xvfb = None
        self._camera = None
        self._tools = []
        self._wineserver_started = False
        self.display = None
        self.port = None
        try:
            self._start_display(screen)
            self._make_prefix(managed)
        except BaseException:
            self.close()
            raise

    # ----- set-up -----

    def _start_display(self, screen):
        read_fd, write_fd = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen + "x24", "-nolisten",
             "tcp"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as r:
            number = r.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def _make_prefix(self, managed):
        if not os.path.isfile(os.path.join(TEMPLATE_PREFIX, ".torvanel-ready")):
            raise RuntimeError("no template prefix at %s: run tools/run_tests.sh" % TEMPLATE_PREFIX)
        subprocess.run(["cp", "-a", TEMPLATE_PREFIX, self.prefix], check=True)
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "DISPLAY": self.display,
            # ja_JP gives the ANSI code page 932, en_US 1252.
            "LANG": self.lang,
            "LC_ALL": self.lang,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winealsa.drv,winepulse.drv=d",
        })
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        self._wineserver_started = True
        # Start the prefix's services now, detached from any test's pipes.
        self.wine(["cmd", "/c", "exit"], check=False)
        if not managed:
            # Without a window manager Wine waits ~2 s whenever a top-level window
            # hides; unmanaged mode answers at once.
            self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")

    def wine(self, args, check=True, timeout=60, **kw):
        return subprocess.run(["wine"] + list(args), env=self.env, cwd=kw.pop("cwd", self.work),
                              stdin=subprocess.DEVNULL, stdout=kw.pop("stdout", subprocess.DEVNULL),
                              stderr=subprocess.DEVNULL, check=check, timeout=timeout, **kw)

    # ----- registry -----

    def console_codec(self):
        """Python's name of the OEM code page in which Wine's console programs
        (reg) write to a pipe: 932 under ja_JP, 437 under en_US."""
        return "cp932" if self.lang.startswith("ja_JP") else "cp437"

    def reg_add(self, key, name, kind, data):
        self.wine(["reg", "add", key, "/v", name, "/t", kind, "/d", str(data), "/f"])

    def set_settings(self, **values):
        """Writes tool settings: numbers as REG_DWORD (negative in two's complement), url as REG_SZ."""
        for name, value in values.items():
            if isinstance(value, int):
                self.reg_add(KEY, name, "REG_DWORD", value & 0xFFFFFFFF)
            else:
                self.reg_add(KEY, name, "REG_SZ", value)

    def reg_query(self, key=KEY):
        """The values under key as {name: (type, text)}, or None when the key is missing."""
        r = self.wine(["reg", "query", key], check=False, stdout=subprocess.PIPE)
        if r.returncode != 0:
            return None
        text = r.stdout.decode(self.console_codec(), errors="replace")
        values = {}
        for line in text.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    # ----- camera -----

    def start_camera(self, port=0, tls=None):
        """Starts the camera, on the given port (0: any) and, with tls a
        (certificate, key) pair of PEM files, speaking HTTPS."""
        port_file = os.path.join(self.root, "camera.port")
        with contextlib.suppress(FileNotFoundError):
            os.remove(port_file)
        args = [sys.executable, CAMERA, "--port-file", port_file, "--files", self.files, "--log",
                self.camera_log, "--cache", os.path.join(CACHE, "camera"), "--lifetime", "1800",
                "--port", str(port)]
        if tls:
            args += ["--tls-cert", tls[0], "--tls-key", tls[1]]
        self._camera = subprocess.Popen(args, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_until(lambda: os.path.exists(port_file), 60, what="the camera server")
        with open(port_file) as f:
            self.port = int(f.read())
        return self.port

    def stop_camera(self):
        """Switches the camera off: its port refuses until start_camera(port)."""
        p, self._camera = self._camera, None
        stop_process(p)

    def set_camera(self, name, item):
        """Makes /switch/NAME answer as ITEM from the next request on."""
        direct = urllib.request.build_opener(urllib.request.ProxyHandler({}))  # 127.0.0.1 only
        with direct.open(self.url("set/%s/%s" % (name, item)), timeout=10) as r:
            r.read()
        return time.time()

    def url(self, route):
        if self.port is None:
            self.start_camera()
        return "http://127.0.0.1:%d/%s" % (self.port, route.lstrip("/"))

    def requests(self):
        if not os.path.exists(self.camera_log):
            return []
        with open(self.camera_log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def picture(self, name, args):
        """Makes a camera picture with ImageMagick from a list of convert arguments."""
        path = os.path.join(self.files, name)
        subprocess.run(["convert"] + list(args) + [path], check=True)
        return path

    # ----- the tool -----

    def start_tool(self):
        p = subprocess.Popen(["wine", EXE], env=self.env, cwd=self.work, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._tools.append(p)
        return p

    def x(self, *args, check=True):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        if check and r.returncode != 0:
            raise AssertionError("xdotool %s failed" % " ".join(map(str, args)))
        return r.stdout.decode("utf-8", errors="replace")

    def find_windows(self, caption):
        pattern = MAIN_CAPTION_PATTERN if caption == MAIN_CAPTION else "^%s$" % caption
        out = self.x("search", "--onlyvisible", "--name", pattern, check=False)
        return [int(w) for w in out.split()]

    def caption(self, window):
        """The window's caption as the X server has it, or None once it is gone."""
        r = subprocess.run(["xdotool", "getwindowname", str(window)], env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return r.stdout.decode("utf-8", errors="replace").rstrip("\n") if r.returncode == 0 else None

    def wait_window(self, caption=MAIN_CAPTION, timeout=30):
        return wait_until(lambda: (self.find_windows(caption) or [None])[0], timeout,
                          what="a window named %r" % caption)

    def wait_no_window(self, caption, timeout=10):
        wait_until(lambda: not self.find_windows(caption), timeout,
                   what="the window %r to close" % caption)

    def geometry(self, window):
        out = self.x("getwindowgeometry", "--shell", window)
        g = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

    def ansi_codec(self):
        """Python's name of the ANSI code page of this world's programs."""
        return "cp932" if self.lang.startswith("ja_JP") else "cp1252"

    def probe(self, *args):
        r = self.wine([PROBE] + list(args), check=False, stdout=subprocess.PIPE)
        return r.returncode, r.stdout.decode(self.ansi_codec())

    def code_page(self):
        """The ANSI code page (GetACP) that programs in this world run with."""
        rc, out = self.probe("acp")
        assert rc == 0, "probe failed"
        return int(out)

    def dialog_labels(self, *dialogs):
        """Each named dialog template of the tool, built hidden: {dialog: (base
        units (x, y), client size (w, h), labels)}, a label being (text, pixels
        its text needs in one line, pixels it has)."""
        exe = "Z:" + os.path.abspath(EXE).replace("/", "\\")
        rc, out = self.probe("labels", exe, *dialogs)
        assert rc == 0, "probe failed"
        result = {}
        for line in out.splitlines():
            dialog, kind, *rest = line.split("\t")
            if kind == "units":
                cx, cy, w, h, _ = rest
                result[dialog] = ((int(cx), int(cy)), (int(w), int(h)), [])
            else:
                need, room, text = rest
                result[dialog][2].append((text, int(need), int(room)))
        return result

    def metrics(self):
        """(SM_CXFRAME, SM_CYFRAME, SM_CYCAPTION) as the tool sees them."""
        rc, out = self.probe("metrics")
        assert rc == 0, "probe failed"
        return tuple(int(v) for v in out.split())

    def client_rect(self, window_class="TORVANEL"):
        """The main window's client area on screen as (x, y, w, h), or None."""
        rc, out = self.probe("client", window_class)
        if rc != 0:
            return None
        v = [int(n) for n in out.split()]
        return tuple(v[:4])

    def outer_rect(self, window_class="TORVANEL"):
        rc, out = self.probe("client", window_class)
        if rc != 0:
            return None
        v = [int(n) for n in out.split()]
        return tuple(v[4:])

    def resize(self, width, height, window_class="TORVANEL"):
        """Gives the main window this outer size, as a user dragging its frame would."""
        rc, _ = self.probe("resize", window_class, str(width), str(height))
        assert rc == 0, "resize failed"

    def click_client(self, cx, cy, button=3):
        """Clicks at (cx, cy) of the main window's client area."""
        x, y, _, _ = self.client_rect()
        self.x("mousemove", x + cx, y + cy)
        self.x("click", button)
        return x + cx, y + cy

    def top_level_windows(self):
        """Mapped children of the root as {id: (x, y, w, h)}."""
        out = subprocess.run(["xwininfo", "-root", "-children"], env=self.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
        wins = {}
        for line in out.splitlines():
            line = line.strip()
            if not line.startswith("0x"):
                continue
            wid = int(line.split()[0], 16)
            info = subprocess.run(["xwininfo", "-id", str(wid)], env=self.env,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
            fields = {}
            for l in info.splitlines():
                if ":" in l:
                    k, _, v = l.strip().partition(":")
                    fields[k.strip()] = v.strip()
            if fields.get("Map State") != "IsViewable":
                continue
            wins[wid] = (int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                         int(fields["Width"]), int(fields["Height"]))
        return wins

    def grab(self):
        """The whole screen as an Image."""
        ppm = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "ppm:-"], env=self.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
        return parse_ppm(ppm)

    def menu(self, downs, cx=10, cy=10):
        """Opens the context menu at (cx, cy) of the client area and picks the
        item reached by pressing Down that many times (separators are skipped)."""
        self.click_client(cx, cy)
        time.sleep(0.4)
        self.x("key", "--delay", "60", *(["Down"] * downs + ["Return"]))

    def focus(self, window):
        self.x("windowfocus", "--sync", window, check=False)
        self.x("windowactivate", window, check=False)

    def keys(self, window, *keys):
        self.focus(window)
        self.x("key", "--delay", "60", *keys)

    def wait_exit(self, process, timeout=10):
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the tool did not end within %.1f s" % timeout)

    def work_files(self, folder):
        path = os.path.join(self.work, folder)
        return sorted(os.listdir(path)) if os.path.isdir(path) else []

    # ----- clean-up -----

    def _prefix_pids(self):
        """PIDs of processes that run in this world's prefix (wine programs, wineserver)."""
        marker = ("WINEPREFIX=" + self.prefix).encode()
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if marker in f.read().split(b"\0"):
                        pids.append(int(entry))
            except OSError:
                pass
        return pids

    def close(self):
        for p in self._tools:
            if p.poll() is None:
                p.kill()
            with contextlib.suppress(Exception):
                p.wait(5)
        if self._wineserver_started:
            with contextlib.suppress(Exception):
                subprocess.run(["wineserver", "-k"], env=self.env, timeout=15)
            for pid in self._prefix_pids():
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGKILL)
        for p in (self._camera, self._xvfb):
            stop_process(p)
        shutil.rmtree(self.root, ignore_errors=True)


class ToolTestCase(unittest.TestCase):
    """A test case whose make_world() worlds are closed however the test ends."""

    def make_world(self, **kw):
        world = World(name=self.id().rsplit(".", 1)[-1][:40], **kw)
        self.addCleanup(world.close)
        return world
