#!/usr/bin/env bash
# The package as a game maker gets it: builds it with CPack from this build tree,
# unpacks it into an empty folder, checks the file list exactly, reads each
# shipped file's version resource through the Windows API (under Wine) against the
# project's version, checks that no debug information is left, and runs the
# packaged runner on the packaged example from
# that folder, comparing its output with the README's example run. ENGINE luajit:
# the package with LuaJIT and its compiler, whose runner must find the compiler on.
#
#   package_test.sh SOURCE_DIR BUILD_DIR VERSION EMULATOR VERSION_CHECK OBJDUMP ENGINE
set -uo pipefail
src=$1 build=$2 version=$3 emulator=$4 version_check=$5 objdump=$6 engine=$7
source "$src/tests/readme_example.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=varnel-$version-win32
engine_copyright=
if [ "$engine" = luajit ]; then
  name=$name-luajit
  engine_copyright="
./$name/LUAJIT-COPYRIGHT"
fi

if ! cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack failed"
  exit 1
fi
[ -f "$work/out/$name.zip" ] || { fail "no $name.zip: $(ls "$work/out")"; exit 1; }

mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$work/out/$name.zip") || fail "cannot unpack $name.zip"
files=$(cd "$work/unpacked" && find . -type f | sort)
expected="./$name/LICENSE
./$name/LUA-COPYRIGHT$engine_copyright
./$name/examples/demo.lua
./$name/examples/demo_host.lua
./$name/exports.txt
./$name/guide.md
./$name/lua5.1.dll
./$name/nexlink.dll
./$name/varnel-run.exe
./$name/varnel.dll"
[ "$files" = "$expected" ] || { fail "file list differs:"; diff <(echo "$expected") <(echo "$files"); }

# exports.txt names each export the DLL has, and no other.
listed=$(grep -v '^#' "$work/unpacked/$name/exports.txt" | sed 's/(.*//' | sort)
exported=$("$objdump" -p "$work/unpacked/$name/varnel.dll" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && !/\]/ {exit} on {print $NF}' | sort)
[ "$listed" = "$exported" ] || { fail "exports.txt and varnel.dll's exports differ:"; diff <(echo "$listed") <(echo "$exported"); }

cd "$work/unpacked"
"$emulator" "$version_check" "$version" "$name" $([ "$engine" = luajit ] && echo luajit) || fail "version resources differ from $version"
for file in varnel.dll lua5.1.dll nexlink.dll varnel-run.exe; do
  echo "$file: $(stat -c %s "$name/$file") bytes"
  sections=$("$objdump" -h "$name/$file") || fail "$objdump cannot read $file"
  ! grep -q '\.debug' <<<"$sections" || fail "$file still has debug information"
done

grep -m 1 '^## ' "$src/CHANGELOG.md" | grep -q "^## $version " || fail "CHANGELOG.md's first entry is not $version"

example=$(readme_example "$src/README.md")
read -r -a args <<<"$(head -n 1 <<<"$example" | sed 's/^> varnel-run //')"
cd "$name"
out=$("$emulator" ./varnel-run.exe "${args[@]}" 2>&1)
status=$?
expected=$(tail -n +2 <<<"$example")
[ "$out" = "$expected" ] || { fail "the packaged runner's output differs from the README:"; diff <(echo "$expected") <(echo "$out"); }
[ "$status" = 1 ] || fail "the packaged runner's exit status is $status, expected 1"

if [ "$engine" = luajit ]; then
  # No time limit is set, so the compiler stays on. (The file list is checked.)
  echo "draw_text(0, 0, 'compiler on: ' .. tostring(jit.status()))" >jit_status.lua
  out=$("$emulator" ./varnel-run.exe jit_status.lua 2>&1)
  grep -q 'host_draw_text 0, 0, "compiler on: true"' <<<"$out" || { fail "jit.status() is not true in the packaged runner:"; echo "$out"; }
fi

[ "$failures" = 0 ] && echo "package $name: all checks passed"
exit $((failures > 0))
