#include "prereqs.h"
#include "testenv.h"
#include "toolprocess.h"

#include <QDir>

class TestPrereqs : public QObject
{
    Q_OBJECT

private:
    // A fake program that prints `out` on standard output, `err` on standard error and exits with code.
    static void fake(const QString &program, const QByteArray &out, int code, const QByteArray &err = {},
                     const QString &folder = TestEnv::binDir())
    {
        QVERIFY(TestEnv::writeFile(TestEnv::root().path() + QLatin1String("/") + program + QLatin1String(".out"), out));
        QVERIFY(TestEnv::writeFile(TestEnv::root().path() + QLatin1String("/") + program + QLatin1String(".err"), err));
        QVERIFY(!TestEnv::writeTool(program,
                                    QStringLiteral("cat '%1.out'\ncat '%1.err' >&2\nexit %2")
                                        .arg(TestEnv::root().path() + QLatin1Char('/') + program)
                                        .arg(code)
                                        .toUtf8(),
                                    folder)
                     .isEmpty());
    }

private slots:
    void init()
    {
        QDir(TestEnv::binDir()).removeRecursively();
        QDir().mkpath(TestEnv::binDir());
        qputenv("PATH", TestEnv::binDir().toUtf8());
    }

    void nothingOnThePath()
    {
        const QList<PrereqResult> results = Prereqs().check();
        QCOMPARE(results.size(), 3);
        const QStringList names{"Python", "uv", "uvx"};
        const QStringList hints{"Install from python.org", "Install: pip install uv", "Comes with uv"};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(results[i].name, names[i]);
            QCOMPARE(results[i].hint, hints[i]);
            QVERIFY(!results[i].found);
            QVERIFY(results[i].version.isEmpty());
        }
    }

    void versionText_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("version");
        QTest::newRow("python keeps its capital")
            << "python" << QByteArray("Python 3.12.1\n") << QByteArray() << 0 << "Python 3.12.1";
        QTest::newRow("python 2 prints on stderr")
            << "python" << QByteArray() << QByteArray("Python 2.7.18\n") << 0 << "Python 2.7.18";
        QTest::newRow("uv prefix dropped") << "uv" << QByteArray("uv 0.5.1 (f399a5271 2024-11-08)\n") << QByteArray()
                                           << 0 << "0.5.1 (f399a5271 2024-11-08)";
        QTest::newRow("uvx prefix dropped") << "uvx" << QByteArray("  uvx 0.5.1\n") << QByteArray() << 0 << "0.5.1";
        QTest::newRow("uvx printing uv stays whole")
            << "uvx" << QByteArray("uv 0.5.1\n") << QByteArray() << 0 << "uv 0.5.1";
        QTest::newRow("silent success") << "uv" << QByteArray() << QByteArray() << 0 << "";
        QTest::newRow("failure") << "uv" << QByteArray("error: unexpected argument\n") << QByteArray() << 1
                                 << "installed";
        QTest::newRow("Store stub elsewhere still counts")
            << "python" << QByteArray("Python was not found\n") << QByteArray() << 9009 << "installed";
    }
    void versionText()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(int, code);
        QFETCH(QString, version);
        fake(program, out, code, err);
        const PrereqResult result =
            Prereqs::checkExe(QStringLiteral("Name"), program, {QStringLiteral("--version")}, QStringLiteral("hint"));
        QCOMPARE(result.name, QStringLiteral("Name"));
        QCOMPARE(result.hint, QStringLiteral("hint"));
        QVERIFY(result.found);
        QCOMPARE(result.version, version);
    }

    void checkRunsAllThreeInOrder()
    {
        fake(QStringLiteral("python"), "Python 3.11.2\n", 0);
        fake(QStringLiteral("uvx"), "uvx 0.4.0\n", 0);
        const QList<PrereqResult> results = Prereqs().check();
        QCOMPARE(results.size(), 3);
        QVERIFY(results[0].found);
        QCOMPARE(results[0].version, QStringLiteral("Python 3.11.2"));
        QVERIFY(!results[1].found);
        QCOMPARE(results[1].hint, QStringLiteral("Install: pip install uv"));
        QVERIFY(results[2].found);
        QCOMPARE(results[2].version, QStringLiteral("0.4.0"));
    }

    void hangingProgramIsInstalled()
    {
        ToolProcess::setFinishTimeScale(0.01);
        QVERIFY(!TestEnv::writeTool(QStringLiteral("uv"), "exec sleep 30").isEmpty());
        const PrereqResult result =
            Prereqs::checkExe(QStringLiteral("uv"), QStringLiteral("uv"), {QStringLiteral("--version")}, {});
        ToolProcess::setFinishTimeScale(1.0);
        QVERIFY(result.found);
        QCOMPARE(result.version, QStringLiteral("installed"));
    }

    // The Windows Store's "python" alias only points at the Store; it is no Python.
    void storeStubIsNotPython()
    {
        const QString stub = TestEnv::root().path() + QLatin1String("/AppData/Local/Microsoft/WindowsApps");
        QDir().mkpath(stub);
        qputenv("PATH", (stub + QLatin1Char(':') + TestEnv::binDir()).toUtf8());
        fake(QStringLiteral("python"), "Python was not found; run without arguments to install from the Store\n", 9009,
             {}, stub);
        PrereqResult result = Prereqs().check().at(0);
        QVERIFY(!result.found);
        QVERIFY(result.version.isEmpty());

        fake(QStringLiteral("python"), "Python 3.13.0\n", 0, {}, stub); // a Store-installed Python works
        result = Prereqs().check().at(0);
        QVERIFY(result.found);
        QCOMPARE(result.version, QStringLiteral("Python 3.13.0"));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestPrereqs)
#include "tst_prereqs.moc"
