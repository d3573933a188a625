#!/bin/sh
# Installs what is missing, builds one preset (default unless named) and runs the whole test
# suite headless. Where npm is available the real claude and codex CLIs are installed into the
# build's cli-cache folder first, for the round-trip tests.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh
preset="${1:-default}"

ensure_packages $TAVRIN_PACKAGES
build_preset "$preset"
if command -v npm >/dev/null 2>&1 && [ -x scripts/install-clis.sh ]; then
    scripts/install-clis.sh "build/$preset/cli-cache"
fi

export QT_QPA_PLATFORM=offscreen
case "$preset" in
asan)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    ;;
tsan)
    # Tools are started from pool threads: fork in a multi-threaded process must not be fatal.
    export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0"
    ;;
esac
ctest --preset "$preset" -j"$(nproc)"
