// Drives the built tavrin-cli as a child process, in a home of its own per test, with fake tools on
// the PATH: exit codes, JSON documents, dry runs that change nothing, and the real claude and codex.
#include "fakegodot.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

using TestEnv::row;

// The PATH this process was started with: globals are set up before main() isolates the environment.
static const QStringList s_realPath = QString::fromLocal8Bit(qgetenv("PATH")).split(':');

namespace {

struct Result
{
    int code = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json;
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QString m_home;

    // Runs the CLI; a leading "HOME" in an argument stands for this test's home.
    Result cli(QStringList args) const
    {
        QProcess process;
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        process.start(TAVRIN_CLI_EXECUTABLE, args.replaceInStrings(QRegularExpression("^HOME"), m_home));
        process.closeWriteChannel(); // no terminal, nothing to read
        Result result;
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.code = process.exitCode();
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        result.json = QJsonDocument::fromJson(result.out).object();
        return result;
    }
    QString cursorFile() const { return m_home + "/.cursor/mcp.json"; }
    QString project() const { return m_home + "/game"; }

private slots:
    // A fresh home per test: nothing one leaves behind is seen by the next. uvx answers --version.
    void init()
    {
        static int count = 0;
        m_home = TestEnv::root().path() + QString("/home%1").arg(++count);
        QVERIFY(QDir().mkpath(m_home + "/.cursor"));
        qputenv("HOME", m_home.toUtf8());
        qputenv("XDG_DATA_HOME", (m_home + "/.local/share").toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_home + "/.config").toUtf8());
#ifdef Q_OS_WIN
        qputenv("USERPROFILE", QDir::toNativeSeparators(m_home).toUtf8());
        qputenv("APPDATA", QDir::toNativeSeparators(m_home + "/.config").toUtf8());
        qputenv("LOCALAPPDATA", QDir::toNativeSeparators(m_home + "/.local/share").toUtf8());
#endif
        static const QByteArray path = qgetenv("PATH"); // the isolated one
        qputenv("PATH", path);
        QVERIFY(!TestEnv::writeScript("uvx", "echo 'uvx 0.8.0'", "echo uvx 0.8.0").isEmpty());
        QVERIFY(TestEnv::writeFile(project() + "/project.godot", "; Engine configuration file.\n\nconfig_version=5\n\n"
                                                                 "[application]\n\nconfig/name=\"Demo\"\n"
                                                                 "config/features=PackedStringArray(\"4.3\")\n"));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // on standard error

        const QString game = "HOME/game";
        using L = QStringList;
        row("no command", "", L{}, 2, "no command");
        row("unknown command", "", L{"frobnicate"}, 2, "unknown command");
        row("unknown subcommand", "", L{"clients", "purge"}, 2, "unknown command");
        row("unknown option", "", L{"status", "--colour"}, 2, "Unknown option");
        row("missing option value", "", L{"addon", "install", "--project"}, 2, "value");
        row("no client named", "", L{"clients", "add"}, 2, "--client");
        row("client and --all", "", L{"clients", "add", "--all", "--client", "cursor"}, 2, "--client");
        row("unknown client", "", L{"clients", "add", "--client", "vim"}, 2, "vim");
        row("mode not known", "", L{"clients", "add", "--client", "cursor", "--mode", "root"}, 2, "root");
        row("mode set to nonsense", "", L{"mode", "admin"}, 2, "admin");
        row("extra argument", "", L{"mode", "safe_edit", "full_control"}, 2, "unexpected");
        row("addon without project", "", L{"addon", "install"}, 2, "--project");
        row("timeout not a number", "", L{"server", "test", "--timeout", "soon"}, 2, "--timeout");
        row("restore without name", "", L{"backups", "restore", "--client", "cursor"}, 2, "NAME");
        // Destructive commands without a terminal need -y.
        row("remove without -y", "registered", L{"clients", "remove", "--client", "cursor"}, 2, "-y");
        row("uninstall without -y", "installed", L{"addon", "uninstall", "--project", game}, 2, "-y");
        row("restore without -y", "registered", L{"backups", "restore", "--client", "cursor", "BACKUP"}, 2, "-y");
        row("status, not ready", "", L{"status", "--project", game}, 1, "not installed");
        row("status, no project", "", L{"status"}, 1, "No project");
        row("update, not installed", "", L{"addon", "update", "--project", game}, 1, "addon install");
        row("enable, not installed", "", L{"plugin", "enable", "--project", game}, 1, "install it first");
        row("not a project", "", L{"addon", "install", "--project", "HOME"}, 1, "not found");
        row("Godot 3 project", "godot3", L{"addon", "install", "--project", game}, 1, "Godot 4");
        row("tool client not installed", "", L{"clients", "add", "--client", "codex"}, 1, "not installed");
        row("no such backup", "", L{"backups", "restore", "--client", "cursor", "x", "-y"}, 1, "no backup");
        row("server test without uvx", "no uvx", L{"server", "test"}, 1, "uvx");
        // Refusals that protect the user's data.
        const QString notJson = "not a JSON object";
        row("unparsable client file", "broken cursor", L{"clients", "add", "--client", "cursor"}, 3, notJson);
        row("unparsable client file, dry run", "broken cursor", L{"clients", "add", "--client", "cursor", "--dry-run"},
            3, notJson);
        row("client file is a FIFO", "fifo cursor", L{"clients", "add", "--client", "cursor", "--dry-run"}, 3,
            "it is a FIFO");
        row("unparsable project.godot", "broken project", L{"addon", "uninstall", "--project", game, "-y"}, 3,
            "Godot reads it");
        row("no backup possible", "registered, backups blocked", L{"clients", "remove", "--client", "cursor", "-y"}, 3,
            "no backup");
        // The editor is found from its command line, which only Linux shows (under /proc).
        const QString open = "installed, editor open";
        row("editor open, disable", open, L{"plugin", "disable", "--project", game}, 3, "Godot has Demo open");
        row("editor open, uninstall", open, L{"addon", "uninstall", "--project", game, "-y"}, 3, "Close the project");
    }

    // Every case also leaves the home as it found it, unless it succeeded.
    void exitCodes()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);

#ifndef Q_OS_LINUX
        if (setup.contains("editor open"))
            QSKIP("an editor without the addon is found by its command line, which only Linux shows");
#endif
        FakeGodot::Process editor;
        if (setup.contains("registered"))
            QCOMPARE(cli({"clients", "add", "--client", "cursor"}).code, 0);
        if (setup.contains("installed"))
            QCOMPARE(cli({"addon", "install", "--project", project()}).code, 0);
        if (setup.contains("editor open")) {
            const QString godot = TestEnv::root().path() + "/godot";
            QVERIFY(FakeGodot::install(godot) && (editor = FakeGodot::start(godot, {"--editor", "--path", project()})));
        }
        if (setup == "godot3")
            TestEnv::writeFile(project() + "/project.godot", "config_version=4\n\n[application]\n\n"
                                                             "config/name=\"Old\"\n");
        if (setup == "broken cursor")
            TestEnv::writeFile(cursorFile(), "{ \"mcpServers\": { \"tavrin\": {} }, // no comments in JSON\n}\n");
        if (setup == "fifo cursor" && !TestEnv::makeFifo(cursorFile()))
            QSKIP("Windows has no FIFO");
        if (setup == "broken project")
            TestEnv::writeFile(project() + "/project.godot", "config_version=5\n[application]\nconfig/name=\"x\n");
        if (setup == "no uvx")
            QVERIFY(TestEnv::removeTool("uvx"));
        if (setup.contains("backups blocked")) // a file where the backups folder should be
            TestEnv::writeFile(m_home + "/.local/share/Tavrin/backups", "in the way");
        const QMap<QString, QByteArray> before = TestEnv::snapshot(m_home);

        const Result result = cli(args);
        QVERIFY2(result.code == code, result.err.constData());
        QVERIFY2(QString::fromUtf8(result.err).contains(message), result.err.constData());
        if (code == 2) // usage errors point at the help
            QVERIFY(result.err.contains("--help"));
        QCOMPARE(TestEnv::snapshot(m_home), before);
    }

    void jsonDocuments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("members");

        using L = QStringList;
        row("status", L{"status", "--json", "--project", "HOME/game"}, 1,
            L{"ready", "notReady", "permissionMode", "prerequisites", "godot", "project", "clients"});
        row("clients list", L{"clients", "list", "--json"}, 0, L{"permissionMode", "clients"});
        row("clients add, dry run", L{"clients", "add", "--all", "--dry-run", "--json"}, 0, L{"dryRun", "results"});
        row("mode", L{"mode", "--json"}, 0, L{"permissionMode"});
        row("addon install, dry run", L{"addon", "install", "--project", "HOME/game", "--dry-run", "--json"}, 0,
            L{"project", "action", "dryRun", "result", "files", "projectDiff"});
        row("server test", L{"server", "test", "--json", "--timeout", "20"}, 1,
            L{"success", "failure", "firstAnswerMs", "totalMs", "protocolVersion", "serverName", "serverVersion",
              "toolCount", "message"});
        row("godot find", L{"godot", "find", "--json"}, 1, L{"chosen", "inUse", "found"});
        row("projects list", L{"projects", "list", "--json"}, 0, L{"active", "recent", "godot"});
        row("backups list", L{"backups", "list", "--client", "cursor", "--json"}, 0, L{"client", "file", "backups"});
    }

    // Every document starts with its schema version and carries its members; states are identifiers.
    void jsonDocuments()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, members);

        const Result result = cli(args);
        QVERIFY2(result.code == code, result.err.constData());
        QVERIFY2(result.out.startsWith("{\n    \"schemaVersion\": 1,\n"), result.out.constData());
        QStringList keys = result.json.keys();
        keys.removeOne("schemaVersion");
        members.sort();
        QCOMPARE(keys, members);
        QStringList states; // a client's mode may be null
        for (const QJsonValue client : result.json.value("clients").toArray())
            states << client["state"].toString() << (client["mode"].isNull() ? "null" : client["mode"].toString());
        for (const QJsonValue change : result.json.value("results").toArray())
            states << change["result"].toString();
        if (result.json.contains("failure"))
            states << result.json.value("failure").toString();
        QCOMPARE(states.filter(QRegularExpression("^[a-z_]+$")), states);
        QVERIFY(result.json.value("failure") != "none"); // the fake uvx is no server
    }

    // The way a new user goes: not ready, then addon, client and mode, then ready. The addon's dry
    // runs list its files and change nothing.
    void readyMachine()
    {
        const Result dryInstall = cli({"addon", "install", "--project", project(), "--dry-run", "--json"});
        const QJsonArray files = dryInstall.json.value("files").toArray();
        QVERIFY(files.contains(QJsonValue("copy addons/tavrin_mcp/plugin.cfg")));
        QVERIFY(!QFileInfo::exists(project() + "/addons"));
        QVERIFY(dryInstall.json.value("projectDiff").toString().contains("+enabled=PackedStringArray("));
        QCOMPARE(cli({"addon", "install", "--project", project()}).code, 0);
        // The project became the active one, so status needs no --project any more.
        Result status = cli({"status", "--json"});
        QCOMPARE(status.code, 1);
        QCOMPARE(status.json.value("project").toObject().value("plugin").toString(), "enabled");
        QCOMPARE(status.json.value("notReady").toArray().size(), 1);

        QCOMPARE(cli({"clients", "add", "--client", "cursor"}).code, 0);
        status = cli({"status", "--json"});
        QVERIFY2(status.code == 0, status.err.constData());
        QVERIFY(status.json.value("ready").toBool());
        QVERIFY(status.err.isEmpty());

        // A new mode goes to every registered client, and status stays ready.
        const Result mode = cli({"mode", "full_control", "--json"});
        QCOMPARE(mode.code, 0);
        QCOMPARE(mode.json.value("results").toArray().at(0).toObject().value("id").toString(), "cursor");
        QCOMPARE(cli({"mode"}).out, "full_control\n");
        QVERIFY(TestEnv::readFile(cursorFile()).contains("\"GODOT_MCP_PERMISSION_MODE\": \"full_control\""));
        status = cli({"status", "--json"});
        QCOMPARE(status.code, 0);
        QJsonObject cursor;
        for (const QJsonValue client : status.json.value("clients").toArray())
            if (client.toObject().value("id") == "cursor")
                cursor = client.toObject();
        QCOMPARE(cursor.value("state").toString(), "up_to_date");
        QCOMPARE(cursor.value("mode").toString(), "full_control");

        // Each change was backed up, and a backup comes back on request.
        const Result backups = cli({"backups", "list", "--client", "cursor", "--json"});
        const QJsonArray list = backups.json.value("backups").toArray();
        QCOMPARE(list.size(), 1); // the first add created the file: nothing to keep before it
        QCOMPARE(list.at(0).toObject().value("content").toString(), "safe_edit");
        const Result restore =
            cli({"backups", "restore", "--client", "cursor", "-y", list.at(0).toObject().value("name").toString()});
        QVERIFY2(restore.code == 0, restore.err.constData());
        QVERIFY(TestEnv::readFile(cursorFile()).contains("\"safe_edit\""));

        const Result dryUninstall = cli({"addon", "uninstall", "--project", project(), "--dry-run", "--json"});
        QCOMPARE(dryUninstall.code, 0);
        QCOMPARE(dryUninstall.json.value("files").toArray().size(), files.size());
        QVERIFY(dryUninstall.json.value("files").toArray().contains(QJsonValue("delete addons/tavrin_mcp/plugin.cfg")));
        QVERIFY(QFileInfo::exists(project() + "/addons/tavrin_mcp/plugin.cfg"));
        // Uninstalling takes the plugin off the list and the addon out.
        QCOMPARE(cli({"addon", "uninstall", "--project", project(), "-y"}).code, 0);
        QVERIFY(!QFileInfo::exists(project() + "/addons/tavrin_mcp"));
        QVERIFY(!TestEnv::readFile(project() + "/project.godot").contains("editor_plugins"));
    }

    void dryRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("file");       // the file the change is about, from the home
        QTest::addColumn<QByteArray>("content"); // what it holds before
        QTest::addColumn<QString>("ours");       // a text each added line of ours is part of

        const QByteArray cursor = "{\n    \"mcpServers\": {\n        \"other\": {\n            \"command\": \"node\"\n"
                                  "        }\n    }\n}\n";
        const QStringList add{"clients", "add", "--client", "cursor"};
        row("add, JSON file", add, ".cursor/mcp.json", cursor, "");
        row("add, new file", add, ".cursor/mcp.json", QByteArray(), "");
        const QByteArray gemini = "// user settings\n{\n  \"theme\": \"dark\", /* keep */\n  \"mcpServers\": {\n"
                                  "    \"other\": { \"command\": \"node\" }\n  }\n}\n";
        row("add, JSON with comments", QStringList{"clients", "add", "--client", "gemini", "--mode", "full_control"},
            ".gemini/settings.json", gemini, "");
        row("plugin enable", QStringList{"plugin", "enable", "--project", "HOME/game"}, "game/project.godot",
            QByteArray(), "editor_plugins");
    }

    // A dry run changes no byte anywhere and shows what the real run then does; the diff's lines
    // are ours alone (a line of someone else's only gains the comma before our member).
    void dryRun()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, ours);

        const QString path = m_home + '/' + file;
        if (!content.isEmpty())
            QVERIFY(TestEnv::writeFile(path, content));
        if (file.startsWith(".gemini"))
            QVERIFY(!TestEnv::writeScript("gemini", "exit 0", "exit /b 0").isEmpty());
        if (args.first() == "plugin") { // the addon without the plugin listed
            QCOMPARE(cli({"addon", "install", "--project", project()}).code, 0);
            QCOMPARE(cli({"plugin", "disable", "--project", project()}).code, 0);
        }
        const QByteArray original = TestEnv::readFile(path);
        const QMap<QString, QByteArray> before = TestEnv::snapshot(m_home);

        const Result dry = cli(args + QStringList{"--dry-run"});
        QVERIFY2(dry.code == 0, dry.err.constData());
        QCOMPARE(TestEnv::snapshot(m_home), before);
        const QString diff = QString::fromUtf8(dry.out);
        QVERIFY2(diff.startsWith(QString("--- %1\n+++ %2\n").arg(original.isEmpty() ? "/dev/null" : path, path)),
                 dry.out.constData());

        // The changed lines, without the headers.
        const QStringList removed = diff.split('\n').filter(QRegularExpression("^-(?!--)"));
        QStringList added = diff.split('\n').filter(QRegularExpression("^\\+(?!\\+\\+)"));
        for (const QString &line : removed)
            QVERIFY2(added.removeOne('+' + line.mid(1) + ','), qPrintable(line));
        const QString addedText = added.join('\n');
        QVERIFY(!addedText.contains("other") && !addedText.contains("theme"));
        QVERIFY(addedText.contains(ours.isEmpty() ? "\"GODOT_MCP_PERMISSION_MODE\"" : ours));

        // The real run makes exactly that change: a dry run after it has nothing left to show.
        const Result real = cli(args);
        QVERIFY2(real.code == 0, real.err.constData());
        QVERIFY(TestEnv::readFile(path) != original);
        const Result again = cli(args + QStringList{"--dry-run"});
        QCOMPARE(again.code, 0);
        QVERIFY2(again.out.contains("othing to change"), again.out.constData());
        // Comments and the user's members are still there, byte for byte.
        for (const QByteArray &kept : {QByteArray("// user settings"), QByteArray("/* keep */"),
                                       QByteArray("\"other\": { \"command\": \"node\" }")})
            QCOMPARE(TestEnv::readFile(path).contains(kept), original.contains(kept));
    }

    // Every option a command's --help lists is in the manual page, in that command's part, and in
    // the bash completion.
    void helpAgreesWithManual()
    {
        const QString manual = QString::fromUtf8(TestEnv::readFile(TAVRIN_CLI_MANUAL));
        const QString completion = QString::fromUtf8(TestEnv::readFile(TAVRIN_CLI_COMPLETION));
        QVERIFY(!manual.isEmpty() && !completion.isEmpty());
        const Result help = cli({"--help"});
        QCOMPARE(help.code, 0);
        const QRegularExpression commandLine("^  ([a-z]+(?: [a-z]+)?)(?: \\S+)?\\s{2,}\\S",
                                             QRegularExpression::MultilineOption);
        int commands = 0;
        for (auto it = commandLine.globalMatch(QString::fromUtf8(help.out)); it.hasNext();) {
            const QString words = it.next().captured(1);
            ++commands;
            const qsizetype at = manual.indexOf(".B \"" + words);
            QVERIFY2(at >= 0, qPrintable(words));
            const QString part = manual.mid(at, manual.indexOf(".TP\n.B \"", at + 1) - at);
            const Result commandHelp = cli(words.split(' ') + QStringList{"--help"});
            QCOMPARE(commandHelp.code, 0);
            const QRegularExpression option("--(?!help(?![a-z-]))([a-z-]+)");
            for (auto o = option.globalMatch(QString::fromUtf8(commandHelp.out)); o.hasNext();) {
                const QString name = o.next().captured(1);
                QVERIFY2(part.contains("\\-\\-" + QString(name).replace("-", "\\-")), qPrintable(words + " --" + name));
                QVERIFY2(completion.contains("--" + name), qPrintable(words + " --" + name));
            }
        }
        QCOMPARE(commands, 15);
    }

    // The round trip with the real tools: we register, the tool itself shows our entry.
    void realClients_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QStringList>("get");
        QTest::addColumn<QString>("shown");
        row("claude", "claude-code", QStringList{"claude", "mcp", "get", "tavrin"},
            "GODOT_MCP_PERMISSION_MODE=full_control");
        row("codex", "codex", QStringList{"codex", "mcp", "get", "tavrin", "--json"},
            "\"GODOT_MCP_PERMISSION_MODE\":\"full_control\"");
    }

    void realClients()
    {
        QFETCH(QString, id);
        QFETCH(QStringList, get);
        QFETCH(QString, shown);
        const QString bin = qEnvironmentVariable("TAVRIN_CLI_CACHE") + "/node_modules/.bin";
        const QString node = QStandardPaths::findExecutable("node", s_realPath);
        if (node.isEmpty() || !QFileInfo::exists(bin + '/' + get.first()))
            QSKIP("The real AI-client CLIs are not installed (scripts/install-clis.sh)");
        qputenv("PATH", (bin + ':' + QFileInfo(node).absolutePath() + ':' + TestEnv::binDir() + ":/bin").toUtf8());
        qputenv("CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "1");

        const Result add = cli({"clients", "add", "--client", id, "--mode", "full_control"});
        QVERIFY2(add.code == 0, add.err.constData());
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStandardPaths::findExecutable(get.first()), get.mid(1));
        QVERIFY(tool.waitForFinished(180000));
        const QString answer = QString::fromUtf8(tool.readAll()).remove(QRegularExpression("\\s+"));
        QVERIFY2(answer.contains(shown.remove(' ')), qPrintable(answer));
        // Our own reading agrees, and a removal leaves the tool without the entry.
        const Result list = cli({"clients", "list", "--json"});
        for (const QJsonValue client : list.json.value("clients").toArray())
            if (client.toObject().value("id") == id)
                QCOMPARE(client.toObject().value("mode").toString(), "full_control");
        const Result remove = cli({"clients", "remove", "--client", id, "-y"});
        QVERIFY2(remove.code == 0, remove.err.constData());
        tool.start(QStandardPaths::findExecutable(get.first()), get.mid(1));
        QVERIFY(tool.waitForFinished(180000));
        QVERIFY(!QString::fromUtf8(tool.readAll()).contains("full_control"));
    }
};

TAVRIN_FAKE_GODOT_MAIN(TestCli)
#include "tst_cli.moc"
