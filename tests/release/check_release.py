#!/usr/bin/env python3
"""Builds the release twice and checks that it can be trusted: two copies of the working tree at
two different paths, built one after the other under different time zones and umasks, must give
byte-identical archives and SHA256SUMS; each archive must hold exactly its listed files; the
program's version record must carry the version in VERSION; no binary may carry a time stamp
or the path it was built in.

Usage: check_release.py; prints one line per failed check and exits 1 then. The temporary
folders are kept when a check fails, and their place is printed.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Archive name pattern and its entries, in order.
ARCHIVES = (
    ('KestaOBD1EMU-{version}-win32.zip', ['KestaOBD1EMU.exe', 'README.txt']),
    ('KestaOBD1EMU-{version}-simulator-win32.zip', ['FTD2XX.dll', 'README.txt']),
)


def git(*args):
    return subprocess.run(['git', *args], cwd=ROOT, check=True, capture_output=True).stdout


def copy_working_tree(target):
    """Copies the files git knows or would add, as they are on disk now (changes included)."""
    names = git('ls-files', '-z', '--cached', '--others', '--exclude-standard').split(b'\0')
    for name in filter(None, (n.decode() for n in names)):
        source = os.path.join(ROOT, name)
        if not os.path.lexists(source):
            continue  # deleted, not yet committed
        os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
        shutil.copy2(source, os.path.join(target, name), follow_symlinks=False)


def build_release(tree, epoch, zone, umask, log):
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch), TZ=zone)
    with open(log, 'w') as out:
        run = subprocess.run(['bash', 'tools/release.sh'], cwd=tree, env=env, stdout=out,
                             stderr=subprocess.STDOUT, preexec_fn=lambda: os.umask(umask))
    return run.returncode == 0


def pe_time_stamp(data):
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    return struct.unpack_from('<I', data, pe + 8)[0] if data[pe:pe + 4] == b'PE\0\0' else None


def main():
    failures = []
    checks = 0

    def expect(condition, what):
        nonlocal checks
        checks += 1
        if not condition:
            failures.append(what)
        return condition

    with open(os.path.join(ROOT, 'VERSION')) as f:
        version = f.readline().strip()
    epoch = int(git('log', '-1', '--format=%ct'))
    names = [pattern.format(version=version) for pattern, _ in ARCHIVES]

    work = tempfile.mkdtemp(prefix='kesta-release-')
    # Different lengths and depths, so that an embedded path would shift or change bytes.
    trees = [os.path.join(work, 'a'), os.path.join(work, 'second', 'tree-b')]
    settings = [('UTC0', 0o022), ('NZST-12', 0o002)]
    for tree, (zone, umask), label in zip(trees, settings, 'ab'):
        copy_working_tree(tree)
        log = os.path.join(work, 'release-%s.log' % label)
        if not expect(build_release(tree, epoch, zone, umask, log), 'release build %s failed (see %s)' % (label, log)):
            with open(log) as f:
                print(''.join(f.readlines()[-30:]), end='')
            print('FAIL: ' + failures[-1])
            print('release: kept %s' % work)
            return 1

    dists = [os.path.join(tree, 'dist') for tree in trees]
    expect(all(sorted(os.listdir(d)) == sorted(names + ['SHA256SUMS']) for d in dists),
           'dist/ holds exactly %s and SHA256SUMS (got %s)' % (', '.join(names), [sorted(os.listdir(d)) for d in dists]))

    digests = {}
    for name in names + ['SHA256SUMS']:
        contents = []
        for d in dists:
            with open(os.path.join(d, name), 'rb') as f:
                contents.append(f.read())
        digests[name] = hashlib.sha256(contents[0]).hexdigest()
        expect(contents[0] == contents[1], '%s differs between the two builds' % name)
        print('release: %s %s' % (digests[name], name))
    with open(os.path.join(dists[0], 'SHA256SUMS')) as f:
        expect(f.read() == ''.join('%s  %s\n' % (digests[n], n) for n in names),
               'SHA256SUMS lists both archives with their SHA-256')

    stamp = time.gmtime(epoch // 2 * 2)[:6]
    unpacked = os.path.join(work, 'unpacked')
    for (pattern, entries), name in zip(ARCHIVES, names):
        with zipfile.ZipFile(os.path.join(dists[0], name)) as archive:
            infos = archive.infolist()
            expect([i.filename for i in infos] == entries,
                   '%s holds exactly %s (got %s)' % (name, entries, [i.filename for i in infos]))
            expect(archive.testzip() is None, '%s is intact' % name)
            expect(all(i.date_time == stamp for i in infos), '%s: every entry dated %s' % (name, stamp))
            readme = archive.read('README.txt').decode() if 'README.txt' in archive.namelist() else ''
            expect('Version %s' % version in readme, '%s: README.txt names version %s' % (name, version))
            archive.extractall(os.path.join(unpacked, name))

    program = os.path.join(unpacked, names[0], 'KestaOBD1EMU.exe')
    standin = os.path.join(unpacked, names[1], 'FTD2XX.dll')
    for binary in (program, standin):
        if not os.path.exists(binary):
            continue
        with open(binary, 'rb') as f:
            data = f.read()
        base = os.path.basename(binary)
        expect(pe_time_stamp(data) in (0, epoch), '%s: PE time stamp is 0 or the commit time (got %s)'
               % (base, pe_time_stamp(data)))
        for path in trees + [work]:
            expect(path.encode() not in data and path.encode('utf-16-le') not in data,
                   '%s carries its build path %s' % (base, path))
    if os.path.exists(program):
        check = subprocess.run([sys.executable, os.path.join(ROOT, 'tests/resources/check_resources.py'),
                                program], capture_output=True, text=True)
        print(check.stdout, end='')
        expect(check.returncode == 0, 'the released program\'s resources and version record (%s)' % version)

    for line in failures:
        print('FAIL: release: ' + line)
    print('release: %d checks, %d failed' % (checks, len(failures)))
    if failures:
        print('release: kept %s' % work)
        return 1
    shutil.rmtree(work)
    return 0


if __name__ == '__main__':
    sys.exit(main())
