#!/usr/bin/python3
"""Checks a built Windows executable against DLL planting and for the loader's
protections; prints what it found and exits 1 on any fault.

Imports: every DLL that the import table or a delayed import names must be a
KnownDLL (the loader maps those from the system folder, never from the
executable's folder) or comctl32, which the manifest binds to the system's
side-by-side copy. Anything else, loaded by name, would be looked for beside
the executable first: a download folder, say, where a planted copy would run.

Header flags: ASLR with high entropy, DEP, terminal-server awareness (so the
Windows folder is the shared one), and relocations present, without which
ASLR cannot move the image.

Reads the PE file itself, so it does not depend on a disassembler's output.
Usage: hardening.py FILE.exe
"""

import re
import struct
import sys

# KnownDLLs of Windows 10 that this program may reasonably import, lower case.
KNOWN_DLLS = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll", "gdiplus.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "psapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "ws2_32.dll",
}
MANIFEST_BOUND = {"comctl32.dll"}
ALLOWED = KNOWN_DLLS | MANIFEST_BOUND

IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
PE32_PLUS = 0x20B
REQUIRED_FLAGS = {
    "HIGH_ENTROPY_VA": 0x0020,
    "DYNAMIC_BASE": 0x0040,
    "NX_COMPAT": 0x0100,
    "TERMINAL_SERVER_AWARE": 0x8000,
}
DIR_IMPORT, DIR_BASERELOC, DIR_DELAY_IMPORT = 1, 5, 13
IMPORT_DESCRIPTOR_SIZE = 20
DELAY_DESCRIPTOR_SIZE = 32


class PeError(Exception):
    pass


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = self.u16(optional)
        if self.magic != PE32_PLUS:
            raise PeError(f"optional header magic {self.magic:#x}, not PE32+ ({PE32_PLUS:#x})")
        self.image_base = struct.unpack_from("<Q", data, optional + 24)[0]
        self.dll_characteristics = self.u16(optional + 70)
        count = self.u32(optional + 108)
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), rva,
                                  max(virtual_size, raw_size), raw_offset, raw_size))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section(self, rva):
        """The section (name, rva, size, raw offset, raw size) holding rva, or None."""
        for section in self.sections:
            if section[1] <= rva < section[1] + section[2]:
                return section
        return None

    def offset(self, rva):
        section = self.section(rva)
        if section is None:
            raise PeError(f"RVA {rva:#x} lies in no section")
        name, start, _, raw_offset, raw_size = section
        if rva - start >= raw_size:
            raise PeError(f"RVA {rva:#x} lies in the uninitialised part of {name}")
        return raw_offset + rva - start

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise PeError(f"unterminated name at RVA {rva:#x}")
        return self.data[start:end].decode("ascii", "replace")

    def imports(self):
        """The DLL names of the import table."""
        rva = self.directory(DIR_IMPORT)[0]
        names = []
        if not rva:
            return names
        at = self.offset(rva)
        while True:
            descriptor = self.data[at:at + IMPORT_DESCRIPTOR_SIZE]
            if len(descriptor) < IMPORT_DESCRIPTOR_SIZE:
                raise PeError("the import table runs past the end of the file")
            if descriptor == bytes(IMPORT_DESCRIPTOR_SIZE):
                return names
            names.append(self.string(struct.unpack_from("<I", descriptor, 12)[0]))
            at += IMPORT_DESCRIPTOR_SIZE

    def delay_imports(self):
        """The DLL names of delayed imports, which a helper loads by the same search on first call.

        Two forms: the delay-import directory, and MinGW's delay libraries, which
        leave that directory empty and keep their DLL names among the import
        data: any DLL name there that the import table does not list.
        """
        names = []
        rva = self.directory(DIR_DELAY_IMPORT)[0]
        if rva:
            at = self.offset(rva)
            while True:
                descriptor = self.data[at:at + DELAY_DESCRIPTOR_SIZE]
                if len(descriptor) < DELAY_DESCRIPTOR_SIZE:
                    raise PeError("the delay-import table runs past the end of the file")
                if descriptor == bytes(DELAY_DESCRIPTOR_SIZE):
                    break
                attributes, name = struct.unpack_from("<II", descriptor)
                # Bit 0 clear: an old-style descriptor holding addresses, not RVAs.
                names.append(self.string(name if attributes & 1 else name - self.image_base))
                at += DELAY_DESCRIPTOR_SIZE
        import_rva = self.directory(DIR_IMPORT)[0]
        section = self.section(import_rva) if import_rva else None
        if section:
            _, _, _, raw_offset, raw_size = section
            listed = {name.lower() for name in self.imports()}
            import_data = self.data[raw_offset:raw_offset + raw_size]
            for match in re.finditer(rb"[\x21-\x7e]+\.dll(?=\0)", import_data, re.IGNORECASE):
                name = match.group().decode("ascii")
                if name.lower() not in listed:
                    names.append(name)
        unique = {}
        for name in names:
            unique.setdefault(name.lower(), name)
        return list(unique.values())

    def has_relocations(self):
        return not self.characteristics & IMAGE_FILE_RELOCS_STRIPPED and self.directory(DIR_BASERELOC)[1] > 0


def check(path):
    """Prints the findings for one file; returns the list of faults."""
    with open(path, "rb") as f:
        pe = PeFile(f.read())
    faults = []
    print(f"{path}")
    print(f"  machine {pe.machine:#06x}, PE32+, DllCharacteristics {pe.dll_characteristics:#06x}")
    if pe.machine != IMAGE_FILE_MACHINE_AMD64:
        faults.append(f"machine {pe.machine:#x} is not x64")
    for flag, bit in REQUIRED_FLAGS.items():
        present = bool(pe.dll_characteristics & bit)
        print(f"  {'ok' if present else 'MISSING':<9} {flag}")
        if not present:
            faults.append(f"{flag} is not set")
    relocations = pe.has_relocations()
    print(f"  {'ok' if relocations else 'MISSING':<9} relocations (base relocation table "
          f"{pe.directory(DIR_BASERELOC)[1]} bytes)")
    if not relocations:
        faults.append("no relocations: ASLR cannot move the image")
    for kind, names in (("import", pe.imports()), ("delay import", pe.delay_imports())):
        for name in names:
            allowed = name.lower() in ALLOWED
            print(f"  {'ok' if allowed else 'PLANTABLE':<9} {kind} {name}")
            if not allowed:
                faults.append(f"{kind} {name} is neither a KnownDLL nor bound by the manifest")
    return faults


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    try:
        faults = check(argv[1])
    except (OSError, PeError, struct.error) as error:
        print(f"{argv[1]}: cannot read as a PE file: {error}")
        return 1
    for fault in faults:
        print(f"FAULT: {fault}")
    print("passed" if not faults else f"{len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
