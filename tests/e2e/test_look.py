"""What a Wine user sees of the tool, in the prefix that the demo, the
screenshots and these tests copy: the caption buttons' symbol font is there,
and the stand-in for the dialogs' font leaves every label whole."""
import unittest

from harness import ToolTestCase


class LookTest(ToolTestCase):
    def test_caption_symbols_and_whole_dialog_labels(self):
        world = self.make_world(jpg=False, avi=False)
        with self.subTest("the caption buttons draw from Marlett"):
            rc, face = world.probe("face", "Marlett")
            self.assertEqual((0, "Marlett"), (rc, face.strip()))
        for dialog, (_, _, labels) in world.dialog_labels("CONFIG", "ABOUTDLG").items():
            with self.subTest("every label of %s fits its control" % dialog):
                self.assertTrue(labels)
                cut = [label for label in labels if label[1] > label[2]]
                self.assertEqual([], cut)


if __name__ == "__main__":
    unittest.main()
