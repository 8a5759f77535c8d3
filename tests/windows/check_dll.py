#!/usr/bin/env python3
"""Checks the built BMPResizer.dll from outside, with pefile, as the loader and
a host see it; or any of our DLLs' exports and imports.

    check_dll.py BMPResizer.dll app_framework.dll VERSION PROCESSOR
        (VERSION: the project's, 1.0.0.1; PROCESSOR: x86_64, i686, arm64 or
        armv7)
    check_dll.py --exports DLL DEF [PROCESSOR]

The DLL is built for PROCESSOR and has an entry point for the loader to call.
It exports one function, by the undecorated name BMPResizer. It imports
exactly five functions from the framework's DLL, each by ordinal, and those
are the framework's exports that have no name; and nothing but these from
DLLs other than kernel32.dll and, where the build has a C runtime (x86), the
system's msvcrt.dll. Every resource is in US English (0x0409); the version
record, the string table entry and the type library's header hold exactly
the values below.

With --exports, DLL exports by name exactly the functions that the module
definition DEF lists (undecorated, on 32-bit x86 too), and nothing by
ordinal alone; and it imports from the system's DLLs and ours alone, so
that it runs with nothing beside it but them (no DLL of MinGW's run-time
libraries).

Each DLL checked (the framework's too) can be loaded anywhere: it keeps its
relocations and asks for address space layout randomisation (and, 64-bit,
its high-entropy form) and a stack and heap that do not execute; on ARM its
subsystem version is 6.2 (Windows 8) or later, which the loader of Windows
on ARM requires. With --exports that is checked too, and the machine when
PROCESSOR is given.

Prints one line per check; exits 1 if any failed, 77 if pefile is missing.
"""
import struct
import sys

try:
    import pefile
except ImportError:
    print("pefile is not installed (Debian: python3-pefile)")
    sys.exit(77)

MACHINES = {"x86_64": "IMAGE_FILE_MACHINE_AMD64", "amd64": "IMAGE_FILE_MACHINE_AMD64",
            "i686": "IMAGE_FILE_MACHINE_I386", "i386": "IMAGE_FILE_MACHINE_I386",
            "x86": "IMAGE_FILE_MACHINE_I386",
            "arm64": "IMAGE_FILE_MACHINE_ARM64", "aarch64": "IMAGE_FILE_MACHINE_ARM64",
            "armv7": "IMAGE_FILE_MACHINE_ARMNT", "arm": "IMAGE_FILE_MACHINE_ARMNT"}

# The oldest subsystem version that the loader takes, where it refuses older
# ones: Windows on ARM began with Windows 8 (6.2).
LEAST_SUBSYSTEM = {"IMAGE_FILE_MACHINE_ARM64": (6, 2), "IMAGE_FILE_MACHINE_ARMNT": (6, 2)}

# The C runtime's DLL that the module may import besides kernel32.dll: the
# x86 builds link MinGW's runtime, which uses msvcrt.dll; the ARM builds have
# none (platform/freestanding).
RUNTIME_DLLS = {"IMAGE_FILE_MACHINE_AMD64": {"msvcrt.dll"},
                "IMAGE_FILE_MACHINE_I386": {"msvcrt.dll"}}

# The framework exports its five operations for extension modules by ordinal
# only, and these helpers for hosts and tests by name.
FRAMEWORK_OPERATIONS = 5
FRAMEWORK_HELPERS = {"afw_extension_libraries", "afw_fail_next_init", "afw_fail_next_allocation"}

# What a DLL of ours may import from: the system, and our own DLLs.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "advapi32.dll", "user32.dll",
               "shell32.dll", "ws2_32.dll", "bcrypt.dll", "ucrtbase.dll"}
OUR_DLLS = {"bmpresizer.dll", "app_framework.dll", "libbmpresize.dll"}

LANG_EN_US = (0x09, 0x01)  # primary language, sublanguage: 0x0409

FIXED = {  # the version record's fixed part; the version numbers come from VERSION
    "FileFlagsMask": 0x3F,
    "FileFlags": 0,
    "FileOS": 4,  # VOS__WINDOWS32
    "FileType": 2,  # VFT_DLL
}

STRINGS = {  # string block 040904B0, every key
    "CompanyName": "",
    "FileDescription": "BMPResizer DLL",
    "FileVersion": None,  # "1, 0, 0, 1" for VERSION 1.0.0.1
    "InternalName": "BMPResizer",
    "LegalTrademarks": "",
    "OriginalFilename": "BMPResizer.dll",
    "ProductName": "BMPResizer Dynamic Link Library",
    "ProductVersion": None,
    "OLESelfRegister": "",
}

STRING_ID, STRING_TEXT = 101, "Windows sockets initialization failed."

RT_STRING, RT_VERSION = 6, 16

failures = 0


def check(ok, what):
    global failures
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures += 1


def resource_data(pe, entry):
    rva, size = entry.data.struct.OffsetToData, entry.data.struct.Size
    return pe.get_memory_mapped_image()[rva:rva + size]


def find(pe, type_id=None, type_name=None):
    """{resource id: [language entries]} of one resource type."""
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if (type_id is not None and kind.id == type_id) or (
                type_name is not None and kind.name is not None and str(kind.name) == type_name):
            return {r.id if r.name is None else str(r.name): r.directory.entries
                    for r in kind.directory.entries}
    return {}


def exports(pe):
    """[(ordinal, name or None)] of a PE file's export table."""
    table = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return [(e.ordinal, e.name.decode() if e.name else None) for e in table.symbols] if table else []


def machine_name(pe):
    return pefile.MACHINE_TYPE.get(pe.FILE_HEADER.Machine, "0x%X" % pe.FILE_HEADER.Machine)


def check_machine(pe, name, processor):
    machine = MACHINES.get(processor.lower())
    check(machine is not None and pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE[machine],
          "%s is built for %s (%s; have %s)" % (name, processor, machine, machine_name(pe)))


def check_placement(pe, name):
    """Relocatable, randomised and not executing its data, as the loader reads it."""
    header = pe.OPTIONAL_HEADER
    relocations = header.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    stripped = (pe.FILE_HEADER.Characteristics
                & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"])
    check(relocations.Size > 0 and not stripped,
          "%s keeps its relocations (%d bytes)" % (name, relocations.Size))
    flags = ["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]
    if header.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS:
        flags.append("IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA")
    missing = [f for f in flags if not header.DllCharacteristics & pefile.DLL_CHARACTERISTICS[f]]
    check(not missing, "%s has %s (DllCharacteristics 0x%04X)"
          % (name, ", ".join(f[len("IMAGE_DLLCHARACTERISTICS_"):] for f in flags),
             header.DllCharacteristics))
    have = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    least = LEAST_SUBSYSTEM.get(machine_name(pe))
    if least:
        check(have >= least and (header.MajorOperatingSystemVersion,
                                 header.MinorOperatingSystemVersion) >= least,
              "%s's subsystem and system versions are %d.%d or later (have %d.%d and %d.%d)"
              % (name, least[0], least[1], have[0], have[1], header.MajorOperatingSystemVersion,
                 header.MinorOperatingSystemVersion))


def check_loader_view(pe, framework, processor):
    check_machine(pe, "the module", processor)
    check_machine(framework, "the framework's DLL", processor)
    check_placement(pe, "the module")
    check_placement(framework, "the framework's DLL")
    entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
    section = pe.get_section_by_rva(entry) if entry else None
    check(section is not None and section.Characteristics & 0x20000000,  # IMAGE_SCN_MEM_EXECUTE
          "the entry point is set, in code (AddressOfEntryPoint 0x%X)" % entry)

    names = [name for _, name in exports(pe)]
    check(names == ["BMPResizer"], "one export, by the undecorated name BMPResizer (have %s)" % names)

    imports = [i for d in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
               if d.dll.decode().lower() == "app_framework.dll" for i in d.imports]
    by_name = [i.name.decode() for i in imports if not i.import_by_ordinal]
    check(not by_name, "nothing is imported from app_framework.dll by name (have %s)" % by_name)
    ordinals = sorted(i.ordinal for i in imports if i.import_by_ordinal)
    check(len(set(ordinals)) == FRAMEWORK_OPERATIONS == len(imports),
          "five functions are imported from app_framework.dll, by ordinal (have %s)" % ordinals)
    nameless = sorted(ordinal for ordinal, name in exports(framework) if name is None)
    check(ordinals == nameless,
          "they are the framework's exports without a name (ordinals %s)" % nameless)
    named = {name for _, name in exports(framework) if name is not None}
    check(named == FRAMEWORK_HELPERS, "the framework exports only its helpers by name (have %s)"
          % sorted(named))
    imported = sorted(d.dll.decode().lower() for d in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    allowed = {"kernel32.dll", "app_framework.dll"} | RUNTIME_DLLS.get(machine_name(pe), set())
    check("app_framework.dll" in imported and set(imported) <= allowed,
          "the module imports from %s alone (have %s)" % (" and ".join(sorted(allowed)), imported))


def definition_exports(path):
    """The names listed after EXPORTS in a module definition."""
    names, listing = [], False
    with open(path) as definition:
        for line in definition:
            words = line.split(";", 1)[0].split()
            if words and words[0] == "EXPORTS":
                listing = True
            elif words and listing and line[0] in " \t":
                names.append(words[0])
    return names


def check_exports(path, definition, processor=None):
    pe = pefile.PE(path)
    name = path.replace("\\", "/").rsplit("/", 1)[-1]
    if processor:
        check_machine(pe, name, processor)
    check_placement(pe, name)
    want = sorted(definition_exports(definition))
    have = exports(pe)
    check(sorted(n for _, n in have if n is not None) == want and None not in [n for _, n in have],
          "%s exports by name exactly %s (have %s)" % (name, want, have))
    imported = sorted(d.dll.decode().lower() for d in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    foreign = [dll for dll in imported
               if dll not in SYSTEM_DLLS | OUR_DLLS and not dll.startswith("api-ms-win-")]
    check(want and not foreign, "%s imports from the system's DLLs and ours alone (have %s)"
          % (name, imported))
    print("%d failed" % failures)
    return 1 if failures else 0


def main(path, framework_path, version, processor):
    numbers = [int(n) for n in version.split(".")]
    ms, ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    FIXED.update(FileVersionMS=ms, FileVersionLS=ls, ProductVersionMS=ms, ProductVersionLS=ls)
    text = ", ".join(str(n) for n in numbers)
    STRINGS.update(FileVersion=text, ProductVersion=text)
    pe = pefile.PE(path)
    check_loader_view(pe, pefile.PE(framework_path), processor)

    # Languages: each resource once, in US English.
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        kind_name = str(kind.name) if kind.name is not None else str(kind.id)
        for resource in kind.directory.entries:
            languages = [(l.data.lang, l.data.sublang) for l in resource.directory.entries]
            check(languages == [LANG_EN_US],
                  "resource %s/%s is in language 0x0409 only (%s)" % (kind_name, resource.id, languages))

    # The version record.
    check(set(find(pe, type_id=RT_VERSION)) == {1}, "one version record, id 1")
    fixed = pe.VS_FIXEDFILEINFO[0]
    for field, want in FIXED.items():
        have = getattr(fixed, field)
        check(have == want, "version %s is 0x%X (have 0x%X)" % (field, want, have))
    tables, translations = [], []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            tables += info.StringTable
        elif info.Key == b"VarFileInfo":
            translations += [v.entry for v in info.Var]
    check([t.LangID.upper() for t in tables] == [b"040904B0"], "one string block, 040904B0")
    if tables:
        have = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        for key, want in STRINGS.items():
            check(have.get(key) == want, "%s is %r (have %r)" % (key, want, have.get(key)))
        check(set(have) == set(STRINGS), "no other keys (have %s)" % sorted(have))
    check(translations == [{b"Translation": "0x0409 0x04b0"}],
          "translation 0x0409 / 0x04B0 (have %s)" % translations)

    # The string table: entry 101 lives in block 101 / 16 + 1 = 7 at index 5.
    blocks = find(pe, type_id=RT_STRING)
    check(set(blocks) == {STRING_ID // 16 + 1}, "one string block, 7 (have %s)" % sorted(blocks))
    if STRING_ID // 16 + 1 in blocks:
        data = resource_data(pe, blocks[STRING_ID // 16 + 1][0])
        strings, at = [], 0
        for _ in range(16):
            (length,) = struct.unpack_from("<H", data, at)
            strings.append(data[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
            at += 2 + 2 * length
        want = [""] * 16
        want[STRING_ID % 16] = STRING_TEXT
        check(strings == want, "string 101 is %r and the block holds nothing else" % STRING_TEXT)

    # The type library: TYPELIB 1, an MSFT type library (widl's format, with a
    # time stamp, so its header is read rather than its bytes compared).
    libraries = find(pe, type_name="TYPELIB")
    check(set(libraries) == {1}, "one type library, TYPELIB 1 (have %s)" % sorted(libraries))
    if 1 in libraries:
        data = resource_data(pe, libraries[1][0])
        (magic, _, _, lcid, _, varflags, version, _, typeinfos) = struct.unpack_from("<4sIiIIIIII", data, 0)
        check(magic == b"MSFT", "the type library is an MSFT type library")
        check(lcid == 0x0409, "its locale is 0x0409 (have 0x%X)" % lcid)
        check(version == 0x00000001, "its version is 1.0 (have 0x%08X: minor << 16 | major)" % version)
        check(varflags & 0xF == 1, "it is built for 32-bit Windows (SYS_WIN32; have %d)" % (varflags & 0xF))
        check(typeinfos == 0, "it holds no type descriptions (have %d)" % typeinfos)
        # Its name: the name table is the eighth segment of the directory
        # after the 0x54-byte header (and a help DLL offset when flagged).
        name_offset = struct.unpack_from("<i", data, 0x38)[0]
        directory = 0x54 + (4 if varflags & 0x100 else 0) + 4 * typeinfos
        name_table = struct.unpack_from("<i", data, directory + 7 * 16)[0]
        entry = name_table + name_offset
        length = data[entry + 8]
        name = bytes(data[entry + 12:entry + 12 + length]).decode("ascii", "replace")
        check(name == "BMPResizer", "it is named BMPResizer (have %r)" % name)

    print("%d failed" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) in (4, 5) and sys.argv[1] == "--exports":
        sys.exit(check_exports(*sys.argv[2:]))
    if len(sys.argv) != 5:
        sys.exit("usage: check_dll.py DLL FRAMEWORK_DLL VERSION PROCESSOR\n"
                 "       check_dll.py --exports DLL DEF [PROCESSOR]")
    sys.exit(main(*sys.argv[1:]))
