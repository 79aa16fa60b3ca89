#!/usr/bin/env python3
"""The rule for GDI objects in app/: they are made only while the window is set up, and one made
anywhere else is deleted again in the function that made it.

A window that stays open all day must not gain a brush or a font per repaint or per connection,
and under Wine, where the tests run, GetGuiResources counts nothing: so the sources are checked.

- Set-up functions (SET_UP) may make objects that live as long as the program.
- They are reached only from the set-up roots (ROOTS): WinMain, and initialiseOnFirstShow, which
  runs once, on the window's first WM_SHOWWINDOW.
- Any other function that makes an object deletes at least as many as it makes.

Usage: check_gdi_objects.py [APP_FOLDER]
"""
import os
import re
import sys

SET_UP = {'registerMainClass', 'initMainWindowControls', 'createStatusFont', 'recolourBitmapBackground',
          'setPicture', 'scaleBitmap', 'loadButtonFace'}
ROOTS = {'WinMain', 'initialiseOnFirstShow'}
ONCE_GUARD = re.compile(r'if \(!mainWindow\(\)\) initialiseOnFirstShow\(')

MAKES = re.compile(
    r'\b(Create(?:Font|SolidBrush|HatchBrush|PatternBrush|BrushIndirect|DIBPatternBrush|Pen|ExtPen'
    r'|Bitmap|CompatibleBitmap|DIBitmap|DIBSection|DiscardableBitmap|CompatibleDC|DC|IC|Rgn|RectRgn'
    r'|EllipticRgn|RoundRectRgn|PolygonRgn|PolyPolygonRgn|Palette|HalftonePalette|Icon|Cursor)\w*'
    r'|ExtCreatePen|ExtCreateRegion|LoadImage\w*|LoadBitmap\w*|CopyImage|CopyIcon)\s*\(')
DELETES = re.compile(r'\b(DeleteObject|DeleteDC|DestroyIcon|DestroyCursor)\s*\(')
# A definition starts at the beginning of a line (the code's style): `... name(...) {`.
DEFINITION = re.compile(r'^[A-Za-z_][\w:<>,*& ]*?\b(\w+)\s*\([^;{}]*\)\s*(?:const\s*)?\{', re.M)
CALL = re.compile(r'\b(\w+)\s*\(')


def plain(code):
    """The code with comments, strings and character literals blanked (lengths kept)."""
    blank = lambda m: re.sub(r'[^\n]', ' ', m.group(0))
    return re.sub(r'//[^\n]*|/\*.*?\*/|L?"(?:\\.|[^"\\\n])*"|L?\'(?:\\.|[^\'\\\n])*\'', blank, code, flags=re.S)


def functions(code):
    """(name, body) of every function defined in `code`."""
    found = []
    for m in DEFINITION.finditer(code):
        depth, i = 0, m.end() - 1
        while True:
            depth += {'{': 1, '}': -1}.get(code[i], 0)
            if depth == 0:
                break
            i += 1
        found.append((m.group(1), code[m.end():i]))
    return found


def check(sources):
    """The violations in {file name: code}, and the number of object-making calls seen."""
    problems, made = [], 0
    bodies = []
    for name, code in sorted(sources.items()):
        code = plain(code)
        fns = functions(code)
        bodies += [(name, fn, body) for fn, body in fns]
        inside = sum(len(MAKES.findall(body)) for _, body in fns)
        if inside != len(MAKES.findall(code)):
            problems.append(f'{name}: an object is made outside any function this check can see')
    for file, fn, body in bodies:
        makes = [m.group(1) for m in MAKES.finditer(body)]
        made += len(makes)
        if makes and fn not in SET_UP and len(DELETES.findall(body)) < len(makes):
            problems.append(f'{file}: {fn}() makes {", ".join(makes)} after the set-up and does not delete it')
        for call in CALL.findall(body):
            if call in SET_UP and fn not in SET_UP | ROOTS:
                problems.append(f'{file}: {fn}() calls the set-up function {call}()')
    calls_of_root = [body for _, _, body in bodies if 'initialiseOnFirstShow(' in body]
    if len(calls_of_root) != 1 or not ONCE_GUARD.search(calls_of_root[0]):
        problems.append('initialiseOnFirstShow() is not called from one place under if (!mainWindow())')
    return problems, made


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..', 'app')
    sources = {f: open(os.path.join(folder, f), encoding='utf-8').read()
               for f in os.listdir(folder) if f.endswith('.cpp')}
    problems, made = check(sources)
    # The check itself must catch a brush made on every repaint.
    bad = {'paint.cpp': 'void onPaint(HDC dc) {\n    FillRect(dc, &r, CreateSolidBrush(0));\n}\n'
                        'void f() {\n    if (!mainWindow()) initialiseOnFirstShow(w);\n}\n'}
    if not check(bad)[0]:
        problems.append('the check misses a brush made on every repaint')
    if made == 0:
        problems.append('no object-making call found in app/: the check has lost its way')
    for p in problems:
        print('FAIL', p)
    print(f'GDI objects: {made} calls that make one in app/, all in the set-up or deleted where made'
          if not problems else f'GDI objects: {len(problems)} problems')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
