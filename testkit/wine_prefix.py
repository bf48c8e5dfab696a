"""A private 64-bit Wine prefix for end-to-end runs, the demo and the benchmark: boot, registry, files, programs.

A prefix is booted once (about ten seconds) and kept for many runs, in one process or, at a fixed folder, across
processes (python3 -m testkit.wine_prefix boot DIR [--wow64] | remove DIR). What the harness knows of it between
processes (the Wine it was booted with, the registry keys it wrote, the paths a run placed) is kept in a file in it.
The wineserver is kept alive between runs, which makes each program start take a tenth of a second.
"""

import collections
import dataclasses
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path, PureWindowsPath

from testkit.source_tree import ROOT, source_string

UNINSTALL_KEY = source_string("UNINSTALL_KEY")
# The same key as a 32-bit process sees it unless it asks for the 64-bit view.
UNINSTALL_KEY_32 = UNINSTALL_KEY.replace("SOFTWARE\\", "SOFTWARE\\Wow6432Node\\", 1)
# What the launcher writes: its run record (in the 64-bit view; under Wow6432Node it would be in the 32-bit
# one) and its event source's registration.
RECORD_KEY = source_string("RECORD_KEY")
RECORD_TREE = RECORD_KEY.rsplit("\\", 1)[0]
RECORD_TREE_32 = RECORD_TREE.replace("SOFTWARE\\", "SOFTWARE\\Wow6432Node\\", 1)
EVENT_SOURCE_KEY = source_string("EVENT_SOURCE_KEY")
STATE_FILE = "harness-state.json"

# What tests/tools/runner.cpp prints: the child's full exit code (hex, unsigned, signed), then for the
# timed build its wall time and its own creation and exit times.
_RUNNER_LINE = re.compile(r"^0x([0-9A-Fa-f]{8}) \d+ -?\d+\r?$", re.MULTILINE)
_TIMED_LINES = re.compile(r"^0x([0-9A-Fa-f]{8}) \d+ -?\d+\r?\nelapsed_us=(\d+) created=(\d+) exited=(\d+)\r?$",
                          re.MULTILINE)


def runner_exit_code(stdout):
    """The child's 32-bit exit code as a runner printed it, or None when it printed none."""
    match = _RUNNER_LINE.search(stdout)
    return int(match.group(1), 16) if match else None


def parse_timed_run(stdout):
    """timed_runner's two lines: (exit code, wall microseconds, created ticks, exited ticks), or None."""
    match = _TIMED_LINES.search(stdout)
    if not match:
        return None
    return tuple(int(group, 16 if i == 0 else 10) for i, group in enumerate(match.groups()))


# Wine keeps no event log. Its ReportEventW prints the call on the advapi channel (a fixme with the type,
# the category and the event ID) and each of the event's strings on the eventlog channel: information and
# success on trace, warnings on warn, errors on err, each string cut to about 300 characters of output.
# Added to WINEDEBUG, these channels show both (beside a few lines of Wine's own eventlog service).
EVENT_DEBUG_CHANNELS = "fixme+advapi,trace+eventlog,warn+eventlog,err+eventlog"
EVENTLOG_ERROR_TYPE = 1
EVENTLOG_INFORMATION_TYPE = 4
_EVENT_CALL = re.compile(r"^([0-9a-f]+):fixme:advapi:ReportEventW \([0-9A-Fa-f]+,0x([0-9a-f]{4}),0x([0-9a-f]{4}),"
                         r"0x([0-9a-f]{8}),")
_EVENT_STRING = re.compile(r'^([0-9a-f]+):(trace|warn|err):eventlog:ReportEventW L"((?:[^"\\]|\\.)*)"(\.\.\.)?\r?$')


@dataclasses.dataclass
class ReportedEvent:
    """One ReportEventW call as Wine's debug output shows it. `strings`: (channel, text, cut) for each
    string, `cut` when Wine printed only the text's start."""
    thread: str
    type: int
    category: int
    event_id: int
    strings: list = dataclasses.field(default_factory=list)


def reported_events(wine_errors):
    """The events a run reported, in order, from its standard error with EVENT_DEBUG_CHANNELS enabled."""
    events = []
    last = {}  # thread -> its latest call, which the strings printed after it on that thread belong to
    for line in wine_errors.split("\n"):
        call = _EVENT_CALL.match(line)
        if call:
            event = ReportedEvent(call.group(1), *(int(group, 16) for group in call.group(2, 3, 4)))
            events.append(event)
            last[event.thread] = event
            continue
        string = _EVENT_STRING.match(line)
        if string and string.group(1) in last:
            text = unescape(string.group(3), _DEBUG_ESCAPE)
            last[string.group(1)].strings.append((string.group(2), text, string.group(4) is not None))
    return events


# How Wine escapes a text: in its registry file, C escapes with \x or octal for units outside printable ASCII; in
# its debug output, \n, \r, \t and four hex digits for any other such unit. A backslash before anything else (a
# backslash, a quote) stands for that character.
_FILE_ESCAPE = re.compile(r"\\(?:x(?P<hex>[0-9a-fA-F]{1,4})|(?P<octal>[0-7]{1,3})|(?P<char>.))")
_DEBUG_ESCAPE = re.compile(r"\\(?:(?P<hex>[0-9a-f]{4})|(?P<char>.))")
_C_ESCAPES = {"a": 7, "b": 8, "t": 9, "n": 10, "v": 11, "f": 12, "r": 13, "e": 27}


def unescape(escaped, escape=_FILE_ESCAPE):
    """The text of `escaped`, whose escapes of UTF-16 code units follow the pattern `escape`."""
    def unit(match):
        found = match.groupdict()
        if found["hex"] or found.get("octal"):
            return chr(int(found["hex"], 16) if found["hex"] else int(found["octal"], 8))
        return chr(_C_ESCAPES.get(found["char"], ord(found["char"])))
    return escape.sub(unit, escaped).encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")


REG_SZ = 1
REG_EXPAND_SZ = 2
REG_DWORD = 4


# Where Debian's wine64 package puts the 64-bit loader and its wineserver (this kernel runs no 32-bit Wine).
SYSTEM_WINE = Path("/usr/lib/wine")


@dataclasses.dataclass(frozen=True)
class RegistryValue:
    """A value with an exact type and exact bytes, so odd cases (no terminator, odd length) can be stored."""
    type: int
    data: bytes

    @classmethod
    def string(cls, text, value_type=REG_SZ, terminated=True):
        """UTF-16LE, with the terminator unless told otherwise."""
        return cls(value_type, (text + "\0" * terminated).encode("utf-16-le", "surrogatepass"))

    @classmethod
    def dword(cls, number):
        return cls(REG_DWORD, number.to_bytes(4, "little"))

    def describe(self):
        """The value as a person reads it: a terminated string as its text, a DWORD as its number."""
        if self.type in (REG_SZ, REG_EXPAND_SZ) and len(self.data) % 2 == 0 and self.data.endswith(b"\0\0"):
            text = self.data[:-2].decode("utf-16-le", "surrogatepass")
            if "\0" not in text:
                return f'"{text}"' if self.type == REG_SZ else f'REG_EXPAND_SZ "{text}"'
        if self.type == REG_DWORD and len(self.data) == 4:
            number = int.from_bytes(self.data, "little")
            return f"REG_DWORD {number}" + (f" (0x{number:08X})" if number >= 256 else "")
        return f"type {self.type}: {self.data.hex(',')}"


WineRun = collections.namedtuple("WineRun", "returncode stdout stderr timed_out")


class WinePrefix:
    """`wine_tree`: a Wine installation laid out by scripts/setup-wow64 (its lib/wine/wine64 runs 64-bit
    programs natively and 32-bit ones under the emulator); None: the system's wine64, 64-bit programs only."""

    def __init__(self, root=None, keep=False, wine_tree=None):
        self.wine_tree = Path(wine_tree).resolve() if wine_tree else None
        wine = self.wine_tree / "lib" / "wine" if wine_tree else SYSTEM_WINE
        self.loader, self.wineserver = str(wine / "wine64"), str(wine / "wineserver")
        self.root = Path(root) if root else Path(tempfile.mkdtemp(prefix="orvane-wine-"))
        self.keep = keep
        # Kept in STATE_FILE for the next process: the HKLM subkeys last written (lower case) with their values, to
        # skip rewriting the same key; the trees known to be absent since no program ran; the paths placed for a run.
        self.state = {"wine_tree": str(self.wine_tree) if self.wine_tree else None, "written": {}, "cleared": [],
                      "scratch": []}
        # No display: no window may wait for a click.
        self.env = {name: value for name, value in os.environ.items() if name not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(WINEPREFIX=str(self.root), WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")

    # ---- life cycle -------------------------------------------------------------------------------------

    @classmethod
    def open(cls, root=None, wow64=False):
        """A prefix ready to run programs: `root` taken as it is when a process booted it before (with the Wine it
        was booted with), else booted (in a temporary folder when None, which close() removes; `wow64`: with
        Wine's emulated 32-bit side, laid out by scripts/setup-wow64)."""
        earlier = cls.booted(root) if root else None
        if earlier:
            earlier.start_server()
            return earlier
        if root and Path(root).exists():
            cls(root).stop_server()  # a boot that ended half way may have left its server running
            shutil.rmtree(root)
        return cls(root, keep=root is not None, wine_tree=wow64_tree() if wow64 else None).boot()

    @classmethod
    def booted(cls, root):
        """The prefix a process booted in `root` and left there, its server as it is; None when there is none."""
        state_file = Path(root) / STATE_FILE
        if not state_file.exists():
            return None
        state = json.loads(state_file.read_text())
        prefix = cls(root, keep=True, wine_tree=state["wine_tree"])
        prefix.state = state
        return prefix

    def save_state(self):
        (self.root / STATE_FILE).write_text(json.dumps(self.state))

    def boot(self):
        self.root.mkdir(parents=True, exist_ok=True)
        result = self.run_raw(["wineboot", "-i"], timeout=300)
        if result.timed_out or not (self.root / "drive_c" / "windows").is_dir():
            raise RuntimeError(f"wineboot failed in {self.root}: {result.stderr[-2000:]}")
        if self.wine_tree:
            # The 32-bit user32.dll imports zlib1.dll, which wineboot does not place in syswow64.
            shutil.copyfile(self.wine_tree / "lib" / "i386-linux-gnu" / "wine" / "i386-windows" / "zlib1.dll",
                            self.root / "drive_c" / "windows" / "syswow64" / "zlib1.dll")
        self.start_server()
        self.save_state()
        return self

    def start_server(self):
        """A persistent wineserver: programs start fast and the registry stays in memory between runs."""
        self._wineserver("-p")

    def stop_server(self):
        """Stops every program of the prefix and the server; the server saves the registry as it goes."""
        self._wineserver("-k")
        self._wineserver("-w")

    def _wineserver(self, option):
        subprocess.run([self.wineserver, option], env=self.env, check=False,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        self.stop_server()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    # ---- paths --------------------------------------------------------------------------------------------

    def scratch(self, *paths):
        """Notes paths placed for one run, which clear_scratch() removes before the next."""
        self.state["scratch"] += [str(path) for path in paths if str(path) not in self.state["scratch"]]
        self.save_state()

    def clear_scratch(self):
        for path in map(Path, self.state["scratch"]):
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path)
            elif path.exists() or path.is_symlink():
                path.unlink()
        self.state["scratch"] = []
        self.save_state()

    def drive_root(self, letter):
        return self.root / "dosdevices" / f"{letter.lower()}:"

    def map_drive(self, letter, folder):
        """Makes `letter`: a drive whose root is the Linux folder `folder`."""
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        link = self.drive_root(letter)
        link.unlink(missing_ok=True)
        link.symlink_to(folder)

    def host_path(self, windows_path):
        """The Linux path of a Windows path inside this prefix, such as C:\\deploy\\patch.rkv."""
        path = PureWindowsPath(windows_path)
        if not path.drive or len(path.drive) != 2:
            raise ValueError(f"not a drive path: {windows_path}")
        drive = self.root / "dosdevices" / path.drive.lower()
        return drive.joinpath(*path.parts[1:])

    # ---- running programs -------------------------------------------------------------------------------

    def run_raw(self, args, timeout=120, cwd=None, env=None):
        """Runs `loader args...`; a run that passes `timeout` is killed with everything it started.

        `cwd` is a Linux folder (inside the prefix's drives, the program sees its Windows path as its
        current folder); `env` holds variables to set or replace for this run only.

        Output goes to files, not pipes: the services that Wine starts on demand inherit the first
        program's handles and would keep a pipe open long after the program ended.
        """
        if self.state["cleared"]:
            self.state["cleared"] = []  # the program may write them
            self.save_state()
        if cwd is None:
            drive_c = self.root / "drive_c"
            cwd = drive_c if drive_c.is_dir() else self.root
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            run_env = dict(self.env, **env) if env else self.env
            process = subprocess.Popen([self.loader, *args], env=run_env, cwd=str(cwd), stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err, start_new_session=True)
            try:
                process.wait(timeout=timeout)
                timed_out = False
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                timed_out = True
                # A child that outlives the loader (the tool) would keep files open for the next scenario.
                self.stop_server()
                self.start_server()
            out.seek(0)
            err.seek(0)
            stdout = out.read().decode("utf-8", "replace")
            stderr = err.read().decode("utf-8", "replace")
        return WineRun(process.returncode, stdout, stderr, timed_out)

    def dll_override_env(self, extra):
        """The `env` for run_raw that adds `extra` (such as "version=n,b") to the prefix's DLL overrides."""
        return {"WINEDLLOVERRIDES": self.env["WINEDLLOVERRIDES"] + ";" + extra}

    # ---- registry -----------------------------------------------------------------------------------------

    def set_machine_keys(self, keys, clear=()):
        """Replaces each HKLM\\subkey of `keys` with exactly its values ({subkey: {name: RegistryValue} or None, which
        removes it}).

        The registry editor would add a terminator to string data, so the keys are written into the server's
        own registry file while the server is stopped (once for all of them); that file keeps every byte as
        given. A subkey under SOFTWARE\\Wow6432Node is what 32-bit programs see.

        `clear`: HKLM subkeys whose whole trees are removed first unless known to be absent: keys that the programs
        write, so that what is there after a run was written by that run. A key of `keys` inside one is written again.
        """
        written, cleared = self.state["written"], self.state["cleared"]
        clear = [tree for tree in clear if tree.lower() not in cleared]
        wanted = {subkey: None if values is None else {name: [v.type, v.data.hex()] for name, v in values.items()}
                  for subkey, values in keys.items()}
        changed = [subkey for subkey in keys if written.get(subkey.lower(), "unknown") != wanted[subkey]
                   or any(in_key_tree(subkey, tree) for tree in clear)]
        if not changed and not clear:
            return
        self.stop_server()
        registry_file = self.root / "system.reg"
        lowered = {subkey.lower() for subkey in changed}
        text = _remove_keys(registry_file.read_text(encoding="utf-8"),
                            lambda key: key.lower() in lowered or any(in_key_tree(key, tree) for tree in clear))
        for subkey in changed:
            if keys[subkey] is not None:
                escaped = subkey.replace("\\", "\\\\")
                lines = [f"[{escaped}] {int(time.time())}"]
                for name, value in keys[subkey].items():
                    data = ",".join(f"{byte:02x}" for byte in value.data)
                    quoted = name.replace("\\", "\\\\").replace('"', '\\"')
                    lines.append(f'"{quoted}"=hex({value.type:x}):{data}')
                text = text.rstrip("\n") + "\n\n" + "\n".join(lines) + "\n"
        registry_file.write_text(text, encoding="utf-8")
        self.start_server()
        for subkey in changed:
            written[subkey.lower()] = wanted[subkey]
        cleared += [tree.lower() for tree in clear]
        self.state["cleared"] = [tree for tree in cleared if not any(in_key_tree(key, tree) for key in changed)]
        self.save_state()

    def read_machine_keys(self, *trees, clear=False):
        """Every key with values in the HKLM subkeys `trees` (each with everything under it), as the server
        keeps them: {subkey: {name: RegistryValue}}, subkeys in the case the server keeps (that of their first
        writer). A subkey under Software\\Wow6432Node is what 32-bit programs write without asking for the
        64-bit view. The server is stopped for the read, which makes it save what programs wrote.

        `clear`: the trees are removed in the same stop, for programs that will write them again.
        """
        self.stop_server()
        registry_file = self.root / "system.reg"
        try:
            text = registry_file.read_text(encoding="utf-8")
            if clear:
                registry_file.write_text(_remove_keys(text, lambda key: any(in_key_tree(key, tree) for tree in trees)),
                                         encoding="utf-8")
                self.state["written"] = {subkey: values for subkey, values in self.state["written"].items()
                                         if not any(in_key_tree(subkey, tree) for tree in trees)}
                self.state["cleared"] = [tree.lower() for tree in trees]
                self.save_state()
        finally:
            self.start_server()
        return parse_registry_file(text, trees)


def wow64_tree():
    """The root of Wine laid out with its emulated 32-bit side by scripts/setup-wow64 (once; later calls are quick)."""
    run = subprocess.run([str(ROOT / "scripts" / "setup-wow64")], stdout=subprocess.PIPE, text=True, check=True)
    return Path(run.stdout.strip().splitlines()[-1])


# ---- Wine's registry file -------------------------------------------------------------------------------------

_KEY_HEADER = re.compile(r"^\[((?:[^\\\]]|\\.)*)\]")
_VALUE_LINE = re.compile(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$')


def _parse_value(data):
    """A RegistryValue from what follows "name=" in the file: "text", str(T):"text", dword:, hex: or hex(T):."""
    match = re.fullmatch(r'(?:str\(([0-9a-f]+)\):)?"((?:[^"\\]|\\.)*)"', data)
    if match:
        return RegistryValue.string(unescape(match.group(2)), int(match.group(1) or "1", 16))
    match = re.fullmatch(r"dword:([0-9a-f]{8})", data)
    if match:
        return RegistryValue.dword(int(match.group(1), 16))
    match = re.fullmatch(r"hex(?:\(([0-9a-f]+)\))?:([0-9a-f,]*)", data)
    if match:
        return RegistryValue(int(match.group(1) or "3", 16), bytes.fromhex(match.group(2).replace(",", "")))
    raise ValueError(f"unknown registry value form {data!r}")


def parse_registry_file(text, trees=None):
    """{subkey: {name: RegistryValue}} of every key with values in a Wine registry file (system.reg), or of
    those in the HKLM subkeys `trees` (each with everything under it).

    Every key's section starts with a line "[name] time"; the server breaks long hex data into lines ending
    in a backslash; a value's default name is "@".
    """
    wanted = tuple(tree.lower().replace("\\", "\\\\") for tree in trees) if trees else None
    keys = {}
    for section in text.replace("\\\n  ", "").split("\n["):
        # Whole sections are skipped on their escaped name alone: the file holds thousands of keys.
        if wanted and not section.lower().startswith(wanted):
            continue
        lines = ("[" + section).split("\n")
        header = _KEY_HEADER.match(lines[0])
        if not header:
            continue
        subkey = unescape(header.group(1))
        if wanted and not any(in_key_tree(subkey, tree) for tree in trees):
            continue
        values = {}
        for line in lines[1:]:
            value = _VALUE_LINE.match(line)
            if value:
                name = "@" if value.group(1) == "@" else unescape(value.group(2))
                values[name] = _parse_value(value.group(3))
        if values:
            keys[subkey] = values
    return keys


def in_key_tree(subkey, tree):
    """Whether a registry path is `tree` or lies under it (without regard to case, as the registry compares)."""
    subkey, tree = subkey.lower(), tree.lower()
    return subkey == tree or subkey.startswith(tree + "\\")


def _remove_keys(text, removed):
    """Removes from a Wine registry file the section (its header line up to the next key's) of every key whose name
    `removed` holds true for."""
    out = []
    skipping = False
    for line in text.split("\n"):
        header = _KEY_HEADER.match(line)
        if header:
            skipping = removed(unescape(header.group(1)))
        if not skipping:
            out.append(line)
    return "\n".join(out)


def main():
    """boot DIR [--wow64]: a fresh prefix in DIR, its server left running, for processes that run one after the
    other (any earlier prefix there is removed first); remove DIR: its server stopped and the folder removed."""
    command, root = sys.argv[1], Path(sys.argv[2])
    earlier = WinePrefix.booted(root)
    if earlier:
        earlier.keep = False
        earlier.close()
    if command == "boot":
        prefix = WinePrefix.open(root, wow64="--wow64" in sys.argv[3:])
        print(f"wine prefix booted in {prefix.root}" + (f" with {prefix.wine_tree}" if prefix.wine_tree else ""))


if __name__ == "__main__":
    main()
