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
    // Every entry below `dir`, hidden ones included, as sorted relative paths.
    static QStringList tree(const QString &dir)
    {
        QStringList entries;
        QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << QDir(dir).relativeFilePath(it.next());
        entries.sort();
        return entries;
    }

private slots:
    void init() { QDir(bundledRoot()).removeRecursively(); }

    void install_data()
    {
        QTest::addColumn<QString>("source");    // null: nothing shipped
        QTest::addColumn<QByteArray>("before"); // installed version; null: no addon folder, empty: no plugin.cfg
        QTest::addColumn<QByteArray>("shipped");
        QTest::addColumn<bool>("update");
        const QString direct = bundledRoot(), sub = bundledRoot() + "/tavrin_mcp";
        QTest::newRow("1.2.0 directly in bundled_addon over 1.10.0")
            << direct << QByteArray("1.10.0") << QByteArray("1.2.0") << true;
        QTest::newRow("1.10.0 in bundled_addon/tavrin_mcp over 1.2.0")
            << sub << QByteArray("1.2.0") << QByteArray("1.10.0") << true;
        QTest::newRow("over a copy without plugin.cfg") << direct << QByteArray("") << QByteArray("1.0.1") << false;
        QTest::newRow("fresh") << sub << QByteArray() << QByteArray("1.0.1") << false;
        QTest::newRow("nothing shipped") << QString() << QByteArray() << QByteArray() << false;
    }
    void install()
    {
        QFETCH(QString, source);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, shipped);
        QFETCH(bool, update);
        if (!source.isNull()) {
            QVERIFY(TestEnv::writeFile(source + "/plugin.cfg", cfg(shipped)));
            QVERIFY(QFile::setPermissions(source + "/plugin.cfg",
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther));
            QVERIFY(TestEnv::writeFile(source + "/ui/icons/bridge.svg", "<svg/>"));
            QVERIFY(TestEnv::writeFile(source + "/.git/HEAD", "x") && TestEnv::writeFile(source + "/ui/.cache", "x"));
        }
        const QString project = m_work.path() + '/' + QTest::currentDataTag(), target = project + "/addons/tavrin_mcp";
        QVERIFY(TestEnv::writeFile(project + "/project.godot", "x"));
        QVERIFY(before.isNull() || TestEnv::writeFile(target + "/user_only.gd", "kept"));
        QVERIFY(before.isEmpty() || TestEnv::writeFile(target + "/plugin.cfg", cfg(before) + "; a longer old file"));
        Addon addon;
        AddonStatus status = addon.status(project);
        QCOMPARE(status.installed, !before.isNull());
        QCOMPARE(status.installedVersion, QString(before));
        QCOMPARE(status.bundledVersion, QString(shipped));
        QCOMPARE(status.updateAvailable, update);

        QSignalSpy finished(&addon, &Addon::installFinished);
        QCOMPARE(addon.install(project), !source.isNull());
        QCOMPARE(finished.takeFirst().at(0).toBool(), !source.isNull());
        if (source.isNull()) {
            QCOMPARE(addon.lastError(), "Bundled addon directory not found: " + bundledRoot() + "/tavrin_mcp");
            QVERIFY(!QDir(project).exists("addons"));
            return;
        }
        QCOMPARE(addon.lastError(), QString());
        QStringList expected{"plugin.cfg", "ui", "ui/icons", "ui/icons/bridge.svg"};
        QCOMPARE(tree(target), before.isNull() ? expected : expected << "user_only.gd");
        QCOMPARE(TestEnv::readFile(target + "/plugin.cfg"), cfg(shipped));
        QCOMPARE(TestEnv::readFile(target + "/ui/icons/bridge.svg"), QByteArray("<svg/>"));
        QCOMPARE(QFileInfo(target + "/plugin.cfg").permissions(), QFileInfo(source + "/plugin.cfg").permissions());
        status = addon.status(project);
        QCOMPARE(status.installedVersion, QString(shipped));
        QVERIFY(!status.updateAvailable);
    }

    void readVersionFromCfg_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no plugin.cfg at all
        QTest::addColumn<QString>("expected");
        QTest::newRow("quoted") << QByteArray("[plugin]\nversion=\"1.4.2\"\n") << "1.4.2";
        QTest::newRow("space both sides") << QByteArray("version = \"1.4.2\"\n") << "1.4.2";
        QTest::newRow("blanks around, CRLF") << QByteArray("[plugin]\r\n \tversion=\"1.4.2\"  \r\n") << "1.4.2";
        QTest::newRow("unquoted") << QByteArray("version=1.4.2-beta\n") << "1.4.2-beta";
        QTest::newRow("value with = inside") << QByteArray("version=a=b\n") << "a=b";
        QTest::newRow("longer key skipped") << QByteArray("versions=\"9\"\nversion=\"2.0\"\n") << "2.0";
        QTest::newRow("unclosed quote") << QByteArray("version=\"1.4.2\n") << "\"1.4.2";
        QTest::newRow("empty quotes") << QByteArray("version=\"\"\n") << QString();
        QTest::newRow("no file") << QByteArray() << QString();
        QTest::newRow("shipped addon matches the application")
            << TestEnv::readFile(qEnvironmentVariable("TAVRIN_ADDON_SOURCE") + "/plugin.cfg") << Tavrin::Version;
    }
    void readVersionFromCfg()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString dir = m_work.path() + "/cfg/" + QTest::currentDataTag();
        QVERIFY(content.isNull() || TestEnv::writeFile(dir + "/plugin.cfg", content));
        QCOMPARE(Addon::readVersionFromCfg(dir), expected);
    }

    // One folder: refused while it is no project, then a copy that cannot be written, then removed
    // twice, then removed once more as a link.
    void lifecycle()
    {
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/tavrin_mcp/big.res", QByteArray(256 * 1024, 'n')));
        const QString project = m_work.path() + "/life", target = project + "/addons/tavrin_mcp";
        QVERIFY(TestEnv::writeFile(target + "/big.res", "old"));
        QVERIFY(TestEnv::writeFile(project + "/addons/other/plugin.cfg", "x"));
        const QStringList before = tree(project);
        Addon addon;
        QVERIFY(!addon.install(project));
        QCOMPARE(addon.lastError(), "Godot project not found: " + project);
        QVERIFY(!addon.uninstall(project));
        QCOMPARE(addon.lastError(), "Godot project not found: " + project);
        QCOMPARE(tree(project), before);
        QCOMPARE(TestEnv::readFile(target + "/big.res"), QByteArray("old"));
        QVERIFY(TestEnv::writeFile(project + "/project.godot", "x"));
#ifdef Q_OS_UNIX
        // A file size limit makes writing the new copy fail, even for root.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit limited{64 * 1024, saved.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const bool ok = addon.install(project);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!ok);
        QVERIFY2(addon.lastError().startsWith("Cannot copy addon file to " + target + "/big.res: "),
                 qPrintable(addon.lastError()));
        QCOMPARE(tree(target), QStringList{"big.res"}); // no temporary copy left behind
        QCOMPARE(TestEnv::readFile(target + "/big.res"), QByteArray("old"));
#endif
        QSignalSpy finished(&addon, &Addon::uninstallFinished);
        QVERIFY2(addon.uninstall(project), qPrintable(addon.lastError()));
        QCOMPARE(finished.takeFirst().at(0).toBool(), true);
        QCOMPARE(tree(project + "/addons"), QStringList({"other", "other/plugin.cfg"}));
        QVERIFY(!addon.install(m_work.path() + "/missing")); // leaves a message behind
        QVERIFY(addon.uninstall(project));                   // nothing left to remove is still a success
        QCOMPARE(addon.lastError(), QString());
        const QString checkout = m_work.path() + "/checkout"; // a linked addon goes as a link; its target stays
        QVERIFY(TestEnv::writeFile(checkout + "/sub/work.gd", "unsaved work"));
        QVERIFY(QFile::link(checkout, target));
        QVERIFY2(addon.uninstall(project), qPrintable(addon.lastError()));
        QCOMPARE(tree(project + "/addons"), QStringList({"other", "other/plugin.cfg"}));
        QCOMPARE(tree(checkout), QStringList({"sub", "sub/work.gd"}));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestAddon)
#include "tst_addon.moc"
