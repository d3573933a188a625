#include "app/singleinstance.h"
#include "base/logger.h"
#include "core/settings.h"
#include "testenv.h"
#include "version.h"

#include <QLocalServer>
#include <QProcess>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
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

private slots:
    void cleanup()
    {
        for (const auto &process : m_processes) {
            process->kill();
            process->waitForFinished(5000);
        }
        m_processes.clear();
        QLocalServer::removeServer(SingleInstance::serverName()); // left by the copy killed last
    }

    // Two rounds: a running copy takes the hand-over (and says so in its log) while the second start
    // ends at once with status 0; after the first copy crashed, its socket left behind does not
    // stop the next start from running, and that one takes hand-overs in turn.
    void secondStartHandsOver()
    {
#ifndef Q_OS_UNIX
        QSKIP("crashes the first copy with SIGKILL");
#else
        QVERIFY(TestEnv::writeFile(Settings::filePath(), R"({"check_updates":false,"first_run_done":true})"));
        const QByteArray starting = QByteArray(Tavrin::DisplayName) + ' ' + Tavrin::Version + " starting";
        const QByteArray shown = "Another start asked for the window";
        for (int round = 1; round <= 2; ++round) {
            QProcess *first = start();
            QTRY_COMPARE_WITH_TIMEOUT(logged(starting), round, 30000);
            QProcess *second = start();
            QVERIFY(second->waitForFinished(30000));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(logged(shown), round, 10000);
            QCOMPARE(logged(starting), round); // the second never got as far as logging
            QCOMPARE(first->state(), QProcess::Running);
            ::kill(pid_t(first->processId()), SIGKILL);
            QVERIFY(first->waitForFinished(10000));
            QVERIFY(QFileInfo::exists(QDir::tempPath() + '/' + SingleInstance::serverName())); // left behind
        }
#endif
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
