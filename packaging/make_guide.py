#!/usr/bin/env python3
"""Writes the plain-text user guide that the zips and MSIs carry (README.txt).

    make_guide.py [--version V] [--root DIR] [-o FILE]

The guide has no text of its own beyond its title: it is the sections of docs/security.md,
docs/scripting.md, docs/install-and-deploy.md and README.md's licence that a user or an
administrator needs (GUIDE below), turned into plain text, so that the guide and the pages
cannot drift apart. A section named in GUIDE that a page no longer has stops the build instead
of leaving a gap.

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
    ("docs/security.md", "What the ID promises"),
    ("docs/security.md", "What the ID is made of"),
    ("docs/security.md", "Where it writes"),
    ("docs/security.md", "The marker, once per machine"),
    ("docs/security.md", "Standard users"),
    ("docs/scripting.md", "Modes and options"),
    ("docs/scripting.md", "Examples"),
    ("docs/scripting.md", "Exit codes"),
    ("docs/scripting.md", "What --no-write is for"),
    ("docs/scripting.md", "The JSON report"),
    ("docs/scripting.md", "The renewal's JSON"),
    ("docs/scripting.md", "Reports no longer hold the facts"),
    ("docs/scripting.md", "Comparing with an earlier report"),
    ("docs/scripting.md", "Per-application IDs"),
    ("docs/security.md", "Reading the facts themselves"),
    ("docs/security.md", "What a report gives away"),
    ("docs/security.md", "The fact fingerprint"),
    ("docs/install-and-deploy.md", "The packages"),
    ("docs/install-and-deploy.md", "Silent install and uninstall"),
    ("docs/install-and-deploy.md", "Exit codes of msiexec"),
    ("docs/install-and-deploy.md", "Detection rule"),
    ("docs/install-and-deploy.md", "PATH and agents"),
    ("docs/install-and-deploy.md", "Upgrades"),
    ("docs/install-and-deploy.md", "Images, clones and virtual desktops"),
    ("docs/install-and-deploy.md", "The installation marker"),
    ("docs/install-and-deploy.md", "From a zip"),
    ("docs/install-and-deploy.md", "Checksums"),
    ("README.md", "Licence"),
]

HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*$")
FENCE = re.compile(r"^(```|~~~)")
COMMENT = re.compile(r"^\s*<!--.*-->\s*$")
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
    lines = unfence(lines)
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
    sources = list(dict.fromkeys(page for page, _ in GUIDE))
    out += wrap("This guide is made from %s and %s of Idrovan's sources." %
                (", ".join(sources[:-1]), sources[-1])) + ["", ""]
    for page, heading in GUIDE:
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


def main():
    parser = argparse.ArgumentParser(description="Writes the plain-text user guide.")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--version", help="the version in the title (default: the file VERSION)")
    parser.add_argument("--root", default=root, help="the sources, where README.md and docs/ lie")
    parser.add_argument("-o", "--output", help="the file to write (default: standard output)")
    args = parser.parse_args()
    version = args.version
    try:
        if version is None:
            with open(os.path.join(args.root, "VERSION"), encoding="ascii") as source:
                version = source.read().strip()
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
