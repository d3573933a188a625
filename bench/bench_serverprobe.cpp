// What ServerProbe adds to a server's own start-to-answer time: the probe against a fake legacy
// server (1,000 tools over 10 pages) versus a minimal client that sends the same messages with
// blocking reads. Runs alternate; prints the median, minimum and maximum of each, the difference
// of the medians and the median difference within a pair of runs (steadier on a busy machine).
#include "core/serverprobe.h"
#include "fakes/fakeserver.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// 1,000 tools with descriptions and schemas, over 10 pages.
const char s_server[] = "legacy(pages=10, per_page=100, described=True)\nuntil_eof()";

struct Timing
{
    double firstAnswer = -1;
    double total = -1;
    double cpu = -1; // CPU time of this process, client side only: steady however busy the machine
};

// CPU time used by this process so far, in ms.
double cpuMs()
{
    return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
}

QByteArray line(const QJsonObject &message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject readMessage(QProcess &process)
{
    while (!process.canReadLine())
        if (!process.waitForReadyRead(10000))
            return {};
    return QJsonDocument::fromJson(process.readLine()).object();
}

// The same conversation as the probe's, with nothing around it.
Timing baseline(const QString &uvx)
{
    Timing timing;
    const double cpuStart = cpuMs();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(uvx, {QStringLiteral("tavrin")});
    process.write(line({{"jsonrpc", "2.0"},
                        {"id", 1},
                        {"method", "initialize"},
                        {"params", QJsonObject{{"protocolVersion", "2025-11-25"},
                                               {"capabilities", QJsonObject()},
                                               {"clientInfo", QJsonObject{{"name", "bench"}, {"version", "1"}}}}}}));
    if (readMessage(process).value("id").toInt() != 1)
        return timing;
    timing.firstAnswer = clock.nsecsElapsed() / 1e6;
    process.write(line({{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}}));
    int tools = 0;
    QString cursor;
    for (int id = 2;; ++id) {
        QJsonObject params;
        if (!cursor.isEmpty())
            params.insert("cursor", cursor);
        process.write(line({{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/list"}, {"params", params}}));
        const QJsonObject result = readMessage(process).value("result").toObject();
        tools += int(result.value("tools").toArray().size());
        cursor = result.value("nextCursor").toString();
        if (cursor.isEmpty())
            break;
    }
    timing.total = clock.nsecsElapsed() / 1e6;
    timing.cpu = cpuMs() - cpuStart;
    process.closeWriteChannel();
    process.waitForFinished(5000);
    if (tools != 1000)
        timing.total = -1;
    return timing;
}

Timing probe()
{
    Timing timing;
    ServerProbe probe;
    QSignalSpy finished(&probe, &ServerProbe::finished);
    const double cpuStart = cpuMs();
    QElapsedTimer clock;
    clock.start();
    if (!probe.start(QStringLiteral("safe_edit")) || !finished.wait(10000))
        return timing;
    const double total = clock.nsecsElapsed() / 1e6;
    timing.cpu = cpuMs() - cpuStart;
    const auto result = finished.first().first().value<ServerProbeResult>();
    if (!result.success || result.toolCount != 1000) {
        std::printf("probe failed: %s\n", qPrintable(result.message));
        return timing;
    }
    timing.firstAnswer = double(result.firstAnswerMs);
    timing.total = total;
    // Let the server see the end of its input and exit before the next run.
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    return timing;
}

void print(const char *label, QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-42s median %7.1f ms  min %7.1f ms  max %7.1f ms\n", label, ms.at(ms.size() / 2), ms.first(),
                ms.last());
}

double median(QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms.at(ms.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    TestEnv::isolate(false);
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 21;

    const QString uvx = TestEnv::binDir() + QStringLiteral("/uvx");
    if (!FakeServer::write(s_server))
        return 1;

    // Once each, untimed: warms the page cache and Python's bytecode cache.
    baseline(uvx);
    probe();

    QList<double> baseFirst, baseTotal, probeFirst, probeTotal, pairedFirst, pairedTotal, baseCpu, probeCpu;
    for (int i = 0; i < runs; ++i) {
        const Timing b = baseline(uvx);
        const Timing p = probe();
        if (b.total < 0 || p.total < 0) {
            std::printf("run %d failed\n", i + 1);
            return 1;
        }
        baseFirst << b.firstAnswer;
        baseTotal << b.total;
        probeFirst << p.firstAnswer;
        probeTotal << p.total;
        pairedFirst << p.firstAnswer - b.firstAnswer;
        pairedTotal << p.total - b.total;
        baseCpu << b.cpu;
        probeCpu << p.cpu;
    }
    std::printf("%d runs of each, 1,000 tools over 10 pages\n", runs);
    print("baseline client, first answer", baseFirst);
    print("ServerProbe, first answer", probeFirst);
    print("baseline client, all tools listed", baseTotal);
    print("ServerProbe, start() to finished()", probeTotal);
    print("baseline client, CPU time of the client", baseCpu);
    print("ServerProbe, CPU time of the client", probeCpu);
    std::printf("overhead (difference of medians): first answer %+.1f ms, all tools %+.1f ms\n",
                median(probeFirst) - median(baseFirst), median(probeTotal) - median(baseTotal));
    std::printf("overhead (median of paired runs):     first answer %+.1f ms, all tools %+.1f ms\n",
                median(pairedFirst), median(pairedTotal));
    return 0;
}
