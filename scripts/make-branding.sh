#!/bin/sh
# Regenerates resources/branding/tavrin.png and tavrin.ico from tavrin.svg.
# The outputs are committed, so normal builds need no image tools.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/branding"
cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target makebranding >/dev/null
QT_QPA_PLATFORM=offscreen "$build/makebranding" "$root/resources/branding/tavrin.svg" \
    "$root/resources/branding/tavrin.png" "$root/resources/branding/tavrin.ico"
echo "wrote resources/branding/tavrin.png and tavrin.ico"
