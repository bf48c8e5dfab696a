"""The source tree as git sees it, copied: for the builds that must not touch the work tree's build/ or dist/."""

import shutil
import subprocess

from testkit.facts import ROOT


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
