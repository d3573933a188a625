#pragma once

#include "testenv.h"

// Fake `claude` and `codex` tools on the test PATH that keep their registration in a folder of
// files, so that a test can watch, hold and steer every call:
// - each call is logged to <state>/<tool>.calls as "<arg><arg>...", and a query made while an
//   operation of any tool runs is logged with a "<busy>" first;
// - while <state>/hold-<tool>-<sub-command> exists, that call waits (at most 20 s), and while
//   hold-get-<n> exists, so does the n-th query of that tool; <state>/<tool>-<sub>-running marks an
//   add or remove in progress;
// - with <state>/<tool>-fail, add and remove fail, printing "  <tool>: <sub> failed  ";
// - with <state>/<tool>-<sub>.out, that sub-command prints it (and <tool>-<sub>.err to standard
//   error) and exits with the code in <tool>-<sub>.code ("hang": never ends), instead of the below;
// - otherwise add records the mode in <state>/<tool>-on, remove deletes that, and the query answers
//   from it as the real tool would (claude also keeps ~/.claude.json as the real one does).
// Queries write a warning to standard error, as Codex does.
namespace FakeCli {

inline QByteArray script(const QString &state)
{
    return "S='" + state.toUtf8() + R"sh('; N=${0##*/}; A=$2; C=$S/$N.calls
hold() { i=0; while [ -e "$S/hold-$1" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; }
E() { printf '{"command":"uvx","args":["tavrin"],"env":{"GODOT_MCP_PERMISSION_MODE":"%s"}}' "$1"; }
{ [ "$A" = get ] && ls "$S"/*-running >/dev/null 2>&1 && printf '<busy>'; printf '<%s>' "$@"; echo; } >> "$C"
[ "$A" = get ] && echo 'WARNING: proceeding, even though we could not update PATH' >&2
if [ "$A" = get ]; then hold "get-$(grep -c '<get>' "$C")"; hold "$N-get"
else touch "$S/$N-$A-running"; hold "$N-$A"; rm -f "$S/$N-$A-running"; fi
if [ -e "$S/$N-$A.out" ]; then cat "$S/$N-$A.out"; [ -e "$S/$N-$A.err" ] && cat "$S/$N-$A.err" >&2
  X=$(cat "$S/$N-$A.code" 2>/dev/null); [ "$X" = hang ] && exec sleep 30; exit ${X:-0}; fi
case $A in
get) [ -e "$S/$N-on" ] || exit 1; M=$(cat "$S/$N-on")
  if [ $N = codex ]; then printf '{"name":"tavrin","transport":%s}' "$(E "$M")"
  else printf 'tavrin:\n  Scope: User config\n  Command: uvx\n  Args: tavrin\n  Environment:\n    GODOT_MCP_PERMISSION_MODE=%s\n' "$M"; fi ;;
add|remove) [ -e "$S/$N-fail" ] && echo "  $N: $A failed  " && exit 1
  M=; for a; do case $a in GODOT_MCP_PERMISSION_MODE=*) M=${a#*=};; esac; done
  if [ $A = add ]; then printf %s "$M" > "$S/$N-on"; else rm -f "$S/$N-on"; fi
  if [ $N = claude ] && [ $A = add ]; then printf '{"mcpServers":{"tavrin":%s}}' "$(E "$M")" > "$HOME/.claude.json"; fi
  if [ $N = claude ] && [ $A = remove ]; then echo '{}' > "$HOME/.claude.json"; fi ;;
esac
exit 0)sh";
}

// Writes the tools (by default both) onto the test PATH, keeping their state in `state`.
[[nodiscard]] inline bool write(const QString &state, const QStringList &tools = {"claude", "codex"})
{
    if (!QDir().mkpath(state))
        return false;
    for (const QString &tool : tools) {
        if (TestEnv::writeTool(tool, script(state)).isEmpty())
            return false;
    }
    return true;
}

// The calls a tool was given, one "<arg>..." line each.
[[nodiscard]] inline QString calls(const QString &state, const QString &tool)
{
    return QString::fromUtf8(TestEnv::readFile(state + QLatin1Char('/') + tool + QLatin1String(".calls")));
}

// A sub-command's answer for the next calls: standard output, exit code ("hang" or a number),
// standard error.
[[nodiscard]] inline bool answer(const QString &state, const QString &tool, const QString &sub, const QByteArray &out,
                                 const QByteArray &code = "0", const QByteArray &err = {})
{
    const QString base = state + QLatin1Char('/') + tool + QLatin1Char('-') + sub;
    return TestEnv::writeFile(base + QLatin1String(".out"), out) &&
           TestEnv::writeFile(base + QLatin1String(".code"), code) &&
           TestEnv::writeFile(base + QLatin1String(".err"), err);
}

} // namespace FakeCli
