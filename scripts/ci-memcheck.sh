#!/usr/bin/env bash
# Memcheck gate: the native build's unit tests (four shards of each runner)
# and fuzz replays, among them the command's readers on every golden, bad and
# example input, each under valgrind memcheck, with the reference host's
# block pools switched off so that valgrind sees every block
# (scripts/memcheck.py says how). It checks the binaries the native tests
# ran, so it needs no build of its own; in CI the native build is done by
# then. Any memory error or definite leak fails the gate.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v valgrind >/dev/null || { echo "memcheck: valgrind is missing (scripts/setup-debian.sh)" >&2; exit 1; }
cmake --preset default >/dev/null
cmake --build --preset default
python3 scripts/memcheck.py build/default
