#!/usr/bin/env python3
"""Binary check of setup.exe: what the release build must be, read from the PE file itself.

Fails (exit 1, one line per finding) when:
  - the machine is not the expected one (i386 for the release build);
  - the subsystem is not the Windows GUI, or its version is above --max-subsystem-version;
  - a DLL is imported (directly or delay-loaded) other than KERNEL32, USER32, GDI32 and
    SHELL32 (case-insensitive): no C runtime (msvcrt.dll), which the first Windows 95, NT 3.51
    and Win32s lack, so that the loader would refuse the program before it could say anything;
  - a function is imported that is not in ALLOWED_IMPORTS, or by ordinal (it cannot be told
    what it is);
  - a function is imported in its wide-character form: an API name ending in "W" (its ANSI
    twin ends in "A"; names that merely end in "Window", like ShowWindow, and the few in
    ALLOWED_W are not wide);
  - a manifest resource (type 24) is present;
  - the image is not hardened: DllCharacteristics lacks DYNAMIC_BASE (ASLR) or NX_COMPAT
    (DEP), or, for a 64-bit (PE32+) image, HIGH_ENTROPY_VA; or it cannot actually be moved,
    because its relocations were stripped (the RELOCS_STRIPPED flag, or no base relocation
    directory);
  - the constructor list (__CTOR_LIST__, which the linker places at the end of the code)
    holds an entry, or the TLS directory is set: setup.exe has no C runtime start-up code,
    so a global object's constructor would never run and neither would a TLS callback (the
    list is found by its shape, -1, entries, 0, followed by the destructor list's, since the
    released image carries no symbols);
  - the stripped file is larger than --max-size bytes (65536 = 64 KiB by default). A file that
    still carries symbols is measured after stripping a copy with --strip.

Exit status: 0 when the binary passes, 1 when it fails a rule, 2 when it cannot be read as a
PE image or the arguments are wrong.

Usage: check_binary.py [--machine i386|amd64] [--max-subsystem-version 4.0]
                       [--max-size BYTES] [--strip STRIP_PROGRAM] FILE.exe
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

# Every function setup.exe may import, by DLL (lower-case name). First the system interfaces
# the program is written against; after them, each one it needs beyond those, with the reason.
# A new import must be added here deliberately, after checking that Windows 95 and NT 4 have it.
ALLOWED_IMPORTS = {
    'kernel32.dll': {
        'CreateFileA', 'ReadFile', 'WriteFile', 'SetFilePointer', 'SetFileTime',
        'SetFileAttributesA', 'DeleteFileA', 'CloseHandle', 'GetTempPathA',
        'GetWindowsDirectoryA', 'GetCurrentDirectoryA', 'SetCurrentDirectoryA',
        'CreateDirectoryA', 'FindFirstFileA', 'FindClose', 'GetDiskFreeSpaceA', 'CreateProcessA',
        'GetTickCount', 'GetVersionExA', 'GlobalAlloc', 'GlobalFree',
        'MulDiv', 'lstrcpyA', 'lstrcpynA', 'lstrcatA', 'lstrlenA', 'lstrcmpA',
        # The program's own entry point has no runtime to return to (window/main.cpp).
        'ExitProcess',
        # The instance handle for WinMain, and KERNEL32's own handle for the look-up below.
        'GetModuleHandleA',
        # The DLL search is narrowed through functions that only newer systems have, looked
        # up at run time so that older ones still start the program (window/main.cpp).
        'GetProcAddress',
        # A read-only or hidden file left by an earlier run must be made writable before it
        # is replaced (run/extract.cpp).
        'GetFileAttributesA',
        # The watch tells the setup program's end from its process handle being signalled,
        # not from its exit code, which may be 259 (STILL_ACTIVE) (run/watch.cpp). It takes
        # the place of GetExitCodeProcess. Windows 95 and NT 3.1 have it.
        'WaitForSingleObject',
        # A branded setup.exe may carry the package pin as a resource of its own, read before
        # the package is unpacked (run/start.cpp). Windows 95 and NT 3.1 have all four.
        'FindResourceA', 'LoadResource', 'LockResource', 'SizeofResource',
        # The x86_64 test build only: its test seam replaces the unpacked setup program when
        # told to through the environment (run/seam_test.cpp; the release's seam is empty).
        'GetEnvironmentVariableA', 'CopyFileA',
    },
    'user32.dll': {
        'CreateDialogParamA', 'GetMessageA', 'IsDialogMessageA', 'TranslateMessage',
        'DispatchMessageA', 'PeekMessageA', 'SendMessageA', 'PostQuitMessage', 'EndDialog',
        'DestroyWindow', 'SetWindowLongA', 'GetWindowLongA', 'CallWindowProcA',
        'DefWindowProcA', 'SetClassLongA', 'GetWindowRect', 'GetClientRect', 'ScreenToClient',
        'MoveWindow', 'SetWindowPos', 'GetSystemMetrics', 'BeginPaint', 'EndPaint',
        'InvalidateRect', 'RedrawWindow', 'GetDC', 'ReleaseDC', 'GetSysColor', 'SetTimer',
        'KillTimer', 'ShowWindow', 'SetWindowTextA', 'GetWindowTextA', 'GetDlgItem',
        'GetParent', 'LoadCursorA', 'SetCursor', 'LoadStringA', 'MessageBoxA',
        # The x86_64 test build only: its headers map the Long calls above onto these
        # pointer-sized forms, which 32-bit Windows does not have.
        'SetWindowLongPtrA', 'GetWindowLongPtrA', 'SetClassLongPtrA',
    },
    'gdi32.dll': {
        'CreateFontA', 'GetDeviceCaps', 'SelectObject', 'DeleteObject', 'GetTextExtentPoint32A',
        'SetTextColor', 'SetBkColor', 'ExtTextOutA', 'CreateCompatibleDC',
        'CreateCompatibleBitmap', 'BitBlt', 'DeleteDC',
    },
    'shell32.dll': {'ShellExecuteA'},
}

# Names that end in "W" without being the wide form of anything. Everything ending in
# "Window" (ShowWindow, DestroyWindow, MoveWindow, ...) is recognised by rule.
ALLOWED_W = set()

MACHINES = {'i386': 0x014C, 'amd64': 0x8664}
SUBSYSTEM_WINDOWS_GUI = 2
RT_MANIFEST = 24

# DllCharacteristics bits the loader honours from Vista on (older systems ignore them).
DLL_HIGH_ENTROPY_VA = 0x0020
DLL_DYNAMIC_BASE = 0x0040
DLL_NX_COMPAT = 0x0100
FILE_RELOCS_STRIPPED = 0x0001
DIRECTORY_BASERELOC = 5
DIRECTORY_TLS = 9
SECTION_EXECUTE = 0x20000000


class PeError(Exception):
    pass


def is_wide_import(dll, name):
    """Whether an imported function is the wide-character form of a string-taking one."""
    if not name.endswith('W'):
        return False
    if name.endswith('Window') or name in ALLOWED_W:
        return False
    return True


class PeFile:
    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b'MZ':
            raise PeError('no MZ header')
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise PeError('no PE signature')
        (self.machine, sections, _, self.symbol_table, self.symbols, opt_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', data, opt)[0]
        if self.magic not in (0x10B, 0x20B):
            raise PeError('unknown optional header magic %#x' % self.magic)
        self.pe32plus = self.magic == 0x20B
        self.image_base = struct.unpack_from('<Q' if self.pe32plus else '<I', data,
                                             opt + (24 if self.pe32plus else 28))[0]
        self.image_size = struct.unpack_from('<I', data, opt + 56)[0]
        (self.subsystem_major, self.subsystem_minor) = struct.unpack_from('<HH', data, opt + 48)
        self.subsystem, self.dll_characteristics = struct.unpack_from('<HH', data, opt + 68)
        dir_count_at = opt + (108 if self.pe32plus else 92)
        count = struct.unpack_from('<I', data, dir_count_at)[0]
        self.directories = [struct.unpack_from('<II', data, dir_count_at + 4 + 8 * i)
                            for i in range(min(count, 16))]
        self.sections = []
        self.code_sections = []  # (file offset, size) of each executable section
        at = opt + opt_size
        for i in range(sections):
            vsize, vaddr, raw_size, raw_ptr = struct.unpack_from('<IIII', data, at + 40 * i + 8)
            flags = struct.unpack_from('<I', data, at + 40 * i + 36)[0]
            self.sections.append((vaddr, max(vsize, raw_size), raw_ptr, raw_size))
            if flags & SECTION_EXECUTE:
                self.code_sections.append((raw_ptr, raw_size))

    def offset(self, rva):
        for vaddr, size, raw_ptr, raw_size in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= raw_size:
                    raise PeError('RVA %#x lies outside the file' % rva)
                return raw_ptr + rva - vaddr
        raise PeError('RVA %#x in no section' % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        end = self.data.index(b'\0', at)
        return self.data[at:end].decode('latin-1')

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def _thunks(self, rva):
        size, fmt, flag = (8, '<Q', 1 << 63) if self.pe32plus else (4, '<I', 1 << 31)
        names = []
        while rva:
            value = struct.unpack_from(fmt, self.data, self.offset(rva))[0]
            if value == 0:
                break
            names.append(None if value & flag else self.cstring((value & 0x7FFFFFFF) + 2))
            rva += size
        return names

    def imports(self):
        """[(dll, [function name or None for an ordinal])], direct and delay-loaded."""
        result = []
        rva, size = self.directory(1)
        while rva and size:
            original, _, _, name, first = struct.unpack_from('<IIIII', self.data, self.offset(rva))
            if name == 0:
                break
            result.append((self.cstring(name), self._thunks(original or first)))
            rva += 20
        rva, size = self.directory(13)
        while rva and size:
            fields = struct.unpack_from('<IIIIIIII', self.data, self.offset(rva))
            if fields[1] == 0:
                break
            result.append((self.cstring(fields[1]), self._thunks(fields[4])))
            rva += 32
        return result

    def constructor_list(self):
        """The entries of the constructor list, or None when no list is found.

        The linker lays out __CTOR_LIST__ as -1, the constructors' addresses, 0, and right
        after it __DTOR_LIST__ the same way, all pointer-sized and aligned, at the end of the
        code. The last such pair in the code sections is taken."""
        size, fmt = (8, '<Q') if self.pe32plus else (4, '<I')
        minus_one = (1 << (8 * size)) - 1
        low, high = self.image_base, self.image_base + self.image_size

        def read_list(at, end):
            # [entries], offset after the closing 0; or None when `at` starts no list.
            if at + size > end or struct.unpack_from(fmt, self.data, at)[0] != minus_one:
                return None
            entries = []
            at += size
            while at + size <= end:
                value = struct.unpack_from(fmt, self.data, at)[0]
                at += size
                if value == 0:
                    return entries, at
                if not low <= value < high:
                    return None
                entries.append(value)
            return None

        found = None
        for raw_ptr, raw_size in self.code_sections:
            end = min(raw_ptr + raw_size, len(self.data))
            for at in range(raw_ptr, end - 2 * size + 1, size):
                ctors = read_list(at, end)
                if ctors and read_list(ctors[1], end):
                    found = ctors[0]
        return found

    def resource_types(self):
        """Resource type ids at the root of the resource tree (named types as strings)."""
        rva, size = self.directory(2)
        if not rva or not size:
            return []
        root = self.offset(rva)
        named, ids = struct.unpack_from('<HH', self.data, root + 12)
        types = []
        for i in range(named + ids):
            name, _ = struct.unpack_from('<II', self.data, root + 16 + 8 * i)
            types.append(('named' if name & 0x80000000 else name & 0xFFFF))
        return types


def hardening_findings(pe):
    """What keeps the image from being placed at random and kept out of executable data."""
    findings = []
    wanted = [(DLL_DYNAMIC_BASE, 'DYNAMIC_BASE'), (DLL_NX_COMPAT, 'NX_COMPAT')]
    if pe.pe32plus:
        wanted.append((DLL_HIGH_ENTROPY_VA, 'HIGH_ENTROPY_VA'))
    for bit, name in wanted:
        if not pe.dll_characteristics & bit:
            findings.append('hardening: %s is not set (DllCharacteristics %#06x)'
                            % (name, pe.dll_characteristics))
    # DYNAMIC_BASE on an image without relocations is a promise the loader cannot keep: it
    # loads the image at its preferred base every time.
    rva, size = pe.directory(DIRECTORY_BASERELOC)
    if pe.characteristics & FILE_RELOCS_STRIPPED or not rva or not size:
        findings.append('hardening: no base relocations, so the image cannot be moved')
    return findings


def stripped_size(path, pe, strip):
    if pe.symbol_table == 0 and pe.symbols == 0:
        return os.path.getsize(path), None
    if not strip:
        return None, 'the file carries symbols and no --strip program was given'
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, os.path.basename(path))
        shutil.copyfile(path, copy)
        subprocess.run([strip, copy], check=True)
        return os.path.getsize(copy), None


def check(path, machine, max_version, max_size, strip):
    """Returns the list of findings; empty when the binary passes."""
    with open(path, 'rb') as f:
        data = f.read()
    pe = PeFile(data)
    findings = []
    if pe.machine != MACHINES[machine]:
        findings.append('machine: %#06x, expected %s (%#06x)' % (pe.machine, machine,
                                                                  MACHINES[machine]))
    if pe.subsystem != SUBSYSTEM_WINDOWS_GUI:
        findings.append('subsystem: %d, expected the Windows GUI (2)' % pe.subsystem)
    if max_version is not None:
        version = (pe.subsystem_major, pe.subsystem_minor)
        if version > max_version:
            findings.append('subsystem version: %d.%d, above %d.%d' % (version + max_version))
    for dll, names in pe.imports():
        allowed = ALLOWED_IMPORTS.get(dll.lower())
        if allowed is None:
            findings.append('DLL: %s is not one of the system DLLs allowed (imports %s)'
                            % (dll, ', '.join(n or '(ordinal)' for n in names)))
        for name in names:
            if name is None:
                findings.append('import by ordinal from %s: cannot be checked' % dll)
            elif is_wide_import(dll, name):
                findings.append('wide import: %s!%s (use the ANSI form)' % (dll, name))
            elif allowed is not None and name not in allowed:
                findings.append('function: %s!%s is not on the list of allowed imports'
                                % (dll, name))
    if RT_MANIFEST in pe.resource_types():
        findings.append('manifest: a resource of type 24 is present')
    findings += hardening_findings(pe)
    # Without the C runtime's start-up code nothing walks these: the program would start with
    # unconstructed globals or skip a TLS callback, with no sign of it.
    ctors = pe.constructor_list()
    if ctors is None:
        findings.append('constructors: no constructor list found, so it cannot be checked')
    elif ctors:
        findings.append('constructors: __CTOR_LIST__ holds %d entr%s (%s); nothing runs them '
                        'without the C runtime' % (len(ctors), 'y' if len(ctors) == 1 else 'ies',
                                                   ', '.join('%#x' % v for v in ctors)))
    tls_rva, tls_size = pe.directory(DIRECTORY_TLS)
    if tls_rva or tls_size:
        findings.append('TLS: the TLS directory is set (%#x, %d bytes); nothing runs its '
                        'callbacks without the C runtime' % (tls_rva, tls_size))
    size, problem = stripped_size(path, pe, strip)
    if problem:
        findings.append('size: ' + problem)
    elif size > max_size:
        findings.append('size: %d bytes stripped, above %d' % (size, max_size))
    return findings, size


def parse_version(text):
    if text in (None, '', 'none'):
        return None
    major, _, minor = text.partition('.')
    return (int(major), int(minor or 0))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--machine', choices=sorted(MACHINES), default='i386')
    parser.add_argument('--max-subsystem-version', default='4.0',
                        help='highest allowed subsystem version, or "none"')
    parser.add_argument('--max-size', type=int, default=64 * 1024)
    parser.add_argument('--strip', help='strip program for a binary that still has symbols')
    parser.add_argument('binary')
    args = parser.parse_args(argv)
    try:
        findings, size = check(args.binary, args.machine,
                               parse_version(args.max_subsystem_version), args.max_size,
                               args.strip)
    except (OSError, PeError, struct.error, ValueError) as e:
        print('%s: cannot check: %s' % (args.binary, e))
        return 2
    for finding in findings:
        print('%s: %s' % (args.binary, finding))
    if findings:
        return 1
    print('%s: ok (%s bytes stripped)' % (args.binary, size))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
