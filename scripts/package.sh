#!/usr/bin/env bash
# Makes the package for game makers, dist/varnel-VERSION-win32.zip: builds the
# Windows preset, then `cpack --preset windows`. Installs what it needs first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows
cpack --preset windows
rm -rf dist/_CPack_Packages  # CPack's staging folder
ls -l dist/varnel-*-win32.zip
