# Sourced by the scripts: a Wine prefix made once, and a wineserver kept running so
# each test program starts fast.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  wineboot --init >/dev/null 2>&1 || true
fi
wineserver -p >/dev/null 2>&1 </dev/null &
