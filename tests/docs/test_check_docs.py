#!/usr/bin/env python3
"""The docs check on small trees: fixtures/good passes, and each fault put into a copy of it on
purpose (a link to a missing file or heading, an option or exit code left out of the console
page, a continued command that ends at a blank line, a marked example that is not well formed)
makes the check fail with a line that names it; the marked examples are extracted as written."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, "check_docs.py")
GOOD = os.path.join(HERE, "fixtures", "good")

# (what is broken, file, text replaced, replacement, what the check must say)
BROKEN = [
    ("a link to a missing file", "README.md", "(docs/scripting.md)", "(docs/scriptng.md)",
     "README.md:3: link docs/scriptng.md: no such file"),
    ("a link to a missing heading", "README.md", "scripting.md#exit-codes",
     "scripting.md#exit-code", "README.md:3: link docs/scripting.md#exit-code: "
     "docs/scripting.md has no heading #exit-code"),
    ("a repeated heading's anchor that GitHub does not make", "README.md", "#notes-1", "#notes-2",
     "docs/scripting.md has no heading #notes-2"),
    ("an anchor within the page", "docs/scripting.md", "(#the-console)", "(#the-consol)",
     "docs/scripting.md:4: link #the-consol: docs/scripting.md has no heading #the-consol"),
    ("a link back out of docs/ to a missing heading", "docs/scripting.md", "#a-tree-whose",
     "#the-tree-whose", "has no heading #the-tree-whose-links"),
    ("a reference link to a missing heading", "README.md", "#what---quiet-is-for",
     "#what-quiet-is-for", "README.md:14: link docs/scripting.md#what-quiet-is-for"),
    ("an image that is missing", "README.md", "(docs/picture.txt)", "(docs/picture.png)",
     "link docs/picture.png: no such file"),
    ("an anchor into a file that is not Markdown", "README.md", "(docs/picture.txt)",
     "(docs/picture.txt#top)", "an anchor into a file that is not Markdown"),
    ("a link that leaves the tree", "README.md", "(docs/picture.txt)", "(../../check_docs.py)",
     "link ../../check_docs.py leaves the repository"),
    ("an option of the help left out", "docs/scripting.md", "`--name NAME`", "`NAME`",
     "the help's option --name is not described"),
    ("/? left out", "docs/scripting.md", "and `/?` show", "show",
     "the help's option /? is not described"),
    ("an exit code of the help left out", "docs/scripting.md", "| 2 | a wrong command line |\n",
     "", "exit code 2 of the help is not in the exit-code table"),
    ("an exit code the help does not have", "docs/scripting.md", "| 0 | done |\n",
     "| 0 | done |\n| 3 | no rights |\n", "docs/scripting.md:19: exit code 3 is not in the help"),
    ("no exit-code table", "docs/scripting.md", "## Exit codes", "## Leaving",
     "no exit-code table"),
    ("a shell command continued onto a blank line", "docs/scripting.md", "first \\\n",
     "first \\\n\n", "docs/scripting.md:29: a continued command ends at a blank line"),
    ("a cmd command continued past its block's end", "docs/scripting.md", "^\n  world\n", "^\n",
     "docs/scripting.md:34: a continued command ends at the block's end"),
    ("a PowerShell command continued onto a blank line", "docs/scripting.md", "echo hello ^",
     "echo hello `\n", "docs/scripting.md:34: a continued command ends at a blank line"),
    ("an example marker spelt wrong", "docs/scripting.md", "docs-check: example hello",
     "docs-check: exmple hello", "docs/scripting.md:32: not a marker of the form"),
    ("a marked block without a language", "docs/scripting.md", "```bat", "```",
     "docs/scripting.md:32: the example hello is not followed by a fenced block with a language"),
    ("a marked example that is not in a fenced block", "docs/scripting.md", "```bat\n", "\n    ",
     "the example hello is not followed by a fenced block"),
    ("an example name used twice", "docs/scripting.md", "## Examples\n",
     "## Examples\n\n<!-- docs-check: example hello -->\n```bat\necho\n```\n",
     "the example name hello is used twice"),
]


def run_checker(root):
    run = subprocess.run([sys.executable, CHECKER, "--root", root, "--help-file",
                          os.path.join(root, "help.txt")],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    return run.returncode, run.stdout.decode("utf-8")


class CheckDocsTest(unittest.TestCase):
    def test_good_tree_passes(self):
        code, output = run_checker(GOOD)
        self.assertEqual(code, 0, output)

    def test_each_fault_fails_the_check(self):
        for what, name, old, new, expected in BROKEN:
            with self.subTest(what), tempfile.TemporaryDirectory() as work:
                root = os.path.join(work, "tree")
                shutil.copytree(GOOD, root)
                path = os.path.join(root, name)
                with open(path, encoding="utf-8") as source:
                    text = source.read()
                self.assertIn(old, text, "the fixture has changed under this case")
                with open(path, "w", encoding="utf-8") as target:
                    target.write(text.replace(old, new, 1))
                code, output = run_checker(root)
                self.assertEqual(code, 1, output)
                self.assertIn(expected, output)

    def test_examples_are_written_as_they_are(self):
        with tempfile.TemporaryDirectory() as out:
            run = subprocess.run([sys.executable, CHECKER, "--root", GOOD, "--examples", out],
                                 stdout=subprocess.PIPE, check=False)
            self.assertEqual(run.returncode, 0)
            self.assertEqual(run.stdout.decode("utf-8"), "hello bat docs/scripting.md:32\n")
            self.assertEqual(os.listdir(out), ["hello.bat"])
            with open(os.path.join(out, "hello.bat"), encoding="utf-8") as source:
                self.assertEqual(source.read(), "echo hello ^\n  world\n")

    def test_missing_front_page_fails(self):
        with tempfile.TemporaryDirectory() as work:
            root = os.path.join(work, "tree")
            shutil.copytree(GOOD, root)
            os.remove(os.path.join(root, "README.md"))
            code, output = run_checker(root)
            self.assertEqual(code, 1, output)
            self.assertIn("README.md: missing", output)


if __name__ == "__main__":
    unittest.main()
