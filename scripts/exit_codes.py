#!/usr/bin/python3
"""The exit codes, from docs/exit-codes.tsv and the launcher's sources, for people and for Intune.

  exit_codes.py json     prints the return-code list that Intune's Win32 app takes
  exit_codes.py update   rewrites the generated tables in README.md and docs/deploy.md
  exit_codes.py check    fails when a generated table is stale, when docs/deploy.md misses a path the
                         launcher uses or names a wait other than the launcher's, or when the launcher's
                         own table of outcomes (success, event ID) differs from docs/exit-codes.tsv
"""
import json
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
TABLE = ROOT / "docs" / "exit-codes.tsv"
GUIDE = ROOT / "docs" / "deploy.md"
README = ROOT / "README.md"
# Where the codes are defined; a code's name in the table must be one of these constants.
CONSTANT_HEADERS = ["src/launcher/launch_result.h", "src/platform/process.h", "src/platform/fatal_stop.h", "src/launcher/patch_tool.h",
                    "src/launcher/run_outcome.h"]
# The launcher's outcome of each code: whether the run record says it succeeded, and the event's ID.
OUTCOME_SOURCE = "src/launcher/run_outcome.cpp"
SUCCESS_TYPES = {"success", "softReboot", "hardReboot"}
# Where the launcher's fixed paths and file names are written.
PATH_SOURCES = ["src/launcher/install_lookup.cpp", "src/launcher/process_objects.cpp", "src/log/log_file.cpp"]
# Generated tables sit between these markers; the word after the colon picks the rows.
TABLE_MARK = re.compile(r"(<!-- exit-codes:(launcher|all) -->\n)(.*?)(<!-- /exit-codes -->)", re.S)


def constants():
    found = {}
    for header in CONSTANT_HEADERS:
        text = (ROOT / header).read_text()
        for name, value in re.findall(r"constexpr\s+[\w:]+\s+(\w+)\s*=\s*(0x[0-9A-Fa-f]+|\d+)\s*;", text):
            found[name] = int(value, 0)
    return found


def wait_minutes():
    return constants()["TOOL_WAIT_MILLISECONDS"] // 60000


def rows():
    """(code or None for "any other", type, origin, event ID or None, meaning, advice), in the table's order."""
    values, minutes, result = constants(), wait_minutes(), []
    for line in TABLE.read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        code, kind, origin, event, meaning, advice = line.split("\t")
        if code == "*":
            number = None
        elif code in values:
            number = values[code]
        else:
            raise SystemExit(f"exit_codes: {code} is not a constant of {', '.join(CONSTANT_HEADERS)}")
        event_id = None if event == "-" else int(event)
        result.append((number, kind, origin, event_id, meaning.format(minutes=minutes), advice))
    return result


def outcome_problems():
    """Where the launcher's outcome table differs from docs/exit-codes.tsv."""
    values, source = constants(), (ROOT / OUTCOME_SOURCE).read_text()
    row = r"\{\s*(\w+),\s*(\d+),\s*(true|false),\s*(?:true|false),\s*u\""
    listed = re.search(r"OUTCOMES\[\] = \{(.*?)\n\};", source, re.S)
    other = re.search(r"ANY_OTHER\s*=\s*" + row, source)
    if not listed or not other:
        return [f"{OUTCOME_SOURCE}: no OUTCOMES table or ANY_OTHER row"]
    launcher = {values.get(name, name): (int(event), succeeded == "true")
                for name, event, succeeded in re.findall(row, listed.group(1))}
    launcher[None] = (int(other.group(2)), other.group(3) == "true")
    table = {code: (event, kind in SUCCESS_TYPES) for code, kind, _, event, _, _ in rows() if event is not None}
    problems = [f"{OUTCOME_SOURCE}: {shown(code)} is {launcher.get(code)} (event, succeeded), "
                f"docs/exit-codes.tsv says {table.get(code)}"
                for code in sorted(set(launcher) | set(table), key=lambda c: -1 if c is None else c)
                if launcher.get(code) != table.get(code)]
    return problems


def signed(code):
    return code - (1 << 32) if code >= 1 << 31 else code


def shown(code):
    if code is None:
        return "any other"
    return f"0x{code:08X} ({signed(code)})" if code >= 1 << 31 else str(code)


def event_shown(event, kind):
    if event is None:
        return "none"
    return f"{event} ({'information' if kind in SUCCESS_TYPES else 'error'})"


def intune_json():
    codes = [{"@odata.type": "#microsoft.graph.win32LobAppReturnCode", "returnCode": signed(code), "type": kind}
             for code, kind, _, _, _, _ in rows() if code is not None]
    return json.dumps(codes, indent=2) + "\n"


def markdown(which):
    if which == "launcher":
        lines = ["| Code | Event | Meaning | What a deployment system should make of it |", "|---|---|---|---|"]
        lines += [f"| {shown(c)} | {event_shown(e, k)} | {m} | {a} |"
                  for c, k, origin, e, m, a in rows() if origin == "launcher"]
    else:
        lines = ["| Code | Intune type | Event | Meaning | What a deployment system should make of it |",
                 "|---|---|---|---|---|"]
        lines += [f"| {shown(c)} | {'failed (unmapped)' if c is None else k} | {event_shown(e, k)} | {m} | {a} |"
                  for c, k, _, e, m, a in rows()]
    return "\n".join(lines) + "\n"


def regenerated(text):
    return TABLE_MARK.sub(lambda m: m.group(1) + markdown(m.group(2)) + m.group(4), text)


def guide_problems(guide):
    """Paths the launcher uses that the guide does not name, and waits it names that the launcher has not."""
    problems = []
    for source in PATH_SOURCES:
        for literal in re.findall(r'u"((?:[^"\\]|\\.)*)"', (ROOT / source).read_text()):
            text = literal.replace("\\\\", "\\")
            if not re.search(r"\w\\\w|\.(rkv|old|exe|txt)$", text):
                continue  # not a path or file name
            pattern = re.escape(text).replace("%s", "<[^>]+>").replace("%d", "<[^>]+>")
            if not re.search(pattern, guide):
                problems.append(f"docs/deploy.md does not name {text} ({source})")
    minutes = wait_minutes()
    if f"{minutes} minutes" not in guide:
        problems.append(f"docs/deploy.md does not give the launcher's wait of {minutes} minutes")
    # Other durations are the deployment systems' defaults and the margin asked for on top of the wait.
    allowed = {minutes, minutes + 10, 60, 120, 10}
    for number in re.findall(r"\b(\d+) minutes", guide):
        if int(number) not in allowed:
            problems.append(f"docs/deploy.md names {number} minutes: neither the wait nor a known default")
    return problems


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "json":
        sys.stdout.write(intune_json())
    elif command == "update":
        for path in (README, GUIDE):
            path.write_text(regenerated(path.read_text()))
    elif command == "check":
        problems = []
        for path in (README, GUIDE):
            text = path.read_text()
            if not TABLE_MARK.search(text):
                problems.append(f"{path.name}: no generated exit-code table")
            elif regenerated(text) != text:
                problems.append(f"{path.name}: exit-code table differs from docs/exit-codes.tsv "
                                "(run scripts/exit_codes.py update)")
        problems += guide_problems(GUIDE.read_text())
        problems += outcome_problems()
        print("\n".join(problems) or "exit codes: tables and guide match the launcher")
        sys.exit(1 if problems else 0)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
