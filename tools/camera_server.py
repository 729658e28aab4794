#!/usr/bin/env python3
"""A small web camera on 127.0.0.1, for the demo and the tests.

Routes (each answers a GET):
  /live.jpg, /live640.jpg   a lively scene that changes at every request (320 x 240, 640 x 480)
  /live/WxH.jpg             the same scene at any size up to 4096 x 4096 (made on first use)
  /file/NAME                the file NAME from --files, as image/jpeg
  /404                      status 404 with an HTML page
  /bytes/N                  a body of exactly N bytes
  /empty                    status 200 with an empty body
  /cut/NAME                 announces NAME's full length, sends half of it, then closes
  /stall                    reads the request and never answers (until the server stops)
  /garbage                  status 200, image/jpeg, bytes that are no picture
  /noisy/KIND-S.jpg         a scene as a real camera sends it: sensor noise of S grey
                            levels (standard deviation, each colour byte, new in every frame),
                            JPEG quality 80, 320 x 240; KIND "still", or "moving" with a dark
                            48 x 48 square (3 % of the picture) crossing it. Frames change
                            with the clock, 5 a second, whatever the request rate
  /seq/A,B,C                answers each request as the next route of the list, in turn:
                            file:NAME, cut:NAME, 404, empty, garbage, stall, live, live640,
                            noisy:KIND-S, bytes:N, and the items below (the counter is
                            kept per list)
  /status/CODE              status CODE (any number) with a small HTML page
  /switch/NAME              answers as the item last set for NAME (live until set);
  /set/NAME/ITEM            sets it: a camera that fails, stalls and recovers on command
  /basic/USER/PASS/ITEM     ITEM behind Basic login (USER and PASS %-decoded)
  /digest/ALGS/QOP/N/USER/PASS/ITEM
                            ITEM behind Digest login. ALGS: offered challenges joined by +,
                            each one WWW-Authenticate header: MD5, MD5-sess, SHA-256,
                            SHA-256-sess, Basic. QOP: auth, auth-int or none (the form
                            without qop). N: uses after which a nonce goes stale (0: never).
                            The log line of each request says "login": ok, missing, wrong
                            or stale.
Items besides the routes above: nothttp (bytes that are no HTTP answer, then close),
stall:S (no answer for S seconds, then close), drip:S:ITEM (ITEM's headers at once, then
one byte of its body every S seconds), slow:S:ITEM (ITEM's body spread evenly over S
seconds), switch:NAME, status:CODE.

Every request is appended to --log as one JSON line: its path and headers.
The port is written to --port-file once the server listens. The server stops
on SIGTERM or SIGINT, and by itself after --lifetime seconds. With --tls-cert and
--tls-key it speaks HTTPS.
"""
import argparse
import base64
import hashlib
import http.server
import json
import math
import operator
import os
import random
import re
import secrets
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

STALL_LIMIT_S = 600  # even a stall ends, so no test can leave a thread behind


def make_live_frames(directory, size, count):
    """Frames of a moving test scene, made once with ffmpeg."""
    os.makedirs(directory, exist_ok=True)
    pattern = os.path.join(directory, "f%03d.jpg")
    if not os.path.exists(os.path.join(directory, "f%03d.jpg" % count)):
        subprocess.run(
            ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
             "testsrc2=size=%s:rate=8" % size, "-frames:v", str(count), "-q:v", "4",
             "-start_number", "1", pattern],
            check=True)
    return [open(os.path.join(directory, "f%03d.jpg" % i), "rb").read()
            for i in range(1, count + 1)]


# The noisy feeds: one scene, drawn once; noise and the moving square per frame.
NOISY_SIZE = (320, 240)
NOISY_FPS = 5
NOISY_QUALITY = 80
NOISY_STILL_FRAMES = 10  # a 2 s cycle: looks 1 s apart never get the same frame
NOISY_OBJECT = 48  # side of the dark square: 2,304 pixels, 3 % of 320 x 240
NOISY_STEP = 16  # pixels the square moves per frame: 80 a second
NOISY_OBJECT_TOP = 96
NOISY_OBJECT_COLOUR = bytes((24, 24, 28))
NOISY_MAX_SIGMA = 32
# Part of the cache folder's name: a change to the frames below needs new files.
NOISY_VERSION = 1
NOISY_SCENE = [
    "-size", "%dx%d" % NOISY_SIZE, "gradient:#a8c8e8-#e0e8f0",
    "-fill", "#4a6a30", "-draw", "rectangle 0,176 319,239",
    "-fill", "#b07850", "-draw", "rectangle 36,96 124,180",
    "-fill", "#6c4830", "-draw", "polygon 28,98 80,62 132,98",
    "-fill", "#e8e0c0", "-draw", "rectangle 60,120 84,150",
    "-fill", "#d0c890", "-draw", "circle 250,130 250,158",
    "-blur", "0x0.8",
]


def parse_noisy(name):
    """("still" or "moving", sigma) from a name such as "moving-4", or None."""
    m = re.fullmatch(r"(still|moving)-(\d{1,2})", name)
    if not m or int(m.group(2)) > NOISY_MAX_SIGMA:
        return None
    return m.group(1), int(m.group(2))


def noisy_frame_count(kind):
    if kind == "still":
        return NOISY_STILL_FRAMES
    # From fully left of the picture to its right edge.
    return (NOISY_SIZE[0] + NOISY_OBJECT) // NOISY_STEP


def read_ppm(blob):
    """(width, height, RGB bytes) of a binary PPM with maxval 255."""
    fields, pos = [], 0
    while len(fields) < 4:
        while blob[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not blob[end:end + 1].isspace():
            end += 1
        fields.append(blob[pos:end])
        pos = end
    w, h = int(fields[1]), int(fields[2])
    return w, h, blob[pos + 1:pos + 1 + w * h * 3]


def noisy_scene():
    out = subprocess.run(["convert"] + NOISY_SCENE + ["-depth", "8", "ppm:-"],
                         stdout=subprocess.PIPE, check=True).stdout
    w, h, rgb = read_ppm(out)
    assert (w, h) == NOISY_SIZE
    return rgb


def draw_square(rgb, left):
    """The dark square with its left edge at x = left, cut at the picture's sides."""
    width = NOISY_SIZE[0]
    x0, x1 = max(0, left), min(width, left + NOISY_OBJECT)
    if x0 >= x1:
        return rgb
    out = bytearray(rgb)
    run = NOISY_OBJECT_COLOUR * (x1 - x0)
    for y in range(NOISY_OBJECT_TOP, NOISY_OBJECT_TOP + NOISY_OBJECT):
        start = (y * width + x0) * 3
        out[start:start + len(run)] = run
    return bytes(out)


def add_noise(rgb, sigma, seed):
    """Each byte plus its own normal deviate of standard deviation sigma, rounded
    and held within 0..255: round(v + g) = v + round(g) for a whole v, so the
    rounded deviate is drawn directly from its exact distribution."""
    if sigma <= 0:
        return rgb
    spread = max(1, int(6 * sigma + 1))
    values = list(range(-spread, spread + 1))

    def cdf(x):
        return 0.5 * (1.0 + math.erf(x / (sigma * math.sqrt(2.0))))

    weights = [cdf(v + 0.5) - cdf(v - 0.5) for v in values]
    clamp = bytes(min(255, max(0, v - spread)) for v in range(256 + 2 * spread))
    offsets = random.Random(seed).choices([v + spread for v in values], weights=weights,
                                          k=len(rgb))
    return bytes(map(clamp.__getitem__, map(operator.add, rgb, offsets)))


def make_noisy_frame(scene, kind, sigma, index):
    """One frame of a noisy feed as JPEG bytes."""
    rgb = scene
    if kind == "moving":
        rgb = draw_square(rgb, -NOISY_OBJECT + index * NOISY_STEP)
    rgb = add_noise(rgb, sigma, "%s-%d-%d" % (kind, sigma, index))
    ppm = b"P6\n%d %d\n255\n" % NOISY_SIZE + rgb
    return subprocess.run(["convert", "ppm:-", "-quality", str(NOISY_QUALITY), "jpg:-"],
                          input=ppm, stdout=subprocess.PIPE, check=True).stdout


def noisy_frame_path(cache_dir, kind, sigma, index):
    folder = os.path.join(cache_dir, "noisy%d-%s-%d" % (NOISY_VERSION, kind, sigma))
    return os.path.join(folder, "f%03d.jpg" % index)


class Camera:
    def __init__(self, files_dir, log_path, cache_dir):
        self.files_dir = files_dir
        self.log_path = log_path
        self.lock = threading.Lock()
        self.counters = {}
        self.stop = threading.Event()
        self.live = {}
        self.cache_dir = cache_dir
        # Noisy frames are made on first use (about 0.1 s each) and kept on disk.
        self.noisy_lock = threading.Lock()
        self.noisy_scene = None
        self.noisy = {}
        self.switches = {}
        self.nonces = {}  # nonce -> {"uses": n, "nc": last nonce count}

    def live_frames(self, size):
        with self.lock:
            if size not in self.live:
                self.live[size] = make_live_frames(
                    os.path.join(self.cache_dir, "live-" + size), size, 48)
            return self.live[size]

    def noisy_frame(self, kind, sigma, index):
        key = (kind, sigma, index)
        with self.noisy_lock:
            if key not in self.noisy:
                path = noisy_frame_path(self.cache_dir, kind, sigma, index)
                if not os.path.exists(path):
                    if self.noisy_scene is None:
                        self.noisy_scene = noisy_scene()
                    body = make_noisy_frame(self.noisy_scene, kind, sigma, index)
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    tmp = "%s.%d.tmp" % (path, os.getpid())
                    with open(tmp, "wb") as f:
                        f.write(body)
                    os.replace(tmp, path)
                with open(path, "rb") as f:
                    self.noisy[key] = f.read()
            return self.noisy[key]

    def next_index(self, key, modulo):
        with self.lock:
            n = self.counters.get(key, 0)
            self.counters[key] = n + 1
            return n % modulo

    def record(self, path, headers, login=None):
        if not self.log_path:
            return
        entry = {"path": path, "time": time.time(),
                 "headers": [[k, v] for k, v in headers.items()]}
        if login:
            entry["login"] = login
        line = json.dumps(entry)
        with self.lock, open(self.log_path, "a", encoding="utf-8") as f:
            f.write(line + "\n")


    def new_nonce(self):
        nonce = secrets.token_hex(16)
        with self.lock:
            self.nonces[nonce] = {"uses": 0, "nc": 0}
        return nonce

    def check_login(self, route, headers, method="GET", uri=""):
        """None for an open route; else ok, missing, wrong or stale."""
        parts = route.split("/")
        if route.startswith("/basic/") and len(parts) >= 5:
            user, password = urllib.parse.unquote(parts[2]), urllib.parse.unquote(parts[3])
            given = headers.get("Authorization", "")
            if not given.lower().startswith("basic "):
                return "missing"
            try:
                pair = base64.b64decode(given[6:].strip(), validate=True).decode("utf-8")
            except ValueError:
                return "wrong"
            return "ok" if pair == user + ":" + password else "wrong"
        if route.startswith("/digest/") and len(parts) >= 8:
            algs, qop, stale_after = parts[2].split("+"), parts[3], int(parts[4])
            user, password = urllib.parse.unquote(parts[5]), urllib.parse.unquote(parts[6])
            given = headers.get("Authorization", "")
            if not given.lower().startswith("digest "):
                return "missing"
            p = parse_auth_params(given[7:])
            alg = p.get("algorithm", "MD5")
            if alg.lower() not in [a.lower() for a in algs if a.lower() != "basic"]:
                return "wrong"
            if p.get("username") != user or p.get("uri") != uri:
                return "wrong"
            h = hashlib.sha256 if alg.lower().startswith("sha-256") else hashlib.md5
            hx = lambda text: h(text.encode("utf-8")).hexdigest()
            nonce, cnonce, nc = p.get("nonce", ""), p.get("cnonce", ""), p.get("nc", "")
            ha1 = hx("%s:%s:%s" % (user, REALM, password))
            if alg.lower().endswith("-sess"):
                ha1 = hx("%s:%s:%s" % (ha1, nonce, cnonce))
            ha2 = hx("%s:%s" % (method, uri))
            if qop == "auth":
                if p.get("qop") != "auth" or not cnonce or len(nc) != 8:
                    return "wrong"
                expected = hx("%s:%s:%s:%s:auth:%s" % (ha1, nonce, nc, cnonce, ha2))
            else:
                if "qop" in p or "nc" in p:
                    return "wrong"
                expected = hx("%s:%s:%s" % (ha1, nonce, ha2))
            if p.get("response") != expected or p.get("opaque") != OPAQUE:
                return "wrong"
            with self.lock:
                state = self.nonces.get(nonce)
                if state is None or (stale_after and state["uses"] >= stale_after):
                    return "stale"
                if qop == "auth":
                    count = int(nc, 16)
                    if count <= state["nc"]:
                        return "wrong"  # a nonce count must rise with every request
                    state["nc"] = count
                state["uses"] += 1
            return "ok"
        return None


REALM = "torvanel-camera"
OPAQUE = "5ccc069c403ebaf9f0171e9517f40e41"


def parse_auth_params(text):
    """name=value pairs of an Authorization header, values unquoted."""
    params, i = {}, 0
    while i < len(text):
        while i < len(text) and text[i] in " ,\t":
            i += 1
        eq = text.find("=", i)
        if eq < 0:
            break
        name = text[i:eq].strip().lower()
        i = eq + 1
        if i < len(text) and text[i] == '"':
            i += 1
            value = []
            while i < len(text) and text[i] != '"':
                if text[i] == "\\" and i + 1 < len(text):
                    i += 1
                value.append(text[i])
                i += 1
            i += 1
            params[name] = "".join(value)
        else:
            end = text.find(",", i)
            end = len(text) if end < 0 else end
            params[name] = text[i:end].strip()
            i = end
    return params


def make_handler(camera):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):  # quiet
            pass

        def do_GET(self):
            route = self.path.split("?", 1)[0]
            login = camera.check_login(route, self.headers, uri=self.path)
            camera.record(self.path, self.headers, login)
            try:
                if login is not None and login != "ok":
                    return self.ask_login(route, stale=login == "stale")
                self.answer(route)
            except (BrokenPipeError, ConnectionResetError):
                pass

        def ask_login(self, route, stale):
            parts = route.split("/")
            page = b"<html><body><h1>401 Unauthorized</h1></body></html>"
            self.send_response(401)
            if parts[1] == "basic":
                offered = ["Basic"]
            else:
                offered = parts[2].split("+")
                nonce = camera.new_nonce()
            for alg in offered:
                if alg.lower() == "basic":
                    self.send_header("WWW-Authenticate", 'Basic realm="%s"' % REALM)
                    continue
                value = 'Digest realm="%s", nonce="%s", algorithm=%s, opaque="%s"' % (
                    REALM, nonce, alg, OPAQUE)
                if parts[3] != "none":
                    value += ', qop="%s"' % parts[3]
                if stale:
                    value += ", stale=true"
                self.send_header("WWW-Authenticate", value)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(page)
            self.wfile.flush()
            self.close_connection = True

        def item_body(self, item):
            """(content type, body) of an item that answers 200 with a body."""
            kind, _, arg = item.partition(":")
            if kind in ("live", "live640"):
                frames = camera.live_frames("320x240" if kind == "live" else "640x480")
                return "image/jpeg", frames[camera.next_index(kind, len(frames))]
            if kind == "file":
                return "image/jpeg", self.read_file(arg)
            if kind == "bytes":
                return "application/octet-stream", bytes((i * 7 + 3) & 0xFF
                                                         for i in range(int(arg)))
            return "image/jpeg", b"\x00garbage, not a picture\xff" * 40

        def send_spread(self, item, seconds, step=None):
            """ITEM's headers at once, then its body spread over time: one byte
            every `step` seconds, or the whole body evenly over `seconds`."""
            content_type, body = self.item_body(item)
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.flush()
            self.close_connection = True
            if step is None:
                chunks = max(1, int(seconds * 10))
                size = -(-len(body) // chunks)
                step = seconds / chunks
            else:
                size = 1
            for start in range(0, len(body), size):
                if camera.stop.wait(step if start else 0):
                    return
                self.wfile.write(body[start:start + size])
                self.wfile.flush()

        def send_body(self, status, body, content_type="image/jpeg"):
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
            self.close_connection = True

        def read_file(self, name):
            path = os.path.join(camera.files_dir or ".", os.path.basename(name))
            with open(path, "rb") as f:
                return f.read()

        def answer(self, route):
            if route.startswith("/basic/"):
                return self.answer_item(route.split("/", 4)[4])
            if route.startswith("/digest/"):
                return self.answer_item(route.split("/", 7)[7])
            if route.startswith("/status/"):
                return self.answer_item("status:" + route[len("/status/"):])
            if route.startswith("/switch/"):
                return self.answer_item("switch:" + route[len("/switch/"):])
            if route.startswith("/set/"):
                name, _, item = route[len("/set/"):].partition("/")
                with camera.lock:
                    camera.switches[name] = urllib.parse.unquote(item)
                return self.send_body(200, b"ok", "text/plain")
            if route.startswith("/seq/"):
                items = route[len("/seq/"):].split(",")
                item = items[camera.next_index(route, len(items))]
                return self.answer_item(item)
            if route == "/live.jpg":
                return self.answer_item("live")
            if route == "/live640.jpg":
                return self.answer_item("live640")
            if route.startswith("/live/") and route.endswith(".jpg"):
                return self.answer_item("livesize:" + route[len("/live/"):-len(".jpg")])
            if route.startswith("/file/"):
                return self.answer_item("file:" + route[len("/file/"):])
            if route.startswith("/noisy/") and route.endswith(".jpg"):
                return self.answer_item("noisy:" + route[len("/noisy/"):-len(".jpg")])
            if route.startswith("/cut/"):
                return self.answer_item("cut:" + route[len("/cut/"):])
            if route.startswith("/bytes/"):
                return self.answer_item("bytes:" + route[len("/bytes/"):])
            if route in ("/404", "/empty", "/garbage", "/stall"):
                return self.answer_item(route[1:])
            return self.answer_item("404")

        def answer_item(self, item):
            kind, _, arg = item.partition(":")
            if kind == "live" or kind == "live640":
                frames = camera.live_frames("320x240" if kind == "live" else "640x480")
                self.send_body(200, frames[camera.next_index(kind, len(frames))])
            elif kind == "livesize":
                w, _, h = arg.partition("x")
                if not (w.isdigit() and h.isdigit() and 0 < int(w) <= 4096 and 0 < int(h) <= 4096):
                    return self.answer_item("404")
                frames = camera.live_frames("%dx%d" % (int(w), int(h)))
                self.send_body(200, frames[camera.next_index(item, len(frames))])
            elif kind == "noisy" and parse_noisy(arg):
                feed, sigma = parse_noisy(arg)
                # The clock picks the frame, so the scene moves at the same speed
                # however often it is fetched.
                index = int(time.time() * NOISY_FPS) % noisy_frame_count(feed)
                self.send_body(200, camera.noisy_frame(feed, sigma, index))
            elif kind == "file":
                try:
                    self.send_body(200, self.read_file(arg))
                except OSError:
                    self.answer_item("404")
            elif kind == "cut":
                body = self.read_file(arg)
                self.send_response(200)
                self.send_header("Content-Type", "image/jpeg")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
            elif kind == "bytes":
                n = int(arg)
                self.send_body(200, bytes((i * 7 + 3) & 0xFF for i in range(n)),
                               "application/octet-stream")
            elif kind == "empty":
                self.send_body(200, b"")
            elif kind == "garbage":
                self.send_body(200, b"\x00garbage, not a picture\xff" * 40)
            elif kind == "stall":
                camera.stop.wait(float(arg) if arg else STALL_LIMIT_S)
                self.close_connection = True
            elif kind == "status":
                page = b"<html><body><h1>Status %s</h1></body></html>" % arg.encode()
                self.send_body(int(arg), page, "text/html")
            elif kind == "switch":
                with camera.lock:
                    current = camera.switches.get(arg, "live")
                self.answer_item(current)
            elif kind == "nothttp":
                self.wfile.write(b"SSH-2.0-OpenSSH_9.2\r\n\x00\xff no HTTP here\r\n")
                self.wfile.flush()
                self.close_connection = True
            elif kind == "drip":
                interval, _, inner = arg.partition(":")
                self.send_spread(inner, 0, step=float(interval))
            elif kind == "slow":
                seconds, _, inner = arg.partition(":")
                self.send_spread(inner, float(seconds))
            else:
                page = (b"<html><head><title>404 Not Found</title></head>"
                        b"<body><h1>Not Found</h1></body></html>")
                self.send_body(404, page, "text/html")

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--files", help="folder served under /file/")
    parser.add_argument("--log", help="append each request as a JSON line")
    parser.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "torvanel-camera"))
    parser.add_argument("--lifetime", type=float, default=3600.0)
    parser.add_argument("--tls-cert", help="PEM certificate: serve HTTPS")
    parser.add_argument("--tls-key", help="PEM private key of --tls-cert")
    args = parser.parse_args()

    camera = Camera(args.files, args.log, args.cache)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(camera))
    server.daemon_threads = True
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)

    def stop(*_):
        camera.stop.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    lifetime = threading.Timer(args.lifetime, stop)
    lifetime.daemon = True
    lifetime.start()

    camera.live_frames("320x240")  # ready before the first request
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(server.server_address[1]))
        os.replace(tmp, args.port_file)
    print("camera on http://127.0.0.1:%d/live.jpg" % server.server_address[1], flush=True)
    server.serve_forever()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
