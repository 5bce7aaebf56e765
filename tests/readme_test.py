#!/usr/bin/python3
"""Runs the README's shell and Python blocks as a newcomer would, in a scratch copy of the tree.

    tests/readme_test.py --build-dir build/release [README.md]

Blocks run in the order they appear, at the top of the copy, with HOME in the
scratch folder. A shell block runs with bash -e; a Python block with the
interpreter of the README's virtual environment once a block has made it (else
this one, with python/ on its path), and a block of ">>>" lines as a doctest, so
its output must be as shown. A C block followed by "Saved as `NAME`" is saved
under that name. A block right after the line <!-- readme-test: skip WHY --> is
not run (it installs into the system, or is the whole suite that holds this test).

The copy's build/release is the build given, so the blocks reuse what it holds:
"cmake --preset release" and a "cmake --build --preset release" that the build
already did are left out of a command (and said so) rather than run again.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

FENCE = re.compile(r"^```(\w*)\n(.*?)^```\n", re.MULTILINE | re.DOTALL)
SKIP = re.compile(r"<!-- readme-test: skip (.*?) -->\n$")
SAVED_AS = re.compile(r"\s*Saved as `([^`]+)`")
# Steps of a command that configure or build what the given build holds already.
BLOCK_SECONDS = 240
BUILD_STEP = re.compile(r"^cmake (--preset release|--build --preset release( --target [\w ]+)?)$")


def blocks(readme):
    """(line, language, text, skip reason or None, name to save under or None) of each fenced block."""
    for match in FENCE.finditer(readme):
        before = readme[:match.start()]
        skip = SKIP.search(before)
        saved = SAVED_AS.match(readme[match.end():])
        yield (before.count("\n") + 1, match.group(1), match.group(2), skip.group(1) if skip else None,
               saved.group(1) if saved else None)


def without_build_steps(command):
    steps = command.split(" && ")
    kept = [step for step in steps if not BUILD_STEP.match(step.strip())]
    for step in steps:
        if step not in kept:
            print(f"  (left out, the build holds it already: {step.strip()})")
    return " && ".join(kept)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True, type=Path)
    parser.add_argument("readme", nargs="?", type=Path, default=Path(__file__).resolve().parents[1] / "README.md")
    args = parser.parse_args()
    source = args.readme.resolve().parent
    build = args.build_dir.resolve()

    with tempfile.TemporaryDirectory(prefix="quorlix-readme-") as scratch:
        tree = Path(scratch) / "tree"
        shutil.copytree(source, tree, symlinks=True, ignore=lambda folder, names: [
            n for n in names if n == ".git" or (Path(folder) == source and n == "build")])
        (tree / "build").mkdir()
        (tree / "build" / "release").symlink_to(build)
        home = Path(scratch) / "home"
        home.mkdir()
        # "python3" in a block is the interpreter that runs this test (Debian's, in the suite).
        path = os.pathsep.join([os.path.dirname(sys.executable), os.environ.get("PATH", "")])
        env = dict(os.environ, HOME=str(home), PATH=path, QUORLIX_LIBRARY="build/release/src/libquorlix.so",
                   PYTHONDONTWRITEBYTECODE="1")
        env.pop("PYTHONPATH", None)

        failures = 0
        for line, language, text, skip, saved_as in blocks(args.readme.read_text()):
            if skip:
                print(f"README.md:{line}: {language} block not run: {skip}")
                continue
            if saved_as:
                (tree / saved_as).write_text(text)
                print(f"README.md:{line}: saved as {saved_as}")
                continue
            if language in ("sh", "python"):
                print(f"README.md:{line}: {language} block", flush=True)
            if language == "sh":
                script = "\n".join(without_build_steps(command) for command in text.splitlines())
                run = ["bash", "-e", "-c", script]
            elif language == "python":
                venv_python = home / "quorlix-env" / "bin" / "python3"
                python = str(venv_python) if venv_python.exists() else sys.executable
                if venv_python.exists():
                    env.pop("PYTHONPATH", None)
                else:
                    env["PYTHONPATH"] = str(tree / "python")
                block_file = Path(scratch) / f"block{line}.{'txt' if text.startswith('>>>') else 'py'}"
                block_file.write_text(text)
                run = [python, "-m", "doctest", str(block_file)] if text.startswith(">>>") else [python, block_file]
            else:
                continue
            try:
                result = subprocess.run(run, cwd=tree, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, check=False, timeout=BLOCK_SECONDS)
                if result.returncode != 0:
                    failures += 1
                    print(f"README.md:{line}: FAILED with exit status {result.returncode}:\n{result.stdout}")
            except subprocess.TimeoutExpired as timeout:
                failures += 1
                print(f"README.md:{line}: FAILED: still running after {BLOCK_SECONDS} s:\n{timeout.stdout}")
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
