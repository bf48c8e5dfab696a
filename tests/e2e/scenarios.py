"""The end-to-end scenarios (SCENARIOS, each run on both Windows builds by test_e2e.py), grouped by what they show,
each group after what only it sets up or checks, and the launcher's words as the scenarios expect them.

They look for what only a real Windows (here Wine) can show: the registry's views and its raw value bytes, real
version resources and exit codes, paths and drives, the log file's sharing, folder and links, DLL planting, the
fatal stop of a real process, the run record and the event. How the launcher decides (the version rule, each
malformed registry value, each tool outcome) is covered row by row by the unit tests; one or two runs of each
kind are enough here.
"""

import os
import re
import shutil
import time

from scripts.exit_codes import signed
from testkit.stand_in import SHORT_RECORD, stand_in_versions
from testkit.wine_prefix import RECORD_KEY, REG_EXPAND_SZ, RegistryValue, parse_timed_run, runner_exit_code
from tests.e2e.harness import (ASIDE_PREFIX, BOM, DEPLOY_DIR, FALLBACK_FOLDER, INSTALL_LOCATION,
                               LAUNCHER_NAME, LOG_FOLDER, MISSING, OWN_EVENT_SOURCE, RUN_TIMEOUT_S, TEXT_FILE, Outcome,
                               Probe, RecordExpectation, Scenario, Suite, deploy_path, file_sha256, join_windows,
                               log_bytes, scenario_tool_path)

# ---- the launcher's words ------------------------------------------------------------------------------------


def msg_found(folder):
    return f"[INFO] installation path found: {folder}"


def msg_not_found(path):
    return f"[ERROR] {path} not found!"


def msg_will_run(tool, parameters):
    return f"[INFO] will run {tool} with parameters :\n\t {parameters}"


def msg_version_size_failed(error):
    return f"[ERROR] GetFileVersionInfoSize failed! GetLastError: {error}"


def msg_version_query_failed(error):
    return f"[ERROR] VerQueryValue failed! GetLastError: {error}"


def msg_tool_returned(tool, code):
    return f"[ERROR] {tool} returned {signed(code)}"


MSG_NO_INSTALL = "[ERROR] installation path not found!"
MSG_NO_VERSION_DEFAULT = "[ERROR] Could not read kestrun.exe fileversion, defaulting to new encryption method!"
MSG_COULD_NOT_RUN = "[ERROR] kestrun.exe could not be run!"
MSG_SUCCESS = "[INFO] kestrun.exe returned with ERROR_SUCCESS."
ERROR_INVALID_DATA = 13
ERROR_RESOURCE_DATA_NOT_FOUND = 1812
ERROR_SHARING_VIOLATION = 32
STATUS_STACK_BUFFER_OVERRUN = 0xC0000409


def patch_parameters(patch_path, script_folder=None):
    parameters = f' /encfile "{patch_path}"'
    if script_folder is not None:
        parameters += f' /var scriptdir "{script_folder}"'
    return parameters


# ---- the kinds of run --------------------------------------------------------------------------------------------

TOOL = scenario_tool_path(INSTALL_LOCATION)
CURRENT_PARAMETERS = patch_parameters(deploy_path("patch.rkv"))
LEGACY_PARAMETERS = patch_parameters(deploy_path("patch.rkv.old"), DEPLOY_DIR)
CURRENT_RECORD = RecordExpectation(patch_file=deploy_path("patch.rkv"), hashed=("patch.rkv",), chosen="patch.rkv")
BOTH_PATCH_FILES = ("patch.rkv", "patch.rkv.old")


def current_patch_run(id, name, **fields):
    """A run that hands the tool patch.rkv and ends with its success, unless `fields` say otherwise."""
    assert not stand_in_versions().get(fields.get("tool")), f"{fields['tool']} is a legacy version"
    typical = dict(expect_exit=0, expect_tool=(CURRENT_PARAMETERS, DEPLOY_DIR),
                   expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS])
    return Scenario(id, name, **dict(typical, **fields))


def legacy_patch_run(id, name, tool, **fields):
    """A run that ends with the tool's success on patch.rkv.old; `tool`: a legacy version."""
    assert stand_in_versions()[tool], f"{tool} is not a legacy version"
    typical = dict(expect_exit=0, tool=tool, deploy_files=BOTH_PATCH_FILES, expect_tool=(LEGACY_PARAMETERS, DEPLOY_DIR),
                   expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, LEGACY_PARAMETERS), MSG_SUCCESS])
    return Scenario(id, name, **dict(typical, **fields))


def no_install_run(id, name, registry, **fields):
    return Scenario(id, name, expect_exit=3, expect_log=[MSG_NO_INSTALL], registry=registry, **fields)


def tool_exit_run(code, id=None, name=None, **fields):
    typical = dict(expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS),
                               msg_tool_returned(TOOL, code)])
    return current_patch_run(id or f"tool_exits_0x{code:08X}", name or f"tool exits with 0x{code:08X}",
                             expect_exit=code, tool_controls={"exit_code.txt": f"0x{code:X}"},
                             **dict(typical, **fields))


# ---- the install folder: the registry's views and values, long and wide paths ----------------------------------

LONG_LOCATION = "C:\\" + "x" * 1020
WIDE_DIR = "C:\\Program Files\\Corvantis \u00e9\U0001d11e"
DECOY_DIR = "C:\\Program Files (x86)\\Corvantis decoy"
INSTALL_LOOKUP = [
    current_patch_run("typical_run_record",
                      "success with patch.rkv: exact log bytes, command line and working folder; the missing log "
                      "folder is created; the record, the event and its source's registration",
                      expect_record=CURRENT_RECORD),
    current_patch_run("location_expand_sz", "install location as REG_EXPAND_SZ with a plain path",
                      registry={"InstallLocation": RegistryValue.string(INSTALL_LOCATION, REG_EXPAND_SZ)}),
    Scenario("expand_sz_not_expanded", "REG_EXPAND_SZ is not expanded",
             registry={"InstallLocation": RegistryValue.string("%ProgramFiles%\\Corvantis", REG_EXPAND_SZ)},
             expect_exit=2, expect_log=[msg_found("%ProgramFiles%\\Corvantis"),
                                        msg_not_found("%ProgramFiles%\\Corvantis\\installer\\kestrun.exe")]),
    Scenario("missing_tool", "missing tool: exit 2 with the full tool path", tool=MISSING, expect_exit=2,
             expect_log=[msg_found(INSTALL_LOCATION), msg_not_found(TOOL)]),
    # Two of the malformed values the unit tests list: the key missing, and a text as the registry's own bytes
    # hand it back without a terminator.
    no_install_run("no_registry_key", "no registry key: exit 3", None),
    no_install_run("location_without_terminator", "InstallLocation without terminator: exit 3",
                   {"InstallLocation": RegistryValue.string(INSTALL_LOCATION, terminated=False)}),
    Scenario("location_1023_characters", "InstallLocation of 1023 characters is read whole",
             registry={"InstallLocation": RegistryValue.string(LONG_LOCATION)}, tool=MISSING, expect_exit=2,
             expect_log=[msg_found(LONG_LOCATION), msg_not_found(LONG_LOCATION + "\\installer\\kestrun.exe")]),
    current_patch_run("install_folder_beyond_bmp",
                      "install folder outside the basic multilingual plane: four-byte UTF-8 in the log",
                      registry={"InstallLocation": RegistryValue.string(WIDE_DIR)}, install_dir=WIDE_DIR,
                      expect_log=[msg_found(WIDE_DIR), msg_will_run(scenario_tool_path(WIDE_DIR), CURRENT_PARAMETERS),
                                  MSG_SUCCESS]),
    # The registry's views: a 32-bit program must ask for the 64-bit one, where a 64-bit installer writes.
    current_patch_run("both_registry_views", "InstallLocation in both registry views: the 64-bit view's folder is used",
                      registry_32={"InstallLocation": RegistryValue.string(DECOY_DIR)}),
    no_install_run("only_wow6432node", "InstallLocation only under Wow6432Node: exit 3", None,
                   registry_32={"InstallLocation": RegistryValue.string(INSTALL_LOCATION)}),
]

# ---- the tool's version and its patch file, where the launcher is --------------------------------------------------

VERSION_READ_FAILED = [msg_found(INSTALL_LOCATION), msg_version_size_failed(ERROR_RESOURCE_DATA_NOT_FOUND),
                       MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS)]
# The working folder loses its trailing backslash and is "E:"; a process started with the working folder "E:" finds
# itself in the root of E:. With the legacy file the script folder is "E:" as well.
ROOT_CURRENT = patch_parameters("E:\\patch.rkv")
ROOT_LEGACY = patch_parameters("E:\\patch.rkv.old", "E:")
SPACED = "D:\\deploy share\\wave 1"
SPACED_PARAMETERS = patch_parameters(deploy_path("patch.rkv.old", SPACED), SPACED)
PATCH_CHOICE = [
    # The version rule on real version resources: a legacy tool and its nearest neighbour that is not.
    legacy_patch_run("legacy_tool_record",
                     "legacy tool 6.6.17.253 gets patch.rkv.old and /var scriptdir; both files' records, its version",
                     "6.6.17.253",
                     expect_record=RecordExpectation(patch_file=deploy_path("patch.rkv.old"), hashed=BOTH_PATCH_FILES,
                                                     chosen="patch.rkv.old", tool_version="6.6.17.253")),
    current_patch_run("current_tool_beside_legacy_file", "tool 6.6.17.254 gets patch.rkv although patch.rkv.old "
                      "exists", tool="6.6.17.254", deploy_files=BOTH_PATCH_FILES),
    # What the real version functions answer for a file without a version resource, and for a damaged one.
    current_patch_run("no_version_resource", "tool without version resource: two error lines, then patch.rkv",
                      deploy_files=BOTH_PATCH_FILES, expect_log=VERSION_READ_FAILED + [MSG_SUCCESS]),
    current_patch_run("damaged_version_resource",
                      "damaged version resource without its fixed record: VerQueryValue line, then patch.rkv",
                      tool=SHORT_RECORD, deploy_files=BOTH_PATCH_FILES,
                      expect_log=[msg_found(INSTALL_LOCATION), msg_version_query_failed(ERROR_INVALID_DATA),
                                  MSG_NO_VERSION_DEFAULT, msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_SUCCESS]),
    current_patch_run("drive_root", "launcher in a drive root: E:\\patch.rkv, working folder E:", deploy_dir="E:\\",
                      expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, ROOT_CURRENT), MSG_SUCCESS],
                      expect_tool=(ROOT_CURRENT, "E:\\")),
    legacy_patch_run("drive_root_legacy_tool", "launcher in a drive root with a legacy tool", "6.0.1.5",
                     deploy_dir="E:\\", expect_tool=(ROOT_LEGACY, "E:\\"),
                     expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, ROOT_LEGACY), MSG_SUCCESS]),
    legacy_patch_run("deploy_folder_with_spaces", "deploy folder with spaces, legacy tool", "6.6.17.253",
                     deploy_dir=SPACED, expect_tool=(SPACED_PARAMETERS, SPACED),
                     expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, SPACED_PARAMETERS), MSG_SUCCESS]),
]

# ---- the tool's end: its full 32-bit exit code, a tool that cannot start, a run again -----------------------------

RERUN_EXIT = 5


def after_a_success():
    """Before the scenario's own run, a first run from the same deploy folder in which the tool succeeds and says so
    in patch.rkv's record, which the scenario's failing run must overwrite: its setup and its check."""
    first = {}

    def setup(suite):
        controls = suite.prefix.host_path(TOOL).parent
        failing = (controls / "exit_code.txt").read_text()
        (controls / "exit_code.txt").write_text("0")
        run = suite.prefix.run_raw([str(suite.runner), deploy_path(LAUNCHER_NAME)], timeout=RUN_TIMEOUT_S)
        first["exit_code"] = runner_exit_code(run.stdout)
        first["patches"] = {subkey.rsplit("\\", 1)[-1]: values
                            for subkey, values in suite.prefix.read_machine_keys(RECORD_KEY + "\\Patches").items()}
        (controls / "exit_code.txt").write_text(failing)
        # What the scenario checks is its own run's log and tool record.
        (controls / "stand_in_record.txt").unlink(missing_ok=True)
        for log in suite.read_logs():
            log.unlink()

    def check(outcome):
        record = first["patches"].get(file_sha256(outcome.prefix.host_path(deploy_path("patch.rkv"))), {})
        success = (0, RegistryValue.dword(1), RegistryValue.dword(0))
        if (first["exit_code"], record.get("Succeeded"), record.get("ExitCode")) != success:
            shown = {name: value.describe() for name, value in record.items()}
            return [f"the first run ended with {first['exit_code']} and left patch.rkv's record {shown}, expected 0 "
                    "and a success"]
        return []
    return dict(setup=setup, check=check)


CODE = 0x80070005
TOOL_END = [tool_exit_run(code) for code in (0xC0000005, 0xFFFFFFFF)] + [
    tool_exit_run(RERUN_EXIT, "rerun_after_success_record", f"the same patch again after a success, the tool now "
                  f"exits with {RERUN_EXIT}: its record turns to a failure", expect_record=CURRENT_RECORD,
                  **after_a_success()),
    tool_exit_run(CODE, f"tool_exits_0x{CODE:08X}_record",
                  f"tool without version resource exits with 0x{CODE:08X}: version lines, then its code; both files' "
                  "records, patch.rkv's hash last, an error event; an existing event source is kept",
                  deploy_files=BOTH_PATCH_FILES, expect_log=VERSION_READ_FAILED + [msg_tool_returned(TOOL, CODE)],
                  expect_record=RecordExpectation(patch_file=deploy_path("patch.rkv"), hashed=BOTH_PATCH_FILES,
                                                  chosen="patch.rkv", source_before=OWN_EVENT_SOURCE)),
    Scenario("tool_not_a_program", "tool that cannot be started: exit 5", tool=TEXT_FILE, expect_exit=5,
             expect_log=[msg_found(INSTALL_LOCATION), msg_will_run(TOOL, CURRENT_PARAMETERS), MSG_COULD_NOT_RUN]),
    Scenario("tool_not_a_program_version_unreadable",
             "tool that cannot be started, version unreadable: version lines, then exit 5", tool=TEXT_FILE,
             deploy_files=BOTH_PATCH_FILES, expect_exit=5, expect_log=VERSION_READ_FAILED + [MSG_COULD_NOT_RUN]),
]

# ---- the log file: its sharing, its folder blocked, moved or missing, a file of its name --------------------------

PROGRAM_DATA = "C:\\ProgramData"
SHELL_FOLDERS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
MOVED_APP_DATA = "E:\\App Data"  # on a drive that reset() empties
LINK_TARGET = "C:\\windows\\planted_target.ini"
LINK_TARGET_BYTES = b"[settings]\r\nkeep=this\r\n"


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
    velmor = suite.prefix.host_path(LOG_FOLDER)
    velmor.parent.mkdir(parents=True, exist_ok=True)
    velmor.write_bytes(b"not a folder")


def planted_as(prefix, where):
    """What a file or folder planted as Velmor is found as: `where`, or a name that starts with `where` and a dash."""
    return [p for p in prefix.host_path(PROGRAM_DATA).iterdir() if p.name == where or p.name.startswith(where + "-")]


def check_blocking_file_kept(where):
    """The file named Velmor, found by `where` (see planted_as), as it was."""
    def check(outcome):
        found = planted_as(outcome.prefix, where)
        if len(found) == 1 and found[0].is_file() and found[0].read_bytes() == b"not a folder":
            return []
        return [f"expected the file named Velmor, whole, as {where}; found {[p.name for p in found]}"]
    return check


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


def remove_program_data(suite):
    """C:\\ProgramData is moved out of the drive; teardown puts it back."""
    suite.prefix.host_path(PROGRAM_DATA).rename(suite.prefix.root / "ProgramData.saved")


def restore_program_data(suite):
    folder, saved = suite.prefix.host_path(PROGRAM_DATA), suite.prefix.root / "ProgramData.saved"
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


def check_link_target_untouched(outcome):
    target = outcome.prefix.host_path(LINK_TARGET)
    return [] if target.read_bytes() == LINK_TARGET_BYTES else [f"the linked file was written: {target.read_bytes()!r}"]


EARLIER = "[INFO] an earlier run\r\n"
LOG_FILE = [
    current_patch_run("log_sharing", "log is readable but neither writable nor deletable while the tool runs",
                      tool_controls={"probe_log.txt": ""}, check=check_log_sharing),
    current_patch_run("log_folder_blocked_not_elevated",
                      "log folder blocked by a file, run not elevated: no log, the tool still runs", expect_log=None,
                      setup=block_log_folder, check=check_blocking_file_kept("Velmor"), elevated=False),
    no_install_run("log_folder_blocked_no_install_record", "log folder blocked by a file and no installation: the "
                   "file moved aside, exit 3; a record without patch file", None, setup=block_log_folder,
                   check=check_blocking_file_kept(ASIDE_PREFIX[:-1]), expect_record=RecordExpectation()),
    current_patch_run("common_app_data_moved", "common application-data folder moved: the log goes there",
                      expect_log=None, setup=move_common_app_data, check=check_log_in_moved_app_data,
                      teardown=lambda suite: set_common_app_data(suite, "%ProgramData%")),
    current_patch_run("program_data_missing", "C:\\ProgramData missing too: both folders are created",
                      setup=remove_program_data, check=check_program_data_made, teardown=restore_program_data),
] + [
    # A log file of the same name exists already (a process id used again within the same second). The harness's
    # Velmor belongs to the prefix's user, the launcher's own account: a run that is not elevated uses it, an
    # elevated one would move it aside.
    current_patch_run(f"existing_log_{kind}", f"existing log file, {words}", log_seed=seed, elevated=False)
    for seed, kind, words in ((b"\xff\xfe" + EARLIER.encode("utf-16-le"), "utf16le",
                               "UTF-16LE: new lines appended in UTF-16LE"),
                              (BOM + EARLIER.encode(), "utf8", "UTF-8: new lines appended, no second byte-order mark"),
                              (b"", "empty", "empty: it gets the byte-order mark"))
] + [
    # A user planted every name the launcher may choose as a hard link to a file of the machine's.
    tool_exit_run(0x2A, "hard_link_at_log_name",
                  "hard link planted at the log's name: the linked file is untouched, no log, the tool's code",
                  expect_log=None, log_seed=LINK_TARGET_BYTES, log_link=LINK_TARGET,
                  check=check_link_target_untouched, elevated=False),
]

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
    """The planted folder, found by `where` (see planted_as), as it was: its one file, its owner."""
    def check(outcome):
        found = planted_as(outcome.prefix, where)
        if len(found) != 1:
            return [f"expected the planted folder as {where}, found {[p.name for p in found]}"]
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
    program_data = suite.prefix.host_path(PROGRAM_DATA)
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


LOG_TARGET = [
    current_patch_run("velmor_of_another_account_record",
                      "Velmor of another account, elevated run: moved aside whole, the log in a fresh Velmor, named "
                      "by the record and the event", setup=plant_velmor(OTHER_UID),
                      check=check_velmor_kept(ASIDE_PREFIX[:-1], OTHER_UID), expect_record=CURRENT_RECORD),
    # An administrator's elevated run trusts nothing their non-elevated half could have made.
    current_patch_run("velmor_of_own_account", "Velmor of the launcher's own account, elevated run: moved aside, the "
                      "log in a fresh Velmor", setup=plant_velmor(), check=check_velmor_kept(ASIDE_PREFIX[:-1])),
    current_patch_run("velmor_of_another_account_not_elevated",
                      "Velmor of another account, run not elevated: no log, the folder left as it was",
                      setup=plant_velmor(OTHER_UID), check=check_velmor_kept("Velmor", OTHER_UID), elevated=False,
                      expect_log=None),
    current_patch_run("log_name_taken_not_elevated",
                      "log's name taken by another account's file, run not elevated: left alone, no log",
                      while_held=forge_log_names, elevated=False, expect_log=None),
    current_patch_run("aside_names_taken_fallback_record",
                      "Velmor of another account and every name to move it to taken: the log in the fallback, named "
                      "by the record", setup=plant_velmor(OTHER_UID), while_held=take_aside_names,
                      check=check_velmor_kept("Velmor", OTHER_UID), log_folder=FALLBACK_FOLDER,
                      expect_record=CURRENT_RECORD),
]

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


PLANTING = [
    Probe("planting_control", "planting control: a bare-name load of version.dll beside a planted copy takes it",
          planting_control),
    legacy_patch_run("planted_version_dll",
                     "planted version.dll beside the launcher and in the current folder, native first: not loaded",
                     "6.0.2.999", setup=plant_version_dll, check=check_no_plant_mark, cwd=PLANT_CWD,
                     dll_overrides=VERSION_NATIVE_FIRST, wine_debug="+loaddll"),
]

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
    problems += Suite.check_log(scenario, Outcome(suite.prefix, logs, []), before, after)

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


FATAL_STOP = [Probe("fatal_stop", "fatal stop: a broken guard ends a real process at once with 0xC0000409, the log "
                    "keeps its one line", fatal_stop)]

SCENARIOS = INSTALL_LOOKUP + PATCH_CHOICE + TOOL_END + LOG_FILE + LOG_TARGET + PLANTING + FATAL_STOP
