"""The quoted runs of README.md and docs/*.md against real ones: the fenced blocks that follow
a marker <!-- checked: KIND --> are run or compared, so that what a page quotes is what the
programs print. Each page's blocks go together: its `commands` run in one fresh folder, and its
`commands stderr` are compared with what they wrote; the same for `python`. Kinds:

  commands         shell lines run in order (a `cmake` line is the build, already made) in a
                   fresh folder where `examples` is the shipped one and `build` the build's
  commands stderr  each line is a line the page's commands wrote to standard error
  python           a script run by the module's interpreter in the same kind of folder
  python stdout    each line is a line the page's scripts printed
  python warnings  the texts of the warnings the page's scripts raised, each once, and no other

A marker that no fenced block follows, or of another kind, is a failure; so is a page with
quoted output and nothing run to compare it with. README.md must hold the quick start's
`commands` and `commands stderr`, and with PYTHON the Python example's three kinds.

Usage: readme_test.py SOURCE_DIR BUILD_DIR [PYTHON]   (no PYTHON: the python kinds are skipped)
"""

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

MARKER = re.compile(r"<!-- checked: ([a-z ]+) -->\n```[a-z]*\n(.*?)^```", re.S | re.M)
ANY_MARKER = re.compile(r"<!-- checked:")
KINDS = ("commands", "commands stderr", "python", "python stdout", "python warnings")


def blocks(text):
    found = {}
    for kind, body in MARKER.findall(text):
        found.setdefault(kind, []).append(body)
    return found


def pages(source):
    """The pages that hold checked blocks, README.md first: (name, blocks by kind), and what is
    wrong with their markers."""
    found, failures = [], []
    for path in [source / "README.md"] + sorted((source / "docs").glob("*.md")):
        name = str(path.relative_to(source))
        text = path.read_text()
        kinds = blocks(text)
        markers = len(ANY_MARKER.findall(text))
        if markers != sum(len(bodies) for bodies in kinds.values()):
            failures.append(f"{name}: {markers} markers '<!-- checked:', but "
                            f"{sum(len(bodies) for bodies in kinds.values())} of them are "
                            "followed by a fenced block at once")
        for kind in kinds:
            if kind not in KINDS:
                failures.append(f"{name}: a block marked '{kind}', a kind this test does not know")
        for quoted, run in (("commands stderr", "commands"), ("python stdout", "python"),
                            ("python warnings", "python")):
            if quoted in kinds and run not in kinds:
                failures.append(f"{name}: a block marked '{quoted}' but none marked '{run}'")
        if kinds:
            found.append((name, kinds))
    return found, failures


def folder(source, build):
    work = Path(tempfile.mkdtemp(prefix="readme-"))
    (work / "examples").symlink_to(source / "examples")
    (work / "build").symlink_to(build)
    return work


def missing(quoted, lines, name, page):
    """The quoted lines that are not among `lines`, each with what was there instead."""
    failures = []
    for line in quoted.splitlines():
        if line not in lines:
            failures.append(f"{name}: {page} quotes\n  {line}\nbut the run printed\n  " +
                            "\n  ".join(lines))
    return failures


def run_commands(page, found, source, build):
    """The page's command blocks in one fresh folder: what they wrote to standard error, or a
    failure."""
    work = folder(source, build)
    errors = []
    for body in found["commands"]:
        for line in body.splitlines():
            if not line.strip() or line.startswith("cmake "):
                continue
            done = subprocess.run(["bash", "-c", line], cwd=work, capture_output=True, text=True,
                                  stdin=subprocess.DEVNULL, timeout=600)
            if done.returncode != 0:
                return None, (f"{page}: `{line}` ended with status {done.returncode}:\n"
                              f"{done.stderr}")
            errors += done.stderr.splitlines()
    return errors, None


def run_python(page, found, source, build, python):
    """Each of the page's Python blocks in a fresh folder: the lines printed and the texts of
    the warnings raised, or a failure."""
    printed, warned = [], []
    for script in found["python"]:
        work = folder(source, build)
        environment = dict(os.environ, PYTHONPATH=str(build / "python"), MPLBACKEND="Agg")
        done = subprocess.run([python, "-W", "always", "-c", script], cwd=work,
                              capture_output=True, text=True, env=environment,
                              stdin=subprocess.DEVNULL, timeout=600)
        if done.returncode != 0:
            return None, None, (f"{page}: the Python example ended with status "
                                f"{done.returncode}:\n{done.stderr}")
        printed += done.stdout.splitlines()
        warned += [m.group(1)
                   for m in re.finditer(r"^.*?: UserWarning: (.*)$", done.stderr, re.M)]
    return printed, warned, None


def main():
    source, build = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    python = sys.argv[3] if len(sys.argv) > 3 else ""
    found, failures = pages(source)
    readme = dict(found).get("README.md", {})
    for kind in ("commands", "commands stderr") + (
            ("python", "python stdout", "python warnings") if python else ()):
        if kind not in readme:
            failures.append(f"README.md has no block marked '{kind}'")
    if failures:
        print("\n".join("FAIL: " + failure for failure in failures))
        return 1

    for page, kinds in found:
        if "commands" in kinds:
            errors, failure = run_commands(page, kinds, source, build)
            if failure:
                print("FAIL: " + failure)
                return 1
            for quoted in kinds.get("commands stderr", []):
                failures += missing(quoted, errors, "the commands' standard error", page)
        if python and "python" in kinds:
            printed, warned, failure = run_python(page, kinds, source, build, python)
            if failure:
                print("FAIL: " + failure)
                return 1
            for quoted in kinds.get("python stdout", []):
                failures += missing(quoted, printed, "the Python example's output", page)
            if "python warnings" in kinds:
                quoted = sorted({line for body in kinds["python warnings"]
                                 for line in body.splitlines()})
                if quoted != sorted(set(warned)):
                    failures.append(f"the Python example's warnings: {page} quotes\n  " +
                                    "\n  ".join(quoted) + "\nbut the run raised\n  " +
                                    "\n  ".join(sorted(set(warned))))
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("checked blocks run and compared on " + ", ".join(page for page, _ in found))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
