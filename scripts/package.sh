#!/usr/bin/env bash
# Makes the packages for game makers: dist/varnel-VERSION-win32.zip (Lua 5.1.5)
# from the Windows preset and dist/varnel-VERSION-win32-luajit.zip (LuaJIT with its
# compiler) from windows-luajit-jit, each built, then packed by `cpack --preset`.
# Installs what it needs first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

for preset in windows windows-luajit-jit; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  cpack --preset "$preset"
done
rm -rf dist/_CPack_Packages  # CPack's staging folder
ls -l dist/varnel-*-win32.zip dist/varnel-*-win32-luajit.zip
