#!/usr/bin/env bash
# Builds Free Pascal's i386-win32 cross compiler and the RTL units a Pascal host
# needs, from Debian's fpc-source with Debian's x86-64 compiler, into a cache:
#   $VARNEL_FPC_CACHE (default ~/.cache/varnel/fpc-3.2.2-i386-win32)/
#     ppcross386          the compiler (internal assembler and linker for win32)
#     units/              system, objpas, sysutils, math, windows, heaptrc, ...
# Takes about 20 seconds; does nothing when the cache is complete. Run by
# scripts/setup.sh. Compile with:
#   $cache/ppcross386 -Twin32 -Pi386 -n -Fu$cache/units program.pas
set -euo pipefail
version=3.2.2
cache=${VARNEL_FPC_CACHE:-$HOME/.cache/varnel/fpc-$version-i386-win32}
[ -x "$cache/ppcross386" ] && [ -f "$cache/units/sysutils.ppu" ] && exit 0

src=/usr/share/fpcsrc/$version
host_units=/usr/lib/x86_64-linux-gnu/fpc/$version/units/x86_64-linux/rtl
messages=/usr/lib/x86_64-linux-gnu/fpc/$version/msg/errore.msg
for need in "$src/compiler/pp.pas" "$host_units/system.ppu" "$messages"; do
  [ -e "$need" ] || { echo "fpc-win32: $need missing: install fp-compiler-$version and fpc-source-$version" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$src" "$work/src"
mkdir -p "$work/tools" "$work/cunits" "$cache/units"

# Debian's source lacks the compiler's message tables: make them from the
# messages the installed compiler ships.
(cd "$work/src/compiler" &&
 ppcx64 -n -Fu"$host_units" -FE"$work/tools" utils/msg2inc.pp >/dev/null &&
 "$work/tools/msg2inc" "$messages" msg msg >/dev/null)

(cd "$work/src/compiler" &&
 ppcx64 -n -Fu"$host_units" -Fux86 -Fui386 -Fusystems -Fii386 -Fix86 -Fisystems -dI386 -Sew- -O2 \
   -FE"$work" -FU"$work/cunits" -o"$work/ppcross386" pp.pas >"$work/compiler.log" 2>&1) ||
  { tail -20 "$work/compiler.log" >&2; exit 1; }

r=$work/src/rtl
paths=()
for d in inc i386 x86 win win32 win/wininc objpas objpas/sysutils objpas/classes; do
  paths+=("-Fi$r/$d" "-Fu$r/$d")
done
pc() { "$work/ppcross386" -Twin32 -Pi386 -n -Sg "${paths[@]}" -Fu"$cache/units" -FU"$cache/units" "$@"; }
(cd "$r/win32" &&
 pc -Us system.pp &&
 for unit in "$r/inc/fpintres.pp" sysinitpas.pp "$r/objpas/objpas.pp" "$r/win/sysutils.pp" \
             "$r/objpas/math.pp" "$r/inc/heaptrc.pp"; do
   pc "$unit"
 done) >"$work/rtl.log" 2>&1 || { grep -E 'Fatal|Error' "$work/rtl.log" | tail -10 >&2; exit 1; }
cp "$work/ppcross386" "$cache/ppcross386"
echo "fpc-win32: $cache"
