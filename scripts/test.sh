#!/usr/bin/env bash
# Runs every test: the Windows build under Wine, the Linux build, and the Linux build
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows and Linux
# builds again on the LuaJIT engine. Installs what it needs first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-env.sh

presets=(${VARNEL_PRESETS:-windows linux linux-asan windows-luajit linux-luajit windows-luajit-jit linux-luajit-jit})
for preset in "${presets[@]}"; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # Each test has its own limit (CMakePresets.json); this one is for CTest itself.
  timeout --kill-after=30 1800 ctest --preset "$preset"
done
