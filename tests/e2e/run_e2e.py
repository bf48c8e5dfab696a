#!/usr/bin/env python3
"""End-to-end scenarios: a launcher build, run for real under Wine against a stand-in patch tool.

The x86_64 twin runs on the system's wine64. The shipped i686 program runs in the same kind of 64-bit
prefix under WOW64, with Wine's 32-bit side emulated (--wine-tree, laid out by scripts/setup-wow64): it
must read the registry's 64-bit view and load its system DLLs from syswow64. Programs whose bitness
does not matter to a scenario (the runners, the stand-in tool) come from --helper-build-dir, so that
they run natively; the probes of bitness (the fatal stop, the planted DLL and its control) come from
the launcher's own build.

Each scenario sets up the registry, an install folder with installer\\kestrun.exe (the stand-in tool,
in the version variant it needs) and a deploy folder with the launcher and its patch files; runs the
launcher through exit_code_runner (which sees the full 32-bit exit code); then compares the exit code,
the log file's exact bytes and what the tool received (command line and working folder). Some also read
the launcher's run record back from the prefix's registry file in both views, with what the tool saw of it
while it ran, the event source's registration, and the run's event as Wine's eventlog debug channel prints it.

A few probes run other programs of tests/tools the same way: the negative control of the DLL-planting
test (a bare-name load of version.dll does take a planted copy) and the fatal stop of a real process.

Usage: run_e2e.py [--build-dir build/win64] [--helper-build-dir DIR] [--wine-tree DIR] [--filter TEXT]
                  [--prefix DIR --keep-prefix] [--list]
Prints PASS/FAIL per scenario and ends with "e2e scenarios: N passed, M failed"; exit status 1 on failure.
"""

import argparse
import calendar
import dataclasses
import hashlib
import os
import re
import shutil
import struct
import sys
import threading
import time
from pathlib import Path
from typing import Callable, Optional

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
sys.path.insert(0, str(Path(__file__).resolve().parent))
from wine_prefix import (EVENT_DEBUG_CHANNELS, EVENT_SOURCE_KEY, EVENTLOG_ERROR_TYPE,  # noqa: E402
                         EVENTLOG_INFORMATION_TYPE, RECORD_KEY, RECORD_TREE, RECORD_TREE_32, REG_DWORD, REG_EXPAND_SZ,
                         REG_SZ, UNINSTALL_KEY, UNINSTALL_KEY_32, RegistryValue, WinePrefix, in_key_tree,
                         parse_timed_run, reported_events, runner_exit_code)

REPO = Path(__file__).resolve().parents[2]
BOM = b"\xef\xbb\xbf"
LOG_FOLDER = "C:\\ProgramData\\Velmor"
# An elevated run's fallback as the launcher names it: Wine's Windows folder, then Logs\Velmor (Wine has "logs").
FALLBACK_FOLDER = "C:\\windows\\Logs\\Velmor"

INSTALL_DIR = "C:\\Program Files\\Corvantis"
INSTALL_LOCATION = INSTALL_DIR + "\\"  # as installers usually register it, with the trailing backslash
DEPLOY_DIR = "D:\\deploy"
LAUNCHER_NAME = "Orvane.Launcher.exe"
RUN_TIMEOUT_S = 90

# Both ends of the revision range where any revision is legacy, and the nearest versions that are not.
LEGACY_VERSIONS = ["6.0.1.0", "6.0.1.5", "6.0.2.999", "6.0.2.65535", "6.6.17.253"]
CURRENT_VERSIONS = ["6.0.0.65535", "6.0.3.0", "6.6.17.252", "6.6.17.254", "6.6.18.253", "7.0.1.0"]

# Tool variants: a version text picks the stand-in built with that file version; these pick the others.
NO_VERSION = "no-version"
SHORT_RECORD = "short-record"  # a version resource whose fixed record is missing (value length 0)
TEXT_FILE = "text-file"  # a text file named kestrun.exe: it exists but cannot be started
MISSING = "missing"


# ---- the messages, as the launcher writes them -------------------------------------------------------------

def msg_found(folder):
    return f"[INFO] installation path found: {folder}"


def msg_not_found(path):
    return f"[ERROR] {path} not found!"


def msg_will_run(tool, parameters):
    return f"[INFO] will run {tool} with parameters :\n\t {parameters}"


MSG_NO_INSTALL = "[ERROR] installation path not found!"
MSG_NO_VERSION_DEFAULT = "[ERROR] Could not read kestrun.exe fileversion, defaulting to new encryption method!"
MSG_COULD_NOT_RUN = "[ERROR] kestrun.exe could not be run!"
MSG_SUCCESS = "[INFO] kestrun.exe returned with ERROR_SUCCESS."
ERROR_INVALID_DATA = 13
ERROR_RESOURCE_DATA_NOT_FOUND = 1812
ERROR_SHARING_VIOLATION = 32
STATUS_STACK_BUFFER_OVERRUN = 0xC0000409


def msg_version_size_failed(error):
    return f"[ERROR] GetFileVersionInfoSize failed! GetLastError: {error}"


def msg_version_query_failed(error):
    return f"[ERROR] VerQueryValue failed! GetLastError: {error}"


def msg_tool_returned(tool, code):
    signed = code - (1 << 32) if code & 0x80000000 else code
    return f"[ERROR] {tool} returned {signed}"


def log_bytes(lines, seed=None):
    """The log file's bytes: each message with LF stored as CR LF, after the UTF-8 byte-order mark in a new
    file, or appended to `seed` (an existing file's bytes) in its encoding: UTF-16LE after FF FE, else UTF-8."""
    text = "".join(line + "\n" for line in lines).replace("\n", "\r\n")
    if seed and seed.startswith(b"\xff\xfe"):
        return seed + text.encode("utf-16-le", "surrogatepass")
    return (seed or BOM) + text.encode("utf-8", "surrogatepass")


PE_I386 = 0x14C


def pe_machine(path):
    """The machine field of a PE file's header (0x14C for i686, 0x8664 for x86_64)."""
    data = Path(path).read_bytes()[:4096]
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, offset + 4)[0]


def patch_parameters(patch_path, script_folder=None):
    parameters = f' /encfile "{patch_path}"'
    if script_folder is not None:
        parameters += f' /var scriptdir "{script_folder}"'
    return parameters


def join_windows(folder, name):
    return folder + name if folder.endswith(("\\", "/")) else folder + "\\" + name


# ---- the run record and the event -------------------------------------------------------------------------------

RECORD_KEYS = (RECORD_TREE, RECORD_TREE_32, EVENT_SOURCE_KEY)  # every key the launcher writes
LAUNCHER_VERSION = "1.0.0.0"
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
# What the record and the event make of each exit code the record scenarios end with: succeeded, event ID, words.
# Their 5 is the tool's own: the event tells it from the launcher's failed start (205), the exit code cannot.
OUTCOMES = {
    0: (True, 100, "the tool succeeded"),
    3: (False, 203, "the product is not installed"),
    5: (False, 200, "the tool failed"),
    0x80070005: (False, 200, "the tool failed"),
}
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


def file_sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest().upper()


def chosen_hash(scenario, deploy):
    """The SHA-256 of the patch file the run chose (`deploy`: the deploy folder's Linux path), or ""."""
    chosen = scenario.expect_record.chosen
    return file_sha256(deploy / chosen) if chosen else ""


def expected_record(scenario, deploy, log):
    """{subkey: {name: value}} of the record after the run, Time aside. `log`: the log's Windows path or ""."""
    expect = scenario.expect_record
    succeeded = OUTCOMES[scenario.expect_exit][0]
    values = {"ExitCode": RegistryValue.dword(scenario.expect_exit), "Succeeded": RegistryValue.dword(int(succeeded)),
              "PatchFile": RegistryValue.string(expect.patch_file),
              "ToolVersion": RegistryValue.string(expect.tool_version), "Log": RegistryValue.string(log),
              "LauncherVersion": RegistryValue.string(LAUNCHER_VERSION)}
    keys = {RECORD_KEY: dict(values, LastPatchSha256=RegistryValue.string(chosen_hash(scenario, deploy)))}
    for name in expect.hashed:
        keys[RECORD_KEY + "\\Patches\\" + file_sha256(deploy / name)] = values
    return keys


def expected_event_text(scenario, deploy, log):
    code = scenario.expect_exit
    signed = code - (1 << 32) if code & 0x80000000 else code
    expect = scenario.expect_record
    return (f"Exit code {signed} (0x{code:08X}): {OUTCOMES[code][2]}.\r\nPatch file: {expect.patch_file}\r\n"
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
    succeeded, event_id, _ = OUTCOMES[scenario.expect_exit]
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
    name: str
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
    teardown: Optional[Callable] = None  # undoes what setup changed outside the folders reset() clears
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


TOOL = scenario_tool_path(INSTALL_LOCATION)
CURRENT_PARAMETERS = patch_parameters(deploy_path("patch.rkv"))
LEGACY_PARAMETERS = patch_parameters(deploy_path("patch.rkv.old"), DEPLOY_DIR)
CURRENT_RECORD = RecordExpectation(patch_file=deploy_path("patch.rkv"), hashed=("patch.rkv",), chosen="patch.rkv")
BOTH_PATCH_FILES = ("patch.rkv", "patch.rkv.old")


def current_patch_run(name, **fields):
    """A run that ends with the tool's success on patch.rkv."""
    return Scenario(name=name, expect_exit=0,
                    expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                    expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR), **fields)


def legacy_patch_run(name, **fields):
    return Scenario(name=name, expect_exit=0,
                    expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, LEGACY_PARAMETERS), MSG_SUCCESS],
                    expect_tool=(LEGACY_PARAMETERS, DEPLOY_DIR), **fields)


def no_install_run(name, registry, **fields):
    return Scenario(name=name, expect_exit=3, expect_log=[MSG_NO_INSTALL], registry=registry, **fields)


def tool_exit_run(code, name=None, **fields):
    return Scenario(name=name or f"tool exits with 0x{code:08X}", expect_exit=code,
                    expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS),
                                msg_tool_returned(TOOL, code)],
                    expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR), tool_controls={"exit_code.txt": f"0x{code:X}"},
                    **fields)


def check_log_sharing(outcome):
    """While the tool runs, the log can be read (and shows every message so far) but not written or deleted."""
    problems = []
    probes = outcome.records[0].get("probe", []) if outcome.records else []
    if len(probes) != 1:
        return [f"expected one probed log file, got {probes!r}"]
    fields = dict(part.split("=", 1) for part in probes[0].split("|")[1:])
    expected_so_far = log_bytes([msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS)])
    if fields.get("read") != "0":
        problems.append(f"reading the open log failed with {fields.get('read')}")
    if bytes.fromhex(fields.get("bytes", "")) != expected_so_far:
        problems.append(f"log seen while the tool runs: {bytes.fromhex(fields.get('bytes', ''))!r}, "
                        f"expected {expected_so_far!r}")
    if fields.get("write") != str(ERROR_SHARING_VIOLATION):
        problems.append(f"opening the open log for writing gave {fields.get('write')}, expected a sharing violation")
    if fields.get("delete") != str(ERROR_SHARING_VIOLATION):
        problems.append(f"deleting the open log gave {fields.get('delete')}, expected a sharing violation")
    return problems


def block_log_folder(suite):
    """A file named Velmor where the log folder belongs: the log cannot be opened."""
    velmor = suite.prefix.host_path("C:\\ProgramData\\Velmor")
    velmor.parent.mkdir(parents=True, exist_ok=True)
    velmor.write_bytes(b"not a folder")


def check_log_folder_set_aside(outcome):
    program_data = outcome.prefix.host_path("C:\\ProgramData")
    aside = [p for p in program_data.iterdir() if p.name.startswith(ASIDE_PREFIX)]
    return [] if len(aside) == 1 and aside[0].read_bytes() == b"not a folder" else [
        f"expected the file named Velmor set aside whole, found {sorted(p.name for p in program_data.iterdir())}"]


def check_log_folder_still_a_file(outcome):
    velmor = outcome.prefix.host_path("C:\\ProgramData\\Velmor")
    return [] if velmor.is_file() and velmor.read_bytes() == b"not a folder" else ["the file named Velmor was changed"]


# ---- the common application-data folder itself missing ----------------------------------------------------------

PROGRAM_DATA = "C:\\ProgramData"


def saved_program_data(prefix):
    return prefix.root / "ProgramData.saved"


def remove_program_data(suite):
    """C:\\ProgramData is moved out of the drive; teardown puts it back."""
    folder = suite.prefix.host_path(PROGRAM_DATA)
    folder.rename(saved_program_data(suite.prefix))


def restore_program_data(suite):
    folder = suite.prefix.host_path(PROGRAM_DATA)
    saved = saved_program_data(suite.prefix)
    if saved.exists():
        if folder.exists():
            shutil.rmtree(folder)
        saved.rename(folder)


def check_program_data_made(outcome):
    """Both levels were made by the launcher: C:\\ProgramData holds nothing but the new Velmor folder."""
    folder = outcome.prefix.host_path(PROGRAM_DATA)
    if not folder.is_dir():
        return ["C:\\ProgramData was not created"]
    children = sorted(child.name for child in folder.iterdir())
    return [] if children == ["Velmor"] else [f"C:\\ProgramData holds {children}, expected only Velmor"]


# ---- the common application-data folder elsewhere ----------------------------------------------------------------

SHELL_FOLDERS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
MOVED_APP_DATA = "E:\\App Data"  # on a drive that reset() empties


def set_common_app_data(suite, folder):
    """Sets the common application-data folder in both registry views: under WOW64 the 32-bit shell32 reads
    the folder from Wow6432Node, the 64-bit one from the 64-bit view."""
    for view in ("/reg:64", "/reg:32"):
        run = suite.prefix.run_raw(["reg", "add", SHELL_FOLDERS_KEY, "/v", "Common AppData", "/t", "REG_EXPAND_SZ",
                                    "/d", folder, "/f", view], timeout=RUN_TIMEOUT_S)
        if run.returncode != 0:
            raise RuntimeError(f"reg add {view} failed: {run.stdout!r} {run.stderr[-300:]!r}")


def move_common_app_data(suite):
    """The folder exists (the shell reports a missing one as a failure) and holds no Velmor yet."""
    suite.prefix.host_path(MOVED_APP_DATA).mkdir(parents=True, exist_ok=True)
    set_common_app_data(suite, MOVED_APP_DATA)


def check_log_in_moved_app_data(outcome):
    folder = outcome.prefix.host_path(MOVED_APP_DATA + "\\Velmor")
    logs = sorted(folder.iterdir()) if folder.is_dir() else []
    expected = log_bytes([msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS])
    if len(logs) != 1 or logs[0].read_bytes() != expected:
        return [f"expected one log in {MOVED_APP_DATA}\\Velmor with {expected!r}, found "
                + repr({log.name: log.read_bytes() for log in logs})]
    return []


# ---- DLL planting ---------------------------------------------------------------------------------------------

# Wine's default order takes its builtin version.dll even when a file of that name is found first; native
# first makes a planted file a real threat, as it is on Windows, so the test means something.
VERSION_NATIVE_FIRST = "version=n,b"
PLANT_MARK = "planted_version_loaded.txt"
PLANT_CWD = "C:\\plant cwd"  # a current folder other than the launcher's, with its own planted copy
PLANT_FOLDERS = (DEPLOY_DIR, PLANT_CWD)


def plant_version_dll(suite):
    for folder in PLANT_FOLDERS:
        target = suite.prefix.host_path(folder)
        target.mkdir(parents=True, exist_ok=True)
        suite.touched.add(target)
        shutil.copyfile(suite.planted_dll, target / "version.dll")


def plant_marks(prefix):
    """{folder: the processes that loaded the planted copy there}, for every folder that has a mark."""
    marks = {}
    for folder in PLANT_FOLDERS:
        mark = prefix.host_path(folder) / PLANT_MARK
        if mark.exists():
            marks[folder] = mark.read_bytes().decode("utf-8", "replace").splitlines()
    return marks


def launcher_dll_loads(wine_errors):
    """The DLLs the launcher's process loaded, in order, from a run with WINEDEBUG=+loaddll."""
    launcher = join_windows(DEPLOY_DIR, LAUNCHER_NAME)
    found = re.findall(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*?)" at \S+: (\w+)', wine_errors, re.MULTILINE)
    loads = [(tid, path.replace("\\\\", "\\"), kind) for tid, path, kind in found]  # the trace doubles backslashes
    thread = next((tid for tid, path, _ in loads if path == launcher), None)
    return [f"{path} ({kind})" for tid, path, kind in loads if tid == thread and path != launcher]


def check_no_plant_mark(outcome):
    marks = plant_marks(outcome.prefix)
    if not marks:
        return []
    loads = launcher_dll_loads(outcome.run_errors)
    planted = [i for i, load in enumerate(loads) if load.lower().startswith(join_windows(DEPLOY_DIR, "version.dll").lower())]
    shown = loads[:planted[0] + 3] if planted else loads
    return [f"a planted version.dll was loaded: {marks!r}; the launcher's process loaded, in order: "
            + ", ".join(shown)]


def planting_control(suite):
    """A program beside the planted copy that loads "version.dll" by its bare name takes that copy.

    Same folders, same current folder and same DLL overrides as the launcher's planting scenario: the
    launcher's clean result there is worth something only because this load leaves the mark.
    """
    plant_version_dll(suite)
    loader = suite.prefix.host_path(DEPLOY_DIR) / "bare_name_loader.exe"
    shutil.copyfile(suite.tools_dir / "bare_name_loader.exe", loader)
    run = suite.prefix.run_raw([str(suite.runner), join_windows(DEPLOY_DIR, "bare_name_loader.exe")],
                               timeout=RUN_TIMEOUT_S, cwd=suite.prefix.host_path(PLANT_CWD),
                               env=suite.prefix.dll_override_env(VERSION_NATIVE_FIRST))
    problems = []
    lines = run.stdout.splitlines()
    planted_path = join_windows(DEPLOY_DIR, "version.dll")
    if lines[:2] != [planted_path, "0x00000000 0 0"]:
        problems.append(f"the control printed {run.stdout!r}, expected it to load {planted_path} and exit with 0")
    marks = plant_marks(suite.prefix)
    expected = {DEPLOY_DIR: [join_windows(DEPLOY_DIR, "bare_name_loader.exe")]}
    if marks != expected:
        problems.append(f"marks {marks!r}, expected {expected!r}")
    return problems


# ---- the fatal stop of a real process ----------------------------------------------------------------------

FATAL_PROBE_DIR = "C:\\probe"
FATAL_PROBE_FIRST_LINE = "[INFO] fatal stop probe: the guard is intact"
FILETIME_UNIX_EPOCH = 116444736000000000  # 1970-01-01 in FILETIME ticks
FATAL_STOP_LIFETIME_LIMIT_S = 10.0  # the whole probe, start-up included: generous for a loaded machine; a
EMULATED_SLOWDOWN = 6  # both limits are stretched this much for a 32-bit probe whose Wine side is emulated
# stop that waited for a click or a debugger would never end by itself (the run times out instead)
FATAL_STOP_AFTER_LOG_LIMIT_S = 5.0  # from the log line's write to the process's end


def fatal_stop(suite):
    """The probe writes one log line, breaks a guard and must end at once with 0xC0000409: no window to
    click away (there is no display, so one would hang the run), no second line."""
    probe = suite.prefix.host_path(FATAL_PROBE_DIR)
    probe.mkdir(parents=True, exist_ok=True)
    suite.touched.add(probe)
    shutil.copyfile(suite.tools_dir / "fatal_stop_probe.exe", probe / "fatal_stop_probe.exe")
    before = time.time()
    run = suite.prefix.run_raw([str(suite.helper_tools_dir / "timed_runner.exe"),
                                join_windows(FATAL_PROBE_DIR, "fatal_stop_probe.exe")], timeout=RUN_TIMEOUT_S)
    after = time.time()
    if run.timed_out:
        return [f"the probe did not end within {RUN_TIMEOUT_S} s"]
    timed = parse_timed_run(run.stdout)
    if timed is None:
        return [f"timed_runner printed {run.stdout!r} {run.stderr.strip()[-500:]!r}"]
    exit_code, elapsed_us, created, exited = timed
    problems = []
    if exit_code != STATUS_STACK_BUFFER_OVERRUN:
        problems.append(f"exit code 0x{exit_code:08X}, expected 0x{STATUS_STACK_BUFFER_OVERRUN:08X}")
    scenario = Scenario(name="fatal stop", expect_exit=STATUS_STACK_BUFFER_OVERRUN,
                        expect_log=[FATAL_PROBE_FIRST_LINE])
    logs = suite.read_logs()
    outcome = Outcome(suite.prefix, exit_code, logs, [], run.stdout)
    problems += Suite.check_log(scenario, outcome, before, after)

    slowdown = EMULATED_SLOWDOWN if suite.emulated else 1
    lifetime_s = (exited - created) / 1e7
    if lifetime_s > FATAL_STOP_LIFETIME_LIMIT_S * slowdown:
        problems.append(f"the probe lived {lifetime_s:.3f} s, limit {FATAL_STOP_LIFETIME_LIMIT_S * slowdown} s")
    after_log_s = None
    if len(logs) == 1:
        written = logs[0].stat().st_mtime_ns // 100 + FILETIME_UNIX_EPOCH
        after_log_s = (exited - written) / 1e7
        if after_log_s > FATAL_STOP_AFTER_LOG_LIMIT_S * slowdown:
            problems.append(f"the probe ended {after_log_s:.3f} s after its log line, "
                            f"limit {FATAL_STOP_AFTER_LOG_LIMIT_S * slowdown} s")
    suite.notes.append(f"probe lived {lifetime_s * 1000:.0f} ms (wall {elapsed_us / 1000:.0f} ms), ended "
                       + (f"{after_log_s * 1000:.0f} ms after its log line" if after_log_s is not None else
                          "without a log line to time"))
    return problems


# ---- a hard link planted at the log's predicted name ----------------------------------------------------------

LINK_TARGET = "C:\\windows\\planted_target.ini"
LINK_TARGET_BYTES = b"[settings]\r\nkeep=this\r\n"
LINKED_TOOL_EXIT = 0x2A


def check_link_target_untouched(outcome):
    target = outcome.prefix.host_path(LINK_TARGET)
    return [] if target.read_bytes() == LINK_TARGET_BYTES else [f"the linked file was written: {target.read_bytes()!r}"]


# ---- the record of a patch run again -------------------------------------------------------------------------

RERUN_EXIT = 5


class RerunAfterSuccess:
    """Before the scenario's own run, a first run from the same deploy folder in which the tool succeeds: the
    scenario's failing run must overwrite that success in patch.rkv's record."""

    def __init__(self):
        self.first = None  # (exit code, {Patches subkey's last name: values}) of the first run

    def setup(self, suite):
        controls = suite.prefix.host_path(TOOL).parent
        failing = (controls / "exit_code.txt").read_text()
        (controls / "exit_code.txt").write_text("0")
        run = suite.prefix.run_raw([str(suite.runner), deploy_path(LAUNCHER_NAME)], timeout=RUN_TIMEOUT_S)
        patches = suite.prefix.read_machine_keys(RECORD_KEY + "\\Patches")
        self.first = (runner_exit_code(run.stdout),
                      {subkey.rsplit("\\", 1)[-1]: values for subkey, values in patches.items()})
        (controls / "exit_code.txt").write_text(failing)
        # What the scenario checks is its own run's log and tool record.
        (controls / "stand_in_record.txt").unlink(missing_ok=True)
        for log in suite.read_logs():
            log.unlink()

    def check(self, outcome):
        exit_code, patches = self.first
        first = patches.get(file_sha256(outcome.prefix.host_path(deploy_path("patch.rkv"))), {})
        success = (0, RegistryValue.dword(1), RegistryValue.dword(0))
        if (exit_code, first.get("Succeeded"), first.get("ExitCode")) != success:
            shown = {name: value.describe() for name, value in first.items()}
            return [f"the first run ended with {exit_code} and left patch.rkv's record {shown}, "
                    "expected 0 and a success"]
        return []


@dataclasses.dataclass
class Probe:
    """A scenario that runs something else than the launcher: run(suite) -> list of problems."""
    name: str
    run: Callable


# ---- a log folder the launcher may not use -------------------------------------------------------------------
# Wine keeps no owners: it shows its own Unix user's files as the prefix's user (the launcher's account) and
# another Unix user's as ANONYMOUS LOGON. As root, a folder chowned to another uid is another account's.

OTHER_UID = 1234
ASIDE_PREFIX = "Velmor.untrusted-"
THEIRS = b"an earlier run's own log\r\n"


def fallback_host_path(prefix):
    return prefix.host_path("C:\\windows\\logs\\Velmor")


def plant_velmor(uid=None):
    """A Velmor with a file in it, of the Unix user `uid` (None: the prefix's own user, the launcher's account)."""
    def setup(suite):
        velmor = suite.prefix.host_path(LOG_FOLDER)
        velmor.mkdir(parents=True)
        (velmor / "theirs.dat").write_bytes(THEIRS)
        if uid is not None:
            for path in (velmor / "theirs.dat", velmor):
                os.chown(path, uid, uid)
    return setup


def check_velmor_kept(where, uid=None):
    """The planted folder, found by `where` (its name or the start of it), as it was: its one file, its owner."""
    def check(outcome):
        program_data = outcome.prefix.host_path("C:\\ProgramData")
        found = [p for p in program_data.iterdir() if p.name == where or p.name.startswith(where + "-")]
        if len(found) != 1:
            return [f"expected the planted folder as {where}, found {sorted(p.name for p in program_data.iterdir())}"]
        folder = found[0]
        problems = []
        if sorted(child.name for child in folder.iterdir()) != ["theirs.dat"] or \
                (folder / "theirs.dat").read_bytes() != THEIRS:
            held = sorted(child.name for child in folder.iterdir())
            problems.append(f"{folder.name} holds {held}, not its file alone")
        if uid is not None and folder.stat().st_uid != uid:
            problems.append(f"{folder.name} belongs to uid {folder.stat().st_uid}, expected {uid}")
        return problems
    return check


def take_aside_names(suite, pid, seconds):
    """Every name the launcher could move Velmor aside to exists already: it must not replace one, so it logs in
    the fallback."""
    program_data = suite.prefix.host_path("C:\\ProgramData")
    for second in seconds:
        (program_data / f"{ASIDE_PREFIX}{second}-{pid}").mkdir()


def forge_log_names(suite, pid, seconds):
    """Every name the launcher could choose is a file of another account's, in the launcher's own Velmor."""
    velmor = suite.prefix.host_path(LOG_FOLDER)
    velmor.mkdir(parents=True, exist_ok=True)
    forged = {}
    for second in seconds:
        path = velmor / f"Orvane.Launcher-{second}-{pid}.txt"
        path.write_bytes(THEIRS)
        os.chown(path, OTHER_UID, OTHER_UID)
        forged[path] = THEIRS
    return forged


def log_target_scenarios():
    logged = dict(expect_exit=0, expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR),
                  expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS])
    return [
        Scenario(name="Velmor of another account, elevated run: moved aside whole, the log in a fresh Velmor, "
                      "named by the record and the event", setup=plant_velmor(OTHER_UID),
                 check=check_velmor_kept(ASIDE_PREFIX[:-1], OTHER_UID), expect_record=CURRENT_RECORD, **logged),
        # An administrator's elevated run trusts nothing their non-elevated half could have made.
        Scenario(name="Velmor of the launcher's own account, elevated run: moved aside, the log in a fresh Velmor",
                 setup=plant_velmor(), check=check_velmor_kept(ASIDE_PREFIX[:-1]), **logged),
        Scenario(name="Velmor of another account, run not elevated: no log, the folder left as it was",
                 setup=plant_velmor(OTHER_UID), check=check_velmor_kept("Velmor", OTHER_UID), elevated=False,
                 **dict(logged, expect_log=None)),
        Scenario(name="log's name taken by another account's file, run not elevated: left alone, no log",
                 while_held=forge_log_names, elevated=False, **dict(logged, expect_log=None)),
        Scenario(name="Velmor of another account and every name to move it to taken: the log in the fallback, "
                      "named by the record", setup=plant_velmor(OTHER_UID), while_held=take_aside_names,
                 check=check_velmor_kept("Velmor", OTHER_UID), log_folder=FALLBACK_FOLDER,
                 expect_record=CURRENT_RECORD, **logged),
    ]


def build_scenarios():
    scenarios = [
        current_patch_run("success with patch.rkv: exact log bytes, command line and working folder; "
                          "the missing log folder is created; the record, the event and its source's registration",
                          expect_record=CURRENT_RECORD),
        Scenario(name="install location without trailing backslash",
                 registry={"InstallLocation": RegistryValue.string(INSTALL_DIR)}, expect_exit=0,
                 expect_log=[msg_found(INSTALL_DIR), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                 expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)),
        Scenario(name="install location as REG_EXPAND_SZ with a plain path",
                 registry={"InstallLocation": RegistryValue.string(INSTALL_LOCATION, REG_EXPAND_SZ)},
                 expect_exit=0,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                 expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)),
        Scenario(name="REG_EXPAND_SZ is not expanded",
                 registry={"InstallLocation": RegistryValue.string("%ProgramFiles%\\Corvantis", REG_EXPAND_SZ)},
                 expect_exit=2,
                 expect_log=[msg_found("%ProgramFiles%\\Corvantis"),
                             msg_not_found("%ProgramFiles%\\Corvantis\\installer\\kestrun.exe")]),
        Scenario(name="missing tool: exit 2 with the full tool path", tool=MISSING, expect_exit=2,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_not_found(TOOL)]),
        Scenario(name="missing patch file: exit 2", deploy_files=(), expect_exit=2,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_not_found(deploy_path("patch.rkv"))]),
        no_install_run("no registry key: exit 3", None),
        no_install_run("key without InstallLocation: exit 3", {"DisplayName": RegistryValue.string("Corvantis")}),
        no_install_run("empty InstallLocation: exit 3", {"InstallLocation": RegistryValue.string("")}),
        no_install_run("InstallLocation stored as zero bytes: exit 3", {"InstallLocation": RegistryValue(REG_SZ, b"")}),
        no_install_run("InstallLocation without terminator: exit 3",
                       {"InstallLocation": RegistryValue.string(INSTALL_LOCATION, terminated=False)}),
        no_install_run("InstallLocation with an odd byte count: exit 3",
                       {"InstallLocation": RegistryValue(REG_SZ, RegistryValue.string(INSTALL_LOCATION).data + b"\0")}),
        no_install_run("InstallLocation as REG_DWORD: exit 3",
                       {"InstallLocation": RegistryValue(REG_DWORD, (1).to_bytes(4, "little"))}),
        no_install_run("InstallLocation of 1024 characters: exit 3",
                       {"InstallLocation": RegistryValue.string("C:\\" + "x" * 1021)}),
        Scenario(name="InstallLocation of 1023 characters is read whole",
                 registry={"InstallLocation": RegistryValue.string("C:\\" + "x" * 1020)}, tool=MISSING, expect_exit=2,
                 expect_log=[msg_found("C:\\" + "x" * 1020),
                             msg_not_found("C:\\" + "x" * 1020 + "\\installer\\kestrun.exe")]),
    ]

    for version in LEGACY_VERSIONS[:-1]:
        scenarios.append(legacy_patch_run(f"legacy tool {version} gets patch.rkv.old and /var scriptdir",
                                          tool=version, deploy_files=BOTH_PATCH_FILES))
    version = LEGACY_VERSIONS[-1]
    scenarios.append(legacy_patch_run(
        f"legacy tool {version} gets patch.rkv.old and /var scriptdir; both files' records, its version",
        tool=version, deploy_files=BOTH_PATCH_FILES,
        expect_record=RecordExpectation(patch_file=deploy_path("patch.rkv.old"), hashed=BOTH_PATCH_FILES,
                                        chosen="patch.rkv.old", tool_version=version)))
    scenarios.append(legacy_patch_run("legacy tool with only patch.rkv.old", tool="6.0.2.999",
                                      deploy_files=("patch.rkv.old",)))
    for version in CURRENT_VERSIONS:
        scenarios.append(current_patch_run(f"tool {version} gets patch.rkv although patch.rkv.old exists",
                                           tool=version, deploy_files=BOTH_PATCH_FILES))
    scenarios.append(current_patch_run("legacy tool without patch.rkv.old gets patch.rkv", tool="6.6.17.253"))
    scenarios.append(Scenario(
        name="tool without version resource: two error lines, then patch.rkv",
        deploy_files=("patch.rkv", "patch.rkv.old"), expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                    MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)))
    scenarios.append(Scenario(
        name="tool without version resource and only patch.rkv.old: exit 2",
        deploy_files=("patch.rkv.old",), expect_exit=2,
        expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                    MSG_NO_VERSION_DEFAULT, msg_not_found(deploy_path("patch.rkv"))]))

    scenarios.append(Scenario(
        name="damaged version resource without its fixed record: VerQueryValue line, then patch.rkv",
        tool=SHORT_RECORD, deploy_files=("patch.rkv", "patch.rkv.old"), expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_version_query_failed(ERROR_INVALID_DATA),
                    MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)))

    for code in (1, 0xC0000005, 0x80000000, 0xFFFFFFFF):
        scenarios.append(tool_exit_run(code))
    rerun = RerunAfterSuccess()
    scenarios.append(tool_exit_run(
        RERUN_EXIT, f"the same patch again after a success, the tool now exits with {RERUN_EXIT}: "
                    "its record turns to a failure", setup=rerun.setup, check=rerun.check,
        expect_record=CURRENT_RECORD))
    code = 0x80070005
    scenarios.append(Scenario(
        name=f"tool without version resource exits with 0x{code:08X}: version lines, then its code; both files' "
             "records, patch.rkv's hash last, an error event; an existing event source is kept",
        deploy_files=BOTH_PATCH_FILES, expect_exit=code, tool_controls={"exit_code.txt": f"0x{code:X}"},
        expect_record=RecordExpectation(patch_file=deploy_path("patch.rkv"), hashed=BOTH_PATCH_FILES,
                                        chosen="patch.rkv", source_before=OWN_EVENT_SOURCE),
        expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                    MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), msg_tool_returned(TOOL, code)],
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)))
    scenarios.append(Scenario(
        name="tool that cannot be started: exit 5", tool=TEXT_FILE, expect_exit=5,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_COULD_NOT_RUN]))
    scenarios.append(Scenario(
        name="tool that cannot be started, version unreadable: version lines, then exit 5", tool=TEXT_FILE,
        deploy_files=("patch.rkv", "patch.rkv.old"), expect_exit=5,
        expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND), MSG_NO_VERSION_DEFAULT,
                    msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_COULD_NOT_RUN]))

    # The working folder loses its trailing backslash and is "E:"; a process started with the working folder
    # "E:" finds itself in the root of E:.
    root_current = patch_parameters("E:\\patch.rkv")
    scenarios.append(Scenario(
        name="launcher in a drive root: E:\\patch.rkv, working folder E:", deploy_dir="E:\\", expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, root_current), MSG_SUCCESS],
        expect_tool=(root_current, "E:\\")))
    # With the legacy file the script folder is "E:" as well.
    root_parameters = patch_parameters("E:\\patch.rkv.old", "E:")
    scenarios.append(Scenario(
        name="launcher in a drive root with a legacy tool", tool="6.0.1.5", deploy_dir="E:\\",
        deploy_files=("patch.rkv", "patch.rkv.old"), expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, root_parameters), MSG_SUCCESS],
        expect_tool=(root_parameters, "E:\\")))

    spaced = "D:\\deploy share\\wave 1"
    spaced_parameters = patch_parameters(deploy_path("patch.rkv.old", spaced), spaced)
    scenarios.append(Scenario(
        name="deploy folder with spaces, legacy tool", tool="6.6.17.253", deploy_dir=spaced,
        deploy_files=("patch.rkv", "patch.rkv.old"), expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, spaced_parameters), MSG_SUCCESS],
        expect_tool=(spaced_parameters, spaced)))

    wide_dir = "C:\\Program Files\\Corvantis \u00e9\U0001d11e"
    wide_tool = join_windows(wide_dir, "installer\\kestrun.exe")
    scenarios.append(Scenario(
        name="install folder outside the basic multilingual plane: four-byte UTF-8 in the log",
        registry={"InstallLocation": RegistryValue.string(wide_dir)}, install_dir=wide_dir, expect_exit=0,
        expect_log=[msg_found(wide_dir), msg_will_run(wide_tool, CURRENT_PARAMETERS), MSG_SUCCESS],
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)))

    scenarios.append(current_patch_run("log is readable but neither writable nor deletable while the tool runs",
                                       tool_controls={"probe_log.txt": ""}, check=check_log_sharing))
    scenarios.append(Scenario(
        name="log folder blocked by a file, run not elevated: no log, the tool still runs", expect_exit=0,
        expect_log=None, expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR), setup=block_log_folder,
        check=check_log_folder_still_a_file, elevated=False))
    scenarios.append(Scenario(
        name="log folder blocked by a file and no installation: the file moved aside, exit 3; a record without "
             "patch file", registry=None, expect_exit=3, expect_log=[MSG_NO_INSTALL], setup=block_log_folder,
        check=check_log_folder_set_aside, expect_record=RecordExpectation()))
    scenarios.append(Scenario(
        name="common application-data folder moved: the log goes there", expect_exit=0, expect_log=None,
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR), setup=move_common_app_data,
        check=check_log_in_moved_app_data, teardown=lambda suite: set_common_app_data(suite, "%ProgramData%")))
    scenarios.append(current_patch_run(
        "C:\\ProgramData missing too: both folders are created", setup=remove_program_data,
        check=check_program_data_made, teardown=restore_program_data))

    # The registry's views: a 32-bit program must ask for the 64-bit one, where a 64-bit installer writes.
    decoy_dir = "C:\\Program Files (x86)\\Corvantis decoy"
    scenarios.append(current_patch_run(
        "InstallLocation in both registry views: the 64-bit view's folder is used",
        registry_32={"InstallLocation": RegistryValue.string(decoy_dir)}))
    scenarios.append(no_install_run("InstallLocation only under Wow6432Node: exit 3", None,
                                    registry_32={"InstallLocation": RegistryValue.string(INSTALL_LOCATION)}))

    # A log file of the same name exists already (a process id used again within the same second).
    earlier = "[INFO] an earlier run\r\n"
    for seed, kind in ((b"\xff\xfe" + earlier.encode("utf-16-le"), "UTF-16LE: new lines appended in UTF-16LE"),
                       (BOM + earlier.encode(), "UTF-8: new lines appended, no second byte-order mark"),
                       (b"", "empty: it gets the byte-order mark")):
        # The harness's Velmor belongs to the prefix's user, the launcher's own account: a run that is not
        # elevated uses it, an elevated one would move it aside.
        scenarios.append(current_patch_run(f"existing log file, {kind}", log_seed=seed, elevated=False))

    scenarios.append(Probe("planting control: a bare-name load of version.dll beside a planted copy takes it",
                           planting_control))
    scenarios.append(legacy_patch_run(
        "planted version.dll beside the launcher and in the current folder, native first: not loaded",
        tool="6.0.2.999", deploy_files=("patch.rkv", "patch.rkv.old"), setup=plant_version_dll,
        check=check_no_plant_mark, cwd=PLANT_CWD, dll_overrides=VERSION_NATIVE_FIRST, wine_debug="+loaddll"))

    scenarios.append(Probe("fatal stop: a broken guard ends a real process at once with 0xC0000409, "
                           "the log keeps its one line", fatal_stop))
    # A user planted every name the launcher may choose as a hard link to a file of the machine's.
    scenarios.append(Scenario(
        name="hard link planted at the log's name: the linked file is untouched, no log, the tool's code",
        expect_exit=LINKED_TOOL_EXIT, expect_log=None, expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR),
        tool_controls={"exit_code.txt": f"0x{LINKED_TOOL_EXIT:X}"}, log_seed=LINK_TARGET_BYTES, log_link=LINK_TARGET,
        check=check_link_target_untouched, elevated=False))
    scenarios += log_target_scenarios()
    return scenarios


# ---- running one scenario -------------------------------------------------------------------------------------

@dataclasses.dataclass
class Outcome:
    prefix: WinePrefix
    exit_code: Optional[int]
    log_files: list
    records: list
    run_output: str
    run_errors: str = ""


class Suite:
    def __init__(self, prefix, build_dir, helper_build_dir=None):
        self.prefix = prefix
        self.build_dir = build_dir
        self.tools_dir = build_dir / "tests" / "tools"  # programs of the launcher's bitness
        self.helper_tools_dir = (helper_build_dir or build_dir) / "tests" / "tools"
        self.emulated = prefix.wine_tree is not None and pe_machine(build_dir / LAUNCHER_NAME) == PE_I386
        self.launcher = build_dir / LAUNCHER_NAME
        self.runner = self.helper_tools_dir / "exit_code_runner.exe"
        self.planted_dll = self.tools_dir / "planted" / "version.dll"
        prefix.map_drive("d", prefix.root / "drive_d")
        prefix.map_drive("e", prefix.root / "drive_e")
        self.touched = set()
        self.notes = []  # figures a scenario reports beside its result
        self.record_cleared = False  # whether the record's keys and the event source are known to be absent

    def tool_binary(self, variant):
        if variant == NO_VERSION:
            return self.helper_tools_dir / "stand_in_tool.exe"
        if variant == SHORT_RECORD:
            return self.helper_tools_dir / "stand_in_tool_short_record.exe"
        return self.helper_tools_dir / ("stand_in_tool_" + variant.replace(".", "_") + ".exe")

    def reset(self):
        """Removes what the last scenario left: its folders, the log folder, the drives' contents."""
        program_data = self.prefix.host_path("C:\\ProgramData")
        set_aside = [p for p in program_data.iterdir() if p.name.startswith(ASIDE_PREFIX)] if program_data.is_dir() \
            else []
        log_folders = [self.prefix.host_path(LOG_FOLDER), fallback_host_path(self.prefix)]
        for path in list(self.touched) + log_folders + set_aside:
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path)
            elif path.exists() or path.is_symlink():
                path.unlink()
        for drive in ("d", "e"):
            root = self.prefix.drive_root(drive)
            for child in root.iterdir():
                shutil.rmtree(child) if child.is_dir() else child.unlink()
        self.touched.clear()

    def lay_out(self, scenario):
        self.touched.add(self.prefix.host_path(scenario.install_dir))
        tool = self.prefix.host_path(scenario.tool_path)
        tool.parent.mkdir(parents=True, exist_ok=True)
        if scenario.tool == TEXT_FILE:
            tool.write_text("this is not a program\r\n")
        elif scenario.tool != MISSING:
            shutil.copyfile(self.tool_binary(scenario.tool), tool)
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
            # The last record scenario's read removed what the launcher writes, unless another run came since.
            clear = () if self.record_cleared else RECORD_KEYS
            if scenario.expect_record.source_before is not None:
                keys[EVENT_SOURCE_KEY] = scenario.expect_record.source_before
        self.prefix.set_machine_keys(keys, clear=clear)
        self.record_cleared = False
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
            self.touched.add(cwd)
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
        outcome = Outcome(self.prefix, exit_code, logs, self.read_records(scenario), run.stdout, run.stderr)

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
        self.touched.add(hold.parent)
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
                    self.touched.add(target)
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
        folder = (fallback_host_path(self.prefix) if windows_folder == FALLBACK_FOLDER
                  else self.prefix.host_path(windows_folder))
        if not folder.is_dir():
            return []
        return sorted(folder.iterdir())

    def read_records(self, scenario):
        """The stand-in's records: one dict per run, multi-valued keys (probe, record) as lists."""
        record_file = self.prefix.host_path(join_windows(scenario.install_dir, "installer\\stand_in_record.txt"))
        if not record_file.exists():
            return []
        records = []
        current = None
        for line in record_file.read_bytes().decode("utf-8", "surrogatepass").split("\n"):
            if line == "begin":
                current = {}
            elif line == "end" and current is not None:
                records.append(current)
                current = None
            elif current is not None and "=" in line:
                key, value = line.split("=", 1)
                if key in ("probe", "record"):
                    current.setdefault(key, []).append(line)
                else:
                    current[key] = value
        return records

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
        self.record_cleared = True
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


# ---- the harness's own pieces, checked before the scenarios ---------------------------------------------------

def harness_checks(suite):
    """Proves the pieces the scenarios stand on: exact registry bytes, the runner, the stand-in's record."""
    prefix = suite.prefix
    problems = []
    for path in (suite.runner, suite.tool_binary(NO_VERSION), suite.planted_dll):
        if not path.exists():
            return [f"{path} is not built"]

    raw = RegistryValue(REG_SZ, b"C\0:\0\\")  # odd length, no terminator: what the registry editor cannot store
    # The reader of the server's file, which the record's checks stand on, gets back the exact bytes of each
    # form the server saves: hex for the raw value, an escaped text, a number.
    values = {"InstallLocation": raw, "Text": RegistryValue.string('C:\\a "b" \u00e9\U0001d11e\r\n'),
              "Number": RegistryValue.dword(0xC0000005)}
    prefix.set_machine_values(UNINSTALL_KEY, values)
    read = {subkey.lower(): found for subkey, found in prefix.read_machine_keys(UNINSTALL_KEY).items()}
    saved = (prefix.root / "system.reg").read_text(encoding="utf-8")
    if '"InstallLocation"=hex(1):43,00,3a,00,5c\n' not in saved:
        problems.append("the registry did not keep the raw value's bytes")
    if read != {UNINSTALL_KEY.lower(): values}:
        problems.append(f"the registry file's reader gave {read!r}, expected {values!r}")

    suite.reset()
    tool = prefix.host_path("C:\\harness\\kestrun.exe")
    suite.touched.add(tool.parent)
    tool.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(suite.tool_binary(NO_VERSION), tool)
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


# ---- main -------------------------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, default=REPO / "build" / "win64",
                        help="the launcher's build; its tests/tools give the programs of the launcher's bitness")
    parser.add_argument("--helper-build-dir", type=Path,
                        help="build whose runners and stand-in tools are used (default: --build-dir)")
    parser.add_argument("--wine-tree", type=Path,
                        help="Wine laid out by scripts/setup-wow64, to run an i686 launcher under WOW64")
    parser.add_argument("--launcher", type=Path, help="launcher to test instead of BUILD_DIR/" + LAUNCHER_NAME)
    parser.add_argument("--filter", default="", help="run only scenarios whose name contains this text")
    parser.add_argument("--prefix", type=Path, help="use (and boot, if new) this Wine prefix")
    parser.add_argument("--keep-prefix", action="store_true", help="leave the prefix for inspection")
    parser.add_argument("--list", action="store_true", help="list the scenarios and exit")
    args = parser.parse_args()

    # Scenarios that share the registry's contents run together: each change restarts the Wine server, and so
    # does each read of the run record; the record scenarios come last, so that each read can leave the record's
    # keys removed for the next.
    scenarios = [s for s in build_scenarios() if args.filter in s.name]
    scenarios.sort(key=lambda s: (False, "") if isinstance(s, Probe) else
                   (s.expect_record is not None, repr((s.registry, s.registry_32))))
    if args.list:
        for scenario in scenarios:
            print(scenario.name)
        return 0

    passed = failed = 0
    started = time.monotonic()
    prefix = WinePrefix(args.prefix, keep=args.keep_prefix or args.prefix is not None, wine_tree=args.wine_tree)
    try:
        if not (prefix.root / "system.reg").exists():
            prefix.boot()
        else:
            prefix.start_server()
        print(f"wine prefix ready in {time.monotonic() - started:.1f} s: {prefix.root}", flush=True)
        print(f"launcher: {args.launcher or args.build_dir / LAUNCHER_NAME}"
              + (" (i686, under WOW64 with Wine's 32-bit side emulated)" if args.wine_tree else ""), flush=True)
        suite = Suite(prefix, args.build_dir.resolve(),
                      args.helper_build_dir.resolve() if args.helper_build_dir else None)
        if args.launcher:
            suite.launcher = args.launcher.resolve()

        problems = harness_checks(suite)
        if problems:
            failed += 1
            print("FAIL harness: " + "; ".join(problems), flush=True)
            print(f"e2e scenarios: {passed} passed, {failed + len(scenarios)} failed")
            return 1
        if not suite.launcher.exists():
            print(f"FAIL {suite.launcher} is not built", flush=True)
            print(f"e2e scenarios: {passed} passed, {len(scenarios)} failed")
            return 1

        for scenario in scenarios:
            scenario_started = time.monotonic()
            try:
                problems = suite.run(scenario)
            except Exception as error:  # a broken scenario must not hide the others
                problems = [f"harness error: {error!r}"]
            seconds = time.monotonic() - scenario_started
            if problems:
                failed += 1
                print(f"FAIL {scenario.name} ({seconds:.1f} s)", flush=True)
                for problem in problems:
                    print("    " + problem, flush=True)
            else:
                passed += 1
                print(f"PASS {scenario.name} ({seconds:.1f} s)", flush=True)
            for note in suite.notes:
                print("    " + note, flush=True)
            suite.notes.clear()
        suite.reset()
    finally:
        prefix.close()
    print(f"e2e time {time.monotonic() - started:.0f} s")
    print(f"e2e scenarios: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
