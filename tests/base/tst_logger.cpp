#include "base/logger.h"
#include "testenv.h"

#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {
const QRegularExpression
    s_lineShape(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} \[(DEBUG|INFO |WARN |ERROR|FATAL)\] .*$)"));
// The log is a text file: lines end as the platform's do.
#ifdef Q_OS_WIN
const QString s_eol = QStringLiteral("\r\n");
#else
const QString s_eol = QStringLiteral("\n");
#endif
QStringList lines(const QString &path)
{
    return QString::fromUtf8(TestEnv::readFile(path)).split(s_eol, Qt::SkipEmptyParts);
}
} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

    QtMessageHandler m_testHandler = nullptr;
    static QString log() { return Logger::logFilePath(); }
    void restoreHandler() { qInstallMessageHandler(m_testHandler); }

private slots:
    void init()
    {
        m_testHandler = qInstallMessageHandler(nullptr);
        Logger::uninstall(); // the last test's log file is open
        restoreHandler();
        QVERIFY(QDir(TestEnv::dataHome() + QLatin1String("/Tavrin")).removeRecursively());
    }
    void cleanup() { restoreHandler(); }

    void lineFormat()
    {
        QCOMPARE(log(), TestEnv::dataHome() + QLatin1String("/Tavrin/logs/tavrin.log"));
        Logger::install();
        QMessageLogger(nullptr, 0, nullptr).info("plain info");
        QMessageLogger(nullptr, 0, nullptr).warning("a warning");
        QMessageLogger(nullptr, 0, nullptr).critical("a critical");
        QMessageLogger(nullptr, 0, nullptr).debug("a debug");
        QMessageLogger("engine.cpp", 42, "f").warning("located");
        QMessageLogger(nullptr, 0, nullptr).info("unicode \xe2\x9c\x93");
        restoreHandler();
        const QStringList got = lines(log());
        const QStringList endings = {" [INFO ] plain info",
                                     " [WARN ] a warning",
                                     " [ERROR] a critical",
                                     " [DEBUG] a debug",
                                     " [WARN ] located (engine.cpp:42)",
                                     QString::fromUtf8(" [INFO ] unicode \xe2\x9c\x93")};
        QCOMPARE(got.size(), endings.size());
        for (int i = 0; i < got.size(); ++i)
            QVERIFY2(s_lineShape.match(got[i]).hasMatch() && got[i].endsWith(endings[i]), qPrintable(got[i]));
    }

    void rotationAtStart_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("exactly 2 MiB stays") << qint64(2097152) << false;
        QTest::newRow("one byte more rotates") << qint64(2097153) << true;
    }
    void rotationAtStart()
    {
        QFETCH(qint64, size);
        QFETCH(bool, rotated);
        const QByteArray old(size, 'x');
        QVERIFY(TestEnv::writeFile(log(), old));
        QVERIFY(TestEnv::writeFile(log() + QLatin1String(".old"), "previous generation"));
        Logger::install();
        QMessageLogger(nullptr, 0, nullptr).info("Tavrin Desktop 1.0.1 starting");
        restoreHandler();
        const QByteArray current = TestEnv::readFile(log());
        QVERIFY(current.endsWith((" [INFO ] Tavrin Desktop 1.0.1 starting" + s_eol).toUtf8()));
        // ".old" goes at every start; it comes back only as the rotated log.
        QCOMPARE(TestEnv::readFile(log() + QLatin1String(".old")), rotated ? old : QByteArray());
        QCOMPARE(current.startsWith(old), !rotated);
    }

    void threadsWriteWholeLines()
    {
        const QString echo = TestEnv::root().path() + QLatin1String("/stderr.txt");
        constexpr int threads = 4;
        constexpr int perThread = 400;
        std::fflush(stderr);
        const int savedStderr = dup(fileno(stderr));
        QVERIFY(std::freopen(echo.toLocal8Bit().constData(), "w", stderr));
        Logger::install();
        QList<QThread *> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    QMessageLogger(nullptr, 0, nullptr).info("thread %d line %d padding-padding", t, i);
            });
            workers.last()->start();
        }
        for (QThread *w : workers) {
            w->wait();
            delete w;
        }
        restoreHandler();
        std::fflush(stderr);
        dup2(savedStderr, fileno(stderr));
        close(savedStderr);
        for (const QString &path : {log(), echo}) {
            QSet<QString> seen;
            for (const QString &line : lines(path)) {
                QVERIFY2(s_lineShape.match(line).hasMatch() && line.endsWith(QLatin1String(" padding-padding")),
                         qPrintable(line));
                seen.insert(line.section(QLatin1String("] "), 1));
            }
            QCOMPARE(seen.size(), threads * perThread);
        }
    }

    void unusableFolderKeepsDefaultOutput()
    {
        // A plain file where the logs folder belongs: neither mkpath nor open can succeed, even as root.
        QVERIFY(TestEnv::writeFile(TestEnv::dataHome() + QLatin1String("/Tavrin/logs"), "in the way"));
        Logger::install();
        QVERIFY(qInstallMessageHandler(m_testHandler) == m_testHandler);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
