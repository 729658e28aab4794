"""The camera connection end to end: login from the URL, the caption that tells
whether the picture is live, and "work.jpg" kept through every kind of failure,
with the real torvanel.exe against the camera server on 127.0.0.1."""
import os
import re
import subprocess
import time
import unittest
import urllib.parse

from harness import ToolTestCase, is_jpeg, read_bytes, wait_until

ITEM_EXIT = 7

USER = "cam user"
PASSWORD = "p@ss:w%rd"

CAPTION = re.compile(r"^Torvanel - (.+?)(?: \((\d\d:\d\d:\d\d) の画像\))?$")


def quoted(text):
    return urllib.parse.quote(text, safe="")


def picture(world, name, size="320x240", colour="#2080c0"):
    return world.picture(name, ["-size", size, "xc:" + colour, "-quality", "90"])



class ConnectionTest(ToolTestCase):
    def wait_caption(self, world, window, expected, timeout=20):
        """Waits until the caption is expected (a text, or a predicate)."""
        check = expected if callable(expected) else (lambda c: c == expected)
        return wait_until(lambda: (lambda c: c if c is not None and check(c) else None)(
            world.caption(window)), timeout, interval=0.2,
            what="the caption %r (it is %r)" % (expected, world.caption(window)))

    def assert_picture_time(self, caption, cause, taken):
        """caption says cause, with the local time of the picture taken at epoch taken."""
        m = CAPTION.match(caption)
        self.assertIsNotNone(m, caption)
        self.assertEqual(cause, m.group(1))
        self.assertIsNotNone(m.group(2), caption)
        shown = time.strptime(m.group(2), "%H:%M:%S")
        seconds = shown.tm_hour * 3600 + shown.tm_min * 60 + shown.tm_sec
        local = time.localtime(taken)
        expected = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec
        self.assertLessEqual(abs(seconds - expected) % 86400, 3, (caption, m.group(2)))

    def quit(self, world, tool):
        world.menu(ITEM_EXIT)
        self.assertEqual(0, world.wait_exit(tool, 10))

    def test_each_login_form_costs_one_request_per_picture(self):
        world = self.make_world()
        work = os.path.join(world.work, "work.jpg")
        secret = "%s/%s" % (quoted(USER), quoted(PASSWORD))
        # (what, route, the algorithm answered, a nonce goes stale)
        forms = [
            ("Basic", "basic/%s/live" % secret, None, False),
            ("Digest MD5 without qop", "digest/MD5/none/0/%s/live" % secret, "MD5", False),
            ("Digest MD5-sess", "digest/MD5-sess/auth/0/%s/live" % secret, "MD5-sess", False),
            ("Digest SHA-256 beside Basic and MD5",
             "digest/Basic+MD5+SHA-256/auth/0/%s/live" % secret, "SHA-256", False),
            ("Digest MD5, each nonce stale after 3 uses", "digest/MD5/auth/3/%s/live" % secret,
             "MD5", True),
        ]
        world.start_camera()
        for label, route, algorithm, stale in forms:
            with self.subTest(label):
                if os.path.exists(work):
                    os.remove(work)
                url = world.url(route).replace("http://", "http://%s:%s@" % (
                    quoted(USER), quoted(PASSWORD)))
                # A pause long enough to tell a repeat at once from the next pass.
                world.set_settings(url=url, WaitTime=800)
                tool = world.start_tool()
                window = world.wait_window()
                path = "/" + route
                mine = lambda: [r for r in world.requests() if r["path"] == path]
                wait_until(lambda: len(mine()) >= 7, 30, what="seven requests")
                self.assertTrue(is_jpeg(work), "no picture in work.jpg")
                self.assertEqual("Torvanel", world.caption(window))
                self.quit(world, tool)

                seen = [r["login"] for r in mine()]
                self.assertEqual("missing", seen[0], seen)
                self.assertNotIn("wrong", seen)
                # After the first challenge every request carries the login; a
                # challenge, first or stale, is answered at once by one repeat
                # in the same pass, never a second failure.
                times = [r["time"] for r in mine()]
                for i in range(len(seen) - 1):
                    if seen[i] in ("missing", "stale"):
                        self.assertEqual("ok", seen[i + 1], seen)
                        self.assertLess(times[i + 1] - times[i], 0.4, "no repeat at once")
                self.assertEqual(["missing"], [s for s in seen if s == "missing"], seen)
                if stale:
                    self.assertIn("stale", seen)
                else:
                    self.assertEqual(["ok"] * (len(seen) - 1), seen[1:])
                if algorithm:
                    answers = [dict(r["headers"]).get("Authorization", "") for r in mine()[1:]]
                    self.assertTrue(all("algorithm=%s," % algorithm in a for a in answers),
                                    answers[:2])

    def test_wrong_password_says_login_needed_and_asks_twice_a_pass(self):
        world = self.make_world()
        route = "digest/MD5/auth/0/%s/%s/live" % (quoted(USER), quoted(PASSWORD))
        url = world.url(route).replace("http://", "http://%s:wrong@" % quoted(USER))
        world.set_settings(url=url, WaitTime=1000)
        tool = world.start_tool()
        window = world.wait_window()
        self.wait_caption(world, window, "Torvanel - 認証が必要です")
        time.sleep(2)
        times = [r["time"] for r in world.requests()]
        seen = [r["login"] for r in world.requests()]
        self.assertEqual(["missing"] + ["wrong"] * (len(seen) - 1), seen)
        # Two requests a pass, then the pause: never three within a pause.
        for first, third in zip(times, times[2:]):
            self.assertGreater(third - first, 0.7, times)
        self.assertFalse(os.path.exists(os.path.join(world.work, "work.jpg")))
        self.quit(world, tool)

    def test_failures_after_good_pictures_keep_work_jpg_and_the_caption_says_why(self):
        world = self.make_world()
        good = read_bytes(picture(world, "a.jpg"))
        work = os.path.join(world.work, "work.jpg")
        world.set_settings(url=world.url("switch/cam"), WaitTime=200)
        world.set_camera("cam", "file:a.jpg")
        tool = world.start_tool()
        window = world.wait_window()
        wait_until(lambda: os.path.exists(work) and read_bytes(work) == good, 20,
                   what="the picture")
        self.assertEqual("Torvanel", world.caption(window))

        last_good = world.set_camera("cam", "status:404")
        stamp = None
        steps = [
            ("status:404", "HTTP エラー 404"),
            ("empty", "画像ではありません"),
            ("garbage", "画像ではありません"),
            ("nothttp", "画像ではありません"),
            ("cut:a.jpg", "接続できません"),
            ("status:401", "認証が必要です"),
            ("status:403", "アクセスが拒否されました"),
            ("status:503", "HTTP エラー 503"),
        ]
        for item, cause in steps:
            with self.subTest(item):
                since = world.set_camera("cam", item)
                wait_until(lambda: len([r for r in world.requests()
                                        if r["time"] > since and "/switch/" in r["path"]]) >= 3,
                           20, what="three passes")
                caption = self.wait_caption(world, window, lambda c: c.startswith(
                    "Torvanel - %s (" % cause))
                self.assert_picture_time(caption, cause, last_good)
                self.assertEqual(good, read_bytes(work))
                # Taken once failures rule, so a good pass still under way at the
                # switch cannot count.
                stamp = stamp or os.stat(work).st_mtime_ns
                self.assertEqual(stamp, os.stat(work).st_mtime_ns, "work.jpg was rewritten")
                self.assertFalse(os.path.exists(work + ".part"))

        with self.subTest("a picture again"):
            world.set_camera("cam", "live")
            self.wait_caption(world, window, "Torvanel")
            wait_until(lambda: read_bytes(work) != good and is_jpeg(work), 10,
                       what="a new picture")

        with self.subTest("the camera switched off and on again"):
            port = world.port
            world.stop_camera()
            off = time.time()
            caption = self.wait_caption(world, window,
                                        lambda c: c.startswith("Torvanel - 接続できません ("))
            self.assert_picture_time(caption, "接続できません", off)
            time.sleep(1)
            world.start_camera(port)
            self.wait_caption(world, window, "Torvanel")

        self.assertIsNone(tool.poll())
        self.quit(world, tool)

    def test_untrusted_certificate_is_refused_and_named(self):
        world = self.make_world()
        cert = os.path.join(world.root, "cert.pem")
        key = os.path.join(world.root, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        key, "-out", cert, "-days", "2", "-subj", "/CN=localhost"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        port = world.start_camera(tls=(cert, key))
        world.set_settings(url="https://127.0.0.1:%d/live.jpg" % port, WaitTime=200)
        tool = world.start_tool()
        window = world.wait_window()
        self.wait_caption(world, window, "Torvanel - 証明書を確認できません")
        self.assertEqual([], world.requests(), "a request went out over an untrusted link")
        self.assertFalse(os.path.exists(os.path.join(world.work, "work.jpg")))
        self.quit(world, tool)


if __name__ == "__main__":
    unittest.main()
