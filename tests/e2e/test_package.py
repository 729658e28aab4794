"""The zip a user unzips: its entries, its help page, its sound, and the help
command opening that page."""
import html.parser
import json
import os
import re
import shutil
import subprocess
import unittest
import xml.etree.ElementTree as ET
import zipfile

from harness import ROOT, ToolTestCase, wait_until

ZIP = os.environ.get("TORVANEL_ZIP", "")
PACKAGE_DIR = os.path.join(os.path.dirname(ZIP), "package") if ZIP else ""
ITEM_HELP = 5


def read(path, mode="r"):
    with open(path, mode, **({} if "b" in mode else {"encoding": "utf-8"})) as f:
        return f.read()


def code_defaults():
    """{value name: default text} as the settings store reads them."""
    src = os.path.join(ROOT, "src", "settings")
    header = read(os.path.join(src, "settings_store.h"))
    constants = dict(re.findall(r"constexpr int32_t (kDefault\w+) = (-?\d+);", header))
    body = read(os.path.join(src, "settings_store.cpp"))
    reads = re.findall(r'ReadDwordSetting\(root, path, "(\w+)", (kDefault\w+)\)', body)
    defaults = {name: constants[const] for name, const in reads}
    # The text setting has no constant: the store starts it empty.
    if re.search(r'ReadStringSetting\(root, path, "url"', body):
        defaults["url"] = ""
    return defaults


class PageRows(html.parser.HTMLParser):
    """Collects, per table row id, the text of its cells."""

    def __init__(self):
        super().__init__()
        self.rows = {}
        self.links = []
        self._row = None
        self._cell = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        for key in ("src", "href"):
            if key in a:
                self.links.append(a[key])
        if tag == "tr" and "id" in a:
            self._row = a["id"]
            self.rows[self._row] = []
        elif tag == "td" and self._row:
            self._cell = []

    def handle_endtag(self, tag):
        if tag == "td" and self._row and self._cell is not None:
            self.rows[self._row].append("".join(self._cell).strip())
            self._cell = None
        elif tag == "tr":
            self._row = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell.append(data)


@unittest.skipUnless(ZIP, "TORVANEL_ZIP not set")
class PackageTest(unittest.TestCase):
    def test_zip_holds_exactly_the_tool_its_folders_page_and_sound(self):
        with zipfile.ZipFile(ZIP) as z:
            names = {n.rstrip("/") for n in z.namelist()}
            self.assertEqual({"torvanel.exe", "jpg", "avi", "check.wav", "torvanel.htm"}, names)
            self.assertTrue(z.getinfo("jpg/").is_dir() and z.getinfo("avi/").is_dir())
            self.assertEqual(read(os.path.join(PACKAGE_DIR, "torvanel.exe"), "rb"),
                             z.read("torvanel.exe"))

    def test_help_page_is_well_formed_japanese_and_names_every_setting_default(self):
        raw = read(os.path.join(PACKAGE_DIR, "torvanel.htm"), "rb")
        text = raw.decode("utf-8")  # fails on anything but the declared charset
        ET.fromstring(re.sub(r"^<!DOCTYPE[^>]*>", "", text.lstrip()))
        self.assertRegex(text[:400], r'<meta charset="utf-8"')
        self.assertIn("環境設定", text)
        page = PageRows()
        page.feed(text)
        # No outside resources: only links within the page itself.
        self.assertEqual([], [l for l in page.links if not l.startswith("#")])
        defaults = code_defaults()
        self.assertEqual(9, len(defaults), defaults)
        for name, default in defaults.items():
            with self.subTest(setting=name):
                self.assertIn(name, page.rows, "no row for %s" % name)
                cells = page.rows[name]
                self.assertIn(name, cells[1])
                self.assertEqual(default if default else "（空）", cells[3])

    def test_sound_is_a_short_pcm_wave(self):
        out = subprocess.run(
            ["ffprobe", "-v", "error", "-show_entries",
             "format=format_name,duration:stream=codec_name,codec_type", "-of", "json",
             os.path.join(PACKAGE_DIR, "check.wav")],
            stdout=subprocess.PIPE, check=True).stdout
        info = json.loads(out)
        self.assertEqual("wav", info["format"]["format_name"])
        (stream,) = info["streams"]
        self.assertEqual("audio", stream["codec_type"])
        self.assertTrue(stream["codec_name"].startswith("pcm_"), stream["codec_name"])
        self.assertTrue(0.2 <= float(info["format"]["duration"]) <= 2.0)


@unittest.skipUnless(ZIP, "TORVANEL_ZIP not set")
class HelpCommandTest(ToolTestCase):
    def test_help_opens_the_page_beside_the_tool(self):
        world = self.make_world()
        shutil.copy(os.path.join(PACKAGE_DIR, "torvanel.htm"), world.work)
        opened = os.path.join(world.root, "opened.txt")
        # Our own handler for .htm pages: it writes what it was asked to open.
        world.wine(["reg", "add", r"HKCR\.htm", "/ve", "/d", "torvanel.testpage", "/f"])
        world.wine(["reg", "add", r"HKCR\torvanel.testpage\shell\open\command", "/ve", "/d",
                    r'C:\windows\system32\cmd.exe /c echo %%1> Z:%s' % opened.replace("/", "\\"),
                    "/f"])
        tool = world.start_tool()
        world.wait_window()
        world.menu(ITEM_HELP)
        wait_until(lambda: os.path.exists(opened) and os.path.getsize(opened) > 0, 20,
                   what="the page handler to run")
        target = read(opened, "rb").decode("cp932").strip().strip('"')
        self.assertTrue(target.lower().endswith("torvanel.htm"), target)
        self.assertIsNone(tool.poll())


if __name__ == "__main__":
    unittest.main()
