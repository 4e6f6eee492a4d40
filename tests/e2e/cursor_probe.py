#!/usr/bin/env python3
"""Runs an e2e test program under scripts/wine-run and shows it the pointer's image.

Under Wine a cursor's bits stay in the process that loaded it: another process can learn the
current cursor's handle (GetCursorInfo) but not what it looks like. The X server, though,
shows the image every Wine process hands it, and its XFIXES extension gives it back. So this
script runs the test program in the build's Wine session and, whenever the program creates
cursor.request in E2E_CURSOR_PROBE_DIR (a fresh folder it sets up), writes cursor.txt there
and removes the request:

    WIDTH HEIGHT XHOT YHOT
    one line of WIDTH characters per row: 'X' opaque black, '.' opaque white,
    ' ' transparent, '?' anything else

Usage: cursor_probe.py BUILD_DIR PROGRAM.exe [ARGS...]
Needs the session of scripts/wine-session (the ctest fixture wine_session) for its display,
and libX11 and libXfixes (which Wine's X11 driver uses as well). Exit status: the program's,
or 2 when the display cannot be read.
"""
import ctypes
import ctypes.util
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, '..', '..', 'scripts', 'wine-run')


class XFixesCursorImage(ctypes.Structure):
    _fields_ = [('x', ctypes.c_short), ('y', ctypes.c_short),
                ('width', ctypes.c_ushort), ('height', ctypes.c_ushort),
                ('xhot', ctypes.c_ushort), ('yhot', ctypes.c_ushort),
                ('cursor_serial', ctypes.c_ulong),
                # One ARGB value per pixel, each in an unsigned long.
                ('pixels', ctypes.POINTER(ctypes.c_ulong)),
                ('atom', ctypes.c_ulong),
                ('name', ctypes.c_char_p)]


def load(name, soname):
    path = ctypes.util.find_library(name) or soname
    return ctypes.CDLL(path)


class Pointer:
    def __init__(self, display_name):
        self.x11 = load('X11', 'libX11.so.6')
        self.xfixes = load('Xfixes', 'libXfixes.so.3')
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XFree.argtypes = [ctypes.c_void_p]
        self.xfixes.XFixesQueryVersion.argtypes = [
            ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
        self.xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(XFixesCursorImage)
        self.xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        self.display = self.x11.XOpenDisplay(display_name.encode())
        if not self.display:
            raise OSError('cannot open display %s' % display_name)
        # The version must be agreed on before any other XFIXES request.
        major, minor = ctypes.c_int(4), ctypes.c_int(0)
        if not self.xfixes.XFixesQueryVersion(self.display, ctypes.byref(major),
                                              ctypes.byref(minor)):
            raise OSError('the display has no XFIXES extension')

    def image_text(self):
        image = self.xfixes.XFixesGetCursorImage(self.display)
        if not image:
            raise OSError('XFixesGetCursorImage failed')
        img = image.contents
        lines = ['%d %d %d %d' % (img.width, img.height, img.xhot, img.yhot)]
        for y in range(img.height):
            row = []
            for x in range(img.width):
                argb = img.pixels[y * img.width + x] & 0xFFFFFFFF
                alpha, rgb = argb >> 24, argb & 0xFFFFFF
                if alpha == 0:
                    row.append(' ')
                elif alpha == 0xFF and rgb == 0:
                    row.append('X')
                elif alpha == 0xFF and rgb == 0xFFFFFF:
                    row.append('.')
                else:
                    row.append('?')
            lines.append(''.join(row))
        self.x11.XFree(image)
        return '\n'.join(lines) + '\n'


def session_display(build_dir):
    try:
        with open(os.path.join(build_dir, 'wine', 'session')) as f:
            for line in f:
                if line.startswith('DISPLAY='):
                    return line.strip().split('=', 1)[1]
    except OSError:
        pass
    return None


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    build_dir, program = sys.argv[1], sys.argv[2:]
    display = session_display(build_dir)
    if not display:
        print('cursor_probe: no Wine session in %s (scripts/wine-session start)' % build_dir,
              file=sys.stderr)
        return 2
    try:
        pointer = Pointer(display)
    except OSError as e:
        print('cursor_probe: %s' % e, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix='cursor-probe.') as probe_dir:
        env = dict(os.environ, WINE_RUN_BUILD_DIR=build_dir, E2E_CURSOR_PROBE_DIR=probe_dir)
        request = os.path.join(probe_dir, 'cursor.request')
        answer = os.path.join(probe_dir, 'cursor.txt')
        proc = subprocess.Popen([WINE_RUN] + program, env=env)
        while proc.poll() is None:
            if os.path.exists(request):
                with open(answer + '.new', 'w') as f:
                    f.write(pointer.image_text())
                os.replace(answer + '.new', answer)
                os.remove(request)
            time.sleep(0.01)
        return proc.returncode


if __name__ == '__main__':
    sys.exit(main())
