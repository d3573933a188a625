#pragma once

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <vector>

class QJsonObject;

// The outcome of one server test.
struct ServerProbeResult
{
    enum class Failure {
        None,          // success
        NotFound,      // uvx is not on the PATH
        StartFailed,   // uvx was found but could not be started
        ExitedEarly,   // the server ended before the test was through
        NotMcp,        // something other than a JSON-RPC message on standard output
        NoAnswer,      // no complete answer within the time limit
        ProtocolError, // the server refused, answered nonsense or wrote too much
        Cancelled,
    };

    bool success = false;
    Failure failure = Failure::None;
    qint64 firstAnswerMs = -1; // from start() to the server's first answer; -1 when none came
    qint64 totalMs = 0;        // from start() to the result
    QString protocolVersion;   // the revision spoken, e.g. "2025-11-25" or "2026-07-28"
    QString serverName;        // serverInfo.name and .version, as the server gave them
    QString serverVersion;
    int toolCount = 0;
    int exitCode = -1;      // ExitedEarly after a normal exit
    QString message;        // one line on success ("Started in 1.4 s · 345 tools · …"), else what to do
    QStringList stderrTail; // the last lines of standard error (at most 20)
};
Q_DECLARE_METATYPE(ServerProbeResult)

// Starts the MCP server exactly as every client registration does ("uvx tavrin" with the
// permission mode in its environment), speaks MCP with it over standard input and output, counts
// its tools and shuts it down again. Runs on the thread it lives on, driven by QProcess signals:
// nothing blocks. The server and every process it starts end with the test, when it is cancelled,
// when this object is destroyed and when the application quits.
class ServerProbe : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeLimitMs = 300000; // a first start downloads the package and perhaps a Python
    static constexpr int ShutdownGraceMs = 2000;      // after closing its input, before the server is ended
    static constexpr int StderrTailLines = 20;
    static constexpr qint64 MaxLineBytes = qint64(16) << 20;
    static constexpr qint64 MaxOutputBytes = qint64(64) << 20;

    explicit ServerProbe(QObject *parent = nullptr);
    ~ServerProbe() override;

    // Starts a test; finished() follows exactly once, never from within this call. False (with
    // lastError()) when a test is already running. A slot connected to finished() may start the
    // next test; it must not delete the probe other than with deleteLater().
    [[nodiscard]] bool start(const QString &permissionMode);
    // Ends a running test at once: finished() reports Cancelled, and the server is shut down.
    void cancel();

    [[nodiscard]] bool isRunning() const { return m_running; }
    [[nodiscard]] qint64 elapsedMs() const;
    // The last non-empty line the server wrote to standard error so far (uv's download progress).
    [[nodiscard]] QString lastStderrLine() const;
    [[nodiscard]] const ServerProbeResult &lastResult() const { return m_result; }
    [[nodiscard]] QString lastError() const { return m_lastError; }

    // Time limit for the whole test, start to last answer (the command line's --timeout; tests).
    void setTimeLimit(int ms) { m_timeLimitMs = ms; }

    // The protocol revisions the handshake accepts, newest first.
    [[nodiscard]] static QStringList knownProtocolVersions();

signals:
    // Once a second while a test runs: for showing the elapsed time and uv's progress.
    void progress(qint64 elapsedMs, const QString &lastStderrLine);
    void finished(const ServerProbeResult &result);

private:
    struct Server;
    enum class Stage { Initialize, Discover, Tools };

    void readStdout();
    void handleLine(const QByteArray &line);
    void handleMessage(const QJsonObject &message);
    void handleResult(const QJsonObject &result);
    void handleError(const QJsonObject &error);
    void sendRequest(const QString &method, const QJsonObject &params);
    void sendTo(const QJsonObject &message);
    void requestTools(const QString &cursor);
    [[nodiscard]] static QJsonObject clientInfo();
    [[nodiscard]] static QJsonObject statelessMeta();
    void onExited(int exitCode, bool crashed);
    [[nodiscard]] QString startFailedMessage() const;
    [[nodiscard]] bool isCurrent(quint64 generation) const { return m_running && generation == m_generation; }

    void succeed();
    void fail(ServerProbeResult::Failure failure, const QString &message);
    void failLater(ServerProbeResult::Failure failure, const QString &message);
    void finish();
    void shutDown(std::unique_ptr<Server> server);
    void release(Server *server);
    void killAll();

    std::unique_ptr<Server> m_server;               // the server under test
    std::vector<std::unique_ptr<Server>> m_closing; // servers given their grace to exit
    bool m_running = false;
    bool m_starting = false;  // inside QProcess::start()
    quint64 m_generation = 0; // tells a queued outcome of an earlier test from the current one
    int m_timeLimitMs = DefaultTimeLimitMs;
    QElapsedTimer m_clock;
    QTimer m_limitTimer;
    QTimer m_tickTimer;
    ServerProbeResult m_result;
    QString m_lastError;

    // Protocol state of the running test.
    Stage m_stage = Stage::Initialize;
    bool m_stateless = false; // every request carries the stateless revision's _meta
    qint64 m_nextId = 1;
    qint64 m_pendingId = 0;
    QString m_initializeError; // kept for the message when server/discover fails too
    QString m_lastCursor;
};
