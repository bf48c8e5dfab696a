"""The end-to-end harness: a launcher build, run for real under Wine against a stand-in patch tool.

The x86_64 twin runs on the system's wine64. The shipped i686 program runs in the same kind of 64-bit prefix under
WOW64, with Wine's 32-bit side emulated (laid out by scripts/setup-wow64): it must read the registry's 64-bit view
and load its system DLLs from syswow64. Programs whose bitness does not matter to a scenario (the runners, the
stand-in tool) come from the helper build, so that they run natively; the probes of bitness (the fatal stop, the
planted DLL and its control) come from the launcher's own build.

Each scenario sets up the registry, an install folder with installer\\kestrun.exe (the stand-in tool, in the
version variant it needs) and a deploy folder with the launcher and its patch files; runs the launcher through
exit_code_runner (which sees the full 32-bit exit code); then compares the exit code, the log file's exact bytes and
what the tool received (command line and working folder). Some also read the launcher's run record back from the
prefix's registry file in both views, with what the tool saw of it while it ran, the event source's registration,
and the run's event as Wine's eventlog debug channel prints it. Probes run other programs of tests/tools the same
way. The scenarios are in scenarios.py; test_e2e.py runs each under pytest.
"""

import calendar
import dataclasses
import hashlib
import os
import re
import shutil
import threading
import time
from pathlib import Path
from typing import Callable, Optional

from scripts.exit_codes import SUCCESS_TYPES, rows, signed
from testkit.source_tree import launcher_version
from testkit.stand_in import NO_VERSION, stand_in_program, stand_in_records
from testkit.wine_prefix import (EVENT_DEBUG_CHANNELS, EVENT_SOURCE_KEY, EVENTLOG_ERROR_TYPE,
                                 EVENTLOG_INFORMATION_TYPE, RECORD_KEY, RECORD_TREE, RECORD_TREE_32, REG_EXPAND_SZ,
                                 REG_SZ, UNINSTALL_KEY, UNINSTALL_KEY_32, RegistryValue, WinePrefix, in_key_tree,
                                 reported_events, runner_exit_code)

BOM = b"\xef\xbb\xbf"
LOG_FOLDER = "C:\\ProgramData\\Velmor"
# An elevated run's fallback as the launcher names it: Wine's Windows folder, then Logs\Velmor (Wine has "logs").
FALLBACK_FOLDER = "C:\\windows\\Logs\\Velmor"
ASIDE_PREFIX = "Velmor.untrusted-"  # the name an untrusted Velmor is moved aside to begins with this

INSTALL_DIR = "C:\\Program Files\\Corvantis"
INSTALL_LOCATION = INSTALL_DIR + "\\"  # as installers usually register it, with the trailing backslash
DEPLOY_DIR = "D:\\deploy"
LAUNCHER_NAME = "Orvane.Launcher.exe"
RUN_TIMEOUT_S = 90
# Each build's launcher, and the build of its helpers (the runners and stand-in tools, which run natively).
BUILDS = {"win64": ("win64", "win64"), "win32": ("win32", "win64")}

# Tool variants beside the stand-in's (testkit.stand_in): a text file named kestrun.exe, which exists but cannot be
# started, and no file at all.
TEXT_FILE = "text-file"
MISSING = "missing"


def log_bytes(lines, seed=None):
    """The log file's bytes: each message with LF stored as CR LF, after the UTF-8 byte-order mark in a new
    file, or appended to `seed` (an existing file's bytes) in its encoding: UTF-16LE after FF FE, else UTF-8."""
    text = "".join(line + "\n" for line in lines).replace("\n", "\r\n")
    if seed and seed.startswith(b"\xff\xfe"):
        return seed + text.encode("utf-16-le", "surrogatepass")
    return (seed or BOM) + text.encode("utf-8", "surrogatepass")


def join_windows(folder, name):
    return folder + name if folder.endswith(("\\", "/")) else folder + "\\" + name


# ---- the run record and the event -------------------------------------------------------------------------------

RECORD_KEYS = (RECORD_TREE, RECORD_TREE_32, EVENT_SOURCE_KEY)  # every key the launcher writes
RESULT_STARTED = 259  # the record's exit code while the tool runs (STILL_ACTIVE)
EVENT_SOURCE_VALUES = {
    "EventMessageFile": RegistryValue.string("%SystemRoot%\\System32\\EventCreate.exe", REG_EXPAND_SZ),
    "TypesSupported": RegistryValue.dword(7),
    "CustomSource": RegistryValue.dword(1),
}
# A registration an administrator made with a message file of their own: the launcher must keep it.
OWN_EVENT_SOURCE = {
    "EventMessageFile": RegistryValue.string("C:\\Velmor\\messages.dll", REG_EXPAND_SZ),
    "TypesSupported": RegistryValue.dword(3),
}
# The event's words for each event ID the record scenarios end with.
OUTCOME_WORDS = {100: "the tool succeeded", 203: "the product is not installed", 200: "the tool failed"}
ISO_TIME = re.compile(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z")


@dataclasses.dataclass
class RecordExpectation:
    """What a run leaves in HKLM\\SOFTWARE\\Velmor\\Orvane.Launcher of the 64-bit view (the exit code is the
    scenario's, the log the one it found) and reports as its Application event.

    The record's trees are removed before the run, and the event source's key is set to `source_before`.
    """
    patch_file: str = ""  # the file handed to the tool; empty when the run ended before choosing one
    hashed: tuple = ()  # the deploy files that get a key Patches\\<SHA-256> of their own
    chosen: Optional[str] = None  # the deploy file whose hash is LastPatchSha256; None: it is empty
    tool_version: str = ""  # empty unless the tool's version was read (only when patch.rkv.old is present)
    # The event source's key before the run: None, absent (the launcher must register the source), or values
    # that an administrator set (the launcher must keep them).
    source_before: Optional[dict] = None


def outcome_of(scenario):
    """(whether the run succeeded, its event ID) as docs/exit-codes.tsv gives them for the scenario's exit code. When
    the tool ran, the code is its own: one of the launcher's numbers (2, 3, 5...) is then any other tool code."""
    from_tool = scenario.expect_tool is not None
    table = {number: (kind in SUCCESS_TYPES, event) for number, kind, origin, event, _, _ in rows()
             if number is None or number == 0 or (origin == "tool") == from_tool}
    return table.get(scenario.expect_exit, table[None])


def file_sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest().upper()


def chosen_hash(scenario, deploy):
    """The SHA-256 of the patch file the run chose (`deploy`: the deploy folder's Linux path), or ""."""
    chosen = scenario.expect_record.chosen
    return file_sha256(deploy / chosen) if chosen else ""


def expected_record(scenario, deploy, log):
    """{subkey: {name: value}} of the record after the run, Time aside. `log`: the log's Windows path or ""."""
    expect = scenario.expect_record
    succeeded = outcome_of(scenario)[0]
    values = {"ExitCode": RegistryValue.dword(scenario.expect_exit), "Succeeded": RegistryValue.dword(int(succeeded)),
              "PatchFile": RegistryValue.string(expect.patch_file),
              "ToolVersion": RegistryValue.string(expect.tool_version), "Log": RegistryValue.string(log),
              "LauncherVersion": RegistryValue.string(launcher_version())}
    keys = {RECORD_KEY: dict(values, LastPatchSha256=RegistryValue.string(chosen_hash(scenario, deploy)))}
    for name in expect.hashed:
        keys[RECORD_KEY + "\\Patches\\" + file_sha256(deploy / name)] = values
    return keys


def expected_event_text(scenario, deploy, log):
    code = scenario.expect_exit
    expect = scenario.expect_record
    words = OUTCOME_WORDS[outcome_of(scenario)[1]]
    return (f"Exit code {signed(code)} (0x{code:08X}): {words}.\r\nPatch file: {expect.patch_file}\r\n"
            f"SHA-256: {chosen_hash(scenario, deploy)}\r\nTool version: {expect.tool_version}\r\nLog: {log}")


def compare_keys(found, expected, what):
    """Problems where the keys `found` differ from `expected` ({subkey: {name: value}}): keys, names, values."""
    problems = []
    remaining = {subkey.lower(): subkey for subkey in found}
    for subkey, values in expected.items():
        actual_name = remaining.pop(subkey.lower(), None)
        if actual_name is None:
            problems.append(f"{what}: no key {subkey}")
            continue
        # The server keeps the case of a key's first writer: the name the launcher gave its own key is exact.
        if actual_name.rsplit("\\", 1)[-1] != subkey.rsplit("\\", 1)[-1]:
            problems.append(f"{what}: key {actual_name}, expected {subkey}")
        actual = found[actual_name]
        for name in sorted(set(values) | set(actual)):
            if values.get(name) != actual.get(name):
                shown = actual[name].describe() if name in actual else "missing"
                wanted = values[name].describe() if name in values else "no such value"
                problems.append(f"{what}: {subkey} {name} = {shown}, expected {wanted}")
    problems += [f"{what}: unexpected key {subkey}" for subkey in remaining.values()]
    return problems


def check_record_time(found, before, after):
    """The record's Time values: UTC to the second, within the run."""
    problems = []
    for subkey, values in found.items():
        value = values.pop("Time", None)
        text = value.describe().strip('"') if value is not None and value.type == REG_SZ else None
        match = ISO_TIME.fullmatch(text or "")
        if not match:
            problems.append(f"record: {subkey} Time = {value.describe() if value else 'missing'}, expected UTC "
                            "YYYY-MM-DDTHH:MM:SSZ")
        elif not int(before) - 1 <= calendar.timegm(tuple(map(int, match.groups()))) <= int(after) + 1:
            problems.append(f"record: {subkey} Time {text} outside the run")
    return problems


def check_event(scenario, outcome, deploy, log):
    """The one event of the run as Wine's debug output shows it: type, ID, its channel and its text."""
    events = reported_events(outcome.run_errors)
    if len(events) != 1 or len(events[0].strings) != 1:
        return [f"expected one event with one string, found {[(e.event_id, e.strings) for e in events]!r}"]
    event = events[0]
    succeeded, event_id = outcome_of(scenario)
    expected_type, expected_channel = ((EVENTLOG_INFORMATION_TYPE, "trace") if succeeded else
                                       (EVENTLOG_ERROR_TYPE, "err"))
    problems = []
    if (event.type, event.category, event.event_id) != (expected_type, 0, event_id):
        problems.append(f"event type {event.type}, category {event.category}, ID {event.event_id}; "
                        f"expected type {expected_type}, category 0, ID {event_id}")
    channel, text, cut = event.strings[0]
    expected = expected_event_text(scenario, deploy, log)
    if channel != expected_channel:
        problems.append(f"event text on the {channel} channel, expected {expected_channel}")
    if (cut and not expected.startswith(text)) or (not cut and text != expected):
        problems.append(f"event text {text!r}{' (cut)' if cut else ''}, expected {expected!r}")
    return problems


# ---- scenarios -----------------------------------------------------------------------------------------------

@dataclasses.dataclass
class Scenario:
    id: str  # the test's name: pytest's id after the build, CTest's after e2e. or e2e32.
    name: str  # what it shows
    expect_exit: int
    # Log lines expected in the one new log file; None: no log file may appear.
    expect_log: Optional[list]
    # The tool's parameters and working folder as it must receive them; None: the tool must not run.
    expect_tool: Optional[tuple] = None
    registry: Optional[dict] = dataclasses.field(
        default_factory=lambda: {"InstallLocation": RegistryValue.string(INSTALL_LOCATION)})
    registry_32: Optional[dict] = None  # the same key under Wow6432Node, where a 32-bit program looks by default
    install_dir: str = INSTALL_DIR
    tool: str = NO_VERSION
    tool_controls: dict = dataclasses.field(default_factory=dict)
    deploy_dir: str = DEPLOY_DIR
    deploy_files: tuple = ("patch.rkv",)
    setup: Optional[Callable] = None  # extra preparation: setup(suite)
    check: Optional[Callable] = None  # extra checks: check(outcome) -> list of problems
    teardown: Optional[Callable] = None  # undoes what setup changed outside what reset() clears
    cwd: Optional[str] = None  # the launcher's current folder (made if missing); None: C:\
    dll_overrides: Optional[str] = None  # added to WINEDLLOVERRIDES for this run, e.g. "version=n,b"
    wine_debug: Optional[str] = None  # WINEDEBUG for this run, e.g. "+loaddll" to see which DLLs load
    # A log file that exists already under the name the launcher will choose (its bytes); None: none.
    log_seed: Optional[bytes] = None
    # With log_seed: every such name is a hard link to this one file (made with the seed's bytes), not a copy.
    log_link: Optional[str] = None
    # The run record and the event to check after the run; None: neither is looked at.
    expect_record: Optional[RecordExpectation] = None
    # False: the launcher runs with an administrator's filtered token under UAC, not elevated (RUNNER_LIMITED).
    elevated: bool = True
    # The folder of the run's one log, as the launcher names it: Velmor, or an elevated run's fallback.
    log_folder: str = LOG_FOLDER
    # Called with (suite, pid, seconds) while the launcher is held before its first instruction; it may return
    # {path: bytes} of files it made that are no log of the run unless the run changed them.
    while_held: Optional[Callable] = None

    @property
    def tool_path(self):
        return scenario_tool_path(self.install_dir)


def scenario_tool_path(install_location):
    return join_windows(install_location, "installer\\kestrun.exe")


def deploy_path(name, folder=DEPLOY_DIR):
    return join_windows(folder, name)


def log_folder_host_path(prefix, windows_folder):
    """Wine's Windows folder holds "logs", where the launcher names "Logs"."""
    return prefix.host_path(windows_folder.replace("\\Logs\\", "\\logs\\"))


@dataclasses.dataclass
class Probe:
    """A scenario that runs something else than the launcher: run(suite) -> list of problems."""
    id: str
    name: str
    run: Callable


# ---- running one scenario -------------------------------------------------------------------------------------

@dataclasses.dataclass
class Outcome:
    prefix: WinePrefix
    log_files: list
    records: list
    run_errors: str = ""


class Suite:
    """Runs scenarios of one launcher build in one prefix. `helper_build_dir`: the build whose runners and stand-in
    tools are used (default `build_dir`); `launcher`: a launcher to test instead of the build's."""

    def __init__(self, prefix, build_dir, helper_build_dir=None, launcher=None):
        self.prefix = prefix
        self.tools_dir = build_dir / "tests" / "tools"  # programs of the launcher's bitness
        self.helper_tools_dir = (helper_build_dir or build_dir) / "tests" / "tools"
        self.launcher = launcher or build_dir / LAUNCHER_NAME
        self.emulated = prefix.wine_tree is not None  # the 32-bit launcher's build, whose probes are i686 too
        self.runner = self.helper_tools_dir / "exit_code_runner.exe"
        self.planted_dll = self.tools_dir / "planted" / "version.dll"
        prefix.map_drive("d", prefix.root / "drive_d")
        prefix.map_drive("e", prefix.root / "drive_e")
        self.notes = []  # figures a scenario reports beside its result

    def reset(self):
        """Removes what the last scenario left, in this process or another: its folders, the log folders and any
        moved aside, the drives' contents."""
        self.prefix.scratch(*(log_folder_host_path(self.prefix, folder) for folder in (LOG_FOLDER, FALLBACK_FOLDER)),
                            *self.prefix.host_path("C:\\ProgramData").glob(ASIDE_PREFIX + "*"),
                            *(child for drive in "de" for child in self.prefix.drive_root(drive).iterdir()))
        self.prefix.clear_scratch()

    def lay_out(self, scenario):
        self.prefix.scratch(self.prefix.host_path(scenario.install_dir))
        tool = self.prefix.host_path(scenario.tool_path)
        tool.parent.mkdir(parents=True, exist_ok=True)
        if scenario.tool == TEXT_FILE:
            tool.write_text("this is not a program\r\n")
        elif scenario.tool != MISSING:
            shutil.copyfile(stand_in_program(self.helper_tools_dir, scenario.tool), tool)
        for name, content in scenario.tool_controls.items():
            (tool.parent / name).write_text(content)
        if scenario.expect_record:
            (tool.parent / "probe_record.txt").write_text("")

        deploy = self.prefix.host_path(scenario.deploy_dir)
        deploy.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(self.launcher, deploy / LAUNCHER_NAME)
        for name in scenario.deploy_files:
            (deploy / name).write_bytes(b"patch contents of " + name.encode())
        if scenario.setup:
            scenario.setup(self)

    def run(self, scenario):
        self.reset()
        if isinstance(scenario, Probe):
            return scenario.run(self)
        keys = {UNINSTALL_KEY: scenario.registry, UNINSTALL_KEY_32: scenario.registry_32}
        clear = ()
        if scenario.expect_record:
            clear = RECORD_KEYS
            if scenario.expect_record.source_before is not None:
                keys[EVENT_SOURCE_KEY] = scenario.expect_record.source_before
        self.prefix.set_machine_keys(keys, clear=clear)
        try:
            self.lay_out(scenario)
            return self.run_launcher(scenario)
        finally:
            if scenario.teardown:
                scenario.teardown(self)

    def run_launcher(self, scenario):
        cwd = None
        if scenario.cwd:
            cwd = self.prefix.host_path(scenario.cwd)
            cwd.mkdir(parents=True, exist_ok=True)
            self.prefix.scratch(cwd)
        env = self.prefix.dll_override_env(scenario.dll_overrides) if scenario.dll_overrides else {}
        if scenario.wine_debug:
            env["WINEDEBUG"] = scenario.wine_debug
        if scenario.expect_record:
            env["WINEDEBUG"] = (scenario.wine_debug or self.prefix.env["WINEDEBUG"]) + "," + EVENT_DEBUG_CHANNELS
        if not scenario.elevated:
            env["RUNNER_LIMITED"] = "1"
        launcher = join_windows(scenario.deploy_dir, LAUNCHER_NAME)
        before = time.time()
        seeds = {}
        if scenario.log_seed is None and scenario.while_held is None:
            run = self.prefix.run_raw([str(self.runner), launcher], timeout=RUN_TIMEOUT_S, cwd=cwd, env=env)
        else:
            run, seeds = self.run_with_seeded_log(scenario, [str(self.runner), launcher], cwd, env)
        after = time.time()

        exit_code = runner_exit_code(run.stdout)
        # Seeded files the launcher left alone are no log of this run.
        logs = [log for log in self.read_logs(scenario.log_folder)
                if log not in seeds or log.read_bytes() != seeds[log]]
        records = stand_in_records(self.prefix.host_path(scenario.tool_path).parent)
        outcome = Outcome(self.prefix, logs, records, run.stderr)

        problems = []
        if run.timed_out:
            problems.append(f"the launcher did not end within {RUN_TIMEOUT_S} s")
        elif exit_code is None:
            problems.append(f"the runner reported no exit code (status {run.returncode}): "
                            f"{run.stdout.strip()!r} {run.stderr.strip()[-500:]!r}")
        elif exit_code != scenario.expect_exit:
            problems.append(f"exit code 0x{exit_code:08X}, expected 0x{scenario.expect_exit:08X}")
        problems += self.check_log(scenario, outcome, before, after)
        problems += self.check_tool(scenario, outcome)
        if scenario.expect_record:
            problems += self.check_record(scenario, outcome, before, after)
        if scenario.check:
            problems += scenario.check(outcome)
        return problems

    def run_with_seeded_log(self, scenario, args, cwd, env):
        """Runs with the launcher held before its first instruction, while the scenario's while_held runs
        and a file with the seed's bytes (if any) is put under every name it can choose: its process id, and
        each second it may start in."""
        hold = self.prefix.host_path("C:\\runner hold\\pid.txt")
        hold.parent.mkdir(parents=True, exist_ok=True)
        self.prefix.scratch(hold.parent)
        result = {}
        thread = threading.Thread(target=lambda: result.update(run=self.prefix.run_raw(
            args, timeout=RUN_TIMEOUT_S, cwd=cwd, env=dict(env, RUNNER_HOLD="C:\\runner hold\\pid.txt"))))
        thread.start()
        seeds = {}
        deadline = time.monotonic() + RUN_TIMEOUT_S
        pid_text = ""
        while thread.is_alive() and not pid_text and time.monotonic() < deadline:
            time.sleep(0.02)
            pid_text = hold.read_text().strip() if hold.exists() else ""
        if pid_text:
            pid = int(pid_text)
            now = int(time.time())
            seconds = range(now - 1, now + RUN_TIMEOUT_S)
            if scenario.while_held:
                seeds.update(scenario.while_held(self, pid, seconds) or {})
            if scenario.log_seed is not None:
                folder = self.prefix.host_path(LOG_FOLDER)
                folder.mkdir(parents=True, exist_ok=True)
                target = None
                if scenario.log_link:
                    target = self.prefix.host_path(scenario.log_link)
                    target.write_bytes(scenario.log_seed)
                    self.prefix.scratch(target)
                for second in seconds:
                    path = folder / f"Orvane.Launcher-{second}-{pid}.txt"
                    if target:
                        os.link(target, path)
                    else:
                        path.write_bytes(scenario.log_seed)
                    seeds[path] = scenario.log_seed
            hold.with_name(hold.name + ".go").write_bytes(b"")
        thread.join()
        return result["run"], seeds

    def read_logs(self, windows_folder=LOG_FOLDER):
        folder = log_folder_host_path(self.prefix, windows_folder)
        if not folder.is_dir():
            return []
        return sorted(folder.iterdir())

    @staticmethod
    def check_log(scenario, outcome, before, after):
        """The one log file of the run: its name's time within the run and its exact bytes."""
        if scenario.expect_log is None:
            files = [f for f in outcome.log_files if f.suffix == ".txt"]
            return [f"unexpected log files {[f.name for f in files]}"] if files else []
        if len(outcome.log_files) != 1:
            return [f"expected one log file, found {[f.name for f in outcome.log_files]}"]
        log = outcome.log_files[0]
        problems = []
        match = re.fullmatch(r"Orvane\.Launcher-(-?\d+)-(\d+)\.txt", log.name)
        if not match:
            problems.append(f"log file name {log.name!r}")
        elif not int(before) - 1 <= int(match.group(1)) <= int(after) + 1:
            problems.append(f"log file time {match.group(1)} outside the run ({int(before)}..{int(after)})")
        expected = log_bytes(scenario.expect_log, scenario.log_seed)
        actual = log.read_bytes()
        if actual != expected:
            problems.append(f"log bytes differ:\n      got      {actual!r}\n      expected {expected!r}")
        return problems

    def check_record(self, scenario, outcome, before, after):
        """The run record in the prefix's registry file, in both views; the event source; the event."""
        found = self.prefix.read_machine_keys(*RECORD_KEYS, clear=True)
        record = {subkey: values for subkey, values in found.items() if in_key_tree(subkey, RECORD_TREE)}
        source = {subkey: values for subkey, values in found.items() if in_key_tree(subkey, EVENT_SOURCE_KEY)}
        problems = [f"record in the 32-bit view: {subkey}" for subkey in found if in_key_tree(subkey, RECORD_TREE_32)]
        deploy = self.prefix.host_path(scenario.deploy_dir)
        log = ""
        if scenario.expect_log is not None and len(outcome.log_files) == 1:
            log = scenario.log_folder + "\\" + outcome.log_files[0].name
        problems += check_record_time(record, before, after)
        problems += compare_keys(record, expected_record(scenario, deploy, log), "record")
        registration = scenario.expect_record.source_before or EVENT_SOURCE_VALUES
        problems += compare_keys(source, {EVENT_SOURCE_KEY: registration}, "event source")
        problems += check_event(scenario, outcome, deploy, log)
        if scenario.expect_tool is not None and len(outcome.records) == 1:
            # While the tool runs, the key and each patch file's key say "started": a run that never ends
            # must leave no earlier outcome standing.
            seen = sorted(outcome.records[0].get("record", []))
            keys = [""] + [f"Patches\\{file_sha256(deploy / name)}" for name in scenario.expect_record.hashed]
            started = sorted(f"record={subkey}|ExitCode={RESULT_STARTED}|Succeeded=0" for subkey in keys)
            if seen != started:
                problems.append(f"the tool saw the record {seen}, expected {started}")
        return problems

    @staticmethod
    def check_tool(scenario, outcome):
        if scenario.expect_tool is None:
            return [f"the tool ran although it must not: {outcome.records!r}"] if outcome.records else []
        if len(outcome.records) != 1:
            return [f"expected the tool to run once, it ran {len(outcome.records)} times"]
        parameters, folder = scenario.expect_tool
        record = outcome.records[0]
        problems = []
        # The shell hands the child its file name in quotes, one space, then the parameters as given.
        command_line = f'"{scenario.tool_path}" {parameters}'
        if record.get("command_line") != command_line:
            problems.append(f"tool command line {record.get('command_line')!r}, expected {command_line!r}")
        if record.get("current_directory") != folder:
            problems.append(f"tool working folder {record.get('current_directory')!r}, expected {folder!r}")
        return problems


# ---- the harness's own pieces, a test of their own -------------------------------------------------------------

def harness_checks(suite):
    """Proves the pieces the scenarios stand on: exact registry bytes, the runner, the stand-in's record."""
    prefix = suite.prefix
    problems = []
    for path in (suite.runner, stand_in_program(suite.helper_tools_dir, NO_VERSION), suite.planted_dll):
        if not path.exists():
            return [f"{path} is not built"]

    raw = RegistryValue(REG_SZ, b"C\0:\0\\")  # odd length, no terminator: what the registry editor cannot store
    # The reader of the server's file, which the record's checks stand on, gets back the exact bytes of each
    # form the server saves: hex for the raw value, an escaped text, a number.
    values = {"InstallLocation": raw, "Text": RegistryValue.string('C:\\a "b" \u00e9\U0001d11e\r\n'),
              "Number": RegistryValue.dword(0xC0000005)}
    prefix.set_machine_keys({UNINSTALL_KEY: values})
    read = {subkey.lower(): found for subkey, found in prefix.read_machine_keys(UNINSTALL_KEY).items()}
    saved = (prefix.root / "system.reg").read_text(encoding="utf-8")
    if '"InstallLocation"=hex(1):43,00,3a,00,5c\n' not in saved:
        problems.append("the registry did not keep the raw value's bytes")
    if read != {UNINSTALL_KEY.lower(): values}:
        problems.append(f"the registry file's reader gave {read!r}, expected {values!r}")

    suite.reset()
    tool = prefix.host_path("C:\\harness\\kestrun.exe")
    prefix.scratch(tool.parent)
    tool.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(stand_in_program(suite.helper_tools_dir, NO_VERSION), tool)
    (tool.parent / "exit_code.txt").write_text("0xC0000005")
    run = prefix.run_raw([str(suite.runner), "C:\\harness\\kestrun.exe", "/a", "b c"], timeout=60)
    if "0xC0000005 3221225477 -1073741819" not in run.stdout:
        problems.append(f"runner output {run.stdout!r}, expected the full exit code 0xC0000005")
    record = (tool.parent / "stand_in_record.txt").read_text(encoding="utf-8") if (
        tool.parent / "stand_in_record.txt").exists() else ""
    if 'command_line=C:\\harness\\kestrun.exe /a "b c"\n' not in record:
        problems.append(f"stand-in record {record!r}")
    suite.reset()
    return problems
