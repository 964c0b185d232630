#!/usr/bin/env python3
"""Every relative link and anchor in README.md and docs/*.md must lead somewhere.

Usage: check_links.py ROOT          checks the repository at ROOT
       check_links.py --self-test   shows that each kind of broken link is caught

Anchors are GitHub's: a heading lower-cased, punctuation dropped, spaces as hyphens, and a
repeated heading numbered -1, -2, ... Links inside code (fenced or inline) are not links.
"""
import os
import re
import sys
import tempfile

LINK = re.compile(r"\[(?:[^\]\[]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+\"[^\"]*\")?\s*$")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^\s{0,3}(```|~~~)")
EXTERNAL = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def outside_fences(text):
    """The lines outside fenced code blocks."""
    fenced = None
    for line in text.splitlines():
        fence = FENCE.match(line)
        if fence:
            if fenced is None:
                fenced = fence.group(1)
            elif fence.group(1) == fenced:
                fenced = None
        elif fenced is None:
            yield line


def prose_lines(text):
    """The lines outside fenced code, with inline code spans blanked out."""
    for line in outside_fences(text):
        yield re.sub(r"(`+)(.+?)\1", lambda m: " " * len(m.group(0)), line)


def slug(heading):
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link in a heading: its text
    text = text.strip().lower().replace("`", "")
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    seen = {}
    found = set()
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for line in outside_fences(text):
        match = HEADING.match(line)
        if match:
            base = slug(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
    return found


def documents(root):
    docs = [os.path.join(root, "README.md")]
    folder = os.path.join(root, "docs")
    if os.path.isdir(folder):
        for dirpath, _, names in os.walk(folder):
            docs += [os.path.join(dirpath, n) for n in sorted(names) if n.endswith(".md")]
    return [d for d in docs if os.path.isfile(d)]


def check(root):
    problems = []
    for doc in documents(root):
        with open(doc, encoding="utf-8") as f:
            text = f.read()
        for number, line in enumerate(prose_lines(text), 1):
            targets = [m.group(1) for m in LINK.finditer(line)]
            reference = REFERENCE.match(line)
            if reference:
                targets.append(reference.group(1))
            for target in targets:
                if EXTERNAL.match(target):
                    continue
                where = os.path.relpath(doc, root)
                path, _, anchor = target.partition("#")
                resolved = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
                if not os.path.exists(resolved):
                    problems.append(f"{where}: {target}: no such file")
                elif anchor and resolved.endswith(".md") and anchor not in anchors(resolved):
                    problems.append(f"{where}: {target}: no such heading")
    return problems


def self_test():
    cases = {
        "a missing file": ("[x](docs/missing.md)", "no such file"),
        "a missing heading here": ("# Title\n[x](#elsewhere)", "no such heading"),
        "a missing heading there": ("[x](docs/a.md#nowhere)", "no such heading"),
    }
    failures = 0
    for name, (readme, expected) in cases.items():
        with tempfile.TemporaryDirectory() as root:
            os.mkdir(os.path.join(root, "docs"))
            with open(os.path.join(root, "docs", "a.md"), "w", encoding="utf-8") as f:
                f.write("# A `b`: c\n## Again\n## Again\n[up](../README.md)\n")
            with open(os.path.join(root, "README.md"), "w", encoding="utf-8") as f:
                f.write(readme + "\n[ok](docs/a.md#a-b-c) [ok](docs/a.md#again-1) `[no](x.md)`\n")
            found = check(root)
            if len(found) != 1 or expected not in found[0]:
                print(f"self-test, {name}: expected one '{expected}', got {found}")
                failures += 1
    return failures


if __name__ == "__main__":
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(1 if self_test() else 0)
    found = check(sys.argv[1])
    for problem in found:
        print(problem)
    sys.exit(1 if found else 0)
