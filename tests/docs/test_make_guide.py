#!/usr/bin/env python3
"""The packages' plain-text guide (packaging/make_guide.py): made from the tree's pages, whole
and without Markdown left in it; a section it needs that a page lost stops it; and the
conversion itself on small cases.

    test_make_guide.py --root DIR [unittest options]
"""
import importlib.util
import os
import re
import shutil
import sys
import tempfile
import unittest

ROOT = None
guide = None


def load(root):
    location = importlib.util.spec_from_file_location(
        "make_guide", os.path.join(root, "packaging", "make_guide.py"))
    module = importlib.util.module_from_spec(location)
    location.loader.exec_module(module)
    return module


# (what, Markdown under a heading "Heading", the plain text it must give)
CONVERSIONS = [
    ("a paragraph, wrapped at the guide's width, without its markup",
     ["**Bold** and `code` and a [link](other.md) and a", "[section link](other.md#a-b) here,"
      " words words words words words words words words words words."],
     ["Bold and code and a link and a \"section link\" here, words words words words",
      "words words words words words words."]),
    ("a bold lead-in that repeats the heading is dropped, another is kept",
     ["**Heading.** The rest.", "", "**Other.** Kept.", "", "**Heading** runs on."],
     ["The rest.", "", "Other. Kept.", "", "Heading runs on."]),
    ("an indented code block stays as it is, long lines too",
     ["    msiexec /i idrovan.msi /qn /l*v install.log    (a comment that runs on past the width)",
      "    second line"],
     ["    msiexec /i idrovan.msi /qn /l*v install.log    (a comment that runs on past the width)",
      "    second line"]),
    ("a list, each item wrapped under its dash",
     ["- first item, `with code`,", "  continued on a second line", "- second item"],
     ["  - first item, with code, continued on a second line", "  - second item"]),
    ("a two-column table as a label and its wrapped text",
     ["| Exit | Meaning |", "|---|---|", "| 0 | done |",
      "| 3010 | done, but a restart completes it: a program file that was in use is replaced at"
      " the restart |"],
     ["  Exit  Meaning", "  0     done",
      "  3010  done, but a restart completes it: a program file that was in use is",
      "        replaced at the restart"]),
    ("a wider table, each row's cells under its first, named by their headers",
     ["| A | B | C |", "|---|---|---|", "| a | b | c |", "| d | e | f |"],
     ["  a", "      B: b", "      C: c", "  d", "      B: e", "      C: f"]),
    ("a subsection's heading, with text right under it",
     ["### Sub `part`", "Text right under it."],
     ["", "Sub part", "........", "", "Text right under it."]),
    ("a fenced block as an indented one, its blank lines kept; a marker comment left out",
     ["<!-- docs-check: example name -->", "```bat", "set A=", "", "echo %A%", "```", "", "Text."],
     ["    set A=", "", "    echo %A%", "", "Text."]),
    ("an image is left out",
     ["![The dialog](idrovan.png)", "", "Text."],
     ["", "", "Text."]),
    ("a block marked for developers is left out, the text around it kept",
     ["Before.", "", "<!-- guide: leave out -->", "`scripts/package.sh` builds", "them.", "",
      "After."],
     ["Before.", "", "After."]),
    ("a marked fenced block is left out whole, its blank lines too",
     ["<!-- guide: leave out -->", "```sh", "a", "", "b", "```", "", "After."],
     ["After."]),
]


class MakeGuideTest(unittest.TestCase):
    def test_conversions(self):
        for what, markdown, expected in CONVERSIONS:
            with self.subTest(what):
                lines = guide.render(markdown, "Heading", 2)
                self.assertEqual(lines[:3], ["Heading", "-------", ""])
                self.assertEqual([line.rstrip() for line in lines[3:-1]], expected)

    def test_guide_from_the_tree(self):
        text = guide.make_guide(ROOT, "9.8.7.6")
        self.assertEqual(text, guide.make_guide(ROOT, "9.8.7.6"), "not deterministic")
        self.assertTrue(text.startswith("Veltrane Idrovan 9.8.7.6\n========================\n"))
        text.encode("ascii")  # Notepad on any code page shows ASCII alike
        lines = text.splitlines()
        for number, line in enumerate(lines, 1):
            with self.subTest(line=number):
                self.assertNotRegex(line, r"\]\(|\*\*|`|^#|^\|", "Markdown left in the guide")
                if not line.startswith("    "):
                    self.assertLessEqual(len(line), guide.WIDTH, line)
                self.assertEqual(line, line.rstrip())
        for page, heading in guide.GUIDE:
            with self.subTest(section=heading):
                title = guide.inline(heading)
                self.assertIn("\n%s\n%s\n" % (title, "-" * len(title)), text)
        # The reader's order: installing and the first run, daily use, scripting, security.
        at = [text.index("\n%s\n%s\n" % (title, "-" * len(title)))
              for title in ("From a zip", "Making the marker from any console", "Modes and options",
                            "Examples", "What the ID promises")]
        self.assertEqual(at, sorted(at), "the guide's sections out of the reader's order")
        # Nothing for the sources' developers: how the packages and the guide are made.
        for developer_text in ("scripts/package.sh", "make_guide", "build/dist", "never the guide"):
            with self.subTest(developer_text=developer_text):
                self.assertNotIn(developer_text, text)
        # A few facts an administrator looks for, from each page.
        for fact in ("HKEY_LOCAL_MACHINE\\Software\\Classes\\lrgDocID\\Rndund", "NOMARKER=1", "1603", "--no-write",
                     "--app-specific", "fsutil fsinfo volumeinfo", "SHA256SUMS", "MIT"):
            with self.subTest(fact=fact):
                self.assertIn(fact, text)

    def test_a_lost_section_stops_the_guide(self):
        with tempfile.TemporaryDirectory() as work:
            shutil.copytree(os.path.join(ROOT, "docs"), os.path.join(work, "docs"))
            shutil.copy(os.path.join(ROOT, "README.md"), work)
            page = os.path.join(work, "docs", "install-and-deploy.md")
            with open(page, encoding="utf-8") as source:
                text = source.read()
            self.assertIn("\n## Detection rule\n", text)
            with open(page, "w", encoding="utf-8") as target:
                target.write(text.replace("\n## Detection rule\n", "\n## Detecting Idrovan\n"))
            with self.assertRaisesRegex(guide.GuideError,
                                        r'docs/install-and-deploy.md has no section "Detection rule"'):
                guide.make_guide(work, "1.0.0.0")


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] != "--root":
        sys.exit(__doc__)
    ROOT = os.path.abspath(sys.argv[2])
    guide = load(ROOT)
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
