#include "localhttpserver.h"
#include "testenv.h"
#include "updater.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QStandardPaths>

using LocalHttp::Response;
Q_DECLARE_METATYPE(Response)

constexpr int s_wait = 15000;
constexpr qint64 s_size = 3 * 1024 * 1024 + 17; // an installer that takes several reads and writes

struct Outcome
{
    QString finished, failed;
    QVariantList progress; // the last report
};

class TestUpdater : public QObject
{
    Q_OBJECT

    QNetworkAccessManager m_nam;
    std::unique_ptr<LocalHttp::Server> m_server;
    std::unique_ptr<Updater> m_updater;

    template<typename... T> static void row(const char *name, const T &...v) { (QTest::newRow(name) << ... << v); }
    static QString downloads() { return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation); }
    static QStringList files()
    {
        return QDir(downloads()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QString url(const QByteArray &path) const { return m_server->url(path).toString(); }

    // A release whose assets are served from `at`.
    static Response release(const QString &tag, const QStringList &assets = {"T-win64.exe"},
                            const QString &at = "http://h/")
    {
        QStringList list;
        for (const QString &name : assets)
            list += QStringLiteral(R"({"name":"%1","browser_download_url":"%2%1"})").arg(name, at);
        return {200,
                {},
                QStringLiteral(R"({"tag_name":"%1","body":"notes","assets":[%2]})").arg(tag, list.join(',')).toUtf8()};
    }

    // Serves the answer to a release query (status 0: nobody listens) and runs one check.
    std::pair<UpdateInfo, QString> check(const Response &answer)
    {
        m_server->route("/latest", answer);
        m_updater->setReleaseUrl(m_server->url("/latest"));
        if (!answer.status)
            m_server->close();
        QSignalSpy checked(m_updater.get(), &Updater::updateChecked), failed(m_updater.get(), &Updater::checkFailed);
        m_updater->checkForUpdates();
        (void)QTest::qWaitFor([&] { return checked.count() + failed.count() > 0; }, s_wait);
        const bool one = checked.count() + failed.count() == 1;
        return {checked.value(0).value(0).value<UpdateInfo>(),
                one ? failed.value(0).value(0).toString() : "<not one signal>"};
    }

    Outcome download(const QString &url)
    {
        QSignalSpy finished(m_updater.get(), &Updater::downloadFinished),
            failed(m_updater.get(), &Updater::downloadFailed);
        QSignalSpy progress(m_updater.get(), &Updater::downloadProgress);
        m_updater->downloadUpdate(url);
        (void)QTest::qWaitFor([&] { return finished.count() + failed.count() > 0; }, s_wait);
        if (finished.count() + failed.count() != 1)
            return {{}, "<not one result signal>", {}};
        return {finished.value(0).value(0).toString(), failed.value(0).value(0).toString(),
                progress.value(progress.count() - 1)};
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
        QTest::addColumn<QString>("latest"); // "!": the check fails
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("installer");
        row("v prefix, newer", release("v3.2.2"), "3.2.2", true, "http://h/T-win64.exe");
        row("equal", release("v3.2.1"), "3.2.1", false, "");
        row("older", release("3.2.0"), "3.2.0", false, "");
        row("numeric, not textual", release("v3.10"), "3.10", true, "http://h/T-win64.exe");
        row("unreadable tag", release("latest"), "latest", false, "");
        row("not JSON", Response{200, {}, "<html>rate limited</html>"}, "", false, "");
        row("checksum listed first", release("v4", {"T-win64.exe.sha256", "T-win64.exe"}), "4", true,
            "http://h/T-win64.exe");
        row("no installer asset", release("v4", {"T-win64.exe.zip", "T-win32.exe", "T-WIN64.EXE"}), "4", true, "");
        row("no releases (404)", Response{404}, "!", false, "");
        row("server error (500)", Response{500}, "!", false, "");
        row("unreachable host", Response{0}, "!", false, "");
    }

    void check()
    {
        QFETCH(Response, answer);
        QFETCH(QString, latest);
        QFETCH(bool, available);
        QFETCH(QString, installer);
        const auto [info, error] = check(answer);
        const QByteArray head = m_server->requests.value(0).head;
        QVERIFY(!answer.status || (head.contains("\r\nAccept: application/vnd.github+json\r\n") &&
                                   head.contains("\r\nUser-Agent: Tavrin-Desktop\r\n")));
        if (latest == "!") {
            QVERIFY2(!error.isEmpty() && !error.startsWith('<'), qPrintable(error)); // checkFailed only
            return;
        }
        QCOMPARE(error, QString());
        QCOMPARE(info.latestVersion, latest);
        QCOMPARE(info.updateAvailable, available);
        QCOMPARE(info.downloadUrl, installer);
        QCOMPARE(info.currentVersion + info.releaseNotes,
                 "3.2.1" + QString(answer.body.startsWith('{') ? "notes" : ""));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("disposition");
        QTest::addColumn<QString>("expected");
        row("quoted header name", "/dl/x", "attachment; filename=\"Tavrin 9-win64.exe\"; a=b", "Tavrin 9-win64.exe");
        row("bare header name, more parameters", "/dl/x", "attachment; filename=setup.exe; a=b", "setup.exe");
        row("header name with separators", "/dl/x", "attachment; filename=\"../a\\\\..\\\\evil.exe\"", "evil.exe");
        row("header name is ..", "/dl/from-url.exe", "attachment; filename=\"..\"", "from-url.exe");
        row("url name, decoded", "/dl/My%20Setup.exe", "", "My Setup.exe");
        row("url name with encoded separators", "/dl/a%2F..%5Cb.exe", "", "b.exe");
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
        // The network layer resolves dot segments before sending; the reply keeps the address as asked.
        for (const QByteArray &at : {path.toLatin1(), QUrl(path).adjusted(QUrl::NormalizePathSegments).toEncoded(),
                                     QByteArray("/dl/Tavrin-2-win64.exe")})
            m_server->route(at, response);
        m_server->route("/r/setup", {302, {{"Location", url("/hop").toUtf8()}}});
        m_server->route("/hop", {301, {{"Location", "/dl/Tavrin-2-win64.exe"}}});
        const Outcome outcome = download(url(path.toLatin1()));
        QCOMPARE(outcome.failed, QString());
        QCOMPARE(outcome.finished, downloads() + '/' + expected);
        QCOMPARE(files(), QStringList{expected});
        QCOMPARE(TestEnv::readFile(outcome.finished), QByteArray("installer bytes"));
        QCOMPARE(outcome.progress, (QVariantList{15, 15}));
        QVERIFY(m_server->requests.last().head.contains("\r\nUser-Agent: Tavrin-Desktop\r\n"));
    }

    void cannotWrite()
    {
        const QString target = downloads() + "/blocked.exe";
        QVERIFY(QDir().mkpath(target)); // a folder in the way cannot be written over, whoever runs the test
        m_server->route("/blocked.exe", {200, {}, "bytes"});
        QCOMPARE(download(url("/blocked.exe")).failed, "Cannot write to " + target);
    }

    // With a checksum listed, the installer is kept only when it matches; a failed download never
    // leaves a partial file nor touches an older complete one.
    void downloadOutcome_data()
    {
        auto sha256 = [](const QByteArray &data) {
            return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
        };
        const QByteArray good = sha256(LocalHttp::pattern(0, s_size));
        const Response installer{200, {}, {}, s_size};
        QTest::addColumn<Response>("checksum");
        QTest::addColumn<Response>("installer");
        QTest::addColumn<QString>("error"); // part of the failure; none: the installer is kept
        row("bare digest", Response{200, {}, good + "\n"}, installer, "");
        row("sha256sum line", Response{200, {}, good + "  Tavrin-8-win64.exe\r\n"}, installer, "");
        row("binary-mode line, upper case", Response{200, {}, good.toUpper() + " *Tavrin-8-win64.exe"}, installer, "");
        row("mismatch", Response{200, {}, sha256("other")}, installer, "does not match");
        row("not a digest", Response{200, {}, "<html>oops</html>"}, installer, "holds no SHA-256");
        row("checksum fetch fails", Response{500}, installer, "Cannot fetch the checksum");
        row("too large to be a checksum", Response{200, {}, {}, 8 << 20}, installer, "too large");
        row("connection dropped mid-body", Response{200, {}, good}, Response{200, {}, {}, s_size, 1 << 20},
            "Connection closed");
        row("installer HTTP 500", Response{200, {}, good}, Response{500}, "Tavrin-8");
    }

    void downloadOutcome()
    {
        QFETCH(Response, checksum);
        QFETCH(Response, installer);
        QFETCH(QString, error);
        const QString target = downloads() + "/Tavrin-8-win64.exe";
        QVERIFY(TestEnv::writeFile(target, "older complete installer"));
        m_server->route("/a/Tavrin-8-win64.exe", installer);
        m_server->route("/a/Tavrin-8-win64.exe.sha256", checksum);
        const UpdateInfo info =
            check(release("v8", {"Tavrin-8-win64.exe.sha256", "Tavrin-8-win64.exe"}, url("/a/"))).first;
        const Outcome outcome = download(info.downloadUrl);
        QCOMPARE(TestEnv::readFile(target),
                 error.isEmpty() ? LocalHttp::pattern(0, s_size) : "older complete installer");
        QCOMPARE(files(), QStringList{"Tavrin-8-win64.exe"});
        QCOMPARE(outcome.finished, error.isEmpty() ? target : QString());
        QVERIFY2(error.isEmpty() == outcome.failed.isEmpty() && outcome.failed.contains(error),
                 qPrintable(outcome.failed));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
