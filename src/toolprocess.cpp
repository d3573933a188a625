#include "toolprocess.h"

#include <QProcess>

namespace ToolProcess {

ToolResult run(const QString &exe, const QStringList &args, int startTimeoutMs, int finishTimeoutMs, int killWaitMs)
{
    ToolResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(exe, args, QIODevice::ReadWrite);

    if (startTimeoutMs != NoStartWait) {
        if (!process.waitForStarted(startTimeoutMs)) {
            result.errorString = process.errorString();
            return result;
        }
        result.started = true;
    }

    const bool finished = process.waitForFinished(finishTimeoutMs);
    result.started = result.started || process.error() != QProcess::FailedToStart;
    if (finished) {
        result.finished = true;
        result.crashed = process.exitStatus() != QProcess::NormalExit;
        result.exitCode = process.exitCode();
        result.output = process.readAll();
    } else {
        if (process.error() == QProcess::FailedToStart)
            result.errorString = process.errorString();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(killWaitMs);
        }
    }
    return result;
}

} // namespace ToolProcess
