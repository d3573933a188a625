#!/bin/sh
# Static checks. "format": every tracked C++ file against .clang-format. "layers": no file includes
# from a layer above its own (src/base < src/core < src/gui < src/app; src/cli over core, beside gui and app). "tidy": clang-tidy with
# .clang-tidy over the default build's compile database (our sources only), then a count of the
# findings per check. "tidy-changed": the same for the files changed since the commit named in
# .ci/tidy-base (the last one the whole tree was tidied at, with no finding), and for the files that
# include a changed header; the whole tree when that commit is unknown. Exits non-zero on any
# finding. Usage: scripts/lint.sh [format|layers|tidy|tidy-changed|all]
set -eu
cd "$(dirname "$0")/.."
root=$PWD
. scripts/common.sh
what="${1:-all}"
case "$what" in
format | layers | tidy | tidy-changed | all) ;;
*)
    echo "usage: $0 [format|layers|tidy|tidy-changed|all]" >&2
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

files="(src|tests|tools|bench)/.*\.cpp"
if [ "$what" = tidy-changed ]; then
    base=$(cat .ci/tidy-base 2>/dev/null || true)
    if [ -n "$base" ] && git cat-file -e "$base^{commit}" 2>/dev/null; then
        changed=$(git diff --name-only "$base" -- src tests tools bench | grep -E '\.(cpp|h)$' || true)
        list=$(echo "$changed" | grep '\.cpp$' || true)
        for header in $(echo "$changed" | grep '\.h$' || true); do
            list="$list
$(git grep -lE "#include [\"<]([a-z]+/)?$(basename "$header")[\">]" -- src tests tools bench | grep '\.cpp$' || true)"
        done
        list=$(echo "$list" | sort -u | while read -r file; do [ ! -f "$file" ] || echo "$file"; done)
        if [ -z "$list" ]; then
            echo "clang-tidy: no C++ file changed since $base"
            exit 0
        fi
        echo "clang-tidy: $(echo "$list" | wc -l) files changed since $base, or including a changed header"
        files="($(echo "$list" | sed 's/\./\\./g' | paste -sd '|'))"
    else
        echo "clang-tidy: the commit in .ci/tidy-base is not here; every file is checked"
    fi
    what=tidy
fi

if [ "$what" = tidy ] || [ "$what" = all ]; then
    ensure_packages $TAVRIN_PACKAGES
    # The build generates the moc and version headers the sources include.
    build_preset default >/dev/null
    log=build/default/clang-tidy.log
    # run-clang-tidy fails when a file could not be analysed, or when a finding is an error.
    status=0
    run-clang-tidy -quiet -p build/default -j "$(nproc)" "^$root/$files\$" >"$log" 2>&1 ||
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
