// Round trips against the real claude and codex CLIs (scripts/install-clis.sh), each in a fresh home.
#include "clients.h"
#include "testenv.h"

#include <QStandardPaths>

// The PATH this process was started with: globals are set up before main() isolates the environment.
static const QStringList s_realPath = QString::fromLocal8Bit(qgetenv("PATH")).split(':');

class TestRealClis : public QObject
{
    Q_OBJECT

    static bool configured(int index) { return Clients().detect(QStringLiteral("safe_edit")).value(index).configured; }

    // Registers, re-registers in another mode, removes, removes again; `stored` is the mode in `file`.
    static void roundTrip(const QString &id, int index, const QString &file, const QString &stored)
    {
        const QString path = QDir::homePath() + '/' + file;
        QVERIFY(!configured(index));
        Clients clients;
        for (const QString mode : {"safe_edit", "full_control"}) {
            QVERIFY2(clients.writeConfig(id, mode), qPrintable(clients.lastError()));
            QVERIFY(configured(index));
            QVERIFY2(TestEnv::readFile(path).contains(stored.arg(mode).toUtf8()), TestEnv::readFile(path));
        }
        QVERIFY(!TestEnv::readFile(path).contains("safe_edit"));
        QVERIFY2(clients.removeConfig(id), qPrintable(clients.lastError()));
        QVERIFY(!configured(index));
        QVERIFY(!TestEnv::readFile(path).contains("GODOT_MCP_PERMISSION_MODE"));
        QVERIFY2(clients.removeConfig(id), qPrintable(clients.lastError())); // already gone is fine
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("npm"), s_realPath).isEmpty())
            QSKIP("npm is not installed, so the real claude and codex CLIs cannot be installed");
        const QString bin = qEnvironmentVariable("TAVRIN_CLI_CACHE") + "/node_modules/.bin";
        // The CLIs are node scripts; node's own folder goes on the PATH on purpose.
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"), s_realPath);
        qputenv("PATH", (bin + ':' + QFileInfo(node).absolutePath() + ":/bin").toUtf8());
        // Keep Claude Code off the network: no telemetry, error reports or update checks.
        qputenv("CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "1");
    }

    void init()
    {
        const QString home = TestEnv::root().path() + '/' + QTest::currentTestFunction();
        QVERIFY(QDir().mkpath(home));
        qputenv("HOME", home.toUtf8());
    }

    void claude() { roundTrip("claude-code", 0, ".claude.json", "\"GODOT_MCP_PERMISSION_MODE\": \"%1\""); }
    void codex() { roundTrip("codex", 5, ".codex/config.toml", "GODOT_MCP_PERMISSION_MODE = \"%1\""); }
};

TAVRIN_TEST_GUILESS_MAIN(TestRealClis)
#include "tst_realclis.moc"
