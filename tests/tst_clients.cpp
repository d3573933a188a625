#include "clients.h"
#include "testenv.h"
#include "toolprocess.h"

#include <QJsonDocument>

// Detection of a CLI client from Claude Code's own config file (null: none) and the answer of "mcp get".
struct Probe
{
    QString id, file, out;
    int code;
    bool queried, configured;
};
// Cursor's file before (null: none; "<dir>": a folder instead) and after (null: unchanged; '@': the entry).
struct Edit
{
    bool write, detected;         // detected: configured beforehand
    QString before, after, error; // no error: the change succeeds
};
// A CLI's sub-command `sub` answers out, code (-1: hangs; "missing": no tool); runs: expected lines run.
struct Run
{
    QString id, sub, out, message;
    bool add;
    int code, runs;
};
Q_DECLARE_METATYPE(Probe)
Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Run)

class TestClients : public QObject
{
    Q_OBJECT

    static QString log(const QString &tool) { return TestEnv::binDir() + '/' + tool; }
    static QString calls(const QString &tool) { return TestEnv::readFile(log(tool) + ".calls"); }
    static constexpr auto s_entry =
        R"({"command":"uvx","args":["tavrin"],"env":{"GODOT_MCP_PERMISSION_MODE":"safe_edit"}})";
    static ClientInfo detected(int index) { return Clients().detect(QStringLiteral("safe_edit")).value(index); }
    // Logs "<arg><arg>...\n" per call; `sub` prints out, exits with code (-1: hangs); "get" warns like Codex.
    static void fakeCli(const QString &tool, const QString &sub = {}, const QString &out = {}, int code = 0)
    {
        QVERIFY(TestEnv::writeFile(log(tool) + ".out", out.toUtf8()));
        const QString body = QStringLiteral("{ printf '<%s>' \"$@\"; echo; } >> '%1.calls'\n"
                                            "[ \"$2\" = get ] && echo 'WARNING: no PATH aliases' >&2\n"
                                            "[ \"$2\" = '%2' ] || exit 0; cat '%1.out'; [ %3 = -1 ] && exec sleep 30\n"
                                            "exit %3");
        QVERIFY(!TestEnv::writeTool(tool, body.arg(log(tool), sub).arg(code).toUtf8()).isEmpty());
        ToolProcess::setFinishTimeScale(code < 0 ? 0.01 : 1.0); // a hang costs milliseconds
    }

private slots:
    void init()
    {
        for (const QString &dir : {TestEnv::home(), TestEnv::binDir()})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        qunsetenv("CLAUDE_CONFIG_DIR");
    }

    void cliDetection_data()
    {
        QTest::addColumn<Probe>("p");
        const QString cc = "claude-code", codex = "codex", none, json = R"({"name": "tavrin", "enabled": true})";
        const QString user = "tavrin:\n  Scope: User config (available in all your projects)\n";
        QTest::newRow("file") << Probe{cc, R"({"mcpServers": {"tavrin": {"command": "uvx"}}})", user, 0, false, true};
        QTest::newRow("null entry") << Probe{cc, R"({"mcpServers": {"tavrin": null}})", user, 0, false, false};
        QTest::newRow("no file: query") << Probe{cc, none, user, 0, true, true};
        QTest::newRow("comments: query") << Probe{cc, "{ // x\n}", user, 0, true, true};
        QTest::newRow("query fails") << Probe{cc, none, user, 1, true, false};
        QTest::newRow("other scope") << Probe{cc, none, "tavrin:\n  Scope: Local config\n", 0, true, false};
        QTest::newRow("codex") << Probe{codex, none, json, 0, true, true};
        QTest::newRow("codex fails") << Probe{codex, none, json, 1, true, false};
    }
    void cliDetection()
    {
        QFETCH(Probe, p);
        QVERIFY(p.file.isNull() || TestEnv::writeFile(TestEnv::home() + "/.claude.json", p.file.toUtf8()));
        const bool codex = p.id == QLatin1String("codex");
        fakeCli(codex ? p.id : "claude", "get", p.out, p.code);
        QCOMPARE(detected(codex ? 5 : 0).configured, p.configured);
        const QString query = codex ? "<mcp><get><tavrin><--json>\n" : "<mcp><get><tavrin>\n";
        QCOMPARE(calls(codex ? p.id : "claude"), p.queried ? query : QString());
    }

    void claudeConfigDir()
    {
        const QString home = TestEnv::home(), dir = home + "/ccd";
        qputenv("CLAUDE_CONFIG_DIR", (dir + '/').toUtf8());
        fakeCli(QStringLiteral("claude")); // whose query would say no
        const QByteArray entry = R"({"mcpServers": {"tavrin": {}}})";
        QVERIFY(TestEnv::writeFile(home + "/.claude.json", entry)); // not used then
        QVERIFY(TestEnv::writeFile(dir + "/.claude.json", "{}") && !detected(0).configured);
        QVERIFY(TestEnv::writeFile(dir + "/.config.json", entry) && detected(0).configured); // older name first
    }

    void jsonClient_data()
    {
        QTest::addColumn<Edit>("e");
        const QString none, bad = R"({"mcpServers": )", dir = "<dir>", one = R"({"mcpServers": {"tavrin": @}})";
        const QString notObject = QStringLiteral("its content is not a JSON object"), noRead = "it cannot be read";
        const QString others = R"({"theme": "dark", "mcpServers": {"o": {"x": [1, {"b": null}]}}})";
        QTest::newRow("fresh") << Edit{true, false, none, one, ""};
        QTest::newRow("merge") << Edit{true, false, others, QString(others).replace("]}}", "]}, \"tavrin\": @}"), ""};
        QTest::newRow("replace") << Edit{true, true, R"({"mcpServers": {"tavrin": {"x": 1}}})", one, ""};
        QTest::newRow("invalid JSON") << Edit{true, false, bad, none, notObject};
        QTest::newRow("unreadable") << Edit{true, false, dir, none, noRead};
        QTest::newRow("remove") << Edit{false, true, R"({"mcpServers":{"tavrin":null,"x":1}})",
                                        R"({"mcpServers":{"x":1}})", ""};
        QTest::newRow("remove, invalid JSON") << Edit{false, false, bad, none, ""};
        QTest::newRow("remove, unreadable") << Edit{false, false, dir, none, noRead};
    }
    void jsonClient()
    {
        QFETCH(Edit, e);
        const QString path = TestEnv::home() + "/.cursor/mcp.json", id = QStringLiteral("cursor");
        QVERIFY(e.before.isNull() ||
                (e.before == "<dir>" ? QDir().mkpath(path) : TestEnv::writeFile(path, e.before.toUtf8())));
        QCOMPARE(detected(2).configured, e.detected);
        Clients clients;
        const bool ok = e.error.isEmpty();
        QCOMPARE(e.write ? clients.writeConfig(id, QStringLiteral("safe_edit")) : clients.removeConfig(id), ok);
        QCOMPARE(clients.lastError().section(" (", 0, 0),
                 ok ? e.error : path + " was left unchanged because " + e.error);
        const QByteArray now = QFileInfo(path).isDir() ? QByteArray("<dir>") : TestEnv::readFile(path);
        if (!e.after.isNull())
            QCOMPARE(QJsonDocument::fromJson(now).object(),
                     QJsonDocument::fromJson(e.after.replace('@', s_entry).toUtf8()).object());
        else
            QVERIFY(now == e.before.toUtf8() && QFileInfo::exists(path) == !e.before.isNull());
    }

    // All candidates of the JSON clients, ';' within a client and '|' between; none for the CLI clients
    // and unknown names. ~ is the home, $D Claude Desktop's file and $C Cline's storage.
    void candidates()
    {
        const QString files = "|~/.cursor/mcp.json|~/.codeium/windsurf/mcp_config.json|"
                              "~/.cline/data/settings/cline_mcp_settings.json;";
        QProcessEnvironment winEnv; // separators as Windows may have them; APPDATA derives from the home
        winEnv.insert(QStringLiteral("LOCALAPPDATA"), QStringLiteral("C:\\Users\\u\\AppData\\Local\\"));
        const auto check = [](Clients::Platform p, const QString &home, const QProcessEnvironment &env,
                              const QString &data, const QString &config, const QString &expected) {
            QStringList all;
            for (const char *id : {"claude-desktop", "cursor", "windsurf", "cline", "claude-code", "codex", "Cursor"})
                all << Clients::configCandidates(id, p, env, home, home + data, home + config).join(';');
            all.replaceInStrings(home, "~").replaceInStrings("/claude_desktop_config.json", "$D");
            all.replaceInStrings("/Code/User/globalStorage/saoudrizwan.claude-dev/settings/cline_mcp_settings.json",
                                 "$C");
            QCOMPARE(all.join('|'), expected + "|||");
        };
        check(Clients::Platform::Windows, "C:/Users/u", winEnv, "/AppData/Local", "/AppData/Local",
              "~/AppData/Local/Claude-Data/claude*$D;~/AppData/Local/Packages/Claude_*/LocalCache/Roaming/Claude$D;"
              "~/AppData/Roaming/Claude$D;~/AppData/Local/Claude$D" +
                  files + "~/AppData/Roaming$C;~/AppData/Local$C");
        check(Clients::Platform::MacOS, "/Users/u", {}, "/Library/Application Support", "/Library/Preferences",
              "~/Library/Application Support/Claude$D" + files + "~/Library/Application Support$C");
        check(Clients::Platform::Linux, "/home/u", {}, "/.local/share", "/.config",
              "~/.config/Claude$D;~/.local/share/Claude$D" + files + "~/.config$C;~/.local/share$C");
    }

    void cli_data()
    {
        QTest::addColumn<Run>("r");
        const QString cc = "claude-code", codex = "codex", rm = "remove", absent = "No MCP server named \"tavrin\"\n";
        QTest::newRow("codex add") << Run{codex, "", "", "", true, 0, 1};
        QTest::newRow("claude add, nothing to remove") << Run{cc, rm, absent, "", true, 1, 2};
        QTest::newRow("claude remove, nothing to remove") << Run{cc, rm, absent, "", false, 1, 1};
        QTest::newRow("claude add stops") << Run{cc, rm, "Config error\n", "Config error", true, 1, 1};
        QTest::newRow("missing") << Run{cc, "missing", "", "claude executable was not found on PATH.", true, 0, 0};
        QTest::newRow("trimmed") << Run{codex, "add", "\n  Error: bad config  \n\n", "Error: bad config", true, 1, 1};
        QTest::newRow("fails silently") << Run{codex, "add", "  \n\t \n", "codex exited with code 2.", true, 2, 1};
        QTest::newRow("backtrace dropped") << Run{codex, rm, "Error\nStack backtrace:\n  0: x\n", "Error", false, 1, 1};
        QTest::newRow("hangs") << Run{codex, "add", "", "codex configuration timed out.", true, -1, 1};
    }
    void cli()
    {
        QFETCH(Run, r);
        const bool codex = r.id == QLatin1String("codex");
        const QString tool = codex ? r.id : QStringLiteral("claude"), scope = codex ? "" : "<--scope><user>";
        if (r.sub != QLatin1String("missing"))
            fakeCli(tool, r.sub, r.out, r.code);
        const QString add =
            "<mcp><add><tavrin>" + scope + "<--env><GODOT_MCP_PERMISSION_MODE=safe_edit><--><uvx><tavrin>\n";
        const QString remove = "<mcp><remove><tavrin>" + scope + '\n';
        const QStringList expected = !r.add ? QStringList{remove} : codex ? QStringList{add} : QStringList{remove, add};
        Clients clients;
        QCOMPARE(r.add ? clients.writeConfig(r.id, QStringLiteral("safe_edit")) : clients.removeConfig(r.id),
                 r.message.isEmpty());
        QCOMPARE(clients.lastError(), r.message);
        QCOMPARE(calls(tool), expected.mid(0, r.runs).join(QString()));
    }

    // Modes go onto command lines (through cmd.exe on Windows): anything beyond [a-z_] is refused unrun.
    void refusedPermissionModes()
    {
        fakeCli(QStringLiteral("claude"));
        fakeCli(QStringLiteral("codex"));
        const QString why = "\" was refused: only lower-case letters and underscores are allowed.";
        for (const QString mode : {"", "Safe_edit", "safe_edit&calc", "a\" b", "%PATH%", "safe\nedit", "s\u00e4fe"})
            for (const char *id : {"claude-code", "codex"}) {
                Clients clients;
                QVERIFY2(!clients.writeConfig(id, mode), qPrintable(mode));
                QCOMPARE(clients.lastError(), "The permission mode \"" + mode + why);
            }
        QCOMPARE(calls("claude") + calls("codex"), QString());
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestClients)
#include "tst_clients.moc"
