"""The tool on a Western Windows (ANSI code page 1252, Wine under en_US) started
in folders whose names that code page spells in part or not at all: its "save"
and "check" pictures still land in the folder's "jpg", judged by ImageMagick."""
import os
import subprocess
import unittest

from harness import ToolTestCase, colour_close, wait_until

ITEM_SAVE = 4  # presses of Down that reach "画像の保存"
ITEM_EXIT = 7
GREEN = (30, 200, 60)
PICTURE = (200, 150)


def describe(path):
    """ImageMagick's format, width and height, and the mean colour of a picture."""
    info = subprocess.run(["identify", "-format", "%m %w %h", path], stdout=subprocess.PIPE,
                          check=True).stdout.decode()
    mean = subprocess.run(["convert", path, "-scale", "1x1!", "-depth", "8", "rgb:-"],
                          stdout=subprocess.PIPE, check=True).stdout
    return info, tuple(mean[:3])


class WesternLocaleTest(ToolTestCase):
    def test_save_and_check_pictures_in_folders_the_code_page_cannot_spell(self):
        folders = {
            # é is a lead byte in code page 932: read so, it swallows the next
            # backslash.
            "accent": "Café",
            # No form in 1252 for the Japanese letters: the folder is reached by
            # its short name.
            "accent and Japanese": "Café カメラ",
        }
        for what, folder in folders.items():
            with self.subTest(what):
                world = self.make_world(avi=False, lang="en_US.UTF-8", work_name=folder)
                self.assertEqual(1252, world.code_page())
                world.picture("green.jpg", ["-size", "%dx%d" % PICTURE,
                                            "xc:rgb(%d,%d,%d)" % GREEN, "-quality", "95"])
                # A still camera: with ErrorRate 0 every tick after the priming one
                # saves a check picture.
                world.set_settings(url=world.url("file/green.jpg"), WaitTime=200, CheckFlg=1,
                                   TimerSec=1, ErrorRate=0)
                tool = world.start_tool()
                world.wait_window()
                # The window fits the picture once it has arrived.
                wait_until(lambda: (world.client_rect() or (0, 0, 0, 0))[2:] == PICTURE, 30,
                           what="the picture in the window")
                world.menu(ITEM_SAVE)

                def pictures():
                    names = world.work_files("jpg")
                    saves = [n for n in names if n.startswith("save")]
                    checks = [n for n in names if n.startswith("check")]
                    return (saves, checks) if saves and checks else None

                saves, checks = wait_until(pictures, 20, what="a save and a check picture")
                for name in (saves[0], checks[0]):
                    info, colour = describe(os.path.join(world.work, "jpg", name))
                    self.assertEqual("JPEG %d %d" % PICTURE, info, name)
                    self.assertTrue(colour_close(GREEN, colour), (name, colour))
                world.menu(ITEM_EXIT)
                self.assertEqual(0, world.wait_exit(tool, 15))


if __name__ == "__main__":
    unittest.main()
