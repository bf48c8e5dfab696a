"""The outcome of ./scripts/test's ctest run, read from its JUnit file: one line per stage, then the failed tests,
and last "N passed, M failed". Usage: python3 -m scripts.test_summary JUNIT_FILE FAILED_BEFORE SECONDS STAGE...

A test's stage is its name up to the first dot (unit.IsLegacyToolTest.VersionTable belongs to unit); a test that did
not run (a fixture it needs failed) counts as failed, and so does each step that failed before ctest (FAILED_BEFORE).
The stages print in the order given, the builds first, each with the sum of its tests' times (two run at once).
"""

import sys
import xml.etree.ElementTree as ElementTree

junit, failed_before, seconds, order = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), ["build"] + sys.argv[4:]
try:
    cases = list(ElementTree.parse(junit).getroot().iter("testcase"))
except (OSError, ElementTree.ParseError) as error:
    print(f"no test results: {error}")
    cases, failed_before = [], failed_before + 1
stages = {}
failed = [f"{case.get('name')} ({case.get('status')})" for case in cases if case.get("status") != "run"]
for case in cases:
    stage = stages.setdefault(case.get("name").split(".")[0], [0, 0, 0.0])
    stage[0 if case.get("status") == "run" else 1] += 1
    stage[2] += float(case.get("time") or 0)
for name in sorted(stages, key=lambda stage: order.index(stage) if stage in order else len(order)):
    print(f"{name}: {stages[name][0]} passed, {stages[name][1]} failed ({stages[name][2]:.0f} s)")
if failed:
    print("failed: " + ", ".join(failed))
print(f"time: {seconds // 60} min {seconds % 60} s")
print(f"{sum(stage[0] for stage in stages.values())} passed, {len(failed) + failed_before} failed")
sys.exit(1 if failed or failed_before else 0)
