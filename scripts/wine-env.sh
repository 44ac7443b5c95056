# Sourced by the scripts: a Wine prefix made once, and a wineserver kept running so
# each program starts fast.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  wineboot --init >/dev/null 2>&1 </dev/null || true
  timeout 120 wineserver -w || true  # the server that made the prefix ends first
fi
wineserver -p >/dev/null 2>&1 </dev/null || true
# The first program after the server starts also starts Wine's services, which keep
# the streams they inherit as long as the server lives: start them here, on
# /dev/null, rather than on the pipe of whatever reads a program's output.
wineboot >/dev/null 2>&1 </dev/null || true
