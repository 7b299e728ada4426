#!/usr/bin/env python3
"""Translates report-like texts written around a design's converted names,
both ways, and checks every name against `zema map`; then Tcl constraints
and SPEF parasitics around every name go to original names and back.

For each design and strategy the map's rows that name something give the
expected translation of every converted name. Reports hold each name in the
places real reports do: a timing-path line with a pin, an SDC list in
braces and a pin in brackets, a Verilog escaped identifier, a names-only
list, and words that name nothing. The translation to original names must
equal the same report written with the map's original names, and the
translation back must give the report again, byte for byte, where the
original names one converted name only (docs/cli.md says which do not).

In Tcl and SPEF every name sits where the syntax says a name is: in object
queries (bare, in braces, in double quotes, in a list, as words of
[list ...]) and in the name map, nets and nodes of a SPEF file, each
written with the quoting or escapes the syntax needs. Translated to original names and back, with no word left
alone (--unknown error), the text must come back byte for byte, but for
names whose original goes back to another converted name (docs/cli.md,
"Exactness"), which come back as that name; there a path of the hierarchy,
written without its leading "/", also stands for a name outside the
hierarchy that reads the same.

usage: translate_reports.py ZEMA GENERATOR [--random N] DESIGN...
  a DESIGN that does not exist is skipped, with a line that says so.
"""
import json
import os
import re
import subprocess
import sys
import tempfile

# Bytes that end an original name in a text (--to converted).
DELIMITERS = ' \t\n\r\v\f{}"\',;()'
HAS_DELIMITER = re.compile(b'[%s]' % re.escape(DELIMITERS.encode()))
# Bytes that SPEF or a Tcl list in braces cannot hold in a name.
UNWRITABLE = re.compile(rb'[\x00-\x20\x7f{}"]')
OPTION = re.compile(rb'-[A-Za-z]')
# Bytes a SPEF path escapes: all but letters, digits and "_" (letters as
# Python's str.isalnum sees a byte: Latin-1 letters are letters too).
SPEF_ESCAPED = re.compile(b'[%s]' % b''.join(
    re.escape(bytes([c])) for c in range(256) if not (chr(c).isalnum() or c == ord('_'))))


def run(zema, *args, stdin=None):
    result = subprocess.run([zema, *args], input=stdin, capture_output=True)
    if result.returncode != 0:
        sys.exit(f"zema {' '.join(args)}: exit {result.returncode}: "
                 f"{result.stderr.decode(errors='replace')}")
    return result.stdout


def map_rows(zema, design, strategy, saved=None):
    """(converted, original, rank) of every row that names something, as
    bytes; the JSON map gives every original exactly, and is kept in the file
    `saved` when one is given. The rank says which of
    the names that share an original the original stands for: a node of the
    hierarchy that names an atom or oterm (3), a made-up atom name (2), a
    made-up oterm name (1), an instance that names neither (0)."""
    text = run(zema, 'map', '--format', 'json', '--strategy', strategy, design)
    if saved:
        with open(saved, 'wb') as file:
            file.write(text)
    rows = []
    for row in json.loads(text):
        if row['kind'] != 'superseded' and row['original'] is not None and row['converted']:
            rank = (0 if row['kind'] == 'instance' else 3 if row['origin'] == 'hierarchy'
                    else 1 if row['kind'] == 'oterm' else 2)
            rows.append((row['converted'].encode(), row['original'].encode(), rank,
                         row['kind'] == 'oterm'))
    return rows


def reverse_of(rows):
    """What --to converted gives for each original: the name of the highest
    rank, unless two names share it (ambiguous: nothing)."""
    by_original = {}
    for converted, original, rank, _ in rows:
        by_original.setdefault(original, []).append((rank, converted))
    reverse = {}
    for original, names in by_original.items():
        best = max(rank for rank, _ in names)
        top = {c for rank, c in names if rank == best}
        if len(top) == 1:
            reverse[original] = top.pop()
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


def check(zema, design, strategy, rows, pins):
    # An original with a byte that ends names in a text cannot be found in
    # one; generated "wild" names have them, real ones do not.
    rows = [r for r in rows if not HAS_DELIMITER.search(r[1])]
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


def tcl_word(name):
    """A converted name as a Tcl word: in braces where it has brackets."""
    return b'{%s}' % name if b'[' in name else name


def tcl_text(names, nets):
    """Constraints on `names`, each in a query of its class: of nets for the
    names in `nets`, of cells for the others."""
    lines = []
    last = {}
    for i, name in enumerate(names):
        query = b'get_nets' if name in nets else b'get_cells'
        quoted = name.replace(b'[', b'\\[').replace(b']', b'\\]')
        lines.append(b'set_false_path -from [%s %s] -to [get_pins %s]'
                     % (query, tcl_word(name), tcl_word(name + b'/d')))
        lines.append(b'set_max_delay %d -through [%s "%s"] -to [%s {%s %s}]'
                     % (i, query, quoted, query, name, last.get(query, name)))
        lines.append(b'set_min_delay %d -through [%s [list %s "%s"]]'
                     % (i, query, tcl_word(last.get(query, name)), quoted))
        last[query] = name
    return b'\n'.join(lines) + b'\n'


def spef_path(name):
    """A converted name as a SPEF path: every byte but letters, digits and
    "_" escaped, but for a bit index at the end of a level."""
    levels = []
    for level in name.split(b'/'):
        bit = b''
        if level.endswith(b']') and b'[' in level:
            start = level.rindex(b'[')
            if level[start + 1:-1].isdigit() and start > 0:
                level, bit = level[:start], level[start:]
        levels.append(SPEF_ESCAPED.sub(rb'\\\g<0>', level) + bit)
    return b'/'.join(levels)


def spef_text(names, nets=()):
    lines = [b'*SPEF "IEEE 1481-1998"', b'*DIVIDER /', b'*DELIMITER :', b'*BUS_DELIMITER [ ]',
             b'*NAME_MAP']
    paths = [spef_path(name) for name in names]
    lines += [b'*%d %s' % (i + 1, path) for i, path in enumerate(paths)]
    for i, path in enumerate(paths):
        lines += [b'*D_NET %s 0.1' % path, b'*CONN', b'*I %s:d I *D DFF' % path, b'*CAP',
                  b'1 %s:d *%d:1 0.01' % (path, i + 1), b'*END']
    return b'\n'.join(lines) + b'\n'


def check_syntax(zema, design, strategy, rows, syntax, saved=None):
    """Every name of the map in Tcl or SPEF, to original names and back,
    from the design or from its map saved in the file `saved`."""
    source = ['--map', saved] if saved else ['--strategy', strategy, design]
    reverse = reverse_of(rows)
    # An ambiguous original stays an original, and one that SPEF or a list
    # in braces cannot hold (the root among them) is left as the converted
    # name: both are words of the other side, which a round cannot give back.
    # A name that starts like an option cannot be a Tcl word of its own.
    # A name with "/d" behind it is a pin of that name, unless the map has
    # that name too, on either side.
    known = {c for c, _, _, _ in rows} | {o.lstrip(b'/') for _, o, _, _ in rows}
    names = [c for c, o, _, _ in rows if o in reverse and o != b'/' and not UNWRITABLE.search(o)
             and not (syntax == 'tcl' and OPTION.match(o))
             and c + b'/d' not in known and o.lstrip(b'/') + b'/d' not in known]
    make = tcl_text if syntax == 'tcl' else spef_text
    # Written without its leading "/", a path of the hierarchy reads back
    # before a name outside it that reads the same. Each name goes in a
    # query of the class of the name it comes back as.
    original = {c: o for c, o, _, _ in rows}
    oterm = {c: is_oterm for c, _, _, is_oterm in rows}
    targets = [reverse.get(b'/' + original[c].lstrip(b'/'), reverse[original[c]]) for c in names]
    nets = {c for c, target in zip(names, targets) if oterm[target]}
    with tempfile.NamedTemporaryFile(suffix='.' + ('sdc' if syntax == 'tcl' else 'spef')) as file:
        file.write(make(names, nets))
        file.flush()
        forward = run(zema, 'translate', '--unknown', 'error', *source, file.name)
    back = run(zema, 'translate', '--unknown', 'error', '--syntax', syntax, '--to', 'converted',
               *source, '-', stdin=forward)
    expected = make(targets, {target for target in targets if oterm[target]})
    if back != expected:
        fail(design, strategy, syntax + ' back to converted', back, expected)
    return len(names)


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
    totals = [0, 0, 0]
    with tempfile.TemporaryDirectory() as scratch:
        # Whole designs: reports from the design, Tcl and SPEF from its saved
        # map, which is many times quicker to load (the random designs below
        # take every syntax from the design).
        saved = os.path.join(scratch, 'map.json')
        for design in designs:
            if not os.path.exists(design):
                print(f'skipped: {design} is not there')
                continue
            for strategy in ('fusion', 'reversible'):
                rows = map_rows(zema, design, strategy, saved)
                names, exact = check(zema, design, strategy, rows, pins=True)
                print(f'{design} ({strategy}): {names} names translated both ways, '
                      f'{exact} back to themselves')
                for syntax in ('tcl', 'spef'):
                    names = check_syntax(zema, design, strategy, rows, syntax, saved)
                    print(f'{design} ({strategy}): {names} names in {syntax} translated both ways')
        for seed in range(1, random_count + 1):
            design = os.path.join(scratch, 'design.json')
            alphabet = ('plain', 'rtl', 'wild')[seed % 3]
            size = str(20 + seed % 200)
            subprocess.run([generator, '--seed', str(seed), '--instances', size, '--atoms', size,
                            '--names', '5', '--alphabet', alphabet, '-o', design], check=True)
            strategy = ('fusion', 'reversible')[seed % 2]
            rows = map_rows(zema, design, strategy)
            names, exact = check(zema, design, strategy, rows, pins=False)
            # Tcl or SPEF for a third of the designs each, every alphabet.
            syntax = ('tcl', 'spef', None)[seed // 3 % 3]
            if syntax:
                totals[2] += check_syntax(zema, design, strategy, rows, syntax)
            totals[0] += names
            totals[1] += exact
    if random_count:
        print(f'{random_count} random designs: {totals[0]} names translated both ways, '
              f'{totals[1]} back to themselves, {totals[2]} in Tcl or SPEF')


if __name__ == '__main__':
    main()
