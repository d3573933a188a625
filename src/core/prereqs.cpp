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
        checkExe(QStringLiteral("uv"), QStringLiteral("uv"), versionArg,
                 QStringLiteral("Install with uv's standalone installer, or: pipx install uv")),
        // A PyPI package named "uvx" exists and is another program: guessing "pip install uvx" goes wrong.
        checkExe(McpServer::program(), McpServer::program(), versionArg,
                 QStringLiteral("Comes with uv (the PyPI package named uvx is a different program)")),
    };
}

QList<Prereqs::InstallCommand> Prereqs::uvInstallCommands()
{
    const InstallCommand pipx{QStringLiteral("With pipx"), QStringLiteral("pipx install uv")};
#ifdef Q_OS_WIN
    return {{QStringLiteral("In PowerShell"),
             QStringLiteral("powershell -ExecutionPolicy ByPass -c \"irm https://astral.sh/uv/install.ps1 | iex\"")},
            pipx};
#else
    return {{QStringLiteral("In a terminal"), QStringLiteral("curl -LsSf https://astral.sh/uv/install.sh | sh")}, pipx};
#endif
}

QString Prereqs::uvInstallPage()
{
    return QStringLiteral("https://docs.astral.sh/uv/getting-started/installation/");
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
        // "uv 0.5.1", "Python 3.12.1": the name is shown beside the version already.
        if (result.version.startsWith(program))
            result.version = result.version.mid(program.size()).trimmed();
        else if (result.version.startsWith(name + QLatin1Char(' '), Qt::CaseInsensitive))
            result.version = result.version.mid(name.size()).trimmed();
        return result;
    }
    if (run.finished && isStoreStub(exe))
        return result;
    result.found = true;
    result.version = QStringLiteral("installed");
    return result;
}
