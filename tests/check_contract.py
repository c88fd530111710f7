#!/usr/bin/env python3
"""Checks that a shipped Win32 program keeps its platform contract: it loads
on Windows 95 (first release), 98 and NT 4.0, on any processor from the i486.

usage: check_contract.py [--map FILE.map] [--objdump TOOL] PROGRAM

- PE header: machine i386, Windows GUI subsystem 4.0, operating system 4.0.
- Imports: only the DLLs below (no C run-time DLL), none by ordinal, and
  every function listed in win95-nt4-exports.txt (beside this script).
- Code: no instruction or register listed in i486-forbidden.txt, in any
  executable section. The linker's map, when given, names the function of
  each offending instruction (the program itself is stripped).
Prints every failure and exits 1 when there is any.
"""
import argparse
import bisect
import fnmatch
import os
import re
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "COMDLG32.DLL",
                "SHELL32.DLL"}
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "data32", "addr16",
            "addr32", "cs", "ds", "es", "fs", "gs", "ss", "bnd", "notrack", "xacquire",
            "xrelease"}
REP_PREFIXES = {"rep", "repz", "repe", "repnz", "repne"}


def read_forbidden(path):
    """(kind, pattern, when, note) rows of the instruction table."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = line.split(None, 3)
            if len(parts) < 4 or parts[0] not in ("insn", "reg") or \
                    parts[2] not in ("any", "rep", "operands"):
                sys.exit(f"{path}:{number}: malformed line: {line}")
            rows.append(tuple(parts))
    return rows


def read_exports(path):
    """{(DLL, function): tags} of the export table, its sources checked, and
    the set of provisional source tags."""
    sources, entries, provisional = {}, {}, set()
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = line.split(None, 3)
            if parts[0] == "source" and len(parts) >= 3:
                sources[parts[1]] = " ".join(parts[2:])
                if parts[2] == "provisional":
                    provisional.add(parts[1])
                continue
            if len(parts) < 3:
                sys.exit(f"{path}:{number}: a function needs DLL, name and source tags: {line}")
            tags = parts[2].split(",")
            for tag in tags:
                if tag not in sources:
                    sys.exit(f"{path}:{number}: source tag {tag} is not defined above it")
            entries[(parts[0].upper() + ".DLL", parts[1])] = tags
    return entries, provisional


def objdump(tool, args, program):
    result = subprocess.run([tool] + args + [program], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{tool} failed on {program}: {result.stderr.strip()}")
    return result.stdout


def check_header(program):
    """Failures of the PE header's machine, subsystem and versions."""
    with open(program, "rb") as f:
        data = f.read(4096)
    if data[:2] != b"MZ":
        return ["not a PE file (no MZ header)"]
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return ["not a PE file (no PE signature)"]
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    os_major, os_minor = struct.unpack_from("<HH", data, opt + 40)
    sub_major, sub_minor = struct.unpack_from("<HH", data, opt + 48)
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    print(f"header: machine 0x{machine:x}, magic 0x{magic:x}, subsystem {subsystem} "
          f"{sub_major}.{sub_minor}, operating system {os_major}.{os_minor}")
    failures = []
    if machine != 0x14C or magic != 0x10B:
        failures.append(f"machine 0x{machine:x} / magic 0x{magic:x}: not a 32-bit i386 program")
    if subsystem != 2:
        failures.append(f"subsystem {subsystem}: not the Windows GUI subsystem (2)")
    if (sub_major, sub_minor) != (4, 0):
        failures.append(f"subsystem version {sub_major}.{sub_minor}: Windows 95 and NT 4.0 need 4.0")
    if (os_major, os_minor) != (4, 0):
        failures.append(f"operating system version {os_major}.{os_minor}: should be 4.0")
    return failures


def check_imports(text, table, provisional):
    """Failures of the import table as objdump -p shows it; warns of imports
    that rest on provisional sources only."""
    failures, imports, dll, listing = [], [], None, False
    section = text[text.find("The Import Tables"):] if "The Import Tables" in text else ""
    for line in section.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll, listing = m.group(1).upper(), False
            continue
        if dll and re.match(r"\s*vma:\s+Hint/Ord", line):
            listing = True      # the DLL's functions follow, up to a blank line
            continue
        if not listing:
            continue
        if not line.strip():
            listing = False
            continue
        m = re.match(r"\s+[0-9a-f]+\s+(\d+)\s+(\S+)", line)
        if m and m.group(2) != "<none>":
            imports.append((dll, m.group(2)))
        else:
            failures.append(f"{dll}: {line.strip()}: imported by ordinal (ordinals differ "
                            "between systems)")
    dlls = sorted({d for d, _ in imports})
    print(f"imports: {len(imports)} functions from {', '.join(dlls)}")
    for d in dlls:
        if d not in ALLOWED_DLLS:
            failures.append(f"{d}: DLL not allowed (only {', '.join(sorted(ALLOWED_DLLS))})")
    weak = []
    for d, name in imports:
        if d in ALLOWED_DLLS and (d, name) not in table:
            failures.append(f"{d} {name}: not in win95-nt4-exports.txt (not shown to exist "
                            "on both Windows 95 and NT 4.0; look it up with GetProcAddress)")
        elif (d, name) in table and set(table[(d, name)]) <= provisional:
            weak.append(name)
    if weak:
        print(f"warning: {len(weak)} imports rest on provisional sources only: {' '.join(weak)}")
    return failures


def read_map(path):
    """Sorted (address, name) of the code symbols in a GNU ld map."""
    symbols = []
    current_object = ""
    in_code = False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.match(r"^(\.\S+)\s", line)
            if m:
                in_code = m.group(1) == ".text"
            if not in_code:
                continue
            m = re.match(r"^ \.text\S*\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)", line)
            if m:
                current_object = os.path.basename(m.group(3))
                symbols.append((int(m.group(1), 16), f"({current_object})"))
                continue
            # A symbol: its address, then its (demangled) name; not an assignment.
            m = re.match(r"^\s+0x([0-9a-f]+)\s+([^\s=(*][^=]*?)\s*$", line)
            if m and not m.group(2).startswith("PROVIDE"):
                symbols.append((int(m.group(1), 16), f"{m.group(2)} ({current_object})"))
    symbols.sort()
    return symbols


def function_at(symbols, address):
    if not symbols:
        return "?"
    i = bisect.bisect_right(symbols, (address, "\uffff")) - 1
    return symbols[i][1] if i >= 0 else "?"


def check_code(text, rows, symbols):
    """Failures of the disassembly: one per offending instruction."""
    failures, sections, count, undecoded = [], [], 0, 0
    for line in text.splitlines():
        m = re.match(r"Disassembly of section (\S+):", line)
        if m:
            sections.append(m.group(1))
            continue
        m = re.match(r"\s*([0-9a-f]+):\t(.*)$", line)
        if not m:
            continue
        address, insn = int(m.group(1), 16), m.group(2).strip()
        count += 1
        if insn.startswith("(bad)"):
            undecoded += 1      # data between functions, not code
            continue
        words = insn.split()
        prefixes = []
        while words and words[0] in PREFIXES:
            prefixes.append(words.pop(0))
        if not words:
            continue
        mnemonic, operands = words[0].lower(), " ".join(words[1:])
        reasons = []
        for kind, pattern, when, note in rows:
            if kind == "insn":
                if not fnmatch.fnmatchcase(mnemonic, pattern):
                    continue
                if when == "rep" and not REP_PREFIXES.intersection(prefixes):
                    continue
                if when == "operands" and not operands:
                    continue
                reasons.append(f"{pattern}: {note}")
            else:
                for reg in re.findall(r"%[a-z0-9]+", operands.lower()):
                    if fnmatch.fnmatchcase(reg, pattern):
                        reasons.append(f"{reg}: {note}")
                        break
        if reasons:
            failures.append(f"0x{address:x}  {insn}  in {function_at(symbols, address)}  "
                            f"[{'; '.join(reasons)}]")
    print(f"code: {count} instructions in {', '.join(sections) or 'no section'}"
          f" ({undecoded} undecodable bytes of data)")
    if count == 0:
        failures.append("no code found to check")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--map", help="the linker's map of the program")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--forbidden", default=os.path.join(HERE, "i486-forbidden.txt"))
    parser.add_argument("--exports", default=os.path.join(HERE, "win95-nt4-exports.txt"))
    args = parser.parse_args()

    rows = read_forbidden(args.forbidden)
    table, provisional = read_exports(args.exports)
    symbols = read_map(args.map) if args.map else []
    print(f"checking {args.program}" + (f" (map {args.map})" if args.map else " (no map)"))

    header = check_header(args.program)
    imports = check_imports(objdump(args.objdump, ["-p"], args.program), table, provisional)
    code = check_code(objdump(args.objdump, ["-d", "--no-show-raw-insn"], args.program), rows,
                      symbols)
    for title, failures in (("header", header), ("imports", imports),
                            ("instructions newer than the i486", code)):
        if failures:
            print(f"FAIL {title}: {len(failures)}")
            for failure in failures:
                print(f"  {failure}")
        else:
            print(f"ok   {title}")
    total = len(header) + len(imports) + len(code)
    print(f"{'FAILED' if total else 'PASSED'}: {len(header)} header, {len(imports)} import, "
          f"{len(code)} instruction failures")
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main())
