#!/usr/bin/env python3
"""Evaluates a Tcl script and its translation in tclsh, with the query stubs
of translate/stubs.tcl resolving names against each side of the design's
map, and checks that both name the same objects.

Each command logs the objects its names resolve to. The two logs must agree
line by line, except on lines where a name resolves to nothing on one side
(a word translate leaves as it is, such as a pattern over converted names);
both scripts must run without a Tcl error.

usage: tcl_names.py ZEMA DESIGN SCRIPT TRANSLATION --to original|converted
"""
import json
import os
import subprocess
import sys
import tempfile

STUBS = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'translate', 'stubs.tcl')


def names_files(zema, design, scratch):
    """Writes the converted and the original names of the map, each with
    its id and kind; originals without their leading "/", as scripts write
    them."""
    rows = json.loads(subprocess.run([zema, 'map', '--format', 'json', design], check=True,
                                     capture_output=True).stdout)
    paths = {}
    for side in ('converted', 'original'):
        paths[side] = os.path.join(scratch, side + '.names')
        with open(paths[side], 'w', encoding='utf-8') as out:
            for row in rows:
                name = row[side]
                if name is None or not name or row['kind'] == 'superseded':
                    continue
                if side == 'original' and name.startswith('/'):
                    name = name[1:]
                out.write(f"{row['id']}\t{row['kind']}\t{name}\n")
    return paths


def evaluate(names, script, scratch, label):
    log = os.path.join(scratch, label + '.log')
    result = subprocess.run(['tclsh', STUBS, names, script, log], capture_output=True)
    if result.returncode != 0:
        sys.exit(f'{script}: tclsh failed: {result.stderr.decode(errors="replace")}')
    with open(log, encoding='utf-8') as file:
        return file.read().split('\n')


def main():
    zema, design, script, translation, flag, to = sys.argv[1:7]
    assert flag == '--to' and to in ('original', 'converted')
    source_side = 'original' if to == 'converted' else 'converted'
    with tempfile.TemporaryDirectory() as scratch:
        names = names_files(zema, design, scratch)
        before = evaluate(names[source_side], script, scratch, 'before')
        after = evaluate(names[to], translation, scratch, 'after')
    if len(before) != len(after):
        sys.exit(f'{translation}: {len(after)} commands logged, {len(before)} before translation')
    compared = 0
    for number, (a, b) in enumerate(zip(before, after), 1):
        if '?' in a or '?' in b:
            continue
        compared += 1
        if a != b:
            sys.exit(f'{translation}: command {number} names other objects:\n  before {a}\n'
                     f'  after  {b}')
    print(f'{translation}: {compared} of {len(before)} commands name the same objects')


if __name__ == '__main__':
    main()
