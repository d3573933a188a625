#include "base/toolprocess.h"
#include "core/prereqs.h"
#include "testenv.h"

class TestPrereqs : public QObject
{
    Q_OBJECT

private slots:
    // Programs must be asked for "--version". A "stub/" program sits in a Windows Store alias folder.
    void check_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script");  // empty: not on the PATH
        QTest::addColumn<QString>("version"); // "-": not found
        using TestEnv::row;
        row("missing", "python", "", "-");
        // The name is dropped, as it is shown beside the version: "Python 3.12.1", not "Python Python 3.12.1".
        row("python's name dropped", "python", "echo Python 3.12.1", "3.12.1");
        row("python 2 uses stderr", "python", "echo Python 2.7.18 >&2", "2.7.18");
        row("uv prefix dropped", "uv", "echo 'uv 0.5.1 (f399a52 2024-11-08)'", "0.5.1 (f399a52 2024-11-08)");
        row("uvx prefix dropped", "uvx", "echo '  uvx 0.5.1'", "0.5.1");
        row("uvx printing uv", "uvx", "echo uv 0.5.1", "uv 0.5.1");
        row("failure", "uv", "echo 'error: unexpected argument'; exit 1", "installed");
        row("hangs, with a child of its own", "uvx", "sleep 300 & echo $! > \"$0.pid\"; wait", "installed");
        row("Store stub", "stub/python", "echo Python was not found; exit 9009", "-");
        row("Store-installed Python", "stub/python", "echo Python 3.13.0", "3.13.0");
        row("a name inside a word stays", "python", "echo Pythonista 1.0", "Pythonista 1.0");
        // A "python" printing Python 2.7.18 is also on the PATH in python3 rows.
        row("python3 before python", "python3", "echo Python 3.11.2", "3.11.2");
        row("python when python3 is missing", "python3", "", "2.7.18");
    }
    void check()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(QString, version);
        if (script.contains("$0.pid") && !TestEnv::unixFiles)
            QSKIP("a shell row; tst_toolprocess ends a tree with a job object on Windows");
        if (program == "python3" && !script.isEmpty() && !TestEnv::unixFiles)
            QSKIP("Windows asks for python only: its installers name the program python.exe");
        const QString stub = TestEnv::root().path() + "/AppData/Local/Microsoft/WindowsApps";
        for (const QString &dir : {TestEnv::binDir(), stub})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        const QString path =
            QDir::toNativeSeparators(stub) + QDir::listSeparator() + QDir::toNativeSeparators(TestEnv::binDir());
        qputenv("PATH", (path + QDir::listSeparator() + qEnvironmentVariable("PATH")).toUtf8());
        const QString folder = program.startsWith("stub/") ? stub : TestEnv::binDir();
        program.remove("stub/");
        // The shell line as a batch file on Windows: one command a line, no quotes, "exit /b".
        QString batch = QString(script).replace("; ", "\r\n").remove('\'').replace(">&2", "1>&2");
        batch.replace(QRegularExpression("exit (\\d+)"), "exit /b \\1");
        QVERIFY(script.isEmpty() ||
                !TestEnv::writeScript(program, "[ \"$*\" = --version ] || exit 7\n" + script.toUtf8(),
                                      "if not \"%*\"==\"--version\" exit /b 7\r\n" + batch.toUtf8(), folder)
                     .isEmpty());
        if (program == "python3")
            QVERIFY(!TestEnv::writeScript("python", "echo Python 2.7.18", "echo Python 2.7.18").isEmpty());
        ToolProcess::setFinishTimeScale(script.contains("sleep") ? 0.1 : 1.0); // a hang costs half a second
        QStringList seen, expected{"Python: Install from python.org: -",
                                   "uv: Install with uv's standalone installer, or: pipx install uv: -",
                                   "uvx: Comes with uv (the PyPI package named uvx is a different program): -"};
        for (const PrereqResult &r : Prereqs().check())
            seen << r.name + ": " + r.hint + ": " + (r.found ? r.version : "-");
        expected[QStringList{"python", "uv", "uvx"}.indexOf(QString(program).remove('3'))].replace(": -",
                                                                                                   ": " + version);
        QCOMPARE(seen, expected);
        if (script.contains("$0.pid")) { // the time-out ended the whole tree
            const qint64 grandchild = TestEnv::readFile(folder + '/' + program + ".pid").trimmed().toLongLong();
            QVERIFY(grandchild > 0);
            QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(grandchild), 5000);
        }
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestPrereqs)
#include "tst_prereqs.moc"
