"""The product built from two fresh copies of the source tree (under paths of different lengths, at different times)
is the same file byte for byte, and the same as build/win32's. Usage: python3 -m tests.repro.check_repro"""

import hashlib
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from testkit.source_tree import ROOT, copy_source_tree

PROGRAM = Path("build") / "win32" / "Orvane.Launcher.exe"
work = Path(tempfile.mkdtemp(prefix="orvane-repro-"))
programs = [ROOT / PROGRAM]
for copy in (work / "a", work / "second-copy-under-a-longer-path"):
    copy_source_tree(copy)
    build = subprocess.run(["cmake", "--workflow", "--preset", "win32"], cwd=copy, capture_output=True, text=True)
    if build.returncode != 0:
        print(build.stdout[-3000:] + build.stderr[-2000:])
        sys.exit(f"repro: the build in {copy} failed (kept)")
    programs.append(copy / PROGRAM)
for program in programs:
    print(hashlib.sha256(program.read_bytes()).hexdigest(), program)
if len({program.read_bytes() for program in programs}) != 1:
    sys.exit(f"repro: the programs differ; both trees kept in {work}")
shutil.rmtree(work)
print("repro: identical")
