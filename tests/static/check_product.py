#!/usr/bin/python3
"""Static checks of the 32-bit product, build/win32/Orvane.Launcher.exe.

Prints one PASS/FAIL line per check and exits non-zero when any check failed.
Usage: check_product.py [path-to-exe]
"""
import os
import sys

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win32", "Orvane.Launcher.exe")
SIZE_LIMIT = 64 * 1024

# DLLs that Windows always takes from its own folder (KnownDLLs), so none can be planted beside
# the launcher. shell32, shlwapi and version.dll are loaded at run time by full path: an import
# would be resolved, with the imports of that DLL, before the search path is restricted.
ALLOWED_IMPORTS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}

results = []


def check(name, ok, detail=""):
    results.append(ok)
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
dll = oh.DllCharacteristics
check("ASLR and DEP", dll & 0x0040 and dll & 0x0100, hex(dll))
size = os.path.getsize(EXE)
check("at most 64 KiB (%d bytes)" % size, size <= SIZE_LIMIT, size)

imports = {entry.dll.decode().lower(): sorted((i.name or b"").decode() for i in entry.imports)
           for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
check("imports only system DLLs " + ",".join(sorted(imports)), set(imports) <= ALLOWED_IMPORTS,
      set(imports) - ALLOWED_IMPORTS)
check("version.dll not imported", "version.dll" not in imports)
check("no compiler runtime DLL", not any(n.startswith(("libstdc", "libgcc", "libwinpthread")) for n in imports))
all_names = {name for names in imports.values() for name in names}
check("SetDefaultDllDirectories looked up, not imported", "SetDefaultDllDirectories" not in all_names)
check("GetSystemTimePreciseAsFileTime looked up, not imported", "GetSystemTimePreciseAsFileTime" not in all_names)
check("no delay-load imports", not hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"))

# Resources.
strings = {}
fixed = None
langs = set()
for fileinfo in getattr(pe, "FileInfo", []) or []:
    for info in fileinfo:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                langs.add(table.LangID.decode().upper())
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
if hasattr(pe, "VS_FIXEDFILEINFO"):
    fixed = pe.VS_FIXEDFILEINFO[0]
check("version resource 040904B0", langs == {"040904B0"}, langs)
check("InternalName", strings.get("InternalName") == "Orvane.Launcher", strings.get("InternalName"))
check("OriginalFilename", strings.get("OriginalFilename") == "Orvane.Launcher", strings.get("OriginalFilename"))
check("FileDescription", strings.get("FileDescription") == "Orvane.Launcher.exe", strings.get("FileDescription"))
for key in ("CompanyName", "ProductName", "LegalCopyright", "FileVersion", "ProductVersion"):
    check(key + " present", bool(strings.get(key)), strings.get(key))
check("fixed file and product version",
      fixed is not None and fixed.FileVersionMS != 0 and fixed.ProductVersionMS != 0 and fixed.FileType == 1)
translations = []
for fileinfo in getattr(pe, "FileInfo", []) or []:
    for info in fileinfo:
        if info.Key == b"VarFileInfo":
            for var in info.Var:
                translations += list(var.entry.values())
check("translation U.S. English, Unicode",
      any([int(x, 16) for x in t.split()] == [0x409, 1200] for t in translations), translations)

icon_sizes = set()
manifest = None
resource_stamps = []


def walk(directory):
    resource_stamps.append(directory.struct.TimeDateStamp)
    for entry in directory.entries:
        if hasattr(entry, "directory"):
            walk(entry.directory)


if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
    walk(pe.DIRECTORY_ENTRY_RESOURCE)
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rid in rtype.directory.entries:
            for lang in rid.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                if rtype.id == pefile.RESOURCE_TYPE["RT_ICON"]:
                    if data[:8] == b"\x89PNG\r\n\x1a\n":
                        icon_sizes.add(int.from_bytes(data[16:20], "big"))
                    else:
                        icon_sizes.add(int.from_bytes(data[4:8], "little"))
                elif rtype.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
                    manifest = (rid.id, data.decode("utf-8"))
check("icon of 16, 32 and 48 pixels", {16, 32, 48} <= icon_sizes, sorted(icon_sizes))
check("no time stamp in the resources", all(s == 0 for s in resource_stamps), resource_stamps)
ok_manifest = False
if manifest is not None:
    import xml.etree.ElementTree as ET

    root = ET.fromstring(manifest[1])
    levels = [e for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    children = [e.tag.split("}")[-1] for e in root]
    ok_manifest = (manifest[0] == 1 and children == ["trustInfo"] and len(levels) == 1
                   and levels[0].get("level") == "asInvoker" and levels[0].get("uiAccess") == "false")
check("manifest: only asInvoker, uiAccess false", ok_manifest, manifest)

failed = results.count(False)
print("%d passed, %d failed" % (results.count(True), failed))
sys.exit(1 if failed else 0)
