"""The end-to-end scenarios, each run on both Windows builds (test_e2e.py), and what only some of them set up or
check.

The scenarios look for what only a real Windows (here Wine) can show: the registry's views and its raw value bytes,
real version resources, paths and drives, the log file's sharing, folder and links, DLL planting, the fatal stop of
a real process, the run record and the event. How the launcher decides (the version rule, each malformed registry
value) is covered row by row by the unit tests; here one or two runs of each kind are enough.
"""

import os
import re
import shutil
import time

from testkit.facts import stand_in_versions
from testkit.wine_prefix import RECORD_KEY, REG_EXPAND_SZ, RegistryValue, parse_timed_run, runner_exit_code
from tests.e2e.harness import (ASIDE_PREFIX, BOM, DEPLOY_DIR, ERROR_INVALID_DATA, ERROR_RESOURCE_DATA_NOT_FOUND,
                               ERROR_SHARING_VIOLATION, FALLBACK_FOLDER, INSTALL_DIR, INSTALL_LOCATION, LAUNCHER_NAME,
                               LOG_FOLDER, MISSING, MSG_COULD_NOT_RUN, MSG_NO_INSTALL, MSG_NO_VERSION_DEFAULT,
                               MSG_SUCCESS, OWN_EVENT_SOURCE, RUN_TIMEOUT_S, SHORT_RECORD, STATUS_STACK_BUFFER_OVERRUN,
                               TEXT_FILE, Outcome, Probe, RecordExpectation, Scenario, Suite, deploy_path, file_sha256,
                               join_windows, log_bytes, msg_found, msg_not_found, msg_tool_returned,
                               msg_version_query_failed, msg_version_size_failed, msg_will_run, patch_parameters,
                               scenario_tool_path)

TOOL = scenario_tool_path(INSTALL_LOCATION)
CURRENT_PARAMETERS = patch_parameters(deploy_path("patch.rkv"))
LEGACY_PARAMETERS = patch_parameters(deploy_path("patch.rkv.old"), DEPLOY_DIR)
CURRENT_RECORD = RecordExpectation(patch_file=deploy_path("patch.rkv"), hashed=("patch.rkv",), chosen="patch.rkv")
BOTH_PATCH_FILES = ("patch.rkv", "patch.rkv.old")


def current_patch_run(id, name, tool=None, **fields):
    """A run that ends with the tool's success on patch.rkv; `tool`: a version that is not legacy."""
    if tool is not None:
        assert not stand_in_versions()[tool], f"{tool} is a legacy version"
        fields["tool"] = tool
    return Scenario(id, name, expect_exit=0,
                    expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                    expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR), **fields)


def legacy_patch_run(id, name, tool, **fields):
    """A run that ends with the tool's success on patch.rkv.old; `tool`: a legacy version."""
    assert stand_in_versions()[tool], f"{tool} is not a legacy version"
    return Scenario(id, name, tool=tool, expect_exit=0,
                    expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, LEGACY_PARAMETERS), MSG_SUCCESS],
                    expect_tool=(LEGACY_PARAMETERS, DEPLOY_DIR), **fields)


def no_install_run(id, name, registry, **fields):
    return Scenario(id, name, expect_exit=3, expect_log=[MSG_NO_INSTALL], registry=registry, **fields)


def tool_exit_run(code, id=None, name=None, **fields):
    return Scenario(id or f"tool_exits_0x{code:08X}", name or f"tool exits with 0x{code:08X}", expect_exit=code,
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
        suite.prefix.scratch(target)
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
    planted_path = join_windows(DEPLOY_DIR, "version.dll").lower()
    planted = [i for i, load in enumerate(loads) if load.lower().startswith(planted_path)]
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
    suite.prefix.scratch(probe)
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
    scenario = Scenario("fatal_stop", "fatal stop", expect_exit=STATUS_STACK_BUFFER_OVERRUN,
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


# ---- a log folder the launcher may not use -------------------------------------------------------------------
# Wine keeps no owners: it shows its own Unix user's files as the prefix's user (the launcher's account) and
# another Unix user's as ANONYMOUS LOGON. As root, a folder chowned to another uid is another account's.

OTHER_UID = 1234
THEIRS = b"an earlier run's own log\r\n"


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
        Scenario("velmor_of_another_account_record",
                 "Velmor of another account, elevated run: moved aside whole, the log in a fresh Velmor, named by the "
                 "record and the event", setup=plant_velmor(OTHER_UID),
                 check=check_velmor_kept(ASIDE_PREFIX[:-1], OTHER_UID), expect_record=CURRENT_RECORD, **logged),
        # An administrator's elevated run trusts nothing their non-elevated half could have made.
        Scenario("velmor_of_own_account", "Velmor of the launcher's own account, elevated run: moved aside, the log "
                 "in a fresh Velmor", setup=plant_velmor(), check=check_velmor_kept(ASIDE_PREFIX[:-1]), **logged),
        Scenario("velmor_of_another_account_not_elevated",
                 "Velmor of another account, run not elevated: no log, the folder left as it was",
                 setup=plant_velmor(OTHER_UID), check=check_velmor_kept("Velmor", OTHER_UID), elevated=False,
                 **dict(logged, expect_log=None)),
        Scenario("log_name_taken_not_elevated",
                 "log's name taken by another account's file, run not elevated: left alone, no log",
                 while_held=forge_log_names, elevated=False, **dict(logged, expect_log=None)),
        Scenario("aside_names_taken_fallback_record",
                 "Velmor of another account and every name to move it to taken: the log in the fallback, named by "
                 "the record", setup=plant_velmor(OTHER_UID), while_held=take_aside_names,
                 check=check_velmor_kept("Velmor", OTHER_UID), log_folder=FALLBACK_FOLDER,
                 expect_record=CURRENT_RECORD, **logged),
    ]


def build_scenarios():
    scenarios = [
        current_patch_run("typical_run_record",
                          "success with patch.rkv: exact log bytes, command line and working folder; "
                          "the missing log folder is created; the record, the event and its source's registration",
                          expect_record=CURRENT_RECORD),
        Scenario("location_without_backslash", "install location without trailing backslash",
                 registry={"InstallLocation": RegistryValue.string(INSTALL_DIR)}, expect_exit=0,
                 expect_log=[msg_found(INSTALL_DIR), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                 expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)),
        Scenario("location_expand_sz", "install location as REG_EXPAND_SZ with a plain path",
                 registry={"InstallLocation": RegistryValue.string(INSTALL_LOCATION, REG_EXPAND_SZ)},
                 expect_exit=0,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                 expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)),
        Scenario("expand_sz_not_expanded", "REG_EXPAND_SZ is not expanded",
                 registry={"InstallLocation": RegistryValue.string("%ProgramFiles%\\Corvantis", REG_EXPAND_SZ)},
                 expect_exit=2,
                 expect_log=[msg_found("%ProgramFiles%\\Corvantis"),
                             msg_not_found("%ProgramFiles%\\Corvantis\\installer\\kestrun.exe")]),
        Scenario("missing_tool", "missing tool: exit 2 with the full tool path", tool=MISSING, expect_exit=2,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_not_found(TOOL)]),
        Scenario("missing_patch_file", "missing patch file: exit 2", deploy_files=(), expect_exit=2,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_not_found(deploy_path("patch.rkv"))]),
        # Two of the malformed values the unit tests list: the key missing, and a text as the registry's own
        # bytes hand it back without a terminator.
        no_install_run("no_registry_key", "no registry key: exit 3", None),
        no_install_run("location_without_terminator", "InstallLocation without terminator: exit 3",
                       {"InstallLocation": RegistryValue.string(INSTALL_LOCATION, terminated=False)}),
        Scenario("location_1023_characters", "InstallLocation of 1023 characters is read whole",
                 registry={"InstallLocation": RegistryValue.string("C:\\" + "x" * 1020)}, tool=MISSING, expect_exit=2,
                 expect_log=[msg_found("C:\\" + "x" * 1020),
                             msg_not_found("C:\\" + "x" * 1020 + "\\installer\\kestrun.exe")]),
        # The version rule on real version resources: a legacy tool and its nearest neighbour that is not.
        legacy_patch_run(
            "legacy_tool_record",
            "legacy tool 6.6.17.253 gets patch.rkv.old and /var scriptdir; both files' records, its version",
            "6.6.17.253", deploy_files=BOTH_PATCH_FILES,
            expect_record=RecordExpectation(patch_file=deploy_path("patch.rkv.old"), hashed=BOTH_PATCH_FILES,
                                            chosen="patch.rkv.old", tool_version="6.6.17.253")),
        current_patch_run("current_tool_beside_legacy_file", "tool 6.6.17.254 gets patch.rkv although patch.rkv.old "
                          "exists", tool="6.6.17.254", deploy_files=BOTH_PATCH_FILES),
        Scenario("no_version_resource", "tool without version resource: two error lines, then patch.rkv",
                 deploy_files=BOTH_PATCH_FILES, expect_exit=0,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                             MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                 expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)),
        Scenario("no_version_resource_only_legacy_file",
                 "tool without version resource and only patch.rkv.old: exit 2", deploy_files=("patch.rkv.old",),
                 expect_exit=2,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                             MSG_NO_VERSION_DEFAULT, msg_not_found(deploy_path("patch.rkv"))]),
        Scenario("damaged_version_resource",
                 "damaged version resource without its fixed record: VerQueryValue line, then patch.rkv",
                 tool=SHORT_RECORD, deploy_files=BOTH_PATCH_FILES, expect_exit=0,
                 expect_log=[msg_found(INSTALL_LOCATION), msg_version_query_failed(ERROR_INVALID_DATA),
                             MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS],
                 expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)),
    ]

    scenarios += [tool_exit_run(code) for code in (1, 0xC0000005, 0x80000000, 0xFFFFFFFF)]
    rerun = RerunAfterSuccess()
    scenarios.append(tool_exit_run(
        RERUN_EXIT, "rerun_after_success_record",
        f"the same patch again after a success, the tool now exits with {RERUN_EXIT}: its record turns to a failure",
        setup=rerun.setup, check=rerun.check, expect_record=CURRENT_RECORD))
    code = 0x80070005
    scenarios.append(Scenario(
        f"tool_exits_0x{code:08X}_record",
        f"tool without version resource exits with 0x{code:08X}: version lines, then its code; both files' "
        "records, patch.rkv's hash last, an error event; an existing event source is kept",
        deploy_files=BOTH_PATCH_FILES, expect_exit=code, tool_controls={"exit_code.txt": f"0x{code:X}"},
        expect_record=RecordExpectation(patch_file=deploy_path("patch.rkv"), hashed=BOTH_PATCH_FILES,
                                        chosen="patch.rkv", source_before=OWN_EVENT_SOURCE),
        expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                    MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), msg_tool_returned(TOOL, code)],
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)))
    scenarios.append(Scenario(
        "tool_not_a_program", "tool that cannot be started: exit 5", tool=TEXT_FILE, expect_exit=5,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_COULD_NOT_RUN]))
    scenarios.append(Scenario(
        "tool_not_a_program_version_unreadable",
        "tool that cannot be started, version unreadable: version lines, then exit 5", tool=TEXT_FILE,
        deploy_files=BOTH_PATCH_FILES, expect_exit=5,
        expect_log=[msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                    MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_COULD_NOT_RUN]))

    # The working folder loses its trailing backslash and is "E:"; a process started with the working folder
    # "E:" finds itself in the root of E:.
    root_current = patch_parameters("E:\\patch.rkv")
    scenarios.append(Scenario(
        "drive_root", "launcher in a drive root: E:\\patch.rkv, working folder E:", deploy_dir="E:\\", expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, root_current), MSG_SUCCESS],
        expect_tool=(root_current, "E:\\")))
    # With the legacy file the script folder is "E:" as well.
    root_parameters = patch_parameters("E:\\patch.rkv.old", "E:")
    scenarios.append(Scenario(
        "drive_root_legacy_tool", "launcher in a drive root with a legacy tool", tool="6.0.1.5", deploy_dir="E:\\",
        deploy_files=BOTH_PATCH_FILES, expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, root_parameters), MSG_SUCCESS],
        expect_tool=(root_parameters, "E:\\")))

    spaced = "D:\\deploy share\\wave 1"
    spaced_parameters = patch_parameters(deploy_path("patch.rkv.old", spaced), spaced)
    scenarios.append(Scenario(
        "deploy_folder_with_spaces", "deploy folder with spaces, legacy tool", tool="6.6.17.253", deploy_dir=spaced,
        deploy_files=BOTH_PATCH_FILES, expect_exit=0,
        expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, spaced_parameters), MSG_SUCCESS],
        expect_tool=(spaced_parameters, spaced)))

    wide_dir = "C:\\Program Files\\Corvantis \u00e9\U0001d11e"
    wide_tool = join_windows(wide_dir, "installer\\kestrun.exe")
    scenarios.append(Scenario(
        "install_folder_beyond_bmp",
        "install folder outside the basic multilingual plane: four-byte UTF-8 in the log",
        registry={"InstallLocation": RegistryValue.string(wide_dir)}, install_dir=wide_dir, expect_exit=0,
        expect_log=[msg_found(wide_dir), msg_will_run(wide_tool, CURRENT_PARAMETERS), MSG_SUCCESS],
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR)))

    scenarios.append(current_patch_run("log_sharing", "log is readable but neither writable nor deletable while the "
                                       "tool runs", tool_controls={"probe_log.txt": ""}, check=check_log_sharing))
    scenarios.append(Scenario(
        "log_folder_blocked_not_elevated",
        "log folder blocked by a file, run not elevated: no log, the tool still runs", expect_exit=0, expect_log=None,
        expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR), setup=block_log_folder,
        check=check_log_folder_still_a_file, elevated=False))
    scenarios.append(Scenario(
        "log_folder_blocked_no_install_record",
        "log folder blocked by a file and no installation: the file moved aside, exit 3; a record without patch file",
        registry=None, expect_exit=3, expect_log=[MSG_NO_INSTALL], setup=block_log_folder,
        check=check_log_folder_set_aside, expect_record=RecordExpectation()))
    scenarios.append(Scenario(
        "common_app_data_moved", "common application-data folder moved: the log goes there", expect_exit=0,
        expect_log=None, expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR), setup=move_common_app_data,
        check=check_log_in_moved_app_data, teardown=lambda suite: set_common_app_data(suite, "%ProgramData%")))
    scenarios.append(current_patch_run(
        "program_data_missing", "C:\\ProgramData missing too: both folders are created", setup=remove_program_data,
        check=check_program_data_made, teardown=restore_program_data))

    # The registry's views: a 32-bit program must ask for the 64-bit one, where a 64-bit installer writes.
    decoy_dir = "C:\\Program Files (x86)\\Corvantis decoy"
    scenarios.append(current_patch_run(
        "both_registry_views", "InstallLocation in both registry views: the 64-bit view's folder is used",
        registry_32={"InstallLocation": RegistryValue.string(decoy_dir)}))
    scenarios.append(no_install_run("only_wow6432node", "InstallLocation only under Wow6432Node: exit 3", None,
                                    registry_32={"InstallLocation": RegistryValue.string(INSTALL_LOCATION)}))

    # A log file of the same name exists already (a process id used again within the same second).
    earlier = "[INFO] an earlier run\r\n"
    for seed, kind, words in (
            (b"\xff\xfe" + earlier.encode("utf-16-le"), "utf16le", "UTF-16LE: new lines appended in UTF-16LE"),
            (BOM + earlier.encode(), "utf8", "UTF-8: new lines appended, no second byte-order mark"),
            (b"", "empty", "empty: it gets the byte-order mark")):
        # The harness's Velmor belongs to the prefix's user, the launcher's own account: a run that is not
        # elevated uses it, an elevated one would move it aside.
        scenarios.append(current_patch_run(f"existing_log_{kind}", f"existing log file, {words}", log_seed=seed,
                                           elevated=False))

    scenarios.append(Probe("planting_control",
                           "planting control: a bare-name load of version.dll beside a planted copy takes it",
                           planting_control))
    scenarios.append(legacy_patch_run(
        "planted_version_dll",
        "planted version.dll beside the launcher and in the current folder, native first: not loaded",
        "6.0.2.999", deploy_files=BOTH_PATCH_FILES, setup=plant_version_dll, check=check_no_plant_mark,
        cwd=PLANT_CWD, dll_overrides=VERSION_NATIVE_FIRST, wine_debug="+loaddll"))

    scenarios.append(Probe("fatal_stop", "fatal stop: a broken guard ends a real process at once with 0xC0000409, "
                           "the log keeps its one line", fatal_stop))
    # A user planted every name the launcher may choose as a hard link to a file of the machine's.
    scenarios.append(Scenario(
        "hard_link_at_log_name",
        "hard link planted at the log's name: the linked file is untouched, no log, the tool's code",
        expect_exit=LINKED_TOOL_EXIT, expect_log=None, expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR),
        tool_controls={"exit_code.txt": f"0x{LINKED_TOOL_EXIT:X}"}, log_seed=LINK_TARGET_BYTES, log_link=LINK_TARGET,
        check=check_link_target_untouched, elevated=False))
    return scenarios + log_target_scenarios()
