"""The application shell end to end: start, single instance, context menu,
About box, help, quit, and a first run that leaves the registry alone."""
import time
import unittest

from harness import ABOUT_CAPTION, MAIN_CAPTION, ToolTestCase, wait_until

# Presses of Down that reach each menu item from a freshly opened menu.
ITEM_HELP = 5
ITEM_ABOUT = 6
ITEM_EXIT = 7


class ShellTest(ToolTestCase):
    def test_window_menu_about_help_and_quit(self):
        world = self.make_world()
        tool = world.start_tool()
        window = world.wait_window()

        with self.subTest("the template's size before any picture"):
            x, y, w, h = world.client_rect()
            # 98 x 30 dialog units of the 10-point font: wider than tall, a small strip.
            self.assertTrue(120 <= w <= 260 and 30 <= h <= 90, (w, h))
            face = world.grab().crop(x, y, w, h)
            self.assertEqual(1, len(face.colours()), "the client area shows only its background")

        with self.subTest("a second copy ends at once and shows nothing"):
            second = world.start_tool()
            self.assertEqual(0, world.wait_exit(second, 20))
            self.assertEqual([window], world.find_windows(MAIN_CAPTION))
            self.assertIsNone(tool.poll())

        with self.subTest("a right click opens the menu at the press point"):
            before = world.top_level_windows()
            px, py = world.click_client(17, 11)
            opened = wait_until(
                lambda: {k: v for k, v in world.top_level_windows().items() if k not in before},
                5, what="the context menu")
            self.assertEqual([(px, py)], [(v[0], v[1]) for v in opened.values()])
            world.x("key", "Escape")
            wait_until(lambda: not {k for k in world.top_level_windows() if k not in before}, 5,
                       what="the menu to close")

        for key in ("Return", "Escape"):
            with self.subTest("the About box closes by " + key):
                world.menu(ITEM_ABOUT)
                about = world.wait_window(ABOUT_CAPTION, 10)
                world.keys(about, key)
                world.wait_no_window(ABOUT_CAPTION)
                self.assertIsNone(tool.poll())

        with self.subTest("help without torvanel.htm leaves the tool as it was"):
            world.menu(ITEM_HELP)
            time.sleep(1.5)
            self.assertIsNone(tool.poll())
            self.assertEqual([window], world.find_windows(MAIN_CAPTION))

        with self.subTest("quit from the menu ends with exit code 0"):
            world.menu(ITEM_EXIT)
            self.assertEqual(0, world.wait_exit(tool, 10))
            world.wait_no_window(MAIN_CAPTION)

        with self.subTest("a first run leaves the registry key absent"):
            self.assertIsNone(world.reg_query())

    def test_alt_f4_closes_with_exit_code_0(self):
        world = self.make_world()
        tool = world.start_tool()
        window = world.wait_window()
        world.keys(window, "alt+F4")
        self.assertEqual(0, world.wait_exit(tool, 10))

    def test_keys_in_the_main_window_do_nothing(self):
        world = self.make_world()
        tool = world.start_tool()
        window = world.wait_window()
        world.keys(window, "Tab", "Return", "Escape")
        time.sleep(1)
        self.assertIsNone(tool.poll())
        self.assertEqual([window], world.find_windows(MAIN_CAPTION))


if __name__ == "__main__":
    unittest.main()
