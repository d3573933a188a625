#!/bin/sh
# Static checks. "format": every tracked C++ file against .clang-format. "layers": no file includes
# from a layer above its own (src/base < src/core < src/gui < src/app; src/cli over core, beside gui and app). "tidy": clang-tidy with
# .clang-tidy over the default build's compile database (our sources only), then a count of the
# findings per check. Exits non-zero on any finding. Usage: scripts/lint.sh [format|layers|tidy|all]
set -eu
cd "$(dirname "$0")/.."
root=$PWD
. scripts/common.sh
what="${1:-all}"
case "$what" in
format | layers | tidy | all) ;;
*)
    echo "usage: $0 [format|layers|tidy|all]" >&2
    exit 2
    ;;
esac
if [ "$what" = layers ] || [ "$what" = all ]; then
    # Each layer may include its own folder and the ones below it, never one above.
    upward=$(grep -rnE '#include "(core|gui|app|cli)/' src/base || true)
    upward="$upward$(grep -rnE '#include "(gui|app|cli)/' src/core || true)"
    upward="$upward$(grep -rnE '#include "(app|cli)/' src/gui || true)"
    # The command line stands beside the application, over core: no widgets, nothing of the app.
    upward="$upward$(grep -rnE '#include "(gui|app)/' src/cli || true)"
    if [ -n "$upward" ]; then
        echo "$upward"
        echo "layers: the includes above reach into a higher layer" >&2
        exit 1
    fi
    echo "layers: no include reaches into a higher layer"
    [ "$what" = layers ] && exit 0
fi

ensure_packages $TAVRIN_LINT_PACKAGES

if [ "$what" = format ] || [ "$what" = all ]; then
    # shellcheck disable=SC2046 # one argument per file; tracked names hold no blanks
    clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h')
    echo "clang-format: every C++ file is formatted"
fi

if [ "$what" = tidy ] || [ "$what" = all ]; then
    ensure_packages $TAVRIN_PACKAGES
    # The build generates the moc and version headers the sources include.
    build_preset default >/dev/null
    log=build/default/clang-tidy.log
    # run-clang-tidy fails when a file could not be analysed, or when a finding is an error.
    status=0
    run-clang-tidy -quiet -p build/default -j "$(nproc)" "^$root/(src|tests|tools|bench)/.*\.cpp\$" >"$log" 2>&1 ||
        status=$?
    # Findings in our own files only, without colours; a finding in a header is reported once per
    # file that includes it, so each place counts once.
    findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" |
        grep -E "^$root/(src|tests|tools|bench)/[^:]*:[0-9]+:[0-9]+: (warning|error): .* \[[a-z0-9.,-]+\]\$" |
        sort -u || true)
    if [ -z "$findings" ] && [ "$status" -ne 0 ]; then
        tail -n 30 "$log" >&2
        echo "clang-tidy: failed to run (see $log)" >&2
        exit 1
    elif [ -z "$findings" ]; then
        echo "clang-tidy: no findings"
    else
        echo "$findings" | sed "s|^$root/||"
        echo "clang-tidy: $(echo "$findings" | wc -l) findings, per check:"
        echo "$findings" | sed -E 's/.*\[([^]]+)\]$/\1/' | tr ',' '\n' | sort | uniq -c | sort -rn
        exit 1
    fi
fi
