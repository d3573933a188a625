#include "settings.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    static QJsonObject fileObject()
    {
        return QJsonDocument::fromJson(TestEnv::readFile(Settings::filePath())).object();
    }
    static QStringList recentPaths(const Settings &s)
    {
        QStringList paths;
        for (const QJsonValue &v : s.recentProjects())
            paths << v.toObject().value(QLatin1String("path")).toString();
        return paths;
    }

private slots:
    void init() { QDir(QFileInfo(Settings::filePath()).absolutePath()).removeRecursively(); }

    void livesInTheDataFolder()
    {
        QCOMPARE(Settings::filePath(), TestEnv::dataHome() + QLatin1String("/Tavrin/settings.json"));
    }

    void defaultsWithoutFileAndNoWrite()
    {
        Settings s;
        QCOMPARE(s.permissionMode(), QStringLiteral("safe_edit"));
        QVERIFY(s.checkUpdates());
        QVERIFY(s.recentProjects().isEmpty());
        QVERIFY(s.activeProject().isEmpty());
        QVERIFY(s.isFirstRun());
        QVERIFY(!QFile::exists(Settings::filePath()));
    }

    void wrongTypesFallBackAndAreNotRewritten_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("checkUpdates");
        QTest::addColumn<bool>("firstRun");
        QTest::newRow("string check_updates")
            << QByteArray(R"({"check_updates": "no"})") << "safe_edit" << true << true;
        QTest::newRow("numeric mode") << QByteArray(R"({"permission_mode": 3})") << "safe_edit" << true << true;
        QTest::newRow("first_run_done false")
            << QByteArray(R"({"first_run_done": false})") << "safe_edit" << true << false;
        QTest::newRow("values kept") << QByteArray(R"({"permission_mode": "full_control", "check_updates": false})")
                                     << "full_control" << false << true;
    }
    void wrongTypesFallBackAndAreNotRewritten()
    {
        QFETCH(QByteArray, content);
        QVERIFY(TestEnv::writeFile(Settings::filePath(), content));
        Settings s;
        QTEST(s.permissionMode(), "mode");
        QTEST(s.checkUpdates(), "checkUpdates");
        QTEST(s.isFirstRun(), "firstRun");
        QCOMPARE(TestEnv::readFile(Settings::filePath()), content);
    }

    void recentListRules()
    {
        Settings s;
        QSignalSpy changed(&s, &Settings::changed);
        for (int i = 1; i <= 11; ++i)
            s.addRecentProject(QStringLiteral("/p/%1").arg(i), QStringLiteral("P%1").arg(i));
        QCOMPARE(changed.count(), 11);
        QStringList expected;
        for (int i = 11; i >= 2; --i)
            expected << QStringLiteral("/p/%1").arg(i);
        QCOMPARE(recentPaths(s), expected); // the oldest fell off the end

        s.addRecentProject(QStringLiteral("/p/5"), QStringLiteral("Renamed"));
        QCOMPARE(recentPaths(s).count(QStringLiteral("/p/5")), 1);
        const QJsonObject first = s.recentProjects().at(0).toObject();
        QCOMPARE(first.value(QLatin1String("path")).toString(), QStringLiteral("/p/5"));
        QCOMPARE(first.value(QLatin1String("name")).toString(), QStringLiteral("Renamed"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                    .match(first.value(QLatin1String("last_opened")).toString())
                    .hasMatch());
        QCOMPARE(s.recentProjects().size(), 10);

        // Identity is the exact string: case and trailing slashes make other entries.
        s.addRecentProject(QStringLiteral("/P/5"), QStringLiteral("x"));
        s.addRecentProject(QStringLiteral("/p/5/"), QStringLiteral("x"));
        QCOMPARE(recentPaths(s).mid(0, 3), QStringList({"/p/5/", "/P/5", "/p/5"}));

        s.removeRecentProject(QStringLiteral("/p/5"));
        QVERIFY(!recentPaths(s).contains(QStringLiteral("/p/5")));
        QCOMPARE(fileObject().value(QLatin1String("recent_projects")).toArray(), s.recentProjects());
    }

    void overlongListIsKeptUntilNextAdd()
    {
        QJsonArray list;
        for (int i = 0; i < 13; ++i)
            list.append(QJsonObject{{"path", QStringLiteral("/old/%1").arg(i)}, {"name", "n"}, {"last_opened", "x"}});
        QVERIFY(
            TestEnv::writeFile(Settings::filePath(), QJsonDocument(QJsonObject{{"recent_projects", list}}).toJson()));
        Settings s;
        QCOMPARE(s.recentProjects().size(), 13);
        s.addRecentProject(QStringLiteral("/new"), QStringLiteral("new"));
        QCOMPARE(s.recentProjects().size(), 10);
        QCOMPARE(recentPaths(s).first(), QStringLiteral("/new"));
    }

    void removingUnknownPathStillSavesAndSignals()
    {
        Settings s;
        QSignalSpy changed(&s, &Settings::changed);
        s.removeRecentProject(QStringLiteral("/nowhere"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(QFile::exists(Settings::filePath()));
    }

    void unknownKeysSurviveAndFileIsIndented()
    {
        QVERIFY(TestEnv::writeFile(Settings::filePath(), R"({"theme": {"accent": [1, 2]}, "zzz": null})"));
        Settings s;
        s.setPermissionMode(QStringLiteral("full_control"));
        s.setCheckUpdates(false);
        s.setActiveProject(QStringLiteral("/game"));
        s.addRecentProject(QStringLiteral("/game"), QStringLiteral("game"));
        const QJsonObject onDisk = fileObject();
        QCOMPARE(onDisk.value(QLatin1String("theme")).toObject().value(QLatin1String("accent")).toArray(),
                 QJsonArray({1, 2}));
        QVERIFY(onDisk.contains(QLatin1String("zzz")));
        QCOMPARE(onDisk.value(QLatin1String("permission_mode")).toString(), QStringLiteral("full_control"));
        QCOMPARE(onDisk.value(QLatin1String("active_project")).toString(), QStringLiteral("/game"));
        QCOMPARE(TestEnv::readFile(Settings::filePath()), QJsonDocument(s.toJson()).toJson(QJsonDocument::Indented));

        Settings reloaded;
        QCOMPARE(reloaded.toJson(), s.toJson());
    }

    void markFirstRunDoneWritesWithoutSignal()
    {
        Settings s;
        QSignalSpy changed(&s, &Settings::changed);
        s.markFirstRunDone();
        QCOMPARE(changed.count(), 0);
        QVERIFY(!s.isFirstRun());
        QCOMPARE(fileObject().value(QLatin1String("first_run_done")), QJsonValue(true));
    }

    void savesLeaveNoStrayFiles()
    {
        Settings s;
        for (int i = 0; i < 5; ++i)
            s.setActiveProject(QStringLiteral("/p%1").arg(i));
        const QStringList entries =
            QDir(QFileInfo(Settings::filePath()).absolutePath()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(entries, QStringList{QStringLiteral("settings.json")});
    }

    void damagedFileIsKeptBesideTheNewOne_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated") << QByteArray(R"({"recent_projects": [{"path": "/my/game")");
        QTest::newRow("array") << QByteArray(R"([{"path": "/my/game"}])");
        QTest::newRow("comment") << QByteArray("// mine\n{\"permission_mode\": \"full_control\"}");
    }
    void damagedFileIsKeptBesideTheNewOne()
    {
        QFETCH(QByteArray, content);
        QVERIFY(TestEnv::writeFile(Settings::filePath(), content));
        Settings s;
        QVERIFY(s.isFirstRun());
        QCOMPARE(TestEnv::readFile(Settings::filePath()), content); // loading alone changes nothing
        s.setCheckUpdates(false);
        QCOMPARE(TestEnv::readFile(Settings::filePath() + QLatin1String(".bad")), content);
        QCOMPARE(fileObject().value(QLatin1String("check_updates")), QJsonValue(false));
        // Only the damaged original is kept; later saves do not touch the backup.
        s.setCheckUpdates(true);
        QCOMPARE(TestEnv::readFile(Settings::filePath() + QLatin1String(".bad")), content);
    }

    void unwritableFolderStaysSilent()
    {
        // A file where the folder should be: every save fails, nothing throws, state stays in memory.
        const QString folder = QFileInfo(Settings::filePath()).absolutePath();
        QVERIFY(TestEnv::writeFile(folder, "not a folder"));
        Settings s;
        QSignalSpy changed(&s, &Settings::changed);
        s.setPermissionMode(QStringLiteral("full_control"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(s.permissionMode(), QStringLiteral("full_control"));
        QFile::remove(folder);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
