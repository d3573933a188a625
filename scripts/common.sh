# Shared by the scripts: Debian packages the build, the tests, the screenshots, the package and the
# static checks need.
# shellcheck shell=sh

TAVRIN_PACKAGES="cmake g++ make qt6-base-dev qt6-svg-dev libgl-dev fonts-inter fonts-jetbrains-mono python3-minimal"
TAVRIN_DISPLAY_PACKAGES="xvfb xauth x11-utils xdotool imagemagick"
# The test suite validates the installed desktop entry and AppStream metadata.
TAVRIN_CHECK_PACKAGES="desktop-file-utils appstream"
# cpack -G DEB computes dependencies with dpkg-shlibdeps (dpkg-dev, file); lintian checks the result.
TAVRIN_PACKAGING_PACKAGES="dpkg-dev file lintian"
TAVRIN_LINT_PACKAGES="clang-format clang-tidy"
# The Windows build from Linux (scripts/setup-mingw.sh): compilers, Qt's host tools, Wine, NSIS.
TAVRIN_MINGW_PACKAGES="g++-mingw-w64-x86-64-posix mingw-w64-tools qt6-base-dev-tools wine64 nsis ninja-build fonts-dejavu-core"
# Where the Qt for MinGW and our Wine prefix live; the mingw presets name the same folders.
TAVRIN_QT_MINGW_DIR="$HOME/.cache/tavrin/qt6-mingw-6.4.2"
TAVRIN_WINEPREFIX="$HOME/.cache/tavrin/wine"

# Installs the packages that are missing (as root), or prints the apt-get line and stops.
ensure_packages()
{
    missing=""
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $package"
        fi
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing:$missing"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq$missing >/dev/null
    else
        echo "These Debian packages are missing. Install them as root, then run this command again:"
        echo "  sudo apt-get install -y$missing"
        exit 1
    fi
}

# Configures and builds one preset (default, debug, asan, tsan).
build_preset()
{
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j"$(nproc)"
}
