"""The stand-in patch tool of tests/tools: the file versions it is built in, its programs, and what it records of
each run (the command line and the folder it was given, what it saw of the log and the run record) in
stand_in_record.txt beside itself."""

from testkit.source_tree import ROOT

NO_VERSION = "no-version"  # a variant: the stand-in without a version resource
SHORT_RECORD = "short-record"  # a variant: a version resource whose fixed record is missing (value length 0)


def stand_in_versions():
    """{file version: whether the launcher takes it for a legacy tool} of the stand-in's builds, in order, as
    tests/tools/stand_in_versions.txt (which the build reads too) lists them."""
    rows = (line.split() for line in (ROOT / "tests" / "tools" / "stand_in_versions.txt").read_text().splitlines())
    return {row[0]: row[1] == "legacy" for row in rows if row and not row[0].startswith("#")}


def stand_in_program(tools_dir, variant):
    """The stand-in's program in a build's tests/tools: a file version of stand_in_versions(), or another variant."""
    suffix = {NO_VERSION: "", SHORT_RECORD: "_short_record"}.get(variant, "_" + variant.replace(".", "_"))
    return tools_dir / f"stand_in_tool{suffix}.exe"


def stand_in_records(installer_dir):
    """One dict per run of the stand-in in that folder, in order; its multi-valued keys (probe, record) as lists."""
    record_file = installer_dir / "stand_in_record.txt"
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
