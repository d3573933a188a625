#!/bin/sh
# Runs a Windows test program under Wine for ctest. Qt Test writes its log to the debugger, not to
# standard output, when a Windows program has no console, as under Wine with a pipe; the log goes
# to a file instead and is printed from there. Wine's output goes to a file too: the console host
# it starts outlives the program and would hold ctest's pipe open. A program still running after
# $TAVRIN_WINE_TIMEOUT seconds (default 280, below ctest's own limit) is ended with everything in
# the prefix, and what it logged so far is printed all the same.
#
# Under Wine a program that has run child processes now and then stays in its exit for good after
# its last test (seen with tst_gui_clientmenu about one run in three; its threads are gone by then).
# Once the log says the tests finished, the program gets 15 s to exit; after that it is ended, and
# its verdict is the one its log gives.
set -u
program=$1
shift
log=$(mktemp "${TMPDIR:-/tmp}/tavrin-wine-XXXXXX")
out=$(mktemp "${TMPDIR:-/tmp}/tavrin-wine-XXXXXX")
limit=${TAVRIN_WINE_TIMEOUT:-280}
case "$(basename "$program")" in
tst_*) timeout -k 10 "$limit" /usr/lib/wine/wine64 "$program" "$@" -o "$log,txt" >"$out" 2>&1 </dev/null & ;;
*) timeout -k 10 "$limit" /usr/lib/wine/wine64 "$program" "$@" >"$out" 2>&1 </dev/null & ;;
esac
pid=$!
stuck=0
while kill -0 "$pid" 2>/dev/null; do
    if grep -q '^\*\*\*\*\*\*\*\*\* Finished testing of ' "$log"; then
        waited=0
        while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 150 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        if kill -0 "$pid" 2>/dev/null; then
            stuck=1
            kill "$pid" 2>/dev/null
        fi
        break
    fi
    sleep 0.2
done
wait "$pid"
status=$?
cat "$out" "$log"
if [ "$stuck" = 1 ]; then
    echo "(finished its tests but did not exit under Wine; ended)"
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    status=1
    grep -qE '^Totals: [0-9]+ passed, 0 failed,' "$log" && status=0
elif [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "(ended after $limit s)"
    /usr/lib/wine/wineserver -k 2>/dev/null || true
fi
rm -f "$log" "$out"
exit $status
