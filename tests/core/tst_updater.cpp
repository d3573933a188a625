#include "core/updater.h"
#include "localhttpserver.h"
#include "testenv.h"

#include <QNetworkAccessManager>
#include <QStandardPaths>

using LocalHttp::Response;
Q_DECLARE_METATYPE(Response)

constexpr qint64 s_size = 3 * 1024 * 1024 + 17; // an installer that takes several reads and writes

class TestUpdater : public QObject
{
    Q_OBJECT

    QNetworkAccessManager m_nam;
    std::unique_ptr<LocalHttp::Server> m_server;
    std::unique_ptr<Updater> m_updater;

    template<typename... T> static void row(const char *name, const T &...v) { (QTest::newRow(name) << ... << v); }
    static QString downloads() { return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation); }
    static QStringList files() { return QDir(downloads()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
    QString url(const QByteArray &path) const { return m_server->url(path).toString(); }

    // Every asset is listed with the installer's size, as GitHub lists each asset's.
    static Response release(const QString &tag, const QStringList &assets = {"T-win64.exe"},
                            const QString &at = "http://h/")
    {
        QString json = "{\"body\":\"notes\",\"tag_name\":\"" + tag + "\",\"assets\":[";
        for (const QString &name : assets)
            json += QString(R"({"name":"%1","browser_download_url":"%2%1","size":%3},)").arg(name, at).arg(s_size);
        return {200, {}, (json + "{}]}").toUtf8()};
    }

    // Runs one step and collects what the result signals carry: {latest version, "newer" or "", installer,
    // running version, notes} for a check, {file, received, total} for a download, {"failed", message}.
    template<typename Step> QStringList run(const Step &step)
    {
        QStringList result, progress;
        QObject context; // drops the connections on return
        const Updater *u = m_updater.get();
        connect(u, &Updater::updateChecked, &context, [&](const UpdateInfo &i) {
            result << i.latestVersion << (i.updateAvailable ? "newer" : "") << i.downloadUrl << i.currentVersion
                   << i.releaseNotes;
        });
        connect(u, &Updater::downloadProgress, &context, [&](qint64 received, qint64 total) {
            progress = {QString::number(received), QString::number(total)};
        });
        connect(u, &Updater::downloadFinished, &context, [&](const QString &file) { result << file << progress; });
        const auto failed = [&](const QString &message) { result << "failed" << message; };
        connect(u, &Updater::checkFailed, &context, failed);
        connect(u, &Updater::downloadFailed, &context, failed);
        step();
        (void)QTest::qWaitFor([&] { return !result.isEmpty(); }, 15000);
        return result;
    }

private slots:
    void init()
    {
        m_server = std::make_unique<LocalHttp::Server>();
        QVERIFY(m_server->start());
        m_updater = std::make_unique<Updater>(&m_nam, QStringLiteral("3.2.1"));
        m_updater->setReleaseUrl(m_server->url("/latest"));
        m_updater->setTimeLimits(400, 600);                     // 15 s and 30 s in the application
        QVERIFY(downloads().startsWith(TestEnv::home() + '/')); // never the real home
        QDir(downloads()).removeRecursively();
    }

    void check_data()
    {
        QTest::addColumn<Response>("answer");
        // latest version|"newer" or ""|installer; "!" and a part of the message: the check fails
        QTest::addColumn<QString>("expected");
        const QString installer = "http://h/T-win64.exe";
        Response padded = release("v4");
        padded.body.insert(1, "\"padding\":\"" + QByteArray(2 * 1024 * 1024 - padded.body.size() - 13, ' ') + "\",");
        row("v prefix, newer", release("v3.2.2"), "3.2.2|newer|" + installer);
        row("equal", release("v3.2.1"), "3.2.1||");
        row("older", release("3.2.0"), "3.2.0||");
        row("numeric, not textual", release("v3.10"), "3.10|newer|" + installer);
        row("not JSON", Response{200, {}, "<html>rate limited</html>"}, "||");
        row("checksum listed first", release("v4", {"T-win64.exe.sha256", "T-win64.exe"}), "4|newer|" + installer);
        row("no installer asset", release("v4", {"T-win64.exe.zip", "T-win32.exe", "T-WIN64.EXE"}), "4|newer|");
        QCOMPARE(padded.body.size(), 2 * 1024 * 1024);
        row("2 MiB answer, still read", padded, "4|newer|" + installer);
        row("no releases (404)", Response{404}, "!");
        row("server error (500)", Response{500}, "!");
        row("unreachable host", Response{0}, "!"); // status 0: the server stops listening
        const QString late = "!The update server did not answer within 0.4 s.";
        row("never answers", Response{200, {}, {}, -1, -1, -1, false, 0, true}, late);
        row("stalls mid-answer", Response{200, {}, {}, 100000, -1, 1000}, late);
        const QString tooLarge = "!The update server's answer is larger than 2 MiB";
        row("oversized", Response{200, {}, {}, 300 << 20}, tooLarge);
        row("oversized, chunked", Response{200, {}, {}, 300 << 20, -1, -1, true}, tooLarge);
    }

    void check()
    {
        QFETCH(Response, answer);
        QFETCH(QString, expected);
        m_server->route("/latest", answer);
        if (qMax<qint64>(answer.body.size(), answer.generatedSize) > 1024 * 1024) // sending takes longer than that
            m_updater->setTimeLimits(15000, 30000);
        if (!answer.status)
            m_server->close();
        const QStringList result = run([this] { m_updater->checkForUpdates(); });
        const QByteArray head = m_server->requests.value(0).head;
        QVERIFY(!answer.status || (head.contains("\r\nAccept: application/vnd.github+json\r\n") &&
                                   head.contains("\r\nUser-Agent: Tavrin-Desktop\r\n")));
        if (expected.startsWith('!')) // the network layer's message or ours, and no update record
            QVERIFY2(result.size() == 2 && result[0] == "failed" && !result[1].isEmpty() &&
                         result[1].startsWith(expected.mid(1)),
                     qPrintable(result.join('|')));
        else
            QCOMPARE(result.join('|'), expected + "|3.2.1|" + (answer.body.startsWith('{') ? "notes" : ""));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("disposition");
        QTest::addColumn<QString>("expected");
        row("quoted header name", "/dl/x", "attachment; filename=\"Tavrin 9-win64.exe\"; a=b", "Tavrin 9-win64.exe");
        row("bare header name with separators", "/dl/x", "attachment; filename=../a\\..\\evil.exe; a=b", "evil.exe");
        row("header name is ..", "/dl/from-url.exe", "attachment; filename=\"..\"", "from-url.exe");
        row("url name, decoded, with separators", "/dl/a%2F..%5CMy%20Setup.exe", "", "My Setup.exe");
        row("url name is .", "/dl/%2E", "", "Tavrin-update");
        row("url ends in slash", "/dl/", "", "Tavrin-update");
        row("redirects followed, name from the final url", "/r/setup", "", "Tavrin-2-win64.exe");
    }

    void fileNames()
    {
        QFETCH(QString, path);
        QFETCH(QString, disposition);
        QFETCH(QString, expected);
        m_server->route("*", {200, {{"Content-Disposition", disposition.toLatin1()}}, "installer bytes"});
        m_server->route("/r/setup", {302, {{"Location", url("/hop").toUtf8()}}});
        m_server->route("/hop", {301, {{"Location", "/dl/Tavrin-2-win64.exe"}}});
        QCOMPARE(run([&] { m_updater->downloadUpdate(url(path.toLatin1())); }),
                 (QStringList{downloads() + '/' + expected, "15", "15"}));
        QCOMPARE(files(), QStringList{expected});
    }

    // Only HTTPS, or plain HTTP to this machine, for the installer, its checksum and each redirect;
    // a refused address is never asked.
    void addresses_data()
    {
        QTest::addColumn<QString>("installer"); // "@": the local server's port
        QTest::addColumn<QString>("checksum");  // empty: none listed
        QTest::addColumn<QString>("refused");   // the address the refusal names; empty: not refused
        for (const char *refused : {"file:///etc/T-win64.exe", "http://example.com/T-win64.exe",
                                    "ftp://127.0.0.1/T-win64.exe", "T-win64.exe", "https:T-win64.exe"})
            row(refused, QString(refused), QString(), QString(refused));
        row("https", "https://127.0.0.1:1/T-win64.exe", "", "");
        row("http to localhost", "http://localhost:@/dl/T-win64.exe", "", "");
        row("http to ::1", "http://[::1]:1/T-win64.exe", "", "");
        row("checksum from plain http elsewhere", "http://127.0.0.1:@/dl/T-win64.exe",
            "http://example.com/T-win64.exe.sha256", "http://example.com/T-win64.exe.sha256");
        row("redirect to plain http elsewhere", "http://127.0.0.1:@/r/T-win64.exe", "",
            "http://example.com/T-win64.exe");
    }
    void addresses()
    {
        QFETCH(QString, installer);
        QFETCH(QString, checksum);
        QFETCH(QString, refused);
        installer.replace('@', QString::number(m_server->serverPort()));
        m_server->route("/dl/T-win64.exe", {200, {}, "installer bytes"});
        m_server->route("/r/T-win64.exe", {302, {{"Location", "http://example.com/T-win64.exe"}}});
        const QString sum = ",{\"name\":\"T-win64.exe.sha256\",\"browser_download_url\":\"" + checksum + "\"}";
        m_server->route("/latest", {200,
                                    {},
                                    QString(R"({"tag_name":"v9","assets":[{"name":"T-win64.exe",)"
                                            R"("browser_download_url":"%1","size":15}%2]})")
                                        .arg(installer, checksum.isEmpty() ? "" : sum)
                                        .toUtf8()});
        QCOMPARE(run([this] { m_updater->checkForUpdates(); }).value(2), installer);
        m_server->requests.clear();
        const QStringList result = run([&] { m_updater->downloadUpdate(installer); });
        const bool kept = installer.contains("localhost");
        if (!refused.isEmpty())
            QVERIFY2(result.value(1).startsWith("Refusing to ") &&
                         result.value(1).endsWith(" from " + refused + ": only HTTPS addresses are allowed."),
                     qPrintable(result.join('|')));
        else
            QVERIFY2(kept ? result.value(1) == "15" : !result.value(1).contains("Refusing"),
                     qPrintable(result.join('|')));
        QCOMPARE(m_server->requests.size(), int(installer.contains("/r/") || kept));
        QCOMPARE(files(), kept ? QStringList{"T-win64.exe"} : QStringList());
    }

    // With a checksum listed, the installer is kept only when it matches; a failed download never
    // leaves a partial file nor touches an older complete one.
    void downloadOutcome_data()
    {
        const auto good = QCryptographicHash::hash(LocalHttp::pattern(0, s_size), QCryptographicHash::Sha256).toHex();
        const Response installer{200, {}, {}, s_size}, goodSum{200, {}, good};
        QTest::addColumn<Response>("checksum");
        QTest::addColumn<Response>("installer");
        QTest::addColumn<QString>("error"); // part of the failure; none: the installer is kept
        row("sha256sum line", Response{200, {}, good + "  T-8-win64.exe\r\n"}, installer, "");
        row("binary-mode line, upper case", Response{200, {}, good.toUpper() + " *T-8-win64.exe"}, installer, "");
        row("mismatch", Response{200, {}, QByteArray(64, '0')}, installer, "does not match");
        row("checksum fetch fails", Response{500}, installer, "Cannot fetch the checksum");
        row("too large to be a checksum", Response{200, {}, {}, 8 << 20}, installer, "too large");
        row("dropped mid-body", goodSum, Response{200, {}, {}, s_size, 1 << 20}, "Connection closed");
        row("chunked, total from the release", goodSum, Response{200, {}, {}, s_size, -1, -1, true}, "");
        row("slow but moving", goodSum, Response{200, {}, {}, s_size, -1, -1, false, 80}, ""); // 1 s in all
        const QString stalled = "The download stopped: no data arrived for 0.6 s; nothing was kept.";
        row("never answers", goodSum, Response{200, {}, {}, -1, -1, -1, false, 0, true}, stalled);
        row("stalls mid-body", goodSum, Response{200, {}, {}, s_size, -1, 1 << 20}, stalled);
        row("chunked, stalls past the read buffer", goodSum, Response{200, {}, {}, s_size, -1, 3 << 19, true}, stalled);
        row("chunked, cut off past the read buffer", goodSum, Response{200, {}, {}, s_size, 3 << 19, -1, true},
            "Connection closed");
        const QString shortBody =
            QStringLiteral("The download was incomplete (%1 of %2 bytes)").arg(s_size - 9).arg(s_size);
        row("short body, as announced", goodSum, Response{200, {}, {}, s_size - 9}, shortBody);
        row("short body, chunked", goodSum, Response{200, {}, {}, s_size - 9, -1, -1, true}, shortBody);
        row("longer than listed", goodSum, Response{200, {}, {}, s_size + 9},
            QStringLiteral("The download was larger than the release lists (%1 bytes)").arg(s_size));
        row("installer HTTP 500", goodSum, Response{500}, "T-8-win64.exe");
        // A folder in the way cannot be written over, whoever runs the test.
        row("target not writable", goodSum, Response{200, {{"Content-Disposition", "filename=blocked"}}},
            "Cannot write to " + downloads() + "/blocked");
    }

    void downloadOutcome()
    {
        QFETCH(Response, checksum);
        QFETCH(Response, installer);
        QFETCH(QString, error);
        const QString target = downloads() + "/T-8-win64.exe";
        QVERIFY(TestEnv::writeFile(target, "older") && QDir().mkpath(downloads() + "/blocked"));
        m_server->route("/a/T-8-win64.exe", installer);
        m_server->route("/a/T-8-win64.exe.sha256", checksum);
        m_server->route("/latest", release("v8", {"T-8-win64.exe.sha256", "T-8-win64.exe"}, url("/a/")));
        const QString installerUrl = run([this] { m_updater->checkForUpdates(); }).value(2);
        const QStringList result = run([&] { m_updater->downloadUpdate(installerUrl); });
        QCOMPARE(TestEnv::readFile(target), error.isEmpty() ? LocalHttp::pattern(0, s_size) : "older");
        QCOMPARE(files(), (QStringList{"blocked", "T-8-win64.exe"}));
        const QStringList kept{target, QString::number(s_size), QString::number(s_size)};
        QVERIFY2(error.isEmpty() ? result == kept : result.value(0) == "failed" && result.value(1).contains(error),
                 qPrintable(result.join('|')));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
