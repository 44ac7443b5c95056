#!/usr/bin/env bash
# Long randomized runs of fuzz_driver: on the Linux build under AddressSanitizer
# and UndefinedBehaviorSanitizer, then on the plain Windows build under Wine.
#
#   scripts/fuzz.sh [SECONDS] [SEED]      each target runs for SECONDS (default 300)
#   scripts/fuzz.sh --steps N [SEED]      each target runs N steps
#
# SEED defaults to the time. Sequences are 500 steps long. VARNEL_BUILD_ROOT puts
# the builds in VARNEL_BUILD_ROOT/<preset> instead of the presets' own folders;
# VARNEL_FUZZ_TARGETS picks the presets (default "linux-asan windows"; the LuaJIT
# engine: "windows-luajit linux-luajit"). Exits
# non-zero when any run found a fault or crashed; the driver prints the seed,
# sequence and step to replay it with (fuzz_driver SEED 1 500 --first K --verbose).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=300
steps=0
if [ "${1:-}" = "--steps" ]; then
  steps=${2:?--steps needs a number}
  shift 2
elif [ $# -gt 0 ]; then
  seconds=$1
  shift
fi
seed=${1:-$(date +%s)}
per_sequence=500

source scripts/wine-env.sh
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

status=0
summary=()
for preset in ${VARNEL_FUZZ_TARGETS:-linux-asan windows}; do
  dir=build/$preset
  configure=(cmake --preset "$preset")
  if [ -n "${VARNEL_BUILD_ROOT:-}" ]; then
    dir=$VARNEL_BUILD_ROOT/$preset
    configure+=(-B "$dir" -DDIST_DIR=)
  fi
  echo "=== $preset: building fuzz_driver in $dir"
  "${configure[@]}" >/dev/null
  cmake --build "$dir" --target fuzz_driver -j2 >/dev/null

  exe=$(cd "$dir/bin" && pwd)/fuzz_driver
  run=()
  case "$preset" in
    windows*) exe=$exe.exe; run=(wine) ;;
  esac
  if [ "$steps" -gt 0 ]; then
    args=("$seed" $(( (steps + per_sequence - 1) / per_sequence )) "$per_sequence")
  else
    args=("$seed" 0 "$per_sequence" --seconds "$seconds")
  fi
  work=$(mktemp -d)
  echo "=== $preset: fuzz_driver ${args[*]}"
  set +e
  (cd "$work" && "${run[@]}" "$exe" "${args[@]}") 2>&1 | tee "$work/log" | grep -v '^fixme:'
  rc=${PIPESTATUS[0]}
  set -e
  last=$(grep '^fuzz: seed' "$work/log" | tail -1 || true)
  if [ "$rc" -ne 0 ]; then
    status=1
    summary+=("$preset: FAILED (exit $rc) ${last:-no summary: crashed or stopped by a sanitizer}")
    cp "$work/log" "$dir/fuzz-$seed.log"
    echo "log kept in $dir/fuzz-$seed.log"
  else
    summary+=("$preset: ok: $last")
  fi
  rm -rf "$work"
done

echo "=== summary (seed $seed)"
printf '%s\n' "${summary[@]}"
exit $status
