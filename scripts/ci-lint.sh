#!/usr/bin/env bash
# Lint gate: every C++ file the project tracks is formatted as .clang-format
# says, and every translation unit of the native build is clean under the
# checks of .clang-tidy (warnings fail the gate).
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.h' '*.cpp' '*.h.in')
echo "== clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}"

cmake --preset default >/dev/null
# The generated headers (the version header) must exist for the checks.
cmake --build --preset default --target zema >/dev/null
mapfile -t units < <(git ls-files '*.cpp' | grep -E '^(atm|host|tools|generator|python|bench|examples|tests|fuzz)/' |
                     grep -v -E '^examples/consumer/')
echo "== clang-tidy (${#units[@]} files)"
log=build/default/clang-tidy.log
if ! printf '%s\n' "${units[@]}" |
    xargs -P "$(nproc)" -n 4 clang-tidy -p build/default --quiet --warnings-as-errors='*' \
      >"$log" 2>&1; then
  grep -E 'warning:|error:' "$log" | sort -u >&2 || cat "$log" >&2
  echo "lint: clang-tidy found problems (full output in $log)" >&2
  exit 1
fi
echo "lint: clean"
