#!/usr/bin/env python3
"""Checks that THIRD-PARTY-NOTICES names exactly the libraries a program holds.

    check_notices.py NOTICES PROGRAM MAP [ELF]

PROGRAM is the name that starts the program's block in NOTICES (setup.exe, datapack.exe,
datapack). MAP is the program's GNU ld link map: every archive that an object was taken from
and every start file loaded from outside the build (an absolute path) must be on the block's
"links in:" line, and nothing else. ELF, for the Linux program, is the program itself: its
DT_NEEDED entries (objdump -p) must be the block's "loads:" line.

Exit status 0 when they agree, 1 (saying what differs) when not, 2 on bad input.
"""
import os
import re
import subprocess
import sys


def notice_lines(path, program):
    """{field: set of names} of PROGRAM's block: "links in:" and "loads:", with the lines
    that continue them (indented further, names only)."""
    fields, field, inside = {}, None, False
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if not inside:
            inside = line.startswith(program + "  (")
            continue
        if not line.strip():
            break
        m = re.match(r"  (links in|loads): (.*)$", line)
        if m:
            field = m.group(1)
            fields[field] = set(m.group(2).split())
        elif field and re.match(r"\s{4,}[\w.+-]+(\s+[\w.+-]+)*$", line):
            fields[field] |= set(line.split())
        else:
            field = None
    if not inside:
        sys.exit(f"check_notices: {path} has no block for {program}")
    return fields


def linked_in(map_path):
    """Basenames of the outside archives and start files the link took code from."""
    names = set()
    text = open(map_path, encoding="utf-8", errors="replace").read()
    members = text.split("Archive member included", 1)
    if len(members) == 2:
        section = re.split(r"\n(?:Discarded input sections|Allocating common|Memory Configuration)",
                           members[1], maxsplit=1)[0]
        for archive in re.findall(r"^(/\S+\.a)\(", section, re.M):
            names.add(os.path.basename(archive))
    for obj in re.findall(r"^LOAD (/\S+\.o)$", text, re.M):
        names.add(os.path.basename(obj))
    return names


def needed(elf):
    out = subprocess.run(["objdump", "-p", elf], check=True, capture_output=True, text=True)
    return set(re.findall(r"^\s+NEEDED\s+(\S+)$", out.stdout, re.M))


def compare(what, shown, named, program, source):
    ok = True
    for name in sorted(shown - named):
        print(f"check_notices: {program} {what} {name} ({source}), which THIRD-PARTY-NOTICES "
              f"does not name: add its notice and the name")
        ok = False
    for name in sorted(named - shown):
        print(f"check_notices: THIRD-PARTY-NOTICES says {program} {what} {name}, which "
              f"{source} no longer shows: remove it, and its notice if nothing else needs it")
        ok = False
    return ok


def main(argv):
    if len(argv) not in (4, 5):
        print(__doc__, file=sys.stderr)
        return 2
    notices, program, map_path = argv[1:4]
    fields = notice_lines(notices, program)
    ok = compare("links in", linked_in(map_path), fields.get("links in", set()), program,
                 "its link map")
    if len(argv) == 5:
        ok &= compare("loads", needed(argv[4]), fields.get("loads", set()), program,
                      "objdump -p")
    if ok:
        print(f"check_notices: {program}: the notices name what it holds")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
