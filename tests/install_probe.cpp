// Runs from the bin folder of a temporary install prefix (tests/install_tree.cmake), beside the
// installed application, so the addon lookup sees exactly what the installed application sees.
#include "core/addon.h"
#include "testenv.h"
#include "version.h"

#include <QProcess>
#include <QStandardPaths>

class InstallProbe : public QObject
{
    Q_OBJECT

    static QStringList tree(const QString &dir)
    {
        QStringList entries;
        QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << QDir(dir).relativeFilePath(it.next());
        entries.sort();
        return entries;
    }

private slots:
    void findsTheShippedAddon()
    {
        const QString prefix = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/..");
        const QString shipped = prefix + "/" TAVRIN_INSTALL_ADDONDIR;
        QCOMPARE(Addon::bundledAddonDir(), shipped);
        Addon addon;
        QCOMPARE(addon.bundledVersion(), QString::fromLatin1(Tavrin::Version));

        const QString project = TestEnv::home() + "/game";
        QVERIFY(TestEnv::writeFile(project + "/project.godot", "config_version=5\n"));
        QVERIFY2(addon.install(project), qPrintable(addon.lastError()));
        QVERIFY(!tree(shipped).isEmpty());
        QCOMPARE(tree(project + "/addons/tavrin_mcp"), tree(shipped));
    }

    // The installed command line finds the same shipped addon: a dry run lists its files.
    void commandLineFindsTheAddon()
    {
        const QString appDir = QCoreApplication::applicationDirPath();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("tavrin-cli"), {appDir});
        QVERIFY2(!program.isEmpty(), qPrintable("no tavrin-cli in " + appDir));
        const QString project = TestEnv::home() + "/cli-game";
        QVERIFY(TestEnv::writeFile(project + "/project.godot", "config_version=5\n"));
        QProcess cli;
        cli.start(program, {"addon", "install", "--project", project, "--dry-run"});
        QVERIFY(cli.waitForFinished(60000));
        const QByteArray out = cli.readAllStandardOutput();
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        QVERIFY2(out.contains("copy addons/tavrin_mcp/plugin.cfg"), out.constData());
        QVERIFY(!QFileInfo::exists(project + "/addons"));
    }

    void applicationStarts()
    {
        const QString appDir = QCoreApplication::applicationDirPath();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("tavrin"), {appDir});
        QVERIFY2(!program.isEmpty(), qPrintable("no tavrin in " + appDir));
        // A returning user with update checks off: no welcome dialog, no request to the network.
        QVERIFY(TestEnv::writeFile(TestEnv::dataHome() + "/Tavrin/settings.json",
                                   R"({"check_updates": false, "first_run_done": true})"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
#ifndef Q_OS_WIN // windeployqt ships the windows platform plugin only
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
#endif
        // Local sockets and lock files land in the temporary folder: keep them apart from any
        // other instance running on this machine.
        const QString tmp = TestEnv::root().path() + "/tmp";
        QVERIFY(QDir().mkpath(tmp));
        env.insert(QStringLiteral("TMPDIR"), tmp);

        QProcess app;
        app.setProcessEnvironment(env);
        QByteArray log;
        connect(&app, &QProcess::readyReadStandardError, this, [&] { log += app.readAllStandardError(); });
        app.start(program, {});
        QVERIFY2(app.waitForStarted(), qPrintable(app.errorString()));
        const QByteArray line = QByteArray(Tavrin::DisplayName) + ' ' + Tavrin::Version + " starting";
        QTRY_VERIFY2_WITH_TIMEOUT(log.contains(line) || app.state() != QProcess::Running, log.constData(), 60000);
        QVERIFY2(log.contains(line), log.constData());
        QCOMPARE(app.state(), QProcess::Running);
        app.kill();
        app.waitForFinished();
    }
};

TAVRIN_TEST_GUILESS_MAIN(InstallProbe)
#include "install_probe.moc"
