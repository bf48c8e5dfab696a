#!/usr/bin/python3
"""Static checks of the 32-bit product, build/win32/Orvane.Launcher.exe: one PASS/FAIL line per check, a non-zero exit
when any failed. Usage: python3 -m tests.static.check_product [path-to-exe]"""
import os
import sys
import xml.etree.ElementTree as ET

import pefile

from testkit.source_tree import ROOT

EXE = sys.argv[1] if len(sys.argv) > 1 else str(ROOT / "build" / "win32" / "Orvane.Launcher.exe")
SIZE_LIMIT = 64 * 1024

# DLLs that Windows always takes from its own folder (KnownDLLs), so none can be planted beside
# the launcher. shell32, shlwapi and version.dll are loaded at run time by full path: an import
# would be resolved, with the imports of that DLL, before the search path is restricted.
ALLOWED_IMPORTS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}

results = []


def check(name, ok, detail=""):
    results.append(bool(ok))
    print(("PASS " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + str(detail)))


pe = pefile.PE(EXE)
fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER

check("PE32 for i386", oh.Magic == 0x10B and fh.Machine == 0x14C, (hex(oh.Magic), hex(fh.Machine)))
check("GUI subsystem", oh.Subsystem == 2, oh.Subsystem)
check("subsystem version 6.0", (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) == (6, 0),
      (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion))
check("operating system version 6.0", (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion) == (6, 0),
      (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion))
check("no time stamp in the header", fh.TimeDateStamp == 0, fh.TimeDateStamp)
check("ASLR and DEP", oh.DllCharacteristics & 0x0040 and oh.DllCharacteristics & 0x0100, hex(oh.DllCharacteristics))
size = os.path.getsize(EXE)
check("at most 64 KiB (%d bytes)" % size, size <= SIZE_LIMIT, size)

imports = {entry.dll.decode().lower(): sorted((i.name or b"").decode() for i in entry.imports)
           for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
check("imports only system DLLs " + ",".join(sorted(imports)), set(imports) <= ALLOWED_IMPORTS,
      set(imports) - ALLOWED_IMPORTS)
check("version.dll not imported", "version.dll" not in imports)
check("no compiler runtime DLL", not any(n.startswith(("libstdc", "libgcc", "libwinpthread")) for n in imports))
all_names = {name for names in imports.values() for name in names}
for name in ("SetDefaultDllDirectories", "GetSystemTimePreciseAsFileTime"):
    check(name + " looked up, not imported", name not in all_names)
check("no delay-load imports", not hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"))

# The version resource.
strings, langs, translations = {}, set(), []
for info in (info for fileinfo in getattr(pe, "FileInfo", None) or [] for info in fileinfo):
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            langs.add(table.LangID.decode().upper())
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    elif info.Key == b"VarFileInfo":
        translations += [value for var in info.Var for value in var.entry.values()]
fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
check("version resource 040904B0", langs == {"040904B0"}, langs)
for key, value in (("InternalName", "Orvane.Launcher"), ("OriginalFilename", "Orvane.Launcher"),
                   ("FileDescription", "Orvane.Launcher.exe")):
    check(key, strings.get(key) == value, strings.get(key))
for key in ("CompanyName", "ProductName", "LegalCopyright", "FileVersion", "ProductVersion"):
    check(key + " present", bool(strings.get(key)), strings.get(key))
check("fixed file and product version",
      fixed is not None and fixed.FileVersionMS != 0 and fixed.ProductVersionMS != 0 and fixed.FileType == 1)
check("translation U.S. English, Unicode",
      any([int(x, 16) for x in t.split()] == [0x409, 1200] for t in translations), translations)

# The other resources: the icon's sizes, the manifest, every directory's time stamp.
icon_sizes, manifests, resource_stamps = set(), [], []


def walk(directory, ids=()):
    resource_stamps.append(directory.struct.TimeDateStamp)
    for entry in directory.entries:
        if hasattr(entry, "directory"):
            walk(entry.directory, ids + (entry.id,))
            continue
        data = pe.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size)
        if ids[0] == pefile.RESOURCE_TYPE["RT_ICON"]:
            png = data[:8] == b"\x89PNG\r\n\x1a\n"
            icon_sizes.add(int.from_bytes(data[16:20], "big") if png else int.from_bytes(data[4:8], "little"))
        elif ids[0] == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            manifests.append((ids[1], ET.fromstring(data.decode("utf-8"))))


if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
    walk(pe.DIRECTORY_ENTRY_RESOURCE)
check("icon of 16, 32 and 48 pixels", {16, 32, 48} <= icon_sizes, sorted(icon_sizes))
check("no time stamp in the resources", all(s == 0 for s in resource_stamps), resource_stamps)
shape = [(resource_id, [e.tag.split("}")[-1] for e in root]) for resource_id, root in manifests]
levels = [e.attrib for _, root in manifests for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
check("manifest: only asInvoker, uiAccess false",
      shape == [(1, ["trustInfo"])] and levels == [{"level": "asInvoker", "uiAccess": "false"}], (shape, levels))

failed = results.count(False)
print("%d passed, %d failed" % (results.count(True), failed))
sys.exit(1 if failed else 0)
