#!/usr/bin/env python3
"""Compares the stand-in's traces of two end-to-end runs, scenario by scenario.

    python3 tools/compare_traces.py BEFORE_RUN_FOLDER AFTER_RUN_FOLDER

Each folder holds one folder per scenario with its trace.txt (build/e2e/run/ after
`bash tools/e2e.sh`). A refactor that changes no behaviour leaves the calls the program made
the same. What depends on the moment is taken out before the comparison: the time stamps, the
counts and times of a group of reads, the paths of the run folder, and how often a wait repeated
the same call (the search's device list, the status query while the user chooses), so that
consecutive runs of the same lines count once. Prints one line per scenario and the first lines
that differ; exits 1 when any scenario differs or is missing on one side.
"""
import os
import re
import sys

MOMENT = [
    (re.compile(r'^\s*[0-9.]+ '), ''),                 # the time stamp
    (re.compile(r' (calls|last|origin|qpc-[a-z]+)=[^ ]*'), ''),
    (re.compile(r'# scenario .*'), '# scenario'),
    (re.compile(r'# exit .*'), '# exit'),
]


def calls(path):
    lines = []
    with open(path, encoding='utf-8', errors='replace') as f:
        for raw in f:
            line = raw.rstrip('\n')
            for pattern, replacement in MOMENT:
                line = pattern.sub(replacement, line)
            lines.append(line)
    # A wait repeats the same exchange a number of times that depends on the moment: runs of a
    # repeated group of up to 8 lines count once.
    out = []
    for line in lines:
        out.append(line)
        for size in range(1, 9):
            if len(out) >= 2 * size and out[-size:] == out[-2 * size:-size]:
                del out[-size:]
                break
    return out


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2])
        return 2
    before, after = sys.argv[1:]
    names = sorted(set(os.listdir(before)) | set(os.listdir(after)))
    differing = 0
    for name in names:
        a, b = (os.path.join(side, name, 'trace.txt') for side in (before, after))
        if not os.path.isfile(a) and not os.path.isfile(b):
            print(f'{name}: no trace on either side')
            continue
        if not (os.path.isfile(a) and os.path.isfile(b)):
            print(f'{name}: only {"after" if os.path.isfile(b) else "before"}')
            differing += 1
            continue
        x, y = calls(a), calls(b)
        if x == y:
            print(f'{name}: same ({len(x)} lines)')
            continue
        differing += 1
        at = next((i for i, (p, q) in enumerate(zip(x, y)) if p != q), min(len(x), len(y)))
        print(f'{name}: differs from line {at + 1} ({len(x)} and {len(y)} lines)')
        for side, lines in (('before', x), ('after', y)):
            for line in lines[at:at + 3]:
                print(f'    {side}: {line[:140]}')
    print(f'{len(names) - differing} same, {differing} differ')
    return 1 if differing else 0


if __name__ == '__main__':
    sys.exit(main())
