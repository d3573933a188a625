#!/bin/sh
# Installs what is missing, builds one preset (default unless named) and runs the whole test
# suite headless. The test presets carry the environment (offscreen platform, sanitizer options);
# the suite itself installs the real AI-client CLIs into the build's cli-cache folder where
# npm is available, for the round-trip tests.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh
preset="${1:-default}"

ensure_packages $TAVRIN_PACKAGES $TAVRIN_CHECK_PACKAGES
build_preset "$preset"
ctest --preset "$preset" -j"$(nproc)"
