#!/bin/sh
# Start-up benchmark: time from process spawn to the first map of the main window, and peak RSS,
# for the real application (returning user, ten recent projects, automatic update checks off)
# against an empty 1060x720 Qt Widgets window, side by side under one virtual X server. A third
# program, the same window with one line of text, shows what loading fonts alone costs.
# Usage: scripts/bench-startup.sh [runs, default 10]
# With TAVRIN_BENCH_CHECK_UPDATES=true the application also sends its start-up update query.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-10}
check_updates=${TAVRIN_BENCH_CHECK_UPDATES:-false}

if [ -z "${TAVRIN_BENCH_UNDER_XVFB:-}" ]; then
    . scripts/common.sh
    ensure_packages $TAVRIN_PACKAGES $TAVRIN_DISPLAY_PACKAGES libx11-dev
    TAVRIN_BUILD_BENCH=ON cmake --preset default >/dev/null
    cmake --build --preset default --target tavrin floor_window startup_probe -j"$(nproc)" >/dev/null
    # A display number of our own: xvfb-run -a races with other X servers starting at the same time.
    display=$((100 + $$ % 800))
    while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
    TAVRIN_BENCH_UNDER_XVFB=1 exec xvfb-run -n "$display" -e /dev/stderr -s "-screen 0 1280x800x24" "$0" "$@"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
home="$tmp/home"
data="$tmp/data"
mkdir -p "$home" "$data/Tavrin" "$tmp/config" "$tmp/bin"

# Ten Godot projects, every other one with the addon installed, all in the recent list.
entries=""
i=1
while [ "$i" -le 10 ]; do
    dir="$home/godot/game-$i"
    mkdir -p "$dir"
    echo 'config_version=5' >"$dir/project.godot"
    if [ $((i % 2)) -eq 1 ]; then
        mkdir -p "$dir/addons/tavrin_mcp"
        printf '[plugin]\nversion="0.9.%s"\n' "$i" >"$dir/addons/tavrin_mcp/plugin.cfg"
    fi
    [ -n "$entries" ] && entries="$entries,"
    entries="$entries{\"last_opened\":\"2026-12-06T10:00:00\",\"name\":\"game-$i\",\"path\":\"$dir\"}"
    i=$((i + 1))
done
cat >"$data/Tavrin/settings.json" <<EOF
{"active_project":"$home/godot/game-1","check_updates":$check_updates,"first_run_done":true,"permission_mode":"safe_edit","recent_projects":[$entries]}
EOF

probe="$root/build/default/bench/startup/startup_probe"
run()
{
    HOME="$home" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache" \
        PATH="$tmp/bin:/usr/bin:/bin" "$probe" 1500 "$@" 2>>"$tmp/stderr.log"
}

# A start that fails or never maps adds no line (so no figure), and says why instead of ending the
# script under set -e.
measure() # result file, program [arguments...]
{
    out=$1
    shift
    run "$@" >>"$out" || echo "a start of $(basename "$1") failed (exit $?): $(tail -n 1 "$tmp/stderr.log")" >&2
}

# One untimed start of each warms the page cache; then they alternate.
run "$root/build/default/tavrin" >/dev/null
floor="$root/build/default/bench/startup/floor_window"
run "$floor" text >/dev/null
: >"$tmp/app.txt"
: >"$tmp/floor.txt"
: >"$tmp/text.txt"
n=0
while [ "$n" -lt "$runs" ]; do
    measure "$tmp/app.txt" "$root/build/default/tavrin"
    measure "$tmp/floor.txt" "$floor"
    measure "$tmp/text.txt" "$floor" text
    n=$((n + 1))
done

median() # column of a result file
{
    awk -v c="$2" '{print $c}' "$1" | sort -n | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else printf "%.1f\n", (v[NR/2]+v[NR/2+1])/2}'
}
ratio() # a b
{
    awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'
}
app_ms=$(median "$tmp/app.txt" 1)
floor_ms=$(median "$tmp/floor.txt" 1)
text_ms=$(median "$tmp/text.txt" 1)
app_kib=$(median "$tmp/app.txt" 2)
floor_kib=$(median "$tmp/floor.txt" 2)
text_kib=$(median "$tmp/text.txt" 2)
bad=$(awk '$3 != 0' "$tmp/app.txt" "$tmp/floor.txt" "$tmp/text.txt" | wc -l)

echo "runs of each: $runs (exit status other than 0: $bad)"
echo "app   start to first map (ms): $(awk '{print $1}' "$tmp/app.txt" | tr '\n' ' ')"
echo "floor start to first map (ms): $(awk '{print $1}' "$tmp/floor.txt" | tr '\n' ' ')"
echo "text  start to first map (ms): $(awk '{print $1}' "$tmp/text.txt" | tr '\n' ' ')"
echo "median start to first map: app $app_ms ms, floor $floor_ms ms, ratio $(ratio "$app_ms" "$floor_ms")x (target <= 2x)"
echo "median peak RSS: app $app_kib KiB, floor $floor_kib KiB, ratio $(ratio "$app_kib" "$floor_kib")x (target <= 1.5x)"
echo "floor with one line of text: $text_ms ms, $text_kib KiB; app against it: $(ratio "$app_ms" "$text_ms")x, $(ratio "$app_kib" "$text_kib")x"
