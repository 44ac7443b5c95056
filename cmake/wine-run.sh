#!/bin/sh
# Runs a Windows program under Wine for CTest: wine-run.sh PROGRAM [ARG ...]
#
# The first Wine program after the wineserver starts also starts Wine's own service
# processes, which keep the standard streams they inherit for as long as the server
# lives. Were those CTest's pipes, CTest would wait for them to close forever. So the
# program writes into files, and they are copied to the real streams once it ends.
out=$(mktemp) err=$(mktemp) || exit 125
wine "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $rc
