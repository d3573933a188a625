#include "base/toolprocess.h"

#include "base/processtree.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <atomic>

namespace ToolProcess {

namespace {
std::atomic<double> s_finishTimeScale{1.0};

int scaledFinishLimit(int ms)
{
    const double scale = s_finishTimeScale.load();
    if (scale == 1.0 || ms < 0)
        return ms;
    return qMax(1, static_cast<int>(ms * scale));
}
} // namespace

QString batchArgumentProblem(const QString &exe, const QStringList &args)
{
    const QString suffix = QFileInfo(exe).suffix().toLower();
    if (suffix != QLatin1String("cmd") && suffix != QLatin1String("bat"))
        return {};
    static const QString unsafe = QStringLiteral("\"%!^&|<>\r\n");
    for (const QString &arg : args) {
        for (const QChar c : arg) {
            if (unsafe.contains(c) || c.unicode() == 0)
                return QStringLiteral("%1 is a batch file, and the argument \"%2\" holds a character that "
                                      "cmd.exe would read as part of a command.")
                    .arg(QFileInfo(exe).fileName(), arg.simplified());
        }
    }
    return {};
}

void endAllWhenQuitting()
{
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &ProcessTree::shutdown);
}

void setFinishTimeScale(double factor)
{
    s_finishTimeScale.store(factor > 0 ? factor : 1.0);
}

ToolResult run(const QString &exe, const QStringList &args, int startTimeoutMs, int finishTimeoutMs, int killWaitMs,
               Channels channels)
{
    ToolResult result;
    // Quitting: no new tool, so a worker's remaining steps end at once.
    if (ProcessTree::isShuttingDown()) {
        result.errorString = QStringLiteral("The application is quitting.");
        return result;
    }
#ifdef Q_OS_WIN
    result.errorString = batchArgumentProblem(exe, args);
    if (!result.errorString.isEmpty())
        return result;
#endif
    QProcess process;
    process.setProcessChannelMode(channels == Channels::Merged ? QProcess::MergedChannels : QProcess::SeparateChannels);
    // Declared after the process, so it ends whatever is left of the tree before the process object
    // goes. Killing the tree (a time-out, or the application quitting) also ends the waits below.
    ProcessTree tree(&process);
    process.start(exe, args, QIODevice::ReadWrite);
    tree.started(); // the process id is known once start() returns; without one this does nothing

    if (startTimeoutMs != NoStartWait) {
        if (!process.waitForStarted(startTimeoutMs)) {
            result.errorString = process.errorString();
            if (process.state() != QProcess::NotRunning) {
                tree.kill();
                process.waitForFinished(killWaitMs);
            }
            return result;
        }
        result.started = true;
    }

    const bool finished = process.waitForFinished(scaledFinishLimit(finishTimeoutMs));
    result.started = result.started || process.error() != QProcess::FailedToStart;
    if (finished) {
        result.finished = true;
        result.crashed = process.exitStatus() != QProcess::NormalExit;
        result.exitCode = process.exitCode();
        result.output = process.readAllStandardOutput();
        if (channels == Channels::Separate)
            result.errorOutput = process.readAllStandardError();
    } else {
        if (process.error() == QProcess::FailedToStart)
            result.errorString = process.errorString();
        if (process.state() != QProcess::NotRunning) {
            tree.kill();
            process.waitForFinished(killWaitMs);
        }
    }
    return result;
}

} // namespace ToolProcess
