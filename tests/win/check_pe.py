#!/usr/bin/python3
"""Checks RemoveVelkaro.exe as Windows will see it: machine, subsystem, imported DLLs,
manifest and version block."""
import re
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "msvcrt.dll"}


def main(path):
    pe = pefile.PE(path)
    failures = []

    def check(cond, what):
        if not cond:
            failures.append(what)

    check(pe.FILE_HEADER.Machine == 0x14C, "machine is i386")
    check(pe.OPTIONAL_HEADER.Magic == 0x10B, "PE32")
    check(pe.OPTIONAL_HEADER.Subsystem == 2, "GUI subsystem")
    check(pe.FILE_HEADER.TimeDateStamp == 0, "no timestamp in the header")
    dlls = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
    print("imports:", " ".join(sorted(dlls)))
    check(dlls <= SYSTEM_DLLS, "only system DLLs imported, not %s" % sorted(dlls - SYSTEM_DLLS))
    check({"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll"} <= dlls,
          "the Win32 DLLs the program calls are imported")

    manifest = None
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == 24:
            data = entry.directory.entries[0].directory.entries[0].data.struct
            manifest = pe.get_data(data.OffsetToData, data.Size).decode("utf-8")
    check(manifest is not None, "manifest present")
    manifest = manifest or ""
    check(re.search(r'<assemblyIdentity name="CompanyName\.ProductName\.YourApp" version="1\.0\.0\.0" '
                    r'processorArchitecture="X86" type="win32"/>', manifest) is not None, "assembly identity")
    check(re.search(r'name="Microsoft\.Windows\.Common-Controls" version="6\.0\.0\.0" processorArchitecture="X86" '
                    r'publicKeyToken="6595b64144ccf1df" language="\*"', manifest) is not None,
          "common controls 6.0.0.0 dependency")
    check('level="requireAdministrator" uiAccess="false"' in manifest, "requireAdministrator, uiAccess false")

    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            check(table.LangID == b"041104b0", "string table 0411/04b0")
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        for var in getattr(info, "Var", []):
            check(var.entry.get(b"Translation") == "0x0411 0x04b0", "translation Japanese, Unicode")
    expected = {
        "FileDescription": "インストール情報を削除",
        "FileVersion": "1, 0, 1009, 2819",
        "ProductVersion": "1, 0, 1009, 2819",
        "ProductName": "Velkaro",
        "InternalName": "RemoveVelkaro",
        "OriginalFilename": "RemoveVelkaro.exe",
    }
    for key, value in expected.items():
        check(strings.get(key) == value, "%s is %r, found %r" % (key, value, strings.get(key)))
    fixed = pe.VS_FIXEDFILEINFO[0]
    version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
               fixed.FileVersionLS & 0xFFFF)
    check(version == (1, 0, 1009, 2819), "fixed file version 1.0.1009.2819")
    check(fixed.FileOS == 4 and fixed.FileType == 1, "32-bit Windows application")

    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
