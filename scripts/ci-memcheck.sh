#!/usr/bin/env bash
# Memcheck gate: builds the memcheck preset (native RelWithDebInfo, the
# reference host built and run without its block pools so that valgrind sees
# every block)
# and runs its tests, the unit tests and the fuzz targets' replays (among them the
# command's readers on every golden, bad and example input), each under
# valgrind memcheck (the preset's test launcher). Any memory error or
# definite leak makes valgrind exit with 99 and fails the test. The
# allocation-failure sweep fails every 5th allocation here instead of every one
# (ZEMA_ALLOC_SWEEP_STRIDE in the test preset); the sanitizer preset runs all.
# The tests of the command, the Python module and the docs run their programs
# outside valgrind, as the native and sanitizer builds do: the test preset
# leaves them out here.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v valgrind >/dev/null || { echo "memcheck: valgrind is missing (scripts/setup-debian.sh)" >&2; exit 1; }
cmake --preset memcheck >/dev/null
cmake --build --preset memcheck
ctest --preset memcheck
