#!/usr/bin/env python3
"""Measures, for each proportional Japanese font that Wine finds, how many
labels of the settings dialog (CONFIG) and the About box (ABOUTDLG) are cut
when that font stands in for the dialogs' "ＭＳ Ｐゴシック". A label is cut when
its text, in one line, needs more pixels than its control has.

The font that tools/common.sh sets in the template prefix (TORVANEL_DIALOG_FONT)
was chosen from this table. Run it through tools/measure_dialog_fonts.sh,
which installs the candidate fonts, builds, and makes the template prefix.

Usage: python3 tools/measure_dialog_fonts.py [--details]
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import World  # noqa: E402

DIALOG_FACE = "ＭＳ Ｐゴシック"
REPLACEMENTS = r"HKCU\Software\Wine\Fonts\Replacements"
DIALOGS = ("CONFIG", "ABOUTDLG")
# Families that cover Japanese but are drawn for other languages.
OTHER_LANGUAGES = (" HK", " KR", " SC", " TC")


def measure(world, font):
    """{dialog: (base units, client size, [cut labels])} with font standing in."""
    world.reg_add(REPLACEMENTS, DIALOG_FACE, "REG_SZ", font)
    return {dialog: (units, size, [label for label in labels if label[1] > label[2]])
            for dialog, (units, size, labels) in world.dialog_labels(*DIALOGS).items()}


def main(details):
    world = World(name="fonts")
    try:
        rc, out = world.probe("fonts")
        assert rc == 0, "probe failed"
        fonts = [f for f in out.splitlines() if not f.endswith(OTHER_LANGUAGES) and "ＭＳ" not in f]
        rows = []
        for font in fonts:
            result = measure(world, font)
            cut = sum(len(result[d][2]) for d in DIALOGS)
            over = sum(need - room for d in DIALOGS for _, need, room in result[d][2])
            rows.append((cut, over, font, result))
        # Fewest cut labels first, then the least overflow, then the smallest
        # dialog units: a 9-point font has a 12-pixel em at 96 DPI.
        rows.sort(key=lambda r: (r[0], r[1], r[3]["CONFIG"][0][1], r[3]["CONFIG"][0][0], r[2]))
        print("| font | cut in CONFIG | cut in ABOUTDLG | pixels over | base units | CONFIG pixels |")
        print("|---|---|---|---|---|---|")
        for cut, over, font, result in rows:
            units, size = result["CONFIG"][0], result["CONFIG"][1]
            print("| %s | %d | %d | %d | %d x %d | %d x %d |" % (
                font, len(result["CONFIG"][2]), len(result["ABOUTDLG"][2]), over,
                units[0], units[1], size[0], size[1]))
            if details:
                for d in DIALOGS:
                    for text, need, room in result[d][2]:
                        print("    %s: %s needs %d, has %d" % (d, text, need, room))
    finally:
        world.close()


if __name__ == "__main__":
    main("--details" in sys.argv[1:])
