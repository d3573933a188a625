#!/bin/sh
# The Windows test programs run under Wine: builds the mingw preset (the app, both libraries and
# the tests) and runs every test that needs neither shell-script fakes nor /proc (CTest labels
# "posix" and "linux") and is not marked as not passing under Wine yet (label "wine"), one at a
# time, then prints how many test functions passed, failed and were skipped, with each skip's
# reason. The Wine prefix's user profile (AppData, Desktop, Downloads, ...) must come out untouched
# but for its Temp folder: the tests point USERPROFILE, APPDATA and LOCALAPPDATA at temporary
# folders. Run scripts/setup-mingw.sh first.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh

export WINEPREFIX="$TAVRIN_WINEPREFIX" WINEDEBUG=-all
# Wine's console hosts outlive the programs they served and keep the prefix's wineserver up; a
# later "wineserver -w" (the installer check) would wait for them for ever.
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
profile="$WINEPREFIX/drive_c/users"
# Everything but the temporary folder, where the tests' own temporary folders come and go.
state() { find "$profile" -path '*/Temp' -prune -o -printf '%P %s %T@\n' | sort; }

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j"$(nproc)"

before=$(state)
log=build/mingw/windows-tests.log
status=0
# One at a time: a Wine process that hangs would hold the next one's wineserver calls.
ctest --preset mingw --label-exclude "posix|linux|wine" --tests-regex '^tst_' --timeout 300 -V >"$log" 2>&1 ||
    status=$?
grep -E '^ *[0-9]+/[0-9]+ Test +#|tests passed' "$log" | sed 's/^/windows: /'
# QtTest's own lines, from every program: one per test function or data row.
for word in PASS FAIL SKIP XFAIL; do
    printf 'windows: %-5s %s\n' "$word" "$(grep -cE "^[0-9]+: $word!? +: " "$log" || true)"
done
grep -E '^[0-9]+: SKIP +: ' "$log" | sed -E 's/^[0-9]+: SKIP +: /windows: skipped: /' | sort -u
ended=$(grep -c 'did not exit under Wine; ended' "$log" || true)
[ "$ended" = 0 ] || echo "windows: $ended program(s) finished their tests but did not exit under Wine, and were ended"
if [ "$status" -ne 0 ]; then
    grep -E -A3 '^[0-9]+: FAIL! +: ' "$log" | sed 's/^[0-9]*: //' >&2 || true
    echo "windows: FAILED: tests failed under Wine (the whole log: $log)" >&2
    exit 1
fi
after=$(state)
if [ "$before" != "$after" ]; then
    echo "$before" >build/mingw/profile-before.txt
    echo "$after" >build/mingw/profile-after.txt
    diff build/mingw/profile-before.txt build/mingw/profile-after.txt | head -n 20 >&2 || true
    echo "windows: FAILED: the tests changed the Wine prefix's user profile" >&2
    exit 1
fi
echo "windows: the Wine prefix's user profile is as it was"
