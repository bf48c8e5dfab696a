"""A private 64-bit Wine prefix for end-to-end runs: boot, registry, files, running programs.

One prefix is booted per suite run (about ten seconds); scenarios reset the little state they touch
(the product's registry key, the install and deploy folders, the log folder) instead of booting again.
The wineserver is kept alive between scenarios, which makes each program start take a tenth of a second.
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path, PureWindowsPath

UNINSTALL_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Corvantis"
# The same key as a 32-bit process sees it unless it asks for the 64-bit view.
UNINSTALL_KEY_32 = r"SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Corvantis"
# What the launcher writes: its run record (in the 64-bit view; under Wow6432Node it would be in the 32-bit
# one) and its event source's registration.
RECORD_TREE = r"SOFTWARE\Velmor"
RECORD_KEY = RECORD_TREE + r"\Orvane.Launcher"
RECORD_TREE_32 = r"SOFTWARE\Wow6432Node\Velmor"
EVENT_SOURCE_KEY = r"SYSTEM\CurrentControlSet\Services\EventLog\Application\Orvane.Launcher"

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


class ReportedEvent:
    """One ReportEventW call as Wine's debug output shows it. `strings`: (channel, text, cut) for each
    string, `cut` when Wine printed only the text's start."""

    def __init__(self, thread, event_type, category, event_id):
        self.thread = thread
        self.type = event_type
        self.category = category
        self.event_id = event_id
        self.strings = []


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
            text = _unescape_debug_text(string.group(3))
            last[string.group(1)].strings.append((string.group(2), text, string.group(4) is not None))
    return events


def _unescape_debug_text(escaped):
    """A text as Wine's debug output writes it: a backslash before a backslash or a quote, \\n, \\r and
    \\t, and four hex digits after a backslash for any other unit outside printable ASCII."""
    units = []
    i = 0
    while i < len(escaped):
        if escaped[i] != "\\":
            units.append(ord(escaped[i]))
            i += 1
        elif escaped[i + 1] in "nrt":
            units.append({"n": 10, "r": 13, "t": 9}[escaped[i + 1]])
            i += 2
        elif re.match(r"[0-9a-f]{4}", escaped[i + 1:i + 5]):
            units.append(int(escaped[i + 1:i + 5], 16))
            i += 5
        else:
            units.append(ord(escaped[i + 1]))
            i += 2
    return _text_of_units(units)


REG_SZ = 1
REG_EXPAND_SZ = 2
REG_DWORD = 4


def find_wine_loader():
    """The 64-bit loader shipped by Debian's wine64 package (this kernel runs no 32-bit Wine)."""
    try:
        listing = subprocess.run(["dpkg", "-L", "wine64"], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        listing = ""
    for line in listing.splitlines():
        if line.endswith("/wine64") and os.path.isfile(line) and os.access(line, os.X_OK):
            return line
    found = shutil.which("wine64")
    if found:
        return found
    raise RuntimeError("no wine64 loader found (install the wine64 package)")


def wine_string_bytes(text, terminated=True):
    """The bytes a REG_SZ value holds for `text`: UTF-16LE, with the terminator unless told otherwise."""
    data = text.encode("utf-16-le")
    return data + b"\x00\x00" if terminated else data


class RegistryValue:
    """A value with an exact type and exact bytes, so odd cases (no terminator, odd length) can be stored."""

    def __init__(self, value_type, data):
        self.type = value_type
        self.data = bytes(data)

    @classmethod
    def string(cls, text, value_type=REG_SZ, terminated=True):
        return cls(value_type, wine_string_bytes(text, terminated))

    @classmethod
    def dword(cls, number):
        return cls(REG_DWORD, number.to_bytes(4, "little"))

    def __eq__(self, other):
        return isinstance(other, RegistryValue) and (self.type, self.data) == (other.type, other.data)

    def __repr__(self):
        return f"RegistryValue(type={self.type}, data={self.data.hex()})"

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


class WineRun:
    def __init__(self, returncode, stdout, stderr, timed_out, seconds):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out
        self.seconds = seconds


class WinePrefix:
    """`wine_tree`: a Wine installation laid out by scripts/setup-wow64 (its lib/wine/wine64 runs 64-bit
    programs natively and 32-bit ones under the emulator); None: the system's wine64, 64-bit programs only."""

    def __init__(self, root=None, keep=False, wine_tree=None):
        if wine_tree:
            wine_tree = Path(wine_tree).resolve()
            self.loader = str(Path(wine_tree) / "lib" / "wine" / "wine64")
            self.wineserver = str(Path(wine_tree) / "lib" / "wine" / "wineserver")
        else:
            self.loader = find_wine_loader()
            self.wineserver = str(Path(self.loader).with_name("wineserver"))
        self.wine_tree = Path(wine_tree) if wine_tree else None
        self.root = Path(root) if root else Path(tempfile.mkdtemp(prefix="orvane-wine-"))
        self.keep = keep
        self._written = {}  # subkey -> the values last written, to skip rewriting the same key
        self.env = dict(os.environ)
        self.env.pop("DISPLAY", None)  # no window may wait for a click
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.update({
            "WINEPREFIX": str(self.root),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "WINEARCH": "win64",
        })

    # ---- life cycle -------------------------------------------------------------------------------------

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
        return self

    def start_server(self):
        """A persistent wineserver: programs start fast and the registry stays in memory between runs."""
        subprocess.run([self.wineserver, "-p"], env=self.env, check=False,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop_server(self):
        """Stops every program of the prefix and the server; the server saves the registry as it goes."""
        subprocess.run([self.wineserver, "-k"], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([self.wineserver, "-w"], env=self.env, check=False,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        self.stop_server()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- paths --------------------------------------------------------------------------------------------

    def drive_root(self, letter):
        return self.root / "dosdevices" / f"{letter.lower()}:"

    def map_drive(self, letter, folder):
        """Makes `letter`: a drive whose root is the Linux folder `folder`."""
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        link = self.drive_root(letter)
        if link.is_symlink() or link.exists():
            link.unlink()
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
        started = time.monotonic()
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
        return WineRun(process.returncode, stdout, stderr, timed_out, time.monotonic() - started)

    def dll_override_env(self, extra):
        """The `env` for run_raw that adds `extra` (such as "version=n,b") to the prefix's DLL overrides."""
        return {"WINEDLLOVERRIDES": self.env["WINEDLLOVERRIDES"] + ";" + extra}

    # ---- registry -----------------------------------------------------------------------------------------

    def set_machine_values(self, subkey, values):
        """Replaces HKLM\\`subkey` with exactly `values` ({name: RegistryValue}); None removes it."""
        self.set_machine_keys({subkey: values})

    def set_machine_keys(self, keys, clear=()):
        """Replaces each HKLM\\subkey of `keys` ({subkey: values or None}) as set_machine_values does.

        The registry editor would add a terminator to string data, so the keys are written into the server's
        own registry file while the server is stopped (once for all of them); that file keeps every byte as
        given. A subkey under SOFTWARE\\Wow6432Node is what 32-bit programs see.

        `clear`: HKLM subkeys whose whole trees are removed first, every time: keys that the programs write,
        so that what is there after a run was written by that run. A key of `keys` inside one is written again.
        """
        wanted = {subkey: None if values is None else {name: (v.type, v.data) for name, v in values.items()}
                  for subkey, values in keys.items()}
        changed = [subkey for subkey in keys if self._written.get(subkey.lower(), "unknown") != wanted[subkey]
                   or any(in_key_tree(subkey, tree) for tree in clear)]
        if not changed and not clear:
            return
        self.stop_server()
        registry_file = self.root / "system.reg"
        text = registry_file.read_text(encoding="utf-8")
        for tree in clear:
            text = _remove_key_tree(text, tree)
        for subkey in changed:
            header = "[" + subkey.replace("\\", "\\\\") + "]"
            text = _remove_key_section(text, header)
            if keys[subkey] is not None:
                lines = [f"{header} {int(time.time())}"]
                for name, value in keys[subkey].items():
                    data = ",".join(f"{byte:02x}" for byte in value.data)
                    lines.append(f'"{_escape_reg_name(name)}"=hex({value.type:x}):{data}')
                text = text.rstrip("\n") + "\n\n" + "\n".join(lines) + "\n"
        registry_file.write_text(text, encoding="utf-8")
        self.start_server()
        for subkey in changed:
            self._written[subkey.lower()] = wanted[subkey]

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
                cleared = text
                for tree in trees:
                    cleared = _remove_key_tree(cleared, tree)
                registry_file.write_text(cleared, encoding="utf-8")
                self._written = {subkey: values for subkey, values in self._written.items()
                                 if not any(in_key_tree(subkey, tree) for tree in trees)}
        finally:
            self.start_server()
        return parse_registry_file(text, trees)


# ---- Wine's registry file -------------------------------------------------------------------------------------

_KEY_HEADER = re.compile(r"^\[((?:[^\\\]]|\\.)*)\]")
_VALUE_LINE = re.compile(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$')
_C_ESCAPES = {"a": 7, "b": 8, "t": 9, "n": 10, "v": 11, "f": 12, "r": 13, "e": 27}


def _unescape_units(escaped):
    """The UTF-16 code units of a text the server wrote with C escapes (\\x for units above 127, octal or a
    letter for control characters, a backslash before a backslash or a quote)."""
    units = []
    i = 0
    while i < len(escaped):
        char = escaped[i]
        i += 1
        if char != "\\":
            units.append(ord(char))
            continue
        char = escaped[i]
        if char == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", escaped[i + 1:]).group()
            units.append(int(digits, 16))
            i += 1 + len(digits)
        elif char in "01234567":
            digits = re.match(r"[0-7]{1,3}", escaped[i:]).group()
            units.append(int(digits, 8))
            i += len(digits)
        else:
            units.append(_C_ESCAPES.get(char, ord(char)))
            i += 1
    return units


def _text_of_units(units):
    return b"".join(unit.to_bytes(2, "little") for unit in units).decode("utf-16-le", "surrogatepass")


def _unescape_text(escaped):
    return _text_of_units(_unescape_units(escaped))


def _parse_value(data):
    """A RegistryValue from what follows "name=" in the file: "text", str(T):"text", dword:, hex: or hex(T):."""
    match = re.fullmatch(r'(?:str\(([0-9a-f]+)\):)?"((?:[^"\\]|\\.)*)"', data)
    if match:
        units = _unescape_units(match.group(2)) + [0]
        return RegistryValue(int(match.group(1) or "1", 16), b"".join(u.to_bytes(2, "little") for u in units))
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
        subkey = _unescape_text(header.group(1))
        if wanted and not any(in_key_tree(subkey, tree) for tree in trees):
            continue
        values = {}
        for line in lines[1:]:
            value = _VALUE_LINE.match(line)
            if value:
                name = "@" if value.group(1) == "@" else _unescape_text(value.group(2))
                values[name] = _parse_value(value.group(3))
        if values:
            keys[subkey] = values
    return keys


def in_key_tree(subkey, tree):
    """Whether a registry path is `tree` or lies under it (without regard to case, as the registry compares)."""
    subkey, tree = subkey.lower(), tree.lower()
    return subkey == tree or subkey.startswith(tree + "\\")


def _remove_key_tree(text, tree):
    """Removes a key's section and those of every key under it from a Wine registry file."""
    out = []
    skipping = False
    for line in text.split("\n"):
        header = _KEY_HEADER.match(line)
        if header:
            skipping = in_key_tree(_unescape_text(header.group(1)), tree)
        if not skipping:
            out.append(line)
    return "\n".join(out)


def _escape_reg_name(name):
    return name.replace("\\", "\\\\").replace('"', '\\"')


def _remove_key_section(text, header):
    """Removes one key's section (its header line up to the next key or the end) from a Wine registry file.

    Key names compare without case, as the registry does; the server writes the case it first saw.
    """
    lines = text.split("\n")
    out = []
    skipping = False
    for line in lines:
        if line.startswith("["):
            skipping = line.split("]", 1)[0].lower() + "]" == header.lower()
        if not skipping:
            out.append(line)
    return "\n".join(out)
