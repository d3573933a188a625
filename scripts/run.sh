#!/bin/sh
# Installs what is missing, builds and starts Tavrin Desktop. Without a display it runs the app
# under a virtual X server, saves a screenshot of it and stops it.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    ensure_packages $TAVRIN_PACKAGES
    build_preset default
    exec ./build/default/tavrin
fi

ensure_packages $TAVRIN_PACKAGES $TAVRIN_DISPLAY_PACKAGES
build_preset default
shot="${TAVRIN_SCREENSHOT:-$PWD/tavrin-screenshot.png}"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
    ./build/default/tavrin &
    app=$!
    tries=0
    until xdotool search --onlyvisible --name "^Tavrin$" >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ] || ! kill -0 $app 2>/dev/null; then
            echo "Tavrin did not show its window" >&2
            kill $app 2>/dev/null
            exit 1
        fi
        sleep 0.1
    done
    sleep 1 # let the first frame paint
    import -window root "$1"
    kill $app
    wait $app 2>/dev/null || true
' sh "$shot"
echo "No display here: Tavrin ran under Xvfb; its window is in $shot"
