#include "clients.h"
#include "testenv.h"
#include "toolprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>

#include <memory>

namespace {

QString fakeDir()
{
    return TestEnv::root().path() + QLatin1String("/fake");
}

QString callLog(const QString &tool)
{
    return fakeDir() + QLatin1Char('/') + tool + QLatin1String(".calls");
}

// A fake CLI that appends its arguments as one "<a><b>..." line to its call log, then behaves as
// told for its sub-command ($2): files <tool>.<sub>.out / .err are printed on standard output /
// error, .code holds the exit code, and .hang makes it sleep instead of exiting.
void writeFakeCli(const QString &tool)
{
    const QString base = fakeDir() + QLatin1Char('/') + tool;
    TestEnv::writeTool(tool, QStringLiteral("printf '<%s>' \"$@\" >> '%1.calls'\n"
                                            "echo >> '%1.calls'\n"
                                            "f='%1'.\"$2\"\n"
                                            "[ -f \"$f.out\" ] && cat \"$f.out\"\n"
                                            "[ -f \"$f.err\" ] && cat \"$f.err\" >&2\n"
                                            "[ -f \"$f.hang\" ] && exec sleep 30\n"
                                            "[ -f \"$f.code\" ] && exit \"$(cat \"$f.code\")\"\n"
                                            "exit 0")
                                 .arg(base)
                                 .toUtf8());
}

void behave(const QString &tool, const QString &sub, const QByteArray &out, int code, const QByteArray &err = {})
{
    const QString base = fakeDir() + QLatin1Char('/') + tool + QLatin1Char('.') + sub;
    QVERIFY(TestEnv::writeFile(base + QLatin1String(".out"), out));
    QVERIFY(TestEnv::writeFile(base + QLatin1String(".err"), err));
    QVERIFY(TestEnv::writeFile(base + QLatin1String(".code"), QByteArray::number(code)));
}

void hang(const QString &tool, const QString &sub)
{
    QVERIFY(
        TestEnv::writeFile(fakeDir() + QLatin1Char('/') + tool + QLatin1Char('.') + sub + QLatin1String(".hang"), {}));
}

QStringList calls(const QString &tool)
{
    const QString text = QString::fromUtf8(TestEnv::readFile(callLog(tool)));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void wipe(const QString &folder)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

const QString s_addLog =
    QStringLiteral("CLI failed: codex mcp add tavrin --env GODOT_MCP_PERMISSION_MODE=safe_edit -- uvx tavrin");
const QString s_safeLine =
    QStringLiteral("<mcp><add><tavrin><--env><GODOT_MCP_PERMISSION_MODE=safe_edit><--><uvx><tavrin>");

// Restores the real time limits when a test that shortened them ends, even on failure.
struct ShortLimits
{
    ShortLimits() { ToolProcess::setFinishTimeScale(0.01); }
    ~ShortLimits() { ToolProcess::setFinishTimeScale(1.0); }
};

QJsonObject parse(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

ClientInfo find(const QList<ClientInfo> &list, const QString &id)
{
    for (const ClientInfo &info : list) {
        if (info.id == id)
            return info;
    }
    return {};
}

} // namespace

class TestClients : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        wipe(TestEnv::home());
        wipe(TestEnv::binDir());
        wipe(TestEnv::dataHome());
        wipe(TestEnv::configHome());
        wipe(fakeDir());
        qunsetenv("CLAUDE_CONFIG_DIR");
    }

    // ---- Detection ----

    void nothingInstalledGivesSixRecordsInOrder()
    {
        const QList<ClientInfo> list = Clients().detect(QStringLiteral("safe_edit"));
        const QStringList ids{"claude-code", "claude-desktop", "cursor", "windsurf", "cline", "codex"};
        const QStringList names{"Claude Code", "Claude Desktop", "Cursor", "Windsurf", "Cline", "Codex"};
        QCOMPARE(list.size(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(list[i].id, ids[i]);
            QCOMPARE(list[i].name, names[i]);
            QCOMPARE(list[i].usesCli, i == 0 || i == 5);
            QVERIFY(!list[i].installed);
            QVERIFY(!list[i].configured);
        }
    }

    void jsonClientDetection_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // null: only the folder exists
        QTest::addColumn<bool>("configured");
        const QString cursor = QStringLiteral("/.cursor/mcp.json");
        QTest::newRow("folder without file") << "cursor" << cursor << QByteArray() << false;
        QTest::newRow("entry present") << "cursor" << cursor << QByteArray(R"({"mcpServers":{"tavrin":{}}})") << true;
        QTest::newRow("entry is null") << "cursor" << cursor << QByteArray(R"({"mcpServers":{"tavrin":null}})") << true;
        QTest::newRow("other mode still configured")
            << "windsurf"
            << "/.codeium/windsurf/mcp_config.json"
            << QByteArray(R"({"mcpServers":{"tavrin":{"env":{"GODOT_MCP_PERMISSION_MODE":"full_control"}}}})") << true;
        QTest::newRow("only other servers") << "cursor" << cursor << QByteArray(R"({"mcpServers":{"x":{}}})") << false;
        QTest::newRow("mcpServers is an array")
            << "cursor" << cursor << QByteArray(R"({"mcpServers":["tavrin"]})") << false;
        QTest::newRow("tavrin at top level") << "cursor" << cursor << QByteArray(R"({"tavrin":{}})") << false;
        QTest::newRow("invalid JSON") << "cline"
                                      << "/.cline/data/settings/cline_mcp_settings.json"
                                      << QByteArray(R"({"mcpServers":{"tavrin":{}})") << false;
    }
    void jsonClientDetection()
    {
        QFETCH(QString, id);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(bool, configured);
        const QString path = TestEnv::home() + file;
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!content.isNull())
            QVERIFY(TestEnv::writeFile(path, content));
        QCOMPARE(Clients::configPathFor(id), path);
        const ClientInfo info = find(Clients().detect(QStringLiteral("safe_edit")), id);
        QVERIFY(info.installed);
        QCOMPARE(info.configured, configured);
        QVERIFY(!info.usesCli);
    }

    void claudeCodeDetection_data()
    {
        QTest::addColumn<QString>("file"); // relative to the temporary root; empty: none written
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("configDir"); // CLAUDE_CONFIG_DIR relative to the root, empty: unset
        QTest::addColumn<QByteArray>("queryOutput");
        QTest::addColumn<int>("queryCode");
        QTest::addColumn<bool>("queried");
        QTest::addColumn<bool>("configured");
        const QByteArray entry = R"({"numStartups": 3, "mcpServers": {"tavrin": {"command": "uvx"}}})";
        const QByteArray without = R"({"mcpServers": {"other": {}}})";
        const QByteArray userScope = "tavrin:\n  Scope: User config (available in all your projects)\n  Status: "
                                     "\xe2\x9c\x98 Failed to connect\n";
        QTest::newRow("home file with entry")
            << "home/.claude.json" << entry << "" << QByteArray() << 0 << false << true;
        QTest::newRow("home file without entry, query would say yes")
            << "home/.claude.json" << without << "" << userScope << 0 << false << false;
        QTest::newRow("null entry is no server")
            << "home/.claude.json" << QByteArray(R"({"mcpServers": {"tavrin": null}})") << "" << QByteArray() << 0
            << false << false;
        QTest::newRow("CLAUDE_CONFIG_DIR file")
            << "ccd/.claude.json" << entry << "ccd" << QByteArray() << 0 << false << true;
        QTest::newRow("older .config.json in ~/.claude")
            << "home/.claude/.config.json" << entry << "" << QByteArray() << 0 << false << true;
        QTest::newRow("older .config.json in CLAUDE_CONFIG_DIR")
            << "ccd/.config.json" << entry << "ccd" << QByteArray() << 0 << false << true;
        QTest::newRow("no file: query, user scope") << "" << QByteArray() << "" << userScope << 0 << true << true;
        QTest::newRow("no file in CLAUDE_CONFIG_DIR: query")
            << "home/.claude.json" << entry << "ccd" << QByteArray("No MCP server named \"tavrin\".") << 1 << true
            << false;
        QTest::newRow("comments: query fails") << "home/.claude.json" << QByteArray("{ // x\n}") << ""
                                               << QByteArray("Configuration error") << 1 << true << false;
        QTest::newRow("array: query") << "home/.claude.json" << QByteArray("[]") << "" << userScope << 0 << true
                                      << true;
        QTest::newRow("query exits 1 with the texts") << "" << QByteArray() << "" << userScope << 1 << true << false;
        QTest::newRow("query names the entry in another scope")
            << "" << QByteArray() << "" << QByteArray("tavrin:\n  Scope: Local config (private to you)\n") << 0 << true
            << false;
    }
    void claudeCodeDetection()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, configDir);
        QFETCH(QByteArray, queryOutput);
        QFETCH(int, queryCode);
        QFETCH(bool, queried);
        QFETCH(bool, configured);
        const QString root = TestEnv::root().path() + QLatin1Char('/');
        wipe(root + QLatin1String("ccd"));
        if (!file.isEmpty())
            QVERIFY(TestEnv::writeFile(root + file, content));
        if (!configDir.isEmpty())
            qputenv("CLAUDE_CONFIG_DIR", (root + configDir + QLatin1Char('/')).toUtf8());
        writeFakeCli(QStringLiteral("claude"));
        behave(QStringLiteral("claude"), QStringLiteral("get"), queryOutput, queryCode);

        const ClientInfo info = Clients().detect(QStringLiteral("safe_edit")).value(0);
        QCOMPARE(info.id, QStringLiteral("claude-code"));
        QVERIFY(info.installed);
        QVERIFY(info.usesCli);
        QCOMPARE(info.configured, configured);
        QCOMPARE(calls(QStringLiteral("claude")),
                 queried ? QStringList{QStringLiteral("<mcp><get><tavrin>")} : QStringList());
    }

    void codexDetection_data()
    {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("configured");
        const QByteArray json = R"({"name": "tavrin", "enabled": true, "transport": {"type": "stdio"}})";
        QTest::newRow("entry") << json << QByteArray() << 0 << true;
        QTest::newRow("entry with a warning on stderr")
            << json << QByteArray("WARNING: proceeding, even though we could not create PATH aliases\n") << 0 << true;
        QTest::newRow("name differs in case") << QByteArray(R"({"name": "Tavrin"})") << QByteArray() << 0 << false;
        QTest::newRow("not JSON") << QByteArray("tavrin\n  enabled: true\n") << QByteArray() << 0 << false;
        QTest::newRow("array") << QByteArray(R"([{"name": "tavrin"}])") << QByteArray() << 0 << false;
        QTest::newRow("exit 1") << json << QByteArray("Error: No MCP server named 'tavrin' found.") << 1 << false;
    }
    void codexDetection()
    {
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(int, code);
        QFETCH(bool, configured);
        writeFakeCli(QStringLiteral("codex"));
        behave(QStringLiteral("codex"), QStringLiteral("get"), out, code, err);
        const ClientInfo info = Clients().detect(QStringLiteral("full_control")).value(5);
        QCOMPARE(info.id, QStringLiteral("codex"));
        QVERIFY(info.installed);
        QCOMPARE(info.configured, configured);
        QCOMPARE(calls(QStringLiteral("codex")), QStringList{QStringLiteral("<mcp><get><tavrin><--json>")});
    }

    void hangingQueryIsKilled()
    {
        ShortLimits limits;
        writeFakeCli(QStringLiteral("codex"));
        writeFakeCli(QStringLiteral("claude"));
        hang(QStringLiteral("codex"), QStringLiteral("get"));
        hang(QStringLiteral("claude"), QStringLiteral("get"));
        const QList<ClientInfo> list = Clients().detect(QStringLiteral("safe_edit"));
        for (const int i : {0, 5}) {
            QVERIFY(list[i].installed);
            QVERIFY(!list[i].configured);
        }
    }

    // ---- Locations ----

    void candidates_data()
    {
        QTest::addColumn<int>("platform");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("env"); // false: LOCALAPPDATA and APPDATA unset, so derived from home
        const int win = int(Clients::Platform::Windows);
        const int mac = int(Clients::Platform::MacOS);
        const int linux = int(Clients::Platform::Linux);
        const QString cline = QStringLiteral("/Code/User/globalStorage/saoudrizwan.claude-dev/settings/"
                                             "cline_mcp_settings.json");
        const QString desktop = QStringLiteral("/claude_desktop_config.json");

        QTest::newRow("win claude-desktop")
            << win << "claude-desktop"
            << QStringList{"C:/Users/u/AppData/Local/Claude-Data/claude*" + desktop,
                           "C:/Users/u/AppData/Local/Packages/Claude_*/LocalCache/Roaming/Claude" + desktop,
                           "C:/Users/u/AppData/Roaming/Claude" + desktop, "C:/Users/u/AppData/Local/Claude" + desktop}
            << true;
        QTest::newRow("win cline") << win << "cline"
                                   << QStringList{"C:/Users/u/.cline/data/settings/cline_mcp_settings.json",
                                                  "C:/Users/u/AppData/Roaming" + cline,
                                                  "C:/Users/u/AppData/Local" + cline}
                                   << true;
        QTest::newRow("win claude-desktop, no environment")
            << win << "claude-desktop"
            << QStringList{"C:/Users/u/AppData/Local/Claude-Data/claude*" + desktop,
                           "C:/Users/u/AppData/Local/Packages/Claude_*/LocalCache/Roaming/Claude" + desktop,
                           "C:/Users/u/AppData/Roaming/Claude" + desktop, "C:/Users/u/AppData/Local/Claude" + desktop}
            << false;
        QTest::newRow("win cursor") << win << "cursor" << QStringList{"C:/Users/u/.cursor/mcp.json"} << true;
        QTest::newRow("win windsurf") << win << "windsurf"
                                      << QStringList{"C:/Users/u/.codeium/windsurf/mcp_config.json"} << true;
        QTest::newRow("mac claude-desktop")
            << mac << "claude-desktop" << QStringList{"/Users/u/Library/Application Support/Claude" + desktop} << true;
        QTest::newRow("mac cline") << mac << "cline"
                                   << QStringList{"/Users/u/.cline/data/settings/cline_mcp_settings.json",
                                                  "/Users/u/Library/Application Support" + cline}
                                   << true;
        QTest::newRow("mac cursor") << mac << "cursor" << QStringList{"/Users/u/.cursor/mcp.json"} << true;
        QTest::newRow("linux claude-desktop")
            << linux << "claude-desktop"
            << QStringList{"/home/u/.config/Claude" + desktop, "/home/u/.local/share/Claude" + desktop} << true;
        QTest::newRow("linux cline") << linux << "cline"
                                     << QStringList{"/home/u/.cline/data/settings/cline_mcp_settings.json",
                                                    "/home/u/.config" + cline, "/home/u/.local/share" + cline}
                                     << true;
        QTest::newRow("linux windsurf") << linux << "windsurf"
                                        << QStringList{"/home/u/.codeium/windsurf/mcp_config.json"} << true;
        for (const char *id : {"claude-code", "codex", "Cursor", ""})
            QTest::newRow(qPrintable(QStringLiteral("none for '%1'").arg(QLatin1String(id))))
                << linux << id << QStringList() << true;
    }
    void candidates()
    {
        QFETCH(int, platform);
        QFETCH(QString, id);
        QFETCH(QStringList, expected);
        QFETCH(bool, env);
        const auto p = Clients::Platform(platform);
        QProcessEnvironment environment;
        QString home, data, config;
        switch (p) {
        case Clients::Platform::Windows:
            if (env) {
                environment.insert(QStringLiteral("LOCALAPPDATA"), QStringLiteral("C:\\Users\\u\\AppData\\Local"));
                environment.insert(QStringLiteral("APPDATA"), QStringLiteral("C:\\Users\\u\\AppData\\Roaming\\"));
            }
            home = QStringLiteral("C:/Users/u");
            data = config = QStringLiteral("C:/Users/u/AppData/Local");
            break;
        case Clients::Platform::MacOS:
            home = QStringLiteral("/Users/u");
            data = QStringLiteral("/Users/u/Library/Application Support");
            config = QStringLiteral("/Users/u/Library/Preferences");
            break;
        case Clients::Platform::Linux:
            home = QStringLiteral("/home/u");
            data = QStringLiteral("/home/u/.local/share");
            config = QStringLiteral("/home/u/.config");
            break;
        }
        QCOMPARE(Clients::configCandidates(id, p, environment, home, data, config), expected);
    }

    void resolutionTakesFirstExistingFolder()
    {
        const QString local = TestEnv::root().path() + QLatin1String("/win/Local");
        QProcessEnvironment env;
        env.insert(QStringLiteral("LOCALAPPDATA"), local);
        env.insert(QStringLiteral("APPDATA"), TestEnv::root().path() + QLatin1String("/win/Roaming"));
        wipe(TestEnv::root().path() + QLatin1String("/win"));
        const QStringList list = Clients::configCandidates(QStringLiteral("claude-desktop"), Clients::Platform::Windows,
                                                           env, TestEnv::home(), local, local);
        const QString file = QStringLiteral("/claude_desktop_config.json");

        // Nothing exists: the first concrete location, never a pattern.
        QCOMPARE(Clients::resolveConfigPath(list), list.at(2));
        // A file matching a folder pattern is not a folder.
        QVERIFY(TestEnv::writeFile(local + QLatin1String("/Packages/Claude_file"), "x"));
        QCOMPARE(Clients::resolveConfigPath(list), list.at(2));

        QDir().mkpath(local + QLatin1String("/Claude"));
        QCOMPARE(Clients::resolveConfigPath(list), local + QLatin1String("/Claude") + file);
        QDir().mkpath(TestEnv::root().path() + QLatin1String("/win/Roaming/Claude"));
        QCOMPARE(Clients::resolveConfigPath(list), list.at(2));

        const QString store = local + QLatin1String("/Packages/Claude_pzs8sxrjxfjjc/LocalCache/Roaming/Claude");
        QDir().mkpath(store);
        QDir().mkpath(local + QLatin1String("/Packages/Claude_aaa/LocalCache")); // no Roaming/Claude inside
        QCOMPARE(Clients::resolveConfigPath(list), store + file);

        QDir().mkpath(local + QLatin1String("/Claude-Data/claude-b"));
        QDir().mkpath(local + QLatin1String("/Claude-Data/claude-a"));
        QDir().mkpath(local + QLatin1String("/Claude-Data/other"));
        QCOMPARE(Clients::resolveConfigPath(list), local + QLatin1String("/Claude-Data/claude-a") + file);
    }

    void linuxLocations()
    {
        const QString cline = QStringLiteral("/Code/User/globalStorage/saoudrizwan.claude-dev/settings/"
                                             "cline_mcp_settings.json");
        QCOMPARE(Clients::configPathFor(QStringLiteral("claude-desktop")),
                 TestEnv::configHome() + QLatin1String("/Claude/claude_desktop_config.json"));
        QDir().mkpath(TestEnv::dataHome() + QLatin1String("/Claude"));
        QCOMPARE(Clients::configPathFor(QStringLiteral("claude-desktop")),
                 TestEnv::dataHome() + QLatin1String("/Claude/claude_desktop_config.json"));
        QDir().mkpath(TestEnv::dataHome() + QFileInfo(cline).path());
        QCOMPARE(Clients::configPathFor(QStringLiteral("cline")), TestEnv::dataHome() + cline);
        QDir().mkpath(TestEnv::home() + QLatin1String("/.cline/data/settings"));
        QCOMPARE(Clients::configPathFor(QStringLiteral("cline")),
                 TestEnv::home() + QLatin1String("/.cline/data/settings/cline_mcp_settings.json"));
        for (const char *id : {"claude-code", "codex", "Cline", "unknown"})
            QVERIFY(Clients::configPathFor(QLatin1String(id)).isNull());
    }

    // ---- JSON files ----

    void freshFileCreatesFolderChain()
    {
        const QString path = TestEnv::root().path() + QLatin1String("/deep/a/b/mcp.json");
        QDir(TestEnv::root().path() + QLatin1String("/deep")).removeRecursively();
        QVERIFY(Clients::writeJsonConfig(path, QStringLiteral("safe_edit")));
        QCOMPARE(TestEnv::readFile(path), QByteArray("{\n"
                                                     "    \"mcpServers\": {\n"
                                                     "        \"tavrin\": {\n"
                                                     "            \"args\": [\n"
                                                     "                \"tavrin\"\n"
                                                     "            ],\n"
                                                     "            \"command\": \"uvx\",\n"
                                                     "            \"env\": {\n"
                                                     "                \"GODOT_MCP_PERMISSION_MODE\": \"safe_edit\"\n"
                                                     "            }\n"
                                                     "        }\n"
                                                     "    }\n"
                                                     "}\n"));
    }

    void mergeKeepsTheClientsContent_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after"); // what the file means afterwards, entry excluded
        QTest::newRow("other servers and members") << QByteArray(R"({"theme": "dark", "nested": {"a": [1, {"b": null}]},
                              "mcpServers": {"other": {"command": "node", "args": ["x.js"]}}})")
                                                   << QByteArray(R"({"theme": "dark", "nested": {"a": [1, {"b": null}]},
                              "mcpServers": {"other": {"command": "node", "args": ["x.js"]}}})");
        QTest::newRow("old entry replaced whole")
            << QByteArray(R"({"mcpServers": {"tavrin": {"command": "old", "disabled": true}}})")
            << QByteArray(R"({"mcpServers": {}})");
        QTest::newRow("mcpServers not an object")
            << QByteArray(R"({"mcpServers": [1], "x": 1})") << QByteArray(R"({"mcpServers": {}, "x": 1})");
        QTest::newRow("empty object") << QByteArray("{}") << QByteArray(R"({"mcpServers": {}})");
    }
    void mergeKeepsTheClientsContent()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QString path = TestEnv::home() + QLatin1String("/.cursor/mcp.json");
        QVERIFY(TestEnv::writeFile(path, before));
        QVERIFY(Clients::writeJsonConfig(path, QStringLiteral("safe_edit")));
        QVERIFY(Clients::writeJsonConfig(path, QStringLiteral("full_control")));
        QJsonObject stored = parse(TestEnv::readFile(path));
        QJsonObject servers = stored.value(QLatin1String("mcpServers")).toObject();
        QCOMPARE(servers.value(QLatin1String("tavrin")).toObject(), Clients::mcpEntry(QStringLiteral("full_control")));
        servers.remove(QLatin1String("tavrin"));
        stored.insert(QLatin1String("mcpServers"), servers);
        QCOMPARE(stored, parse(after));
    }

    void unusableFileIsNotOverwritten_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: a folder stands where the file should be
        QTest::addColumn<QString>("reason");
        QTest::newRow("invalid JSON") << QByteArray(R"({"mcpServers": {)") << "its content is not a JSON object";
        QTest::newRow("comments") << QByteArray("{\n  // my servers\n  \"mcpServers\": {}\n}\n")
                                  << "its content is not a JSON object";
        QTest::newRow("array") << QByteArray("[]") << "its content is not a JSON object";
        QTest::newRow("empty file") << QByteArray("") << "its content is not a JSON object";
        QTest::newRow("unreadable") << QByteArray() << "it cannot be read";
    }
    void unusableFileIsNotOverwritten()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString path = TestEnv::home() + QLatin1String("/.cursor/mcp.json");
        if (content.isNull())
            QDir().mkpath(path);
        else
            QVERIFY(TestEnv::writeFile(path, content));

        QString error;
        QVERIFY(!Clients::writeJsonConfig(path, QStringLiteral("safe_edit"), &error));
        QVERIFY2(error.startsWith(path + QLatin1String(" was left unchanged because ") + reason), qPrintable(error));
        if (!content.isNull())
            QCOMPARE(TestEnv::readFile(path), content);
        else
            QVERIFY(QFileInfo(path).isDir());

        Clients clients;
        QSignalSpy spy(&clients, &Clients::configWritten);
        QVERIFY(!clients.writeConfig(QStringLiteral("cursor"), QStringLiteral("safe_edit")));
        QCOMPARE(clients.lastError(), error);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(1).toBool(), false);
        if (!content.isNull())
            QCOMPARE(TestEnv::readFile(path), content);

        // Removal leaves such a file alone; only an unreadable one is a failure.
        QCOMPARE(clients.removeConfig(QStringLiteral("cursor")), !content.isNull());
        if (content.isNull())
            QVERIFY(clients.lastError().contains(QLatin1String("cannot be read")));
        else
            QCOMPARE(TestEnv::readFile(path), content);
    }

    void removal_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QByteArray>("after");  // null: file bytes unchanged
        QTest::newRow("no file") << QByteArray() << QByteArray();
        QTest::newRow("no entry") << QByteArray(R"({"mcpServers":{"x":{}}, "k":1})") << QByteArray();
        QTest::newRow("no mcpServers") << QByteArray(R"({"k":1})") << QByteArray();
        QTest::newRow("invalid JSON") << QByteArray(R"({"mcpServers":{"tavrin":{})") << QByteArray();
        QTest::newRow("only entry") << QByteArray(R"({"mcpServers":{"tavrin":{"command":"uvx"}}, "k":[1]})")
                                    << QByteArray(R"({"mcpServers":{}, "k":[1]})");
        QTest::newRow("with others") << QByteArray(R"({"mcpServers":{"tavrin":null, "x":{"a":1}}})")
                                     << QByteArray(R"({"mcpServers":{"x":{"a":1}}})");
    }
    void removal()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QString path = TestEnv::home() + QLatin1String("/.codeium/windsurf/mcp_config.json");
        if (!before.isNull())
            QVERIFY(TestEnv::writeFile(path, before));
        Clients clients;
        QSignalSpy spy(&clients, &Clients::configRemoved);
        QVERIFY(clients.removeConfig(QStringLiteral("windsurf")));
        QVERIFY(clients.lastError().isEmpty());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("windsurf"));
        QCOMPARE(spy.at(0).at(1).toBool(), true);
        if (before.isNull())
            QVERIFY(!QFileInfo::exists(path));
        else if (after.isNull())
            QCOMPARE(TestEnv::readFile(path), before);
        else
            QCOMPARE(parse(TestEnv::readFile(path)), parse(after));
    }

    void writeConfigRoundTripOnJsonClient()
    {
        Clients clients;
        QSignalSpy spy(&clients, &Clients::configWritten);
        QVERIFY(clients.writeConfig(QStringLiteral("claude-desktop"), QStringLiteral("safe_edit")));
        QVERIFY(clients.lastError().isEmpty());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("claude-desktop"));
        QVERIFY(QFileInfo::exists(TestEnv::configHome() + QLatin1String("/Claude/claude_desktop_config.json")));
        ClientInfo info = find(clients.detect(QStringLiteral("safe_edit")), QStringLiteral("claude-desktop"));
        QVERIFY(info.installed && info.configured);
        QVERIFY(clients.removeConfig(QStringLiteral("claude-desktop")));
        info = find(clients.detect(QStringLiteral("safe_edit")), QStringLiteral("claude-desktop"));
        QVERIFY(info.installed && !info.configured);
    }

    void unknownClientDoesNothing()
    {
        Clients clients;
        QSignalSpy written(&clients, &Clients::configWritten);
        QSignalSpy removed(&clients, &Clients::configRemoved);
        for (const char *id : {"Cursor", "vscode", ""}) {
            QVERIFY(!clients.writeConfig(QLatin1String(id), QStringLiteral("safe_edit")));
            QVERIFY(clients.lastError().isEmpty());
            QVERIFY(!clients.removeConfig(QLatin1String(id)));
            QVERIFY(clients.lastError().isEmpty());
            QVERIFY(!clients.runCliAdd(QLatin1String(id), QStringLiteral("safe_edit")));
            QVERIFY(!clients.runCliRemove(QLatin1String(id)));
            QVERIFY(clients.lastError().isEmpty());
        }
        QCOMPARE(written.count(), 0);
        QCOMPARE(removed.count(), 0);
    }

    // ---- Command-line clients ----

    void cliArguments_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("add");
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("codex add") << "codex" << true << "codex" << QStringList{s_safeLine};
        QTest::newRow("codex remove") << "codex" << false << "codex" << QStringList{"<mcp><remove><tavrin>"};
        QTest::newRow("claude add removes first")
            << "claude-code" << true << "claude"
            << QStringList{"<mcp><remove><tavrin><--scope><user>",
                           "<mcp><add><tavrin><--scope><user><--env><GODOT_MCP_PERMISSION_MODE=safe_edit><--><uvx>"
                           "<tavrin>"};
        QTest::newRow("claude remove") << "claude-code" << false << "claude"
                                       << QStringList{"<mcp><remove><tavrin><--scope><user>"};
    }
    void cliArguments()
    {
        QFETCH(QString, id);
        QFETCH(bool, add);
        QFETCH(QString, tool);
        QFETCH(QStringList, expected);
        writeFakeCli(tool);
        Clients clients;
        QSignalSpy written(&clients, &Clients::configWritten);
        QSignalSpy removed(&clients, &Clients::configRemoved);
        const bool ok = add ? clients.writeConfig(id, QStringLiteral("safe_edit")) : clients.removeConfig(id);
        QVERIFY2(ok, qPrintable(clients.lastError()));
        QVERIFY(clients.lastError().isEmpty());
        QCOMPARE(calls(tool), expected);
        QSignalSpy &spy = add ? written : removed;
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), id);
        QCOMPARE(spy.at(0).at(1).toBool(), true);
        QCOMPARE((add ? removed : written).count(), 0);
    }

    void claudeRemoveStep_data()
    {
        QTest::addColumn<QByteArray>("removeOutput");
        QTest::addColumn<int>("removeCode");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("calls");
        QTest::newRow("entry existed") << QByteArray("Removed MCP server tavrin from user config\n") << 0 << true << ""
                                       << 2;
        QTest::newRow("entry absent") << QByteArray("No MCP server named \"tavrin\" in user scope\n") << 1 << true << ""
                                      << 2;
        QTest::newRow("broken config stops")
            << QByteArray("Configuration error in /h/.claude.json: JSON Parse error\n") << 1 << false
            << "Configuration error in /h/.claude.json: JSON Parse error" << 1;
        QTest::newRow("silent failure stops") << QByteArray() << 3 << false << "claude exited with code 3." << 1;
    }
    void claudeRemoveStep()
    {
        QFETCH(QByteArray, removeOutput);
        QFETCH(int, removeCode);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        QFETCH(int, calls);
        writeFakeCli(QStringLiteral("claude"));
        behave(QStringLiteral("claude"), QStringLiteral("remove"), {}, removeCode, removeOutput); // on stderr
        Clients clients;
        QCOMPARE(clients.writeConfig(QStringLiteral("claude-code"), QStringLiteral("full_control")), ok);
        QCOMPARE(clients.lastError(), message);
        QCOMPARE(::calls(QStringLiteral("claude")).size(), calls);
        if (calls == 2)
            QVERIFY(::calls(QStringLiteral("claude"))
                        .at(1)
                        .contains(QLatin1String("<GODOT_MCP_PERMISSION_MODE=full_control>")));

        // The same answers to a plain removal: an absent entry is removed already.
        QCOMPARE(clients.removeConfig(QStringLiteral("claude-code")), ok);
        QCOMPARE(clients.lastError(), message);
    }

    void claudeAddFailureAfterRemove()
    {
        writeFakeCli(QStringLiteral("claude"));
        behave(QStringLiteral("claude"), QStringLiteral("add"), {}, 1,
               "MCP server tavrin already exists in user config\n");
        Clients clients;
        QVERIFY(!clients.writeConfig(QStringLiteral("claude-code"), QStringLiteral("safe_edit")));
        QCOMPARE(clients.lastError(), QStringLiteral("MCP server tavrin already exists in user config"));
        QCOMPARE(calls(QStringLiteral("claude")).size(), 2);
    }

    void cliFailures_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("add");
        QTest::addColumn<QString>("setup"); // missing, fails, hangs, unstartable
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logged"); // the warning line, when the run failed
        QTest::newRow("claude missing") << "claude-code" << true << "missing" << QByteArray() << 0
                                        << "claude executable was not found on PATH."
                                        << "";
        QTest::newRow("codex missing on remove")
            << "codex" << false << "missing" << QByteArray() << 0 << "codex executable was not found on PATH."
            << "";
        QTest::newRow("explanation trimmed")
            << "codex" << true << "fails" << QByteArray("\n  Error: failed to load configuration  \n\n") << 1
            << "Error: failed to load configuration" << s_addLog + " exit: 1";
        QTest::newRow("blanks only") << "codex" << true << "fails" << QByteArray("  \n\t \n") << 2
                                     << "codex exited with code 2." << s_addLog + " exit: 2";
        QTest::newRow("backtrace dropped")
            << "codex" << false << "fails"
            << QByteArray("WARNING: proceeding\nError: failed to load MCP servers\n\nCaused by:\n    0: bad\n\n"
                          "Stack backtrace:\n   0: <unknown>\n   1: <unknown>\n")
            << 1 << "WARNING: proceeding\nError: failed to load MCP servers\n\nCaused by:\n    0: bad"
            << "CLI failed: codex mcp remove tavrin exit: 1";
        QTest::newRow("claude remove failure")
            << "claude-code" << false << "fails" << QByteArray("Permission denied: /h/.claude.json") << 1
            << "Permission denied: /h/.claude.json"
            << "CLI failed: claude mcp remove tavrin --scope user exit: 1";
        QTest::newRow("hangs") << "codex" << true << "hangs" << QByteArray() << 0 << "codex configuration timed out."
                               << "";
        QTest::newRow("claude hangs on remove")
            << "claude-code" << false << "hangs" << QByteArray() << 0 << "claude configuration timed out."
            << "";
        QTest::newRow("unstartable") << "codex" << true << "unstartable" << QByteArray() << 0
                                     << "Could not start codex: "
                                     << "";
    }
    void cliFailures()
    {
        QFETCH(QString, id);
        QFETCH(bool, add);
        QFETCH(QString, setup);
        QFETCH(QByteArray, output);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, logged);
        const QString tool = id == QLatin1String("codex") ? QStringLiteral("codex") : QStringLiteral("claude");
        const QString sub = add ? QStringLiteral("add") : QStringLiteral("remove");
        std::unique_ptr<ShortLimits> limits;
        if (setup == QLatin1String("fails") || setup == QLatin1String("hangs")) {
            writeFakeCli(tool);
            behave(tool, sub, output, code);
            if (setup == QLatin1String("hangs")) {
                hang(tool, sub);
                limits = std::make_unique<ShortLimits>();
            }
        } else if (setup == QLatin1String("unstartable")) {
            const QString path = TestEnv::binDir() + QLatin1Char('/') + tool;
            QVERIFY(TestEnv::writeFile(path, "#!/nonexistent/interpreter\n"));
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(logged));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        Clients clients;
        const bool ok = add ? clients.writeConfig(id, QStringLiteral("safe_edit")) : clients.removeConfig(id);
        QVERIFY(!ok);
        if (setup == QLatin1String("unstartable")) {
            QVERIFY2(clients.lastError().startsWith(message), qPrintable(clients.lastError()));
            QVERIFY(clients.lastError().size() > message.size());
        } else {
            QCOMPARE(clients.lastError(), message);
        }
    }

    void refusedPermissionModes_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("mode");
        for (const char *id : {"claude-code", "codex"}) {
            const QString client = QLatin1String(id);
            QTest::newRow(qPrintable(client + QLatin1String(" empty"))) << client << QString();
            QTest::newRow(qPrintable(client + QLatin1String(" upper case"))) << client << QStringLiteral("Safe_edit");
            QTest::newRow(qPrintable(client + QLatin1String(" ampersand")))
                << client << QStringLiteral("safe_edit&calc");
            QTest::newRow(qPrintable(client + QLatin1String(" quote"))) << client << QStringLiteral("a\" b");
            QTest::newRow(qPrintable(client + QLatin1String(" percent"))) << client << QStringLiteral("%PATH%");
            QTest::newRow(qPrintable(client + QLatin1String(" caret pipe"))) << client << QStringLiteral("a^|b");
            QTest::newRow(qPrintable(client + QLatin1String(" hyphen"))) << client << QStringLiteral("safe-edit");
            QTest::newRow(qPrintable(client + QLatin1String(" newline"))) << client << QStringLiteral("safe\nedit");
            QTest::newRow(qPrintable(client + QLatin1String(" non-ASCII letter")))
                << client << QStringLiteral("s\u00e4fe");
        }
    }
    void refusedPermissionModes()
    {
        QFETCH(QString, id);
        QFETCH(QString, mode);
        const QString tool = id == QLatin1String("codex") ? QStringLiteral("codex") : QStringLiteral("claude");
        writeFakeCli(tool);
        Clients clients;
        QSignalSpy spy(&clients, &Clients::configWritten);
        QVERIFY(!clients.writeConfig(id, mode));
        QCOMPARE(clients.lastError(), QStringLiteral("The permission mode \"%1\" was refused: only lower-case letters "
                                                     "and underscores are allowed.")
                                          .arg(mode));
        QVERIFY2(!QFileInfo::exists(callLog(tool)), "the tool must not run");
        QCOMPARE(spy.count(), 1);
        QVERIFY(Clients::isValidPermissionMode(QStringLiteral("full_control")));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestClients)
#include "tst_clients.moc"
