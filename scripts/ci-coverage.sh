#!/usr/bin/env bash
# Coverage gate: builds the coverage preset (gcc --coverage, no optimisation),
# runs the unit tests, the fuzz replays and the tool's tests, then prints line
# and branch coverage of each layer with gcovr and fails when a layer's line
# coverage falls under its threshold. The real-design test is left out: it
# runs only where ../shared/realdesigns exists, and the figures must not
# depend on that. The full per-file report is build/coverage/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

# Line coverage thresholds in percent, a little under what the layers reach.
thresholds=(atm:98 containers:97 host:93 tools:90)

command -v gcovr >/dev/null || { echo "coverage: gcovr is missing (scripts/setup-debian.sh)" >&2; exit 1; }
cmake --preset coverage >/dev/null
cmake --build --preset coverage
# Counts add up across runs: start from none.
find build/coverage -name '*.gcda' -delete
# The command otherwise ends with _exit, before gcov writes out its counts.
ZEMA_FREE_AT_EXIT=1 ZEMA_ALLOC_SWEEP_STRIDE=2 ctest --preset coverage -E '^(realdesigns|tool\.deepest\..*)$'

json=build/coverage/coverage.json
filters=()
for entry in "${thresholds[@]}"; do filters+=(--filter "${entry%%:*}/"); done
gcovr --root . "${filters[@]}" --exclude-throw-branches --exclude-unreachable-branches \
      --json "$json" --txt build/coverage/coverage.txt build/coverage

failed=0
echo "== coverage (line threshold in brackets)"
for entry in "${thresholds[@]}"; do
  layer=${entry%%:*}
  minimum=${entry##*:}
  # The report itself goes to a scratch file: gcovr replaces its output file,
  # which must never be /dev/null.
  summary=$(gcovr --root . --add-tracefile "$json" --filter "$layer/" --print-summary \
                  --txt build/coverage/layer.txt)
  line=$(sed -n 's/^lines: \([0-9.]*\)%.*/\1/p' <<<"$summary")
  branch=$(sed -n 's/^branches: \([0-9.]*\)%.*/\1/p' <<<"$summary")
  verdict=ok
  if awk -v l="$line" -v m="$minimum" 'BEGIN { exit !(l < m) }'; then
    verdict="UNDER THRESHOLD"
    failed=1
  fi
  printf '%-11s lines %5s%% [%s%%]  branches %5s%%  %s\n' "$layer/" "$line" "$minimum" "$branch" "$verdict"
done
((failed == 0)) || { echo "coverage: a layer fell under its threshold; see build/coverage/coverage.txt" >&2; exit 1; }
