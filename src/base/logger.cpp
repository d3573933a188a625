#include "base/logger.h"

#include "base/userfolders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <memory>

namespace {

// Rotation happens only at start-up, once the log is past this size.
constexpr qint64 s_rotateAbove = 2 * 1024 * 1024;

QFile *s_logFile = nullptr;
// One lock around write, flush and echo, so lines from worker threads never interleave.
// QBasicMutex needs no construction, so a message logged during static destruction is still safe.
QBasicMutex s_logMutex;

const char *levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO ";
    case QtWarningMsg:
        return "WARN ";
    case QtCriticalMsg:
        return "ERROR";
    case QtFatalMsg:
        return "FATAL";
    }
    return "DEBUG";
}

void closeFile()
{
    QMutexLocker locker(&s_logMutex);
    delete s_logFile;
    s_logFile = nullptr;
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QString line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1String(" [") +
                   QLatin1String(levelWord(type)) + QLatin1String("] ") + message;
    if (context.file)
        line += QStringLiteral(" (%1:%2)").arg(QString::fromUtf8(context.file)).arg(context.line);
    line += QLatin1Char('\n');
    const QByteArray bytes = line.toUtf8();

    QMutexLocker locker(&s_logMutex);
    if (!s_logFile)
        return;
    s_logFile->write(bytes);
    s_logFile->flush();
    std::fprintf(stderr, "%s", bytes.constData());
    std::fflush(stderr);
}

} // namespace

QString Logger::logFilePath()
{
    return UserFolders::data() + QLatin1String("/Tavrin/logs/tavrin.log");
}

void Logger::install()
{
    closeFile(); // only when installed again in the same process
    const QString path = logFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());

    const QString oldPath = path + QLatin1String(".old");
    if (QFile::exists(oldPath))
        QFile::remove(oldPath);
    const QFileInfo current(path);
    if (current.exists() && current.size() > s_rotateAbove)
        QFile::rename(path, oldPath);

    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    {
        QMutexLocker locker(&s_logMutex);
        s_logFile = file.release();
    }
    qInstallMessageHandler(messageHandler);
}

void Logger::uninstall()
{
    qInstallMessageHandler(nullptr);
    closeFile();
}
