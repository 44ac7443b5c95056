#!/usr/bin/env bash
# Times varnel's hot paths against their floors (bench/), then a game-like frame:
# the Windows build under Wine and the Linux build, each on Lua 5.1.5 and on
# LuaJIT, optimized as shipped; at the end, the game-like frame of the two engines
# side by side. Installs what it needs first. Arguments go to varnel_bench:
# [--reps N] [--min-ms M] [--ops K] [--only TEXT] [--frames F].
# VARNEL_PRESETS picks the builds (default: windows windows-luajit linux
# linux-luajit; the sanitizer build is no use for figures). VARNEL_BUILD_ROOT puts
# the build directories somewhere other than build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-env.sh

presets=(${VARNEL_PRESETS:-windows windows-luajit linux linux-luajit})
status=0
out=$(mktemp -d)
for preset in "${presets[@]}"; do
  dir="${VARNEL_BUILD_ROOT:-$root/build}/$preset"
  cmake --preset "$preset" -B "$dir" >/dev/null
  cmake --build "$dir" -j2 --target varnel_bench
  echo "=== $preset"
  case "$preset" in
    windows*) (cd "$dir/bin" && wine varnel_bench.exe "$@") | tee "$out/$preset" || status=1 ;;
    *) (cd "$dir/bin" && ./varnel_bench "$@") | tee "$out/$preset" || status=1 ;;
  esac
done

# The game-like frame on both engines of a build, side by side.
for preset in "${presets[@]}"; do
  jit="$out/$preset-luajit"
  [ -f "$jit" ] && grep -q '^game ' "$out/$preset" || continue
  echo "=== game-like frame, $preset build: ms per frame"
  printf "%-12s %10s %10s %9s\n" part "Lua 5.1.5" LuaJIT speed-up
  join <(grep '^game ' "$out/$preset" | awk '{print $2, $3}' | sort) \
       <(grep '^game ' "$jit" | awk '{print $2, $3}' | sort) |
    awk '{printf "%-12s %10s %10s %8.1fx\n", $1, $2, $3, ($3 > 0 ? $2 / $3 : 0)}'
done
rm -rf "$out"
exit $status
