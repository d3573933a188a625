#include "localhttpserver.h"
#include "testenv.h"
#include "updater.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QStandardPaths>

#include <functional>

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

    // A release whose assets are served from `at`.
    static Response release(const QString &tag, const QStringList &assets = {"T-win64.exe"}, QString at = "http://h/")
    {
        QString json = "{\"body\":\"notes\",\"tag_name\":\"" + tag + "\",\"assets\":[";
        for (const QString &name : assets)
            json += QString(R"({"name":"%1","browser_download_url":"%2%1"},)").arg(name, at);
        return {200, {}, (json + "{}]}").toUtf8()};
    }

    // Runs one step and collects what the result signals carry: {latest version, "newer" or "", installer,
    // running version, notes} for a check, {file, received, total} for a download, {"failed", message}.
    QStringList run(const std::function<void()> &step)
    {
        QObject context; // drops the connections on return
        QStringList result, progress;
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

    // Serves the answer to a release query (status 0: nobody listens) and runs one check.
    QStringList check(const Response &answer)
    {
        m_server->route("/latest", answer);
        m_updater->setReleaseUrl(m_server->url("/latest"));
        if (!answer.status)
            m_server->close();
        return run([this] { m_updater->checkForUpdates(); });
    }

private slots:
    void init()
    {
        m_server = std::make_unique<LocalHttp::Server>();
        QVERIFY(m_server->start());
        m_updater = std::make_unique<Updater>(&m_nam, QStringLiteral("3.2.1"));
        QVERIFY(downloads().startsWith(TestEnv::home() + '/')); // never the real home
        QDir(downloads()).removeRecursively();
    }

    void check_data()
    {
        QTest::addColumn<Response>("answer");
        QTest::addColumn<QStringList>("expected"); // latest version, "newer" or "", installer; none: fails
        const QString installer = "http://h/T-win64.exe";
        row("v prefix, newer", release("v3.2.2"), QStringList{"3.2.2", "newer", installer});
        row("equal", release("v3.2.1"), QStringList{"3.2.1", "", ""});
        row("older", release("3.2.0"), QStringList{"3.2.0", "", ""});
        row("numeric, not textual", release("v3.10"), QStringList{"3.10", "newer", installer});
        row("unreadable tag", release("latest"), QStringList{"latest", "", ""});
        row("not JSON", Response{200, {}, "<html>rate limited</html>"}, QStringList{"", "", ""});
        row("checksum listed first", release("v4", {"T-win64.exe.sha256", "T-win64.exe"}),
            QStringList{"4", "newer", installer});
        row("no installer asset", release("v4", {"T-win64.exe.zip", "T-win32.exe", "T-WIN64.EXE"}),
            QStringList{"4", "newer", ""});
        row("no releases (404)", Response{404}, QStringList());
        row("server error (500)", Response{500}, QStringList());
        row("unreachable host", Response{0}, QStringList());
    }

    void check()
    {
        QFETCH(Response, answer);
        QFETCH(QStringList, expected);
        const QStringList result = check(answer);
        const QByteArray head = m_server->requests.value(0).head;
        QVERIFY(!answer.status || (head.contains("\r\nAccept: application/vnd.github+json\r\n") &&
                                   head.contains("\r\nUser-Agent: Tavrin-Desktop\r\n")));
        if (expected.isEmpty()) // the network layer's message, and no update record
            QVERIFY2(result.size() == 2 && result[0] == "failed" && !result[1].isEmpty(), qPrintable(result.join('|')));
        else
            QCOMPARE(result, expected << "3.2.1" << (answer.body.startsWith('{') ? "notes" : ""));
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
        Response response{200, {}, "installer bytes"};
        if (!disposition.isEmpty())
            response.headers.append({"Content-Disposition", disposition.toLatin1()});
        m_server->route("*", response);
        m_server->route("/r/setup", {302, {{"Location", url("/hop").toUtf8()}}});
        m_server->route("/hop", {301, {{"Location", "/dl/Tavrin-2-win64.exe"}}});
        QCOMPARE(run([&] { m_updater->downloadUpdate(url(path.toLatin1())); }),
                 (QStringList{downloads() + '/' + expected, "15", "15"}));
        QCOMPARE(files(), QStringList{expected});
        QCOMPARE(TestEnv::readFile(downloads() + '/' + expected), QByteArray("installer bytes"));
    }

    // With a checksum listed, the installer is kept only when it matches; a failed download never
    // leaves a partial file nor touches an older complete one.
    void downloadOutcome_data()
    {
        const QByteArray good =
            QCryptographicHash::hash(LocalHttp::pattern(0, s_size), QCryptographicHash::Sha256).toHex();
        const Response installer{200, {}, {}, s_size};
        QTest::addColumn<Response>("checksum");
        QTest::addColumn<Response>("installer");
        QTest::addColumn<QString>("error"); // part of the failure; none: the installer is kept
        row("bare digest", Response{200, {}, good + "\n"}, installer, "");
        row("sha256sum line", Response{200, {}, good + "  Tavrin-8-win64.exe\r\n"}, installer, "");
        row("binary-mode line, upper case", Response{200, {}, good.toUpper() + " *Tavrin-8-win64.exe"}, installer, "");
        row("mismatch", Response{200, {}, QByteArray(64, '0')}, installer, "does not match");
        row("checksum fetch fails", Response{500}, installer, "Cannot fetch the checksum");
        row("too large to be a checksum", Response{200, {}, {}, 8 << 20}, installer, "too large");
        row("connection dropped mid-body", Response{200, {}, good}, Response{200, {}, {}, s_size, 1 << 20},
            "Connection closed");
        row("installer HTTP 500", Response{200, {}, good}, Response{500}, "Tavrin-8");
        // A folder in the way cannot be written over, whoever runs the test.
        row("target not writable", Response{200, {}, good},
            Response{200, {{"Content-Disposition", "attachment; filename=blocked"}}, "x"},
            "Cannot write to " + downloads() + "/blocked");
    }

    void downloadOutcome()
    {
        QFETCH(Response, checksum);
        QFETCH(Response, installer);
        QFETCH(QString, error);
        const QString target = downloads() + "/Tavrin-8-win64.exe";
        QVERIFY(TestEnv::writeFile(target, "older complete installer") && QDir().mkpath(downloads() + "/blocked"));
        m_server->route("/a/Tavrin-8-win64.exe", installer);
        m_server->route("/a/Tavrin-8-win64.exe.sha256", checksum);
        const QString installerUrl =
            check(release("v8", {"Tavrin-8-win64.exe.sha256", "Tavrin-8-win64.exe"}, url("/a/"))).value(2);
        const QStringList result = run([&] { m_updater->downloadUpdate(installerUrl); });
        QCOMPARE(TestEnv::readFile(target),
                 error.isEmpty() ? LocalHttp::pattern(0, s_size) : "older complete installer");
        QCOMPARE(files(), (QStringList{"blocked", "Tavrin-8-win64.exe"}));
        const QStringList kept{target, QString::number(s_size), QString::number(s_size)};
        QVERIFY2(error.isEmpty() ? result == kept : result.value(0) == "failed" && result.value(1).contains(error),
                 qPrintable(result.join('|')));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
