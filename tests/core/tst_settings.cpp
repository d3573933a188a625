#include "base/logger.h"
#include "base/userfolders.h"
#include "core/backups.h"
#include "core/settings.h"
#include "testenv.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>
#endif

class TestSettings : public QObject
{
    Q_OBJECT

    static QString path() { return Settings::filePath(); }
    static QJsonObject onDisk() { return QJsonDocument::fromJson(TestEnv::readFile(path())).object(); }
    static QStringList recentPaths(const Settings &s)
    {
        QStringList paths;
        for (const QJsonValue v : s.recentProjects())
            paths << v.toObject().value(QLatin1String("path")).toString();
        return paths;
    }

private slots:
    void init() { QDir(QFileInfo(path()).absolutePath()).removeRecursively(); }

    void defaultsAreFilledWithoutWriting()
    {
        // Everything of ours lands in the redirected folders, on every platform.
        QCOMPARE(path(), TestEnv::dataHome() + QLatin1String("/Tavrin/settings.json"));
        QCOMPARE(Backups::backupsFolder(), TestEnv::dataHome() + QLatin1String("/Tavrin/backups"));
        QCOMPARE(Logger::logFilePath(), TestEnv::dataHome() + QLatin1String("/Tavrin/logs/tavrin.log"));
        QCOMPARE(UserFolders::home(), TestEnv::home());
        QCOMPARE(UserFolders::downloads(), TestEnv::home() + QLatin1String("/Downloads"));
        Settings s;
        QCOMPARE(s.permissionMode(), QStringLiteral("safe_edit"));
        QVERIFY(s.checkUpdates() && s.recentProjects().isEmpty() && s.activeProject().isEmpty() && s.isFirstRun());
        QVERIFY(!s.updateAnsweredAt().isValid() && !s.includePrereleases());
        QVERIFY(!QFile::exists(path()));
    }

    // Values of the wrong type fall back to their defaults; a file that is not a JSON object is kept
    // as ".bad" at the first save, and later saves leave that copy alone. Loading never rewrites.
    void loading_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("checkUpdates");
        QTest::addColumn<bool>("firstRun");
        QTest::addColumn<QString>("answeredAt"); // UTC, ISO 8601; empty: none
        QTest::addColumn<bool>("prereleases");
        QTest::addColumn<bool>("damaged");
        using B = QByteArray;
        using TestEnv::row;
        row("string check_updates", B(R"({"check_updates": "no"})"), "safe_edit", true, true, "", false, false);
        row("numeric mode", B(R"({"permission_mode": 3})"), "safe_edit", true, true, "", false, false);
        row("first_run_done false", B(R"({"first_run_done": false})"), "safe_edit", true, false, "", false, false);
        row("stored values", B(R"({"permission_mode": "full_control", "check_updates": false})"), "full_control", false,
            true, "", false, false);
        // The update checker's memory, as another program or an older version may have left it.
        row("update answer written in another zone",
            B(R"({"update_answered_at":"2026-12-07T15:05:00+01:00","include_prereleases":true})"), "safe_edit", true,
            true, "2026-12-07T14:05:00Z", true, false);
        row("update memory of wrong types", B(R"({"update_answered_at":5,"include_prereleases":"yes"})"), "safe_edit",
            true, true, "", false, false);
        row("update answer not a time", B(R"({"update_answered_at":"yesterday"})"), "safe_edit", true, true, "", false,
            false);
        row("truncated", B(R"({"recent_projects": [{"path": "/my/game")"), "safe_edit", true, true, "", false, true);
        row("array", B(R"([{"path": "/my/game"}])"), "safe_edit", true, true, "", false, true);
        row("comment", B("// mine\n{\"permission_mode\": \"full_control\"}"), "safe_edit", true, true, "", false, true);
    }
    void loading()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, damaged);
        QVERIFY(TestEnv::writeFile(path(), content));
        Settings s;
        QTEST(s.permissionMode(), "mode");
        QTEST(s.checkUpdates(), "checkUpdates");
        QTEST(s.isFirstRun(), "firstRun");
        QTEST(s.updateAnsweredAt().toUTC().toString(Qt::ISODate), "answeredAt");
        QTEST(s.includePrereleases(), "prereleases");
        QCOMPARE(TestEnv::readFile(path()), content);
        const QByteArray kept = damaged ? content : QByteArray();
        s.setCheckUpdates(!s.checkUpdates());
        QCOMPARE(onDisk().value(QLatin1String("check_updates")), QJsonValue(s.checkUpdates()));
        QCOMPARE(TestEnv::readFile(path() + QLatin1String(".bad")), kept);
        s.setCheckUpdates(!s.checkUpdates());
        QCOMPARE(TestEnv::readFile(path() + QLatin1String(".bad")), kept);
    }

    void recentListRules()
    {
        QJsonArray old;
        for (int i = 0; i < 12; ++i)
            old.append(QJsonObject{{"path", QStringLiteral("/old/%1").arg(i)}, {"name", "n"}});
        QVERIFY(TestEnv::writeFile(path(), QJsonDocument(QJsonObject{{"recent_projects", old}}).toJson()));
        Settings s;
        QCOMPARE(s.recentProjects().size(), 12); // an overlong list is listed in full until the next add
        for (int i = 1; i <= 11; ++i)
            s.addRecentProject(QStringLiteral("/p/%1").arg(i), QStringLiteral("P%1").arg(i));
        QCOMPARE(recentPaths(s).join(' '), "/p/11 /p/10 /p/9 /p/8 /p/7 /p/6 /p/5 /p/4 /p/3 /p/2");

        s.addRecentProject(QStringLiteral("/p/5"), QStringLiteral("Renamed")); // moves to the front, once
        const QJsonObject first = s.recentProjects().at(0).toObject();
        QCOMPARE(recentPaths(s).count(QStringLiteral("/p/5")), 1);
        QCOMPARE(first.value("name").toString(), "Renamed");
        const QString opened = first.value("last_opened").toString();
        QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$)").match(opened).hasMatch(),
                 qPrintable(opened));

        // Identity is the exact string: case and a trailing slash make other entries.
        s.addRecentProject(QStringLiteral("/P/5"), QStringLiteral("x"));
        s.addRecentProject(QStringLiteral("/p/5/"), QStringLiteral("x"));
        QCOMPARE(recentPaths(s).mid(0, 3), QStringList({"/p/5/", "/P/5", "/p/5"}));
        s.removeRecentProject(QStringLiteral("/p/5"));
        s.removeRecentProject(QStringLiteral("/nowhere")); // still saved
        QVERIFY(!recentPaths(s).contains(QStringLiteral("/p/5")));
        QCOMPARE(onDisk().value(QLatin1String("recent_projects")).toArray(), s.recentProjects());
    }

    void unknownKeysSurviveInIndentedFile()
    {
        QVERIFY(TestEnv::writeFile(path(), R"({"theme": {"accent": [1, 2]}, "zzz": null})"));
        Settings s;
        QSignalSpy mode(&s, &Settings::permissionModeChanged);
        QSignalSpy project(&s, &Settings::activeProjectChanged);
        s.setPermissionMode(QStringLiteral("full_control"));
        s.setPermissionMode(QStringLiteral("full_control")); // chosen again: applied again
        s.setCheckUpdates(false);
        s.setActiveProject(QStringLiteral("/game"));
        s.setGodotPath(QStringLiteral("/opt/godot/godot"));
        s.markFirstRunDone(); // writes, but signals nothing
        // An update answer replaces time, ETag and release together, and ends a rate-limit wait.
        const QDateTime now = QDateTime::currentDateTimeUtc();
        s.setUpdateWaitUntil(now.addSecs(600));
        s.setUpdateAnswer(now, "W/\"x\"", QJsonObject{{"feed", "f"}});
        const Settings reread;
        QCOMPARE((QVariantList{reread.updateAnsweredAt(), reread.updateEtag(), reread.updateWaitUntil().isValid()}),
                 (QVariantList{now, "W/\"x\"", false}));
        QCOMPARE(reread.updateRelease(), QJsonObject({{"feed", "f"}}));
        QCOMPARE(mode, QList<QVariantList>(2, {QStringLiteral("full_control")}));
        QCOMPARE(project, QList<QVariantList>({{QStringLiteral("/game")}}));
        QCOMPARE(onDisk().value("theme"), QJsonObject({{"accent", QJsonArray({1, 2})}}));
        QCOMPARE(onDisk().value("zzz").type(), QJsonValue::Null);
        QCOMPARE(onDisk().value("first_run_done"), QJsonValue(true));
        QCOMPARE(TestEnv::readFile(path()), QJsonDocument(s.toJson()).toJson(QJsonDocument::Indented));
        QCOMPARE(reread.toJson(), s.toJson());
        // Atomic replacement leaves nothing else behind.
        QCOMPARE(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("settings.json")});
        s.setGodotPath({}); // back to the best one found
        QVERIFY(!onDisk().contains(QLatin1String("godot_path")));
    }

    // Leftovers of our own killed writes go before the next write; a user's look-alikes, another
    // file's leftovers and a write still in progress (its file locked) stay. Mode and link survive.
    void writesReplaceAtomically()
    {
        // The settings file is a link to the real one where links are (Unix), else the file itself.
        const QString real = TestEnv::unixFiles ? QFileInfo(path()).absolutePath() + "/real/settings.json" : path();
        const QString folder = QFileInfo(real).absolutePath();
        QVERIFY(TestEnv::writeFile(real, "{}") && (real == path() || QFile::link(real, path())));
        QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner));
        const QFile::Permissions mode = QFileInfo(real).permissions();
        const QStringList ours{".settings.json.tavrin-write-Ab12Cd", ".settings.json.tavrin-write-000000"};
        QStringList kept{"settings.json.backup",
                         "settings.json.Ab12Cd",
                         ".settings.json.tavrin-write-Ab12C",
                         ".settings.json.tavrin-write-Ab12Cde",
                         ".mcp.json.tavrin-write-Ab12Cd",
                         "settings.json.bad",
                         ".settings.json.tavrin-write-InUse1"};
        for (const QString &name : ours + kept)
            QVERIFY(TestEnv::writeFile(folder + '/' + name, "x"));
        QFile inUse(folder + '/' + kept.last());
        QVERIFY(inUse.open(QIODevice::ReadOnly));
#ifdef Q_OS_UNIX
        QCOMPARE(flock(inUse.handle(), LOCK_EX), 0);
#endif
        Settings s;
        s.setCheckUpdates(false);
        QCOMPARE(QFileInfo(path()).isSymLink(), real != path());
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(real))["check_updates"], false);
        QCOMPARE(QFileInfo(real).permissions(), mode);
        kept << "settings.json";
        kept.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), kept);
    }

    // A file that exists but cannot be read is the user's: defaults in memory, a logged reason, no
    // save over it while that lasts; once readable again, it is kept as ".bad" before the next save.
    // Root reads everything, so that part runs with the rights of an unprivileged user.
    void unreadableFileIsKept()
    {
#ifndef Q_OS_UNIX
        QSKIP("file modes are a Unix test");
#else
        const QByteArray content = R"({"permission_mode":"full_control","recent_projects":[{"path":"/mine"}]})";
        const passwd *nobody = ::getpwnam("nobody");
        const bool root = ::geteuid() == 0;
        if (root && !nobody)
            QSKIP("running as root and there is no user \"nobody\" to drop to");
        const QString folder = QFileInfo(path()).absolutePath();
        QVERIFY(TestEnv::writeFile(path(), content));
        // Write-only for its owner, in a folder anyone may write: saving over it would succeed.
        QVERIFY(QFile::setPermissions(path(), QFile::WriteOwner));
        for (const QString &dir : {TestEnv::root().path(), TestEnv::dataHome()})
            QVERIFY(QFile::setPermissions(dir, QFileDevice::Permissions(0x7711)));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
        if (root)
            QVERIFY(::chown(QFile::encodeName(path()), nobody->pw_uid, nobody->pw_gid) == 0 &&
                    ::setegid(nobody->pw_gid) == 0 && ::seteuid(nobody->pw_uid) == 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Settings file .*settings.json cannot be read \\(.+\\); "
                                                              "running on defaults and not saving over it$"));
        Settings s;
        const QVariantList loaded{s.permissionMode(), s.recentProjects().size(), s.isFirstRun()};
        s.setCheckUpdates(false);
        s.setActiveProject("/game");
        const QStringList whileUnreadable = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        QVERIFY(!root || (::seteuid(0) == 0 && ::setegid(0) == 0));
        QCOMPARE(loaded, (QVariantList{"safe_edit", 0, true}));
        QCOMPARE(whileUnreadable, QStringList{"settings.json"});
        QCOMPARE(TestEnv::readFile(path()), content);

        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner)); // root reads it anyway
        s.markFirstRunDone();
        QCOMPARE(TestEnv::readFile(path() + ".bad"), content);
        QCOMPARE(onDisk().value("active_project"), QJsonValue("/game"));
        QCOMPARE(onDisk().value("check_updates"), QJsonValue(false));
#endif
    }

    // tavrin-cli writes the same file while a window is open: the window's next change of its own
    // keeps what the command line set, takes it over and says so once.
    void changesElsewhereSurvive_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("permission mode") << "permission_mode" << QJsonValue("full_control");
        QTest::newRow("active project") << "active_project" << QJsonValue("/games/b");
        QTest::newRow("godot path") << "godot_path" << QJsonValue("/opt/godot");
        QTest::newRow("godot path cleared") << "godot_path" << QJsonValue(QJsonValue::Undefined);
    }
    void changesElsewhereSurvive()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        Settings gui;
        gui.setActiveProject("/games/a");
        gui.setGodotPath("/usr/bin/godot4");
        QSignalSpy elsewhere(&gui, &Settings::changedElsewhere), project(&gui, &Settings::activeProjectChanged);
        {
            Settings cli;
            if (key == "permission_mode")
                cli.setPermissionMode(value.toString());
            else if (key == "active_project")
                cli.setActiveProject(value.toString());
            else
                cli.setGodotPath(value.toString());
        }
        gui.setWindowGeometry(QRect(10, 20, 960, 640), false);
        QCOMPARE(onDisk().value(key), value);
        QCOMPARE(gui.toJson().value(key), value);
        QCOMPARE(onDisk().value("window_geometry").toObject().value("width"), 960);
        QCOMPARE(elsewhere.count(), 1);
        QCOMPARE(project.count(), key == "active_project" ? 1 : 0);
        gui.reload(); // nothing new
        QCOMPARE(elsewhere.count(), 1);
    }

    void unwritableFolderStaysSilent()
    {
        const QString folder = QFileInfo(path()).absolutePath();
        QVERIFY(TestEnv::writeFile(folder, "a file where the folder belongs"));
        Settings s;
        QSignalSpy changed(&s, &Settings::permissionModeChanged);
        s.setPermissionMode(QStringLiteral("full_control"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(s.permissionMode(), QStringLiteral("full_control"));
        QFile::remove(folder);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
