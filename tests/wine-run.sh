#!/bin/sh
# Runs a Windows test program under Wine for ctest. Qt Test writes its log to the debugger, not to
# standard output, when a Windows program has no console, as under Wine with a pipe; the log goes
# to a file instead and is printed from there.
set -u
program=$1
shift
log=$(mktemp "${TMPDIR:-/tmp}/tavrin-wine-XXXXXX")
case "$(basename "$program")" in
tst_*) /usr/lib/wine/wine64 "$program" "$@" -o "$log,txt" ;;
*) /usr/lib/wine/wine64 "$program" "$@" ;;
esac
status=$?
cat "$log"
rm -f "$log"
exit $status
