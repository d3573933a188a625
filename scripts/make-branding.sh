#!/bin/sh
# Regenerates resources/branding/tavrin.png, tavrin.ico and the hicolor icons from tavrin.svg.
# The outputs are committed, so normal builds need no image tools.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/branding"
cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target makebranding >/dev/null
app_id=$(sed -n 's/^set(TAVRIN_APP_ID "\(.*\)")$/\1/p' "$root/CMakeLists.txt")
branding="$root/resources/branding"
rm -rf "$branding/hicolor"
QT_QPA_PLATFORM=offscreen "$build/makebranding" "$branding/tavrin.svg" "$branding/tavrin.png" "$branding/tavrin.ico" \
    "$branding/hicolor" "$app_id"
echo "wrote resources/branding/tavrin.png, tavrin.ico and hicolor/*/apps/$app_id.png"
