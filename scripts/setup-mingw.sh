#!/bin/sh
# Prepares the Windows build on Debian: the MinGW-w64 compilers, Wine (to run what is built), NSIS
# (the installer) and Debian's Qt host tools, then the Qt 6.4 for MinGW from the Windows kit
# (qt6-mingw-6.4.2.tar.xz, found in $TAVRIN_WINDOWS_KIT or ../shared/windows beside the
# repository), unpacked once into ~/.cache/tavrin. Prints what it did. Exits with 2 when the kit is
# not at hand.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh

qt="$TAVRIN_QT_MINGW_DIR"
kit=""
if [ ! -d "$qt/lib/cmake/Qt6" ]; then
    for candidate in "${TAVRIN_WINDOWS_KIT:-}" "$PWD/../shared/windows" "$PWD/../../shared/windows"; do
        if [ -n "$candidate" ] && [ -f "$candidate/qt6-mingw-6.4.2.tar.xz" ]; then
            kit=$candidate
            break
        fi
    done
    if [ -z "$kit" ]; then
        echo "mingw: qt6-mingw-6.4.2.tar.xz not found; set TAVRIN_WINDOWS_KIT to the folder that holds it" >&2
        exit 2
    fi
fi

ensure_packages $TAVRIN_PACKAGES $TAVRIN_MINGW_PACKAGES
echo "mingw: Debian packages present: $TAVRIN_MINGW_PACKAGES"

if [ -z "$kit" ]; then
    echo "mingw: Qt for MinGW already in $qt"
else
    rm -rf "$qt.partial"
    mkdir -p "$qt.partial"
    tar -xJf "$kit/qt6-mingw-6.4.2.tar.xz" -C "$qt.partial"
    rm -rf "$qt"
    mv "$qt.partial" "$qt"
    echo "mingw: unpacked Qt for MinGW from $kit into $qt"
fi
# Qt ships no fonts; its offscreen platform (the GUI tests under Wine, which passes no QT_*
# variable on) reads them from lib/fonts.
if [ ! -e "$qt/lib/fonts" ]; then
    ln -s /usr/share/fonts/truetype/dejavu "$qt/lib/fonts"
    echo "mingw: DejaVu fonts linked into $qt/lib/fonts"
fi

# A Wine prefix of our own, made once, so that runs do not touch the user's default one.
if [ ! -f "$TAVRIN_WINEPREFIX/system.reg" ]; then
    WINEPREFIX="$TAVRIN_WINEPREFIX" WINEDEBUG=-all /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    WINEPREFIX="$TAVRIN_WINEPREFIX" /usr/lib/wine/wineserver -w 2>/dev/null || true
    echo "mingw: created the Wine prefix $TAVRIN_WINEPREFIX"
fi
# Wine links Desktop, Documents, Downloads and the like to the Linux home itself when no XDG user
# folders are set: a Windows program cleaning its download folder would empty the home. In our
# prefix they are plain folders.
for profile in "$TAVRIN_WINEPREFIX"/drive_c/users/*/; do
    for folder in Desktop Documents Downloads Music Pictures Videos Templates; do
        if [ -L "$profile$folder" ]; then
            rm "$profile$folder"
            mkdir "$profile$folder"
        fi
    done
done
echo "mingw: Wine prefix $TAVRIN_WINEPREFIX ready, its user folders inside it"
