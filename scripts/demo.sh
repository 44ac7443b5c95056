#!/usr/bin/env bash
# The main job: builds the Windows DLLs (dist/windows/) and runs the bundled example
# script in the stand-in host under Wine, printing every host call. Installs what it
# needs first. Extra arguments replace the example's: SCRIPT [--frames N] [--event
# NAME] [VALUE ...].
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-env.sh

cmake --preset windows >/dev/null
cmake --build --preset windows
echo "built: $(ls dist/windows | tr '\n' ' ')"

args=("$@")
[ ${#args[@]} -gt 0 ] || args=("$root/examples/demo.lua" --frames 4 --event on_frame 4 5.5 apple)
cd build/windows/bin
wine standin_host.exe "${args[@]}"
