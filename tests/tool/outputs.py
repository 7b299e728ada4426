#!/usr/bin/env python3
"""What -o promises, case by case: a file of the user's is never emptied,
half written or mixed, whatever goes wrong, and a word is never cut.

Each case runs `zema` with its files in a scratch directory and checks the
exit code, standard output and error, and that every file of the user's is
byte for byte what it was (or, on success, the complete output), with no
temporary file left beside it.

usage: outputs.py ZEMA DESIGN
  DESIGN: a design of the converted name u_lane_1 (examples/yosys/lanes.json)
"""
import gzip
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

ZEMA, DESIGN = sys.argv[1], sys.argv[2]
failures = []


def run(args, cwd, stdin=None, closed=None):
    """`closed`: a standard descriptor that the run starts without."""
    close = None if closed is None else (lambda: os.close(closed))
    if stdin is None:
        return subprocess.run([ZEMA, *args], cwd=cwd, stdin=subprocess.DEVNULL,
                              capture_output=True, preexec_fn=close)
    with open(os.path.join(cwd, stdin), 'rb') as source:
        return subprocess.run([ZEMA, *args], cwd=cwd, stdin=source, capture_output=True,
                              preexec_fn=close)


def check(name, condition, detail=''):
    if not condition:
        failures.append(f'{name}: {detail}')


def refused(name, result, line_start):
    """One error line starting with `line_start`, exit 2, no standard output."""
    lines = result.stderr.decode(errors='replace').splitlines()
    stdout = result.stdout or b''
    check(name, result.returncode == 2 and not stdout and len(lines) == 1 and
          lines[0].startswith('zema: error: ' + line_start),
          f'exit {result.returncode}, stdout {stdout[:60]!r}, stderr {lines}')


def case(name, files, args, stdin=None, expect=None, translated=None, closed=None, code=0):
    """Runs `args` among `files` (name -> bytes); `expect` is the start of the
    error line, or None for a run that exits with `code` (1: a failure that
    writes nothing, reports aside); on success `translated` (file -> bytes)
    is what those files must hold. Every other file must be unchanged."""
    scratch = tempfile.mkdtemp()
    try:
        shutil.copy(DESIGN, os.path.join(scratch, 'd.json'))
        for path, data in files.items():
            with open(os.path.join(scratch, path), 'wb') as out:
                out.write(data)
        result = run(args, scratch, stdin, closed)
        if expect is None:
            check(name, result.returncode == code and (code == 0 or not result.stdout),
                  f'exit {result.returncode}: {result.stderr.decode(errors="replace")}')
        else:
            refused(name, result, expect)
        for path, data in files.items():
            with open(os.path.join(scratch, path), 'rb') as read:
                now = read.read()
            wanted = (translated or {}).get(path, data)
            check(name, now == wanted, f'{path} holds {now[:60]!r}, not {wanted[:60]!r}')
        left = sorted(set(os.listdir(scratch)) - set(files) - {'d.json'})
        check(name, not left, f'left behind: {left}')
    finally:
        shutil.rmtree(scratch)


REPORT = b'path u_lane_1/a_auto_ff_cc_266_slice_80/aq 0.12\n'
ORIGINAL = b'path /u_lane/$auto$ff.cc:266:slice$80/Q 0.12\n'
OLD = b'an earlier output, kept until a run succeeds\n'

# The output is an input, standard input included: refused before anything
# is opened for writing.
case('stdin text over -o', {'r.txt': REPORT}, ['translate', 'd.json', '-', '-o', 'r.txt'],
     stdin='r.txt', expect='<stdin>: is also the output')
case('stdin design over -o', {'n.json': open(DESIGN, 'rb').read()},
     ['translate', '-', 'd.json', '-o', 'n.json'], stdin='n.json',
     expect='<stdin>: is also the output')
case('import over its netlist', {'n.json': open(DESIGN, 'rb').read()},
     ['import-yosys', '-', '-o', 'n.json'], stdin='n.json', expect='<stdin>: is also the output')
case('path over -o', {'r.txt': REPORT}, ['translate', 'd.json', 'r.txt', '-o', 'r.txt'],
     expect='r.txt: is also the output')
case('a --liberty file over -o', {'r.txt': REPORT, 'c.lib': b'library (c) { }\n'},
     ['translate', 'd.json', '--liberty', 'c.lib', 'r.txt', '-o', 'c.lib'],
     expect='c.lib: is also the output')
case('an empty -o', {'r.txt': REPORT}, ['translate', 'd.json', 'r.txt', '-o', ''],
     expect='command line: an empty path names no file')
case('an empty input path', {}, ['convert', ''], expect='command line: an empty path names no file')
# A file whose directory takes no new file, where its new version is made.
case('a file of /proc', {'r.txt': REPORT}, ['translate', 'd.json', 'r.txt', '-o', '/proc/version'],
     expect='/proc/version: cannot open: ' +
     ('cannot create a file in /proc/ (No such file or directory)' if os.geteuid() == 0
      else 'Permission denied'))
# A failure leaves the earlier output as it was.
case('bad design', {'out.txt': OLD, 'bad.json': b'{"root": '},
     ['translate', 'bad.json', '-o', 'out.txt'], expect='bad.json:1:')
case('missing text', {'out.txt': OLD}, ['translate', 'd.json', 'none.txt', '-o', 'out.txt'],
     expect='none.txt: cannot open')
case('a later text that cannot be read', {'out.txt': OLD, 'r.txt': REPORT * 100000},
     ['translate', 'd.json', 'r.txt', '.', '-o', 'out.txt'], expect='.: cannot read: Is a directory')
case('import of a bad netlist', {'out.json': OLD, 'bad.json': b'{"modules": 3}'},
     ['import-yosys', 'bad.json', '-o', 'out.json'], expect='bad.json: modules: expected an object')
# Standard output: a text that fails after much of it was translated leaves
# nothing written there.
case('a late error on standard output', {'r.txt.gz': gzip.compress(REPORT * 200000)[:20000]},
     ['translate', 'd.json', 'r.txt.gz'], expect='r.txt.gz: ')
# Success replaces the earlier output whole.
case('success', {'out.txt': OLD, 'r.txt': REPORT}, ['translate', 'd.json', 'r.txt', '-o', 'out.txt'],
     translated={'out.txt': ORIGINAL})
# Under --unknown error a word left as it is fails the run: exit 1, and
# neither -o nor standard output is written.
for output in (['-o', 'out.txt'], []):
    case('--unknown error ' + ' '.join(output), {'out.txt': OLD, 'r.txt': REPORT + b'a/nothing\n'},
         ['translate', '--unknown', 'error', '--to', 'original', 'd.json', 'r.txt', *output],
         code=1)
# A compressed report is read through the input layer, not copied as bytes.
case('a gzip report', {'r.txt.gz': gzip.compress(REPORT), 'out.txt': b''},
     ['translate', 'd.json', 'r.txt.gz', '-o', 'out.txt'], translated={'out.txt': ORIGINAL})
# A word longer than the buffer passes whole, even where it ends in a name.
LONG = b'x' * (1 << 20) + b'u_lane_1/a_auto_ff_cc_266_slice_80'
case('a word longer than the buffer',
     {'r.txt': LONG + b' u_lane_1/a_auto_ff_cc_266_slice_80\n', 'out.txt': b''},
     ['translate', 'd.json', 'r.txt', '-o', 'out.txt'],
     translated={'out.txt': LONG + b' /u_lane/$auto$ff.cc:266:slice$80\n'})

# A standard descriptor closed by the caller is never taken by a temporary:
# the text is not read from it, nor the output copied onto it.
case('closed standard input', {'out.txt': OLD}, ['translate', 'd.json', '-o', 'out.txt'],
     closed=0, expect='<stdin>: cannot read: Bad file descriptor')
case('closed standard output', {'r.txt': LONG + b'\n'}, ['migrate', 'd.json', 'd.json', 'r.txt'],
     closed=1, expect='<stdout>: cannot write: Bad file descriptor')

# -o through symbolic links writes the file they lead to, even one that is
# not there yet, and leaves the links as they were.
scratch = tempfile.mkdtemp()
try:
    def at(name):
        return os.path.join(scratch, name)
    shutil.copy(DESIGN, at('d.json'))
    with open(at('r.txt'), 'wb') as out:
        out.write(REPORT)
    with open(at('target.txt'), 'wb') as out:
        out.write(OLD)
    os.mkdir(at('sub'))
    os.symlink('../target.txt', at('sub/link.txt'))
    os.symlink('sub/link.txt', at('link.txt'))
    os.symlink('later.txt', at('dangling.txt'))
    for link, target in (('link.txt', 'target.txt'), ('dangling.txt', 'later.txt')):
        result = run(['translate', 'd.json', 'r.txt', '-o', link], scratch)
        written = None
        if os.path.exists(at(target)):
            with open(at(target), 'rb') as read:
                written = read.read()
        check(f'-o {link}', result.returncode == 0 and os.path.islink(at(link)) and
              written == ORIGINAL, f'exit {result.returncode}, {target} holds {(written or b"")[:60]!r}')
finally:
    shutil.rmtree(scratch)

# A full disk: the error names the output.
if os.path.exists('/dev/full'):
    result = subprocess.run([ZEMA, 'import-yosys', DESIGN, '-o', '/dev/full'], capture_output=True)
    refused('a full disk', result, '/dev/full: cannot write: No space left on device')
    for args in (['--version'], ['convert', '--help']):
        with open('/dev/full', 'wb') as full:
            result = subprocess.run([ZEMA, *args], stdout=full, stderr=subprocess.PIPE)
        refused(' '.join(args) + ' on a full disk', result,
                '<stdout>: cannot write: No space left on device')

# The file size limit (ulimit -f): the write fails, the run says so in its
# line, and the temporary is gone.
scratch = tempfile.mkdtemp()
try:
    with open(os.path.join(scratch, 'r.txt'), 'wb') as out:
        out.write(REPORT * 200000)
    # 4 MiB: room for what an instrumented build writes at exit, not for the
    # 9 MB of output.
    result = subprocess.run(
        [ZEMA, 'translate', DESIGN, 'r.txt', '-o', 'out.txt'], cwd=scratch, capture_output=True,
        preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 22, 1 << 22)))
    refused('the file size limit', result, 'out.txt: cannot write: File too large')
    check('the file size limit', sorted(os.listdir(scratch)) == ['r.txt'], os.listdir(scratch))
finally:
    shutil.rmtree(scratch)

# Two runs that write one file at once: each leaves it complete.
scratch = tempfile.mkdtemp()
try:
    report = os.path.join(scratch, 'r.txt')
    with open(report, 'wb') as out:
        out.write(REPORT * 200000)
    target = os.path.join(scratch, 'out.txt')
    runs = [subprocess.Popen([ZEMA, 'translate', DESIGN, report, '-o', target]) for _ in range(3)]
    codes = [run.wait() for run in runs]
    with open(target, 'rb') as read:
        check('two writers', codes == [0, 0, 0] and read.read() == ORIGINAL * 200000,
              f'exit codes {codes}, or a mixed output')
    check('two writers', sorted(os.listdir(scratch)) == ['out.txt', 'r.txt'], os.listdir(scratch))
finally:
    shutil.rmtree(scratch)

for failure in failures:
    print(failure)
print(f'outputs: {len(failures)} failures')
sys.exit(1 if failures else 0)
