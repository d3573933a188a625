# bash completion for tavrin-cli
_tavrin_cli()
{
    local cur prev words cword
    _init_completion || return

    local clients="claude-code claude-desktop cursor windsurf cline codex vscode copilot-cli gemini qwen opencode zed"
    case $prev in
    --project)
        _filedir -d
        return
        ;;
    --client)
        mapfile -t COMPREPLY < <(compgen -W "$clients" -- "$cur")
        return
        ;;
    --mode)
        mapfile -t COMPREPLY < <(compgen -W "safe_edit full_control" -- "$cur")
        return
        ;;
    --timeout)
        return
        ;;
    esac

    local command=${words[1]-} sub=${words[2]-} options=""
    if ((cword == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "status clients mode addon plugin server godot projects backups --help --version" -- "$cur")
        return
    fi
    if ((cword == 2)); then
        local subs=""
        case $command in
        clients) subs="list add remove" ;;
        addon) subs="install update uninstall" ;;
        plugin) subs="enable disable" ;;
        server) subs="test" ;;
        godot) subs="find" ;;
        projects) subs="list" ;;
        backups) subs="list restore" ;;
        mode) subs="safe_edit full_control" ;;
        esac
        if [[ -n $subs ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$subs --help" -- "$cur")
            return
        fi
    fi
    case "$command $sub" in
    status*) options="--project --json" ;;
    "clients list" | "godot find" | "projects list") options="--json" ;;
    "clients add") options="--client --all --mode --dry-run --json" ;;
    "clients remove") options="--client --all --dry-run --yes --json" ;;
    mode*) options="--dry-run --json" ;;
    "addon install" | "addon update" | "plugin enable" | "plugin disable") options="--project --dry-run --json" ;;
    "addon uninstall") options="--project --dry-run --yes --json" ;;
    "server test") options="--timeout --json" ;;
    "backups list") options="--client --json" ;;
    "backups restore") options="--client --yes" ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options --help" -- "$cur")
} &&
    complete -F _tavrin_cli tavrin-cli
