#!/usr/bin/env bash
# Builds everything and runs every test: the suite plain, under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer,
# and the Windows x86 DLL with its binary checks.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

for preset in linux asan tsan win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
bash scripts/check-binaries.sh

for preset in linux asan tsan; do
  echo "== tests: $preset"
  ctest --preset "$preset"
done
