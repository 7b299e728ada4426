#!/usr/bin/env python3
"""zema diff against an independent count from the two maps.

Each Yosys netlist is edited the ways designers edit between revisions: a
flip-flop added first and last in the top module, an instance renamed, an
instance removed, and a sibling added whose legal form is an instance's and
which sorts before it. For each edit, the rows of `zema diff OLD NEW` must
be exactly those this script finds from `zema map` of both revisions:
objects known by role and original (the k-th of a repeated one matched with
the k-th), a row for each renamed, added and removed object, and a reused
row for each converted name that both revisions have for different objects.
The same diff with both revisions in one process (ZEMA_ONE_PROCESS) must
be the same, byte for byte. And `zema migrate OLD NEW` of a text with every old name must write each
object's new name, leave the names of removed objects, and report exactly
those and the names that name another object now.

usage: revisions.py ZEMA NETLIST...
  a NETLIST that does not exist is skipped, with a line that says so.
"""
import collections
import json
import lzma
import os
import subprocess
import sys
import tempfile

ZEMA = sys.argv[1]
failures = []


def run(*args, expect=(0,), env=None):
    result = subprocess.run([ZEMA, *args], capture_output=True, env=env)
    if result.returncode not in expect:
        sys.exit(f"zema {' '.join(args)}: exit {result.returncode}: {result.stderr.decode()}")
    return result


def expected_migration(old, new):
    """The migrated text of the old names, one a line, and the lines that
    must be reported: gone and moved."""
    (old_keys, old_names), (new_keys, new_names) = objects(old), objects(new)
    lines, gone, moved = [], set(), set()
    for number, (name, key) in enumerate(sorted(old_names.items()), 1):
        if key not in new_keys:
            lines.append(name)
            gone.add(number)
        else:
            lines.append(new_keys[key])
            if new_names.get(name, key) != key:
                moved.add(number)
    return [name for name, _ in sorted(old_names.items())], lines, gone, moved


def check_migration(old, new, text_path, where):
    names, wanted, gone, moved = expected_migration(old, new)
    with open(text_path, 'w') as out:
        out.write(''.join(name + '\n' for name in names))
    result = run('migrate', old, new, text_path)
    got = result.stdout.decode().splitlines()
    wrong = [(n, w, g) for n, w, g in zip(names, wanted, got) if w != g]
    if len(got) != len(wanted) or wrong:
        failures.append(f'{where}: migrate wrote {len(wrong)} lines wrong: {wrong[:3]}')
    # Up to 100 reports, one a line in the text's order, then a count.
    shown = {'gone': set(), 'moved': set()}
    more = 0
    for line in result.stderr.decode().splitlines():
        if line.endswith(' more, not shown'):
            more = int(line.split()[3])
            continue
        number = int(line.split(':')[3])
        shown['gone' if 'does not have' in line else 'moved'].add(number)
    first = set(sorted(gone | moved)[:100])
    if shown != {'gone': gone & first, 'moved': moved & first} or \
            more != len(gone | moved) - len(first):
        failures.append(f'{where}: migrate reported {shown} and {more} more, '
                        f'not gone {sorted(gone)[:5]}, moved {sorted(moved)[:5]}')


def objects(path):
    """converted -> key and key -> converted of a revision's map."""
    by_key, by_name = {}, {}
    seen = collections.Counter()
    for row in json.loads(run('map', '--format', 'json', path).stdout):
        if row['kind'] == 'superseded' or row['original'] is None:
            continue
        role = 'h' if row['origin'] == 'hierarchy' else ('o' if row['kind'] == 'oterm' else 'a')
        base = (role, row['original'])
        key = base + (seen[base],)
        seen[base] += 1
        by_key[key] = row['converted']
        if row['converted']:
            by_name[row['converted']] = key
    return by_key, by_name


def expected_rows(old, new):
    (old_keys, old_names), (new_keys, new_names) = objects(old), objects(new)
    rows = set()
    for key, name in old_keys.items():
        if key not in new_keys:
            rows.add(('removed', name, None, key[1], None))
        elif new_keys[key] != name:
            rows.add(('renamed', name, new_keys[key], key[1], None))
    for key, name in new_keys.items():
        if key not in old_keys:
            rows.add(('added', None, name, key[1], None))
    for name, key in new_names.items():
        if name in old_names and old_names[name] != key:
            rows.add(('reused', name, name, old_names[name][1], key[1]))
    return rows


def edits(netlist):
    """(what, edited netlist) pairs."""
    modules = netlist['modules']
    top = next((m for m, v in modules.items() if str(v.get('attributes', {}).get('top', 0))
                .lstrip('0') == '1'), next(iter(modules)))
    cells = modules[top]['cells']
    flop = {'hide_name': 1, 'type': '$_DFF_P_',
            'port_directions': {'C': 'input', 'D': 'input', 'Q': 'output'},
            'connections': {'C': ['0'], 'D': ['0'], 'Q': ['x']}}
    instances = [name for name, cell in cells.items() if cell['type'] in modules]
    target = instances[0] if instances else next(iter(cells))

    def edited(change):
        copy = json.loads(json.dumps(netlist))
        change(copy['modules'][top])
        return copy

    def first(module):
        module['cells'] = {'$edit$first': flop, **module['cells']}

    def last(module):
        module['cells']['$edit$last'] = flop

    def rename(module):
        module['cells'] = {(k + '_renamed' if k == target else k): v
                           for k, v in module['cells'].items()}

    def remove(module):
        del module['cells'][target]

    def sibling(module):
        # Upper case sorts before lower case and legalises to it.
        at = next((i for i, c in enumerate(target) if c.islower()), None)
        twin = target[:at] + target[at].upper() + target[at + 1:] if at is not None else '-' + target
        module['cells'][twin] = module['cells'][target]

    return [(what, edited(change)) for what, change in
            [('a flip-flop first', first), ('a flip-flop last', last),
             ('an instance renamed', rename), ('an instance removed', remove),
             ('a sibling that sorts first', sibling)]]


def check_explanations(old_path, new_path, rows, label):
    """explain --against, asked by the new name of each renamed or added
    object and by the old name of each removed one (the first 50 of each),
    tells the change diff found. A name of both revisions (reused) means the
    old object, so it is not asked."""
    reused = {r[1] for r in rows if r[0] == 'reused'}
    asked = {}
    for status, old, new, original, _ in sorted(rows, key=lambda r: tuple(map(str, r))):
        name = old if status == 'removed' else new
        if status in ('renamed', 'added', 'removed') and name and name not in reused and \
                sum(1 for s, _ in asked.values() if s == status) < 50:
            asked[name] = (status, (old, new))
    if not asked:
        return
    result = run('explain', '--format', 'json', '--against', old_path, new_path, '--',
                 *asked, expect=(0, 1))
    for told in json.loads(result.stdout):
        status, names = asked[told['name']]
        if (told['change'], (told['old'], told['new'])) != (status, names):
            failures.append(f'{label}: explain --against {told["name"]}: {told["change"]} '
                            f'{told["old"]} -> {told["new"]}, diff: {status} {names}')
            return


def main():
    scratch = tempfile.mkdtemp()
    old_path = os.path.join(scratch, 'old.json')
    new_path = os.path.join(scratch, 'new.json')
    text_path = os.path.join(scratch, 'names.txt')
    for path in sys.argv[2:]:
        if not os.path.exists(path):
            print(f'{path}: not found, skipped')
            continue
        opener = lzma.open if path.endswith('.xz') else open
        with opener(path, 'rt') as read:
            netlist = json.load(read)
        with open(old_path, 'w') as out:
            json.dump(netlist, out)
        for what, edited in edits(netlist):
            with open(new_path, 'w') as out:
                json.dump(edited, out)
            result = run('diff', '--format', 'json', old_path, new_path, expect=(0, 1))
            got = {(r['status'], r['old_converted'], r['new_converted'], r['original'],
                    r['new_original']) for r in json.loads(result.stdout)}
            wanted = expected_rows(old_path, new_path)
            if got != wanted:
                failures.append(f'{path}, {what}: {len(got - wanted)} rows too many, '
                                f'{len(wanted - got)} missing: {sorted(got ^ wanted)[:3]}')
            # The same with both revisions converted in one process.
            alone = run('diff', '--format', 'json', old_path, new_path, expect=(0, 1),
                        env=dict(os.environ, ZEMA_ONE_PROCESS='1'))
            if (alone.stdout, alone.returncode) != (result.stdout, result.returncode):
                failures.append(f'{path}, {what}: another diff in one process')
            holds = not any(r[0] in ('reused', 'removed') for r in wanted)
            if result.returncode != (0 if holds else 1):
                failures.append(f'{path}, {what}: exit {result.returncode}')
            check_migration(old_path, new_path, text_path, f'{path}, {what}')
            check_explanations(old_path, new_path, wanted, f'{path}, {what}')
            counts = collections.Counter(r[0] for r in wanted)
            print(f'{os.path.basename(path)}, {what}: ' +
                  ', '.join(f'{counts[s]} {s}' for s in ('renamed', 'added', 'removed', 'reused')))
    # Under the reversible strategy an atom and its oterm of one instance name
    # share a name: a design against itself still has no rows.
    example = os.path.join(os.path.dirname(__file__), '..', '..', 'examples', 'design.json')
    same = run('diff', '--format', 'json', '--strategy', 'reversible', example, example,
               expect=(0, 1))
    if same.returncode != 0 or json.loads(same.stdout) != []:
        failures.append(f'reversible diff of a design with itself: exit {same.returncode}, '
                        f'{same.stdout[:80]!r}')
    # Two flip-flops of one original, a RAM put first: each keeps its place
    # among the two (the k-th with the k-th), so the second's old name now
    # names the first, a reused name.
    pair = {'root': {'name': ''}, 'netlist': [{'type': 'DFF', 'name': {'name': 'q'}},
                                              {'type': 'DFF', 'name': {'name': 'q'}}]}
    with open(old_path, 'w') as out:
        json.dump(pair, out)
    pair['netlist'].insert(0, {'type': 'RAM', 'name': {'name': 'm'}})
    with open(new_path, 'w') as out:
        json.dump(pair, out)
    shared = run('diff', '--format', 'json', old_path, new_path, expect=(0, 1))
    statuses = sorted((r['status'], r['old_converted'], r['new_converted'])
                      for r in json.loads(shared.stdout))
    if shared.returncode != 1 or statuses != [('added', None, 'ram0'), ('renamed', 'dff0', 'dff1'),
                                              ('renamed', 'dff1', 'dff2'),
                                              ('reused', 'dff1', 'dff1')]:
        failures.append(f'two objects of one original: exit {shared.returncode}, {statuses}')
    # As many as before: the k-th is taken for the k-th, as a renumbering
    # keeps them, without a word of a guess.
    if b'a guess' in shared.stderr:
        failures.append(f'two objects of one original, renumbered: {shared.stderr!r}')
    # Their original names both: explain says so, not that it names nothing.
    both = run('explain', old_path, 'q', expect=(1,))
    if b'"q" names more than one object' not in both.stderr:
        failures.append(f'explain of an original two objects share: {both.stderr!r}')
    # A third of that original: nothing tells which came, so diff says its
    # matches are a guess, and migrate reports each name it rewrote so.
    pair['netlist'].insert(0, {'type': 'DFF', 'name': {'name': 'q'}})
    with open(new_path, 'w') as out:
        json.dump(pair, out)
    third = run('diff', old_path, new_path, expect=(1,))
    if b'2 old objects share an original with others that nothing tells apart' not in third.stderr:
        failures.append(f'a third object of one original: no word of a guess: {third.stderr!r}')
    with open(text_path, 'w') as out:
        out.write('dff0 dff1 keep\n')
    guessed = run('migrate', old_path, new_path, text_path)
    if (not guessed.stdout.endswith(b' keep\n') or
            guessed.stderr.count(b'share an original; its new name is a guess') != 2):
        failures.append(f'migrate of objects of one original: {guessed.stdout!r}, '
                        f'{guessed.stderr!r}')
    # An unnamed RAM is an object too: a named one put first takes its name.
    with open(old_path, 'w') as out:
        json.dump({'root': {'name': ''}, 'netlist': [{'type': 'RAM'}]}, out)
    with open(new_path, 'w') as out:
        json.dump({'root': {'name': ''}, 'netlist': [{'type': 'RAM', 'name': {'name': 'x'}},
                                                      {'type': 'RAM'}]}, out)
    unnamed = run('diff', '--format', 'json', old_path, new_path, expect=(0, 1))
    rows = sorted(tuple(str(v) for v in r.values()) for r in json.loads(unnamed.stdout))
    if unnamed.returncode != 1 or rows != [('added', 'None', 'ram0', 'x', 'None'),
                                           ('renamed', 'ram0', 'ram1', 'None', 'None'),
                                           ('reused', 'ram0', 'ram0', 'None', 'x')]:
        failures.append(f'an unnamed atom: exit {unnamed.returncode}, {rows}')
    # An original that reads as TSV's "none": its saved map gives the same.
    dash = {'root': {'name': ''}, 'netlist': [{'type': 'DFF', 'name': {'name': '-'}}]}
    with open(old_path, 'w') as out:
        json.dump(dash, out)
    dash['netlist'].insert(0, {'type': 'DFF', 'name': {'name': 'n'}})
    with open(new_path, 'w') as out:
        json.dump(dash, out)
    map_path = os.path.join(scratch, 'old.tsv')
    with open(map_path, 'w') as out:
        out.write(run('map', old_path).stdout.decode())
    by_design = run('diff', old_path, new_path, expect=(0, 1))
    by_map = run('diff', map_path, new_path, expect=(0, 1))
    if (by_map.stdout, by_map.returncode) != (by_design.stdout, by_design.returncode):
        failures.append(f'an original "-": the map gives {by_map.stdout!r}, '
                        f'the design {by_design.stdout!r}')
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


main()
