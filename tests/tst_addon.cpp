#include "addon.h"
#include "testenv.h"
#include "version.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

class TestAddon : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;

    static QString bundledRoot() { return QCoreApplication::applicationDirPath() + "/bundled_addon"; }
    static QByteArray cfg(const QByteArray &version) { return "[plugin]\nname=\"x\"\nversion=\"" + version + "\"\n"; }
    static bool put(const QString &path, const QByteArray &content = "x") { return TestEnv::writeFile(path, content); }
    static QStringList tree(const QString &dir)
    {
        QStringList entries;
        QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << QDir(dir).relativeFilePath(it.next());
        entries.sort();
        return entries;
    }

private slots:
    void init() { QDir(bundledRoot()).removeRecursively(); }

    void install_data()
    {
        QTest::addColumn<QString>("src");        // null: nothing shipped
        QTest::addColumn<QByteArray>("before");  // null: no addon folder, empty: no plugin.cfg
        QTest::addColumn<QByteArray>("shipped"); // never the installed version
        QTest::newRow("directly in bundled_addon") << bundledRoot() << QByteArray("1.10.0") << QByteArray("1.2.0");
        QTest::newRow("in tavrin_mcp") << bundledRoot() + "/tavrin_mcp" << QByteArray("1.2.0") << QByteArray("1.10.0");
        QTest::newRow("over a copy without plugin.cfg") << bundledRoot() << QByteArray("") << QByteArray("1");
        QTest::newRow("nothing shipped") << QString() << QByteArray() << QByteArray();
    }
    void install()
    {
        QFETCH(QString, src);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, shipped);
        if (!src.isNull()) // hidden entries of the shipped copy stay behind
            QVERIFY(
                put(src + "/plugin.cfg", cfg(shipped)) && put(src + "/ui/a.svg") && put(src + "/ui/.cache") &&
                put(src + "/.git/HEAD") &&
                QFile::setPermissions(src + "/plugin.cfg", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const QString project = m_work.path() + '/' + QTest::currentDataTag(), target = project + "/addons/tavrin_mcp";
        QVERIFY(put(project + "/project.godot") && (before.isNull() || put(target + "/user_only.gd", "kept")));
        QVERIFY(before.isEmpty() || put(target + "/plugin.cfg", cfg(before) + "; a longer old file"));
        Addon addon;
        const AddonStatus s = addon.status(project);
        QCOMPARE((QVariantList{s.installed, s.installedVersion, s.bundledVersion}),
                 (QVariantList{!before.isNull(), QString(before), QString(shipped)}));
        QSignalSpy finished(&addon, &Addon::installFinished);
        QCOMPARE(addon.install(project), !src.isNull());
        QCOMPARE(QList<QVariantList>(finished), QList<QVariantList>{{!src.isNull()}});
        QCOMPARE(addon.lastError(),
                 src.isNull() ? "Bundled addon directory not found: " + bundledRoot() + "/tavrin_mcp" : QString());
        QCOMPARE(QDir(project).exists("addons"), !src.isNull());
        if (src.isNull())
            return;
        QCOMPARE(tree(target), QStringList({"plugin.cfg", "ui", "ui/a.svg", "user_only.gd"}));
        QCOMPARE(TestEnv::readFile(target + "/plugin.cfg"), cfg(shipped));
        QCOMPARE(QFileInfo(target + "/plugin.cfg").permissions(), QFileInfo(src + "/plugin.cfg").permissions());
    }

    // Only an older installed copy is offered the shipped one; a newer one is left alone. Versions
    // that are not plain version numbers are only compared for equality.
    void status_data()
    {
        QTest::addColumn<QByteArray>("installed"); // null: no addon, empty: no version line
        QTest::addColumn<QByteArray>("shipped");   // null: nothing shipped
        QTest::addColumn<QString>("offer");        // "update", "newer" or "-"
        QTest::newRow("no addon") << QByteArray() << QByteArray("1.0.1") << "-";
        QTest::newRow("same") << QByteArray("1.0.1") << QByteArray("1.0.1") << "-";
        QTest::newRow("older, by number not text") << QByteArray("1.2.0") << QByteArray("1.10.0") << "update";
        QTest::newRow("newer, by number not text") << QByteArray("1.10.0") << QByteArray("1.2.0") << "newer";
        QTest::newRow("same, v prefix and short form") << QByteArray("v1.0") << QByteArray("1.0.0") << "-";
        QTest::newRow("suffix differs") << QByteArray("1.0.1-beta") << QByteArray("1.0.1") << "update";
        QTest::newRow("same text, no number") << QByteArray("dev") << QByteArray("dev") << "-";
        QTest::newRow("no version line") << QByteArray("") << QByteArray("1.0.1") << "-";
        QTest::newRow("nothing shipped") << QByteArray("1.0.1") << QByteArray() << "-";
    }
    void status()
    {
        QFETCH(QByteArray, installed);
        QFETCH(QByteArray, shipped);
        QFETCH(QString, offer);
        const QString project = m_work.path() + "/status/" + QTest::currentDataTag();
        QVERIFY(shipped.isNull() || put(bundledRoot() + "/plugin.cfg", cfg(shipped)));
        QVERIFY(installed.isNull() || put(project + "/addons/tavrin_mcp/plugin.cfg", cfg(installed)));
        const AddonStatus s = Addon().status(project);
        QCOMPARE(s.installed, !installed.isNull());
        QCOMPARE(QString(s.updateAvailable ? "update" : s.newerInstalled ? "newer" : "-"), offer);
    }

    void readVersionFromCfg_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no plugin.cfg at all
        QTest::addColumn<QString>("expected");
        QTest::newRow("quoted, after a longer key") << QByteArray("versions=\"9\"\nversion=\"1.4.2\"\n") << "1.4.2";
        QTest::newRow("blanks around, CRLF") << QByteArray("[plugin]\r\n \tversion = \"1.4.2\"  \r\n") << "1.4.2";
        QTest::newRow("unquoted, = inside") << QByteArray("version=1.4.2=b\n") << "1.4.2=b";
        QTest::newRow("no file") << QByteArray() << QString();
        QTest::newRow("shipped addon matches the application")
            << TestEnv::readFile(qEnvironmentVariable("TAVRIN_ADDON_SOURCE") + "/plugin.cfg") << Tavrin::Version;
    }
    void readVersionFromCfg()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString dir = m_work.path() + "/cfg/" + QTest::currentDataTag();
        QVERIFY(content.isNull() || put(dir + "/plugin.cfg", content));
        QCOMPARE(Addon::readVersionFromCfg(dir), expected);
    }

    // Refused while no project; a copy that cannot be written; removed as folder, as link, then nothing.
    void lifecycle()
    {
        QVERIFY(put(bundledRoot() + "/tavrin_mcp/big.res", QByteArray(256 * 1024, 'n')));
        const QString project = m_work.path() + "/life", target = project + "/addons/tavrin_mcp";
        QVERIFY(put(target + "/big.res", "old") && put(project + "/addons/other"));
        Addon addon;
        const QString refused = "Godot project not found: " + project;
        QCOMPARE(QVariantList({addon.install(project), addon.lastError(), addon.uninstall(project), addon.lastError()}),
                 QVariantList({false, refused, false, refused}));
        QCOMPARE(tree(project + "/addons"), QStringList({"other", "tavrin_mcp", "tavrin_mcp/big.res"}));
        QVERIFY(put(project + "/project.godot"));
#ifdef Q_OS_UNIX
        // A file size limit makes writing the new copy fail, even for root.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit limited{64 * 1024, saved.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        const bool failed = setrlimit(RLIMIT_FSIZE, &limited) == 0 && !addon.install(project);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(failed);
        QVERIFY(addon.lastError().startsWith("Cannot copy addon file to " + target + "/big.res: "));
#endif
        QCOMPARE(tree(target), QStringList{"big.res"}); // no temporary copy left behind
        QCOMPARE(TestEnv::readFile(target + "/big.res"), QByteArray("old"));

        QSignalSpy finished(&addon, &Addon::uninstallFinished);
        QCOMPARE(QVariantList({addon.uninstall(project), addon.lastError()}), QVariantList({true, QString()}));
        QVERIFY(put(m_work.path() + "/checkout/work.gd") && QFile::link(m_work.path() + "/checkout", target));
        QVERIFY(addon.uninstall(project) && addon.uninstall(project));
        QCOMPARE(addon.lastError(), QString());
        QCOMPARE(QList<QVariantList>(finished), QList<QVariantList>(3, {true}));
        QCOMPARE(tree(project + "/addons"), QStringList{"other"});
        QCOMPARE(tree(m_work.path() + "/checkout"), QStringList{"work.gd"});
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestAddon)
#include "tst_addon.moc"
