#include "base/processtree.h"
#include "testenv.h"

#include <QProcess>

class TestProcessTree : public QObject
{
    Q_OBJECT

    static qint64 grandchild()
    {
        return TestEnv::readFile(TestEnv::root().path() + "/grandchild.pid").trimmed().toLongLong();
    }
    // Starts a tool under the tree; it starts a grandchild that records its pid, then waits or exits
    // at once. The grandchild may leave the tool's group and session (setsid), as daemons do.
    static bool startTree(QProcess &process, ProcessTree &tree, bool waits, bool ownSession = false)
    {
        process.start(TestEnv::writeTool(
            "tree", QStringLiteral("%1sleep 300 & echo $! > '%2/grandchild.pid'\n%3")
                        .arg(ownSession ? "setsid " : "", TestEnv::root().path(), waits ? "wait" : "exit 0")
                        .toUtf8()));
        if (!process.waitForStarted(5000))
            return false;
        tree.started();
        return QTest::qWaitFor([] { return grandchild() > 0; }, 5000);
    }

private slots:
    void init() { QFile::remove(TestEnv::root().path() + "/grandchild.pid"); }

    // Killing ends the grandchild too, whether its parent still runs or has exited; so does the
    // end of the tree object.
    void killsTheWholeTree_data()
    {
        QTest::addColumn<bool>("parentWaits");
        QTest::addColumn<bool>("byDestructor");
        QTest::addColumn<bool>("ownSession");
        QTest::newRow("parent running") << true << false << false;
        QTest::newRow("parent gone") << false << false << false;
        QTest::newRow("tree destroyed") << false << true << false;
#ifdef Q_OS_LINUX
        QTest::newRow("own session, parent running") << true << false << true;
        QTest::newRow("own session, parent gone") << false << false << true;
        QTest::newRow("own session, tree destroyed") << false << true << true;
#endif
    }
    void killsTheWholeTree()
    {
        QFETCH(bool, parentWaits);
        QFETCH(bool, byDestructor);
        QFETCH(bool, ownSession);
        QProcess process;
        auto tree = std::make_unique<ProcessTree>(&process);
        QVERIFY(startTree(process, *tree, parentWaits, ownSession));
        QVERIFY(TestEnv::processAlive(grandchild()));
        if (parentWaits)
            QCOMPARE(process.state(), QProcess::Running);
        else
            QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 5000);
        if (byDestructor)
            tree.reset();
        else
            tree->kill();
        QVERIFY(process.waitForFinished(5000) || !parentWaits);
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(grandchild()), 5000);
    }

    // After shutdown, live trees are killed and trees that start later die at once.
    void shutdownKillsLiveAndLaterTrees()
    {
        QProcess first;
        ProcessTree firstTree(&first);
        QVERIFY(startTree(first, firstTree, true));
        ProcessTree::shutdown();
        QVERIFY(ProcessTree::isShuttingDown());
        QVERIFY(first.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(grandchild()), 5000);

        QProcess later;
        ProcessTree laterTree(&later);
        later.start(QStringLiteral("/bin/sleep"), {QStringLiteral("300")});
        QVERIFY(later.waitForStarted(5000));
        laterTree.started();
        QVERIFY(later.waitForFinished(5000));
        QCOMPARE(later.exitStatus(), QProcess::CrashExit);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestProcessTree)
#include "tst_processtree.moc"
