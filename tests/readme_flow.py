#!/usr/bin/env python3
"""Runs the commands of a README's worked flow and compares their output.

In each ```console block of the section "A worked flow", a line that starts
with "$ " is a command, run by sh in a scratch directory that sees the
project's examples/ and has zema first on PATH; the lines up to the next
command are its exact standard output.

usage: readme_flow.py README ZEMA_DIRECTORY PROJECT_DIRECTORY
"""
import os
import subprocess
import sys
import tempfile


def steps(readme):
    """(command, expected output) of every command of the flow."""
    section = readme.split('\n## A worked flow\n', 1)[1].split('\n## ', 1)[0]
    found = []
    for block in section.split('```console\n')[1:]:
        for line in block.split('\n```', 1)[0].split('\n'):
            if line.startswith('$ '):
                found.append([line[2:], ''])
            elif found:
                found[-1][1] += line + '\n'
    return found


def main():
    readme, tools, project = sys.argv[1:4]
    with open(readme, encoding='utf-8') as file:
        flow = steps(file.read())
    if not flow:
        sys.exit('no commands in the worked flow')
    environment = dict(os.environ, PATH=os.path.abspath(tools) + os.pathsep + os.environ['PATH'])
    with tempfile.TemporaryDirectory() as scratch:
        os.symlink(os.path.abspath(os.path.join(project, 'examples')),
                   os.path.join(scratch, 'examples'))
        for command, expected in flow:
            result = subprocess.run(['sh', '-c', command], cwd=scratch, env=environment,
                                    capture_output=True, text=True)
            if result.returncode != 0 or result.stdout != expected:
                sys.exit(f'$ {command}\nexit {result.returncode}\n--- expected\n{expected}'
                         f'--- got\n{result.stdout}{result.stderr}')
    print(f'{len(flow)} commands of the worked flow gave their documented output')


if __name__ == '__main__':
    main()
