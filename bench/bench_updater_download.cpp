// Peak memory of one large installer download: a 200 MB body, produced on the fly by a local
// HTTP server, downloaded by Updater into the (temporary) download folder.

#include "core/updater.h"
#include "localhttpserver.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr qint64 s_size = 200LL * 1024 * 1024;

// A field of /proc/self/status in kB, or -1.
qint64 statusKb(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Resets VmHWM to the current RSS, so the peak seen afterwards belongs to the download alone.
bool resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

} // namespace

int main(int argc, char *argv[])
{
    TestEnv::isolate(false);
    QCoreApplication app(argc, argv);

    LocalHttp::Server server(600000);
    LocalHttp::Response body;
    body.generatedSize = s_size;
    server.route("/Tavrin-bench-win64.exe", body);
    if (!server.start()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }

    QNetworkAccessManager nam;
    Updater updater(&nam, QStringLiteral("0"));
    QString result;
    bool ok = false;
    QObject::connect(&updater, &Updater::downloadFinished, &app, [&](const QString &path) {
        ok = true;
        result = path;
        app.quit();
    });
    QObject::connect(&updater, &Updater::downloadFailed, &app, [&](const QString &error) {
        result = error;
        app.quit();
    });

    const bool peakReset = resetPeak();
    const qint64 rssBefore = statusKb("VmRSS");
    const qint64 peakBefore = statusKb("VmHWM");
    QElapsedTimer timer;
    timer.start();
    updater.downloadUpdate(server.url("/Tavrin-bench-win64.exe").toString());
    app.exec();
    const qint64 elapsedMs = timer.elapsed();
    const qint64 peakAfter = statusKb("VmHWM");
    const qint64 rssAfter = statusKb("VmRSS");

    if (!ok) {
        std::fprintf(stderr, "download failed: %s\n", qPrintable(result));
        return 1;
    }
    const qint64 written = QFileInfo(result).size();
    QFile::remove(result);

    QTextStream out(stdout);
    out << "Update download of " << s_size / (1024 * 1024) << " MB from 127.0.0.1\n";
    out << "  file written:            " << written << " bytes" << (written == s_size ? "" : " (WRONG SIZE)") << "\n";
    out << "  time:                    " << elapsedMs << " ms (" << (s_size / 1024.0 / 1024.0) / (elapsedMs / 1000.0)
        << " MB/s)\n";
    out << "  RSS before:              " << rssBefore / 1024.0 << " MB\n";
    out << "  peak RSS before (VmHWM): " << peakBefore / 1024.0 << " MB" << (peakReset ? " (reset)" : " (not reset)")
        << "\n";
    out << "  peak RSS during (VmHWM): " << peakAfter / 1024.0 << " MB\n";
    out << "  RSS after:               " << rssAfter / 1024.0 << " MB\n";
    out << "  growth of the peak over RSS before: " << (peakAfter - rssBefore) / 1024.0 << " MB (target < 20 MB)\n";
    return written == s_size ? 0 : 1;
}
