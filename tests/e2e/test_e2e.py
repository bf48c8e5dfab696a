"""Every end-to-end scenario on both builds: the x86_64 twin (win64) and the shipped 32-bit program under WOW64
(win32), one test each, named by build and scenario: python3 -m pytest tests/e2e -k win32-drive_root."""

import pytest

from tests.e2e.harness import BUILDS, Probe, harness_checks
from tests.e2e.scenarios import build_scenarios

# Scenarios that share the registry's contents run together: each change restarts the Wine server, and so does each
# read of the run record; the record scenarios come last, so that each read can leave the record's keys removed for
# the next.
SCENARIOS = sorted(build_scenarios(), key=lambda s: (False, "") if isinstance(s, Probe) else
                   (s.expect_record is not None, repr((s.registry, s.registry_32))))


@pytest.mark.parametrize("suite", BUILDS, indirect=True)
def test_harness(suite):
    """The pieces the scenarios stand on: exact registry bytes, the runner, the stand-in's record."""
    problems = harness_checks(suite)
    assert not problems, "\n".join(problems)


@pytest.mark.parametrize("scenario", SCENARIOS, ids=[scenario.id for scenario in SCENARIOS])
@pytest.mark.parametrize("suite", BUILDS, indirect=True)
def test_scenario(suite, scenario):
    problems = suite.run(scenario)
    for note in suite.notes:
        print(note)
    suite.notes.clear()
    assert not problems, "\n".join([scenario.name] + problems)
