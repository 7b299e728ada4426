#!/usr/bin/env bash
# Fuzz smoke gate: builds the fuzz preset (clang; library, reference host and
# harnesses instrumented; ASan and UBSan) and runs every fuzz target that
# fuzz/CMakeLists.txt declares for a bounded time from a fixed seed, starting
# from its seed corpus, as many targets at a time as there are cores. Fails on
# any crash, leak, timeout, memory blow-up or sanitizer report, and when a
# target loads too few coverage counters to be seeing the library. Inputs that fail are kept under build/fuzz/smoke/NAME/.
#
# Environment: ZEMA_FUZZ_SECONDS (per target, default 25), ZEMA_FUZZ_SEED
# (default 1), ZEMA_FUZZ_RSS_MB (default 2048), ZEMA_FUZZ_MIN_COUNTERS
# (default 1000), ZEMA_FUZZ_JOBS (targets at a time, default the cores).
# docs/fuzzing.md says how to run the targets for longer.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${ZEMA_FUZZ_SECONDS:-25}
seed=${ZEMA_FUZZ_SEED:-1}
rss_mb=${ZEMA_FUZZ_RSS_MB:-2048}
min_counters=${ZEMA_FUZZ_MIN_COUNTERS:-1000}

# Target descriptions are written at configure time; start from none so that a
# removed target is not run from a stale description.
rm -rf build/fuzz/fuzz-targets
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

smoke=build/fuzz/smoke
rm -rf "$smoke"
shopt -s nullglob
descriptions=(build/fuzz/fuzz-targets/*.txt)
if ((${#descriptions[@]} == 0)); then
  echo "fuzz: no targets found in build/fuzz/fuzz-targets" >&2
  exit 1
fi

# Runs one target for its time; its exit status goes to $work/status.
run_target() {
  local description=$1 name executable seed_corpus dict work status=0
  name=$(basename "$description" .txt)
  executable=$(sed -n 's/^executable=//p' "$description")
  seed_corpus=$(sed -n 's/^seed_corpus=//p' "$description")
  dict=$(sed -n 's/^dict=//p' "$description")
  work="$smoke/$name"
  mkdir -p "$work/corpus" "$work/artifacts"
  # New inputs go to the first directory only; the seed corpus stays as it is.
  local args=(-seed="$seed" -max_total_time="$seconds" -rss_limit_mb="$rss_mb" -timeout=10
              -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus")
  local seeds
  read -ra seeds <<<"$seed_corpus"
  args+=("${seeds[@]}")
  [ -n "$dict" ] && args=(-dict="$dict" "${args[@]}")
  "$executable" "${args[@]}" >"$work/fuzz.log" 2>&1 || status=$?
  echo "$status" >"$work/status"
}

parallel=${ZEMA_FUZZ_JOBS:-$(nproc)}
echo "== fuzz ${#descriptions[@]} targets for ${seconds}s each (seed $seed), $parallel at a time"
for description in "${descriptions[@]}"; do
  while (($(jobs -rp | wc -l) >= parallel)); do wait -n || true; done
  run_target "$description" &
done
wait

passed=0
failed=0
for description in "${descriptions[@]}"; do
  name=$(basename "$description" .txt)
  work="$smoke/$name"
  status=$(cat "$work/status" 2>/dev/null || echo "no status")

  counters=$(sed -n 's/^INFO: Loaded .*(\([0-9]*\) inline 8-bit counters).*/\1/p' "$work/fuzz.log" | head -1)
  modules=$(sed -n 's/^INFO: Loaded \([0-9]*\) modules.*/\1/p' "$work/fuzz.log" | head -1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/fuzz.log")
  coverage=$( (grep -o 'cov: [0-9]*' "$work/fuzz.log" || true) | tail -1 | cut -d' ' -f2)
  echo "$name: ${runs:-?} runs (${rate:-?}/s), ${counters:-?} counters in ${modules:-?} modules," \
       "${coverage:-?} edges covered"

  problem=""
  if [ "$status" != 0 ]; then
    problem="libFuzzer exited with $status"
  elif grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$work/fuzz.log"; then
    problem="a sanitizer reported an error"
  elif [ -z "$counters" ] || ((counters < min_counters)); then
    problem="only ${counters:-no} coverage counters (fewer than $min_counters): the library is not instrumented"
  elif [ -z "$runs" ] || ((runs == 0)); then
    problem="no input was run"
  fi
  if [ -n "$problem" ]; then
    echo "FAILED: $name: $problem; log and inputs in $work" >&2
    grep -E -A30 'ERROR:|runtime error:|Test unit written' "$work/fuzz.log" | head -60 >&2 || true
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
done

echo "fuzz: $passed passed, $failed failed"
((failed == 0))
