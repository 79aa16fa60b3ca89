#!/usr/bin/env python3
"""The layers point down: fails when a source includes a header of a layer above its own.

From the bottom: link/, protocol/, worker/, app/. Each may include its own layer and those
below it; the portable core (link/, protocol/, worker/) never includes <windows.h>. The
simulator (sim/, sim/dll/ among it) stands in for the vendor's library, so of the product it
may see only the one list of library calls, link/d2xx.h. tests/ and tools/ may include anything.

    python3 tests/sources/check_layers.py [ROOT]
"""
import os
import re
import sys

LAYERS = ['link', 'protocol', 'worker', 'app']
CORE = {'link', 'protocol', 'worker'}
SOURCE_SUFFIXES = ('.cpp', '.h')
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def allowed(room, header):
    """Whether a file of `room` may include `header` (a path from the root, or a system one)."""
    top = header.split('/', 1)[0]
    if room == 'sim':
        return top == 'sim' or header == 'link/d2xx.h' or top not in LAYERS + ['res']
    if top in LAYERS:
        return LAYERS.index(top) <= LAYERS.index(room)
    if top == 'res':
        return room == 'app'
    if top == 'sim':
        return False
    return True


def check(root):
    faults = []
    for room in LAYERS + ['sim']:
        for folder, _, files in os.walk(os.path.join(root, room)):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                shown = os.path.relpath(path, root)
                with open(path, encoding='utf-8', errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        quoted, header = m.group(1) == '"', m.group(2)
                        if quoted and '/' not in header:
                            # A header beside the file: the file's own folder.
                            header = os.path.relpath(os.path.join(folder, header), root)
                        if not quoted and header.lower() == 'windows.h' and room in CORE:
                            faults.append(f'{shown}:{number}: the portable core includes <windows.h>')
                        elif quoted and not allowed(room, header):
                            faults.append(f'{shown}:{number}: {room}/ includes {header}, '
                                          f'which it may not see')
    return faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..')
    faults = check(os.path.abspath(root))
    for fault in faults:
        print(fault)
    if faults:
        print(f'layers: {len(faults)} includes point up or sideways '
              '(link/ < protocol/ < worker/ < app/; sim/ sees only link/d2xx.h)')
        return 1
    print('layers: every include points down')
    return 0


if __name__ == '__main__':
    sys.exit(main())
