#!/usr/bin/env python3
"""Checks that Windows 95 can load the given programs: every DLL and name
in their import tables is in the allow-list (win95_imports.txt), nothing
is imported by ordinal alone, and the PE header asks for Windows 4.0 at
most (OS and subsystem versions).

    win95_imports.py PROGRAM.EXE...

Prints one line per fault and a summary per program; exits 1 on any
fault. Reads the tables with i686-w64-mingw32-objdump (or $OBJDUMP).
"""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
VERSION_FIELDS = ("MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion", "MinorSubsystemVersion")


def allow_list(path):
    allowed, stubs = set(), set()
    for line in open(path, encoding="ascii"):
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        if len(words) not in (2, 3) or (len(words) == 3 and words[2] != "stub"):
            sys.exit("%s: cannot read %r" % (path, line))
        entry = (words[0].upper(), words[1])
        allowed.add(entry)
        if len(words) == 3:
            stubs.add(entry)
    return allowed, stubs


def read_header(text):
    """The PE version fields and the imports as (DLL, name or None)."""
    versions, imports, dll = {}, [], None
    for line in text.splitlines():
        field = re.match(r"^(\w+)\s+(\S+)$", line)
        if field and field.group(1) in VERSION_FIELDS:
            versions[field.group(1)] = int(field.group(2), 16 if field.group(2).startswith("0x") else 10)
        named = re.match(r"^\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1).upper()
            continue
        if not line.strip():
            dll = None
            continue
        member = re.match(r"^\t[0-9a-f]+\t\s*(\d+)\s+(\S+)", line)
        if dll and member:
            name = member.group(2)
            imports.append((dll, None if name == "<none>" else name))
    return versions, imports


def check(program, allowed, stubs, objdump):
    text = subprocess.run([objdump, "-p", program], capture_output=True, text=True, check=True).stdout
    versions, imports = read_header(text)
    name = os.path.basename(program)
    faults = []
    for field in VERSION_FIELDS:
        if field not in versions:
            faults.append("%s: no %s in the PE header" % (name, field))
    for kind, field in (("OS", "OSystemVersion"), ("subsystem", "SubsystemVersion")):
        major, minor = versions.get("Major" + field, 99), versions.get("Minor" + field, 99)
        if (major, minor) > (4, 0):
            faults.append("%s: %s version %d.%d, above 4.0" % (name, kind, major, minor))
    if not imports:
        faults.append("%s: no import table found" % name)
    for dll, function in imports:
        if function is None:
            faults.append("%s: imports an ordinal of %s by number alone" % (name, dll))
        elif (dll, function) not in allowed:
            faults.append("%s: imports %s!%s, which Windows 95 lacks (or not on the allow-list)" % (name, dll, function))
    used_stubs = sorted("%s!%s" % entry for entry in set(imports) & stubs)
    for fault in faults:
        print(fault)
    print("%s: %d imports from %d DLLs%s%s" % (
        name, len(imports), len({dll for dll, _ in imports}),
        ", stubs with a fallback: " + ", ".join(used_stubs) if used_stubs else "",
        ", %d faults" % len(faults) if faults else ", all on the list, PE versions 4.0"))
    return not faults


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    allowed, stubs = allow_list(os.path.join(HERE, "win95_imports.txt"))
    objdump = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
    results = [check(program, allowed, stubs, objdump) for program in sys.argv[1:]]
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
