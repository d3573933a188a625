// Where the shipped addon is found: beside the executable, in the share folder of the prefix the
// executable is installed in, or in the standard data folders, in that order.
#include "core/addon.h"
#include "testenv.h"

class TestAddonLookup : public QObject
{
    Q_OBJECT

    // The places searched, by the names the rows use. This test runs from <prefix>/bin.
    static QString place(const QString &name)
    {
        const QString appDir = QCoreApplication::applicationDirPath();
        if (name == "beside")
            return appDir + "/bundled_addon";
        if (name == "share")
            return QDir::cleanPath(appDir + "/../share/tavrin/bundled_addon");
        if (name == "data home")
            return TestEnv::dataHome() + "/tavrin/bundled_addon";
        return TestEnv::root().path() + '/' + name + "/tavrin/bundled_addon"; // an XDG_DATA_DIRS entry
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_DIRS", (TestEnv::root().path() + "/local:" + TestEnv::root().path() + "/system").toUtf8());
    }

    void init()
    {
        for (const char *name : {"beside", "share", "data home", "local", "system"})
            QVERIFY(QDir(place(name)).removeRecursively());
    }

    void bundledAddonDir_data()
    {
        // "name" ships the addon's files directly, "name/tavrin_mcp" in the sub-folder, and
        // "name/" is the folder alone, without either.
        QTest::addColumn<QStringList>("shipped");
        QTest::addColumn<QString>("found"); // the shipped entry bundledAddonDir must pick, if any
        QTest::newRow("beside, files directly") << QStringList{"beside", "share"} << "beside";
        QTest::newRow("beside, in tavrin_mcp") << QStringList{"beside/tavrin_mcp", "share"} << "beside/tavrin_mcp";
        QTest::newRow("beside, directly wins over tavrin_mcp")
            << QStringList{"beside/tavrin_mcp", "beside"} << "beside";
        QTest::newRow("an empty folder beside is no addon") << QStringList{"beside/", "share"} << "share";
        QTest::newRow("share, in tavrin_mcp") << QStringList{"share/tavrin_mcp"} << "share/tavrin_mcp";
        QTest::newRow("nothing, only empty folders")
            << QStringList{"beside/", "share/", "data home/", "system/"} << QString();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
        // The standard data folders follow XDG_DATA_HOME and XDG_DATA_DIRS here; elsewhere they are
        // the user's real folders, which no test writes to.
        QTest::newRow("share, files directly") << QStringList{"share", "data home", "local"} << "share";
        QTest::newRow("data home before the data dirs") << QStringList{"system", "data home", "local"} << "data home";
        QTest::newRow("data dirs in their order") << QStringList{"system", "local/tavrin_mcp"} << "local/tavrin_mcp";
        QTest::newRow("the last data dir") << QStringList{"share/", "system"} << "system";
#endif
    }
    void bundledAddonDir()
    {
        QFETCH(QStringList, shipped);
        QFETCH(QString, found);
        QString expected = place("beside") + "/tavrin_mcp"; // none found: the first place searched
        for (const QString &entry : shipped) {
            const QString name = entry.section('/', 0, 0);
            const QString dir = place(name) + (entry.endsWith("/tavrin_mcp") ? "/tavrin_mcp" : "");
            QVERIFY(QDir().mkpath(dir));
            if (!entry.endsWith('/')) // each copy its own version, so the one read is known
                QVERIFY(TestEnv::writeFile(dir + "/plugin.cfg", "version=\"" + entry.toUtf8() + "\"\n"));
            if (entry == found)
                expected = dir;
        }
        QCOMPARE(Addon::bundledAddonDir(), expected);
        Addon addon;
        QCOMPARE(addon.bundledVersion(), found);
        if (found.isEmpty()) { // the empty folders are searched and skipped; the error names the first
            QVERIFY(addon.bundledVersion().isNull());
            const QString project = TestEnv::home() + "/game";
            QVERIFY(TestEnv::writeFile(project + "/project.godot", ""));
            QVERIFY(!addon.install(project));
            QCOMPARE(addon.lastError(), "Bundled addon directory not found: " + expected);
        }
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestAddonLookup)
#include "tst_addonlookup.moc"
