#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

// The kill trials: this test program, started with `arguments`, repeats an operation and prints a
// line after each; once the first line is out it is killed at a random moment (SIGKILL on Unix,
// TerminateProcess on Windows: no clean-up runs either way), so that most kills land inside an
// operation.
namespace KillTrial {

// Empty when the child ran and was killed so; else what went wrong.
inline QString run(const QStringList &arguments)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForStarted(5000) || !child.waitForReadyRead(10000))
        return "The loop did not start: " + QString::fromUtf8(child.readAllStandardError());
    // Not a wait for anything: the kill lands at a random moment of the operations.
    QThread::usleep(QRandomGenerator::global()->bounded(20000));
    child.kill();
    if (!child.waitForFinished(5000) || child.exitStatus() != QProcess::CrashExit)
        return "The loop was not killed: " + QString::fromUtf8(child.readAllStandardError());
    return {};
}

} // namespace KillTrial
