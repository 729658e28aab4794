"""The application manifest of the built torvanel.exe, decoded by binutils'
windres. (The templates, menu and icon beside it are exercised by the other
end-to-end tests.)"""
import os
import re
import subprocess
import unittest
import xml.etree.ElementTree as ET

from harness import EXE

WINDRES = "x86_64-w64-mingw32-windres"
ASM = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


def decoded():
    return subprocess.run([WINDRES, "-i", EXE, "-O", "rc"], stdout=subprocess.PIPE,
                          check=True).stdout.decode("utf-8")


def manifest(rc):
    """The text of resource 1 of type RT_MANIFEST, joined from windres' string lines."""
    block = re.search(r'^1 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)^END', rc, re.M | re.S)
    if not block:
        return None
    parts = re.findall(r'^\s*"((?:[^"]|"")*)"\s*$', block.group(1), re.M)
    text = "".join(parts).replace('""', '"')
    return text.encode("latin-1").decode("unicode_escape")


class ResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rc = decoded()

    def test_manifest_asks_for_visual_styles_windows_7_to_11_and_as_invoker(self):
        text = manifest(self.rc)
        self.assertIsNotNone(text, "no RT_MANIFEST resource 1")
        root = ET.fromstring(text)
        controls = [a.attrib for a in root.iter(ASM + "assemblyIdentity")
                    if a.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(1, len(controls))
        self.assertEqual(("6.0.0.0", "*", "6595b64144ccf1df", "win32"),
                         (controls[0]["version"], controls[0]["processorArchitecture"],
                          controls[0]["publicKeyToken"], controls[0]["type"]))
        self.assertEqual(SUPPORTED_OS, {e.get("Id") for e in root.iter(COMPAT + "supportedOS")})
        levels = [e.attrib for e in root.iter(ASM3 + "requestedExecutionLevel")]
        self.assertEqual([{"level": "asInvoker", "uiAccess": "false"}], levels)
        # No DPI awareness of any kind: the system scales the window.
        self.assertNotRegex(text, r"(?i)dpiAware")


if __name__ == "__main__":
    unittest.main()
