"""Every end-to-end scenario on both builds, the x86_64 twin (win64) and the shipped 32-bit program under WOW64
(win32), one test each: python3 -m pytest tests/e2e -k win32-drive_root. Each build's prefix is booted once for the
session; under CTest, whose every scenario is a process, ORVANE_E2E_PREFIXES names the folder where its fixture booted
them (win64/, win32/). ORVANE_E2E_LAUNCHER: an x86_64 launcher to test instead of build/win64's."""

import os
from pathlib import Path

import pytest

from testkit.source_tree import ROOT
from testkit.wine_prefix import WinePrefix
from tests.e2e.harness import BUILDS, Probe, Suite, harness_checks
from tests.e2e.scenarios import SCENARIOS

# Scenarios that share the registry's contents run together: each change restarts the Wine server, and so does each
# read of the run record; the record scenarios come last, so that each read can leave the record's keys removed for
# the next.
ORDERED = sorted(SCENARIOS, key=lambda s: (False, "") if isinstance(s, Probe) else
                 (s.expect_record is not None, repr((s.registry, s.registry_32))))


@pytest.fixture(scope="session")
def suite(request):
    build = request.param
    shared = os.environ.get("ORVANE_E2E_PREFIXES")
    prefix = WinePrefix.open(Path(shared) / build if shared else None, wow64=build == "win32")
    try:
        launcher = os.environ.get("ORVANE_E2E_LAUNCHER") if build == "win64" else None
        yield Suite(prefix, ROOT / "build" / BUILDS[build][0], ROOT / "build" / BUILDS[build][1],
                    launcher and Path(launcher).resolve())
    finally:
        if not shared:  # a shared prefix is left running for the next process; CTest's fixture removes it
            prefix.close()


@pytest.mark.parametrize("suite", BUILDS, indirect=True)
def test_harness(suite):
    """The pieces the scenarios stand on: exact registry bytes, the runner, the stand-in's record."""
    problems = harness_checks(suite)
    assert not problems, "\n".join(problems)


@pytest.mark.parametrize("scenario", ORDERED, ids=[scenario.id for scenario in ORDERED])
@pytest.mark.parametrize("suite", BUILDS, indirect=True)
def test_scenario(suite, scenario):
    problems = suite.run(scenario)
    for note in suite.notes:
        print(note)
    suite.notes.clear()
    assert not problems, "\n".join([scenario.name] + problems)
