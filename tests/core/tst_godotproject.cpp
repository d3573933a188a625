#include "core/addon.h"
#include "core/addonsetup.h"
#include "core/backups.h"
#include "core/godoteditors.h"
#include "core/godotproject.h"
#include "fakegodot.h"
#include "testenv.h"

namespace {

// Only Linux shows another program's command line (/proc); elsewhere an editor open on a project
// is known by the addon's heartbeat alone.
#ifdef Q_OS_LINUX
constexpr bool s_commandLines = true;
#else
constexpr bool s_commandLines = false;
#endif
const char *const s_noCommandLine = "an editor without the addon is found by its command line, which only Linux shows";

using TestEnv::row;

const QByteArray s_ours = "\"res://addons/tavrin_mcp/plugin.cfg\"";
// Why enabling waits while Godot has the project open.
const QString s_overwrite =
    "Godot has Demo open and would overwrite the change. Tick Tavrin MCP in Project → Project "
    "Settings → Plugins there (no restart needed), or close the project in Godot and try again.";

QByteArray project(const QByteArray &enabled = {}, const QByteArray &version = "config_version=5\n")
{
    QByteArray text = version + "\n[application]\n\nconfig/name=\"Demo\"\n"
                                "config/features=PackedStringArray(\"4.3\", \"Forward Plus\")\n";
    if (!enabled.isNull())
        text += "\n[editor_plugins]\n\nenabled=PackedStringArray(" + enabled + ")\n";
    return text;
}

} // namespace

class TestGodotProject : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;
    QString m_godot; // a fake Godot executable
    int m_projects = 0;

    QString newProject(const QByteArray &content, bool withAddon)
    {
        QString folder = m_work.path() + QStringLiteral("/project%1").arg(++m_projects);
        if (!content.isNull() && !TestEnv::writeFile(folder + "/project.godot", content))
            return {};
        if (withAddon && !Addon().copyDir(qEnvironmentVariable("TAVRIN_ADDON_SOURCE"), folder + "/addons/tavrin_mcp"))
            return {};
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariable("TAVRIN_ADDON_SOURCE").isEmpty())
            QSKIP("TAVRIN_ADDON_SOURCE names the shipped addon (ctest sets it)");
        // The shipped addon beside the executable, for installs.
        const QString bundled = QCoreApplication::applicationDirPath() + "/bundled_addon";
        QVERIFY(QDir(bundled).removeRecursively() &&
                Addon().copyDir(qEnvironmentVariable("TAVRIN_ADDON_SOURCE"), bundled));
        m_godot = m_work.path() + "/bin/godot";
        QVERIFY(QDir().mkpath(m_work.path() + "/bin") && FakeGodot::install(m_godot));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: project.godot is a folder
        QTest::addColumn<QString>("error");      // after the path of project.godot
        QTest::addColumn<int>("configVersion");
        QTest::addColumn<QString>("displayName"); // "*": the folder's name
        QTest::addColumn<QString>("lastSavedWith");
        QTest::addColumn<QStringList>("enabled");
        row("Godot 4", project(s_ours + ", \"b\""), "", 5, "Demo", "4.3",
            QStringList{"res://addons/tavrin_mcp/plugin.cfg", "b"});
        row("features without a version first",
            QByteArray("config_version=5\n[application]\nconfig/name=\"  A\n  game \"\n"
                       "config/features=PackedStringArray(\"Mobile\", \"4.2\", \"4.3\")\n"),
            "", 5, "A game", "4.2", QStringList());
        row("empty", QByteArray(""), "", -1, "*", "", QStringList());
        row("unparsable", QByteArray("config_version=5\n[application]\nconfig/name=\"Demo\n"),
            " cannot be read as Godot reads it. Line 3: unterminated string.", 5, "*", "", QStringList());
        row("a folder", QByteArray(), " is a folder, not a file.", -1, "*", "", QStringList());
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(QString, displayName);
        const QString folder = newProject(content, false);
        QVERIFY(content.isNull() ? QDir().mkpath(folder + "/project.godot") : GodotProject::isProject(folder));
        const GodotProjectInfo info = GodotProject::read(folder);
        QCOMPARE(info.readable, error.isEmpty());
        QCOMPARE(info.error, error.isEmpty() ? QString() : folder + "/project.godot" + error);
        QTEST(info.configVersion, "configVersion");
        QTEST(info.lastSavedWith, "lastSavedWith");
        QTEST(info.enabledPlugins, "enabled");
        QCOMPARE(GodotProject::displayName(folder), displayName == "*" ? QDir(folder).dirName() : displayName);
    }

    void pluginState_data()
    {
        QTest::addColumn<QByteArray>("listed"); // null: no [editor_plugins]
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("removed"); // a file taken out of the installed addon
        QTest::addColumn<QByteArray>("cfg");  // replaces plugin.cfg when not null
        QTest::addColumn<GodotProject::PluginState>("state");
        QTest::addColumn<QString>("problem"); // after the addon's folder
        using S = GodotProject::PluginState;
        const QByteArray none;
        row("not installed", none, false, "", none, S::NotInstalled, "");
        row("installed", QByteArray("\"a\""), true, "", none, S::Disabled, "");
        row("enabled", s_ours, true, "", none, S::Enabled, "");
        row("enabled by folder name", QByteArray("\"tavrin_mcp\""), true, "", none, S::Enabled, "");
        row("enabled, folder gone", s_ours, false, "", none, S::EnabledMissing, "");
        row("script gone", s_ours, true, "plugin.gd", none, S::Broken, "The addon's script %1/plugin.gd is missing.");
        row("plugin.cfg gone", s_ours, true, "plugin.cfg", none, S::Broken, "%1/plugin.cfg does not exist.");
        row("keys missing", s_ours, true, "", QByteArray("[plugin]\nname=\"x\"\nscript=\"plugin.gd\"\n"), S::Broken,
            "%1/plugin.cfg lacks author, version, description in its [plugin] section.");
        const QByteArray keys = "name=\"\"\nauthor=\"\"\nversion=\"\"\ndescription=\"\"\n";
        row("keys in another section", s_ours, true, "", "[other]\n" + keys + "script=\"plugin.gd\"\n", S::Broken,
            "%1/plugin.cfg lacks name, author, version, description, script in its [plugin] section.");
        row("script as res:// path", s_ours, true, "",
            "[plugin]\n" + keys + "script=\"res://addons/tavrin_mcp/plugin.gd\"\n", S::Enabled, "");
    }
    void pluginState()
    {
        QFETCH(QByteArray, listed);
        QFETCH(QString, removed);
        QFETCH(QByteArray, cfg);
        QFETCH(QString, problem);
        const QString folder = newProject(project(listed), true);
        const QString addon = folder + "/addons/tavrin_mcp";
        QFETCH(bool, installed);
        if (!installed)
            QDir(addon).removeRecursively();
        QVERIFY(removed.isEmpty() || QFile::remove(addon + '/' + removed));
        QVERIFY(cfg.isNull() || TestEnv::writeFile(addon + "/plugin.cfg", cfg));
        QTEST(GodotProject::pluginState(folder), "state");
        QCOMPARE(GodotProject::pluginProblem(folder), problem.isEmpty() ? QString() : problem.arg(addon));
    }

    void setPluginEnabled_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("editorOpen");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<QByteArray>("after"); // null: refused, file unchanged
        QTest::addColumn<QString>("error");
        row("enable", project(), true, false, true, project(s_ours), "");
        row("enable again", project(s_ours), true, false, true, project(s_ours), "");
        row("disable", project("\"a\", " + s_ours), true, false, false, project("\"a\""), "");
        row("disable, not listed, editor open", project(), true, true, false, project(), "");
        row("enable, editor open", project(), true, true, true, QByteArray(), s_overwrite);
        row("disable, editor open", project(s_ours), true, true, false, QByteArray(),
            "Godot has Demo open and would put the plugin back on its next save. Close the project in Godot "
            "first, or untick Tavrin MCP in Project → Project Settings → Plugins there.");
        row("enable, not installed", project(), false, false, true, QByteArray(),
            "Tavrin MCP is not installed in Demo: install it first.");
        row("disable, unparsable", "[editor_plugins]\nenabled=PackedStringArray(" + s_ours + "\n", true, false, false,
            QByteArray(), "%1 was left unchanged: it cannot be read as Godot reads it. Line 2: \"(\" is not closed.");
    }
    void setPluginEnabled()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, installed);
        QFETCH(bool, editorOpen);
        QFETCH(bool, enable);
        QFETCH(QByteArray, after);
        QFETCH(QString, error);
        const QString folder = newProject(before, installed), file = folder + "/project.godot";
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        if (editorOpen && !s_commandLines)
            QSKIP(s_noCommandLine);
        const FakeGodot::Process editor =
            editorOpen ? FakeGodot::start(m_godot, {"--path", folder, "--editor"}) : nullptr;
        QVERIFY(!editorOpen || editor);
        const int backups = Backups::count("godot");

        QString message;
        QCOMPARE(GodotProject::setPluginEnabled(folder, enable, &message), !after.isNull());
        QCOMPARE(message, error.contains("%1") ? error.arg(file) : error);
        QCOMPARE(TestEnv::readFile(file), after.isNull() ? before : after);
        // A copy of what was there before every change, and none without one.
        const bool changed = !after.isNull() && after != before;
        QCOMPARE(Backups::count("godot"), backups + (changed ? 1 : 0));
        if (changed)
            QCOMPARE(TestEnv::readFile(Backups().list("godot", {}).value(0).path), before);
        if (TestEnv::unixFiles)
            QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    }

    // The addon's record of the editor it runs in counts only while that editor runs.
    void loadedIn_data()
    {
        QTest::addColumn<QString>("pid"); // "godot": a running fake Godot, "gone": one that ended, "self"
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("dataFolder");
        QTest::addColumn<bool>("loaded");
        const QByteArray record = R"x({"pid": %1, "godot": "4.3-stable (official)", "addon": "1.0.1",
                                     "started": "2025-01-01T10:00:00Z"})x";
        row("running Godot", "godot", record, ".godot", true);
        row("visible data folder", "godot", record, "godot", true);
        row("Godot ended", "gone", record, ".godot", false);
        row("another program", "self", record, ".godot", false);
        row("pid as text", "godot", QByteArray(R"({"pid": "%1"})"), ".godot", false);
        row("garbage", "godot", QByteArray("{\"pid\": %1,"), ".godot", false);
    }
    void loadedIn()
    {
        QFETCH(QString, pid);
        QFETCH(QByteArray, record);
        QFETCH(QString, dataFolder);
        QFETCH(bool, loaded);
        const QString folder = newProject(project(), false);
        // Started with no project of its own: only the record ties it to this one.
        FakeGodot::Process godot = FakeGodot::start(m_godot, {});
        QVERIFY(godot);
        qint64 id = godot->processId();
        if (pid == "gone") {
            godot->kill();
            QVERIFY(godot->waitForFinished());
        } else if (pid == "self") {
            id = QCoreApplication::applicationPid();
        }
        QVERIFY(TestEnv::writeFile(folder + '/' + dataFolder + "/tavrin/editor.json",
                                   QString::fromUtf8(record).arg(id).toUtf8()));
        const std::optional<GodotSession> session = GodotProject::loadedIn(folder);
        QCOMPARE(session.has_value(), loaded);
        QCOMPARE(GodotEditors::editorsFor(folder), loaded ? QList<qint64>{id} : QList<qint64>());
        if (session)
            QCOMPARE((QStringList{QString::number(session->pid), session->godotVersion, session->addonVersion}),
                     (QStringList{QString::number(id), "4.3-stable (official)", "1.0.1"}));
        QCOMPARE(GodotProject::sessionFile(folder), folder + "/.godot/tavrin/editor.json");
    }

    void install_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("editorOpen");
        QTest::addColumn<QString>("error");      // the install fails with it
        QTest::addColumn<bool>("enabled");       // the install enabled the plugin
        QTest::addColumn<QString>("notEnabled"); // why it did not
        row("Godot 4", project(), false, "", true, "");
        row("already listed", project(s_ours), false, "", false, "");
        row("no config_version", QByteArray(""), false, "", true, "");
        row("editor open", project(), true, "", false, s_overwrite);
        row("Godot 3", project({}, "config_version=4\n"), false,
            "Demo is a Godot 3 project (config_version=4): the Tavrin MCP addon needs Godot 4.", false, "");
        row("unparsable", QByteArray("config/name=\"x"), false, "", false,
            "%1 was left unchanged: it cannot be read as Godot reads it. Line 1: unterminated string.");
    }
    void install()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, editorOpen);
        QFETCH(QString, error);
        QFETCH(QString, notEnabled);
        const QString folder = newProject(before, false);
        if (editorOpen && !s_commandLines)
            QSKIP(s_noCommandLine);
        const FakeGodot::Process editor = editorOpen ? FakeGodot::start(m_godot, {"-e"}, folder) : nullptr;
        QVERIFY(!editorOpen || editor);
        AddonSetup setup;
        AddonSetup::Installed installed;
        QCOMPARE(setup.install(folder, &installed), error.isEmpty());
        QCOMPARE(setup.lastError(), error);
        QCOMPARE(QFileInfo(folder + "/addons/tavrin_mcp/plugin.cfg").isFile(), error.isEmpty());
        QTEST(installed.pluginEnabled, "enabled");
        QCOMPARE(installed.notEnabled,
                 notEnabled.contains("%1") ? notEnabled.arg(folder + "/project.godot") : notEnabled);
        if (error.isEmpty())
            QCOMPARE(installed.projectName, GodotProject::displayName(folder));
        const GodotProject::PluginState state = GodotProject::pluginState(folder);
        QCOMPARE(state == GodotProject::PluginState::Enabled, error.isEmpty() && notEnabled.isEmpty());
    }

    void uninstall_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("editorOpen");
        QTest::addColumn<QByteArray>("after"); // null: refused, nothing changed
        QTest::addColumn<QString>("error");
        row("listed", project("\"a\", " + s_ours), false, project("\"a\""), "");
        row("listed by folder name, alone", project("\"tavrin_mcp\""), false, project(), "");
        row("not listed", project(), false, project(), "");
        row("editor open", project(s_ours), true, QByteArray(),
            "Godot has Demo open. Close the project in Godot first, then uninstall Tavrin MCP.");
        row("unparsable", QByteArray("[editor_plugins\n"), false, QByteArray(),
            "%1 cannot be read as Godot reads it. Line 1: the section header is not closed with ']'. Tavrin MCP was "
            "left installed, so that no plugin list names a missing addon.");
    }
    void uninstall()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, editorOpen);
        QFETCH(QByteArray, after);
        QFETCH(QString, error);
        const QString folder = newProject(before, true);
        if (editorOpen && !s_commandLines)
            QSKIP(s_noCommandLine);
        const FakeGodot::Process editor = editorOpen ? FakeGodot::start(m_godot, {folder + "/project.godot"}) : nullptr;
        QVERIFY(!editorOpen || editor);
        AddonSetup setup;
        QCOMPARE(setup.uninstall(folder), !after.isNull());
        QCOMPARE(setup.lastError(), error.contains("%1") ? error.arg(folder + "/project.godot") : error);
        QCOMPARE(TestEnv::readFile(folder + "/project.godot"), after.isNull() ? before : after);
        QCOMPARE(QFileInfo(folder + "/addons/tavrin_mcp").exists(), after.isNull());
    }
};

TAVRIN_FAKE_GODOT_MAIN(TestGodotProject)
#include "tst_godotproject.moc"
