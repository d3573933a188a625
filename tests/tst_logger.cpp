#include "logger.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {

const QRegularExpression
    s_lineShape(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} \[(DEBUG|INFO |WARN |ERROR|FATAL)\] .*$)"));

// Sends standard error to a file for the lifetime of the object.
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path)
    {
        std::fflush(stderr);
        m_saved = dup(fileno(stderr));
        m_ok = std::freopen(path.toLocal8Bit().constData(), "w", stderr) != nullptr;
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        dup2(m_saved, fileno(stderr));
        close(m_saved);
    }
    bool ok() const { return m_ok; }

private:
    int m_saved = -1;
    bool m_ok = false;
};

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

    QtMessageHandler m_testHandler = nullptr;
    QString logPath() const { return Logger::logFilePath(); }
    QStringList logLines() const
    {
        return QString::fromUtf8(TestEnv::readFile(logPath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void init()
    {
        m_testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(m_testHandler);
        QDir(TestEnv::dataHome() + QLatin1String("/Tavrin")).removeRecursively();
    }
    void cleanup() { qInstallMessageHandler(m_testHandler); }

    void pathIsFixed()
    {
        QCOMPARE(Logger::logFilePath(), TestEnv::dataHome() + QLatin1String("/Tavrin/logs/tavrin.log"));
    }

    void linesCarryLevelAndOptionalLocation()
    {
        Logger::install();
        QVERIFY(QFile::exists(logPath()));
        QMessageLogger(nullptr, 0, nullptr).info("plain info");
        QMessageLogger(nullptr, 0, nullptr).warning("a warning");
        QMessageLogger(nullptr, 0, nullptr).critical("a critical");
        QMessageLogger(nullptr, 0, nullptr).debug("a debug");
        QMessageLogger("engine.cpp", 42, "f").warning("located");
        QMessageLogger(nullptr, 0, nullptr).info("%s", "unicode \xe2\x9c\x93 text");
        qInstallMessageHandler(m_testHandler);

        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 6);
        for (const QString &line : lines)
            QVERIFY2(s_lineShape.match(line).hasMatch(), qPrintable(line));
        QVERIFY(lines[0].endsWith(QLatin1String(" [INFO ] plain info")));
        QVERIFY(lines[1].endsWith(QLatin1String(" [WARN ] a warning")));
        QVERIFY(lines[2].endsWith(QLatin1String(" [ERROR] a critical")));
        QVERIFY(lines[3].endsWith(QLatin1String(" [DEBUG] a debug")));
        QVERIFY(lines[4].endsWith(QLatin1String(" [WARN ] located (engine.cpp:42)")));
        QVERIFY(lines[5].endsWith(QString::fromUtf8(" [INFO ] unicode \xe2\x9c\x93 text")));
    }

    void rotationAtStartOnly_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("exactly 2 MiB stays") << qint64(2097152) << false;
        QTest::newRow("one byte more rotates") << qint64(2097153) << true;
        QTest::newRow("small stays") << qint64(10) << false;
    }
    void rotationAtStartOnly()
    {
        QFETCH(qint64, size);
        QFETCH(bool, rotated);
        const QByteArray old(size, 'x');
        QVERIFY(TestEnv::writeFile(logPath(), old));
        QVERIFY(TestEnv::writeFile(logPath() + QLatin1String(".old"), "previous generation"));

        Logger::install();
        QMessageLogger(nullptr, 0, nullptr).info("Tavrin Desktop 1.0.1 starting");
        qInstallMessageHandler(m_testHandler);

        const QByteArray current = TestEnv::readFile(logPath());
        if (rotated) {
            QCOMPARE(TestEnv::readFile(logPath() + QLatin1String(".old")), old);
            QVERIFY(current.endsWith(" [INFO ] Tavrin Desktop 1.0.1 starting\n"));
            QCOMPARE(current.count('\n'), 1);
        } else {
            // ".old" goes at every start, rotation or not; the log is appended to.
            QVERIFY(!QFile::exists(logPath() + QLatin1String(".old")));
            QVERIFY(current.startsWith(old));
            QVERIFY(current.endsWith(" [INFO ] Tavrin Desktop 1.0.1 starting\n"));
        }
    }

    void concurrentThreadsWriteWholeLines()
    {
        const QString echoPath = TestEnv::root().path() + QLatin1String("/stderr.txt");
        constexpr int threads = 4;
        constexpr int perThread = 400;
        {
            StderrCapture capture(echoPath);
            QVERIFY(capture.ok());
            Logger::install();
            QList<QThread *> workers;
            for (int t = 0; t < threads; ++t) {
                workers << QThread::create([t] {
                    for (int i = 0; i < perThread; ++i)
                        QMessageLogger(nullptr, 0, nullptr)
                            .info("thread %d line %d %s", t, i, "padding-padding-padding");
                });
                workers.last()->start();
            }
            for (QThread *w : workers) {
                QVERIFY(w->wait(30000));
                delete w;
            }
            qInstallMessageHandler(m_testHandler);
        }
        for (const QString &path : {logPath(), echoPath}) {
            const QStringList lines =
                QString::fromUtf8(TestEnv::readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), threads * perThread);
            QSet<QString> seen;
            for (const QString &line : lines) {
                QVERIFY2(s_lineShape.match(line).hasMatch(), qPrintable(line));
                QVERIFY(line.endsWith(QLatin1String(" padding-padding-padding")));
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
        QtMessageHandler current = qInstallMessageHandler(m_testHandler);
        QVERIFY(current == m_testHandler);
        QVERIFY(!QFile::exists(logPath()));
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
