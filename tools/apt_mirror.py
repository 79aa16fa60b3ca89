#!/usr/bin/env python3
"""Prints the archive URI that the machine's apt sources use for one suite (default bookworm).

Reads /etc/apt/sources.list, /etc/apt/sources.list.d/*.list (one-line entries) and
/etc/apt/sources.list.d/*.sources (deb822 stanzas), in that order, and prints the first URI of a
binary ("deb") entry that lists the suite. Exits 1 when none does. The project names no archive
host of its own: whatever mirror or proxy the machine uses, the scripts use too.
"""
import glob
import re
import sys


def from_one_line(text, suite):
    for line in text.splitlines():
        # Options in brackets ("deb [arch=amd64 signed-by=...] URI suite ...") are skipped.
        words = re.sub(r'\[[^]]*\]', ' ', line.split('#', 1)[0]).split()
        if len(words) >= 3 and words[0] == 'deb' and words[2] == suite:
            return words[1]
    return None


def from_deb822(text, suite):
    for stanza in re.split(r'\n\s*\n', text):
        fields = {}
        for line in stanza.splitlines():
            m = re.match(r'([A-Za-z-]+):\s*(.*)', line)
            if m:
                fields[m.group(1).lower()] = m.group(2).split()
        if (fields.get('enabled', ['yes'])[0].lower() != 'no'
                and 'deb' in fields.get('types', [])
                and suite in fields.get('suites', [])
                and fields.get('uris')):
            return fields['uris'][0]
    return None


def main():
    suite = sys.argv[1] if len(sys.argv) > 1 else 'bookworm'
    root = sys.argv[2] if len(sys.argv) > 2 else '/etc/apt'
    paths = [f'{root}/sources.list'] + sorted(glob.glob(f'{root}/sources.list.d/*.list'))
    paths += sorted(glob.glob(f'{root}/sources.list.d/*.sources'))
    for path in paths:
        try:
            with open(path, encoding='utf-8', errors='replace') as f:
                text = f.read()
        except OSError:
            continue
        uri = from_deb822(text, suite) if path.endswith('.sources') else from_one_line(text, suite)
        if uri:
            print(uri.rstrip('/'))
            return 0
    return 1


if __name__ == '__main__':
    sys.exit(main())
