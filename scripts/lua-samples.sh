#!/usr/bin/env bash
# Runs the sample programs that ship with Lua's source through varnel (run_sample)
# and compares what they print with the standalone lua5.1, on every preset: the
# Windows build under Wine, the Linux build and the sanitizer build. The same
# comparisons are part of ctest (lua_sample_*); fuzz/CMakeLists.txt lists the
# samples left out and why. Each output pair stays in <build>/fuzz/lua_samples/.
#
# VARNEL_BUILD_ROOT puts the builds in VARNEL_BUILD_ROOT/<preset> instead of the
# presets' own folders; VARNEL_PRESETS picks the presets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/wine-env.sh

for preset in ${VARNEL_PRESETS:-windows linux linux-asan windows-luajit linux-luajit}; do
  dir=build/$preset
  configure=(cmake --preset "$preset")
  if [ -n "${VARNEL_BUILD_ROOT:-}" ]; then
    dir=$VARNEL_BUILD_ROOT/$preset
    configure+=(-B "$dir" -DDIST_DIR=)
  fi
  echo "=== $preset"
  "${configure[@]}" >/dev/null
  cmake --build "$dir" --target run_sample -j2 >/dev/null
  (cd "$dir" && ctest -R '^lua_sample_' --output-on-failure)
done
