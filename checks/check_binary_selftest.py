#!/usr/bin/env python3
"""Proves that check_binary.py can fail: runs it on setup.exe (must pass), on copies of
setup.exe with exactly one property broken (each must fail, naming that property), and on a
real console program, linked with the C runtime, that imports wide functions and whose
runtime registers a constructor and a TLS directory (must fail).

Usage: check_binary_selftest.py --good setup.exe --bad bad_imports.exe [check options]
The check options (--machine, --max-subsystem-version, --max-size, --strip) are passed on to
every run of the check. Exit status 0 when every expectation holds, 1 otherwise.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import check_binary  # noqa: E402

CHECK = os.path.join(HERE, 'check_binary.py')


def run_check(path, options):
    result = subprocess.run([sys.executable, CHECK] + options + [path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return result.returncode, result.stdout


def pe_header(data):
    return struct.unpack_from('<I', data, 0x3C)[0]


def set_machine(data):
    # ARM (0x01C4): wrong for every build this project makes.
    struct.pack_into('<H', data, pe_header(data) + 4, 0x01C4)


def set_console_subsystem(data):
    struct.pack_into('<H', data, pe_header(data) + 24 + 68, 3)


def raise_subsystem_version(data):
    struct.pack_into('<HH', data, pe_header(data) + 24 + 48, 5, 0)


DLL_CHARACTERISTICS_AT = 24 + 70  # from the PE signature: optional header + 70


def clear_dll_characteristic(bit):
    def mutate(data):
        at = pe_header(data) + DLL_CHARACTERISTICS_AT
        value = struct.unpack_from('<H', data, at)[0]
        if not value & bit:
            raise AssertionError('DllCharacteristics %#x lacks %#x already' % (value, bit))
        struct.pack_into('<H', data, at, value & ~bit)
    return mutate


def strip_relocations(data):
    # The RELOCS_STRIPPED flag, as a linker that dropped them would set it.
    at = pe_header(data) + 22
    struct.pack_into('<H', data, at, struct.unpack_from('<H', data, at)[0] | 0x0001)


def empty_reloc_directory(data):
    pe = check_binary.PeFile(bytes(data))
    dir_count_at = pe_header(data) + 24 + (108 if pe.pe32plus else 92)
    struct.pack_into('<II', data, dir_count_at + 4 + 8 * 5, 0, 0)


def add_constructor(data):
    # A global object's constructor as the compiler registers it: its address joins the list.
    # The list -1, 0 and the destructor list's -1, 0 become -1, entry, 0, -1, 0, the last word
    # taken from the zero padding after them.
    pe = check_binary.PeFile(bytes(data))
    size, fmt = (8, '<5Q') if pe.pe32plus else (4, '<5I')
    minus_one = (1 << (8 * size)) - 1
    empty = struct.pack(fmt, minus_one, 0, minus_one, 0, 0)
    at = data.rfind(empty)
    if at < 0:
        raise AssertionError('no empty constructor list followed by padding')
    entry = pe.image_base + struct.unpack_from('<I', data, pe_header(data) + 24 + 16)[0]
    struct.pack_into(fmt, data, at, minus_one, entry, 0, minus_one, 0)


def set_tls_directory(data):
    # What a thread_local or a TLS callback makes the linker write: any address will do.
    pe = check_binary.PeFile(bytes(data))
    dir_count_at = pe_header(data) + 24 + (108 if pe.pe32plus else 92)
    struct.pack_into('<II', data, dir_count_at + 4 + 8 * 9, pe.sections[0][0], 24)


def replace_once(data, old, new):
    assert len(old) == len(new)
    at = data.find(old)
    if at < 0:
        raise AssertionError('%r not found in the binary' % old)
    data[at:at + len(old)] = new


def import_wide_function(data):
    # The hint/name entry of an ANSI import becomes its wide twin.
    replace_once(data, b'MessageBoxA\0', b'MessageBoxW\0')


def import_foreign_dll(data):
    replace_once(data, b'USER32.dll\0', b'UXTHEM.dll\0')


def import_c_runtime(data):
    # SHELL32's one function becomes msvcrt's: the C runtime some systems do not have.
    replace_once(data, b'SHELL32.dll\0', b'msvcrt.dll\0\0')
    replace_once(data, b'ShellExecuteA\0', b'strlen\0\0\0\0\0\0\0\0')


def import_unlisted_function(data):
    # A KERNEL32 function that is on no list: loading DLLs by name is what the program avoids.
    replace_once(data, b'GetTickCount\0', b'LoadLibraryA\0')


def add_manifest(data):
    # The version resource's type id (16) at the root of the resource tree becomes 24.
    pe = check_binary.PeFile(bytes(data))
    rva, _ = pe.directory(2)
    root = pe.offset(rva)
    named, ids = struct.unpack_from('<HH', data, root + 12)
    for i in range(named, named + ids):
        entry = root + 16 + 8 * i
        if struct.unpack_from('<I', data, entry)[0] == 16:
            struct.pack_into('<I', data, entry, 24)
            return
    raise AssertionError('no version resource to turn into a manifest')


def grow_past_budget(data, max_size):
    data.extend(b'\0' * (max_size + 1 - len(data) if len(data) <= max_size else 1))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--good', required=True)
    parser.add_argument('--bad', required=True)
    parser.add_argument('--machine', default='i386')
    parser.add_argument('--max-subsystem-version', default='4.0')
    parser.add_argument('--max-size', type=int, default=64 * 1024)
    parser.add_argument('--strip')
    args = parser.parse_args(argv)
    options = ['--machine', args.machine, '--max-subsystem-version', args.max_subsystem_version,
               '--max-size', str(args.max_size)]
    if args.strip:
        options += ['--strip', args.strip]

    failures = []

    def expect(name, path, want_rc, want_text):
        rc, out = run_check(path, options)
        ok = rc == want_rc and all(t in out for t in want_text)
        print('%s %s: exit %d' % ('ok  ' if ok else 'FAIL', name, rc))
        if not ok:
            print('     expected exit %d mentioning %s; output:\n%s' % (want_rc, want_text, out))
            failures.append(name)

    expect('setup.exe passes', args.good, 0, ['ok'])

    with open(args.good, 'rb') as f:
        good = f.read()
    mutations = [
        ('wrong machine', set_machine, ['machine:']),
        ('console subsystem', set_console_subsystem, ['subsystem:']),
        ('wide import', import_wide_function, ['wide import:', 'MessageBoxW']),
        ('foreign DLL', import_foreign_dll, ['DLL:', 'UXTHEM.dll']),
        ('C runtime DLL', import_c_runtime, ['DLL:', 'msvcrt.dll', 'strlen']),
        ('unlisted function', import_unlisted_function,
         ['function:', 'KERNEL32.dll!LoadLibraryA']),
        ('manifest resource', add_manifest, ['manifest:']),
        ('over the size budget', lambda d: grow_past_budget(d, args.max_size), ['size:']),
        ('no ASLR', clear_dll_characteristic(0x0040), ['hardening:', 'DYNAMIC_BASE']),
        ('no DEP', clear_dll_characteristic(0x0100), ['hardening:', 'NX_COMPAT']),
        ('relocations stripped', strip_relocations, ['hardening:', 'relocations']),
        ('no relocation directory', empty_reloc_directory, ['hardening:', 'relocations']),
        ('global constructor', add_constructor, ['constructors:', '1 entry']),
        ('TLS directory', set_tls_directory, ['TLS:']),
    ]
    if check_binary.PeFile(good).pe32plus:
        mutations.append(('no high-entropy ASLR', clear_dll_characteristic(0x0020),
                          ['hardening:', 'HIGH_ENTROPY_VA']))
    if args.max_subsystem_version not in ('', 'none'):
        mutations.append(('subsystem version 5.0', raise_subsystem_version,
                          ['subsystem version:']))
    with tempfile.TemporaryDirectory() as tmp:
        for name, mutate, text in mutations:
            data = bytearray(good)
            mutate(data)
            path = os.path.join(tmp, name.replace(' ', '_') + '.exe')
            with open(path, 'wb') as f:
                f.write(data)
            expect(name, path, 1, text)

        garbage = os.path.join(tmp, 'not_a_pe.exe')
        with open(garbage, 'wb') as f:
            f.write(b'MZ' + b'\0' * 100)
        expect('not a PE image', garbage, 2, ['cannot check'])

    expect('wide-importing console program', args.bad, 1,
           ['subsystem:', 'wide import:', 'CreateFileW', 'GetModuleHandleW', 'MessageBoxW',
            'DLL: msvcrt.dll', 'constructors:', 'TLS:'])

    # The rule that tells wide imports from names that merely end in "W".
    names = {
        ('USER32.dll', 'ShowWindow'): False, ('USER32.dll', 'DestroyWindow'): False,
        ('USER32.dll', 'FindWindowW'): True, ('KERNEL32.dll', 'GetModuleHandleExW'): True,
        ('KERNEL32.dll', 'CreateFileA'): False, ('SHELL32.dll', 'CommandLineToArgvW'): True,
    }
    for (dll, name), wide in sorted(names.items()):
        if check_binary.is_wide_import(dll, name) != wide:
            print('FAIL %s!%s should be taken as %s' % (dll, name, 'wide' if wide else 'ANSI'))
            failures.append(name)

    print('%d passed, %d failed' % (len(mutations) + 4 + len(names) - len(failures),
                                    len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
