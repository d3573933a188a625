#!/bin/sh
# The Windows installer tried for real under Wine: builds the mingw preset's tavrin.exe and
# tavrin-cli.exe and their NSIS package, installs it silently (/S) into our own Wine prefix, checks
# that the programs, the Qt they need and the Start-menu entry are where the README says, asks the
# installed tavrin-cli its version, starts the installed app offscreen until it writes its log,
# then uninstalls silently and checks that none of the installed files, the shortcut or the
# uninstall registry entry is left. Run scripts/setup-mingw.sh first.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh

export WINEPREFIX="$TAVRIN_WINEPREFIX" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target tavrin tavrin-cli -j"$(nproc)"
cpack --preset nsis-mingw >/dev/null
installer=$(ls -t build/packages/Tavrin-*-win64.exe | head -n 1)
echo "windows: built $installer ($(du -h "$installer" | cut -f1))"

profile=$(ls -d "$WINEPREFIX"/drive_c/users/*/ | grep -v '/Public/$' | head -n 1)
local_app_data="${profile}AppData/Local"
install_dir="$local_app_data/Programs/Tavrin"
shortcut="${profile}AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tavrin Desktop.lnk"
logs="$local_app_data/Tavrin/logs"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'

fail() {
    echo "windows: FAILED: $*" >&2
    "$wineserver" -k 2>/dev/null || true
    exit 1
}

# Waits until every program in the prefix has ended, for two minutes at most.
settle() {
    timeout 120 "$wineserver" -w ||
        fail "Wine programs still running after 120 s: $(ps -eo args | grep -i '[.]exe' | tr '\n' ' ')"
}

# Programs left from earlier runs (Wine's console hosts outlive theirs) would keep the wait below going.
"$wineserver" -k 2>/dev/null || true

# A leftover of an earlier, interrupted check would hide what this install does.
if [ -f "$install_dir/Uninstall.exe" ]; then
    "$wine" "$install_dir/Uninstall.exe" /S "_?=$(winepath -w "$install_dir" 2>/dev/null)" || true
fi
rm -rf "$install_dir" "$logs"

"$wine" "$installer" /S
settle
for file in bin/tavrin.exe bin/tavrin-cli.exe bin/Qt6Core.dll bin/Qt6Widgets.dll bin/Qt6Svg.dll bin/libstdc++-6.dll \
    bin/platforms/qwindows.dll bin/platforms/qoffscreen.dll bin/imageformats/qsvg.dll Uninstall.exe; do
    [ -f "$install_dir/$file" ] || fail "$file is not in $install_dir"
done
[ -f "$shortcut" ] || fail "no Start-menu entry at $shortcut"
"$wine" reg query "$uninstall_key" /s 2>/dev/null | grep -q 'Tavrin' || fail "no uninstall entry under $uninstall_key"
echo "windows: installed into $install_dir ($(find "$install_dir" -type f | wc -l) files), Start-menu entry present"

# The command line answers in the console it was started from.
cli_version=$("$wine" "$install_dir/bin/tavrin-cli.exe" --version 2>/dev/null | tr -d '\r')
case $cli_version in
*[0-9].[0-9]*) echo "windows: the installed tavrin-cli answers: $cli_version" ;;
*) fail "the installed tavrin-cli.exe did not print its version (got: $cli_version)" ;;
esac

# The installed app, as a user would start it, until its log shows it came up.
QT_QPA_PLATFORM=offscreen "$wine" "$install_dir/bin/tavrin.exe" >/dev/null 2>&1 &
app=$!
started=0
for _ in $(seq 1 120); do
    if ls "$logs"/*.log >/dev/null 2>&1 && grep -q . "$logs"/*.log; then
        started=1
        break
    fi
    sleep 0.5
done
"$wineserver" -k 2>/dev/null || true
wait "$app" 2>/dev/null || true
[ "$started" = 1 ] || fail "the installed app wrote no log into $logs within 60 s"
echo "windows: the installed app started and logged: $(head -n 1 "$(ls "$logs"/*.log | head -n 1)")"

"$wine" "$install_dir/Uninstall.exe" /S
settle
# The uninstaller copies itself away before deleting; give it its time.
for _ in $(seq 1 60); do
    [ -e "$install_dir" ] || break
    sleep 0.5
done
[ ! -e "$install_dir" ] || fail "left after uninstall: $(find "$install_dir" | head -n 5 | tr '\n' ' ')"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is left after uninstall"
if "$wine" reg query "$uninstall_key" /s 2>/dev/null | grep -q 'Tavrin'; then
    fail "the uninstall entry is left in the registry"
fi
echo "windows: uninstalled; no program file, shortcut or uninstall entry left"
