#!/usr/bin/env bash
# Builds and tests every preset: native, 32-bit x86 (under qemu-i386) and
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in ${ZEMA_PRESETS:-default m32 asan}; do
  echo "== preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
