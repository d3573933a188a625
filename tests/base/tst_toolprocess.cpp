#include "base/toolprocess.h"
#include "testenv.h"

using TestEnv::row;

constexpr char s_sleeperFlag[] = "--sleeper";

// What the tool runner does with real tools on every platform: arguments arrive whole, a batch
// file never gets an argument cmd.exe would read as a command, and a time-out ends the whole tree
// (a process group on Unix, a job object on Windows).
class TestToolProcess : public QObject
{
    Q_OBJECT

private slots:
    void batchArguments_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("refused");
        const QStringList entry{"mcp", "add", "tavrin", "-e", "GODOT_MCP_PERMISSION_MODE=safe_edit", "--", "uvx"};
        row("our entry through a shim", QString("C:/npm/claude.cmd"), entry, false);
        row("blanks, dashes, colons, backslashes", QString("C:/npm/claude.CMD"),
            QStringList{"C:\\Users\\A B\\project", "-x=1:2", "(a)"}, false);
        for (const char *bad : {"a&calc", "a|b", "%PATH%", "!x!", "a^b", "say \"hi\"", "a<b", "a>b", "a\nb", "a\rb"})
            row(qPrintable(QStringLiteral("refused in a .bat: %1").arg(QString(bad).toHtmlEscaped())),
                QString("C:/t/tool.bat"), QStringList{"ok", QString::fromLatin1(bad)}, true);
        row("a program takes anything", QString("C:/t/tool.exe"), QStringList{"a&b", "%x%", "\"q\""}, false);
        row("no suffix takes anything", QString("/usr/bin/claude"), QStringList{"a&b"}, false);
        row("a folder named .cmd is not the suffix", QString("C:/x.cmd/tool"), QStringList{"a&b"}, false);
    }
    void batchArguments()
    {
        QFETCH(QString, exe);
        QFETCH(QStringList, args);
        QFETCH(bool, refused);
        const QString problem = ToolProcess::batchArgumentProblem(exe, args);
        QCOMPARE(!problem.isEmpty(), refused);
        if (refused)
            QVERIFY2(problem.contains(QFileInfo(exe).fileName()), qPrintable(problem));
    }

    // A real script: arguments with blanks arrive as one each; on Windows, an argument cmd.exe
    // would read as a command never reaches the shim, which does not start.
    void argumentsArriveWhole_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("echoed"); // null: refused, nothing ran
        row("plain", QStringList{"mcp", "get", "tavrin"}, QByteArray("[mcp][get][tavrin]"));
        row("blanks", QStringList{"a b", "C:/Users/A B/x", "-e"}, QByteArray("[a b][C:/Users/A B/x][-e]"));
#ifdef Q_OS_WIN
        row("ampersand", QStringList{"a&echo INJECTED", "x", "y"}, QByteArray());
        row("variable", QStringList{"%PATH%", "x", "y"}, QByteArray());
        row("quote", QStringList{"a\" & echo INJECTED & \"", "x", "y"}, QByteArray());
#endif
    }
    void argumentsArriveWhole()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, echoed);
        const QString marker = TestEnv::root().path() + "/ran";
        QFile::remove(marker);
        const QString tool = TestEnv::writeScript(
            "echoargs", "touch '" + marker.toUtf8() + "'; printf '[%s]' \"$1\" \"$2\" \"$3\"",
            "type nul > \"" + QDir::toNativeSeparators(marker).toUtf8() + "\"\r\necho [%~1][%~2][%~3]");
        QVERIFY(!tool.isEmpty());
        const ToolResult result = ToolProcess::run(tool, args, 10000, 30000);
        if (echoed.isNull()) {
            QVERIFY(!result.started);
            QVERIFY2(result.errorString.contains("batch file"), qPrintable(result.errorString));
            QVERIFY(!QFileInfo::exists(marker));
        } else {
            QVERIFY2(result.finished, qPrintable(result.errorString));
            QCOMPARE(result.exitCode, 0);
            QCOMPARE(result.output.trimmed(), echoed);
        }
    }

    // A tool that starts a long-lived child and waits for it is killed at its time-out, and the
    // child with it: this test program, started again as the sleeper, records its id.
    void timeOutEndsTheTree()
    {
        const QString pidFile = TestEnv::root().path() + "/sleeper.pid";
        QFile::remove(pidFile);
        const QByteArray self = QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toUtf8();
        const QByteArray pids = QDir::toNativeSeparators(pidFile).toUtf8();
        const QString tool = TestEnv::writeScript("tree", "'" + self + "' " + s_sleeperFlag + " '" + pids + "'",
                                                  "\"" + self + "\" " + s_sleeperFlag + " \"" + pids + "\"");
        const ToolResult result = ToolProcess::run(tool, {}, 10000, 3000, 5000);
        QVERIFY(result.started);
        QVERIFY(!result.finished);
        const qint64 child = TestEnv::readFile(pidFile).trimmed().toLongLong();
        QVERIFY2(child > 0, "the sleeper did not start within the time-out");
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(child), 10000);
    }
};

// The test, or (with the sleeper flag) the child of timeOutEndsTheTree: records its process id in
// the given file, then waits to be killed.
int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], s_sleeperFlag) == 0) {
        QCoreApplication app(argc, argv);
        if (!TestEnv::writeFile(QString::fromLocal8Bit(argv[2]), QByteArray::number(app.applicationPid())))
            return 1;
        QThread::sleep(120);
        return 0;
    }
    TestEnv::isolate(false);
    QCoreApplication app(argc, argv);
    TestToolProcess tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_toolprocess.moc"
