#!/bin/sh
# Builds the Debian package of the default preset (build/packages/tavrin-desktop_<version>_<arch>.deb)
# and checks it with lintian, which must report no errors.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh

ensure_packages $TAVRIN_PACKAGES $TAVRIN_PACKAGING_PACKAGES
build_preset default
rm -f build/packages/*.deb
cpack --preset deb
deb=$(ls build/packages/*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "lintian $deb:"
# Running as root is fine for a package that is only inspected, not built, here.
lintian --fail-on error --allow-root --info "$deb"
echo "lintian: no errors"
