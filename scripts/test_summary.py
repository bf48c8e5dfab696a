"""The outcome of ./scripts/test's ctest run, read from its JUnit file: one line per stage, then the failed tests,
and last "N passed, M failed".

Usage: python3 -m scripts.test_summary JUNIT_FILE FAILED_BEFORE SECONDS STAGE...
A test's stage is its name up to the first dot (unit.IsLegacyToolTest.VersionTable belongs to unit); a test that did
not run (a fixture it needs failed) counts as failed. FAILED_BEFORE: the steps that failed before ctest ran;
SECONDS: the whole run's time. The stages print in the order given, the builds first; a stage's time is the sum of
its tests' times (two run at once).
"""

import sys
import xml.etree.ElementTree as ElementTree


def main():
    junit, failed_before, seconds, order = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), ["build"] + sys.argv[4:]
    try:
        cases = list(ElementTree.parse(junit).getroot().iter("testcase"))
    except (OSError, ElementTree.ParseError) as error:
        print(f"no test results: {error}")
        cases, failed_before = [], failed_before + 1
    stages = {}
    failed = []
    for case in cases:
        name = case.get("name")
        passed = case.get("status") == "run"
        stage = stages.setdefault(name.split(".")[0], [0, 0, 0.0])
        stage[0 if passed else 1] += 1
        stage[2] += float(case.get("time") or 0)
        if not passed:
            failed.append(f"{name} ({case.get('status')})")
    for name in sorted(stages, key=lambda stage: order.index(stage) if stage in order else len(order)):
        passed, failures, stage_seconds = stages[name]
        print(f"{name}: {passed} passed, {failures} failed ({stage_seconds:.0f} s)")
    if failed:
        print("failed: " + ", ".join(failed))
    print(f"time: {seconds // 60} min {seconds % 60} s")
    print(f"{sum(stage[0] for stage in stages.values())} passed, {len(failed) + failed_before} failed")
    return 1 if failed or failed_before else 0


if __name__ == "__main__":
    sys.exit(main())
