#!/bin/sh
# Truncates a large input file while `zema convert` reads it, several times
# at different moments. Each run must end with exit code 2, nothing on
# standard output and one "zema: error: ..." line: the file is refused as
# changed while it was read, or as not a design when it was cut before the
# read began or after it ended. Never a signal, as a mapped file gives.
#
# usage: changing_input.sh ZEMA
set -u
zema=$1
scratch=$(mktemp -d) || exit 2
trap 'rm -rf "$scratch"' EXIT
file=$scratch/design.json
status=0
changed=0
for delay in 0.02 0.05 0.1 0.2 0.4; do
  printf '[' >"$file"
  truncate -s 1G "$file"
  "$zema" convert "$file" --max-input-size 2G >"$scratch/out" 2>"$scratch/err" &
  pid=$!
  sleep "$delay"
  truncate -s 100 "$file"
  wait "$pid"
  code=$?
  lines=$(wc -l <"$scratch/err")
  if [ "$code" -ne 2 ] || [ -s "$scratch/out" ] || [ "$lines" -ne 1 ] ||
     ! grep -q "^zema: error: " "$scratch/err"; then
    echo "after ${delay}s: exit code $code, $lines error lines:"
    head -c 300 "$scratch/err"
    status=1
  fi
  grep -q "changed while reading" "$scratch/err" && changed=$((changed + 1))
done
echo "changing_input: $changed of 5 runs saw the file change while it was read"
exit $status
