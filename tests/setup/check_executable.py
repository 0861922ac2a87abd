#!/usr/bin/env python3
"""Checks the built installer as a file: a 32-bit GUI PE of at most 100 KiB, importing only KnownDLLs
the ordinary way, and carrying exactly the manifest, version and icon resources it ships with; and the
PE header of every program we ship (with --header-only, that alone, for quillo-release.exe).
Usage: check_executable.py [--header-only] EXE"""
import re
import struct
import subprocess
import sys
import tempfile
import os
import xml.etree.ElementTree as ET

# ntdll is not in the KnownDLLs list only because the kernel maps it into every process before any
# search could happen; nothing beside the program can stand in for it.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "msvcrt.dll", "advapi32.dll",
              "shell32.dll", "oleaut32.dll", "combase.dll", "rpcrt4.dll", "sechost.dll", "shlwapi.dll",
              "ntdll.dll"}
MAX_SIZE = 100 * 1024
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DYNAMIC_BASE, NX_COMPAT, NO_SEH, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x0400, 0x8000
# A handler is registered on x86 by storing a frame into the TEB's first field, fs:[0]. In AT&T syntax
# the destination comes last: a store ends with "%fs:0x0", a pop into it names it too.
SEH_REGISTRATION = re.compile(r"(,%fs:0x0$)|(\bpop[lw]?\s+%fs:0x0$)")


def check_header(exe, blob):
    """The header fields a reproducible build for Windows 10 and 11 must carry (see cmake/WebSetup.cmake)."""
    pe = struct.unpack_from("<I", blob, 0x3C)[0]
    check(blob[pe:pe + 4] == b"PE\0\0", "PE signature")
    _machine, _sections, timestamp, _symbols, _count, _optsize, characteristics = struct.unpack_from("<HHIIIHH", blob, pe + 4)
    opt = pe + 24
    check(timestamp == 0, f"no link time in the header, found {timestamp}")
    check(not characteristics & IMAGE_FILE_RELOCS_STRIPPED, "relocations not stripped")
    os_version = struct.unpack_from("<HH", blob, opt + 40)
    subsystem_version = struct.unpack_from("<HH", blob, opt + 48)
    check(subsystem_version >= (6, 0), f"subsystem version 6.0 or later, found {subsystem_version}")
    check(os_version == subsystem_version, f"OS version {os_version} matches the subsystem version")
    dll_characteristics = struct.unpack_from("<H", blob, opt + 70)[0]
    for flag, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT"), (NO_SEH, "NO_SEH"),
                       (TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE")):
        check(dll_characteristics & flag, f"DllCharacteristics has {name}, found {dll_characteristics:#06x}")
    relocations = struct.unpack_from("<II", blob, opt + 96 + 8 * 5)
    check(relocations[1] > 0, "a base relocation table, so ASLR can move the image")
    # NO_SEH is only true while nothing linked in registers a handler.
    code = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", "-j", ".text", exe],
                          check=True, capture_output=True, text=True).stdout
    registrations = [line.strip() for line in code.splitlines() if SEH_REGISTRATION.search(line.strip())]
    check(not registrations, f"no SEH handler registered through fs:[0], found {registrations[:3]}")


def resource(exe, rtype, name):
    out = subprocess.run(["wrestool", "-x", "--raw", f"--type={rtype}", f"--name={name}", "--language=1033", exe],
                         check=True, capture_output=True).stdout
    check(len(out) > 0, f"resource type {rtype} id {name} in language 1033")
    return out


def version_strings(blob):
    """Reads VS_VERSIONINFO: the fixed part and every String value, as a dict."""
    text = blob.decode("utf-16-le", errors="replace")
    fixed_at = blob.find(struct.pack("<I", 0xFEEF04BD))
    fixed = struct.unpack_from("<13I", blob, fixed_at)
    strings = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                "OriginalFilename", "ProductName", "ProductVersion"):
        m = re.search(key + "\x00+([^\x00]*)\x00", text)
        strings[key] = m.group(1) if m else None
    translation_at = blob.find("Translation".encode("utf-16-le"))
    translation = struct.unpack_from("<HH", blob, (translation_at + 24 + 3) & ~3) if translation_at > 0 else None
    return fixed, strings, "040904b0" in text, translation


def main():
    header_only = sys.argv[1] == "--header-only"
    exe = sys.argv[-1]
    with open(exe, "rb") as f:
        check_header(exe, f.read())
    if header_only:
        return report()

    size = os.path.getsize(exe)
    print(f"size: {size} bytes")
    check(size <= MAX_SIZE, f"size {size} is at most {MAX_SIZE}")

    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True, capture_output=True, text=True).stdout
    check("Magic\t\t\t010b" in dump, "PE32 (magic 010b)")
    check("(Windows GUI)" in dump, "GUI subsystem")
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    check(imports <= KNOWN_DLLS, f"ordinary imports are KnownDLLs only, found {sorted(imports - KNOWN_DLLS)}")

    listing = subprocess.run(["wrestool", "-l", exe], check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        check("--language=1033" in line, f"every resource is in language 1033: {line}")

    manifest = ET.fromstring(resource(exe, 24, 1))
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1",
          "ws05": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
          "ws16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
    identity = manifest.find("v1:assemblyIdentity", ns).attrib
    check(identity == {"type": "win32", "name": "BrimlowAIQuillo.WebSetup", "version": "1.0.5.0",
                       "processorArchitecture": "*"}, f"assemblyIdentity {identity}")
    check(manifest.findtext("v1:description", None, ns) == "Brimlow AI Quillo Online Installer", "description")
    level = manifest.find(".//v3:requestedExecutionLevel", ns).attrib
    check(level == {"level": "requireAdministrator", "uiAccess": "false"}, f"requestedExecutionLevel {level}")
    os_ids = {e.attrib["Id"] for e in manifest.findall(".//c:supportedOS", ns)}
    check(os_ids == {"{4f476546-9371-482b-a5ae-97e28b4f9a5a}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"},
          f"supportedOS {os_ids}")
    check(manifest.findtext(".//ws05:dpiAware", None, ns) == "true/pm", "dpiAware true/pm")
    check(manifest.findtext(".//ws16:dpiAwareness", None, ns) == "PerMonitorV2", "dpiAwareness PerMonitorV2")
    check(manifest.findtext(".//ws16:longPathAware", None, ns) == "true", "longPathAware true")
    dep = manifest.find(".//v1:dependentAssembly/v1:assemblyIdentity", ns).attrib
    check(dep == {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
                  "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"},
          f"Common Controls 6 dependency {dep}")

    fixed, strings, table, translation = version_strings(resource(exe, 16, 1))
    # fixed: signature, struct version, file MS/LS, product MS/LS, mask, flags, OS, type, subtype, date MS/LS
    check(fixed[2:6] == (0x00010000, 0x00050000, 0x00010000, 0x00050000), "file and product version 1.0.5.0")
    check(fixed[6:11] == (0x3F, 0, 0x00040004, 1, 0), "mask 0x3F, flags 0, VOS_NT_WINDOWS32, VFT_APP, subtype 0")
    check(table, "string table 040904b0")
    expected = {"CompanyName": "Brimlow AI Labs Private Limited",
                "FileDescription": "Brimlow AI Quillo Online Installer", "FileVersion": "1.0.5.0",
                "InternalName": "BrimlowAIQuillo.WebSetup", "OriginalFilename": "BrimlowAIQuillo-WebSetup.exe",
                "ProductName": "Brimlow AI Quillo", "ProductVersion": "1.0.5"}
    for key, value in expected.items():
        check(strings[key] == value, f"{key} is {value!r}, found {strings[key]!r}")
    check(bool(strings["LegalCopyright"]), "LegalCopyright is present")
    check(translation == (0x0409, 1200), f"Translation 0x0409, 1200, found {translation}")

    group = resource(exe, 14, 1)
    reserved, kind, count = struct.unpack_from("<HHH", group)
    check(kind == 1 and count == 9, f"icon group of 9 icons, found {count}")
    sizes = []
    for i in range(count):
        w, h, _colors, _r, _planes, bpp, _bytes, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        sizes.append(w or 256)
        check(bpp == 32, f"icon {icon_id} is 32 bits per pixel")
        check(resource(exe, 3, icon_id).startswith(b"\x89PNG\r\n\x1a\n"), f"icon {icon_id} is PNG-compressed")
    check(sorted(sizes) == [16, 20, 24, 32, 40, 48, 64, 128, 256], f"icon sizes {sorted(sizes)}")

    return report()


def report():
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
