"""pytest's setup of the end-to-end scenarios: one booted Wine prefix per build for the whole session.

Under CTest each scenario runs in a process of its own: ORVANE_E2E_PREFIXES then names the folder where CTest's
fixture booted the prefixes (win64/ and win32/), and each process takes its build's prefix as it is. Without it the
session boots temporary prefixes, and removes them at its end.
"""

import os
from pathlib import Path

import pytest

from testkit.facts import ROOT
from testkit.wine_prefix import WinePrefix
from tests.e2e.harness import BUILDS, Suite


def pytest_addoption(parser):
    parser.addoption("--launcher", type=Path, help="an x86_64 launcher to test instead of build/win64's")


@pytest.fixture(scope="session")
def suite(request):
    build = request.param
    shared = os.environ.get("ORVANE_E2E_PREFIXES")
    prefix = WinePrefix.open(Path(shared) / build if shared else None, wow64=build == "win32")
    try:
        launcher = request.config.getoption("--launcher") if build == "win64" else None
        yield Suite(prefix, ROOT / "build" / BUILDS[build][0], ROOT / "build" / BUILDS[build][1],
                    launcher and launcher.resolve())
    finally:
        if not shared:  # a shared prefix is left running for the next process; CTest's fixture removes it
            prefix.close()
