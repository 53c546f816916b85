#!/usr/bin/env python3
"""Writes the plain-text user guide that the zips and MSIs carry (README.txt).

    make_guide.py [--version V] [--root DIR] [-o FILE] [--page PAGE]

The guide has no text of its own beyond its title: it is the sections of docs/security.md,
docs/scripting.md, docs/install-and-deploy.md and README.md's licence that a user or an
administrator needs (GUIDE below), turned into plain text, so that the guide and the pages
cannot drift apart. A section named in GUIDE that a page no longer has stops the build instead
of leaving a gap. The guide is read in its order: installing and the first run, then daily use,
then scripting, then what the ID promises and gives away.

A page marks text for its developers, which the guide's reader has no use for (how the packages
are built, how the guide is made), with a line of its own before it:

    <!-- guide: leave out -->

The block after it (a paragraph, list, table or fenced code block) stays on the page and is
left out of the guide.

With --page, one whole page as plain text instead (the SDK's library.txt from docs/library.md),
converted the same way.

The text depends only on the pages and the version (fixed wrapping, no dates), so that the
zips stay reproducible. Line ends are LF; scripts/package.sh makes them CR LF for Windows.
"""
import argparse
import os
import re
import sys
import textwrap

WIDTH = 76

# (page, section heading): what the guide holds, in this order, each with its subsections.
GUIDE = [
    # Installing, and the first run that makes the marker.
    ("docs/install-and-deploy.md", "The packages"),
    ("docs/install-and-deploy.md", "From a zip"),
    ("docs/install-and-deploy.md", "winget and Scoop"),
    ("docs/install-and-deploy.md", "Silent install and uninstall"),
    ("docs/install-and-deploy.md", "Exit codes of msiexec"),
    ("docs/install-and-deploy.md", "Detection rule"),
    ("docs/install-and-deploy.md", "PATH and agents"),
    ("docs/security.md", "The marker, once per machine"),
    ("docs/install-and-deploy.md", "The installation marker"),
    ("docs/scripting.md", "Making the marker from any console"),
    ("docs/security.md", "Standard users"),
    ("docs/install-and-deploy.md", "Upgrades"),
    ("docs/install-and-deploy.md", "Images, clones and virtual desktops"),
    ("docs/install-and-deploy.md", "Checksums"),
    # Daily use.
    ("docs/scripting.md", "Modes and options"),
    ("docs/scripting.md", "What --no-write is for"),
    ("docs/scripting.md", "Exit codes"),
    # Scripting.
    ("docs/scripting.md", "Examples"),
    ("docs/scripting.md", "The JSON report"),
    ("docs/scripting.md", "The renewal's JSON"),
    ("docs/scripting.md", "Reports no longer hold the facts"),
    ("docs/scripting.md", "Comparing with an earlier report"),
    ("docs/scripting.md", "Per-application IDs"),
    # What the ID promises, and what it gives away.
    ("docs/security.md", "What the ID promises"),
    ("docs/security.md", "What the ID is made of"),
    ("docs/security.md", "Where it writes"),
    ("docs/security.md", "Reading the facts themselves"),
    ("docs/security.md", "What a report gives away"),
    ("docs/security.md", "The fact fingerprint"),
    ("README.md", "Licence"),
]

# The guide's parts: each one's title and the heading of its first section in GUIDE. The guide
# opens with them as its contents, and each part starts with its title.
PARTS = [
    ("Installing, and the first run", "The packages"),
    ("Daily use", "Modes and options"),
    ("Scripting", "Examples"),
    ("What the ID promises, and what it gives away", "What the ID promises"),
    ("Licence", "Licence"),
]

HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*$")
FENCE = re.compile(r"^(```|~~~)")
COMMENT = re.compile(r"^\s*<!--.*-->\s*$")
LEAVE_OUT = re.compile(r"^\s*<!--\s*guide:\s*leave out\s*-->\s*$")
IMAGE = re.compile(r"!\[([^\]]*)\]\([^)]*\)")
# A link to a heading reads as the heading's name in quotes; one to a file as its text alone.
SECTION_LINK = re.compile(r"\[([^\]\"]*)\]\([^)#]*#[^)]*\)")
LINK = re.compile(r"\[([^\]]*)\]\([^)]*\)")
BOLD = re.compile(r"\*\*(.+?)\*\*")
LEAD_IN = re.compile(r"^\*\*(.+?)\*\*\s*")


class GuideError(Exception):
    pass


def inline(text):
    """Markdown's inline markup as plain text: link texts, no emphasis, no code quotes."""
    text = IMAGE.sub("", text)
    text = SECTION_LINK.sub(r'"\1"', text)
    text = LINK.sub(r"\1", text)
    text = BOLD.sub(r"\1", text)
    return text.replace("`", "")


def wrap(text, first="", rest=""):
    return textwrap.wrap(inline(text), width=WIDTH, initial_indent=first, subsequent_indent=rest,
                         break_long_words=False, break_on_hyphens=False) or [first.rstrip()]


def section(lines, heading):
    """The lines under a heading, up to the next heading of its level or above."""
    for start, line in enumerate(lines):
        match = HEADING.match(line)
        if match and match.group(2) == heading:
            level = len(match.group(1))
            body = []
            for line in lines[start + 1:]:
                other = HEADING.match(line)
                if other and len(other.group(1)) <= level:
                    break
                body.append(line)
            return body
    return None


def blocks(lines):
    """Runs of non-blank lines, a heading always a block of its own."""
    block = []
    for line in lines:
        if HEADING.match(line) or not line.strip():
            if block:
                yield block
            block = [line] if line.strip() else []
            if block:
                yield block
                block = []
        else:
            block.append(line)
    if block:
        yield block


def table(block):
    rows = [[inline(cell.strip()) for cell in line.strip().strip("|").split("|")]
            for line in block if not re.match(r"^\|[\s:|-]+\|$", line.strip())]
    out = []
    if all(len(row) == 2 for row in rows):
        # Two columns: the first as a label, the second wrapped beside it.
        label = min(max(len(row[0]) for row in rows), 24) + 2
        for key, value in rows:
            if len(key) + 2 > label:
                out.append("  " + key)
                out += wrap(value, " " * (label + 2), " " * (label + 2))
            else:
                out += wrap(value, "  " + key.ljust(label), " " * (label + 2))
        return out
    # More columns: each row's first cell, then the others under it, named by their headers.
    header = rows[0]
    for row in rows[1:]:
        out += wrap(row[0], "  ", "    ")
        for name, cell in zip(header[1:], row[1:]):
            out += wrap("%s: %s" % (name, cell), "      ", "        ")
    return out


def leave_out(lines):
    """The lines without each block that a "guide: leave out" line marks (see the top)."""
    out = []
    index = 0
    while index < len(lines):
        if not LEAVE_OUT.match(lines[index]):
            out.append(lines[index])
            index += 1
            continue
        index += 1
        while index < len(lines) and not lines[index].strip():
            index += 1
        fence = FENCE.match(lines[index]) if index < len(lines) else None
        if fence:
            index += 1
            while index < len(lines) and not lines[index].startswith(fence.group(1)):
                index += 1
            index += 1
        else:
            while index < len(lines) and lines[index].strip():
                index += 1
    return out


def unfence(lines):
    """Fenced code blocks as indented ones, and HTML comments (the docs check's markers, which
    name an example) left out: the guide shows code one way."""
    out = []
    fence = None
    for line in lines:
        match = FENCE.match(line)
        if fence:
            if match and match.group(1) == fence:
                fence = None
            else:
                out.append("    " + line if line.strip() else "")
            continue
        if match:
            fence = match.group(1)
        elif not COMMENT.match(line):
            out.append(line)
    return out


def render(lines, heading, level):
    lines = unfence(leave_out(lines))
    out = []
    title = inline(heading)
    out += [title, ("-" if level <= 2 else ".") * len(title), ""]
    for block in blocks(lines):
        match = HEADING.match(block[0])
        if match:
            title = inline(match.group(2))
            out += ["", title, "." * len(title), ""]
            continue
        if all(line.startswith("    ") for line in block):
            out += [line.rstrip() for line in block]
        elif block[0].startswith("|"):
            out += table(block)
        elif block[0].startswith("- "):
            items = []
            for line in block:
                if line.startswith("- "):
                    items.append(line[2:])
                else:
                    items[-1] += " " + line.strip()
            for item in items:
                out += wrap(item, "  - ", "    ")
        else:
            text = " ".join(line.strip() for line in block)
            lead = LEAD_IN.match(text)
            # A bold sentence that only repeats the section's heading is said once.
            if lead and lead.group(1).endswith(".") and inline(lead.group(1))[:-1] == inline(heading):
                text = text[lead.end():]
            out += wrap(text)
        out.append("")
    return out


def make_guide(root, version):
    pages = {}
    out = []
    title = "Veltrane Idrovan %s" % version if version else "Veltrane Idrovan"
    out += [title, "=" * len(title), ""]
    starts = dict((first, part) for part, first in PARTS)
    headings = [heading for _, heading in GUIDE]
    if set(starts) - set(headings):
        raise GuideError("a part starts with a section the guide lacks: %s" %
                         ", ".join(sorted(set(starts) - set(headings))))
    out += ["Contents", ""]
    for heading in headings:
        if heading in starts:
            out += ["  " + starts[heading]]
        if starts.get(heading) != heading:  # a part of one section of its name: said once
            out += ["    " + inline(heading)]
    out += ["", ""]
    for page, heading in GUIDE:
        if heading in starts and starts[heading] != heading:
            part = starts[heading].upper()
            out += [part, "=" * len(part), "", ""]
        if page not in pages:
            path = os.path.join(root, page)
            try:
                with open(path, encoding="utf-8") as source:
                    pages[page] = source.read().splitlines()
            except OSError as error:
                raise GuideError("cannot read %s: %s" % (path, error.strerror))
        body = section(pages[page], heading)
        if body is None:
            raise GuideError("%s has no section \"%s\" for the guide" % (page, heading))
        out += render(body, heading, 2)
        out.append("")
    while out and not out[-1]:
        out.pop()
    # Blank lines never come more than two in a row.
    text = re.sub(r"\n{4,}", "\n\n\n", "\n".join(out) + "\n")
    return text


def make_page(root, page, version):
    """A whole page as plain text: its title with the version, its opening text, then each of its
    sections with their subsections."""
    path = os.path.join(root, page)
    try:
        with open(path, encoding="utf-8") as source:
            lines = source.read().splitlines()
    except OSError as error:
        raise GuideError("cannot read %s: %s" % (path, error.strerror))
    first = HEADING.match(lines[0]) if lines else None
    if not first or len(first.group(1)) != 1:
        raise GuideError("%s does not start with its title" % page)
    title = "Veltrane Idrovan %s: %s" % (version, inline(first.group(2)))
    out = [title, "=" * len(title), ""]
    headings = [number for number, line in enumerate(lines)
                if HEADING.match(line) and len(HEADING.match(line).group(1)) == 2]
    out += render(lines[1:headings[0] if headings else len(lines)], "", 2)[3:]
    for number in headings:
        heading = HEADING.match(lines[number]).group(2)
        out += [""] + render(section(lines[number:], heading), heading, 2)
    while out and not out[-1]:
        out.pop()
    return re.sub(r"\n{4,}", "\n\n\n", "\n".join(out) + "\n")


def main():
    parser = argparse.ArgumentParser(description="Writes the plain-text user guide.")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--version", help="the version in the title (default: the file VERSION)")
    parser.add_argument("--root", default=root, help="the sources, where README.md and docs/ lie")
    parser.add_argument("-o", "--output", help="the file to write (default: standard output)")
    parser.add_argument("--page", help="one whole page instead of the guide, e.g. docs/library.md")
    args = parser.parse_args()
    version = args.version
    try:
        if version is None:
            with open(os.path.join(args.root, "VERSION"), encoding="ascii") as source:
                version = source.read().strip()
        if args.page:
            text = make_page(args.root, args.page, version)
        else:
            text = make_guide(args.root, version)
    except OSError as error:
        sys.exit("make_guide.py: cannot read %s: %s" % (error.filename, error.strerror))
    except GuideError as error:
        sys.exit("make_guide.py: %s" % error)
    if args.output:
        with open(args.output, "w", encoding="utf-8", newline="\n") as target:
            target.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
