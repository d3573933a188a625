#include "base/jsoncedit.h"
#include "base/toolprocess.h"
#include "core/backups.h"
#include "core/cliententry.h"
#include "core/clients.h"
#include "fakes/fakecli.h"
#include "fixtures.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>

#include <sys/stat.h>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using ClientCatalogue::Syntax;
using Fixtures::detected;
using TestEnv::row;

// Row types. Probe: a CLI client's file (null: none) and query answer; what detection finds ('-':
// not an object). Edit: a file client's file before (null: none; "<dir>": a folder, "<fifo>": a
// FIFO, "<zero>": a link to /dev/zero, "<large>": 65 MiB) and after (null: unchanged; '@': our entry). Run: sub-command
// `sub` answers out, code (-1: hangs; "missing": no tool); `runs` lines are run. Change: a file (relative to the home)
// and its bytes before, and how many backups the change leaves. Truth: what detection reads from an entry.
struct Probe
{
    QString id, file, out;
    int code;
    bool queried, configured;
    QString mode;
    bool upToDate;
};
struct Edit
{
    QString id;
    bool write, detected;
    QString before, after, error; // no error: the change succeeds
};
struct Run
{
    QString id, sub, out, message;
    bool add;
    int code, runs;
};
struct Change
{
    QString id;
    bool write;
    QString file, before;
    int backups;
    QString env = {}; // "NAME=value", the value relative to the home
};
struct Truth
{
    bool configured, valid;
    QString mode, command;
    bool upToDate;
};
Q_DECLARE_METATYPE(Probe)
Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Run)
Q_DECLARE_METATYPE(Truth)
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(QProcessEnvironment)

class TestClients : public QObject
{
    Q_OBJECT

    static QString state() { return TestEnv::root().path() + "/state"; }
    static QString calls(const QString &tool) { return FakeCli::calls(state(), tool); }
    static const ClientCatalogue::Client &client(const QString &id) { return *ClientCatalogue::find(id); }
    static QString entry(const QString &id, const QString &mode = QStringLiteral("safe_edit"))
    {
        return QJsonDocument(ClientEntry::object(client(id).file.entry, mode)).toJson(QJsonDocument::Compact);
    }
    static bool upToDate(const ClientInfo &info, const QString &mode = QStringLiteral("safe_edit"))
    {
        return info.configured && Clients::entryProblems(info, mode).isEmpty();
    }
    // A document holding `servers` at the client's servers object.
    static QByteArray document(const QString &id, const QJsonObject &servers)
    {
        return QJsonDocument(QJsonObject{{client(id).file.serversPath.first(), servers}}).toJson();
    }
    // Puts what a marker of Edit names at path; readBytes tells it back without reading a FIFO.
    static bool makeSpecial(const QString &path, const QString &kind)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (kind == "<dir>")
            return QDir().mkpath(path);
        if (kind == "<fifo>")
            return TestEnv::makeFifo(path);
        if (kind == "<zero>")
            return QFile::link("/dev/zero", path);
        QFile large(path);
        return large.open(QIODevice::WriteOnly) && large.resize((qint64(65) << 20)); // sparse
    }
    static QString special(const QString &path)
    {
        const QFileInfo info(path);
        struct stat st = {};
        if (info.isSymLink())
            return info.symLinkTarget() == "/dev/zero" ? "<zero>" : "<link>";
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode))
            return "<fifo>";
        return info.isDir() ? "<dir>" : info.size() == (qint64(65) << 20) ? "<large>" : QString();
    }
    // The fake tool whose sub-command `sub` prints `out` and exits with `code` (-1: hangs).
    static void fakeCli(const QString &tool, const QString &sub = {}, const QString &out = {}, int code = 0)
    {
        QVERIFY(FakeCli::write(state(), {tool}));
        QVERIFY(sub.isEmpty() ||
                FakeCli::answer(state(), tool, sub, out.toUtf8(), code < 0 ? "hang" : QByteArray::number(code)));
        // A hang costs a fraction of a second; Wine needs more than that to start cmd.exe and the tool.
        ToolProcess::setFinishTimeScale(code >= 0 ? 1.0 : TestEnv::underWine() ? 0.1 : 0.01);
    }

private slots:
    void init()
    {
        for (const QString &dir :
             {TestEnv::home(), TestEnv::binDir(), TestEnv::configHome(), TestEnv::dataHome(), state()})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        qunsetenv("CLAUDE_CONFIG_DIR");
        qunsetenv("CODEX_HOME");
    }

    // With nothing installed: every row in order, none installed or configured. Then a client
    // registered by file edit is present when its program is on the PATH or its folder exists.
    void installed()
    {
        QStringList ids;
        for (const ClientInfo &info : Clients().detect()) {
            ids << info.id + (info.usesCli ? "*" : "");
            QVERIFY(!info.installed && !info.configured && info.backupCount == 0);
        }
        QCOMPARE(ids.join(' '), "claude-code* claude-desktop cursor windsurf cline codex* vscode copilot-cli gemini "
                                "qwen opencode zed");
        for (const ClientCatalogue::Client &client : ClientCatalogue::all()) {
            if (client.usesCli)
                continue;
            const QString folder = QFileInfo(ClientCatalogue::configPath(client.id)).absolutePath();
            QVERIFY2(!detected(client.id).installed, qPrintable(client.id));
            QVERIFY(QDir().mkpath(folder) && detected(client.id).installed);
            QVERIFY(QDir(folder).removeRecursively() && !detected(client.id).installed);
            for (const QString &exe : client.executables) {
                const QString tool = TestEnv::writeScript(exe, "exit 0", "exit /b 0");
                QVERIFY(!tool.isEmpty() && detected(client.id).installed);
                QVERIFY(QFile::remove(tool));
            }
        }
    }

    void cliDetection_data()
    {
        QTest::addColumn<Probe>("p");
        const QString cc = "claude-code", codex = "codex", none, json = R"({"name": "tavrin", "enabled": true})";
        const QString user = "tavrin:\n  Scope: User config (available in all your projects)\n";
        const QString get = user + "  Type: stdio\n  Command: uvx\n  Args: tavrin\n  Environment:\n"
                                   "    GODOT_MCP_PERMISSION_MODE=safe_edit\n\nTo remove this server, run: x\n";
        const QString file = R"({"mcpServers": {"tavrin": )" + entry(cc) + "}}";
        const QString transport = R"({"name": "tavrin", "transport": {"type": "stdio", "command": "uvx",
            "args": ["tavrin"], "env": {"GODOT_MCP_PERMISSION_MODE": "safe_edit"}}})";
        row("file", Probe{cc, file, user, 0, false, true, "safe_edit", true});
        row("file, old mode",
            Probe{cc, QString(file).replace("safe_edit", "full_control"), user, 0, false, true, "full_control", false});
        row("file, no mode",
            Probe{cc, R"({"mcpServers": {"tavrin": {"command": "uvx"}}})", user, 0, false, true, "", false});
        // Claude Code ignores what is not an object, and cannot remove it either.
        row("null entry", Probe{cc, R"({"mcpServers": {"tavrin": null}})", user, 0, false, false, "", false});
        row("no file: query", Probe{cc, none, get, 0, true, true, "safe_edit", true});
        row("query, other command",
            Probe{cc, none, QString(get).replace("uvx", "node").replace("Args: tavrin", "Args: a.js"), 0, true, true,
                  "safe_edit", false});
        row("comments: query", Probe{cc, "{ // x\n}", user, 0, true, true, "", false});
        row("query fails", Probe{cc, none, user, 1, true, false, "", false});
        row("other scope", Probe{cc, none, "tavrin:\n  Scope: Local config\n", 0, true, false, "", false});
        row("codex", Probe{codex, none, transport, 0, true, true, "safe_edit", true});
        row("codex, other args", Probe{codex, none, QString(transport).replace("[\"tavrin\"]", "[\"tavrin\", \"-v\"]"),
                                       0, true, true, "safe_edit", false});
        row("codex, no transport", Probe{codex, none, json, 0, true, true, "-", false});
    }
    void cliDetection()
    {
        QFETCH(Probe, p);
        QVERIFY(p.file.isNull() || TestEnv::writeFile(TestEnv::home() + "/.claude.json", p.file.toUtf8()));
        const bool codex = p.id == QLatin1String("codex");
        fakeCli(codex ? p.id : "claude", "get", p.out, p.code);
        const ClientInfo info = detected(p.id);
        QCOMPARE((QVariantList{info.configured, info.entryValid ? info.mode : "-", upToDate(info)}),
                 (QVariantList{p.configured, p.configured ? p.mode : "-", p.upToDate}));
        const QString query = codex ? "<mcp><get><tavrin><--json>\n" : "<mcp><get><tavrin>\n";
        QCOMPARE(calls(codex ? p.id : "claude"), p.queried ? query : QString());
    }

    // Per file client: what detection reads from the entry, then our own write and removal, which
    // keep the user's other server (and comments, where the client allows them).
    void entryTruth_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<Truth>("truth");
        const QJsonObject other{{"command", "node"}, {"args", QJsonArray{"a.js"}}};
        for (const ClientCatalogue::Client &client : ClientCatalogue::all()) {
            if (client.usesCli)
                continue;
            const QString id = client.id;
            const auto file = [&](const QJsonValue &ours) {
                return document(id, {{"other", other}, {"tavrin", ours}});
            };
            const auto add = [&](const char *what, const QByteArray &bytes, const Truth &truth) {
                QTest::newRow(qPrintable(id + ": " + what)) << id << bytes << truth;
            };
            QJsonObject otherCommand = ClientEntry::object(client.file.entry, "safe_edit");
            if (client.file.entry.commandArray)
                otherCommand.insert("command", QJsonArray{"node", "server.js"});
            else
                otherCommand.insert("command", "node"), otherCommand.insert("args", QJsonArray{"server.js"});
            const QByteArray current = file(ClientEntry::object(client.file.entry, "safe_edit"));
            add("up to date", current, Truth{true, true, "safe_edit", "uvx", true});
            add("old mode", file(ClientEntry::object(client.file.entry, "full_control")),
                Truth{true, true, "full_control", "uvx", false});
            add("other command", file(otherCommand), Truth{true, true, "safe_edit", "node", false});
            add("not an object", file(QStringLiteral("uvx tavrin")), Truth{true, false, "", "", false});
            add("not ours", document(id, {{"other", other}}), Truth{false, false, "", "", false});
            if (client.file.syntax == Syntax::Jsonc) {
                QByteArray commented = "// mine\n" + current;
                commented.replace("\"other\"", "/* theirs */ \"other\"");
                add("comments", commented, Truth{true, true, "safe_edit", "uvx", true});
            }
        }
    }
    void entryTruth()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, before);
        QFETCH(Truth, truth);
        const QString path = ClientCatalogue::configPath(id);
        QVERIFY(TestEnv::writeFile(path, before));
        ClientInfo info = detected(id);
        QCOMPARE((QVariantList{info.configured, info.entryValid, info.mode, info.command, upToDate(info)}),
                 (QVariantList{truth.configured, truth.valid, truth.mode, truth.command, truth.upToDate}));
        QCOMPARE(info.configPath, path);
        QCOMPARE(info.args, truth.valid ? QStringList{truth.command == "uvx" ? "tavrin" : "server.js"} : QStringList());

        // Both are our own edits of the user's file: the other server and any comment stay.
        const auto kept = [&] {
            const QByteArray now = TestEnv::readFile(path);
            return now.contains("\"a.js\"") && now.contains("// mine") == before.contains("// mine") &&
                   now.contains("/* theirs */") == before.contains("/* theirs */");
        };
        Clients clients;
        QVERIFY2(clients.writeConfig(id, "full_control"), qPrintable(clients.lastError()));
        info = detected(id);
        QVERIFY(upToDate(info, "full_control") && info.mode == "full_control" && kept() && info.configExists);
        QVERIFY2(clients.removeConfig(id), qPrintable(clients.lastError()));
        QVERIFY(!detected(id).configured && kept());
    }

    void fileClient_data()
    {
        QTest::addColumn<Edit>("e");
        const QString none, dir = "<dir>", one = R"({"mcpServers": {"tavrin": @}})";
        const QString notObject = QStringLiteral("its content is not a JSON object"), noRead = "it cannot be read";
        const QString others = R"({"theme": "dark", "mcpServers": {"o": {"x": [1, {"b": null}]}}})";
        const QString cursor = "cursor", zed = "zed", opencode = "opencode";
        row("fresh", Edit{cursor, true, false, none, one, ""});
        row("merge", Edit{cursor, true, false, others, QString(others).replace("]}}", "]}, \"tavrin\": @}"), ""});
        row("null servers", Edit{cursor, true, false, R"({"a": 1, "mcpServers": null})",
                                 R"({"a": 1, "mcpServers": {"tavrin": @}})", ""});
        // Not a regular file of a sane size: refused at once, naming what it is, and detection says so.
        row("unreadable", Edit{cursor, true, false, dir, none, noRead + " (it is a directory, not a regular file)"});
        row("fifo",
            Edit{cursor, true, false, "<fifo>", none, noRead + " (it is a FIFO (named pipe), not a regular file)"});
        row("jsonc, link to /dev/zero",
            Edit{zed, true, false, "<zero>", none, noRead + " (it is a device, not a regular file)"});
        row("jsonc remove, fifo", Edit{opencode, false, false, "<fifo>", none, noRead + " (it is a FIFO"});
        row("remove, 65 MiB", Edit{cursor, false, false, "<large>", none, noRead + " (it is too large (65.0 MiB"});
        row("remove",
            Edit{cursor, false, true, R"({"mcpServers":{"tavrin":null,"x":1}})", R"({"mcpServers":{"x":1}})", ""});
        // A file that cannot be parsed may hold an entry the client reads: removing from it is
        // refused like writing, with the place of the fault, and the file stays as it was.
        const QString commented = "{\n  // ours\n  \"mcpServers\": {\"tavrin\": {\"command\": \"uvx\"},}\n}\n";
        const QString trailing = "{\"mcpServers\": {\"tavrin\": {\"command\": \"a,}\"}, \n}}";
        const QString truncated = R"({"mcpServers": {"tavrin": {"command": "uvx"})";
        const QString array = R"([{"mcpServers": {"tavrin": {}}}])";
        row("comment", Edit{cursor, true, false, commented, none,
                            notObject + " (a comment, which JSON does not allow, at line 2, column 3)"});
        row("trailing comma",
            Edit{cursor, true, false, trailing, none,
                 notObject + " (a comma after the last item, which JSON does not allow, at line 1, column 45)"});
        row("truncated", Edit{cursor, true, false, truncated, none,
                              notObject + " (unexpected end of the text at line 1, column 45)"});
        row("not an object",
            Edit{cursor, true, false, array, none, notObject + " (the top level is not a JSON object)"});
        row("remove, comment", Edit{cursor, false, false, commented, none,
                                    notObject + " (a comment, which JSON does not allow, at line 2, column 3)"});
        // The JSONC parser's messages are tested with it; here, that both edits refuse with them.
        const QString jsoncTruncated = R"({"context_servers": {"tavrin": {})";
        row("jsonc, truncated", Edit{zed, true, false, jsoncTruncated, none,
                                     notObject + " (Unexpected end of the text at line 1, column 34.)"});
        row("jsonc remove, truncated", Edit{zed, false, false, jsoncTruncated, none,
                                            notObject + " (Unexpected end of the text at line 1, column 34.)"});
        // A servers member that is not an object is the user's data: refused, and nothing to remove.
        const QString member = "its \"%1\" member is not an object.";
        row("servers array",
            Edit{cursor, true, false, R"({"mcpServers": [{"tavrin": {}}]})", none, member.arg("mcpServers")});
        row("servers number", Edit{opencode, true, false, "{\n  // n\n  \"mcp\": 3\n}", none, member.arg("mcp")});
        row("remove, servers array", Edit{zed, false, false, R"({"context_servers": []})", none, ""});
        row("jsonc fresh", Edit{zed, true, false, none, R"({"context_servers": {"tavrin": @}})", ""});
        row("jsonc blank", Edit{opencode, true, false, " \n", R"({"mcp": {"tavrin": @}})", ""});
        row("jsonc, a key with a BOM is the user's",
            Edit{zed, true, false, "{\"context_servers\": {\"\uFEFFtavrin\": {\"command\": \"mine\"}}}",
                 "{\"context_servers\": {\"\uFEFFtavrin\": {\"command\": \"mine\"}, \"tavrin\": @}}", ""});
    }
    void fileClient()
    {
        QFETCH(Edit, e);
        const QString path = ClientCatalogue::configPath(e.id);
        const bool isSpecial = e.before.startsWith('<');
        if ((e.before == "<fifo>" && !TestEnv::unixFiles) || (e.before == "<zero>" && !QFileInfo::exists("/dev/zero")))
            QSKIP("no FIFO or /dev/zero here");
        QVERIFY(e.before.isNull() ||
                (isSpecial ? makeSpecial(path, e.before) : TestEnv::writeFile(path, e.before.toUtf8())));
        const ClientInfo info = detected(e.id);
        QCOMPARE(info.configured, e.detected);
        const QString kind = e.error.section(" (", 1).chopped(e.error.endsWith(')') ? 1 : 0);
        QVERIFY2(isSpecial ? info.error.startsWith(path + " cannot be read: " + kind) : info.error.isEmpty(),
                 qPrintable(info.error));
        Clients clients;
        const bool ok = e.error.isEmpty();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(e.write ? clients.writeConfig(e.id, QStringLiteral("safe_edit")) : clients.removeConfig(e.id), ok);
        if (isSpecial) // refused before reading: a FIFO would wait, /dev/zero would never end
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(ok ? clients.lastError().isEmpty()
                    : clients.lastError().startsWith(path + " was left unchanged because " + e.error),
                 qPrintable(clients.lastError()));
        const QByteArray now = isSpecial ? special(path).toUtf8() : TestEnv::readFile(path);
        if (!e.after.isNull())
            QCOMPARE(JsoncEdit::parse(now).root,
                     QJsonDocument::fromJson(e.after.replace('@', entry(e.id)).toUtf8()).object());
        else
            QVERIFY(now == e.before.toUtf8() && QFileInfo::exists(path) == !e.before.isNull());
    }

    // A config file the user made read-only (its attribute on Windows, its mode elsewhere): the
    // write is refused and says why; the file keeps its bytes and stays read-only.
    void readOnlyFile()
    {
#ifdef Q_OS_UNIX
        if (::geteuid() == 0)
            QSKIP("root may write a read-only file");
#endif
        const QString path = ClientCatalogue::configPath("cursor");
        const QByteArray before = R"({"mcpServers": {"x": {}}})";
        QVERIFY(TestEnv::writeFile(path, before) && QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser));
        const auto writable =
            qScopeGuard([path] { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner); });
        Clients clients;
        QVERIFY(!clients.writeConfig("cursor", QStringLiteral("safe_edit")));
        QCOMPARE(clients.lastError(), "Cannot write " + path + ": the file is read-only");
        QCOMPARE(TestEnv::readFile(path), before);
        QVERIFY(!QFileInfo(path).isWritable());
    }

    // A config file another program holds open without sharing it for deletion, as editors do on
    // Windows: the replace fails, says where, and leaves the file and its folder as they were. On
    // Unix a rename over an open file goes through and the holder keeps the old text.
    void heldFile()
    {
        const QString path = ClientCatalogue::configPath("cursor");
        const QByteArray before = R"({"mcpServers": {"x": {}}})";
        QVERIFY(TestEnv::writeFile(path, before));
#ifdef Q_OS_WIN
        const bool refused = true;
        HANDLE held = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                  GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        const auto release = qScopeGuard([held] { CloseHandle(held); });
#else
        const bool refused = false;
        QFile held(path);
        QVERIFY(held.open(QIODevice::ReadOnly));
#endif
        Clients clients;
        QCOMPARE(clients.writeConfig("cursor", QStringLiteral("safe_edit")), !refused);
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"mcp.json"});
        if (refused) {
            QCOMPARE(clients.lastError(), "Cannot write " + path +
                                              ": another program has it open and does not let it be replaced; close "
                                              "that program and try again");
            QCOMPARE(TestEnv::readFile(path), before);
        } else {
            QVERIFY(JsoncEdit::parse(TestEnv::readFile(path)).root["mcpServers"].toObject().contains("tavrin"));
        }
    }

    // All candidates per client, ';' within a client and '|' between, in catalogue order. ~ is the
    // home, $D Claude Desktop's file and $C Cline's storage.
    void candidates_data()
    {
        QTest::addColumn<ClientCatalogue::Platform>("platform");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QProcessEnvironment>("env");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("expected");
        const QString claude = "~/.claude/.config.json;~/.claude.json|";
        const QString middle = "|~/.cursor/mcp.json|~/.codeium/windsurf/mcp_config.json|"
                               "~/.cline/data/settings/cline_mcp_settings.json;";
        const QString dot = "|~/.copilot/mcp-config.json|~/.gemini/settings.json|~/.qwen/settings.json|"
                            "~/.config/opencode/opencode.json;~/.config/opencode/opencode.jsonc|";
        QProcessEnvironment winEnv; // separators as Windows may have them; APPDATA derives from the home
        winEnv.insert("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local\\");
        winEnv.insert("CODEX_HOME", "C:\\Users\\u\\codex\\");
        row("Windows", ClientCatalogue::Platform::Windows, "C:/Users/u", winEnv, "/AppData/Local", "/AppData/Local",
            claude +
                "~/AppData/Local/Claude-Data/claude*$D;~/AppData/Local/Packages/Claude_*/LocalCache/Roaming/"
                "Claude$D;~/AppData/Roaming/Claude$D;~/AppData/Local/Claude$D" +
                middle +
                "~/AppData/Roaming$C;~/AppData/Local$C|~/codex/config.toml|~/AppData/Roaming/Code/User/mcp.json" + dot +
                "~/AppData/Roaming/Zed/settings.json");
        row("macOS", ClientCatalogue::Platform::MacOS, "/Users/u", QProcessEnvironment(),
            "/Library/Application Support", "/Library/Preferences",
            claude + "~/Library/Application Support/Claude$D" + middle +
                "~/Library/Application Support$C|~/.codex/config.toml|~/Library/Application Support/Code/User/"
                "mcp.json" +
                dot + "~/.config/zed/settings.json");
        row("Linux", ClientCatalogue::Platform::Linux, "/home/u", QProcessEnvironment(), "/.local/share", "/.config",
            claude + "~/.config/Claude$D;~/.local/share/Claude$D" + middle +
                "~/.config$C;~/.local/share$C|~/.codex/config.toml|~/.config/Code/User/mcp.json" + dot +
                "~/.config/zed/settings.json");
        QProcessEnvironment moved; // every variable that moves a client's folder
        for (const auto &[name, value] : {std::pair{"CLAUDE_CONFIG_DIR", "/home/u/ccd/"},
                                          {"VSCODE_PORTABLE", "/home/u/vp"},
                                          {"COPILOT_HOME", "/home/u/cop"},
                                          {"GEMINI_CLI_HOME", "/home/u/gem"},
                                          {"QWEN_HOME", "~/qw"},
                                          {"CODEX_HOME", "/home/u/cx//"},
                                          {"XDG_CONFIG_HOME", "/home/u/xdg"}})
            moved.insert(name, value);
        row("Linux, folders moved", ClientCatalogue::Platform::Linux, "/home/u", moved, "/.local/share", "/xdg",
            "~/ccd/.config.json;~/ccd/.claude.json|~/xdg/Claude$D;~/.local/share/Claude$D" + middle +
                "~/xdg$C;~/.local/share$C|~/cx/config.toml|~/vp/user-data/User/mcp.json;~/xdg/Code/User/mcp.json|"
                "~/cop/mcp-config.json|~/gem/.gemini/settings.json|~/qw/settings.json|"
                "~/xdg/opencode/opencode.json;~/xdg/opencode/opencode.jsonc|~/xdg/zed/settings.json");
    }
    void candidates()
    {
        QFETCH(ClientCatalogue::Platform, platform);
        QFETCH(QString, home);
        QFETCH(QProcessEnvironment, env);
        QFETCH(QString, data);
        QFETCH(QString, config);
        QFETCH(QString, expected);
        QStringList all;
        for (const ClientCatalogue::Client &client : ClientCatalogue::all())
            all << ClientCatalogue::candidates(client.id, platform, {env, home, home + data, home + config}).join(';');
        QVERIFY(ClientCatalogue::candidates("Cursor", platform, {env, home, home + data, home + config}).isEmpty());
        all.replaceInStrings(home, "~").replaceInStrings("/claude_desktop_config.json", "$D");
        all.replaceInStrings("/Code/User/globalStorage/saoudrizwan.claude-dev/settings/cline_mcp_settings.json", "$C");
        QCOMPARE(all.join('|'), expected);
    }

    // opencode edits whichever of its two file names exists, the first when both or neither do.
    void firstExistingFile()
    {
        const QString dir = TestEnv::configHome() + "/opencode";
        QCOMPARE(ClientCatalogue::configPath("opencode"), dir + "/opencode.json");
        QVERIFY(TestEnv::writeFile(dir + "/opencode.jsonc", "{}"));
        QCOMPARE(ClientCatalogue::configPath("opencode"), dir + "/opencode.jsonc");
        QVERIFY(TestEnv::writeFile(dir + "/opencode.json", "{}"));
        QCOMPARE(ClientCatalogue::configPath("opencode"), dir + "/opencode.json");
    }

    void cli_data()
    {
        QTest::addColumn<Run>("r");
        const QString cc = "claude-code", codex = "codex", rm = "remove", absent = "No MCP server named \"tavrin\"\n";
        row("codex add", Run{codex, "", "", "", true, 0, 1});
        row("claude add, nothing to remove", Run{cc, rm, absent, "", true, 1, 2});
        row("claude remove, nothing to remove", Run{cc, rm, absent, "", false, 1, 1});
        row("claude add stops", Run{cc, rm, "Config error\n", "Config error", true, 1, 1});
        row("missing", Run{cc, "missing", "", "claude executable was not found on PATH.", true, 0, 0});
        row("trimmed", Run{codex, "add", "\n  Error: bad config  \n\n", "Error: bad config", true, 1, 1});
        row("fails silently", Run{codex, "add", "  \n\t \n", "codex exited with code 2.", true, 2, 1});
        row("backtrace dropped", Run{codex, rm, "Error\nStack backtrace:\n  0: x\n", "Error", false, 1, 1});
        row("hangs", Run{codex, "add", "", "codex configuration timed out.", true, -1, 1});
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

    // Each change copies the file it is about to change, once (that a copy keeps bytes and mode is
    // the backups' own test); an edit that changes nothing takes no copy, but clears what killed
    // backups left. The fake tools rewrite their file, so the copy can only have been taken before they ran.
    void backupBeforeEveryChange_data()
    {
        QTest::addColumn<Change>("c");
        const QString entry = R"({"mcpServers": {"x": {}, "tavrin": {"command": "uvx"}}})";
        const QString commented = "// mine\n{\"context_servers\": {/* ours */ \"tavrin\": {},},}\n";
        const QString toml = "model = \"o3\"\n\n[mcp_servers.tavrin]\ncommand = \"uvx\"\n";
        row("json write", Change{"cursor", true, ".cursor/mcp.json", entry, 1});
        row("json remove", Change{"windsurf", false, ".codeium/windsurf/mcp_config.json", entry, 1});
        row("json remove, no entry", Change{"cursor", false, ".cursor/mcp.json", R"({"a": 1})", 0});
        row("json write, invalid", Change{"cursor", true, ".cursor/mcp.json", "{", 0});
        row("json write, no file", Change{"cursor", true, ".cursor/mcp.json", {}, 0});
        // Written before in the same mode: the same bytes again, so no copy (and no write).
        const QJsonObject ours{{"tavrin", ClientEntry::object(client("cursor").file.entry, "safe_edit")}};
        row("json write, same bytes",
            Change{"cursor", true, ".cursor/mcp.json", QJsonDocument(QJsonObject{{"mcpServers", ours}}).toJson(), 0});
        QByteArray written = "// mine\n{}\n";
        QVERIFY(JsoncEdit::setMember(written, {"context_servers"}, "tavrin",
                                     ClientEntry::object(client("zed").file.entry, "safe_edit")));
        const QString zed = TestEnv::unixFiles ? "../config/zed/settings.json" : "../config/Zed/settings.json";
        row("jsonc write, same bytes", Change{"zed", true, zed, written, 0});
        row("jsonc write", Change{"zed", true, zed, commented, 1});
        row("claude add", Change{"claude-code", true, ".claude.json", entry, 1});
        row("claude, older file", Change{"claude-code", true, ".claude/.config.json", entry, 1});
        row("claude, own folder", Change{"claude-code", false, "ccd/.claude.json", entry, 1, "CLAUDE_CONFIG_DIR=ccd"});
        row("claude, no file", Change{"claude-code", true, ".claude.json", {}, 0});
        row("codex add", Change{"codex", true, ".codex/config.toml", toml, 1});
        row("codex remove, own folder", Change{"codex", false, "ch/config.toml", toml, 1, "CODEX_HOME=ch/"});
    }
    void backupBeforeEveryChange()
    {
        QFETCH(Change, c);
        if (!c.env.isEmpty())
            qputenv(c.env.section('=', 0, 0).toUtf8(), (TestEnv::home() + '/' + c.env.section('=', 1)).toUtf8());
        const QString path = QDir::cleanPath(TestEnv::home() + '/' + c.file);
        QVERIFY(c.before.isNull() || TestEnv::writeFile(path, c.before.toUtf8()));
        const bool cli = client(c.id).usesCli;
        if (cli) {
            const QString tool = client(c.id).executables.first();
            QVERIFY(!TestEnv::writeScript(tool, QString("echo \"$*\" >> '%1'").arg(path).toUtf8(),
                                          QString("echo %* >> \"%1\"").arg(QDir::toNativeSeparators(path)).toUtf8())
                         .isEmpty());
        }
        QCOMPARE(ClientCatalogue::configPath(c.id), path);
        // What a killed backup left goes with any change that went through, backup or not.
        const QString leftover = Backups::clientFolder(c.id) + "/.x.json.tavrin-write-Ab12Cd";
        QVERIFY(TestEnv::writeFile(leftover, "whole"));
        Clients clients;
        const bool ok = c.write ? clients.writeConfig(c.id, QStringLiteral("safe_edit")) : clients.removeConfig(c.id);
        QCOMPARE(QFileInfo::exists(leftover), !ok);
        Backups backups;
        const QList<Backups::Backup> made = backups.list(c.id, client(c.id).file);
        QCOMPARE(made.size(), c.backups);
        QVERIFY(c.backups || cli || c.before.isNull() || TestEnv::readFile(path) == c.before.toUtf8());
        if (c.backups) {
            QCOMPARE(TestEnv::readFile(made.first().path), c.before.toUtf8());
            QCOMPARE(made.first().content, Backups::Content::NoMode);      // read in the client's own syntax
            QVERIFY(TestEnv::readFile(path) != c.before.toUtf8() || !cli); // the tool ran after
        }
    }

    // A file in place of the backups folder, or a FIFO in place of the file a client's tool edits:
    // every kind of change is refused, saying where, and neither the file nor the tool is touched.
    void backupFailureRefusesChange_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("write");
        QTest::addColumn<QString>("why"); // of the refused backup: "<fifo>" for a FIFO
        const QString folder = Backups::backupsFolder();
        QTest::newRow("json write") << "cursor" << true << folder;
        QTest::newRow("jsonc remove") << "opencode" << false << folder;
        QTest::newRow("claude add") << "claude-code" << true << folder;
        QTest::newRow("codex remove") << "codex" << false << folder;
        QTest::newRow("claude add, fifo") << "claude-code" << true << "<fifo>";
        QTest::newRow("codex remove, fifo") << "codex" << false << "<fifo>";
    }
    void backupFailureRefusesChange()
    {
        QFETCH(QString, id);
        QFETCH(bool, write);
        QFETCH(QString, why);
        const QString path = ClientCatalogue::configPath(id);
        const QByteArray before = "{\"mcpServers\": {\"tavrin\": {}}, \"mcp\": {\"tavrin\": {}}}";
        const bool fifo = why == "<fifo>";
        if (fifo && !TestEnv::unixFiles)
            QSKIP("Windows has no FIFO");
        QVERIFY(fifo ? makeSpecial(path, why) : TestEnv::writeFile(path, before));
        QVERIFY(fifo || TestEnv::writeFile(Backups::backupsFolder(), "in the way"));
        const bool cli = client(id).usesCli;
        if (cli)
            fakeCli(client(id).executables.first());
        Clients clients;
        QVERIFY(!(write ? clients.writeConfig(id, QStringLiteral("full_control")) : clients.removeConfig(id)));
        QVERIFY2(
            clients.lastError().startsWith(path + " was left unchanged because it could not be backed up first.") &&
                clients.lastError().contains(fifo ? path + " to back it up: it is a FIFO" : why),
            qPrintable(clients.lastError()));
        QCOMPARE(fifo ? special(path).toUtf8() : TestEnv::readFile(path), fifo ? "<fifo>" : before);
        if (cli)
            QCOMPARE(calls(client(id).executables.first()), QString());
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestClients)
#include "tst_clients.moc"
