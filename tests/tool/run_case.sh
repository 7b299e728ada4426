#!/bin/sh
# Runs one command of the zema tool and compares its exit code, and if asked
# its standard output and standard error, with what is expected.
#
# usage: run_case.sh [-i INPUT] [-x EXIT] [-o STDOUT] [-e STDERR] -- COMMAND [ARG...]
#   -i INPUT   file to feed to standard input (default: none)
#   -x EXIT    expected exit code (default 0)
#   -o STDOUT  file with the exact expected standard output (/dev/null: none)
#   -e STDERR  file with the exact expected standard error
# With ZEMA_UPDATE_GOLDEN=1 the expected files are rewritten with what the
# command printed (review the diff before committing it).
set -u
input=/dev/null
expected_exit=0
expected_out=
expected_err=
while [ $# -gt 0 ]; do
  case $1 in
    -i) input=$2; shift 2 ;;
    -x) expected_exit=$2; shift 2 ;;
    -o) expected_out=$2; shift 2 ;;
    -e) expected_err=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "run_case.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

scratch=$(mktemp -d) || exit 2
trap 'rm -rf "$scratch"' EXIT
"$@" <"$input" >"$scratch/out" 2>"$scratch/err"
status=$?

if [ -n "${ZEMA_UPDATE_GOLDEN:-}" ]; then
  [ -n "$expected_out" ] && [ "$expected_out" != /dev/null ] && cp "$scratch/out" "$expected_out"
  [ -n "$expected_err" ] && cp "$scratch/err" "$expected_err"
fi
failed=0
if [ "$status" -ne "$expected_exit" ]; then
  echo "exit code $status, expected $expected_exit"
  failed=1
fi
if [ -n "$expected_out" ] && ! cmp -s "$expected_out" "$scratch/out"; then
  echo "standard output differs from $expected_out:"
  diff -u "$expected_out" "$scratch/out" | head -40
  failed=1
fi
if [ -n "$expected_err" ] && ! cmp -s "$expected_err" "$scratch/err"; then
  echo "standard error differs from $expected_err:"
  diff -u "$expected_err" "$scratch/err" | head -40
  failed=1
fi
if [ "$failed" -ne 0 ]; then
  printf 'command:'
  printf ' %s' "$@"
  printf '\n'
  echo "standard error was:"
  head -20 "$scratch/err"
fi
exit "$failed"
