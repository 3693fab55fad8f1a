"""Every relative link of README.md and docs/*.md leads somewhere: the file it names exists, and
an anchor (`#...`, alone or after a file) is a heading of that file as GitHub renders it. The
README links every chapter of docs/. Before the real files, the checker runs on a small tree of
its own with a broken file link, a broken anchor and an unlinked chapter, and must find all three.

Usage: links_test.py SOURCE_DIR
"""

import re
import sys
import tempfile
from pathlib import Path

LINK = re.compile(r"\]\(([^)\s]+)\)")
HEADING = re.compile(r"^(#{1,6})[ \t]+(.*?)[ \t]*#*[ \t]*$")


def prose(text):
    """The lines of TEXT outside fenced code blocks, with their inline code spans as text."""
    fenced = None
    for line in text.splitlines():
        fence = re.match(r"^ *(```+|~~~+)", line)
        if fence:
            if fenced is None:
                fenced = fence.group(1)[0] * 3
            elif fence.group(1).startswith(fenced):
                fenced = None
            continue
        if fenced is None:
            yield line


def slug(heading):
    """The anchor GitHub gives a heading: its text without markup, in lower case, without
    punctuation but hyphens and underscores, blanks as hyphens."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)   # a link's text
    text = text.replace("`", "").lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    for line in prose(path.read_text()):
        match = HEADING.match(line)
        if match:
            base = slug(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
    return found


def links(path):
    for number, line in enumerate(prose(path.read_text()), 1):
        for target in LINK.findall(line):
            if not re.match(r"^[a-z][a-z0-9+.-]*:", target):   # http:, mailto: are not checked
                yield target


def broken(root):
    """What is wrong with the links of ROOT/README.md and ROOT/docs/*.md, one text each."""
    root = root.resolve()
    pages = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    failures, cache, linked = [], {}, set()
    for page in pages:
        name = page.relative_to(root)
        for target in links(page):
            file_part, _, anchor = target.partition("#")
            goal = (page.parent / file_part).resolve() if file_part else page
            if root not in goal.parents and goal != root:
                failures.append(f"{name}: the link '{target}' leads out of the sources")
                continue
            if not goal.exists():
                failures.append(f"{name}: the link '{target}' names no file")
                continue
            if page.name == "README.md" and goal.parent == root / "docs":
                linked.add(goal.name)
            if anchor:
                if goal.suffix != ".md":
                    failures.append(f"{name}: the link '{target}' has an anchor on a file "
                                    "that is not Markdown")
                    continue
                if goal not in cache:
                    cache[goal] = anchors(goal)
                if anchor not in cache[goal]:
                    failures.append(f"{name}: the link '{target}': {goal.relative_to(root)} "
                                    f"has no heading with the anchor '{anchor}'")
    for page in pages[1:]:
        if page.name not in linked:
            failures.append(f"README.md links no page docs/{page.name}")
    return failures


def self_test():
    """The checker on a tree with three faults: it must report each of them, and no other."""
    with tempfile.TemporaryDirectory(prefix="links-") as folder:
        root = Path(folder)
        (root / "docs").mkdir()
        (root / "README.md").write_text(
            "# Tool\n\n## Exact limits (`--exact`)\n\n[a](#exact-limits---exact) "
            "[b](docs/one.md#the-day-and-the-mean) [c](docs/gone.md)\n"
            "```sh\n[not a link](#nowhere)\n## not a heading\n```\n")
        (root / "docs" / "one.md").write_text(
            "# One\n\n## The day and the mean\n\n[back](../README.md#not-there) "
            "[up](../README.md#tool)\n")
        (root / "docs" / "two.md").write_text("# Two\n\n[one](one.md#one)\n")
        found = broken(root)
        expected = ["README.md: the link 'docs/gone.md' names no file",
                    "docs/one.md: the link '../README.md#not-there': README.md has no heading "
                    "with the anchor 'not-there'",
                    "README.md links no page docs/two.md"]
        if found != expected:
            print("FAIL: the checker itself: on its own tree it found\n  " + "\n  ".join(found) +
                  "\nbut the tree's faults are\n  " + "\n  ".join(expected))
            return False
    return True


def main():
    if not self_test():
        return 1
    root = Path(sys.argv[1])
    failures = broken(root)
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        count = sum(1 for page in [root / "README.md"] + sorted((root / "docs").glob("*.md"))
                    for _ in links(page))
        print(f"{count} links in README.md and docs/*.md, every one resolves")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
