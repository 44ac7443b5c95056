#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian machine, unpacks
# Lua's upstream source into third_party/ and Debian's LuaJIT source (with Debian's
# patches applied) into deps/. Safe to run again: it skips what is there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export DEBIAN_FRONTEND=noninteractive

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(cmake make g++ g++-multilib g++-mingw-w64-i686 g++-mingw-w64-i686-win32 wine wine32 libgtest-dev
          liblua5.1-0-dev:i386 lua5.1 dpkg-dev xz-utils fp-compiler-3.2.2 fpc-source-3.2.2)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done

lua_dir="$root/third_party/lua-5.1.5"
need_source=0
[ -f "$lua_dir/src/lua.h" ] || need_source=1
# LuaJIT: Debian's `luajit` source package, which follows LuaJIT's own 2.1 branch
# and carries Debian's security fixes. Not under third_party/, which a worktree
# may share with others.
luajit_dir="$root/deps/luajit"
need_luajit=0
[ -f "$luajit_dir/src/luajit.h" ] || need_luajit=1

# deb-src lines made from the machine's own configured sources.
add_deb_src() {
  local out=/etc/apt/sources.list.d/varnel-deb-src
  [ -e "$out.sources" ] || [ -e "$out.list" ] && return 0
  if [ -f /etc/apt/sources.list ] && grep -qE '^deb ' /etc/apt/sources.list; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | sudo_ tee "$out.list" >/dev/null
  fi
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    case "$f" in */varnel-deb-src.sources) continue ;; esac
    grep -qiE '^URIs:.*debian' "$f" || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$f" | sudo_ tee -a "$out.sources" >/dev/null
    echo | sudo_ tee -a "$out.sources" >/dev/null
  done
}

if [ ${#missing[@]} -gt 0 ] || [ $need_source -eq 1 ] || [ $need_luajit -eq 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || sudo_ dpkg --add-architecture i386
  add_deb_src
  sudo_ apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    sudo_ apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

if [ $need_source -eq 1 ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source --download-only lua5.1 >/dev/null)
  tarball=$(ls "$tmp"/lua5.1_5.1.5.orig.tar.gz)
  mkdir -p "$root/third_party"
  tar -xzf "$tarball" -C "$root/third_party"
  rm -rf "$tmp"
fi
if [ $need_luajit -eq 1 ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source --download-only luajit >/dev/null 2>&1)
  rm -rf "$luajit_dir"
  mkdir -p "$root/deps"
  dpkg-source --no-check -x "$(ls "$tmp"/luajit_*.dsc)" "$luajit_dir" >/dev/null
  rm -rf "$tmp"
fi
# Free Pascal's i386-win32 compiler and RTL, for a host written in Pascal.
bash "$root/scripts/fpc-win32.sh"
echo "setup: ready"
