#include "core/serverprobe.h"
#include "fakes/fakeserver.h"
#include "testenv.h"
#include "version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using Failure = ServerProbeResult::Failure;
Q_DECLARE_METATYPE(Failure)

namespace {

ServerProbeResult runProbe(ServerProbe &probe, const QString &mode)
{
    QSignalSpy finished(&probe, &ServerProbe::finished);
    if (!probe.start(mode))
        return {};
    [&] { QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000); }();
    return finished.isEmpty() ? ServerProbeResult() : finished.first().first().value<ServerProbeResult>();
}

QString root()
{
    return TestEnv::root().path();
}

QList<qint64> treePids()
{
    QList<qint64> pids;
    for (const QByteArray &pid : TestEnv::readFile(root() + QStringLiteral("/tree.pids")).split(' '))
        if (pid.trimmed().toLongLong() > 0)
            pids << pid.trimmed().toLongLong();
    return pids;
}

// A row of outcomes: the server script (empty: no uvx on the PATH) and what the probe reports.
void outcome(const char *name, const QByteArray &server, Failure failure, int tools, const QString &protocol,
             const QStringList &says, const QString &omits = {})
{
    QTest::newRow(name) << server << failure << tools << protocol << says << omits;
}

} // namespace

class TestServerProbe : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (const char *file : {"/seen.json", "/tree.pids", "/fakeserver.pid"})
            QFile::remove(root() + QLatin1String(file));
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<int>("tools");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QString>("omits");
        outcome("1000 tools over 10 pages", "legacy(pages=10, per_page=100)\nuntil_eof()", Failure::None, 1000,
                "2025-11-25", {"Started in ", " · 1000 tools · protocol 2025-11-25 · tavrin 1.2.0"});
        outcome("older revision", "legacy(version='2024-11-05', per_page=1)", Failure::None, 1, "2024-11-05",
                {"· 1 tool ·"});
        outcome("unknown revision",
                "msg = expect('initialize')\n"
                "result(msg, {'protocolVersion': '1999-01-01', 'capabilities': {}, 'serverInfo': INFO})\nuntil_eof()",
                Failure::ProtocolError, 0, "", {"“1999-01-01”", "2025-11-25"});
        outcome("stateless only",
                "msg = expect('initialize')\n"
                "error(msg, -32022, 'Unsupported protocol version', {'supported': ['2026-07-28']})\n"
                "msg = expect('server/discover')\nmeta = msg['params']['_meta']\n"
                "check(meta['io.modelcontextprotocol/protocolVersion'] == '2026-07-28', 'version')\n"
                "check(meta['io.modelcontextprotocol/clientInfo']['name'] == 'Tavrin Desktop', 'info')\n"
                "check(meta['io.modelcontextprotocol/clientCapabilities'] == {}, 'capabilities')\n"
                "result(msg, {'resultType': 'complete', 'supportedVersions': ['2026-07-28'],\n"
                "             'capabilities': {'tools': {}}, 'serverInfo': INFO})\n"
                "tools(2, 5, meta=True)\nuntil_eof()",
                Failure::None, 10, "2026-07-28", {"protocol 2026-07-28"});
        outcome("refuses both eras",
                "msg = expect('initialize')\n"
                "error(msg, -32602, 'Unsupported protocol version', {'supported': ['0.9']})\n"
                "error(expect('server/discover'), -32601, 'Method not found')\nuntil_eof()",
                Failure::ProtocolError, 0, "",
                {"Unsupported protocol version (code -32602; it supports 0.9)", "Method not found"});
        // More than a pipe holds before the first answer: a probe that did not read standard error
        // as it arrives would stall the server.
        outcome("chatters on stderr",
                "for i in range(20000):\n"
                "    sys.stderr.write('Downloading cpython (%d KiB) ......................\\r' % i)\n"
                "sys.stderr.flush()\nlegacy()\nuntil_eof()",
                Failure::None, 3, "2025-11-25", {});
        outcome("banner on stdout", "print('Tavrin MCP server 1.2 ready')\nlegacy()\nuntil_eof()", Failure::NotMcp, 0,
                "", {"“Tavrin MCP server 1.2 ready”", "standard error"});
        outcome("exits 1", "for i in range(1, 31):\n    sys.stderr.write('err-%02d\\n' % i)\nsys.exit(1)",
                Failure::ExitedEarly, 0, "", {"code 1", "err-11\n", "err-30"}, "err-10");
        // The server's own requests and notifications come first; the ping even reuses the id of
        // the probe's pending request.
        outcome("server traffic before the answer",
                "msg = expect('initialize')\n"
                "send({'jsonrpc': '2.0', 'method': 'notifications/message', 'params': {'data': 'hi'}})\n"
                "send({'jsonrpc': '2.0', 'id': msg['id'], 'method': 'ping'})\n"
                "check(recv() == {'jsonrpc': '2.0', 'id': msg['id'], 'result': {}}, 'pong')\n"
                "send({'jsonrpc': '2.0', 'id': 's2', 'method': 'roots/list'})\nreply = recv()\n"
                "check(reply['id'] == 's2' and reply['error']['code'] == -32601, 'refusal')\n"
                "send({'jsonrpc': '2.0', 'id': 77, 'result': {'protocolVersion': '1999-01-01'}})\n"
                "handshake(msg)\ntools(1, 2)\nuntil_eof()",
                Failure::None, 2, "2025-11-25", {});
        outcome("oversized line",
                "sys.stdout.write('{\"jsonrpc\": \"2.0\", \"pad\": \"' + 'x' * (17 << 20))\n"
                "sys.stdout.flush()\nuntil_eof()",
                Failure::ProtocolError, 0, "", {"more than 16 MiB"});
        outcome("too much output in all",
                "note = {'jsonrpc': '2.0', 'method': 'notifications/message', 'params': {'data': 'x' * (1 << 20)}}\n"
                "line = (json.dumps(note) + '\\n').encode()\nexpect('initialize')\n"
                "for i in range(70):\n    sys.stdout.buffer.write(line)\nsys.stdout.flush()\nuntil_eof()",
                Failure::ProtocolError, 0, "", {"more than 64 MiB in all"});
        outcome("no uvx", QByteArray(), Failure::NotFound, 0, "",
                {"uvx was not found on the PATH", "install uv", "PATH searched: " + TestEnv::binDir()});
        outcome("cannot start", "#!/nonexistent/interpreter\n", Failure::StartFailed, 0, "", {"could not be started"});
    }
    void outcomes()
    {
        QFETCH(QByteArray, server);
        QFETCH(Failure, failure);
        QFETCH(QStringList, says);
        QFETCH(QString, omits);

        if (server.isEmpty())
            TestEnv::removeTool(QStringLiteral("uvx"));
        else
            QVERIFY(FakeServer::write(server));
        ServerProbe probe;
        const ServerProbeResult result = runProbe(probe, QStringLiteral("full_control"));
        QVERIFY2(result.failure == failure, qPrintable(result.message));
        QCOMPARE(result.success, failure == Failure::None);
        QTEST(result.toolCount, "tools");
        QTEST(result.protocolVersion, "protocol");
        for (const QString &text : says)
            QVERIFY2(result.message.contains(text), qPrintable(result.message));
        if (!omits.isEmpty())
            QVERIFY2(!result.message.contains(omits), qPrintable(result.message));
        QVERIFY(!probe.isRunning());
        if (!result.success || result.protocolVersion == "2026-07-28") // no initialize handshake to look at
            return;
        // The command every registration carries, in the current mode, and the handshake as MCP writes it.
        const QJsonObject clientInfo{{"name", "Tavrin Desktop"}, {"version", QLatin1String(Tavrin::Version)}};
        const QJsonObject params{
            {"protocolVersion", "2025-11-25"}, {"capabilities", QJsonObject()}, {"clientInfo", clientInfo}};
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(root() + "/seen.json")).object(),
                 (QJsonObject{{"argv", QJsonArray{"tavrin"}}, {"mode", "full_control"}, {"params", params}}));
        QCOMPARE((QStringList{result.serverName, result.serverVersion}), (QStringList{"tavrin", "1.2.0"}));
        QVERIFY(result.firstAnswerMs >= 0 && result.firstAnswerMs <= result.totalMs);
    }

    // The compiled server, which runs on every platform (on Windows behind a .cmd shim, answering
    // with CR LF): a passed, failed and timed-out test, after each of which the server is gone.
    void compiledServer_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QStringList>("says");
        TestEnv::row("passes", QByteArray("serve 4 25"), int(ServerProbe::DefaultTimeLimitMs), Failure::None,
                     QStringList{" · 100 tools · protocol 2025-11-25 · tavrin 1.2.0"});
        TestEnv::row("exits 1", QByteArray("stderr boom: no Godot editor\nexit 1"),
                     int(ServerProbe::DefaultTimeLimitMs), Failure::ExitedEarly,
                     QStringList{"code 1", "boom: no Godot editor"});
        TestEnv::row("never answers", QByteArray("stderr Resolving dependencies\nsleep 60"), 1500, Failure::NoAnswer,
                     QStringList{"within 1.5 s", "“Resolving dependencies”"});
    }
    void compiledServer()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(int, limitMs);
        QFETCH(Failure, failure);
        QFETCH(QStringList, says);
        QVERIFY(FakeServer::serve(scenario));
        ServerProbe probe;
        probe.setTimeLimit(limitMs);
        const ServerProbeResult result = runProbe(probe, QStringLiteral("safe_edit"));
        QVERIFY2(result.failure == failure, qPrintable(result.message));
        for (const QString &text : says)
            QVERIFY2(result.message.contains(text), qPrintable(result.message));
        const qint64 pid = TestEnv::readFile(root() + "/fakeserver.pid").toLongLong();
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(pid), 10000);
        if (result.success)
            QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(root() + "/seen.json"))["mode"], "safe_edit");
    }

    // Ended by the test's end (a server that ignores the end of its input), by cancel() or by
    // destroying the probe: the server and its grandchild are gone afterwards, also one that left
    // the server's group and session, and one whose parent ended at once (a daemon's double fork).
    void noProcessOutlivesTheProbe_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("grandchild");
        const QString plain = QStringLiteral("child = subprocess.Popen(['/bin/sleep', '300']).pid\n");
        for (const char *end : {"finished", "cancelled", "destroyed"})
            TestEnv::row(end, end, plain);
#ifdef Q_OS_LINUX
        const QString session =
            QStringLiteral("child = subprocess.Popen(['/bin/sleep', '300'], start_new_session=True).pid\n");
        const QString daemon =
            QStringLiteral("r, w = os.pipe()\nif os.fork() == 0:\n    os.setsid()\n    pid = os.fork()\n"
                           "    if pid == 0:\n        os.execv('/bin/sleep', ['sleep', '300'])\n"
                           "    os.write(w, str(pid).encode())\n    os._exit(0)\n"
                           "os.wait()\nchild = int(os.read(r, 20))\n");
        TestEnv::row("finished, setsid", "finished", session);
        TestEnv::row("cancelled, setsid", "cancelled", session);
        TestEnv::row("destroyed, setsid", "destroyed", session);
        TestEnv::row("finished, daemon", "finished", daemon);
        TestEnv::row("destroyed, daemon", "destroyed", daemon);
#endif
    }
    void noProcessOutlivesTheProbe()
    {
        QFETCH(QString, end);
        QFETCH(QString, grandchild);
        QVERIFY(FakeServer::write(QByteArray("signal.signal(signal.SIGTERM, signal.SIG_IGN)\n") + grandchild.toUtf8() +
                                  "with open(ROOT + '/tree.pids', 'w') as f:\n"
                                  "    f.write('%d %d' % (os.getpid(), child))\n" +
                                  (end == "finished" ? "legacy()\n" : "") + "while True:\n    time.sleep(1)"));
        auto probe = std::make_unique<ServerProbe>();
        QSignalSpy finished(probe.get(), &ServerProbe::finished);
        QVERIFY(probe->start(QStringLiteral("safe_edit")));
        QTRY_COMPARE_WITH_TIMEOUT(treePids().size(), 2, 10000);
        const QList<qint64> pids = treePids();
        for (const qint64 pid : pids)
            QVERIFY(TestEnv::processAlive(pid));

        if (end == "finished") {
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
            QVERIFY(finished.first().first().value<ServerProbeResult>().success);
        } else if (end == "cancelled") {
            probe->cancel();
            QCOMPARE(finished.count(), 1);
            QCOMPARE(finished.first().first().value<ServerProbeResult>().failure, Failure::Cancelled);
        } else {
            probe.reset();
        }
        for (const qint64 pid : pids)
            QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(pid), 10000);
        if (probe)
            QCOMPARE(finished.count(), 1);
    }

    // A slot may start the next test from finished(); what the previous server wrote after its
    // last answer (a stray line, in the same read) must not reach the new test.
    void finishedSlotMayStartTheNextTest()
    {
        QVERIFY(FakeServer::write(
            "handshake(expect('initialize'))\nmsg = expect('tools/list')\n"
            "sys.stdout.write(json.dumps({'jsonrpc': '2.0', 'id': msg['id'], 'result': {'tools': []}})"
            " + '\\nbye\\n')\nsys.stdout.flush()\nuntil_eof()"));
        ServerProbe probe;
        QList<ServerProbeResult> results;
        connect(&probe, &ServerProbe::finished, this, [&](const ServerProbeResult &result) {
            results << result;
            if (results.size() == 1)
                QVERIFY(probe.start(QStringLiteral("safe_edit")));
        });
        QVERIFY(probe.start(QStringLiteral("safe_edit")));
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 20000);
        for (const ServerProbeResult &result : std::as_const(results))
            QVERIFY2(result.success, qPrintable(result.message));
    }

    // The card shows the elapsed time and uv's progress while the server starts: the last line of
    // standard error, where a carriage return ends a line that the next one redraws.
    void progressShowsTheLastStderrLine()
    {
        QVERIFY(FakeServer::write("sys.stderr.write('Resolving\\n\\x1b[2KDownloading cpython (1.0MiB)\\r'\n"
                                  "                 '\\x1b[2K\\x1b[1mDownloading\\x1b[0m cpython (15.2MiB)\\r')\n"
                                  "sys.stderr.flush()\nuntil_eof()"));
        ServerProbe probe;
        QSignalSpy progress(&probe, &ServerProbe::progress);
        QSignalSpy finished(&probe, &ServerProbe::finished);
        QVERIFY(probe.start(QStringLiteral("safe_edit")));
        QVERIFY(!probe.start(QStringLiteral("safe_edit")));
        QVERIFY(!probe.lastError().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(progress.last().at(1).toString(), QStringLiteral("Downloading cpython (15.2MiB)"),
                                  5000);
        QVERIFY(progress.last().at(0).toLongLong() >= 900);
        QCOMPARE(probe.lastStderrLine(), QStringLiteral("Downloading cpython (15.2MiB)"));
        probe.cancel();
        QCOMPARE(finished.count(), 1);
        const auto result = finished.first().first().value<ServerProbeResult>();
        QCOMPARE(result.stderrTail, (QStringList{"Resolving", "Downloading cpython (15.2MiB)"}));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestServerProbe)
#include "tst_serverprobe.moc"
