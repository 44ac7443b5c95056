#!/usr/bin/env bash
# Times varnel's hot paths against their floors (bench/): the Windows build under
# Wine, then the Linux build, both optimized as shipped. Installs what it needs
# first. Arguments go to varnel_bench: [--reps N] [--min-ms M] [--ops K] [--only TEXT].
# VARNEL_PRESETS picks the builds (default: windows linux; the sanitizer build is
# no use for figures). VARNEL_BUILD_ROOT puts the build directories somewhere other
# than build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-env.sh

presets=(${VARNEL_PRESETS:-windows linux})
status=0
for preset in "${presets[@]}"; do
  dir="${VARNEL_BUILD_ROOT:-$root/build}/$preset"
  cmake --preset "$preset" -B "$dir" >/dev/null
  cmake --build "$dir" -j2 --target varnel_bench
  echo "=== $preset"
  if [ "$preset" = windows ]; then
    (cd "$dir/bin" && wine varnel_bench.exe "$@") || status=1
  else
    (cd "$dir/bin" && ./varnel_bench "$@") || status=1
  fi
done
exit $status
