#include "base/toolprocess.h"
#include "base/userfolders.h"
#include "core/godoteditors.h"
#include "fakegodot.h"
#include "testenv.h"

#include <QScopeGuard>

using TestEnv::row;

namespace {

QString describe(const GodotInstall &install)
{
    return QStringList({QFileInfo(install.program).fileName(), install.arguments.join(' '), install.version.text()})
        .join('|');
}

QStringList describe(const QList<GodotInstall> &installs)
{
    QStringList list;
    for (const GodotInstall &install : installs)
        list << describe(install);
    return list;
}

} // namespace

class TestGodotEditors : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;
    int m_rows = 0;

private slots:
    void parseVersion_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("parsed"); // major.minor.patch|status|build|mono, or empty
        QTest::addColumn<QString>("text");
        row("official", "4.3.stable.official.77dcf97d8\n", "4.3.0|stable|official|0", "4.3");
        row("distribution, no hash", "4.2.2.stable.arch_linux", "4.2.2|stable|arch_linux|0", "4.2.2");
        row("mono", "4.4.1.stable.mono.official.49a5bc7b6", "4.4.1|stable|official|1", "4.4.1");
        row("engine's own string", "4.3-stable (official)", "4.3.0|stable|official|0", "4.3");
        row("preview", "4.4.dev3.official.f4af8201b", "4.4.0|dev3|official|0", "4.4-dev3");
        row("Godot 3", "3.5.2.stable.official.170ba337a", "3.5.2|stable|official|0", "3.5.2");
        row("numbers only, v", "v4.1", "4.1.0|||0", "4.1");
        row("after a warning", "WARNING: 1.2 is odd\r\n  4.3.1.rc2.custom_build\r\n", "4.3.1|rc2|custom_build|0",
            "4.3.1-rc2");
        row("empty", "", "", "");
        row("no version", "Usage: godot [options] [path to scene or 'project.godot' file]", "", "");
        row("glued word", "4.3stable", "", "");
    }
    void parseVersion()
    {
        QFETCH(QString, output);
        const std::optional<GodotVersion> v = GodotEditors::parseVersion(output);
        QTEST(v ? QString::asprintf("%d.%d.%d|%s|%s|%d", v->major, v->minor, v->patch, qPrintable(v->status),
                                    qPrintable(v->build), int(v->mono))
                : QString(),
              "parsed");
        QTEST(v ? v->text() : QString(), "text");
    }

    // Real processes with Godot's command lines; only the processes of this test carry its folders.
    void editorsFor_data()
    {
        QTest::addColumn<QString>("program");       // godot: a copy of this executable, Godot_v4.3-…: a link
                                                    // to it named like the download, tool: a link to this one
        QTest::addColumn<QStringList>("arguments"); // {dir}: the project, {other}: another one
        QTest::addColumn<QString>("cwd");           // {dir}, {parent} or nothing
        QTest::addColumn<bool>("editor");
        const auto row = [](const char *name, const QStringList &args, const QString &cwd, bool editor,
                            const QString &program = "godot") {
            QTest::newRow(name) << program << args << cwd << editor;
        };
        row("--path, --editor", {"--path", "{dir}", "--editor"}, "", true);
        row("-e first, trailing slash", {"-e", "--path", "{dir}/"}, "", true);
        row("relative --path", {"--path", "game", "-e"}, "{parent}", true);
        row("--path through a link", {"--path", "{link}", "-e"}, "", true);
        row("project.godot opens the editor", {"{dir}/project.godot"}, "", true);
        row("relative project.godot, -e", {"project.godot", "-e"}, "{dir}", true);
        row("-e in the project folder", {"-e"}, "{dir}", true);
        row("downloaded editor", {"--path", "{dir}", "-e"}, "", true, "Godot_v4.3-stable_linux.x86_64");
        row("the game", {"--path", "{dir}"}, "", false);
        row("the game started from the editor",
            {"--path", "{dir}", "--remote-debug", "tcp://127.0.0.1:6007", "--editor-pid", "42", "res://main.tscn"}, "",
            false);
        row("-e for the game after --", {"--path", "{dir}", "--", "-e"}, "", false);
        row("another project", {"--path", "{other}", "-e"}, "{dir}", false);
        row("not Godot", {"--path", "{dir}", "-e"}, "", false, "tool");
    }
    void editorsFor()
    {
#ifndef Q_OS_LINUX
        QSKIP("Editors are found from /proc on Linux only");
#endif
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, cwd);
        QFETCH(bool, editor);
        const QString bin = m_work.path() + "/bin";
        QVERIFY(QDir().mkpath(bin) && FakeGodot::install(bin + "/godot"));
        QFile::link(bin + "/godot", bin + "/Godot_v4.3-stable_linux.x86_64");
        QFile::link(QCoreApplication::applicationFilePath(), bin + "/tool");

        const QString parent = m_work.path() + QStringLiteral("/row%1").arg(++m_rows), dir = parent + "/game";
        QVERIFY(TestEnv::writeFile(dir + "/project.godot", "config_version=5\n") &&
                TestEnv::writeFile(parent + "/other/project.godot", "config_version=5\n") &&
                QFile::link(dir, parent + "/link"));
        for (QString &arg : arguments)
            arg.replace("{dir}", dir).replace("{other}", parent + "/other").replace("{link}", parent + "/link");
        cwd.replace("{dir}", dir).replace("{parent}", parent);
        const FakeGodot::Process process = FakeGodot::start(bin + '/' + program, arguments, cwd);
        QVERIFY(process);
        QVERIFY(TestEnv::processAlive(process->processId()));
        QCOMPARE(GodotEditors::editorsFor(dir), editor ? QList<qint64>{process->processId()} : QList<qint64>());
        QCOMPARE(GodotEditors::editorsFor(parent + "/link"), GodotEditors::editorsFor(dir));
    }

    // Where Windows users keep Godot: on the PATH (a .cmd too), downloaded or unpacked into
    // Downloads, and linked by winget or Scoop; console twins and archives are not editors.
    void findOnWindows()
    {
#ifndef Q_OS_WIN
        QSKIP("Windows's own places; findAndChoose covers the others");
#else
        const QString home = TestEnv::home(), downloads = UserFolders::downloads();
        const QString winget = home + "/AppData/Local/Microsoft/WinGet/Links", scoop = home + "/scoop/shims";
        qputenv("LOCALAPPDATA", QDir::toNativeSeparators(home + "/AppData/Local").toUtf8());
        const auto cleanup = qScopeGuard([&] {
            for (const QString &dir : {downloads, winget, scoop})
                QDir(dir).removeRecursively();
            TestEnv::removeTool("godot.cmd");
        });
        // A copy of the fake tool named godot* answers --version with the text beside it.
        const auto editor = [](const QString &path, const QByteArray &version) {
            return QDir().mkpath(QFileInfo(path).absolutePath()) && QFile::copy(TAVRIN_FAKE_CLI, path) &&
                   TestEnv::writeFile(path + ".version", version + "\n");
        };
        QVERIFY(!TestEnv::writeScript("godot", {}, "echo 3.5.2.stable.official.170ba337a").isEmpty());
        QVERIFY(editor(downloads + "/Godot_v4.2.2-stable_win64.exe", "4.2.2.stable.official"));
        QVERIFY(editor(downloads + "/Godot_v4.2.2-stable_win64_console.exe", "4.2.2.stable.official"));
        QVERIFY(TestEnv::writeFile(downloads + "/Godot_v4.1-stable_win64.exe.zip", "PK"));
        QVERIFY(editor(downloads + "/Godot_v4.4-rc1_win64/Godot_v4.4-rc1_win64.exe", "4.4.rc1.official.abc1234"));
        QVERIFY(editor(winget + "/godot.exe", "4.3.stable.official.77dcf97d8"));
        QVERIFY(editor(scoop + "/godot-mono.exe", "4.3.1.stable.mono.official"));

        QCOMPARE(describe(GodotEditors::find()),
                 QStringList({"godot.cmd||3.5.2", "Godot_v4.2.2-stable_win64.exe||4.2.2",
                              "Godot_v4.4-rc1_win64.exe||4.4-rc1", "godot.exe||4.3", "godot-mono.exe||4.3.1"}));
#endif
    }

    void findAndChoose()
    {
        const QString downloads = TestEnv::home() + "/Downloads";
        const QString flatpakApp = TestEnv::dataHome() + "/flatpak/app/org.godotengine.Godot";
        const auto cleanup = qScopeGuard([&] {
            for (const char *tool : {"godot", "godot4", "godot-mono", "godot_console", "flatpak"})
                TestEnv::removeTool(tool);
            QDir(downloads).removeRecursively();
            QDir(flatpakApp).removeRecursively();
        });
        // A script named like Godot that answers --version with `text`.
        const auto godot = [](const QString &name, const QByteArray &text, const QString &folder = TestEnv::binDir()) {
            return TestEnv::writeTool(name, "echo " + text, folder);
        };
        QVERIFY(!godot("godot", "3.5.2.stable.official.170ba337a").isEmpty());
        const QString godot4 = godot("godot4", "4.3.stable.official.77dcf97d8");
        QVERIFY(QFile::link(godot4, TestEnv::binDir() + "/godot-mono")); // the same copy, probed once
        QVERIFY(!godot("godot_console", "'Usage: godot'").isEmpty());
        const QString unpacked = downloads + "/Godot_v4.4-rc1_linux.x86_64";
        QVERIFY(QDir().mkpath(unpacked)); // an unpacked archive: the editor in a folder of its name
        const QString download = godot("Godot_v4.2.2-stable_linux.x86_64", "4.2.2.stable.official", downloads);
        QVERIFY(!download.isEmpty());
        QVERIFY(!godot("Godot_v4.1-stable_linux.x86_64.zip", "4.1", downloads).isEmpty());
        QVERIFY(TestEnv::writeFile(downloads + "/Godot_v4.0-notes.txt", "4.0"));
        QVERIFY(!godot("Godot_v4.4-rc1_linux.x86_64", "4.4.rc1.official.abc1234", unpacked).isEmpty());
        QVERIFY(QDir().mkpath(flatpakApp));
        QVERIFY(!TestEnv::writeTool("flatpak", "[ \"$*\" = 'run org.godotengine.Godot --version' ] || exit 1\n"
                                               "echo 4.3.1.stable.flathub")
                     .isEmpty());

        const QList<GodotInstall> found = GodotEditors::find();
        QCOMPARE(describe(found),
                 QStringList({"godot||3.5.2", "godot4||4.3", "Godot_v4.2.2-stable_linux.x86_64||4.2.2",
                              "Godot_v4.4-rc1_linux.x86_64||4.4-rc1", "flatpak|run org.godotengine.Godot|4.3.1"}));
        QVERIFY(found.first().version.tooOld() && !found.at(1).version.tooOld());
        // The newest Godot 4, unless the user chose another Godot 4.
        const QString newest = "Godot_v4.4-rc1_linux.x86_64||4.4-rc1";
        QCOMPARE(describe(GodotEditors::best(found).value()), newest);
        QCOMPARE(describe(GodotEditors::inUse({}).value()), newest);
        QCOMPARE(GodotEditors::inUse(download).value().program, download);
        QCOMPARE(describe(GodotEditors::inUse(TestEnv::binDir() + "/godot").value()), newest);
        QCOMPARE(describe(GodotEditors::inUse("/nowhere/godot").value()), newest);
        QCOMPARE(GodotEditors::best({found.first()}).has_value(), false);
        // A preview loses to the stable release of the same number.
        QList<GodotInstall> same = found;
        same[3].version.minor = 3;
        same[3].version.patch = 1;
        QCOMPARE(describe(GodotEditors::best(same).value()), "flatpak|run org.godotengine.Godot|4.3.1");
    }

    void probeThatHangsIsKilled()
    {
        const QString pidFile = m_work.path() + "/hang.pid";
        QVERIFY(!TestEnv::writeTool("godot", "echo $$ > '" + pidFile.toUtf8() + "'\nexec sleep 300").isEmpty());
        ToolProcess::setFinishTimeScale(0.01);
        const auto cleanup = qScopeGuard([] {
            ToolProcess::setFinishTimeScale(1.0);
            TestEnv::removeTool("godot");
        });
        QCOMPARE(GodotEditors::find().size(), 0);
        const qint64 pid = TestEnv::readFile(pidFile).trimmed().toLongLong();
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(pid), 10000);
    }

    void open_data()
    {
        QTest::addColumn<QString>("godot"); // "4", "3", "flatpak" or nothing
        QTest::addColumn<bool>("project");
        QTest::addColumn<QString>("result"); // the recorded arguments, or the error
        row("Godot 4", "4", true, "{dir}\n--path\n{dir}\n--editor");
        row("Flatpak", "flatpak", true, "{dir}\nrun\norg.godotengine.Godot\n--path\n{dir}\n--editor");
        row("no Godot", "", true, "No Godot 4 found: choose it in Settings.");
        row("Godot 3", "3", true, "Godot 3.5.2 is too old: Tavrin MCP needs Godot 4. Choose another in Settings.");
        row("no project", "4", false, "Godot project not found: {dir}");
    }
    void open()
    {
        QFETCH(QString, godot);
        QFETCH(bool, project);
        QFETCH(QString, result);
        const QString dir = m_work.path() + QStringLiteral("/open%1").arg(++m_rows), record = dir + ".args";
        QVERIFY(project ? TestEnv::writeFile(dir + "/project.godot", "") : QDir().mkpath(dir));
        const QString program =
            TestEnv::writeTool("godot", "printf '%s\\n' \"$PWD\" \"$@\" > '" + record.toUtf8() + "'");
        const auto cleanup = qScopeGuard([] { TestEnv::removeTool("godot"); });
        std::optional<GodotInstall> install;
        if (!godot.isEmpty())
            install =
                GodotInstall{program, godot == "flatpak" ? QStringList{"run", "org.godotengine.Godot"} : QStringList(),
                             GodotEditors::parseVersion(godot == "3" ? "3.5.2" : "4.3").value()};
        QString error;
        const bool started = GodotEditors::open(install, dir, &error);
        result.replace("{dir}", dir);
        QCOMPARE(error, started ? QString() : result);
        if (started)
            QTRY_COMPARE(TestEnv::readFile(record), result.toUtf8() + "\n");
    }

    void listedProjects_data()
    {
        QTest::addColumn<QByteArray>("native"); // null: no file
        QTest::addColumn<QByteArray>("flatpak");
        QTest::addColumn<QStringList>("exclude");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("listed");
        const QByteArray native = "[{root}/b]\n\nfavorite=false\n\n[{root}/three]\n\nfavorite=true\n\n"
                                  "[{root}/missing]\n\nfavorite=true\n\n[{root}/unknown]\n\nfavorite=true\n\n"
                                  "[{root}/a]\n\nfavorite=true\n\n[{root}/c]\n\nfavorite=true\n";
        const QByteArray flatpak = "[{root}/d]\nfavorite=false\n[{root}/b/]\nfavorite=true\n";
        using L = QStringList;
        row("both lists", native, flatpak, L{"{root}/c"}, 10, L{"a|Alpha|1", "b|b|0", "d|d|0"});
        row("at most two", native, flatpak, L(), 2, L{"a|Alpha|1", "c|c|1"});
        row("excluded with a trailing slash", native, QByteArray(), L{"{root}/a/"}, 10, L{"c|c|1", "b|b|0"});
        row("garbage list", QByteArray("\xff\xfe[{root}/a]\nfavorite="), flatpak, L(), 10, L{"b|b|1", "d|d|0"});
        row("no list", QByteArray(), QByteArray(), L(), 10, L());
    }
    void listedProjects()
    {
        QFETCH(QByteArray, native);
        QFETCH(QByteArray, flatpak);
        QFETCH(QStringList, exclude);
        QFETCH(int, limit);
        const QString root = m_work.path() + "/listed";
        for (const char *name : {"b", "c", "d"})
            QVERIFY(TestEnv::writeFile(root + '/' + name + "/project.godot", "config_version=5\n"));
        QVERIFY(
            TestEnv::writeFile(root + "/a/project.godot", "config_version=5\n[application]\nconfig/name=\"Alpha\"\n"));
        QVERIFY(TestEnv::writeFile(root + "/three/project.godot", "config_version=4\n"));
        QVERIFY(TestEnv::writeFile(root + "/unknown/project.godot", ""));
        const QStringList files = GodotEditors::projectListFiles();
        QCOMPARE(files, QStringList({TestEnv::dataHome() + "/godot/projects.cfg",
                                     TestEnv::home() + "/.var/app/org.godotengine.Godot/data/godot/projects.cfg"}));
        for (int i = 0; i < 2; ++i) {
            const QByteArray content = i ? flatpak : native;
            QFile::remove(files.at(i));
            QVERIFY(content.isNull() ||
                    TestEnv::writeFile(files.at(i), QByteArray(content).replace("{root}", root.toUtf8())));
        }
        for (QString &path : exclude)
            path.replace("{root}", root);
        QStringList got;
        for (const GodotListedProject &project : GodotEditors::listedProjects(exclude, limit))
            got << QStringList({QDir(root).relativeFilePath(project.path), project.name, project.favorite ? "1" : "0"})
                       .join('|');
        QTEST(got, "listed");
    }
};

TAVRIN_FAKE_GODOT_MAIN(TestGodotEditors)
#include "tst_godoteditors.moc"
