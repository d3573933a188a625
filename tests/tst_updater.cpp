#include "localhttpserver.h"
#include "testenv.h"
#include "updater.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>

using LocalHttp::Response;
Q_DECLARE_METATYPE(LocalHttp::Response)

namespace {

const QString s_running = QStringLiteral("3.2.1");
constexpr int s_wait = 15000;

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject asset(const QString &name, const QString &url)
{
    return QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("browser_download_url"), url}};
}

Response ok(const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &headers = {})
{
    Response response;
    response.body = body;
    response.headers = headers;
    return response;
}

Response status(int code)
{
    Response response;
    response.status = code;
    response.body = "error page " + QByteArray::number(code);
    return response;
}

QString sha256Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QString downloads()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

QStringList downloadedFiles()
{
    return QDir(downloads()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

struct Outcome
{
    QString finished;
    QString failed;
    QList<QPair<qint64, qint64>> progress;
};

Outcome runDownload(Updater &updater, const QString &url)
{
    QSignalSpy finished(&updater, &Updater::downloadFinished);
    QSignalSpy failed(&updater, &Updater::downloadFailed);
    QSignalSpy progress(&updater, &Updater::downloadProgress);
    updater.downloadUpdate(url);
    Outcome outcome;
    if (!QTest::qWaitFor([&] { return finished.count() + failed.count() > 0; }, s_wait))
        outcome.failed = QStringLiteral("<no result signal>");
    if (!finished.isEmpty())
        outcome.finished = finished.at(0).at(0).toString();
    if (!failed.isEmpty())
        outcome.failed = failed.at(0).at(0).toString();
    if (finished.count() + failed.count() > 1)
        outcome.failed = QStringLiteral("<more than one result signal>");
    for (const QList<QVariant> &report : std::as_const(progress))
        outcome.progress.append({report.at(0).toLongLong(), report.at(1).toLongLong()});
    return outcome;
}

// A manager that would follow any redirect, downgrades included: the download request's own
// policy must be what refuses them.
class PermissiveManager : public QNetworkAccessManager
{
public:
    PermissiveManager() { setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy); }

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override
    {
        QNetworkReply *reply = QNetworkAccessManager::createRequest(op, request, data);
        connect(reply, &QNetworkReply::redirected, reply, &QNetworkReply::redirectAllowed);
        return reply;
    }
};

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

    QNetworkAccessManager m_nam;
    std::unique_ptr<LocalHttp::Server> m_server;

    UpdateInfo check(Updater &updater, QString *error = nullptr)
    {
        QSignalSpy checked(&updater, &Updater::updateChecked);
        QSignalSpy failed(&updater, &Updater::checkFailed);
        updater.checkForUpdates();
        // A check that never answers returns a default record, which no test row expects.
        if (!QTest::qWaitFor([&] { return checked.count() + failed.count() > 0; }, s_wait))
            qWarning("The check did not answer");
        if (error && !failed.isEmpty())
            *error = failed.at(0).at(0).toString();
        return checked.isEmpty() ? UpdateInfo{} : checked.at(0).at(0).value<UpdateInfo>();
    }

    // Serves a release and runs one check against it.
    UpdateInfo checkRelease(Updater &updater, const QByteArray &body)
    {
        m_server->route("/repos/tavrin/desktop/releases/latest", ok(body));
        updater.setReleaseUrl(m_server->url("/repos/tavrin/desktop/releases/latest"));
        return check(updater);
    }

    QString url(const QByteArray &path) const { return m_server->url(path).toString(); }

private slots:
    void initTestCase()
    {
        // Downloads must land inside the temporary home, never in the real one.
        QVERIFY2(downloads().startsWith(TestEnv::home() + QLatin1Char('/')), qPrintable(downloads()));
    }

    void init()
    {
        m_server = std::make_unique<LocalHttp::Server>();
        QVERIFY(m_server->start());
        QDir(downloads()).removeRecursively();
    }

    void cleanup() { m_server.reset(); }

    void versions_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("latest");

        auto release = [](const QJsonValue &tag) {
            QJsonObject object{{QStringLiteral("body"), QStringLiteral("notes")},
                               {QStringLiteral("assets"),
                                QJsonArray{asset(QStringLiteral("Tavrin-x-win64.exe"), QStringLiteral("http://h/i"))}}};
            if (!tag.isUndefined())
                object.insert(QStringLiteral("tag_name"), tag);
            return json(object);
        };
        QTest::newRow("v prefix, newer") << release(QStringLiteral("v3.2.2")) << true << "3.2.2";
        QTest::newRow("equal with v") << release(QStringLiteral("v3.2.1")) << false << "3.2.1";
        QTest::newRow("equal without v") << release(QStringLiteral("3.2.1")) << false << "3.2.1";
        QTest::newRow("older") << release(QStringLiteral("v3.2.0")) << false << "3.2.0";
        QTest::newRow("fourth segment") << release(QStringLiteral("3.2.1.1")) << true << "3.2.1.1";
        QTest::newRow("extra zero segment is newer") << release(QStringLiteral("3.2.1.0")) << true << "3.2.1.0";
        QTest::newRow("numeric, not textual") << release(QStringLiteral("v3.10.0")) << true << "3.10.0";
        QTest::newRow("upper-case V stays, unreadable") << release(QStringLiteral("V9.0.0")) << false << "V9.0.0";
        QTest::newRow("only one v dropped") << release(QStringLiteral("vv9.0.0")) << false << "v9.0.0";
        QTest::newRow("beta suffix, newer") << release(QStringLiteral("v3.2.2-beta")) << true << "3.2.2-beta";
        QTest::newRow("beta suffix, equal") << release(QStringLiteral("3.2.1-beta")) << false << "3.2.1-beta";
        QTest::newRow("unreadable tag") << release(QStringLiteral("latest")) << false << "latest";
        QTest::newRow("missing tag") << release(QJsonValue(QJsonValue::Undefined)) << false << "";
        QTest::newRow("tag not a string") << release(42) << false << "";
        QTest::newRow("array body") << QByteArray("[{\"tag_name\":\"9.9.9\"}]") << false << "";
        QTest::newRow("not JSON") << QByteArray("<html>rate limited</html>") << false << "";
    }

    void versions()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, available);
        QFETCH(QString, latest);
        Updater updater(&m_nam, s_running);
        const UpdateInfo info = checkRelease(updater, body);
        QCOMPARE(info.currentVersion, s_running);
        QCOMPARE(info.updateAvailable, available);
        QCOMPARE(info.latestVersion, latest);
        // The installer is offered only with an update.
        QCOMPARE(info.downloadUrl, available ? QStringLiteral("http://h/i") : QString());
        QCOMPARE(info.releaseNotes, body.startsWith('{') ? QStringLiteral("notes") : QString());
    }

    void assetChoice_data()
    {
        QTest::addColumn<QJsonArray>("assets");
        QTest::addColumn<QString>("chosen");

        QTest::newRow("checksum listed first") << QJsonArray{asset("Tavrin-4.0.0-win64.exe.sha256", "http://h/sum"),
                                                             asset("Tavrin-4.0.0-win64.exe", "http://h/setup")}
                                               << "http://h/setup";
        QTest::newRow("first of two installers")
            << QJsonArray{asset("a-win64.exe", "http://h/a"), asset("b-win64.exe", "http://h/b")} << "http://h/a";
        QTest::newRow("no matching asset")
            << QJsonArray{asset("Tavrin-win64.exe.zip", "http://h/zip"), asset("Tavrin-win32.exe", "http://h/32"),
                          asset("Tavrin-WIN64.EXE", "http://h/upper"), QJsonValue(7)}
            << "";
        QTest::newRow("no assets") << QJsonArray{} << "";
    }

    void assetChoice()
    {
        QFETCH(QJsonArray, assets);
        QFETCH(QString, chosen);
        Updater updater(&m_nam, s_running);
        const UpdateInfo info = checkRelease(updater, json({{QStringLiteral("tag_name"), QStringLiteral("v4.0.0")},
                                                            {QStringLiteral("assets"), assets}}));
        QVERIFY(info.updateAvailable);
        QCOMPARE(info.downloadUrl, chosen);
    }

    void checkRequestHeaders()
    {
        Updater updater(&m_nam, s_running);
        checkRelease(updater, json({{QStringLiteral("tag_name"), QStringLiteral("1.0.0")}}));
        m_server->route("/setup.exe", ok("x"));
        QVERIFY(runDownload(updater, url("/setup.exe")).failed.isEmpty());

        QCOMPARE(m_server->requests.size(), 2);
        const LocalHttp::Request query = m_server->requests.at(0);
        QCOMPARE(query.method, QByteArray("GET"));
        QCOMPARE(query.headers.value("accept"), QByteArray("application/vnd.github+json"));
        QCOMPARE(query.headers.value("user-agent"), QByteArray("Tavrin-Desktop"));
        const LocalHttp::Request download = m_server->requests.at(1);
        QCOMPARE(download.headers.value("user-agent"), QByteArray("Tavrin-Desktop"));
        QVERIFY(download.headers.value("accept") != "application/vnd.github+json");
    }

    void checkFails_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("no releases (404)") << 404;
        QTest::newRow("refused (403)") << 403;
        QTest::newRow("server error (500)") << 500;
        QTest::newRow("unreachable host") << 0;
    }

    void checkFails()
    {
        QFETCH(int, code);
        Updater updater(&m_nam, s_running);
        if (code) {
            m_server->route("/latest", status(code));
            updater.setReleaseUrl(m_server->url("/latest"));
        } else {
            const QUrl closed = m_server->url("/latest");
            m_server.reset(); // nothing listens on that port any more
            updater.setReleaseUrl(closed);
        }
        QSignalSpy checked(&updater, &Updater::updateChecked);
        QSignalSpy failed(&updater, &Updater::checkFailed);
        updater.checkForUpdates();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, s_wait);
        QVERIFY(!failed.at(0).at(0).toString().isEmpty());
        QCOMPARE(checked.count(), 0);
    }

    void infoCrossesQueuedConnections()
    {
        Updater updater(&m_nam, s_running);
        QObject receiver;
        UpdateInfo received;
        connect(
            &updater, &Updater::updateChecked, &receiver, [&](const UpdateInfo &info) { received = info; },
            Qt::QueuedConnection);
        checkRelease(updater, json({{QStringLiteral("tag_name"), QStringLiteral("v5.0.0")}}));
        QTRY_COMPARE_WITH_TIMEOUT(received.latestVersion, QStringLiteral("5.0.0"), s_wait);
        QVERIFY(received.updateAvailable);
    }

    void fileNames_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("disposition");
        QTest::addColumn<QString>("expected");

        QTest::newRow("quoted header name")
            << QByteArray("/dl/x") << QByteArray("attachment; filename=\"Tavrin-9-win64.exe\"") << "Tavrin-9-win64.exe";
        QTest::newRow("bare header name, more parameters")
            << QByteArray("/dl/x") << QByteArray("attachment; filename=setup.exe; size=3") << "setup.exe";
        QTest::newRow("header name with parent folders")
            << QByteArray("/dl/x") << QByteArray("attachment; filename=\"../../evil.exe\"") << "evil.exe";
        QTest::newRow("header name with backslashes")
            << QByteArray("/dl/x") << QByteArray("attachment; filename=\"..\\\\..\\\\win.exe\"") << "win.exe";
        QTest::newRow("header name is ..")
            << QByteArray("/dl/from-url.exe") << QByteArray("attachment; filename=\"..\"") << "from-url.exe";
        QTest::newRow("header without filename")
            << QByteArray("/dl/from-url.exe") << QByteArray("inline") << "from-url.exe";
        QTest::newRow("name from url") << QByteArray("/dl/Tavrin-1.2.3-win64.exe") << QByteArray()
                                       << "Tavrin-1.2.3-win64.exe";
        QTest::newRow("url name decoded") << QByteArray("/dl/My%20Setup.exe") << QByteArray() << "My Setup.exe";
        QTest::newRow("url name with encoded slash") << QByteArray("/dl/a%2F..%2Fb.exe") << QByteArray() << "b.exe";
        QTest::newRow("url name with encoded backslash") << QByteArray("/dl/x%5Cy.exe") << QByteArray() << "y.exe";
        QTest::newRow("url ends in slash") << QByteArray("/dl/") << QByteArray() << "Tavrin-update";
        QTest::newRow("url name is ..") << QByteArray("/dl/%2E%2E") << QByteArray() << "Tavrin-update";
        QTest::newRow("url name is .") << QByteArray("/dl/%2E") << QByteArray() << "Tavrin-update";
    }

    void fileNames()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, disposition);
        QFETCH(QString, expected);
        Response response = ok("installer bytes");
        if (!disposition.isEmpty())
            response.headers.append({"Content-Disposition", disposition});
        m_server->route(path, response);
        // The network layer resolves dot segments before sending; the reply keeps the address as asked.
        m_server->route(QUrl::fromEncoded(path).adjusted(QUrl::NormalizePathSegments).toEncoded(), response);
        Updater updater(&m_nam, s_running);
        const Outcome outcome = runDownload(updater, url(path));
        QCOMPARE(outcome.failed, QString());
        QCOMPARE(outcome.finished, downloads() + QLatin1Char('/') + expected);
        QCOMPARE(downloadedFiles(), QStringList{expected});
        QCOMPARE(TestEnv::readFile(outcome.finished), QByteArray("installer bytes"));
    }

    void followsRedirects()
    {
        m_server->route("/releases/download/v2/setup", LocalHttp::redirect(url("/hop").toUtf8()));
        m_server->route("/hop", LocalHttp::redirect("/final/Tavrin-2.0.0-win64.exe", 301));
        m_server->route("/final/Tavrin-2.0.0-win64.exe", ok("final bytes"));
        Updater updater(&m_nam, s_running);
        const Outcome outcome = runDownload(updater, url("/releases/download/v2/setup"));
        QCOMPARE(outcome.failed, QString());
        QCOMPARE(outcome.finished, downloads() + QStringLiteral("/Tavrin-2.0.0-win64.exe"));
        QCOMPARE(TestEnv::readFile(outcome.finished), QByteArray("final bytes"));
        QCOMPARE(downloadedFiles().size(), 1);
        QVERIFY(!outcome.progress.isEmpty());
        QCOMPARE(outcome.progress.last(), qMakePair(qint64(11), qint64(11)));
    }

    void streamsLargeBody()
    {
        constexpr qint64 size = 24 * 1024 * 1024 + 17;
        Response response;
        response.generatedSize = size;
        m_server->route("/big-win64.exe", response);
        Updater updater(&m_nam, s_running);
        const Outcome outcome = runDownload(updater, url("/big-win64.exe"));
        QCOMPARE(outcome.failed, QString());
        QFile file(outcome.finished);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.size(), size);
        for (qint64 offset = 0; offset < size; offset += 1024 * 1024) {
            const QByteArray chunk = file.read(1024 * 1024);
            QVERIFY2(chunk == LocalHttp::pattern(offset, chunk.size()), qPrintable(QString::number(offset)));
        }
        QCOMPARE(outcome.progress.last(), qMakePair(size, size));
    }

    void failedDownloadKeepsOlderFile_data()
    {
        QTest::addColumn<Response>("response");
        Response dropped;
        dropped.generatedSize = 4 * 1024 * 1024;
        dropped.dropAfter = 1024 * 1024 + 5;
        QTest::newRow("connection dropped mid-body") << dropped;
        QTest::newRow("HTTP 500") << status(500);
        QTest::newRow("HTTP 404") << status(404);
    }

    void failedDownloadKeepsOlderFile()
    {
        QFETCH(Response, response);
        const QString target = downloads() + QStringLiteral("/Tavrin-7-win64.exe");
        QVERIFY(TestEnv::writeFile(target, "older complete installer"));
        m_server->route("/dl/Tavrin-7-win64.exe", response);
        Updater updater(&m_nam, s_running);
        const Outcome outcome = runDownload(updater, url("/dl/Tavrin-7-win64.exe"));
        QVERIFY(outcome.finished.isEmpty());
        QVERIFY(!outcome.failed.isEmpty());
        QCOMPARE(TestEnv::readFile(target), QByteArray("older complete installer"));
        QCOMPARE(downloadedFiles(), QStringList{QStringLiteral("Tavrin-7-win64.exe")});
    }

    void cannotWrite()
    {
        // A folder in the way of the file cannot be written over, whoever runs the test.
        const QString target = downloads() + QStringLiteral("/blocked.exe");
        QVERIFY(QDir().mkpath(target));
        m_server->route("/blocked.exe", ok("bytes"));
        Updater updater(&m_nam, s_running);
        const Outcome outcome = runDownload(updater, url("/blocked.exe"));
        QCOMPARE(outcome.failed, QStringLiteral("Cannot write to ") + target);
        QVERIFY(outcome.finished.isEmpty());
        QVERIFY(QFileInfo(target).isDir());
    }

    void checksum_data()
    {
        const QByteArray installer = "the real installer";
        const QString good = sha256Hex(installer);
        QTest::addColumn<Response>("checksum");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("error");

        QTest::newRow("bare digest") << ok(good.toLatin1() + "\n") << true << "";
        QTest::newRow("sha256sum line") << ok(good.toLatin1() + "  Tavrin-8-win64.exe\r\n") << true << "";
        QTest::newRow("binary-mode line, upper case")
            << ok(good.toUpper().toLatin1() + " *Tavrin-8-win64.exe") << true << "";
        QTest::newRow("mismatch") << ok(sha256Hex("something else").toLatin1()) << false << "does not match";
        QTest::newRow("not a digest") << ok("<html>oops</html>") << false << "holds no SHA-256";
        QTest::newRow("fetch fails") << status(500) << false << "Cannot fetch the checksum";
        Response huge;
        huge.generatedSize = 8 * 1024 * 1024;
        QTest::newRow("too large to be a checksum") << huge << false << "too large";
    }

    void checksum()
    {
        QFETCH(Response, checksum);
        QFETCH(bool, kept);
        QFETCH(QString, error);
        const QString target = downloads() + QStringLiteral("/Tavrin-8-win64.exe");
        QVERIFY(TestEnv::writeFile(target, "older complete installer"));
        m_server->route("/assets/Tavrin-8-win64.exe", ok("the real installer"));
        m_server->route("/assets/Tavrin-8-win64.exe.sha256", checksum);
        Updater updater(&m_nam, s_running);
        const UpdateInfo info = checkRelease(
            updater, json({{QStringLiteral("tag_name"), QStringLiteral("v8.0.0")},
                           {QStringLiteral("assets"),
                            QJsonArray{asset("Tavrin-8-win64.exe.sha256", url("/assets/Tavrin-8-win64.exe.sha256")),
                                       asset("Tavrin-8-win64.exe", url("/assets/Tavrin-8-win64.exe"))}}}));
        QCOMPARE(info.downloadUrl, url("/assets/Tavrin-8-win64.exe"));
        const Outcome outcome = runDownload(updater, info.downloadUrl);
        if (kept) {
            QCOMPARE(outcome.failed, QString());
            QCOMPARE(outcome.finished, target);
            QCOMPARE(TestEnv::readFile(target), QByteArray("the real installer"));
        } else {
            QVERIFY(outcome.finished.isEmpty());
            QVERIFY2(outcome.failed.contains(error), qPrintable(outcome.failed));
            QCOMPARE(TestEnv::readFile(target), QByteArray("older complete installer"));
        }
        QCOMPARE(downloadedFiles(), QStringList{QStringLiteral("Tavrin-8-win64.exe")});
    }

    void httpsToHttpRedirectRefused()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("No TLS backend in this Qt; the HTTPS redirect case cannot run");
        const QString openssl =
            QStandardPaths::findExecutable(QStringLiteral("openssl"), {"/usr/bin", "/usr/local/bin", "/bin"});
        if (openssl.isEmpty())
            QSKIP("No openssl command to make a test certificate; the HTTPS redirect case cannot run");
        const QString dir = TestEnv::root().path() + QStringLiteral("/tls");
        QDir().mkpath(dir);
        QProcess make;
        make.start(openssl,
                   {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1", "-keyout", dir + "/key.pem", "-out", dir + "/cert.pem"});
        QVERIFY(make.waitForFinished(60000));
        QCOMPARE(make.exitCode(), 0);
        const QSslCertificate certificate(TestEnv::readFile(dir + "/cert.pem"), QSsl::Pem);
        const QSslKey key(TestEnv::readFile(dir + "/key.pem"), QSsl::Rsa, QSsl::Pem);
        QVERIFY(!certificate.isNull() && !key.isNull());

        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificate(certificate);
        QSslConfiguration::setDefaultConfiguration(trusting);

        LocalHttp::Server tls;
        tls.useTls(certificate, key);
        QVERIFY(tls.start());
        m_server->route("/plain-win64.exe", ok("downgraded bytes"));
        tls.route("/secure-win64.exe", ok("secure bytes"));
        tls.route("/downgrade", LocalHttp::redirect(url("/plain-win64.exe").toUtf8()));

        PermissiveManager permissive;
        Updater updater(&permissive, s_running);
        const Outcome secure = runDownload(updater, tls.url("/secure-win64.exe").toString());
        QCOMPARE(secure.failed, QString());
        QCOMPARE(TestEnv::readFile(secure.finished), QByteArray("secure bytes"));

        // A TLS connection opened while the server still shuts the previous one down leaks inside
        // OpenSSL (seen under LeakSanitizer, not in our code): one connection at a time.
        QTRY_COMPARE_WITH_TIMEOUT(tls.openConnections(), 0, s_wait);
        const Outcome downgrade = runDownload(updater, tls.url("/downgrade").toString());
        QVERIFY(!downgrade.failed.isEmpty());
        QVERIFY(downgrade.finished.isEmpty());
        QVERIFY(m_server->requests.isEmpty());
        QCOMPARE(downloadedFiles(), QStringList{QStringLiteral("secure-win64.exe")});
        QTRY_COMPARE_WITH_TIMEOUT(tls.openConnections(), 0, s_wait);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
