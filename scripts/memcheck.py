#!/usr/bin/env python3
"""Runs a build's unit tests and fuzz replays under valgrind memcheck.

usage: memcheck.py BUILD_DIR [--shards N] [--jobs N]

The tests come from the build's own ctest list, so that the memcheck gate
needs no build of its own: it checks the very binaries the native tests ran.
Each GoogleTest runner runs in N shards of one process each (valgrind takes
seconds to start a process, more than most cases take), with the environment
and working directory its cases have in ctest; each fuzz replay runs once
over its inputs. The reference host's block pools are switched off
(ZEMA_HOST_POOLS=0) so that valgrind sees every block, and the
allocation-failure sweep fails every 5th allocation. A memory error or a
definite leak makes valgrind exit with 99 and fails the run. The tests of the
command, the Python module and the docs run their programs outside valgrind
and are left to the other builds.
"""
import argparse
import concurrent.futures
import json
import os
import subprocess
import sys
import time

VALGRIND = ['valgrind', '--error-exitcode=99', '--leak-check=full',
            '--errors-for-leak-kinds=definite', '--show-leak-kinds=definite', '-q']
ENVIRONMENT = {'ZEMA_HOST_POOLS': '0', 'ZEMA_ALLOC_SWEEP_STRIDE': '5'}
TIMEOUT = 900


def properties(test):
    found = {}
    for prop in test.get('properties', []):
        found[prop['name']] = prop['value']
    return found


def jobs_of(build, shards):
    """(name, command, environment, directory) of every run: the runners'
    shards, which take longest, before the replays."""
    listing = subprocess.run(['ctest', '--test-dir', build, '--show-only=json-v1'],
                             capture_output=True, check=True, text=True)
    runners = {}
    replays = []
    for test in json.loads(listing.stdout)['tests']:
        command = test.get('command', [])
        props = properties(test)
        env = dict(item.split('=', 1) for item in props.get('ENVIRONMENT', []))
        directory = props.get('WORKING_DIRECTORY', build)
        if any(arg.startswith('--gtest_filter=') for arg in command[1:]):
            runners.setdefault(command[0], (env, directory))
        elif test['name'].startswith('fuzz.replay.'):
            replays.append((test['name'], command, env, directory))
    if not runners or not replays:
        sys.exit(f'memcheck: {build} lists no unit tests or no fuzz replays; is it built?')
    jobs = []
    for runner, (env, directory) in sorted(runners.items()):
        for shard in range(shards):
            shard_env = dict(env, GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(shard))
            jobs.append((f'{os.path.basename(runner)}.shard{shard}', [runner], shard_env,
                         directory))
    return jobs + replays


def run(job):
    name, command, env, directory = job
    start = time.monotonic()
    try:
        result = subprocess.run(VALGRIND + command, cwd=directory, capture_output=True,
                                env={**os.environ, **ENVIRONMENT, **env}, timeout=TIMEOUT)
        code, output = result.returncode, result.stdout + result.stderr
    except subprocess.TimeoutExpired as timeout:
        code, output = 'timeout', (timeout.stdout or b'') + (timeout.stderr or b'')
    return name, code, output.decode(errors='replace'), time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('build')
    parser.add_argument('--shards', type=int, default=4)
    parser.add_argument('--jobs', type=int, default=os.cpu_count() or 2)
    args = parser.parse_args()
    jobs = jobs_of(os.path.abspath(args.build), args.shards)
    failed = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for count, (name, code, output, seconds) in enumerate(pool.map(run, jobs), 1):
            verdict = 'Passed' if code == 0 else f'FAILED ({code})'
            print(f'{count:3}/{len(jobs)} {name:<40} {verdict} {seconds:7.2f} sec', flush=True)
            if code != 0:
                failed.append(name)
                print(output, flush=True)
    if failed:
        sys.exit(f'memcheck: {len(failed)} of {len(jobs)} failed: {" ".join(failed)}')
    print(f'memcheck: all {len(jobs)} passed')


if __name__ == '__main__':
    main()
