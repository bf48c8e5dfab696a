"""Facts the tests, the benchmarks and the demo share with the product and its builds, each read from the one place
it is written: the product's string constants from src/, its version from CMakeLists.txt, the stand-in tool's
versions from tests/tools/stand_in_versions.txt (which its build reads too)."""

import re
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def source_string(name):
    """The text of the product's string constant `name` (one or more u"..." literals in a row) in src/."""
    pattern = re.compile(r"\b" + name + r'\s*=\s*((?:u"(?:[^"\\]|\\.)*"\s*)+);')
    for path in sorted((ROOT / "src").rglob("*.[ch]*")):
        match = pattern.search(path.read_text(encoding="utf-8"))
        if match:
            literals = re.findall(r'u"((?:[^"\\]|\\.)*)"', match.group(1))
            return "".join(re.sub(r"\\(.)", r"\1", literal) for literal in literals)
    raise LookupError(f"no string constant {name} in src/")


def launcher_version():
    """The product's version, a.b.c.d, as project() in CMakeLists.txt gives it to the build."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"^project\(\S+ VERSION ([0-9.]+)", text, re.MULTILINE).group(1)


def stand_in_versions():
    """{file version: whether the launcher takes it for a legacy tool} of the stand-in tool's builds, in order."""
    rows = (line.split() for line in (ROOT / "tests" / "tools" / "stand_in_versions.txt").read_text().splitlines())
    return {row[0]: row[1] == "legacy" for row in rows if row and not row[0].startswith("#")}
