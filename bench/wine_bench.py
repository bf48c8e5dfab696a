#!/usr/bin/env python3
"""The launcher's whole run under Wine against the least a launcher can do, as a ratio of medians.

In one private Wine prefix with the product registered, the stand-in tool installed and a deploy folder
holding the launcher and patch.rkv, it runs alternately
  - the launcher (registry, log, version rules, the tool's start through the shell, the wait), and
  - bare_start, which only starts the same tool through the shell with the same verb, file, parameters
    and working folder and waits for it,
each through timed_runner, which measures the wall time from just before the process is created to the
end of the wait. Warm-up runs come first and are not counted; the pairs alternate their order (ABBA) so
that a drift of the machine's speed falls on both alike.

Usage: python3 -m bench.wine_bench [--build-dir build/win64] [--runs 30] [--warmup 3]
Prints the medians and their ratio (target: the launcher within 1.10x of the bare start). The ratio is
a figure, not a verdict: the exit status is 1 only when a run failed or the two did not start the tool
alike, never because of the figures.
"""

import argparse
import shutil
import statistics
import sys
import time
from pathlib import Path

from testkit.source_tree import ROOT
from testkit.stand_in import NO_VERSION, stand_in_program, stand_in_records
from testkit.wine_prefix import UNINSTALL_KEY, RegistryValue, WinePrefix, parse_timed_run

INSTALL_DIR = "C:\\Program Files\\Corvantis"
TOOL = INSTALL_DIR + "\\installer\\kestrun.exe"
DEPLOY_DIR = "D:\\deploy"
BARE_DIR = "C:\\bare"
# What the launcher hands the tool for a deploy folder that holds patch.rkv alone.
PARAMETERS = f' /encfile "{DEPLOY_DIR}\\patch.rkv"'
TARGET_RATIO = 1.10
RUN_TIMEOUT_S = 60


class Bench:
    def __init__(self, prefix, build_dir):
        self.prefix = prefix
        tools = build_dir / "tests" / "tools"
        self.timer = tools / "timed_runner.exe"
        needed = {"launcher": build_dir / "Orvane.Launcher.exe", "bare start": tools / "bare_start.exe",
                  "tool": stand_in_program(tools, NO_VERSION), "timer": self.timer}
        missing = [str(path) for path in needed.values() if not path.exists()]
        if missing:
            raise SystemExit(f"wine bench: not built: {', '.join(missing)}")

        prefix.map_drive("d", prefix.root / "drive_d")
        prefix.set_machine_keys({UNINSTALL_KEY: {"InstallLocation": RegistryValue.string(INSTALL_DIR + "\\")}})
        tool = prefix.host_path(TOOL)
        tool.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(needed["tool"], tool)
        self.installer = tool.parent
        deploy = prefix.host_path(DEPLOY_DIR)
        deploy.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(needed["launcher"], deploy / "Orvane.Launcher.exe")
        (deploy / "patch.rkv").write_bytes(b"patch contents")
        bare = prefix.host_path(BARE_DIR)
        bare.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(needed["bare start"], bare / "bare_start.exe")

        self.commands = {
            "launcher": [DEPLOY_DIR + "\\Orvane.Launcher.exe"],
            # Wine quotes each argument, inner quotes included, by the rules bare_start reads them back with.
            "bare start": [BARE_DIR + "\\bare_start.exe", TOOL, DEPLOY_DIR, PARAMETERS],
        }

    def run(self, which):
        """One timed run: (wall seconds, the process's own lifetime in seconds)."""
        run = self.prefix.run_raw([str(self.timer), *self.commands[which]], timeout=RUN_TIMEOUT_S)
        timed = parse_timed_run(run.stdout)
        if run.timed_out or timed is None:
            raise RuntimeError(f"{which}: no timing (status {run.returncode}): {run.stdout!r} {run.stderr[-500:]!r}")
        exit_code, elapsed_us, created, exited = timed
        if exit_code != 0:
            raise RuntimeError(f"{which}: exit code 0x{exit_code:08X}")
        return elapsed_us / 1e6, (exited - created) / 1e7

    def check_tool_runs(self, expected_runs):
        """Every run, of either program, started the tool with the same command line and folder."""
        runs = [(run.get("command_line"), run.get("current_directory")) for run in stand_in_records(self.installer)]
        expected = (f'"{TOOL}" {PARAMETERS}', DEPLOY_DIR)
        if runs != [expected] * expected_runs:
            raise RuntimeError(f"the tool ran {len(runs)} times, expected {expected_runs}; differing records: "
                               f"{sorted(set(runs) - {expected})[:2]!r}")


def milliseconds(seconds):
    return f"{seconds * 1000:.1f} ms"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, default=ROOT / "build" / "win64")
    parser.add_argument("--runs", type=int, default=30, help="counted runs of each program")
    parser.add_argument("--warmup", type=int, default=3, help="uncounted runs of each program first")
    args = parser.parse_args()

    started = time.monotonic()
    prefix = WinePrefix.open()
    try:
        bench = Bench(prefix, args.build_dir.resolve())
        for _ in range(args.warmup):
            bench.run("launcher")
            bench.run("bare start")

        wall = {"launcher": [], "bare start": []}
        life = {"launcher": [], "bare start": []}
        for pair in range(args.runs):
            order = ("launcher", "bare start") if pair % 2 == 0 else ("bare start", "launcher")
            for which in order:
                seconds, lifetime = bench.run(which)
                wall[which].append(seconds)
                life[which].append(lifetime)
        bench.check_tool_runs(2 * (args.warmup + args.runs))
    except RuntimeError as error:
        print(f"wine bench: FAILED: {error}")
        return 1
    finally:
        prefix.close()

    for which in ("launcher", "bare start"):
        print(f"{which:>10}: median {milliseconds(statistics.median(wall[which]))} "
              f"(min {milliseconds(min(wall[which]))}, max {milliseconds(max(wall[which]))}); "
              f"process lifetime median {milliseconds(statistics.median(life[which]))}")
    ratio = statistics.median(wall["launcher"]) / statistics.median(wall["bare start"])
    life_ratio = statistics.median(life["launcher"]) / statistics.median(life["bare start"])
    verdict = "within" if ratio <= TARGET_RATIO else "above"
    print(f"wine bench: {args.runs} runs each after {args.warmup} warm-up; launcher "
          f"{milliseconds(statistics.median(wall['launcher']))}, bare start "
          f"{milliseconds(statistics.median(wall['bare start']))}, ratio {ratio:.3f} "
          f"({verdict} the {TARGET_RATIO:.2f}x target; lifetimes {life_ratio:.3f}); "
          f"{time.monotonic() - started:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
