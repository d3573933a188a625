#include "addon.h"
#include "testenv.h"
#include "version.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QSignalSpy>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

QString appDir()
{
    return QCoreApplication::applicationDirPath();
}
QString bundledRoot()
{
    return appDir() + QLatin1String("/bundled_addon");
}

QByteArray cfg(const QByteArray &version)
{
    return "[plugin]\n\nname=\"Tavrin MCP\"\nversion=\"" + version + "\"\nscript=\"plugin.gd\"\n";
}

// Every entry below `dir`, hidden ones included, as sorted relative paths (folders end in "/").
QStringList tree(const QString &dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries << QDir(dir).relativeFilePath(it.filePath()) +
                       (it.fileInfo().isDir() ? QStringLiteral("/") : QString());
    }
    entries.sort();
    return entries;
}

QStringList temporaryLeftovers(const QString &dir)
{
    return tree(dir).filter(QLatin1String(".tmp-"));
}

} // namespace

class TestAddon : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work;

    QString makeProject(const QString &name)
    {
        const QString path = m_work.path() + QLatin1Char('/') + name;
        TestEnv::writeFile(path + QLatin1String("/project.godot"), "config_version=5\n");
        return path;
    }

private slots:
    void init() { QDir(bundledRoot()).removeRecursively(); }
    void cleanup() { QDir(bundledRoot()).removeRecursively(); }

    void installsFromEitherLayout_data()
    {
        QTest::addColumn<QString>("sourceFolder");
        QTest::addColumn<QByteArray>("version");
        QTest::newRow("files directly in bundled_addon") << QString() << QByteArray("1.2.0");
        QTest::newRow("files in bundled_addon/tavrin_mcp") << QStringLiteral("/tavrin_mcp") << QByteArray("1.3.0");
        QTest::newRow("sub-folder without plugin.cfg") << QStringLiteral("/tavrin_mcp") << QByteArray();
    }
    void installsFromEitherLayout()
    {
        QFETCH(QString, sourceFolder);
        QFETCH(QByteArray, version);
        const QString source = bundledRoot() + sourceFolder;
        if (!version.isEmpty())
            QVERIFY(TestEnv::writeFile(source + "/plugin.cfg", cfg(version)));
        QVERIFY(TestEnv::writeFile(source + "/plugin.gd", "@tool\nextends EditorPlugin\n"));
        QVERIFY(TestEnv::writeFile(source + "/ui/icons/bridge.svg", "<svg/>"));
        QVERIFY(TestEnv::writeFile(source + "/ui/panel.tscn", "[gd_scene]"));
        QVERIFY(TestEnv::writeFile(source + "/run.sh", "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(source + "/run.sh", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                              QFile::ReadGroup | QFile::ExeGroup));
        // Hidden entries of the shipped copy stay behind.
        QVERIFY(TestEnv::writeFile(source + "/.gitignore", "*.tmp\n"));
        QVERIFY(TestEnv::writeFile(source + "/.git/HEAD", "ref: main\n"));
        QVERIFY(TestEnv::writeFile(source + "/ui/.cache/x", "x"));
        if (!sourceFolder.isEmpty()) // beside the sub-folder, not part of the addon
            QVERIFY(TestEnv::writeFile(bundledRoot() + "/README.txt", "readme"));

        QCOMPARE(Addon::bundledAddonDir(), source);
        const QString project = makeProject(QTest::currentDataTag());
        const QString target = project + "/addons/tavrin_mcp";

        Addon addon;
        QSignalSpy finished(&addon, &Addon::installFinished);
        QVERIFY2(addon.install(project), qPrintable(addon.lastError()));
        QCOMPARE(addon.lastError(), QString());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);

        QStringList expected{"plugin.gd", "run.sh", "ui/", "ui/icons/", "ui/icons/bridge.svg", "ui/panel.tscn"};
        if (!version.isEmpty())
            expected << "plugin.cfg";
        expected.sort();
        QCOMPARE(tree(target), expected);
        QCOMPARE(TestEnv::readFile(target + "/ui/icons/bridge.svg"), QByteArray("<svg/>"));
        QCOMPARE(QFileInfo(target + "/run.sh").permissions(), QFileInfo(source + "/run.sh").permissions());

        const AddonStatus status = addon.status(project);
        QVERIFY(status.installed);
        QCOMPARE(status.installedVersion, QString::fromUtf8(version));
        QCOMPARE(status.bundledVersion, QString::fromUtf8(version));
        QVERIFY(!status.updateAvailable);
    }

    void missingBundledFolderFailsInstall()
    {
        const QString project = makeProject("no-bundle");
        Addon addon;
        QSignalSpy finished(&addon, &Addon::installFinished);
        QVERIFY(!addon.install(project));
        QCOMPARE(addon.lastError(), "Bundled addon directory not found: " + appDir() + "/bundled_addon/tavrin_mcp");
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY(!QFileInfo::exists(project + "/addons"));

        const AddonStatus status = addon.status(project);
        QVERIFY(!status.installed);
        QVERIFY(status.bundledVersion.isEmpty());
    }

    void readVersionFromCfg_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("quoted") << QByteArray("[plugin]\nversion=\"1.4.2\"\n") << "1.4.2";
        QTest::newRow("space both sides") << QByteArray("version = \"1.4.2\"\n") << "1.4.2";
        QTest::newRow("blanks around line") << QByteArray("  \tversion=\"1.4.2\"   \n") << "1.4.2";
        QTest::newRow("unquoted") << QByteArray("version=1.4.2-beta\n") << "1.4.2-beta";
        QTest::newRow("inner quotes kept") << QByteArray("version=\"1.\\\"4\"\n") << "1.\\\"4";
        QTest::newRow("two spaces before =") << QByteArray("version  = \"1.4.2\"\n") << QString();
        QTest::newRow("capital V") << QByteArray("Version=\"1.4.2\"\n") << QString();
        QTest::newRow("longer key skipped") << QByteArray("versions=\"9\"\nversion=\"2.0\"\n") << "2.0";
        QTest::newRow("unclosed quote") << QByteArray("version=\"1.4.2\n") << "\"1.4.2";
        QTest::newRow("lone quote") << QByteArray("version=\"\n") << "\"";
        QTest::newRow("empty value") << QByteArray("version=\n") << QString();
        QTest::newRow("empty quotes") << QByteArray("version=\"\"\n") << QString();
        QTest::newRow("first line wins across sections")
            << QByteArray("[other]\nversion=\"0.1\"\n[plugin]\nversion=\"1.4.2\"\n") << "0.1";
        QTest::newRow("CRLF") << QByteArray("[plugin]\r\nname=\"x\"\r\nversion=\"1.4.2\"\r\n") << "1.4.2";
        QTest::newRow("no trailing newline") << QByteArray("version=\"1.4.2\"") << "1.4.2";
        QTest::newRow("value with = inside") << QByteArray("version=a=b\n") << "a=b";
        QTest::newRow("no version line") << QByteArray("[plugin]\nname=\"x\"\n") << QString();
    }
    void readVersionFromCfg()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString dir = m_work.path() + "/cfg";
        QVERIFY(TestEnv::writeFile(dir + "/plugin.cfg", content));
        QCOMPARE(Addon::readVersionFromCfg(dir), expected);
    }

    void readVersionWithoutFileIsNull() { QVERIFY(Addon::readVersionFromCfg(m_work.path() + "/nowhere").isNull()); }

    void folderWithoutProjectIsLeftAlone()
    {
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/plugin.cfg", cfg("1.0.0")));
        const QString folder = m_work.path() + "/not-a-project";
        QVERIFY(TestEnv::writeFile(folder + "/addons/tavrin_mcp/plugin.cfg", cfg("0.9.0")));
        const QStringList before = tree(folder);

        Addon addon;
        QSignalSpy installed(&addon, &Addon::installFinished);
        QSignalSpy uninstalled(&addon, &Addon::uninstallFinished);
        QVERIFY(!addon.install(folder));
        QCOMPARE(addon.lastError(), "Godot project not found: " + folder);
        QVERIFY(!addon.uninstall(folder));
        QCOMPARE(addon.lastError(), "Godot project not found: " + folder);
        QCOMPARE(tree(folder), before);
        QCOMPARE(TestEnv::readFile(folder + "/addons/tavrin_mcp/plugin.cfg"), cfg("0.9.0"));

        QVERIFY(!addon.uninstall(QString()));
        QCOMPARE(addon.lastError(), QString("Godot project not found: "));
        QCOMPARE(installed.count(), 1);
        QCOMPARE(installed.at(0).at(0).toBool(), false);
        QCOMPARE(uninstalled.count(), 2);
        QCOMPARE(uninstalled.at(1).at(0).toBool(), false);
    }

    void reinstallReplacesCommonFilesAndKeepsOthers()
    {
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/plugin.cfg", cfg("1.1.0")));
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/plugin.gd", "new script"));
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/ui/panel.tscn", "new panel"));
        const QString project = makeProject("reinstall");
        const QString target = project + "/addons/tavrin_mcp";
        QVERIFY(TestEnv::writeFile(target + "/plugin.cfg", cfg("1.0.0")));
        QVERIFY(TestEnv::writeFile(target + "/plugin.gd", "old script that was longer than the new one"));
        QVERIFY(TestEnv::writeFile(target + "/ui/panel.tscn", "old panel"));
        QVERIFY(TestEnv::writeFile(target + "/ui/old_only.gd", "kept"));
        QVERIFY(TestEnv::writeFile(target + "/user_settings.cfg", "kept too"));

        Addon addon;
        QVERIFY(!addon.uninstall(m_work.path() + "/missing")); // leaves a message behind
        QCOMPARE(addon.status(project).updateAvailable, true);
        QVERIFY2(addon.install(project), qPrintable(addon.lastError()));
        QCOMPARE(addon.lastError(), QString());

        QCOMPARE(TestEnv::readFile(target + "/plugin.cfg"), cfg("1.1.0"));
        QCOMPARE(TestEnv::readFile(target + "/plugin.gd"), QByteArray("new script"));
        QCOMPARE(TestEnv::readFile(target + "/ui/panel.tscn"), QByteArray("new panel"));
        QCOMPARE(TestEnv::readFile(target + "/ui/old_only.gd"), QByteArray("kept"));
        QCOMPARE(TestEnv::readFile(target + "/user_settings.cfg"), QByteArray("kept too"));
        QCOMPARE(temporaryLeftovers(target), QStringList());
        QCOMPARE(addon.status(project).updateAvailable, false);
    }

    void uninstallRemovesOnlyTheAddon()
    {
        const QString project = makeProject("uninstall");
        QVERIFY(TestEnv::writeFile(project + "/addons/tavrin_mcp/plugin.cfg", cfg("1.0.0")));
        QVERIFY(TestEnv::writeFile(project + "/addons/tavrin_mcp/deep/er/file.gd", "x"));
        QVERIFY(TestEnv::writeFile(project + "/addons/tavrin_mcp/.hidden", "x"));
        QVERIFY(TestEnv::writeFile(project + "/addons/other/plugin.cfg", cfg("3.0")));

        Addon addon;
        QVERIFY(!addon.install(m_work.path() + "/missing")); // leaves a message behind
        QSignalSpy finished(&addon, &Addon::uninstallFinished);
        QVERIFY2(addon.uninstall(project), qPrintable(addon.lastError()));
        QCOMPARE(addon.lastError(), QString());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(tree(project + "/addons"), QStringList({"other/", "other/plugin.cfg"}));
        QVERIFY(QFileInfo::exists(project + "/project.godot"));

        // Nothing left to remove is still a success.
        QVERIFY(addon.uninstall(project));
        QCOMPARE(addon.lastError(), QString());
        QCOMPARE(finished.count(), 2);
        QCOMPARE(finished.at(1).at(0).toBool(), true);
    }

    void uninstallOfLinkedAddonKeepsLinkedFolder()
    {
        const QString checkout = m_work.path() + "/checkout/tavrin_mcp";
        QVERIFY(TestEnv::writeFile(checkout + "/plugin.cfg", cfg("2.0.0-dev")));
        QVERIFY(TestEnv::writeFile(checkout + "/sub/work.gd", "unsaved work"));
        const QString project = makeProject("linked");
        QVERIFY(QDir().mkpath(project + "/addons"));
        QVERIFY(QFile::link(checkout, project + "/addons/tavrin_mcp"));
        QCOMPARE(Addon().status(project).installedVersion, QString("2.0.0-dev"));

        Addon addon;
        QVERIFY2(addon.uninstall(project), qPrintable(addon.lastError()));
        QVERIFY(!QFileInfo(project + "/addons/tavrin_mcp").isSymLink());
        QVERIFY(!QFileInfo::exists(project + "/addons/tavrin_mcp"));
        QCOMPARE(tree(checkout), QStringList({"plugin.cfg", "sub/", "sub/work.gd"}));
    }

    void status_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QByteArray>("installedCfg");
        QTest::addColumn<QByteArray>("bundledVersion");
        QTest::addColumn<bool>("updateAvailable");
        QTest::newRow("same") << true << cfg("1.0.1") << QByteArray("1.0.1") << false;
        QTest::newRow("1.2.0 installed, 1.10.0 shipped") << true << cfg("1.2.0") << QByteArray("1.10.0") << true;
        QTest::newRow("1.10.0 installed, 1.2.0 shipped") << true << cfg("1.10.0") << QByteArray("1.2.0") << true;
        QTest::newRow("case differs") << true << cfg("1.0.0-RC1") << QByteArray("1.0.0-rc1") << true;
        QTest::newRow("installed without plugin.cfg") << true << QByteArray() << QByteArray("1.0.1") << false;
        QTest::newRow("installed without version line")
            << true << QByteArray("[plugin]\n") << QByteArray("1.0.1") << false;
        QTest::newRow("shipped without version") << true << cfg("1.0.1") << QByteArray() << false;
        QTest::newRow("not installed") << false << QByteArray() << QByteArray("1.0.1") << false;
    }
    void status()
    {
        QFETCH(bool, installed);
        QFETCH(QByteArray, installedCfg);
        QFETCH(QByteArray, bundledVersion);
        QFETCH(bool, updateAvailable);
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/plugin.cfg",
                                   bundledVersion.isEmpty() ? QByteArray("[plugin]\n") : cfg(bundledVersion)));
        const QString project = m_work.path() + "/status/" + QTest::currentDataTag();
        const QString target = project + "/addons/tavrin_mcp";
        if (installed)
            QVERIFY(QDir().mkpath(target));
        if (!installedCfg.isEmpty())
            QVERIFY(TestEnv::writeFile(target + "/plugin.cfg", installedCfg));

        Addon addon;
        const AddonStatus status = addon.status(project);
        QCOMPARE(status.installed, installed);
        QCOMPARE(status.installedVersion, installed ? Addon::readVersionFromCfg(target) : QString());
        QCOMPARE(status.bundledVersion, QString::fromUtf8(bundledVersion));
        QCOMPARE(addon.bundledVersion(), QString::fromUtf8(bundledVersion));
        QCOMPARE(status.updateAvailable, updateAvailable);
    }

    void failedReplacementKeepsWhatWasThere()
    {
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/plugin.cfg", cfg("1.1.0")));
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/plugin.gd", "new script"));
        const QString project = makeProject("occupied");
        const QString target = project + "/addons/tavrin_mcp";
        // A folder where the addon wants a file cannot be replaced by it.
        QVERIFY(TestEnv::writeFile(target + "/plugin.gd/inside.txt", "user data"));

        Addon addon;
        QVERIFY(!addon.install(project));
        const QString prefix = "Cannot replace addon file " + target + "/plugin.gd: ";
        QVERIFY2(addon.lastError().startsWith(prefix), qPrintable(addon.lastError()));
        QVERIFY(addon.lastError().size() > prefix.size());
        QCOMPARE(TestEnv::readFile(target + "/plugin.gd/inside.txt"), QByteArray("user data"));
        QCOMPARE(temporaryLeftovers(target), QStringList());
    }

#ifdef Q_OS_UNIX
    void failedCopyKeepsOldFile()
    {
        // A file size limit makes writing the new copy fail, even for root.
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/plugin.cfg", cfg("1.1.0")));
        QVERIFY(TestEnv::writeFile(bundledRoot() + "/big.res", QByteArray(256 * 1024, 'n')));
        const QString project = makeProject("too-big");
        const QString target = project + "/addons/tavrin_mcp";
        QVERIFY(TestEnv::writeFile(target + "/big.res", QByteArray(1000, 'o')));

        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = 64 * 1024;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        Addon addon;
        const bool ok = addon.install(project);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        const QString prefix = "Cannot copy addon file to " + target + "/big.res: ";
        QVERIFY2(addon.lastError().startsWith(prefix), qPrintable(addon.lastError()));
        QVERIFY(addon.lastError().size() > prefix.size());
        QCOMPARE(TestEnv::readFile(target + "/big.res"), QByteArray(1000, 'o'));
        QCOMPARE(temporaryLeftovers(target), QStringList());
    }
#endif

    void shippedAddonMatchesTheApplication()
    {
        const QString shipped = qEnvironmentVariable("TAVRIN_ADDON_SOURCE");
        QVERIFY2(!shipped.isEmpty(), "TAVRIN_ADDON_SOURCE is not set (run through ctest)");
        QCOMPARE(Addon::readVersionFromCfg(shipped), QString::fromLatin1(Tavrin::Version));

        const QString cfgText = QString::fromUtf8(TestEnv::readFile(shipped + "/plugin.cfg"));
        for (const char *key : {"name=", "description=", "author=", "script="})
            QVERIFY2(cfgText.contains(QLatin1String("\n") + QLatin1String(key)), key);
        const QStringList script = QString::fromUtf8(TestEnv::readFile(shipped + "/plugin.gd")).split('\n');
        QCOMPARE(script.value(0).trimmed(), QString("@tool"));
        QVERIFY(script.contains("extends EditorPlugin"));
        QVERIFY(script.contains("func _enter_tree() -> void:"));
        QVERIFY(script.contains("func _exit_tree() -> void:"));

        // Shipped the way the build lays it out, it installs with nothing to update.
        for (const QString &file : QDir(shipped).entryList(QDir::Files))
            QVERIFY(TestEnv::writeFile(bundledRoot() + '/' + file, TestEnv::readFile(shipped + '/' + file)));
        const QString project = makeProject("shipped");
        Addon addon;
        QVERIFY2(addon.install(project), qPrintable(addon.lastError()));
        const AddonStatus status = addon.status(project);
        QCOMPARE(status.installedVersion, QString::fromLatin1(Tavrin::Version));
        QVERIFY(!status.updateAvailable);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestAddon)
#include "tst_addon.moc"
