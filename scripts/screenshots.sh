#!/bin/sh
# Takes the pictures in docs/screenshots/: the Projects, Setup and Settings pages and the welcome
# dialog, from the real application under a virtual X server. The application runs with a prepared
# temporary home (Godot projects, a few AI client configurations, fake python/uv/uvx/claude tools),
# so the real home is never read or written.
set -eu
cd "$(dirname "$0")/.."
root=$PWD

if [ -z "${TAVRIN_SCREENSHOTS_UNDER_XVFB:-}" ]; then
    . scripts/common.sh
    ensure_packages $TAVRIN_PACKAGES $TAVRIN_DISPLAY_PACKAGES
    cmake --preset default >/dev/null
    cmake --build --preset default --target tavrin -j"$(nproc)" >/dev/null
    # A display number of our own: xvfb-run -a races with other X servers starting at the same time.
    display=$((100 + $$ % 800))
    while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
    TAVRIN_SCREENSHOTS_UNDER_XVFB=1 exec xvfb-run -n "$display" -e /dev/stderr -s "-screen 0 2560x1600x24" "$0" "$@"
fi

out="$root/docs/screenshots"
mkdir -p "$out"
tmp=$(mktemp -d)
app_pid=""
cleanup()
{
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

home="$tmp/home"
data="$tmp/data"
bin="$tmp/bin"
mkdir -p "$home" "$data/Tavrin" "$tmp/config" "$bin"

# Godot projects, last saved with Godot 4.3: one with an older addon (enabled), one with the shipped
# addon, one without, and a Godot 3 one that only Godot's own project list names.
project()
{
    mkdir -p "$home/godot/$1"
    printf 'config_version=5\n\n[application]\n\nconfig/name="%s"\nconfig/features=PackedStringArray("4.3", "Forward Plus")\n' \
        "$1" >"$home/godot/$1/project.godot"
}
project space-shooter
mkdir -p "$home/godot/space-shooter/addons"
cp -r addon/tavrin_mcp "$home/godot/space-shooter/addons/tavrin_mcp"
sed -i 's/^version=.*/version="0.9.2"/' "$home/godot/space-shooter/addons/tavrin_mcp/plugin.cfg"
printf '\n[editor_plugins]\n\nenabled=PackedStringArray("res://addons/tavrin_mcp/plugin.cfg")\n' \
    >>"$home/godot/space-shooter/project.godot"
project puzzle-lab
mkdir -p "$home/godot/puzzle-lab/addons"
cp -r addon/tavrin_mcp "$home/godot/puzzle-lab/addons/tavrin_mcp"
project platformer-demo
project tower-defense
mkdir -p "$home/godot/old-rpg"
printf 'config_version=4\n\n[application]\n\nconfig/name="Old RPG"\n' >"$home/godot/old-rpg/project.godot"
mkdir -p "$data/godot"
printf '[%s]\n\nfavorite=true\n\n[%s]\n\nfavorite=false\n\n[%s]\n\nfavorite=false\n' "$home/godot/tower-defense" \
    "$home/godot/puzzle-lab" "$home/godot/old-rpg" >"$data/godot/projects.cfg"
# A project deep in a long path, for the page at its smallest.
long="$home/godot/studio-projects/2026/client-work/very-long-folder-names-are-common-here/prototype-builds/space-shooter-remastered"
project_long()
{
    mkdir -p "$long/addons"
    printf 'config_version=5\n\n[application]\nconfig/name="Space Shooter Remastered"\n' >"$long/project.godot"
    cp -r addon/tavrin_mcp "$long/addons/tavrin_mcp"
}
project_long

# AI clients: Cursor configured, Windsurf registered in the other mode (so it needs an update),
# Claude Desktop present without the entry, Claude Code configured through its command-line tool;
# Cline and Codex absent.
mkdir -p "$home/.cursor" "$home/.codeium/windsurf" "$data/Claude"
cat >"$home/.codeium/windsurf/mcp_config.json" <<'EOF'
{
    "mcpServers": {
        "tavrin": { "args": ["tavrin"], "command": "uvx", "env": { "GODOT_MCP_PERMISSION_MODE": "full_control" } }
    }
}
EOF
cat >"$home/.cursor/mcp.json" <<'EOF'
{
    "mcpServers": {
        "tavrin": {
            "args": ["tavrin"],
            "command": "uvx",
            "env": { "GODOT_MCP_PERMISSION_MODE": "safe_edit" }
        }
    }
}
EOF
echo '{ "mcpServers": {} }' >"$data/Claude/claude_desktop_config.json"
cat >"$home/.claude.json" <<'EOF'
{ "mcpServers": { "tavrin": { "type": "stdio", "command": "uvx", "args": ["tavrin"], "env": { "GODOT_MCP_PERMISSION_MODE": "safe_edit" } } } }
EOF

tool()
{
    printf '#!/bin/sh\n%s\n' "$2" >"$bin/$1"
    chmod +x "$bin/$1"
}
tool python 'echo "Python 3.12.3"'
tool uv 'echo "uv 0.5.11"'
tool uvx 'echo "uv-tool-uvx 0.5.11"'
tool godot 'if [ "$1" = --version ]; then echo "4.3.stable.official.77dcf97d8"; fi'
tool claude 'if [ "$1 $2" = "mcp get" ]; then printf "tavrin:\n  Scope: User config (available in all your projects)\n  Type: stdio\n  Command: uvx\n  Args: tavrin\n"; exit 0; fi; exit 1'

settings()
{
    cat >"$data/Tavrin/settings.json" <<EOF
{
    "active_project": "${1:-$home/godot/space-shooter}",
    "check_updates": false,
    "first_run_done": true,
    "permission_mode": "safe_edit",
    "recent_projects": [
        { "last_opened": "2026-12-06T18:02:11", "name": "space-shooter", "path": "$home/godot/space-shooter" },
        { "last_opened": "2026-12-05T09:41:37", "name": "puzzle-lab", "path": "$home/godot/puzzle-lab" },
        { "last_opened": "2026-12-01T21:15:04", "name": "platformer-demo", "path": "$home/godot/platformer-demo" },
        { "last_opened": "2026-11-28T16:40:52", "name": "old-rpg", "path": "$home/godot/old-rpg" }
    ]
}
EOF
}

start_app()
{
    QT_SCALE_FACTOR="${scale:-1}" HOME="$home" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache" \
        PATH="$bin:/usr/bin:/bin" "$root/build/default/tavrin" >"$tmp/app.log" 2>&1 &
    app_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tavrin$' | head -n 1)
    sleep 1
}

stop_app()
{
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

# The window's own area of the screen, dialogs above it included.
shot()
{
    eval "$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {print "x=" $4} /Absolute upper-left Y/ {print "y=" $4} /Width/ {print "w=" $2} /Height/ {print "h=" $2}')"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$1.png"
    echo "wrote docs/screenshots/$1.png"
}

# Sidebar buttons sit at fixed places: 220 px sidebar, brand row, then one 36 px row per page
# (logical pixels: scaled here).
nav()
{
    s="${scale:-1}"
    xdotool mousemove --window "$window" $((100 * s)) $(($1 * s)) click 1
    xdotool mousemove --window "$window" $((100 * s)) $((560 * s)) # over the empty sidebar: no tool tip
    sleep "$2"
}

# First run: the welcome dialog over an empty Projects page.
echo '{ "check_updates": false }' >"$data/Tavrin/settings.json"
start_app
shot welcome
stop_app

# Returning user: every page.
settings
start_app
shot projects
nav 124 3
shot setup
nav 164 1
shot settings
stop_app

# The Setup page at twice the scale.
settings
scale=2
start_app
nav 124 3
shot setup-2x
stop_app
scale=1

# The Setup page at the smallest window size, with a long project path.
settings "$long"
start_app
xdotool windowsize "$window" 960 640
nav 124 3
shot setup-long-path
stop_app
