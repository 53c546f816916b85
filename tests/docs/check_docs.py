#!/usr/bin/env python3
"""Checks that the documentation agrees with itself and with the console's help.

    check_docs.py --root DIR (--help-program PROGRAM | --help-file FILE)
    check_docs.py --root DIR --examples OUT


- Every relative link in DIR/README.md and DIR/docs/**/*.md names a file or folder of the tree
  and, with #anchor, a heading of that Markdown file (the anchors GitHub makes from headings).
  A link that leaves the tree is refused: it resolves nowhere but on one machine.
- Every option that the help names (--long, -h, /?) appears in docs/scripting.md.
- Every exit code that the help lists is a row of the table under "Exit codes" in
  docs/scripting.md, and that table lists no code the help does not.
- No command in a code block is continued (a line ending in \ for a shell, ^ for cmd, ` for
  PowerShell) onto a blank line or past the block's end: the shell runs it without the rest.
- Every example marked to be run is well formed: the marker, an HTML comment on a line of its
  own, is followed by a fenced block with a language tag, and no name is used twice:

      <!-- docs-check: example NAME -->
      ```bat
      ...
      ```

With --examples, writes each marked example to OUT/NAME.LANGUAGE (the block's text as it is),
prints "NAME LANGUAGE PAGE:LINE" for each, and checks nothing else; tests/docs/run_examples.sh
runs them. A marker on a page that the tests do not know an example of fails there, so every
marked example is run.

The help is what PROGRAM prints (tests/docs/print_help.cpp prints the console's own help text),
or the text of FILE. Prints one line per fault as FILE:LINE: what is wrong, and exits 1 when
there is any; 0 when there is none.
"""
import argparse
import glob
import os
import re
import subprocess
import sys

HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^ {0,3}(```|~~~)\s*([\w+-]*)")
EXAMPLE_MARKER = re.compile(r"^\s*<!--\s*docs-check:\s*example\s+([a-z0-9][a-z0-9-]*)\s*-->\s*$")
# A line that starts like a marker, to catch one spelt wrong (one shown in prose, in a code span,
# is no marker).
ANY_MARKER = re.compile(r"^\s*<!--\s*docs-check")
# A line that continues a command onto the next: a shell's \, cmd's ^, PowerShell's `.
CONTINUED = re.compile(r"(?:^|\s)(\\|\^|`)$")
INLINE_LINK = re.compile(r"!?\[((?:[^\[\]]|\[[^\]]*\])*)\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+\"[^\"]*\")?\s*$")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")
# An option as the help writes one: --word-word, a single-letter -h, or /?.
OPTION = re.compile(r"(?<![\w/-])(--[a-z][a-z0-9-]*|-[a-z](?![\w-])|/\?)")
HELP_EXIT_CODE = re.compile(r"^ {1,4}(\d+) {2,}\S")


def prose_lines(text):
    """(line number, line, line with its code spans blanked) of the lines that are not code:
    fenced and indented blocks are left out, so that a link shown as an example is not followed."""
    in_fence = None
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.splitlines(), 1):
        fence = FENCE.match(line)
        if in_fence:
            if fence and fence.group(1) == in_fence:
                in_fence = None
            continue
        if fence:
            in_fence = fence.group(1)
            continue
        blank = not line.strip()
        if line.startswith("    ") and (previous_blank or in_indented) and not blank:
            in_indented = True
            previous_blank = False
            continue
        if not blank:
            in_indented = False
        previous_blank = blank
        yield number, line, CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)


def github_anchor(heading):
    """The anchor GitHub gives a heading: its text without markup, lower case, with every
    character but letters, digits, spaces, hyphens and underscores dropped, spaces as hyphens."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = text.replace("`", "").replace("*", "")
    text = text.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    """Every anchor of a Markdown file; a repeated heading gets -1, -2, ... as on GitHub."""
    seen = {}
    result = set()
    with open(path, encoding="utf-8") as source:
        for _, line, _ in prose_lines(source.read()):
            match = HEADING.match(line)
            if not match:
                continue
            anchor = github_anchor(match.group(2))
            if anchor in seen:
                seen[anchor] += 1
                anchor = "%s-%d" % (anchor, seen[anchor])
            else:
                seen[anchor] = 0
            result.add(anchor)
    return result


def link_targets(line):
    for match in INLINE_LINK.finditer(line):
        yield match.group(2)
    match = REFERENCE.match(line)
    if match:
        yield match.group(1)


def check_links(root, faults):
    root = os.path.realpath(root)
    pages = [os.path.join(root, "README.md")]
    pages += sorted(glob.glob(os.path.join(root, "docs", "**", "*.md"), recursive=True))
    anchor_cache = {}
    for page in pages:
        if not os.path.isfile(page):
            faults.append("%s: missing" % os.path.relpath(page, root))
            continue
        name = os.path.relpath(page, root)
        with open(page, encoding="utf-8") as source:
            text = source.read()
        for number, _, line in prose_lines(text):
            for target in link_targets(line):
                if not target or SCHEME.match(target) or target.startswith("//"):
                    continue
                path_part, _, anchor = target.partition("#")
                where = "%s:%d: link %s" % (name, number, target)
                if path_part:
                    resolved = os.path.realpath(os.path.join(os.path.dirname(page), path_part))
                    if os.path.commonpath([resolved, root]) != root:
                        faults.append("%s leaves the repository" % where)
                        continue
                    if not os.path.exists(resolved):
                        faults.append("%s: no such file" % where)
                        continue
                else:
                    resolved = page
                if not anchor:
                    continue
                if not resolved.endswith(".md") or not os.path.isfile(resolved):
                    faults.append("%s: an anchor into a file that is not Markdown" % where)
                    continue
                if resolved not in anchor_cache:
                    anchor_cache[resolved] = anchors(resolved)
                if anchor not in anchor_cache[resolved]:
                    faults.append("%s: %s has no heading #%s" %
                                  (where, os.path.relpath(resolved, root), anchor))


def code_blocks(text):
    """(first line number, [(number, line), ...]) of every fenced block (between its fences) and
    every indented block (blank lines within it included, not those after it)."""
    lines = text.splitlines()
    index = 0
    previous_blank = True
    while index < len(lines):
        line = lines[index]
        fence = FENCE.match(line)
        if fence:
            body = []
            index += 1
            while index < len(lines) and not lines[index].lstrip().startswith(fence.group(1)):
                body.append((index + 1, lines[index]))
                index += 1
            yield body[0][0] if body else index, body
            index += 1
            previous_blank = False
            continue
        if line.startswith("    ") and line.strip() and previous_blank:
            body = []
            while index < len(lines) and (lines[index].startswith("    ") or not lines[index].strip()):
                body.append((index + 1, lines[index]))
                index += 1
            while body and not body[-1][1].strip():
                body.pop()
            yield body[0][0], body
            previous_blank = False
            continue
        previous_blank = not line.strip()
        index += 1


def pages(root):
    return [os.path.join(root, "README.md")] + sorted(
        glob.glob(os.path.join(root, "docs", "**", "*.md"), recursive=True))


def check_continuations(root, faults):
    """A command continued onto a blank line, or past its block's end, loses its rest."""
    for page in pages(root):
        if not os.path.isfile(page):
            continue
        with open(page, encoding="utf-8") as source:
            text = source.read()
        for _, body in code_blocks(text):
            for position, (number, line) in enumerate(body):
                if not CONTINUED.search(line.rstrip()):
                    continue
                following = body[position + 1][1] if position + 1 < len(body) else ""
                if not following.strip():
                    faults.append("%s:%d: a continued command ends at %s" %
                                  (os.path.relpath(page, root), number,
                                   "a blank line" if position + 1 < len(body) else "the block's end"))


def examples(root, faults):
    """{name: (language, text, page, line)} of the examples marked to be run."""
    found = {}
    for page in pages(root):
        if not os.path.isfile(page):
            continue
        name = os.path.relpath(page, root)
        with open(page, encoding="utf-8") as source:
            lines = source.read().splitlines()
        for index, line in enumerate(lines):
            if not ANY_MARKER.search(line):
                continue
            where = "%s:%d" % (name, index + 1)
            marker = EXAMPLE_MARKER.match(line)
            if not marker:
                faults.append("%s: not a marker of the form <!-- docs-check: example NAME -->" % where)
                continue
            following = index + 1
            while following < len(lines) and not lines[following].strip():
                following += 1
            fence = FENCE.match(lines[following]) if following < len(lines) else None
            if not fence or not fence.group(2):
                faults.append("%s: the example %s is not followed by a fenced block with a language"
                              % (where, marker.group(1)))
                continue
            body = []
            end = following + 1
            while end < len(lines) and not lines[end].lstrip().startswith(fence.group(1)):
                body.append(lines[end])
                end += 1
            if end == len(lines):
                faults.append("%s: the example %s's block is not closed" % (where, marker.group(1)))
                continue
            if marker.group(1) in found:
                faults.append("%s: the example name %s is used twice (also %s:%d)" %
                              ((where, marker.group(1)) + found[marker.group(1)][2:]))
                continue
            found[marker.group(1)] = (fence.group(2), "\n".join(body) + "\n", name, index + 1)
    return found


def write_examples(root, out):
    faults = []
    found = examples(root, faults)
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        return 1
    os.makedirs(out, exist_ok=True)
    for name, (language, text, page, line) in sorted(found.items()):
        with open(os.path.join(out, "%s.%s" % (name, language)), "w", encoding="utf-8",
                  newline="\n") as target:
            target.write(text)
        print("%s %s %s:%d" % (name, language, page, line))
    return 0


def help_exit_codes(help_text):
    codes = []
    in_codes = False
    for line in help_text.splitlines():
        if line.strip().lower().startswith("exit codes"):
            in_codes = True
            continue
        if in_codes:
            match = HELP_EXIT_CODE.match(line)
            if match:
                codes.append(match.group(1))
    return codes


def exit_code_table(lines):
    """{code: line number} of the table's rows under the heading "Exit codes", or None."""
    in_section = False
    rows = None
    for number, line in lines:
        match = HEADING.match(line)
        if match:
            if in_section:
                break
            in_section = github_anchor(match.group(2)) == "exit-codes"
            continue
        if not in_section:
            continue
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if not line.lstrip().startswith("|"):
            if rows:
                break
            continue
        if rows is None:
            if cells[0].lower() == "exit":
                rows = {}
            continue
        if re.fullmatch(r"\d+", cells[0]):
            rows[cells[0]] = number
    return rows


def check_console(root, help_text, faults):
    page = os.path.join(root, "docs", "scripting.md")
    name = os.path.relpath(page, root)
    try:
        with open(page, encoding="utf-8") as source:
            text = source.read()
    except OSError:
        faults.append("%s: missing" % name)
        return
    documented = set(OPTION.findall(text))
    options = sorted(set(OPTION.findall(help_text)))
    if not options:
        faults.append("the help names no option: is it the console's help?")
    for option in options:
        if option not in documented:
            faults.append("%s: the help's option %s is not described" % (name, option))
    codes = help_exit_codes(help_text)
    if not codes:
        faults.append("the help lists no exit code: is it the console's help?")
    table = exit_code_table(list(enumerate(text.splitlines(), 1)))
    if table is None:
        faults.append("%s: no exit-code table (| Exit | ... |) under a heading \"Exit codes\"" % name)
        return
    for code in codes:
        if code not in table:
            faults.append("%s: exit code %s of the help is not in the exit-code table" % (name, code))
    for code, number in sorted(table.items()):
        if code not in codes:
            faults.append("%s:%d: exit code %s is not in the help" % (name, number, code))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="the tree: README.md and docs/")
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--examples", metavar="OUT", help="write the marked examples into OUT")
    source.add_argument("--help-program", help="a program that prints the console's help")
    source.add_argument("--help-file", help="a file that holds the console's help")
    args = parser.parse_args()
    if args.examples:
        return write_examples(args.root, args.examples)
    if args.help_program:
        run = subprocess.run([args.help_program], stdout=subprocess.PIPE, check=False)
        if run.returncode != 0:
            sys.exit("check_docs.py: %s exited %d" % (args.help_program, run.returncode))
        help_text = run.stdout.decode("ascii")
    else:
        with open(args.help_file, encoding="ascii") as source:
            help_text = source.read()
    faults = []
    check_links(args.root, faults)
    check_console(args.root, help_text, faults)
    check_continuations(args.root, faults)
    examples(args.root, faults)
    for fault in faults:
        print(fault)
    if faults:
        print("check_docs.py: %d fault(s)" % len(faults))
        return 1
    print("check_docs.py: the links, options, exit codes, continued commands and example markers agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
