#!/usr/bin/env python3
"""Checks the project's pages: README.md and docs/*.md.

Every relative link must lead to a file or directory inside the repository, and a link with an
anchor into a Markdown page to one of its headings (GitHub's anchors). Every machine file a page
names (machines/NAME.json, in text, commands or links) must exist and load (`ccxsim machine`).

  check-doc-links.py --root DIR [--ccxsim PATH]

Prints one line per problem, naming the page, the link or file and what is missing, and exits 1
when there is any; 0 otherwise. Without --ccxsim, machine files are only checked to exist.
"""
import argparse
import os
import re
import subprocess
import sys

FENCE = re.compile(r"^\s*(```|~~~)")
INLINE_CODE = re.compile(r"(`+)(.+?)\1")
INLINE_LINK = re.compile(r"\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE_LINK = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+\"[^\"]*\")?\s*$")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
HTML_ANCHOR = re.compile(r"<a\s+(?:name|id)=\"([^\"]+)\"")
MACHINE_FILE = re.compile(r"(?<![\w./-])((?:\.\./)*machines/[\w.-]+\.json)\b")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def pages_of(root):
    """README.md and every Markdown page under docs/, as paths relative to root."""
    pages = ["README.md"]
    docs = os.path.join(root, "docs")
    if os.path.isdir(docs):
        pages += sorted(os.path.join("docs", name) for name in os.listdir(docs) if name.endswith(".md"))
    return [page for page in pages if os.path.isfile(os.path.join(root, page))]


def prose_lines(text):
    """The lines outside fenced code blocks, with their line numbers (links in code are not links)."""
    inside = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            inside = not inside
            continue
        if not inside:
            yield number, line


def slug(heading):
    """The anchor GitHub gives a heading: the rendered text in lower case, punctuation removed,
    spaces made hyphens."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # links and images keep their text
    text = text.replace("`", "").replace("*", "")
    text = re.sub(r"<[^>]+>", "", text)
    text = text.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors_of(text):
    """Every anchor a Markdown page offers; repeated headings get -1, -2, ... as on GitHub."""
    anchors = set()
    seen = {}
    for _, line in prose_lines(text):
        match = HEADING.match(line)
        if match:
            base = slug(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            anchors.add(base if count == 0 else "%s-%d" % (base, count))
        anchors.update(HTML_ANCHOR.findall(line))
    return anchors


def links_of(text):
    """(line number, target) of every inline and reference link outside code."""
    for number, line in prose_lines(text):
        reference = REFERENCE_LINK.match(line)
        if reference:
            yield number, reference.group(1)
            continue
        for match in INLINE_LINK.finditer(INLINE_CODE.sub(lambda m: "x" * len(m.group(0)), line)):
            # The target was found in the line with code spans blanked; take it from the original.
            yield number, line[match.start(1):match.end(1)]


def read(path):
    with open(path, encoding="utf-8") as stream:
        return stream.read()


def check_links(root, page, text, problems):
    page_dir = os.path.dirname(os.path.join(root, page))
    real_root = os.path.realpath(root)
    for number, target in links_of(text):
        if SCHEME.match(target) or target.startswith("//"):
            continue  # a web address: not this check's business
        where = "%s:%d: link %s" % (page, number, target)
        path, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(page_dir, path)) if path else os.path.join(root, page)
        if os.path.commonpath([real_root, os.path.realpath(resolved)]) != real_root:
            problems.append("%s: leads out of the repository, to %s" % (where, resolved))
            continue
        shown = os.path.relpath(resolved, root)
        if not os.path.exists(resolved):
            problems.append("%s: %s does not exist" % (where, shown))
            continue
        if anchor and resolved.endswith(".md"):
            if anchor not in anchors_of(read(resolved)):
                problems.append("%s: %s has no heading with the anchor #%s" % (where, shown, anchor))


def machine_files_of(text):
    """(line number, path relative to the repository) of every machine file the page names."""
    for number, line in enumerate(text.splitlines(), 1):
        for match in MACHINE_FILE.finditer(line):
            yield number, re.sub(r"^(\.\./)+", "", match.group(1))


def load_problem(ccxsim, path):
    """What `ccxsim machine` says when it refuses the machine file, or None when it loads."""
    run = subprocess.run([ccxsim, "machine", path], capture_output=True, text=True)
    return None if run.returncode == 0 else (run.stderr or run.stdout).strip()


def check_machine_files(root, named, ccxsim, problems):
    loaded = {}
    for page, number, machine in named:
        where = "%s:%d: machine file %s" % (page, number, machine)
        path = os.path.join(root, machine)
        if not os.path.isfile(path):
            problems.append("%s: does not exist" % where)
            continue
        if ccxsim is None:
            continue
        if machine not in loaded:
            loaded[machine] = load_problem(ccxsim, path)
        if loaded[machine] is not None:
            problems.append("%s: does not load: %s" % (where, loaded[machine]))


def check(root, ccxsim):
    problems = []
    named = []
    for page in pages_of(root):
        text = read(os.path.join(root, page))
        check_links(root, page, text, problems)
        named += [(page, number, machine) for number, machine in machine_files_of(text)]
    check_machine_files(root, named, ccxsim, problems)
    return problems, named


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="the repository")
    parser.add_argument("--ccxsim", help="ccxsim, to load the machine files the pages name")
    arguments = parser.parse_args()
    problems, named = check(arguments.root, arguments.ccxsim)
    for problem in problems:
        print(problem)
    if problems:
        print("%d problem%s in the pages" % (len(problems), "" if len(problems) == 1 else "s"))
        return 1
    machines = len({machine for _, _, machine in named})
    print("pages agree with the repository: %d pages, %d machine files %s" %
          (len(pages_of(arguments.root)), machines, "loaded" if arguments.ccxsim else "found"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
