#include "base/userfolders.h"
#include "core/settings.h"
#include "core/updater.h"
#include "localhttpserver.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QStandardPaths>

using LocalHttp::Response;
using TestEnv::row;
Q_DECLARE_METATYPE(Response)

constexpr qint64 s_size = 3 * 1024 * 1024 + 17; // an installer that takes several reads and writes

class TestUpdater : public QObject
{
    Q_OBJECT

    QNetworkAccessManager m_nam;
    std::unique_ptr<LocalHttp::Server> m_server;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<Settings> m_settings;
    UpdateInfo m_info; // of the last updateChecked

    static QString downloads() { return UserFolders::downloads(); }
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
        // Above every time limit the rows set, so a slow machine shows the updater's own verdict.
        (void)QTest::qWaitFor([&] { return !result.isEmpty(); }, 90000);
        return result;
    }

private slots:
    void init()
    {
        m_server = std::make_unique<LocalHttp::Server>();
        QVERIFY(m_server->start());
        makeUpdater("3.2.1");
        m_updater->setReleaseUrl(m_server->url("/latest"));
        QVERIFY(downloads().startsWith(TestEnv::home() + '/')); // never the real home
        QDir(downloads()).removeRecursively();
    }

    void check_data()
    {
        QTest::addColumn<Response>("answer");
        // latest version|"newer" or ""|installer; "!" and a part of the message: the check fails
        QTest::addColumn<QString>("expected");
        const QString installer = "http://h/T-win64.exe";
        // GitHub's answer has many more members.
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
            m_updater->setTimeLimits(60000, 60000); // Wine under load has needed more than 15 s
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
    // leaves a partial file nor touches an older complete one. A trickle that keeps restarting the
    // stall timer still ends; nothing confirms a body that ends with its connection (no size listed,
    // no checksum, no Content-Length), and it is not kept.
    void downloadOutcome_data()
    {
        const auto good = QCryptographicHash::hash(LocalHttp::pattern(0, s_size), QCryptographicHash::Sha256).toHex();
        const Response installer{200, {}, {}, s_size}, goodSum{200, {}, good}, unlisted{0, {}, good};
        QTest::addColumn<Response>("checksum"); // status 0: no check ran, so nothing is listed
        QTest::addColumn<Response>("installer");
        QTest::addColumn<QString>("error"); // part of the failure ("^": its start); none: the installer is kept
        row("sha256sum line", Response{200, {}, good + "  T-8-win64.exe\r\n"}, installer, "");
        row("binary-mode line, upper case", Response{200, {}, good.toUpper() + " *T-8-win64.exe"}, installer, "");
        row("mismatch", Response{200, {}, QByteArray(64, '0')}, installer, "does not match");
        row("checksum fetch fails", Response{500}, installer, "Cannot fetch the checksum");
        row("too large to be a checksum", Response{200, {}, {}, 8 << 20}, installer, "too large");
        row("dropped mid-body", goodSum, Response{200, {}, {}, s_size, 1 << 20}, "Connection closed");
        row("chunked, total from the release", goodSum, Response{200, {}, {}, s_size, -1, -1, true}, "");
        row("slow but moving", goodSum, Response{200, {}, {}, s_size, -1, -1, false, 80}, ""); // 1 s in all
        Response trickle{200, {}, {}, s_size, -1, -1, false, 200};                             // 10 bytes every 0.2 s
        trickle.pauseEvery = 10;
        row("trickle", goodSum, trickle,
            "The download was too slow: less than 1 KiB arrived in 2 s; nothing was kept.");
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
        Response closing{200, {}, {}, s_size};
        closing.closeDelimited = true;
        Response cut = closing;
        cut.dropAfter = s_size / 2;
        const QString unconfirmed = "^Nothing confirms that the download is complete";
        row("ends with the connection, listed", goodSum, closing, "");
        row("ends with the connection, whole", unlisted, closing, unconfirmed);
        row("ends with the connection, cut", unlisted, cut, unconfirmed);
        row("chunked, nothing listed", unlisted, Response{200, {}, {}, s_size, -1, -1, true}, unconfirmed);
        row("announced length, nothing listed", unlisted, installer, "");
    }

    void downloadOutcome()
    {
        QFETCH(Response, checksum);
        QFETCH(Response, installer);
        QFETCH(QString, error);
        const QString target = downloads() + "/T-8-win64.exe";
        QVERIFY(TestEnv::writeFile(target, "older") && QDir().mkpath(downloads() + "/blocked"));
        const bool listed = checksum.status;
        checksum.status = listed ? checksum.status : 200; // served beside the installer all the same
        m_server->route("/a/T-8-win64.exe", installer);
        m_server->route("/a/T-8-win64.exe.sha256", checksum);
        m_server->route("/latest", release("v8", {"T-8-win64.exe.sha256", "T-8-win64.exe"}, url("/a/")));
        const QString installerUrl = url("/a/T-8-win64.exe");
        if (listed)
            QCOMPARE(run([this] { m_updater->checkForUpdates(); }).value(2), installerUrl);
        const QStringList result = run([&] { m_updater->downloadUpdate(installerUrl); });
        QCOMPARE(TestEnv::readFile(target), error.isEmpty() ? LocalHttp::pattern(0, s_size) : "older");
        QCOMPARE(files(), (QStringList{"blocked", "T-8-win64.exe"}));
        const QStringList kept{target, QString::number(s_size), QString::number(s_size)};
        const bool start = error.startsWith('^');
        const qsizetype at = result.value(1).indexOf(error.mid(start ? 1 : 0));
        QVERIFY2(error.isEmpty() ? result == kept : result.value(0) == "failed" && (start ? at == 0 : at >= 0),
                 qPrintable(result.join('|')));
    }

    void assetChoice_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<bool>("fromDebianPackage");
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<QString>("expected");
        const QStringList both{"Tavrin-2.0.0-win64.exe.sha256",         "Tavrin-2.0.0-win64.exe",
                               "tavrin-desktop_2.0.0_amd64.deb.sha256", "tavrin-desktop-dbgsym_2.0.0_amd64.deb",
                               "tavrin-desktop_2.0.0_arm64.deb",        "tavrin-desktop_2.0.0_amd64.deb"};
        row("windows: the installer, not its checksum", both, "windows", false, "amd64", "Tavrin-2.0.0-win64.exe");
        row("linux, our package: this architecture's", both, "linux", true, "amd64", "tavrin-desktop_2.0.0_amd64.deb");
        row("linux, our package on arm64", both, "linux", true, "arm64", "tavrin-desktop_2.0.0_arm64.deb");
        row("linux, our package, none for armhf", both, "linux", true, "armhf", "");
        row("linux, a build folder", both, "linux", false, "amd64", "");
        row("macos", both, "macos", false, "arm64", "");
        row("windows, only other systems' files",
            QStringList{"Tavrin-2.0.0-WIN64.EXE", "tavrin-desktop_2.0.0_amd64.deb"}, "windows", false, "amd64", "");
        row("linux, a bare suffix is no package", QStringList{"tavrin-desktop__amd64.deb", "x_amd64.deb"}, "linux",
            true, "amd64", "");
    }
    void assetChoice()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, platform);
        QFETCH(bool, fromDebianPackage);
        QFETCH(QString, architecture);
        QTEST(Updater::assetName(names, platform, fromDebianPackage, architecture), "expected");
    }

    // dpkg's file list of our package decides whether the running copy came from it.
    void dpkgDecision_data()
    {
        QTest::addColumn<QString>("list"); // the list's content; "@": the folder of the test; "-": no database
        QTest::addColumn<bool>("listed");
        row("path listed", "/.\n/usr\n@/usr/bin/tavrin\n/usr/share/doc\n", true);
        row("listed without a final newline", "/usr\n@/usr/bin/tavrin", true);
        row("not listed", "/usr/bin/tavrin\n@/usr/bin/other\n", false);
        row("another file of the same name", "@/opt/tavrin\n", false);
        row("a path that only starts like it", "@/usr/bin/tavrin-old\n", false);
        row("no dpkg database", "-", false);
#ifdef Q_OS_UNIX
        row("listed through a linked folder (merged /usr)", "@/bin/tavrin\n", true);
        row("the list is a FIFO", "fifo", false);
#endif
    }
    void dpkgDecision()
    {
        QFETCH(QString, list);
        QTemporaryDir root;
        const QString base = root.path();
        if (list == "fifo" && !TestEnv::unixFiles)
            QSKIP("Windows has no FIFO");
        const QString info = base + "/var/lib/dpkg/info";
        const QString executable = base + "/usr/bin/tavrin";
        QVERIFY(TestEnv::writeFile(executable, "ELF") && TestEnv::writeFile(base + "/opt/tavrin", "ELF"));
#ifdef Q_OS_UNIX
        QVERIFY(QFile::link(base + "/usr/bin", base + "/bin"));
#endif
        QVERIFY(QDir().mkpath(info));
        if (list == "-")
            QVERIFY(QDir(base + "/var").removeRecursively());
        else if (list != "fifo")
            QVERIFY(TestEnv::writeFile(info + "/tavrin-desktop.list", list.replace('@', base).toUtf8()));
        if (list == "fifo")
            QVERIFY(TestEnv::makeFifo(info + "/tavrin-desktop.list"));
        QTEST(Installation::listedByDpkg(executable, info), "listed");
    }

    // A copy nobody packaged is "built from source", also after "make install" into /usr/local.
    void installationKind_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("executable");
        QTest::addColumn<int>("kind");
        using K = Installation::Kind;
        row("windows", "windows", "C:/Users/u/AppData/Local/Programs/Tavrin/tavrin.exe", int(K::WindowsInstaller));
        row("a build folder", "linux", "/home/u/src/desktop/build/default/tavrin", int(K::SourceBuild));
        row("make install", "linux", "/usr/local/bin/tavrin", int(K::SourceBuild));
        row("another distribution's package", "linux", "/usr/bin/tavrin", int(K::OtherPackage));
        row("flatpak", "linux", "/app/bin/tavrin", int(K::OtherPackage));
        row("macos bundle", "macos", "/Applications/Tavrin.app/Contents/MacOS/tavrin", int(K::OtherPackage));
    }
    void installationKind()
    {
        QFETCH(QString, platform);
        QFETCH(QString, executable);
        QTEST(int(Installation::kind(platform, executable, false)), "kind");
    }

    // A release with both an installer and a package: Linux gets the package only when dpkg
    // installed the running copy, and then downloads and verifies it like the installer.
    void packagePerMachine_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<bool>("listed"); // dpkg lists this test's executable as ours
        QTest::addColumn<QString>("asset");
        row("linux, a build folder", "linux", false, "");
        row("linux, our package", "linux", true, "tavrin-desktop_8.0.0_" + Installation::debianArchitecture() + ".deb");
        row("windows", "windows", false, "T-8.0.0-win64.exe");
    }
    void packagePerMachine()
    {
        QFETCH(QString, platform);
        QFETCH(bool, listed);
        QFETCH(QString, asset);
        QTemporaryDir info;
        if (listed)
            QVERIFY(TestEnv::writeFile(info.path() + "/tavrin-desktop.list",
                                       "/usr\n" + QCoreApplication::applicationFilePath().toUtf8() + "\n"));
        m_updater->setPlatform(platform);
        m_updater->setDpkgInfoDir(info.path());
        const QString deb = "tavrin-desktop_8.0.0_" + Installation::debianArchitecture() + ".deb";
        QStringList names{"T-8.0.0-win64.exe", "T-8.0.0-win64.exe.sha256", deb, deb + ".sha256"};
        Response answer = release("v8.0.0", names, url("/a/"));
        answer.body.insert(1, "\"html_url\":\"https://github.com/o/r/releases/tag/v8.0.0\",");
        m_server->route("/latest", answer);
        const QByteArray content = LocalHttp::pattern(0, s_size);
        const QByteArray sum = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
        for (const QString &name : names)
            m_server->route("/a/" + name.toUtf8(), name.endsWith(".sha256")
                                                       ? Response{200, {}, sum + "  " + name.chopped(7).toUtf8() + "\n"}
                                                       : Response{200, {}, {}, s_size});
        QCOMPARE(run([this] { m_updater->checkForUpdates(); }).value(2), asset.isEmpty() ? "" : url("/a/") + asset);
        QCOMPARE(m_info.assetName, asset);
        QCOMPARE(m_info.releasePage, "https://github.com/o/r/releases/tag/v8.0.0");
        QCOMPARE(m_info.installation, platform == "windows" ? Installation::Kind::WindowsInstaller
                                      : listed              ? Installation::Kind::DebianPackage
                                                            : Installation::Kind::SourceBuild);
        if (asset.isEmpty())
            return;
        QCOMPARE(run([this] { m_updater->downloadUpdate(m_info.downloadUrl); }).value(0), downloads() + '/' + asset);
        QCOMPARE(TestEnv::readFile(downloads() + '/' + asset), content);
        const QStringList asked{m_server->requests.at(1).path, m_server->requests.at(2).path};
        QCOMPARE(asked, QStringList({"/a/" + asset + ".sha256", "/a/" + asset}));
    }

    void versionOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        row("pre-release before its release", "1.1.0-beta.2", "1.1.0", -1);
        row("pre-release after the release before", "1.1.0-beta.1", "1.0.9", 1);
        row("numbers in pre-releases are numbers", "1.1.0-beta.2", "1.1.0-beta.10", -1);
        row("longer digit run than fits a number", "1.1.0-beta.99999999999999999999999", "1.1.0-beta.2", 1);
        row("words compare as text", "1.1.0-beta.11", "1.1.0-rc.1", -1);
        row("a number before a word", "1.1.0-1", "1.1.0-alpha", -1);
        row("more parts after equal ones", "1.1.0-alpha", "1.1.0-alpha.1", -1);
        row("build metadata has no say", "1.1.0+build.7", "1.1.0", 0);
        row("equal pre-releases", "2.0.0-rc.1+a", "2.0.0-rc.1", 0);
        row("an extra zero segment is newer", "1.0.1.0", "1.0.1", 1);
        row("an unreadable version is the oldest", "V2.0.0", "1.0.1", -1);
        row("two unreadable versions", "latest", "nightly", 0);
    }
    void versionOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(Updater::compareVersions(a, b), order);
        QCOMPARE(Updater::compareVersions(b, a), -order);
    }

    // With "Include pre-releases" the check reads the release list and takes its newest non-draft.
    void prereleases_data()
    {
        QTest::addColumn<bool>("include");
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("expected"); // latest|"newer" or ""
        row("off: the latest release only", false, "3.9.0", "4.0.0|newer");
        row("on: a newer pre-release", true, "4.1.0-beta.1", "4.1.0-beta.2|newer");
        row("on: the release is newer than its pre-releases", true, "4.1.0", "4.1.0-beta.2|");
        row("on: from a stable version", true, "4.0.0", "4.1.0-beta.2|newer");
    }
    void prereleases()
    {
        QFETCH(bool, include);
        QFETCH(QString, running);
        useSettings();
        m_settings->setIncludePrereleases(include);
        makeUpdater(running);
        m_updater->setSettings(m_settings.get());
        m_updater->setReleaseUrl(m_server->url("/repos/o/r/releases/latest"));
        const auto tagged = [](const char *tag, bool draft, bool prerelease) {
            return QJsonObject{{"tag_name", tag}, {"draft", draft}, {"prerelease", prerelease}, {"body", tag}};
        };
        const QJsonArray list{tagged("v5.0.0", true, false),        tagged("v4.0.1-rc.1", false, true),
                              tagged("v4.1.0-beta.2", false, true), tagged("v4.1.0-beta.1", false, true),
                              tagged("v4.0.0", false, false),       QJsonValue("junk")};
        m_server->route("/repos/o/r/releases?per_page=10", {200, {}, QJsonDocument(list).toJson()});
        m_server->route("/repos/o/r/releases/latest",
                        {200, {}, QJsonDocument(tagged("v4.0.0", false, false)).toJson()});
        const QStringList result = run([this] { m_updater->checkForUpdates(); });
        QTEST(result.mid(0, 2).join('|'), "expected");
        QCOMPARE(result.value(4), result.value(0).prepend('v')); // the notes of the chosen release
    }

    // Automatic checks ask once a day at most; "Check Now" always asks, sending the ETag, and a
    // 304 answers with the release stored from last time. A version the user skipped is news only
    // to a manual check.
    void politeSchedule()
    {
        useSettings();
        const QByteArray answer = release("v4", {"T-win64.exe"}, url("/a/")).body;
        m_server->route("/latest", {200, {{"ETag", "W/\"e1\""}}, answer});
        QVERIFY(m_updater->checkAutomatically());
        QTRY_COMPARE(m_info.latestVersion, "4");
        QVERIFY(m_info.automatic && m_info.worthTelling());
        QCOMPARE(m_settings->updateEtag(), "W/\"e1\"");
        QVERIFY(qAbs(m_settings->updateAnsweredAt().secsTo(QDateTime::currentDateTimeUtc())) < 60);
        QVERIFY(!m_server->requests.at(0).head.contains("If-None-Match"));

        QVERIFY(!m_updater->checkAutomatically()); // answered a moment ago
        m_server->route("/latest", {304, {{"ETag", "W/\"e1\""}}});
        const QStringList again = run([this] { m_updater->checkForUpdates(); });
        QCOMPARE(again.mid(0, 3), QStringList({"4", "newer", url("/a/T-win64.exe")}));
        QVERIFY(!m_info.automatic);
        QCOMPARE(m_server->requests.size(), 2);
        QVERIFY(m_server->requests.at(1).head.contains("\r\nIf-None-Match: W/\"e1\"\r\n"));

        m_updater->skipVersion("4");
        Settings reread; // stored, not only kept in memory
        QCOMPARE(reread.skippedVersion(), "4");
        m_settings->setUpdateAnsweredAt(QDateTime::currentDateTimeUtc().addSecs(-25 * 3600));
        m_info = {};
        QVERIFY(m_updater->checkAutomatically());
        QTRY_COMPARE(m_info.latestVersion, "4");
        QVERIFY(m_info.skipped && m_info.updateAvailable && !m_info.worthTelling());
        (void)run([this] { m_updater->checkForUpdates(); });
        QVERIFY(m_info.skipped && m_info.worthTelling());
        m_server->route("/latest", {200, {}, release("v5").body}); // a later version is news again
        m_settings->setUpdateAnsweredAt({});
        m_info = {};
        QVERIFY(m_updater->checkAutomatically());
        QTRY_COMPARE(m_info.latestVersion, "5");
        QVERIFY(!m_info.skipped && m_info.worthTelling());
        QCOMPARE(m_server->requests.size(), 5);
    }

    // A refusal for the rate limit names when to try again, and no automatic check asks before then.
    void rateLimits_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("headers"); // name, value, ...; "@+N": now + N s as epoch seconds
        QTest::addColumn<int>("wait");               // seconds from now; -1: no rate limit
        using H = QByteArrayList;
        row("403, quota used up", 403, H{"x-ratelimit-remaining", "0", "x-ratelimit-reset", "@+3600"}, 3600);
        row("429, Retry-After in seconds", 429, H{"Retry-After", "120"}, 120);
        row("403, Retry-After as a date", 403, H{"Retry-After", "date+600"}, 600);
        row("both: the later", 429, H{"X-RateLimit-Remaining", "0", "X-RateLimit-Reset", "@+300", "Retry-After", "900"},
            900);
        row("quota used up, no reset given: an hour", 403, H{"x-ratelimit-remaining", "0"}, 3600);
        row("reset already past: a minute", 403, H{"x-ratelimit-remaining", "0", "x-ratelimit-reset", "@+-500"}, 60);
        row("ten days asked: one", 429, H{"Retry-After", "864000"}, 24 * 3600);
        row("403 with quota left: no rate limit", 403, H{"x-ratelimit-remaining", "12", "x-ratelimit-reset", "@+3600"},
            -1);
    }
    void rateLimits()
    {
        QFETCH(int, status);
        QFETCH(QByteArrayList, headers);
        QFETCH(int, wait);
        useSettings();
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QList<QPair<QByteArray, QByteArray>> sent;
        for (qsizetype i = 0; i + 1 < headers.size(); i += 2) {
            QByteArray value = headers.at(i + 1);
            if (value.startsWith("@+"))
                value = QByteArray::number(now.toSecsSinceEpoch() + value.mid(2).toLongLong());
            else if (value.startsWith("date+"))
                value = QLocale::c()
                            .toString(now.addSecs(value.mid(5).toLongLong()), "ddd, dd MMM yyyy HH:mm:ss 'GMT'")
                            .toLatin1();
            sent.append({headers.at(i), value});
        }
        m_server->route("/latest", {status, sent, "{\"message\":\"API rate limit exceeded\"}"});
        const QStringList result = run([this] { m_updater->checkForUpdates(); });
        QCOMPARE(result.value(0), "failed");
        if (wait < 0) {
            QVERIFY(!result.value(1).contains("limit"));
            QVERIFY(!m_settings->updateWaitUntil().isValid());
            QVERIFY(m_updater->checkAutomatically());
            return;
        }
        const QDateTime until = m_settings->updateWaitUntil();
        QVERIFY2(qAbs(now.addSecs(wait).secsTo(until)) <= 5, qPrintable(until.toString(Qt::ISODate)));
        // The stored end, as a clock shows it: the next full minute.
        QDateTime shown = until.toLocalTime().addMSecs(59999);
        shown.setTime(QTime(shown.time().hour(), shown.time().minute()));
        const QString format = shown.date() == QDate::currentDate() ? "HH:mm" : "yyyy-MM-dd HH:mm";
        QCOMPARE(result.value(1),
                 "GitHub's limit for this network is used up; try again after " + shown.toString(format));
        QVERIFY(!m_updater->checkAutomatically());
        QCOMPARE(m_server->requests.size(), 1);
        (void)run([this] { m_updater->checkForUpdates(); }); // "Check Now" asks all the same
        QCOMPARE(m_server->requests.size(), 2);
    }

    // The plain cases (never, a moment ago, a day ago, a rate limit's wait) are politeSchedule's
    // and rateLimits'; these are the clocks that cannot be trusted.
    void automaticCheckDue_data()
    {
        QTest::addColumn<int>("answered"); // seconds before now; 0: never
        QTest::addColumn<int>("waitFor");  // seconds after now; 0: no wait
        QTest::addColumn<bool>("due");
        row("clock set back since the answer", -7200, 0, true);
        row("a wait longer than a day is not believed", 30 * 3600, 48 * 3600, true);
    }
    void automaticCheckDue()
    {
        QFETCH(int, answered);
        QFETCH(int, waitFor);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QTEST(Updater::automaticCheckDue(answered ? now.addSecs(-answered) : QDateTime(),
                                         waitFor ? now.addSecs(waitFor) : QDateTime(), now),
              "due");
    }

private:
    void makeUpdater(const QString &version)
    {
        m_info = {};
        m_updater = std::make_unique<Updater>(&m_nam, version);
        m_updater->setTimeLimits(400, 600, 2000); // 15 s, 30 s and 60 s in the application
        m_updater->setPlatform("windows");        // most rows name Windows installers
        connect(m_updater.get(), &Updater::updateChecked, this, [this](const UpdateInfo &info) { m_info = info; });
    }

    void useSettings()
    {
        QFile::remove(Settings::filePath());
        m_settings = std::make_unique<Settings>();
        m_updater->setSettings(m_settings.get());
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
