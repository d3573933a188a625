#include "core/prereqs.h"

#include "base/toolprocess.h"
#include "core/mcpserver.h"

#include <QStandardPaths>

namespace {
constexpr int s_finishMs = 5000;
constexpr int s_killMs = 3000;

// Windows puts "python" stubs in WindowsApps that only point at the Store and exit non-zero;
// such a stub is not a Python.
bool isStoreStub(const QString &exe)
{
    return exe.contains(QLatin1String("/Microsoft/WindowsApps/"), Qt::CaseInsensitive);
}
} // namespace

Prereqs::Prereqs(QObject *parent) : QObject(parent) {}

QList<PrereqResult> Prereqs::check() const
{
    const QStringList versionArg{QStringLiteral("--version")};
    const QString pythonHint = QStringLiteral("Install from python.org");
#ifdef Q_OS_WIN
    const PrereqResult python = checkExe(QStringLiteral("Python"), QStringLiteral("python"), versionArg, pythonHint);
#else
    // Most Linux and macOS systems have only "python3"; a bare "python" may be absent or Python 2.
    PrereqResult python = checkExe(QStringLiteral("Python"), QStringLiteral("python3"), versionArg, pythonHint);
    if (!python.found)
        python = checkExe(QStringLiteral("Python"), QStringLiteral("python"), versionArg, pythonHint);
#endif
    return {
        python,
        checkExe(QStringLiteral("uv"), QStringLiteral("uv"), versionArg, QStringLiteral("Install: pip install uv")),
        checkExe(McpServer::program(), McpServer::program(), versionArg, QStringLiteral("Comes with uv")),
    };
}

PrereqResult Prereqs::checkExe(const QString &name, const QString &program, const QStringList &args,
                               const QString &hint)
{
    PrereqResult result;
    result.name = name;
    result.hint = hint;
    const QString exe = QStandardPaths::findExecutable(program);
    if (exe.isEmpty())
        return result;

    const ToolResult run = ToolProcess::run(exe, args, ToolProcess::NoStartWait, s_finishMs, s_killMs);
    if (run.finished && run.exitCode == 0) {
        result.found = true;
        result.version = QString::fromUtf8(run.output).trimmed();
        if (result.version.startsWith(program))
            result.version = result.version.mid(program.size()).trimmed();
        return result;
    }
    if (run.finished && isStoreStub(exe))
        return result;
    result.found = true;
    result.version = QStringLiteral("installed");
    return result;
}
