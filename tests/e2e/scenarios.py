"""The end-to-end scenarios (SCENARIOS, each run on both Windows builds by test_e2e.py), grouped by what they show,
each group after what only it sets up or checks.

They look for what only a real Windows (here Wine) can show: the registry's views and its raw value bytes, real
version resources and exit codes, paths and drives, the log file's sharing, folder and links, DLL planting, the
fatal stop of a real process, the run record and the event. How the launcher decides (the version rule, each
malformed registry value, each tool outcome) is covered row by row by the unit tests; one or two runs of each
kind are enough here.
"""

import os
import shutil
import time

from scripts.exit_codes import signed
from testkit.stand_in import NO_VERSION, SHORT_RECORD, stand_in_versions
from testkit.wine_prefix import RECORD_KEY, REG_EXPAND_SZ, RegistryValue, parse_timed_run, runner_exit_code
from tests.e2e.harness import (ASIDE_PREFIX, BOM, DEPLOY_DIR, FALLBACK_FOLDER, INSTALL_LOCATION,
                               LAUNCHER_NAME, LOG_FOLDER, MISSING, RUN_TIMEOUT_S, TEXT_FILE, Outcome, Probe,
                               RecordExpectation, Scenario, check_log, file_sha256, join_windows, log_bytes,
                               scenario_tool_path)


# The launcher's words, written out here on their own rather than read from its sources, so that a changed
# wording fails these runs as it would fail whoever reads the logs; msg() fills one in printf's way.
WORDS = {
    "INSTALL_PATH_FOUND": "[INFO] installation path found: %s",
    "INSTALL_PATH_NOT_FOUND": "[ERROR] installation path not found!",
    "NOT_FOUND": "[ERROR] %s not found!",
    "VERSION_SIZE_FAILED": "[ERROR] GetFileVersionInfoSize failed! GetLastError: %d",
    "VERSION_QUERY_FAILED": "[ERROR] VerQueryValue failed! GetLastError: %d",
    "VERSION_DEFAULTING": "[ERROR] Could not read kestrun.exe fileversion, defaulting to new encryption method!",
    "WILL_RUN": "[INFO] will run %s with parameters :\n\t %s",
    "COULD_NOT_RUN": "[ERROR] kestrun.exe could not be run!",
    "TOOL_RETURNED": "[ERROR] %s returned %d",
    "TOOL_SUCCEEDED": "[INFO] kestrun.exe returned with ERROR_SUCCESS.",
}


def msg(name, *args):
    return WORDS[name] % args


TOOL = scenario_tool_path(INSTALL_LOCATION)
BOTH_PATCH_FILES = ("patch.rkv", "patch.rkv.old")
# What the real version functions answer for a file without a version resource and for a damaged one.
VERSION_UNREADABLE = {NO_VERSION: msg("VERSION_SIZE_FAILED", 1812), SHORT_RECORD: msg("VERSION_QUERY_FAILED", 13)}


def patch_run(id, name, tool=NO_VERSION, exit_code=0, location=INSTALL_LOCATION, deploy_dir=DEPLOY_DIR,
              deploy_files=None, **fields):
    """A run in which the tool gets the patch file its version calls for and exits with `exit_code`; `location`: the
    registered install folder, where the tool is. The version is read only when patch.rkv.old is there too."""
    legacy = stand_in_versions().get(tool, False)
    deploy_files = deploy_files or (BOTH_PATCH_FILES if legacy else ("patch.rkv",))
    script_folder = deploy_dir.rstrip("\\")  # "E:" in a drive root
    parameters = f' /encfile "{join_windows(deploy_dir, "patch.rkv.old" if legacy else "patch.rkv")}"'
    parameters += f' /var scriptdir "{script_folder}"' if legacy else ""
    tool_path = scenario_tool_path(location)
    version = [VERSION_UNREADABLE[tool], msg("VERSION_DEFAULTING")] if (
        "patch.rkv.old" in deploy_files and tool in VERSION_UNREADABLE) else []
    end = msg("TOOL_RETURNED", tool_path, signed(exit_code)) if exit_code else msg("TOOL_SUCCEEDED")
    typical = dict(expect_exit=exit_code, tool=tool, deploy_dir=deploy_dir, deploy_files=deploy_files,
                   expect_tool=(parameters, deploy_dir),
                   tool_controls={"exit_code.txt": f"0x{exit_code:X}"} if exit_code else {},
                   expect_log=[msg("INSTALL_PATH_FOUND", location), *version, msg("WILL_RUN", tool_path, parameters),
                               end])
    if location != INSTALL_LOCATION:
        typical.update(registry={"InstallLocation": RegistryValue.string(location)}, install_dir=location)
    return Scenario(id, name, **dict(typical, **fields))


def no_install_run(id, name, registry=None, **fields):
    return Scenario(id, name, expect_exit=3, expect_log=[msg("INSTALL_PATH_NOT_FOUND")], registry=registry, **fields)


# The log as the tool finds it when it starts with patch.rkv.
STARTING_LINES = patch_run("", "").expect_log[:-1]
CURRENT_RECORD = RecordExpectation(patch_file=join_windows(DEPLOY_DIR, "patch.rkv"), hashed=("patch.rkv",),
                                   chosen="patch.rkv")

# ---- the install folder: the registry's views and values, long and wide paths ----------------------------------

LONG_LOCATION = "C:\\" + "x" * 1020
EXPAND_LOCATION = "%ProgramFiles%\\Corvantis"
INSTALL_LOOKUP = [
    patch_run("typical_run_record", "success with patch.rkv: exact log bytes, command line and working folder; the "
              "missing log folder is created; the record, the event and its source's registration",
              expect_record=CURRENT_RECORD),
    Scenario("expand_sz_not_expanded", "REG_EXPAND_SZ is not expanded", expect_exit=2,
             registry={"InstallLocation": RegistryValue.string(EXPAND_LOCATION, REG_EXPAND_SZ)},
             expect_log=[msg("INSTALL_PATH_FOUND", EXPAND_LOCATION), msg("NOT_FOUND", scenario_tool_path(
                 EXPAND_LOCATION))]),
    Scenario("missing_tool", "missing tool: exit 2 with the full tool path", tool=MISSING, expect_exit=2,
             expect_log=[msg("INSTALL_PATH_FOUND", INSTALL_LOCATION), msg("NOT_FOUND", TOOL)]),
    # A text as the registry's own bytes hand it back without a terminator: one of the malformed values the unit
    # tests list.
    no_install_run("location_without_terminator", "InstallLocation without terminator: exit 3",
                   {"InstallLocation": RegistryValue.string(INSTALL_LOCATION, terminated=False)}),
    Scenario("location_1023_characters", "InstallLocation of 1023 characters is read whole", tool=MISSING,
             registry={"InstallLocation": RegistryValue.string(LONG_LOCATION)}, expect_exit=2,
             expect_log=[msg("INSTALL_PATH_FOUND", LONG_LOCATION),
                         msg("NOT_FOUND", scenario_tool_path(LONG_LOCATION))]),
    patch_run("install_folder_beyond_bmp", "install folder outside the basic multilingual plane: four-byte UTF-8 in "
              "the log", location="C:\\Program Files\\Corvantis \u00e9\U0001d11e"),
    # The registry's views: a 32-bit program must ask for the 64-bit one, where a 64-bit installer writes.
    patch_run("both_registry_views", "InstallLocation in both registry views: the 64-bit view's folder is used",
              registry_32={"InstallLocation": RegistryValue.string("C:\\Program Files (x86)\\Corvantis decoy")}),
    no_install_run("only_wow6432node", "InstallLocation only under Wow6432Node: exit 3",
                   registry_32={"InstallLocation": RegistryValue.string(INSTALL_LOCATION)}),
]

# ---- the tool's version and its patch file, where the launcher is --------------------------------------------------

PATCH_CHOICE = [
    # The version rule on real version resources: a legacy tool and its nearest neighbour that is not.
    patch_run("legacy_tool_record", "legacy tool 6.6.17.253 gets patch.rkv.old and /var scriptdir; both files' "
              "records, its version", "6.6.17.253",
              expect_record=RecordExpectation(patch_file=join_windows(DEPLOY_DIR, "patch.rkv.old"),
                                              hashed=BOTH_PATCH_FILES, chosen="patch.rkv.old",
                                              tool_version="6.6.17.253")),
    patch_run("current_tool_beside_legacy_file", "tool 6.6.17.254 gets patch.rkv although patch.rkv.old exists",
              "6.6.17.254", deploy_files=BOTH_PATCH_FILES),
    patch_run("no_version_resource", "tool without version resource: two error lines, then patch.rkv",
              deploy_files=BOTH_PATCH_FILES),
    patch_run("damaged_version_resource", "damaged version resource without its fixed record: VerQueryValue line, "
              "then patch.rkv", SHORT_RECORD, deploy_files=BOTH_PATCH_FILES),
    # A process started with the working folder "E:" finds itself in the root of E:.
    patch_run("drive_root", "launcher in a drive root: E:\\patch.rkv, working folder E:", deploy_dir="E:\\"),
    patch_run("deploy_folder_with_spaces", "deploy folder with spaces, legacy tool", "6.6.17.253",
              deploy_dir="D:\\deploy share\\wave 1"),
]

# ---- the tool's end: its full 32-bit exit code, a tool that cannot start, a run again -----------------------------


def after_a_success():
    """Before the scenario's own run, a first run from the same deploy folder in which the tool succeeds and says so
    in patch.rkv's record, which the scenario's failing run must overwrite: its setup and its check."""
    first = {}

    def setup(suite):
        exit_code = suite.prefix.host_path(TOOL).parent / "exit_code.txt"
        failing = exit_code.read_text()
        exit_code.write_text("0")
        run = suite.prefix.run_raw([str(suite.runner), join_windows(DEPLOY_DIR, LAUNCHER_NAME)], timeout=RUN_TIMEOUT_S)
        first["exit_code"] = runner_exit_code(run.stdout)
        first["patches"] = {subkey.rsplit("\\", 1)[-1]: values
                            for subkey, values in suite.prefix.read_machine_keys(RECORD_KEY + "\\Patches").items()}
        exit_code.write_text(failing)
        # What the scenario checks is its own run's log and tool record.
        (exit_code.parent / "stand_in_record.txt").unlink(missing_ok=True)
        for log in suite.read_logs():
            log.unlink()

    def check(outcome):
        record = first["patches"].get(file_sha256(outcome.prefix.host_path(DEPLOY_DIR) / "patch.rkv"), {})
        if (first["exit_code"], record.get("Succeeded"), record.get("ExitCode")) == (
                0, RegistryValue.dword(1), RegistryValue.dword(0)):
            return []
        shown = {name: value.describe() for name, value in record.items()}
        return [f"the first run ended with {first['exit_code']} and left patch.rkv's record {shown}, expected 0 and a "
                "success"]
    return dict(setup=setup, check=check)


CODE = 0x80070005
TOOL_END = [
    patch_run("tool_exits_0xC0000005", "tool exits with 0xC0000005", exit_code=0xC0000005),
    patch_run("rerun_after_success_record", "the same patch again after a success, the tool now exits with 5: its "
              "record turns to a failure", exit_code=5, expect_record=CURRENT_RECORD, **after_a_success()),
    patch_run(f"tool_exits_0x{CODE:08X}_record", f"tool without version resource exits with 0x{CODE:08X}: version "
              "lines, then its code; both files' records, patch.rkv's hash last, an error event; an existing event "
              "source is kept", exit_code=CODE, deploy_files=BOTH_PATCH_FILES,
              expect_record=RecordExpectation(
                  patch_file=join_windows(DEPLOY_DIR, "patch.rkv"), hashed=BOTH_PATCH_FILES, chosen="patch.rkv",
                  # An administrator's registration with a message file of their own.
                  source_before={"EventMessageFile": RegistryValue.string("C:\\Velmor\\messages.dll", REG_EXPAND_SZ),
                                 "TypesSupported": RegistryValue.dword(3)})),
    patch_run("tool_not_a_program", "tool that cannot be started: exit 5", tool=TEXT_FILE, expect_exit=5,
              expect_tool=None, expect_log=STARTING_LINES + [msg("COULD_NOT_RUN")]),
]

# ---- the log file: its sharing, its folder blocked, moved or missing, a file of its name --------------------------
# Wine keeps no owners: it shows its own Unix user's files as the prefix's user (the launcher's account) and
# another Unix user's as ANONYMOUS LOGON. As root, a file chowned to another uid is another account's.

PROGRAM_DATA = "C:\\ProgramData"
SHELL_FOLDERS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
MOVED_APP_DATA = "E:\\App Data"  # on a drive that reset() empties
LINK_TARGET = "C:\\windows\\planted_target.ini"
OTHER_UID = 1234
THEIRS = b"an earlier run's own log\r\n"
ERROR_SHARING_VIOLATION = 32


def check_log_sharing(outcome):
    """While the tool runs, the log can be read (and shows every message so far) but not written or deleted."""
    probes = outcome.records[0].get("probe", []) if outcome.records else []
    if len(probes) != 1:
        return [f"expected one probed log file, got {probes!r}"]
    fields = dict(part.split("=", 1) for part in probes[0].split("|")[1:])
    expected = {"read": "0", "bytes": log_bytes(STARTING_LINES).hex(),
                "write": str(ERROR_SHARING_VIOLATION), "delete": str(ERROR_SHARING_VIOLATION)}
    return [f"the open log's {key} gave {fields.get(key)}, expected {value}" for key, value in expected.items()
            if fields.get(key, "").lower() != value]


def velmor_planted(where, folder=True, uid=None):
    """The setup and the check of a Velmor planted before the run: a folder with a file in it, or a file, of the Unix
    user `uid` (None: the prefix's own user, the launcher's account). After the run it must be found whole, its owner
    kept, as `where` or a name that starts with `where` and a dash."""
    expected = {"theirs.dat": THEIRS} if folder else THEIRS

    def setup(suite):
        velmor = suite.prefix.host_path(LOG_FOLDER)
        planted = [velmor / "theirs.dat", velmor] if folder else [velmor]
        if folder:
            velmor.mkdir(parents=True)
        planted[0].write_bytes(THEIRS)
        for path in planted if uid is not None else ():
            os.chown(path, uid, uid)

    def check(outcome):
        found = [p for p in outcome.prefix.host_path(PROGRAM_DATA).iterdir()
                 if p.name == where or p.name.startswith(where + "-")]
        if len(found) != 1:
            return [f"expected the planted Velmor as {where}, found {[p.name for p in found]}"]
        kept = found[0]
        content = {p.name: p.read_bytes() for p in kept.iterdir()} if kept.is_dir() else kept.read_bytes()
        problems = [] if content == expected else [f"{kept.name} holds {content!r}, expected {expected!r}"]
        if uid is not None and kept.stat().st_uid != uid:
            problems.append(f"{kept.name} belongs to uid {kept.stat().st_uid}, expected {uid}")
        return problems
    return dict(setup=setup, check=check)


def log_names(content, link=None, uid=None):
    """A while_held that puts a file of `content` under every name the launcher may choose for its log: a hard link
    to the one file `link` (a Windows path, made with that content), or a file of the Unix user `uid`."""
    def plant(suite, pid, seconds):
        velmor = suite.prefix.host_path(LOG_FOLDER)
        velmor.mkdir(parents=True, exist_ok=True)
        if link:
            suite.prefix.host_path(link).write_bytes(content)
            suite.prefix.scratch(suite.prefix.host_path(link))
        planted = {}
        for second in seconds:
            path = velmor / f"Orvane.Launcher-{second}-{pid}.txt"
            if link:
                os.link(suite.prefix.host_path(link), path)
            else:
                path.write_bytes(content)
            if uid is not None:
                os.chown(path, uid, uid)
            planted[path] = content
        return planted
    return plant


def set_common_app_data(suite, folder):
    """Sets the common application-data folder in both registry views: under WOW64 the 32-bit shell32 reads
    the folder from Wow6432Node, the 64-bit one from the 64-bit view."""
    for view in ("/reg:64", "/reg:32"):
        run = suite.prefix.run_raw(["reg", "add", SHELL_FOLDERS_KEY, "/v", "Common AppData", "/t", "REG_EXPAND_SZ",
                                    "/d", folder, "/f", view], timeout=RUN_TIMEOUT_S)
        if run.returncode != 0:
            raise RuntimeError(f"reg add {view} failed: {run.stdout!r} {run.stderr[-300:]!r}")


def move_common_app_data(suite):
    suite.prefix.host_path(MOVED_APP_DATA).mkdir(parents=True)  # the shell reports a missing folder as a failure
    set_common_app_data(suite, MOVED_APP_DATA)


def remove_program_data(suite):
    """C:\\ProgramData is moved out of the drive; teardown puts it back."""
    suite.prefix.host_path(PROGRAM_DATA).rename(suite.prefix.root / "ProgramData.saved")


def restore_program_data(suite):
    folder, saved = suite.prefix.host_path(PROGRAM_DATA), suite.prefix.root / "ProgramData.saved"
    if saved.exists():
        shutil.rmtree(folder, ignore_errors=True)
        saved.rename(folder)


def check_program_data_made(outcome):
    """Both levels were made by the launcher: C:\\ProgramData holds nothing but the new Velmor folder."""
    folder = outcome.prefix.host_path(PROGRAM_DATA)
    children = sorted(child.name for child in folder.iterdir()) if folder.is_dir() else None
    return [] if children == ["Velmor"] else [f"C:\\ProgramData holds {children}, expected only Velmor"]


def check_link_target_untouched(outcome):
    content = outcome.prefix.host_path(LINK_TARGET).read_bytes()
    return [] if content == THEIRS else [f"the linked file was written: {content!r}"]


EARLIER = "[INFO] an earlier run\r\n"
ASIDE = ASIDE_PREFIX[:-1]
LOG_FILE = [
    patch_run("log_sharing", "log is readable but neither writable nor deletable while the tool runs",
              tool_controls={"probe_log.txt": ""}, check=check_log_sharing),
    patch_run("log_folder_blocked_not_elevated", "log folder blocked by a file, run not elevated: no log, the tool "
              "still runs", expect_log=None, elevated=False, **velmor_planted("Velmor", folder=False)),
    no_install_run("log_folder_blocked_no_install_record", "log folder blocked by a file and no installation: the "
                   "file moved aside, exit 3; a record without patch file", expect_record=RecordExpectation(),
                   **velmor_planted(ASIDE, folder=False)),
    patch_run("common_app_data_moved", "common application-data folder moved: the log goes there",
              log_folder=MOVED_APP_DATA + "\\Velmor", setup=move_common_app_data,
              teardown=lambda suite: set_common_app_data(suite, "%ProgramData%")),
    patch_run("program_data_missing", "C:\\ProgramData missing too: both folders are created",
              setup=remove_program_data, check=check_program_data_made, teardown=restore_program_data),
    # A log file of the same name exists already (a process id used again within the same second). The harness's
    # Velmor belongs to the prefix's user, the launcher's own account: a run that is not elevated uses it, an
    # elevated one would move it aside.
    patch_run("existing_log_utf16le", "existing log file, UTF-16LE: new lines appended in UTF-16LE",
              while_held=log_names(b"\xff\xfe" + EARLIER.encode("utf-16-le")), elevated=False),
    patch_run("existing_log_utf8", "existing log file, UTF-8: new lines appended, no second byte-order mark",
              while_held=log_names(BOM + EARLIER.encode()), elevated=False),
    # A user planted every name the launcher may choose as a hard link to a file of the machine's.
    patch_run("hard_link_at_log_name", "hard link planted at the log's name: the linked file is untouched, no log, "
              "the tool's code", exit_code=0x2A, expect_log=None, while_held=log_names(THEIRS, link=LINK_TARGET),
              check=check_link_target_untouched, elevated=False),
]

# ---- a log folder the launcher may not use -------------------------------------------------------------------


def take_aside_names(suite, pid, seconds):
    """Every name the launcher could move Velmor aside to exists already: it must not replace one, so it logs in
    the fallback."""
    for second in seconds:
        (suite.prefix.host_path(PROGRAM_DATA) / f"{ASIDE_PREFIX}{second}-{pid}").mkdir()


LOG_TARGET = [
    patch_run("velmor_of_another_account_record", "Velmor of another account, elevated run: moved aside whole, the "
              "log in a fresh Velmor, named by the record and the event", expect_record=CURRENT_RECORD,
              **velmor_planted(ASIDE, uid=OTHER_UID)),
    # An administrator's elevated run trusts nothing their non-elevated half could have made.
    patch_run("velmor_of_own_account", "Velmor of the launcher's own account, elevated run: moved aside, the log in a "
              "fresh Velmor", **velmor_planted(ASIDE)),
    patch_run("velmor_of_another_account_not_elevated", "Velmor of another account, run not elevated: no log, the "
              "folder left as it was", elevated=False, expect_log=None, **velmor_planted("Velmor", uid=OTHER_UID)),
    patch_run("log_name_taken_not_elevated", "log's name taken by another account's file, run not elevated: left "
              "alone, no log", while_held=log_names(THEIRS, uid=OTHER_UID), elevated=False, expect_log=None),
    patch_run("aside_names_taken_fallback_record", "Velmor of another account and every name to move it to taken: "
              "the log in the fallback, named by the record", while_held=take_aside_names,
              log_folder=FALLBACK_FOLDER, expect_record=CURRENT_RECORD, **velmor_planted("Velmor", uid=OTHER_UID)),
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


def check_no_plant_mark(outcome):
    marks = plant_marks(outcome.prefix)
    return [f"a planted version.dll was loaded: {marks!r}"] if marks else []


def planting_control(suite):
    """A program beside the planted copy that loads "version.dll" by its bare name takes that copy.

    Same folders, same current folder and same DLL overrides as the launcher's planting scenario: the
    launcher's clean result there is worth something only because this load leaves the mark.
    """
    plant_version_dll(suite)
    loader = join_windows(DEPLOY_DIR, "bare_name_loader.exe")
    shutil.copyfile(suite.tools_dir / "bare_name_loader.exe", suite.prefix.host_path(loader))
    run = suite.prefix.run_raw([str(suite.runner), loader], timeout=RUN_TIMEOUT_S,
                               cwd=suite.prefix.host_path(PLANT_CWD),
                               env=suite.prefix.dll_override_env(VERSION_NATIVE_FIRST))
    problems = []
    planted_path = join_windows(DEPLOY_DIR, "version.dll")
    if run.stdout.splitlines()[:2] != [planted_path, "0x00000000 0 0"]:
        problems.append(f"the control printed {run.stdout!r}, expected it to load {planted_path} and exit with 0")
    if plant_marks(suite.prefix) != {DEPLOY_DIR: [loader]}:
        problems.append(f"marks {plant_marks(suite.prefix)!r}, expected {({DEPLOY_DIR: [loader]})!r}")
    return problems


PLANTING = [
    Probe("planting_control", "planting control: a bare-name load of version.dll beside a planted copy takes it",
          planting_control),
    patch_run("planted_version_dll", "planted version.dll beside the launcher and in the current folder, native "
              "first: not loaded", "6.0.2.999", setup=plant_version_dll, check=check_no_plant_mark, cwd=PLANT_CWD,
              dll_overrides=VERSION_NATIVE_FIRST),
]

# ---- the fatal stop of a real process ----------------------------------------------------------------------

FATAL_PROBE_DIR = "C:\\probe"
STATUS_STACK_BUFFER_OVERRUN = 0xC0000409
FILETIME_UNIX_EPOCH = 116444736000000000  # 1970-01-01 in FILETIME ticks
# Limits generous for a loaded machine (the whole probe, start-up included; from the log line's write to the end),
# stretched for a 32-bit probe whose Wine side is emulated: a stop that waited for a click or a debugger would never
# end by itself (the run times out instead).
FATAL_STOP_LIFETIME_LIMIT_S = 10.0
FATAL_STOP_AFTER_LOG_LIMIT_S = 5.0
EMULATED_SLOWDOWN = 6


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
    timed = parse_timed_run(run.stdout)
    if run.timed_out or timed is None:
        return [f"the probe did not end within {RUN_TIMEOUT_S} s" if run.timed_out else
                f"timed_runner printed {run.stdout!r} {run.stderr.strip()[-500:]!r}"]
    exit_code, elapsed_us, created, exited = timed
    scenario = Scenario("fatal_stop", "", STATUS_STACK_BUFFER_OVERRUN,
                        ["[INFO] fatal stop probe: the guard is intact"])
    logs = suite.read_logs()
    problems = check_log(scenario, Outcome(suite.prefix, logs, []), before, after)
    if exit_code != STATUS_STACK_BUFFER_OVERRUN:
        problems.append(f"exit code 0x{exit_code:08X}, expected 0x{STATUS_STACK_BUFFER_OVERRUN:08X}")
    slowdown = EMULATED_SLOWDOWN if suite.emulated else 1
    lifetime_s = (exited - created) / 1e7
    if lifetime_s > FATAL_STOP_LIFETIME_LIMIT_S * slowdown:
        problems.append(f"the probe lived {lifetime_s:.3f} s, limit {FATAL_STOP_LIFETIME_LIMIT_S * slowdown} s")
    after_log = "without a log line to time"
    if len(logs) == 1:
        after_log_s = (exited - logs[0].stat().st_mtime_ns // 100 - FILETIME_UNIX_EPOCH) / 1e7
        after_log = f"{after_log_s * 1000:.0f} ms after its log line"
        if after_log_s > FATAL_STOP_AFTER_LOG_LIMIT_S * slowdown:
            problems.append(f"the probe ended {after_log_s:.3f} s after its log line, "
                            f"limit {FATAL_STOP_AFTER_LOG_LIMIT_S * slowdown} s")
    suite.notes.append(f"probe lived {lifetime_s * 1000:.0f} ms (wall {elapsed_us / 1000:.0f} ms), ended {after_log}")
    return problems


FATAL_STOP = [Probe("fatal_stop", "fatal stop: a broken guard ends a real process at once with 0xC0000409, the log "
                    "keeps its one line", fatal_stop)]

SCENARIOS = INSTALL_LOOKUP + PATCH_CHOICE + TOOL_END + LOG_FILE + LOG_TARGET + PLANTING + FATAL_STOP
