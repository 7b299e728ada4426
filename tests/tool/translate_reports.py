#!/usr/bin/env python3
"""Translates report-like texts written around a design's converted names,
both ways, and checks every name against `zema map`.

For each design and strategy the map's rows that name something give the
expected translation of every converted name. Reports hold each name in the
places real reports do: a timing-path line with a pin, an SDC list in
braces and a pin in brackets, a Verilog escaped identifier, a names-only
list, and words that name nothing. The translation to original names must
equal the same report written with the map's original names, and the
translation back must give the report again, byte for byte, where the
original names one converted name only (docs/cli.md says which do not).

usage: translate_reports.py ZEMA GENERATOR [--random N] DESIGN...
  a DESIGN that does not exist is skipped, with a line that says so.
"""
import json
import os
import subprocess
import sys
import tempfile

# Bytes that end an original name in a text (--to converted).
DELIMITERS = set(' \t\n\r\v\f{}"\',;()')


def run(zema, *args, stdin=None):
    result = subprocess.run([zema, *args], input=stdin, capture_output=True)
    if result.returncode != 0:
        sys.exit(f"zema {' '.join(args)}: exit {result.returncode}: "
                 f"{result.stderr.decode(errors='replace')}")
    return result.stdout


def map_rows(zema, design, strategy):
    """(converted, original, hierarchy) of every row that names something,
    as bytes; the JSON map gives every original exactly."""
    rows = []
    for row in json.loads(run(zema, 'map', '--format', 'json', '--strategy', strategy, design)):
        if row['kind'] != 'superseded' and row['original'] is not None and row['converted']:
            rows.append((row['converted'].encode(), row['original'].encode(),
                         row['origin'] == 'hierarchy'))
    return rows


def reverse_of(rows):
    """What --to converted gives for each original: the hierarchy's name
    where it has one, else the only name, else nothing (ambiguous)."""
    by_original = {}
    for converted, original, hierarchy in rows:
        by_original.setdefault(original, []).append((converted, hierarchy))
    reverse = {}
    for original, names in by_original.items():
        from_hierarchy = [c for c, h in names if h]
        if from_hierarchy:
            reverse[original] = from_hierarchy[0]
        elif len(names) == 1:
            reverse[original] = names[0][0]
    return reverse


def report(names, pins, converted):
    """A report around `names`: with pins, every place; without, a list.
    Each name is followed by a word that names nothing, made from the
    converted name, which stays as it is both ways."""
    lines = []
    for i, (name, word) in enumerate(zip(names, converted)):
        if pins:
            lines.append(b'  %s/d (DFF_X1)   0.%02d r' % (name, i % 100))
            lines.append(b'set_false_path -from [get_cells {%s}] -to [get_pins %s/ck]' % (name, name))
            lines.append(b'  \\%s  0.1' % name)
        lines.append(name)
        lines.append(b'NOTANAME/%s' % word)
    return b'\n'.join(lines) + b'\n'


def check(zema, design, strategy, pins):
    # An original with a byte that ends names in a text cannot be found in
    # one; generated "wild" names have them, real ones do not.
    stops = {ord(c) for c in DELIMITERS}
    rows = [r for r in map_rows(zema, design, strategy) if not set(r[1]) & stops]
    converted = [r[0] for r in rows]
    original = [r[1] for r in rows]
    text = report(converted, pins, converted)
    with tempfile.NamedTemporaryFile(suffix='.rpt') as file:
        file.write(text)
        file.flush()
        forward = run(zema, 'translate', '--levels', '1', '--strategy', strategy, design,
                      file.name)
    expected = report(original, pins, converted)
    if forward != expected:
        fail(design, strategy, 'to original', forward, expected)
    reverse = reverse_of(rows)
    back = run(zema, 'translate', '--levels', '1', '--strategy', strategy, '--to', 'converted',
               design, '-', stdin=forward)
    expected_back = report([reverse.get(o, o) for o in original], pins, converted)
    if back != expected_back:
        fail(design, strategy, 'back to converted', back, expected_back)
    exact = sum(1 for c, o in zip(converted, original) if reverse.get(o) == c)
    return len(rows), exact


def fail(design, strategy, what, got, expected):
    got_lines, expected_lines = got.split(b'\n'), expected.split(b'\n')
    for number, (a, b) in enumerate(zip(got_lines, expected_lines), 1):
        if a != b:
            sys.exit(f'{design} ({strategy}) {what}: line {number}:\n  got      {a!r}\n'
                     f'  expected {b!r}')
    sys.exit(f'{design} ({strategy}) {what}: {len(got_lines)} lines, expected '
             f'{len(expected_lines)}')


def main():
    args = sys.argv[1:]
    zema, generator = args[0], args[1]
    designs, random_count = [], 0
    rest = iter(args[2:])
    for arg in rest:
        if arg == '--random':
            random_count = int(next(rest))
        else:
            designs.append(arg)
    for design in designs:
        if not os.path.exists(design):
            print(f'skipped: {design} is not there')
            continue
        for strategy in ('fusion', 'reversible'):
            names, exact = check(zema, design, strategy, pins=True)
            print(f'{design} ({strategy}): {names} names translated both ways, '
                  f'{exact} back to themselves')
    totals = [0, 0]
    with tempfile.TemporaryDirectory() as scratch:
        for seed in range(1, random_count + 1):
            design = os.path.join(scratch, 'design.json')
            alphabet = ('plain', 'rtl', 'wild')[seed % 3]
            size = str(20 + seed % 200)
            subprocess.run([generator, '--seed', str(seed), '--instances', size, '--atoms', size,
                            '--names', '5', '--alphabet', alphabet, '-o', design], check=True)
            names, exact = check(zema, design, ('fusion', 'reversible')[seed % 2], pins=False)
            totals[0] += names
            totals[1] += exact
    if random_count:
        print(f'{random_count} random designs: {totals[0]} names translated both ways, '
              f'{totals[1]} back to themselves')


if __name__ == '__main__':
    main()
