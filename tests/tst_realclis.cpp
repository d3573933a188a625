// Round trips against the real Claude Code and Codex CLIs, installed by scripts/install-clis.sh
// into $TAVRIN_CLI_CACHE. Each test runs them with a fresh temporary home.
#include "clients.h"
#include "jsonfile.h"
#include "testenv.h"
#include "toolprocess.h"

#include <QDir>
#include <QStandardPaths>

namespace {
QByteArray s_realPath; // the PATH this process was started with, before isolation
}

class TestRealClis : public QObject
{
    Q_OBJECT

private:
    QString m_bin;
    QString m_home;
    int m_round = 0;

    ClientInfo detected(int index) const { return Clients().detect(QStringLiteral("safe_edit")).value(index); }

    QString claudeMode() const
    {
        const JsonFile::ReadResult read = JsonFile::read(m_home + QLatin1String("/.claude.json"));
        return read.object.value(QLatin1String("mcpServers"))
            .toObject()
            .value(QLatin1String("tavrin"))
            .toObject()
            .value(QLatin1String("env"))
            .toObject()
            .value(QLatin1String("GODOT_MCP_PERMISSION_MODE"))
            .toString();
    }

private slots:
    void initTestCase()
    {
        const QStringList realPath = QString::fromLocal8Bit(s_realPath).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        if (QStandardPaths::findExecutable(QStringLiteral("npm"), realPath).isEmpty())
            QSKIP("npm is not installed, so the real claude and codex CLIs cannot be installed: round trips skipped");
        const QString cache = qEnvironmentVariable("TAVRIN_CLI_CACHE");
        QVERIFY2(!cache.isEmpty(), "TAVRIN_CLI_CACHE is not set");
        m_bin = cache + QLatin1String("/node_modules/.bin");
        for (const char *tool : {"claude", "codex"}) {
            QVERIFY2(QFileInfo(m_bin + QLatin1Char('/') + QLatin1String(tool)).isExecutable(),
                     qPrintable(QStringLiteral("%1 is missing from %2: run scripts/install-clis.sh %3")
                                    .arg(QLatin1String(tool), m_bin, cache)));
        }
        // The CLIs are node scripts; node's own folder goes on the PATH on purpose.
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"), realPath);
        QVERIFY2(!node.isEmpty(), "npm is installed but node is not on the PATH");
        qputenv("PATH", (m_bin + QLatin1Char(':') + QFileInfo(node).absolutePath() + QLatin1String(":/bin")).toUtf8());
        // Keep Claude Code off the network: no telemetry, error reports or update checks.
        qputenv("CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "1");
        qputenv("DISABLE_TELEMETRY", "1");
        qputenv("DISABLE_ERROR_REPORTING", "1");
        qputenv("DISABLE_AUTOUPDATER", "1");
    }

    void init()
    {
        m_home = TestEnv::root().path() + QLatin1String("/realhome") + QString::number(++m_round);
        QDir(m_home).removeRecursively();
        QVERIFY(QDir().mkpath(m_home));
        qputenv("HOME", m_home.toUtf8());
    }

    void claudeRoundTrip()
    {
        QVERIFY(detected(0).installed);
        QVERIFY(!detected(0).configured);

        Clients clients;
        QVERIFY2(clients.writeConfig(QStringLiteral("claude-code"), QStringLiteral("safe_edit")),
                 qPrintable(clients.lastError()));
        QVERIFY(detected(0).configured);
        QCOMPARE(claudeMode(), QStringLiteral("safe_edit"));

        // The query that detection falls back on names the user scope in these words.
        const ToolResult get = ToolProcess::run(
            m_bin + QLatin1String("/claude"), {QStringLiteral("mcp"), QStringLiteral("get"), QStringLiteral("tavrin")},
            ToolProcess::NoStartWait, 30000);
        QVERIFY(get.finished);
        QCOMPARE(get.exitCode, 0);
        QVERIFY2(get.output.contains("Scope: User config"), get.output.constData());

        // A second registration replaces the first one.
        QVERIFY2(clients.writeConfig(QStringLiteral("claude-code"), QStringLiteral("full_control")),
                 qPrintable(clients.lastError()));
        QCOMPARE(claudeMode(), QStringLiteral("full_control"));
        QVERIFY(detected(0).configured);

        QVERIFY2(clients.removeConfig(QStringLiteral("claude-code")), qPrintable(clients.lastError()));
        QVERIFY(!detected(0).configured);
        QVERIFY(claudeMode().isEmpty());
        QVERIFY2(clients.removeConfig(QStringLiteral("claude-code")), qPrintable(clients.lastError()));
    }

    void claudeConfigDirIsHonoured()
    {
        const QString dir = m_home + QLatin1String("/claude-config");
        QVERIFY(QDir().mkpath(dir));
        qputenv("CLAUDE_CONFIG_DIR", dir.toUtf8());
        Clients clients;
        const bool written = clients.writeConfig(QStringLiteral("claude-code"), QStringLiteral("safe_edit"));
        const bool configured = detected(0).configured;
        qunsetenv("CLAUDE_CONFIG_DIR");
        QVERIFY2(written, qPrintable(clients.lastError()));
        QVERIFY(QFileInfo::exists(dir + QLatin1String("/.claude.json")));
        QVERIFY(configured);
        QVERIFY(!detected(0).configured); // the home file knows nothing of it
    }

    void codexRoundTrip()
    {
        const QString toml = m_home + QLatin1String("/.codex/config.toml");
        QVERIFY(detected(5).installed);
        QVERIFY(!detected(5).configured);

        Clients clients;
        QVERIFY2(clients.writeConfig(QStringLiteral("codex"), QStringLiteral("safe_edit")),
                 qPrintable(clients.lastError()));
        QVERIFY(detected(5).configured);
        QVERIFY(TestEnv::readFile(toml).contains("GODOT_MCP_PERMISSION_MODE = \"safe_edit\""));

        QVERIFY2(clients.writeConfig(QStringLiteral("codex"), QStringLiteral("full_control")),
                 qPrintable(clients.lastError()));
        const QByteArray stored = TestEnv::readFile(toml);
        QVERIFY2(stored.contains("[mcp_servers.tavrin.env]\nGODOT_MCP_PERMISSION_MODE = \"full_control\""),
                 stored.constData());
        QVERIFY(!stored.contains("safe_edit"));
        QVERIFY(detected(5).configured);

        QVERIFY2(clients.removeConfig(QStringLiteral("codex")), qPrintable(clients.lastError()));
        QVERIFY(!detected(5).configured);
        QVERIFY(!TestEnv::readFile(toml).contains("tavrin"));
        QVERIFY2(clients.removeConfig(QStringLiteral("codex")), qPrintable(clients.lastError()));
    }
};

int main(int argc, char *argv[])
{
    s_realPath = qgetenv("PATH");
    TestEnv::isolate(false);
    QCoreApplication app(argc, argv);
    TestRealClis tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_realclis.moc"
