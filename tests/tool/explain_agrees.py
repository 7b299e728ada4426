#!/usr/bin/env python3
"""Checks that `zema explain` agrees with `zema convert` and `zema map` on
every segment of every name of the given designs: each converted full name
is explained level by level with the converter's own segments, each segment
is its base or its base with the stated suffix, and the siblings said to
hold the base and the smaller suffixes are exactly those names.

usage: explain_agrees.py ZEMA DESIGN...
"""
import json
import subprocess
import sys


def zema(binary, *args):
    result = subprocess.run([binary, *args], capture_output=True)
    if result.returncode not in (0, 1):
        sys.exit(f"zema {' '.join(args)}: exit {result.returncode}: {result.stderr.decode()}")
    return result.stdout


def main():
    binary, designs = sys.argv[1], sys.argv[2:]
    for design in designs:
        names = {row['full'] for row in json.loads(zema(binary, 'convert', '--format', 'json', design))
                 if row['full']}
        names |= {row['converted'] for row in json.loads(zema(binary, 'map', '--format', 'json', design))}
        explained = json.loads(zema(binary, 'explain', '--format', 'json', design, '--', *sorted(names)))
        for name, answer in zip(sorted(names), explained):
            segments = [level['segment'] for level in answer['levels']]
            if not answer['found'] or answer['converted'] != name or '/'.join(segments) != name:
                sys.exit(f'{design}: {name}: explained as {answer}')
            for level in answer['levels']:
                base, suffix = level['base'], level['suffix']
                if level.get('rule') == 'superseded':
                    continue
                taken = [] if suffix is None else [base] + [f'{base}_{k}' for k in range(suffix)]
                expected = base if suffix is None else f'{base}_{suffix}'
                held = sorted(h['segment'] for h in level['held_by'])
                if level['segment'] != expected or held != sorted(taken):
                    sys.exit(f'{design}: {name}: level {level} disagrees')
        print(f'{design}: {len(names)} names, every segment explained as converted')


if __name__ == '__main__':
    main()
