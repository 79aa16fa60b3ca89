#!/usr/bin/env python3
"""Checks the resources built into the program: the dialog templates, bitmaps, icon groups, both
manifests and the version record, read straight from the PE file's resource directory.

The version record and the manifest's assemblyIdentity must carry the version in VERSION.

Usage: check_resources.py PROGRAM.exe [...]; prints one line per failed check and exits 1 then.
"""
import os
import struct
import sys

RT_BITMAP, RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 5, 14, 16, 24
# The pictures and button faces are also drawn for these scales (per cent), under the 100 % id
# plus the scale's place times ART_ID_STEP (res/resource.h).
ART_SCALES = (125, 150, 200)
ART_ID_STEP = 100


def read_resources(path):
    """Returns {(type, name, language): bytes} for every resource with a numeric type and name."""
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        raise ValueError('not a PE file')
    sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from('<I', data, directories + 2 * 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from('<IIII', data, table + i * 40 + 8)
        spans.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError('RVA %#x outside every section' % rva)

    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from('<HH', data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from('<II', data, base + directory + 16 + 8 * i)
            yield name, target

    found = {}
    for rtype, t in entries(0):
        for name, n in entries(t & 0x7FFFFFFF):
            for lang, leaf in entries(n & 0x7FFFFFFF):
                rva, size = struct.unpack_from('<II', data, base + leaf)
                if not (rtype | name) & 0x80000000:
                    found[(rtype, name, lang)] = data[offset(rva):offset(rva) + size]
    return found


def program_version():
    """The text of VERSION and its four numbers as Windows keeps them (missing ones are 0)."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    with open(os.path.join(root, 'VERSION')) as f:
        text = f.readline().strip()
    return text, ([int(n) for n in text.split('.')] + [0, 0, 0])[:4]


def by_name(resources, rtype, name):
    return [v for (t, n, _), v in resources.items() if t == rtype and n == name]


def check(path):
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append('%s: %s' % (path, what))

    res = read_resources(path)
    version_text, numbers = program_version()

    # The main window's template is the only dialog; no unused one is carried along.
    expect(not by_name(res, RT_DIALOG, 102), 'no dialog 102')
    dialogs = by_name(res, RT_DIALOG, 100)
    expect(len(dialogs) == 1, 'dialog 100 present once')
    if dialogs:
        version, signature = struct.unpack_from('<HH', dialogs[0], 0)
        expect((version, signature) == (1, 0xFFFF), 'dialog 100 is an extended template')
        items, _, _, cx, cy = struct.unpack_from('<Hhhhh', dialogs[0], 16)
        expect((cx, cy) == (356, 179), 'dialog 100 is 356x179 units (got %dx%d)' % (cx, cy))
        expect(items == 21, 'dialog 100 has 21 controls (got %d)' % items)
        # Class names compare without case; the resource compiler stores this one upper-case.
        expect('KESTA_CLASS1'.encode('utf-16-le') in dialogs[0].upper(), 'dialog 100 names its class')

    scaled = lambda n, pct: (n * pct + 99) // 100
    pictures = [(name, size) for name, size in ((20, (186, 82)), (21, (246, 82)), (22, (102, 102)))]
    pictures += [(name + k * ART_ID_STEP, (scaled(w, pct), scaled(h, pct)))
                 for k, pct in enumerate(ART_SCALES, 1) for name, (w, h) in pictures[:3]]
    for name, size in pictures:
        bitmaps = by_name(res, RT_BITMAP, name)
        expect(len(bitmaps) == 1, 'bitmap %d present' % name)
        if bitmaps:
            width, height, _, bits = struct.unpack_from('<iiHH', bitmaps[0], 4)
            expect((width, abs(height), bits) == (*size, 24),
                   'bitmap %d is %dx%d, 24-bit (got %dx%d, %d-bit)' % (name, *size, width, abs(height), bits))

    def icon_group(name):
        groups = by_name(res, RT_GROUP_ICON, name)
        if len(groups) != 1:
            return None
        count = struct.unpack_from('<H', groups[0], 4)[0]
        images = []
        for i in range(count):
            w, h, _, _, _, bits, _, image_id = struct.unpack_from('<BBBBHHIH', groups[0], 6 + 14 * i)
            images.append((w or 256, h or 256, bits, image_id))
        return images

    program = icon_group(1)
    expect(program is not None, 'icon group 1 present')
    if program:
        sizes = sorted(w for w, h, _, _ in program)
        expect(sizes == [16, 32, 48, 64, 128, 256], 'icon group 1 sizes (got %s)' % sizes)
        expect(all(bits == 32 for w, _, bits, _ in program if w < 256), 'icon group 1 is 32-bit')
        large = [i for w, _, _, i in program if w == 256]
        if large:
            image = by_name(res, RT_ICON, large[0])
            expect(image and image[0][:8] == b'\x89PNG\r\n\x1a\n', 'the 256-pixel icon is a PNG')
    for k, pct in enumerate((100,) + ART_SCALES):
        side = scaled(32, pct)
        for name in (n + k * ART_ID_STEP for n in (26, 28, 30, 32)):
            images = icon_group(name)
            expect(images is not None and [(w, h, b) for w, h, b, _ in images] == [(side, side, 24)],
                   'icon group %d holds one %dx%d 24-bit image (got %s)' % (name, side, side, images))

    manifests = {lang: v for (t, n, lang), v in res.items() if t == RT_MANIFEST and n == 1}
    neutral, english = manifests.get(0, b''), manifests.get(1033, b'')
    expect(b'requireAdministrator' in neutral and b'uiAccess="false"' in neutral,
           'neutral manifest asks for administrator rights')
    expect(b'Microsoft.Windows.Common-Controls' in neutral and b'6.0.0.0' in neutral,
           'neutral manifest depends on Common Controls 6.0')
    identity = 'name="Kesta.OBD1EMU" version="%s"' % '.'.join(map(str, numbers))
    expect(identity.encode() in neutral, 'neutral manifest holds %s' % identity)
    expect(b'asInvoker' in english and b'Common-Controls' not in english,
           'manifest 1033 asks for asInvoker only')
    aware = b'<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>'
    expect(aware in neutral and aware in english, 'both manifests declare the program DPI aware')

    versions = by_name(res, RT_VERSION, 1)
    expect(len(versions) == 1, 'version record present')
    if versions:
        record = versions[0]
        for key, value in (('FileVersion', version_text), ('ProductVersion', version_text),
                           ('ProductName', 'Kesta OBD1 EMU V1'), ('FileDescription', 'Kesta OBD1 EMU V1')):
            pair = key.encode('utf-16-le') + b'\0\0'
            at = record.find(pair)
            found = None
            if at >= 0:
                start = at + len(pair)
                start += start % 4  # values are aligned to 32 bits
                end = record.find(b'\0\0', start)
                while end >= 0 and (end - start) % 2:
                    end = record.find(b'\0\0', end + 1)
                found = record[start:end].decode('utf-16-le')
            expect(found == value, 'version %s is "%s" (got %r)' % (key, value, found))
        fixed = record.find(struct.pack('<I', 0xFEEF04BD))
        if fixed >= 0:
            fixed_numbers = struct.unpack_from('<HHHHHHHH', record, fixed + 8)
            expected = (numbers[1], numbers[0], numbers[3], numbers[2]) * 2
            expect(fixed_numbers == expected, 'fixed file and product version are %d.%d.%d.%d' % tuple(numbers))
    return failures


def main(paths):
    failures = []
    for path in paths:
        failures += check(path)
    for line in failures:
        print('FAIL: ' + line)
    print('resources checked in %d programs, %d failures' % (len(paths), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
