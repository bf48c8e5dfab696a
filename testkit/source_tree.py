"""The source tree as the tests, the benchmarks and the demo see it: facts they share with the product, each read from
the one place it is written (its string constants from src/, its version from CMakeLists.txt), and a copy of the
tree for the builds that must not touch the work tree's build/ or dist/."""

import functools
import re
import shutil
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


@functools.cache
def source_string(name):
    """The text of the product's string constant `name` (one or more u"..." literals in a row) in src/."""
    pattern = re.compile(r"\b" + name + r'\s*=\s*((?:u"(?:[^"\\]|\\.)*"\s*)+);')
    for path in sorted((ROOT / "src").rglob("*.[ch]*")):
        match = pattern.search(path.read_text(encoding="utf-8"))
        if match:
            literals = re.findall(r'u"((?:[^"\\]|\\.)*)"', match.group(1))
            escapes = {"n": "\n", "r": "\r", "t": "\t"}
            return "".join(re.sub(r"\\(.)", lambda m: escapes.get(m[1], m[1]), literal) for literal in literals)
    raise LookupError(f"no string constant {name} in src/")


def launcher_version():
    """The product's version, a.b.c.d, as project() in CMakeLists.txt gives it to the build."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"^project\(\S+ VERSION ([0-9.]+)", text, re.MULTILINE).group(1)


def copy_source_tree(destination):
    """Copies the files git knows of or would add (tracked and untracked, not ignored), as they are in the work
    tree, into `destination`."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=ROOT,
                            capture_output=True, text=True, check=True).stdout
    for name in filter(None, listed.split("\0")):
        source = ROOT / name
        if source.is_file():
            (destination / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, destination / name)
