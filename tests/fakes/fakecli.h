#pragma once

#include "testenv.h"

// Fake `claude` and `codex` tools on the test PATH, a shell wrapper on Unix and a .cmd shim on
// Windows as npm installs the real ones, that keep their registration in a folder of files, so that
// a test can watch, hold and steer every call:
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

// Writes the tools (by default both) onto the test PATH, keeping their state in `state`.
[[nodiscard]] inline bool write(const QString &state, const QStringList &tools = {"claude", "codex"})
{
    if (!QDir().mkpath(state))
        return false;
    // The program itself is tests/fakes/fakecli.cpp.
    const QByteArray program = QDir::toNativeSeparators(QStringLiteral(TAVRIN_FAKE_CLI)).toUtf8();
    for (const QString &tool : tools) {
        const QByteArray call = '"' + program + "\" \"" + state.toUtf8() + "\" " + tool.toUtf8();
        if (TestEnv::writeScript(tool, "exec " + call + " \"$@\"", '@' + call + " %*").isEmpty())
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
