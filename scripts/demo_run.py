#!/usr/bin/env python3
"""Runs a launcher build for real under Wine on a demo installation and shows what happened.

Called by scripts/demo after the builds (python3 -m scripts.demo_run): the shipped i686 program under WOW64, or
with --x64 the x86_64 twin. A private 64-bit Wine prefix gets a registered demo installation (InstallLocation =
C:\\Program Files\\Corvantis Demo\\ with installer\\kestrun.exe, a stand-in patch tool that records what it
receives), a decoy InstallLocation under Wow6432Node, and a deploy folder C:\\deploy with Orvane.Launcher.exe and
patch.rkv. After the run it reads the run record back from the prefix's registry file, in both views, and the event
from the run's Wine debug output.
"""

import argparse
import re
import shutil
import sys

from scripts.exit_codes import rows, signed
from testkit.source_tree import ROOT
from testkit.stand_in import stand_in_program, stand_in_records
from testkit.wine_prefix import (EVENT_DEBUG_CHANNELS, EVENT_SOURCE_KEY, RECORD_KEY, RECORD_TREE, RECORD_TREE_32,
                                 UNINSTALL_KEY, UNINSTALL_KEY_32, RegistryValue, WinePrefix, in_key_tree,
                                 reported_events, runner_exit_code)

INSTALL_LOCATION = "C:\\Program Files\\Corvantis Demo\\"
DECOY_LOCATION = "C:\\Program Files (x86)\\Decoy\\"
TOOL = INSTALL_LOCATION + "installer\\kestrun.exe"
DEPLOY = "C:\\deploy"
LAUNCHER = DEPLOY + "\\Orvane.Launcher.exe"


def meaning(code, log_text):
    """The code's meaning in docs/exit-codes.tsv. 2, 3 and 5 may also be the tool's own exit code; the log tells."""
    from_tool = code != 0 and re.search(r"kestrun\.exe returned -?\d+\r?\n?$", log_text) is not None
    meanings = {number: text for number, _, origin, _, text, _ in rows()
                if number is None or (origin == "tool") == from_tool}
    return meanings.get(code, meanings[None]).replace("`", "")


EVENT_TYPES = {0: "success", 1: "error", 2: "warning", 4: "information"}


def show_values(values, indent):
    width = max(len(name) for name in values)
    for name, value in sorted(values.items()):
        print(f"{indent}{name:<{width}} = {value.describe()}")


def show_record(prefix):
    """The run record as the server saved it, in both registry views, and the event source's registration."""
    keys = prefix.read_machine_keys(RECORD_TREE, RECORD_TREE_32, EVENT_SOURCE_KEY)
    record = sorted((subkey, values) for subkey, values in keys.items() if in_key_tree(subkey, RECORD_TREE))
    if record:
        print(f"Run record:     HKLM\\{RECORD_KEY}  (64-bit view)")
        for subkey, values in record:
            if subkey.lower() != RECORD_KEY.lower():
                print(f"                {subkey[len(RECORD_KEY) + 1:]}")
            show_values(values, " " * 18 if subkey.lower() != RECORD_KEY.lower() else " " * 16)
    else:
        print(f"Run record:     none under HKLM\\{RECORD_KEY} (64-bit view)")
    wow = [subkey for subkey in keys if in_key_tree(subkey, RECORD_TREE_32)]
    if wow:
        print(f"                and in the 32-bit view, where it does NOT belong: {', '.join(wow)}")
    else:
        print(f"                nothing under HKLM\\{RECORD_TREE_32} (the 32-bit view)")
    source = [values for subkey, values in keys.items() if in_key_tree(subkey, EVENT_SOURCE_KEY)]
    print(f"Event source:   HKLM\\{EVENT_SOURCE_KEY}" + ("" if source else "  (not registered)"))
    if source:
        show_values(source[0], " " * 16)


def show_events(wine_errors):
    """The Application events as Wine's debug output shows them: Wine keeps no event log of its own."""
    events = reported_events(wine_errors)
    if not events:
        print("Event:          none reported")
    for event in events:
        kind = EVENT_TYPES.get(event.type, f"type {event.type}")
        print(f"Event:          Application log, source Orvane.Launcher, {kind}, ID {event.event_id} "
              "(from Wine's eventlog debug channel)")
        for channel, text, cut in event.strings:
            for line in text.split("\r\n"):
                print("  | " + line)
            if cut:
                print("  | ... (Wine prints only the text's start)")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--x64", action="store_true", help="the x86_64 twin instead of the shipped 32-bit program")
    parser.add_argument("--legacy", action="store_true",
                        help="install a legacy tool (6.0.2.999) and put patch.rkv.old beside the launcher too")
    parser.add_argument("--tool-exit-code", default="0", help="exit code of the stand-in tool (decimal or 0x hex)")
    parser.add_argument("--no-install", action="store_true", help="register no installation")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix for a look around")
    args = parser.parse_args()

    # The stand-in tool and the runner are x86_64 in both cases: their bitness does not matter here.
    tools = ROOT / "build" / "win64" / "tests" / "tools"
    launcher = ROOT / "build" / ("win64" if args.x64 else "win32") / "Orvane.Launcher.exe"
    runner = tools / "exit_code_runner.exe"
    version = "6.0.2.999" if args.legacy else "7.0.1.0"
    for needed in (launcher, runner, stand_in_program(tools, version)):
        if not needed.exists():
            print(f"missing {needed}: build the presets first", file=sys.stderr)
            return 1

    print("Booting a private Wine prefix" + ("" if args.x64 else " (Wine's 32-bit side: build/wow64)") + " ...",
          flush=True)
    prefix = WinePrefix.open(wow64=not args.x64)
    prefix.keep = args.keep
    try:
        # The decoy is where a 32-bit program that forgot the 64-bit view would look.
        decoy = {"InstallLocation": RegistryValue.string(DECOY_LOCATION)}
        if args.no_install:
            prefix.set_machine_keys({UNINSTALL_KEY: None, UNINSTALL_KEY_32: decoy})
        else:
            prefix.set_machine_keys({UNINSTALL_KEY: {
                "DisplayName": RegistryValue.string("Corvantis Demo"),
                "InstallLocation": RegistryValue.string(INSTALL_LOCATION),
            }, UNINSTALL_KEY_32: decoy})
        tool = prefix.host_path(TOOL)
        tool.parent.mkdir(parents=True)
        shutil.copyfile(stand_in_program(tools, version), tool)
        (tool.parent / "exit_code.txt").write_text(args.tool_exit_code)

        deploy = prefix.host_path(DEPLOY)
        deploy.mkdir(parents=True)
        shutil.copyfile(launcher, deploy / "Orvane.Launcher.exe")
        patch_files = ["patch.rkv", "patch.rkv.old"] if args.legacy else ["patch.rkv"]
        for name in patch_files:
            (deploy / name).write_bytes(b"demo patch, " + name.encode() + b"\r\n")

        print()
        if not args.x64:
            print("Program:        build/win32/Orvane.Launcher.exe, the shipped 32-bit file, under WOW64 in a 64-bit")
            print("                prefix (Wine's 32-bit side is emulated by qemu here, so a run takes a moment)")
        else:
            print("Program:        build/win64/Orvane.Launcher.exe, the x86_64 twin")
        if args.no_install:
            print("Registry:       no installation registered in the 64-bit view")
        else:
            print(f"Registry:       HKLM\\{UNINSTALL_KEY}  (64-bit view)")
            print(f"                InstallLocation = {INSTALL_LOCATION}")
        print(f"Decoy:          HKLM\\{UNINSTALL_KEY_32}")
        print(f"                InstallLocation = {DECOY_LOCATION}  (must be ignored)")
        print(f"Patch tool:     {TOOL}  (stand-in, file version {version}, exits with {args.tool_exit_code})")
        print(f"Deploy folder:  {DEPLOY}  (Orvane.Launcher.exe, {', '.join(patch_files)})")
        print(f"\nRunning {LAUNCHER} ...", flush=True)

        run = prefix.run_raw([str(runner), LAUNCHER], timeout=600,
                             env={"WINEDEBUG": "-all," + EVENT_DEBUG_CHANNELS})
        code = runner_exit_code(run.stdout)
        if code is None:
            print(f"The launcher could not be run: {run.stdout.strip()} {run.stderr.strip()[-500:]}")
            return 1

        velmor = prefix.host_path("C:\\ProgramData\\Velmor")
        logs = sorted(velmor.glob("*.txt")) if velmor.is_dir() else []
        log_text = logs[-1].read_bytes().decode("utf-8-sig", "replace") if logs else ""
        if DECOY_LOCATION in log_text:
            view = "the Wow6432Node decoy was read: the 64-bit view was NOT used"
        elif INSTALL_LOCATION in log_text:
            view = "the 64-bit view was read, the Wow6432Node decoy ignored"
        else:
            view = "neither folder was logged"

        print(f"\nExit code:      {code} (0x{code:08X}, signed {signed(code)}): {meaning(code, log_text)}")
        if logs:
            raw = logs[-1].read_bytes()
            encoding = "UTF-8 with byte-order mark" if raw.startswith(b"\xef\xbb\xbf") else "no byte-order mark"
            line_ends = "CR LF line ends" if raw.count(b"\n") == raw.count(b"\r\n") else "mixed line ends"
            print(f"Log file:       C:\\ProgramData\\Velmor\\{logs[-1].name}")
            print(f"                ({encoding}, {line_ends}, {len(raw)} bytes)")
            for line in log_text.split("\r\n"):
                if line:
                    print("  | " + line.replace("\t", "<TAB>"))
        else:
            print("Log file:       none written")
        print(f"Registry view:  {view}")

        records = stand_in_records(tool.parent)
        for record in records:
            print("The patch tool received:")
            print(f"  command line:   {record.get('command_line', '')}")
            print(f"  working folder: {record.get('current_directory', '')}")
        if not records:
            print("The patch tool was not started.")
        show_record(prefix)
        show_events(run.stderr)
        if args.keep:
            print(f"\nThe prefix stays in {prefix.root} (WINEPREFIX={prefix.root});")
            print(f"the log file is {logs[-1] if logs else velmor}.")
        return 0
    finally:
        prefix.close()


if __name__ == "__main__":
    sys.exit(main())
