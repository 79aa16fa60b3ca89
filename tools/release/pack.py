#!/usr/bin/env python3
"""Packs the release archives and SHA256SUMS into DIST, byte for byte the same on every run.

Usage: pack.py BUILD DIST VERSION EPOCH
  BUILD    the release build folder (KestaOBD1EMU.exe, standin/FTD2XX.dll)
  DIST     the folder to write into
  VERSION  the program's version, for the archive names and the README texts
  EPOCH    seconds since 1970 (the commit's time): every entry's time in the archives

Entries keep the order listed here, one fixed time, fixed permissions and no extra fields, so
the archives depend on the files' contents alone.
"""
import hashlib
import os
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))

# Archive name pattern, then (name in the archive, source, kind) in archive order.
ARCHIVES = (
    ('KestaOBD1EMU-{version}-win32.zip', (
        ('KestaOBD1EMU.exe', 'build:KestaOBD1EMU.exe', 'binary'),
        ('README.txt', 'text:README-win32.txt', 'text'),
    )),
    ('KestaOBD1EMU-{version}-simulator-win32.zip', (
        ('FTD2XX.dll', 'build:standin/FTD2XX.dll', 'binary'),
        ('README.txt', 'text:README-simulator.txt', 'text'),
    )),
)

# Unix mode bits for unzip on Linux and macOS; Windows ignores them.
MODES = {'binary': 0o100755, 'text': 0o100644}


def contents(source, build, version):
    place, path = source.split(':', 1)
    if place == 'build':
        with open(os.path.join(build, path), 'rb') as f:
            return f.read()
    with open(os.path.join(HERE, path), encoding='utf-8') as f:
        text = f.read().replace('@VERSION@', version)
    # Notepad before Windows 10 shows a file with bare line feeds as one line.
    return text.replace('\r\n', '\n').replace('\n', '\r\n').encode('utf-8')


def pack(path, entries, build, version, date_time):
    with zipfile.ZipFile(path, 'w') as archive:
        for name, source, kind in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3
            info.external_attr = MODES[kind] << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, contents(source, build, version), compresslevel=9)


def main(build, dist, version, epoch):
    # Zip times have a two-second step and no zone: UTC, rounded down, the same everywhere.
    date_time = time.gmtime(int(epoch) // 2 * 2)[:6]
    os.makedirs(dist, exist_ok=True)
    sums = []
    for pattern, entries in ARCHIVES:
        name = pattern.format(version=version)
        pack(os.path.join(dist, name), entries, build, version, date_time)
        with open(os.path.join(dist, name), 'rb') as f:
            sums.append('%s  %s\n' % (hashlib.sha256(f.read()).hexdigest(), name))
    with open(os.path.join(dist, 'SHA256SUMS'), 'w', newline='\n') as f:
        f.writelines(sums)
    for line in sums:
        print(line, end='')
    return 0


if __name__ == '__main__':
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
