"""The end-to-end harness: a launcher build, run for real under Wine against a stand-in patch tool.

The x86_64 twin runs on the system's wine64. The shipped i686 program runs in the same kind of 64-bit prefix under
WOW64, with Wine's 32-bit side emulated (laid out by scripts/setup-wow64): it must read the registry's 64-bit view
and load its system DLLs from syswow64. Programs whose bitness does not matter to a scenario (the runners, the
stand-in tool) come from the helper build, so that they run natively; the probes of bitness (the fatal stop, the
planted DLL and its control) come from the launcher's own build.

A scenario sets up the registry, an install folder with installer\\kestrun.exe (the stand-in tool, in the version
variant it needs) and a deploy folder with the launcher and its patch files; runs the launcher through
exit_code_runner (which sees the full 32-bit exit code); then compares the exit code, the log file's exact bytes and
what the tool received. Some also read the run record back from the prefix's registry file in both views, with what
the tool saw of it while it ran, the event source's registration, and the run's event as Wine's eventlog debug
channel prints it.
"""

import calendar
import dataclasses
import hashlib
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
HOLD_FILE = "C:\\runner hold\\pid.txt"
# Each build's launcher, and the build of its helpers (the runners and stand-in tools, which run natively).
BUILDS = {"win64": ("win64", "win64"), "win32": ("win32", "win64")}
# Tool variants beside the stand-in's: a text file named kestrun.exe, which cannot be started, and no file at all.
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


def file_sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest().upper()


# ---- the run record and the event -------------------------------------------------------------------------------

RECORD_KEYS = (RECORD_TREE, RECORD_TREE_32, EVENT_SOURCE_KEY)  # every key the launcher writes
RESULT_STARTED = 259  # the record's exit code while the tool runs (STILL_ACTIVE)
EVENT_SOURCE_VALUES = {
    "EventMessageFile": RegistryValue.string("%SystemRoot%\\System32\\EventCreate.exe", REG_EXPAND_SZ),
    "TypesSupported": RegistryValue.dword(7),
    "CustomSource": RegistryValue.dword(1),
}
# The event's words for each event ID the record scenarios end with.
OUTCOME_WORDS = {100: "the tool succeeded", 203: "the product is not installed", 200: "the tool failed"}
ISO_TIME = re.compile(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z")


@dataclasses.dataclass
class RecordExpectation:
    """What a run leaves in the record's key of the 64-bit view (the exit code is the scenario's, the log the one it
    found) and reports as its Application event. The record's trees are removed before the run."""
    patch_file: str = ""  # the file handed to the tool; empty when the run ended before choosing one
    hashed: tuple = ()  # the deploy files that get a key Patches\\<SHA-256> of their own
    chosen: Optional[str] = None  # the deploy file whose hash is LastPatchSha256; None: it is empty
    tool_version: str = ""  # empty unless the tool's version was read (only when patch.rkv.old is present)
    # The event source's key before the run: None, absent; else values of an administrator's, to be kept.
    source_before: Optional[dict] = None


def outcome_of(scenario):
    """(whether the run succeeded, its event ID) as docs/exit-codes.tsv gives them for the scenario's exit code. When
    the tool ran, the code is its own: one of the launcher's numbers (2, 3, 5...) is then any other tool code."""
    from_tool = scenario.expect_tool is not None
    table = {number: (kind in SUCCESS_TYPES, event) for number, kind, origin, event, _, _ in rows()
             if number is None or number == 0 or (origin == "tool") == from_tool}
    return table.get(scenario.expect_exit, table[None])


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
    return problems + [f"{what}: unexpected key {subkey}" for subkey in remaining.values()]


def check_record_time(found, before, after):
    """Takes the record's Time values out of `found`: UTC to the second, within the run."""
    problems = []
    for subkey, values in found.items():
        value = values.pop("Time", None)
        text = value.describe().strip('"') if value is not None and value.type == REG_SZ else ""
        match = ISO_TIME.fullmatch(text)
        if not match:
            problems.append(f"record: {subkey} Time = {value and value.describe()}, expected YYYY-MM-DDTHH:MM:SSZ")
        elif not int(before) - 1 <= calendar.timegm(tuple(map(int, match.groups()))) <= int(after) + 1:
            problems.append(f"record: {subkey} Time {text} outside the run")
    return problems


def check_event(scenario, run_errors, chosen_hash, log):
    """The one event of the run as Wine's debug output shows it: type, ID, its channel and its text."""
    events = reported_events(run_errors)
    if len(events) != 1 or len(events[0].strings) != 1:
        return [f"expected one event with one string, found {[(e.event_id, e.strings) for e in events]!r}"]
    event, (channel, text, cut) = events[0], events[0].strings[0]
    succeeded, event_id = outcome_of(scenario)
    expected_type, expected_channel = ((EVENTLOG_INFORMATION_TYPE, "trace") if succeeded else
                                       (EVENTLOG_ERROR_TYPE, "err"))
    code, expect = scenario.expect_exit, scenario.expect_record
    expected = (f"Exit code {signed(code)} (0x{code:08X}): {OUTCOME_WORDS[event_id]}.\r\nPatch file: "
                f"{expect.patch_file}\r\nSHA-256: {chosen_hash}\r\nTool version: {expect.tool_version}\r\nLog: {log}")
    problems = []
    if (event.type, event.category, event.event_id) != (expected_type, 0, event_id):
        problems.append(f"event type {event.type}, category {event.category}, ID {event.event_id}; "
                        f"expected type {expected_type}, category 0, ID {event_id}")
    if channel != expected_channel:
        problems.append(f"event text on the {channel} channel, expected {expected_channel}")
    if text != expected and not (cut and expected.startswith(text)):
        problems.append(f"event text {text!r}{' (cut)' if cut else ''}, expected {expected!r}")
    return problems


# ---- scenarios -----------------------------------------------------------------------------------------------

@dataclasses.dataclass
class Scenario:
    id: str  # the test's name: pytest's id after the build, CTest's after e2e. or e2e32.
    name: str  # what it shows
    expect_exit: int
    expect_log: Optional[list]  # the lines of the one new log file; None: no log file may appear
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
    expect_record: Optional[RecordExpectation] = None  # the run record and the event; None: neither is looked at
    elevated: bool = True  # False: with an administrator's filtered token under UAC (RUNNER_LIMITED)
    log_folder: str = LOG_FOLDER  # the folder of the run's one log, as the launcher names it
    # Called with (suite, pid, seconds) while the launcher is held before its first instruction; it may return
    # {path: bytes} of files it made, which are no log of the run unless the run changed them (then the run's
    # lines must follow those bytes).
    while_held: Optional[Callable] = None

    @property
    def tool_path(self):
        return scenario_tool_path(self.install_dir)


def scenario_tool_path(install_location):
    return join_windows(install_location, "installer\\kestrun.exe")


def log_folder_host_path(prefix, windows_folder):
    """Wine's Windows folder holds "logs", where the launcher names "Logs"."""
    return prefix.host_path(windows_folder.replace("\\Logs\\", "\\logs\\"))


@dataclasses.dataclass
class Probe:
    """A scenario that runs something else than the launcher: run(suite) -> list of problems."""
    id: str
    name: str
    run: Callable


@dataclasses.dataclass
class Outcome:
    prefix: WinePrefix
    log_files: list
    records: list  # the stand-in tool's, one per run
    run_errors: str = ""
    seeds: dict = dataclasses.field(default_factory=dict)  # while_held's files


# ---- running one scenario -------------------------------------------------------------------------------------

class Suite:
    """Runs scenarios of one launcher build in one prefix. `helper_build_dir`: the build whose runners and stand-in
    tools are used; `launcher`: a launcher to test instead of the build's."""

    def __init__(self, prefix, build_dir, helper_build_dir, launcher=None):
        self.prefix = prefix
        self.tools_dir = build_dir / "tests" / "tools"  # programs of the launcher's bitness
        self.helper_tools_dir = helper_build_dir / "tests" / "tools"
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
        record = scenario.expect_record
        if record and record.source_before is not None:
            keys[EVENT_SOURCE_KEY] = record.source_before
        self.prefix.set_machine_keys(keys, clear=RECORD_KEYS if record else ())
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
        if scenario.expect_record:
            env["WINEDEBUG"] = self.prefix.env["WINEDEBUG"] + "," + EVENT_DEBUG_CHANNELS
        if not scenario.elevated:
            env["RUNNER_LIMITED"] = "1"
        before = time.time()
        run, seeds = self.run_held(scenario, [str(self.runner), join_windows(scenario.deploy_dir, LAUNCHER_NAME)],
                                   cwd, env)
        after = time.time()
        exit_code = runner_exit_code(run.stdout)
        logs = [log for log in self.read_logs(scenario.log_folder)
                if log not in seeds or log.read_bytes() != seeds[log]]
        records = stand_in_records(self.prefix.host_path(scenario.tool_path).parent)
        outcome = Outcome(self.prefix, logs, records, run.stderr, seeds)

        problems = []
        if run.timed_out:
            problems.append(f"the launcher did not end within {RUN_TIMEOUT_S} s")
        elif exit_code is None:
            problems.append(f"the runner reported no exit code (status {run.returncode}): "
                            f"{run.stdout.strip()!r} {run.stderr.strip()[-500:]!r}")
        elif exit_code != scenario.expect_exit:
            problems.append(f"exit code 0x{exit_code:08X}, expected 0x{scenario.expect_exit:08X}")
        problems += check_log(scenario, outcome, before, after)
        problems += check_tool(scenario, outcome)
        if scenario.expect_record:
            problems += self.check_record(scenario, outcome, before, after)
        return problems + (scenario.check(outcome) if scenario.check else [])

    def run_held(self, scenario, args, cwd, env):
        """Runs with the launcher held before its first instruction while the scenario's while_held runs with its
        process id and each second it may start in; returns the run and while_held's files."""
        hold = self.prefix.host_path(HOLD_FILE)
        hold.parent.mkdir(parents=True, exist_ok=True)
        self.prefix.scratch(hold.parent)
        result = {}
        thread = threading.Thread(target=lambda: result.update(run=self.prefix.run_raw(
            args, timeout=RUN_TIMEOUT_S, cwd=cwd, env=dict(env, RUNNER_HOLD=HOLD_FILE))))
        thread.start()
        seeds = {}
        deadline = time.monotonic() + RUN_TIMEOUT_S
        pid_text = ""
        while thread.is_alive() and not pid_text and time.monotonic() < deadline:
            time.sleep(0.02)
            pid_text = hold.read_text().strip() if hold.exists() else ""
        if pid_text:
            now = int(time.time())
            if scenario.while_held:
                seeds = scenario.while_held(self, int(pid_text), range(now - 1, now + RUN_TIMEOUT_S)) or {}
            hold.with_name(hold.name + ".go").write_bytes(b"")
        thread.join()
        return result["run"], seeds

    def read_logs(self, windows_folder=LOG_FOLDER):
        folder = log_folder_host_path(self.prefix, windows_folder)
        return sorted(folder.iterdir()) if folder.is_dir() else []

    def check_record(self, scenario, outcome, before, after):
        """The run record in the prefix's registry file, in both views; the event source; the event."""
        found = self.prefix.read_machine_keys(*RECORD_KEYS, clear=True)
        record = {subkey: values for subkey, values in found.items() if in_key_tree(subkey, RECORD_TREE)}
        source = {subkey: values for subkey, values in found.items() if in_key_tree(subkey, EVENT_SOURCE_KEY)}
        problems = [f"record in the 32-bit view: {subkey}" for subkey in found if in_key_tree(subkey, RECORD_TREE_32)]
        deploy = self.prefix.host_path(scenario.deploy_dir)
        expect = scenario.expect_record
        log = ""
        if scenario.expect_log is not None and len(outcome.log_files) == 1:
            log = scenario.log_folder + "\\" + outcome.log_files[0].name
        chosen_hash = file_sha256(deploy / expect.chosen) if expect.chosen else ""
        values = {"ExitCode": RegistryValue.dword(scenario.expect_exit),
                  "Succeeded": RegistryValue.dword(int(outcome_of(scenario)[0])),
                  "PatchFile": RegistryValue.string(expect.patch_file),
                  "ToolVersion": RegistryValue.string(expect.tool_version), "Log": RegistryValue.string(log),
                  "LauncherVersion": RegistryValue.string(launcher_version())}
        patch_keys = {f"Patches\\{file_sha256(deploy / name)}": values for name in expect.hashed}
        expected = {RECORD_KEY: dict(values, LastPatchSha256=RegistryValue.string(chosen_hash)),
                    **{RECORD_KEY + "\\" + subkey: values for subkey, values in patch_keys.items()}}
        problems += check_record_time(record, before, after)
        problems += compare_keys(record, expected, "record")
        problems += compare_keys(source, {EVENT_SOURCE_KEY: expect.source_before or EVENT_SOURCE_VALUES},
                                 "event source")
        problems += check_event(scenario, outcome.run_errors, chosen_hash, log)
        if scenario.expect_tool is not None and len(outcome.records) == 1:
            # While the tool runs, the key and each patch file's key say "started": a run that never ends
            # must leave no earlier outcome standing.
            seen = sorted(outcome.records[0].get("record", []))
            started = sorted(f"record={subkey}|ExitCode={RESULT_STARTED}|Succeeded=0" for subkey in ["", *patch_keys])
            if seen != started:
                problems.append(f"the tool saw the record {seen}, expected {started}")
        return problems


def check_log(scenario, outcome, before, after):
    """The one log file of the run: its name's time within the run and its exact bytes."""
    if scenario.expect_log is None:
        files = [f.name for f in outcome.log_files if f.suffix == ".txt"]
        return [f"unexpected log files {files}"] if files else []
    if len(outcome.log_files) != 1:
        return [f"expected one log file, found {[f.name for f in outcome.log_files]}"]
    log = outcome.log_files[0]
    problems = []
    match = re.fullmatch(r"Orvane\.Launcher-(-?\d+)-(\d+)\.txt", log.name)
    if not match:
        problems.append(f"log file name {log.name!r}")
    elif not int(before) - 1 <= int(match.group(1)) <= int(after) + 1:
        problems.append(f"log file time {match.group(1)} outside the run ({int(before)}..{int(after)})")
    expected, actual = log_bytes(scenario.expect_log, outcome.seeds.get(log)), log.read_bytes()
    if actual != expected:
        problems.append(f"log bytes differ:\n      got      {actual!r}\n      expected {expected!r}")
    return problems


def check_tool(scenario, outcome):
    if scenario.expect_tool is None:
        return [f"the tool ran although it must not: {outcome.records!r}"] if outcome.records else []
    if len(outcome.records) != 1:
        return [f"expected the tool to run once, it ran {len(outcome.records)} times"]
    parameters, folder = scenario.expect_tool
    record = outcome.records[0]
    # The shell hands the child its file name in quotes, one space, then the parameters as given.
    expected = {"command_line": f'"{scenario.tool_path}" {parameters}', "current_directory": folder}
    return [f"tool {key} {record.get(key)!r}, expected {value!r}" for key, value in expected.items()
            if record.get(key) != value]


# ---- the harness's own pieces, a test of their own -------------------------------------------------------------

def harness_checks(suite):
    """Proves the pieces the scenarios stand on: exact registry bytes, the runner, the stand-in's record."""
    prefix = suite.prefix
    for path in (suite.runner, stand_in_program(suite.helper_tools_dir, NO_VERSION), suite.planted_dll):
        if not path.exists():
            return [f"{path} is not built"]
    problems = []
    # The reader of the server's file, which the record's checks stand on, gets back the exact bytes of each form
    # the server saves: hex for a raw value (odd length, no terminator), an escaped text, a number.
    values = {"InstallLocation": RegistryValue(REG_SZ, b"C\0:\0\\"), "Number": RegistryValue.dword(0xC0000005),
              "Text": RegistryValue.string('C:\\a "b" \u00e9\U0001d11e\r\n')}
    prefix.set_machine_keys({UNINSTALL_KEY: values})
    read = {subkey.lower(): found for subkey, found in prefix.read_machine_keys(UNINSTALL_KEY).items()}
    if '"InstallLocation"=hex(1):43,00,3a,00,5c\n' not in (prefix.root / "system.reg").read_text(encoding="utf-8"):
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
    records = stand_in_records(tool.parent)
    if [record.get("command_line") for record in records] != ['C:\\harness\\kestrun.exe /a "b c"']:
        problems.append(f"stand-in records {records!r}")
    suite.reset()
    return problems
