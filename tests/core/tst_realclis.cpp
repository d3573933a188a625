// Round trips against the real AI-client CLIs from npm (scripts/install-clis.sh), each in a fresh
// home, offline.
#include "base/toolprocess.h"
#include "core/backups.h"
#include "core/clients.h"
#include "fixtures.h"
#include "testenv.h"

#include <QRegularExpression>
#include <QStandardPaths>

// The PATH this process was started with: globals are set up before main() isolates the environment.
static const QStringList s_realPath = QString::fromLocal8Bit(qgetenv("PATH")).split(':');

class TestRealClis : public QObject
{
    Q_OBJECT

    static ClientInfo detected(const QString &id) { return Fixtures::detected(id); }
    static bool upToDate(const ClientInfo &info, const QString &mode)
    {
        return info.configured && Clients::entryProblems(info, mode).isEmpty();
    }
    static QString uvxLog() { return TestEnv::root().path() + "/uvx.log"; }

    // Runs one of the client's own commands, standard output and error together, colours removed.
    static QString run(const QString &tool, const QStringList &args)
    {
        const ToolResult r = ToolProcess::run(QStandardPaths::findExecutable(tool), args, 10000, 180000);
        QString text = QString::fromUtf8(r.output).remove(QRegularExpression("\x1b\\[[0-9;]*m"));
        if (!r.finished || r.exitCode != 0)
            qWarning().noquote() << tool << args.join(' ') << "exit" << r.exitCode << text;
        return text;
    }

    // Registers, re-registers in another mode, removes, removes again; `stored` is the mode in `file`.
    // A registration in an older mode is seen as such, and not up to date. Before each run the
    // tool's file, once it holds anything, is backed up as it was, and the backup reads as what it held.
    static void roundTrip(const QString &id, const QString &file, const QString &stored)
    {
        const QString path = QDir::homePath() + '/' + file;
        QVERIFY(!detected(id).configured);
        Clients clients;
        Backups backups;
        const auto change = [&](bool write, const QString &mode, Backups::Content held) {
            // An empty file (Codex leaves one after removing its last server) needs no copy.
            const bool existed = QFileInfo(path).size() > 0;
            const QByteArray before = TestEnv::readFile(path);
            const int count = Backups::count(id);
            QVERIFY2(write ? clients.writeConfig(id, mode) : clients.removeConfig(id), qPrintable(clients.lastError()));
            QCOMPARE(Backups::count(id), count + (existed ? 1 : 0));
            if (existed) {
                QCOMPARE(ClientCatalogue::configPath(id), path);
                const Backups::Backup newest = backups.list(id, ClientCatalogue::find(id)->file).first();
                QCOMPARE(TestEnv::readFile(newest.path), before);
                QCOMPARE(newest.content, held);
            }
        };
        change(true, "safe_edit", Backups::Content::NoEntry);
        ClientInfo info = detected(id);
        QVERIFY(info.configured && !upToDate(info, "full_control") && info.mode == "safe_edit" &&
                info.command == "uvx");
        change(true, "full_control", Backups::Content::SafeEdit);
        info = detected(id);
        QVERIFY(upToDate(info, "full_control") && info.mode == "full_control" && info.args == QStringList{"tavrin"});
        QVERIFY2(TestEnv::readFile(path).contains(stored.arg("full_control").toUtf8()), TestEnv::readFile(path));
        QVERIFY(!TestEnv::readFile(path).contains("safe_edit"));
        change(false, {}, Backups::Content::FullControl);
        QVERIFY(!detected(id).configured);
        QVERIFY(!TestEnv::readFile(path).contains("GODOT_MCP_PERMISSION_MODE"));
        change(false, {}, Backups::Content::NoEntry); // already gone is fine
        QVERIFY(Backups::count(id) >= 2);
    }

    // The user's server "other" is added with the client's own `mcp add` first. We register Safe
    // Edit, switch to Full Control and remove; after each step the client's own listing shows
    // "other" and shows ours (or no longer does). Where the listing starts the servers, the fake
    // uvx on the PATH records the mode it was started with; `showsMode` says whether the listing
    // itself prints it.
    static void listingRoundTrip(const QString &id, const QString &tool, const QStringList &addOther,
                                 const QStringList &listing, const QString &oursLine, bool showsMode)
    {
        run(tool, addOther);
        const QString before = run(tool, listing);
        QVERIFY2(before.contains("other") && !before.contains("tavrin"), qPrintable(before));
        QVERIFY(!detected(id).configured);
        Clients clients;
        for (const QString mode : {"safe_edit", "full_control"}) {
            QFile::remove(uvxLog());
            QVERIFY2(clients.writeConfig(id, mode), qPrintable(clients.lastError()));
            const ClientInfo info = detected(id);
            QVERIFY(upToDate(info, mode) && info.mode == mode);
            const QString listed = run(tool, listing);
            QVERIFY2(listed.contains("other") && listed.contains(oursLine), qPrintable(listed));
            if (showsMode)
                QVERIFY2(listed.contains(QString("\"GODOT_MCP_PERMISSION_MODE\": \"%1\"").arg(mode)),
                         qPrintable(listed));
            else // started at least once, each time in our mode
            {
                const QList<QByteArray> lines = TestEnv::readFile(uvxLog()).split('\n');
                QCOMPARE(QSet<QByteArray>(lines.begin(), lines.end()) - QSet<QByteArray>{""},
                         QSet<QByteArray>{"mode=" + mode.toUtf8() + " args=tavrin"});
            }
        }
        QVERIFY2(clients.removeConfig(id), qPrintable(clients.lastError()));
        const QString listed = run(tool, listing);
        QVERIFY2(listed.contains("other") && !listed.contains("tavrin"), qPrintable(listed));
        QVERIFY(!detected(id).configured);
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("npm"), s_realPath).isEmpty())
            QSKIP("npm is not installed, so the real AI-client CLIs cannot be installed");
        const QString bin = qEnvironmentVariable("TAVRIN_CLI_CACHE") + "/node_modules/.bin";
        // The CLIs are node scripts; node's own folder goes on the PATH on purpose, and so does
        // the folder of the fake uvx.
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"), s_realPath);
        qputenv("PATH", (bin + ':' + QFileInfo(node).absolutePath() + ':' + TestEnv::binDir() + ":/bin").toUtf8());
        // Offline: no telemetry, error reports, update checks or model catalogues.
        for (const char *name : {"CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "OPENCODE_DISABLE_AUTOUPDATE",
                                 "OPENCODE_DISABLE_MODELS_FETCH", "GEMINI_CLI_NO_RELAUNCH", "QWEN_CODE_NO_RELAUNCH"})
            qputenv(name, "1");
        for (const char *name : {"COPILOT_AUTO_UPDATE", "GEMINI_TELEMETRY_ENABLED", "QWEN_TELEMETRY_ENABLED",
                                 "QWEN_USAGE_STATISTICS_ENABLED"})
            qputenv(name, "false");
        // Gemini CLI starts the servers it lists only in a trusted folder.
        qputenv("GEMINI_CLI_TRUST_WORKSPACE", "true");
        // The server the clients start when they list: it records its mode and ends.
        const QString record = "echo \"mode=$GODOT_MCP_PERMISSION_MODE args=$*\" >> '%1'; exit 1";
        QVERIFY(!TestEnv::writeTool("uvx", record.arg(uvxLog()).toUtf8()).isEmpty());
    }

    void init()
    {
        const QString home = TestEnv::root().path() + '/' + QTest::currentTestFunction();
        QVERIFY(QDir().mkpath(home));
        QDir::setCurrent(home);
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());
        qputenv("XDG_DATA_HOME", (home + "/.local/share").toUtf8());
        qputenv("XDG_STATE_HOME", (home + "/.local/state").toUtf8());
        qputenv("XDG_CACHE_HOME", (home + "/.cache").toUtf8());
    }

    void claude() { roundTrip("claude-code", ".claude.json", "\"GODOT_MCP_PERMISSION_MODE\": \"%1\""); }
    void codex() { roundTrip("codex", ".codex/config.toml", "GODOT_MCP_PERMISSION_MODE = \"%1\""); }

    void copilot()
    {
        listingRoundTrip("copilot-cli", "copilot", {"mcp", "add", "other", "--env", "K=v", "--", "node", "a.js"},
                         {"mcp", "list", "--json"}, "\"command\": \"uvx\"", true);
    }
    void gemini()
    {
        listingRoundTrip("gemini", "gemini", {"mcp", "add", "-s", "user", "-e", "K=v", "other", "node", "a.js"},
                         {"mcp", "list"}, "tavrin: uvx tavrin (stdio)", false);
    }
    void qwen()
    {
        listingRoundTrip("qwen", "qwen", {"mcp", "add", "-e", "K=v", "other", "node", "a.js"}, {"mcp", "list"},
                         "tavrin: uvx tavrin (stdio)", false);
    }
    void opencode()
    {
        listingRoundTrip("opencode", "opencode", {"mcp", "add", "other", "--env", "K=v", "--", "node", "a.js"},
                         {"mcp", "list"}, "uvx tavrin", false);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestRealClis)
#include "tst_realclis.moc"
