"""The README's quoted runs against real ones: the fenced blocks that follow a marker
<!-- checked: KIND --> are run or compared, so that what the README quotes is what the programs
print. Kinds:

  commands         shell lines run in order (a `cmake` line is the build, already made) in a
                   fresh folder where `examples` is the shipped one and `build` the build's
  commands stderr  each line is a line the commands wrote to standard error
  python           a script run by the module's interpreter in the same kind of folder
  python stdout    each line is a line the script printed
  python warnings  the texts of the warnings the script raised, each once, and no other

Usage: readme_test.py SOURCE_DIR BUILD_DIR [PYTHON]   (no PYTHON: the python kinds are skipped)
"""

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

MARKER = re.compile(r"<!-- checked: ([a-z ]+) -->\n```[a-z]*\n(.*?)^```", re.S | re.M)


def blocks(readme):
    found = {}
    for kind, body in MARKER.findall(readme):
        found.setdefault(kind, []).append(body)
    return found


def folder(source, build):
    work = Path(tempfile.mkdtemp(prefix="readme-"))
    (work / "examples").symlink_to(source / "examples")
    (work / "build").symlink_to(build)
    return work


def missing(quoted, lines, name):
    """The quoted lines that are not among `lines`, each with what was there instead."""
    failures = []
    for line in quoted.splitlines():
        if line not in lines:
            failures.append(f"{name}: the README quotes\n  {line}\nbut the run printed\n  " +
                            "\n  ".join(lines))
    return failures


def main():
    source, build = Path(sys.argv[1]), Path(sys.argv[2])
    python = sys.argv[3] if len(sys.argv) > 3 else ""
    found = blocks((source / "README.md").read_text())
    failures = []
    for kind in ("commands", "commands stderr"):
        if kind not in found:
            failures.append(f"the README has no block marked '{kind}'")
    if python:
        for kind in ("python", "python stdout", "python warnings"):
            if kind not in found:
                failures.append(f"the README has no block marked '{kind}'")
    if failures:
        print("\n".join(failures))
        return 1

    work = folder(source, build)
    errors = []
    for line in found["commands"][0].splitlines():
        if not line.strip() or line.startswith("cmake "):
            continue
        done = subprocess.run(["bash", "-c", line], cwd=work, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=600)
        if done.returncode != 0:
            print(f"FAIL: `{line}` ended with status {done.returncode}:\n{done.stderr}")
            return 1
        errors += done.stderr.splitlines()
    for quoted in found["commands stderr"]:
        failures += missing(quoted, errors, "the quick start's standard error")

    if python:
        work = folder(source, build)
        environment = dict(os.environ, PYTHONPATH=str(build / "python"), MPLBACKEND="Agg")
        done = subprocess.run([python, "-W", "always", "-c", found["python"][0]], cwd=work,
                              capture_output=True, text=True, env=environment,
                              stdin=subprocess.DEVNULL, timeout=600)
        if done.returncode != 0:
            print(f"FAIL: the Python example ended with status {done.returncode}:\n{done.stderr}")
            return 1
        printed = done.stdout.splitlines()
        warned = [m.group(1) for m in re.finditer(r"^.*?: UserWarning: (.*)$", done.stderr, re.M)]
        for quoted in found["python stdout"]:
            failures += missing(quoted, printed, "the Python example's output")
        quoted = sorted(set(found["python warnings"][0].splitlines()))
        if quoted != sorted(set(warned)):
            failures.append("the Python example's warnings: the README quotes\n  " +
                            "\n  ".join(quoted) + "\nbut the run raised\n  " +
                            "\n  ".join(sorted(set(warned))))
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
