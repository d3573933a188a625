#!/bin/sh
# Runs a Windows test program under Wine for ctest. Qt Test writes its log to the debugger, not to
# standard output, when a Windows program has no console, as under Wine with a pipe; the log goes
# to a file instead and is printed from there. Wine's output goes to a file too: the console host
# it starts outlives the program and would hold ctest's pipe open. A program still running after
# $TAVRIN_WINE_TIMEOUT seconds (default 280, below ctest's own limit) is ended with everything in
# the prefix, and what it logged so far is printed all the same.
set -u
program=$1
shift
log=$(mktemp "${TMPDIR:-/tmp}/tavrin-wine-XXXXXX")
out=$(mktemp "${TMPDIR:-/tmp}/tavrin-wine-XXXXXX")
limit=${TAVRIN_WINE_TIMEOUT:-280}
case "$(basename "$program")" in
tst_*) timeout -k 10 "$limit" /usr/lib/wine/wine64 "$program" "$@" -o "$log,txt" >"$out" 2>&1 </dev/null ;;
*) timeout -k 10 "$limit" /usr/lib/wine/wine64 "$program" "$@" >"$out" 2>&1 </dev/null ;;
esac
status=$?
cat "$out" "$log"
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "(ended after $limit s)"
    /usr/lib/wine/wineserver -k 2>/dev/null || true
fi
rm -f "$log" "$out"
exit $status
