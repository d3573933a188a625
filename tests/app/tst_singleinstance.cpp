#include "app/singleinstance.h"
#include "base/logger.h"
#include "core/settings.h"
#include "testenv.h"
#include "version.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// Starts the real application: the first copy runs, later starts hand over to it and end.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<QProcess>> m_processes;

    QProcess *start()
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(TAVRIN_EXECUTABLE), {});
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }
    static int logged(const QByteArray &text) { return int(TestEnv::readFile(Logger::logFilePath()).count(text)); }
    static int starts() { return logged(QByteArray(Tavrin::DisplayName) + ' ' + Tavrin::Version + " starting"); }
    static QString socketPath()
    {
        const QString name = SingleInstance::serverName();
        return QDir::isAbsolutePath(name) ? name : QDir::tempPath() + '/' + name;
    }
    static QString runtime() { return TestEnv::root().path() + QStringLiteral("/runtime"); }

private slots:
    void cleanup()
    {
        for (const auto &process : m_processes) {
            process->kill();
            process->waitForFinished(5000);
        }
        m_processes.clear();
        QLocalServer::removeServer(SingleInstance::serverName()); // left by the copy killed last
        QFile::setPermissions(runtime(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime().toUtf8());
    }

    // The socket goes into the runtime folder only when that is private to the user; elsewhere
    // (and in a folder others may enter) it gets a bare name in the temporary folder.
    void socketInPrivateRuntimeFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("used");
        QTest::newRow("private") << runtime() << 0700 << true;
        QTest::newRow("others may enter") << runtime() << 0755 << false;
        QTest::newRow("group may write") << runtime() << 0770 << false;
        QTest::newRow("missing") << runtime() + "/gone" << 0700 << false;
        QTest::newRow("not set") << QString() << 0700 << false;
        QTest::newRow("relative") << QStringLiteral("runtime") << 0700 << false;
    }
    void socketInPrivateRuntimeFolder()
    {
        QFETCH(QString, folder);
        QFETCH(int, mode);
        QFETCH(bool, used);
#ifndef Q_OS_UNIX
        Q_UNUSED(mode)
        QSKIP("a runtime folder is a Unix thing");
#else
        QCOMPARE(::chmod(QFile::encodeName(runtime()).constData(), mode_t(mode)), 0);
#endif
        if (folder.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", folder.toUtf8());
        const QString name = SingleInstance::serverName();
        if (used) {
            QVERIFY2(name.startsWith(folder + "/tavrin-"), qPrintable(name));
        } else {
            QVERIFY2(name.startsWith("tavrin-") && !name.contains('/'), qPrintable(name));
        }
    }

    // Whatever holds the name without giving our answer (another user's listener, a hung program)
    // does not keep the application from starting: it runs and says why it has no guard.
    void startsWhenHandOverGetsNoValidAnswer_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("silent") << QByteArray() << false;
        QTest::newRow("wrong answer") << QByteArray("no\n") << false;
        QTest::newRow("answer without line end") << QByteArray("ok") << false;
        QTest::newRow("hangs up at once") << QByteArray() << true;
    }
    void startsWhenHandOverGetsNoValidAnswer()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, hangUp);
        QVERIFY(TestEnv::writeFile(Settings::filePath(), R"({"check_updates":false,"first_run_done":true})"));
        QLocalServer squatter;
        QList<QLocalSocket *> held;
        connect(&squatter, &QLocalServer::newConnection, this, [&] {
            while (QLocalSocket *socket = squatter.nextPendingConnection()) {
                held << socket;
                if (hangUp)
                    socket->disconnectFromServer();
                connect(socket, &QLocalSocket::readyRead, socket, [socket, reply] {
                    socket->readAll();
                    if (!reply.isEmpty())
                        socket->write(reply);
                });
            }
        });
        QVERIFY(squatter.listen(SingleInstance::serverName()));
        const int startsBefore = starts();
        QProcess *app = start();
        QTRY_COMPARE_WITH_TIMEOUT(starts(), startsBefore + 1, 30000);
        QVERIFY(!held.isEmpty()); // it did ask
        QTest::qWait(500);
        QCOMPARE(app->state(), QProcess::Running);
        QVERIFY(logged("gave no valid answer") > 0);
    }

    // Two rounds: a running copy takes the hand-over (and says so in its log) while the second start
    // ends at once with status 0; after the first copy crashed, its socket left behind does not
    // stop the next start from running, and that one takes hand-overs in turn.
    void secondStartHandsOver()
    {
        QVERIFY(TestEnv::writeFile(Settings::filePath(), R"({"check_updates":false,"first_run_done":true})"));
        const QByteArray shown = "Another start asked for the window";
        const int startsBefore = starts(), shownBefore = logged(shown); // by the tests before
        for (int round = 1; round <= 2; ++round) {
            QProcess *first = start();
            QTRY_COMPARE_WITH_TIMEOUT(starts(), startsBefore + round, 30000);
            QProcess *second = start();
            QVERIFY(second->waitForFinished(30000));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(logged(shown), shownBefore + round, 10000);
            QCOMPARE(starts(), startsBefore + round); // the second never got as far as logging
            QCOMPARE(first->state(), QProcess::Running);
            first->kill(); // SIGKILL, or TerminateProcess: nothing of ours runs on the way out
            QVERIFY(first->waitForFinished(10000));
            QVERIFY(!TestEnv::unixFiles || QFileInfo::exists(socketPath())); // a Unix socket is left behind
        }
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
