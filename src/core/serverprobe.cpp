#include "core/serverprobe.h"

#include "base/processtree.h"
#include "core/mcpserver.h"
#include "version.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

const QString s_stateless = QStringLiteral("2026-07-28");
constexpr int s_quoteChars = 200;
constexpr int s_stderrLineChars = 500;
constexpr qsizetype s_stderrPartialBytes = 8192;
constexpr int s_killWaitMs = 1000;      // reaping a process after SIGKILL
constexpr int s_terminateGraceMs = 500; // from SIGTERM to SIGKILL

QString quoted(const QString &text, int limit)
{
    const QString simple = text.simplified();
    return QStringLiteral("“%1”").arg(simple.size() > limit ? simple.left(limit) + QStringLiteral("…") : simple);
}

QString seconds(qint64 ms)
{
    if (ms < 100)
        return QStringLiteral("under 0.1 s"); // not "0.0 s", which reads as no time or a broken clock
    return QString::number(double(ms) / 1000.0, 'f', ms < 10000 ? 1 : 0) + QStringLiteral(" s");
}

// uv colours its output and may redraw progress with escape sequences.
QString withoutEscapes(const QString &text)
{
    static const QRegularExpression escapes(QStringLiteral("\x1b(\\[[0-?]*[ -/]*[@-~]|[@-Z\\\\-_])"));
    QString clean = text;
    clean.remove(escapes);
    return clean;
}

bool isJsonRpcMessage(const QJsonObject &message)
{
    return message.value(QLatin1String("jsonrpc")).toString() == QLatin1String("2.0") &&
           (message.contains(QLatin1String("method")) || message.contains(QLatin1String("result")) ||
            message.contains(QLatin1String("error")));
}

// "Unsupported protocol version (code -32602; it supports 2024-11-05)"
QString describeError(const QJsonObject &error)
{
    QString text = error.value(QLatin1String("message")).toString().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("an error without a message");
    QString details = QStringLiteral("code %1").arg(error.value(QLatin1String("code")).toInteger());
    const QJsonArray supported =
        error.value(QLatin1String("data")).toObject().value(QLatin1String("supported")).toArray();
    QStringList versions;
    for (const QJsonValue version : supported)
        versions << version.toString();
    if (!versions.isEmpty())
        details += QStringLiteral("; it supports ") + versions.join(QStringLiteral(", "));
    return QStringLiteral("%1 (%2)").arg(text, details);
}

} // namespace

// One started server: the process, its tree and what it wrote so far.
struct ServerProbe::Server
{
    QProcess process;
    std::unique_ptr<ProcessTree> tree; // destroyed before the process
    bool treeStarted = false;
    QTimer grace; // closing: from the end of its input to being ended
    bool terminated = false;
    bool released = false; // its deletion is queued

    QByteArray stdoutBuffer; // an incomplete line
    qsizetype scanFrom = 0;  // where the search for its end resumes
    qint64 stdoutTotal = 0;

    QByteArray stderrPartial;
    QStringList stderrLines;      // the last StderrTailLines non-empty lines
    bool lastLineRedrawn = false; // ended by a lone carriage return: the next line replaces it

    Server() : tree(std::make_unique<ProcessTree>(&process)) {}

    void startTree()
    {
        if (!treeStarted && process.processId() > 0) {
            tree->started();
            treeStarted = true;
        }
    }

    void addStderrLine(const QByteArray &bytes, bool redrawn)
    {
        QString line = withoutEscapes(QString::fromUtf8(bytes)).trimmed();
        if (line.isEmpty()) {
            // The second half of "\r\n": the line before was ended properly after all.
            if (!redrawn)
                lastLineRedrawn = false;
            return;
        }
        if (line.size() > s_stderrLineChars)
            line = line.left(s_stderrLineChars) + QStringLiteral("…");
        if (lastLineRedrawn && !stderrLines.isEmpty())
            stderrLines.last() = line;
        else
            stderrLines << line;
        while (stderrLines.size() > StderrTailLines)
            stderrLines.removeFirst();
        lastLineRedrawn = redrawn;
    }

    void readStderr()
    {
        stderrPartial += process.readAllStandardError();
        qsizetype start = 0;
        for (qsizetype i = 0; i < stderrPartial.size(); ++i) {
            const char c = stderrPartial.at(i);
            if (c != '\n' && c != '\r')
                continue;
            const bool crlf = c == '\r' && i + 1 < stderrPartial.size() && stderrPartial.at(i + 1) == '\n';
            addStderrLine(stderrPartial.mid(start, i - start), c == '\r' && !crlf);
            if (crlf)
                ++i;
            start = i + 1;
        }
        stderrPartial.remove(0, start);
        if (stderrPartial.size() > s_stderrPartialBytes) {
            addStderrLine(stderrPartial, false);
            stderrPartial.clear();
        }
    }

    [[nodiscard]] QString currentPartial() const
    {
        return withoutEscapes(QString::fromUtf8(stderrPartial)).trimmed().left(s_stderrLineChars);
    }

    [[nodiscard]] QStringList stderrTail() const
    {
        QStringList tail = stderrLines;
        const QString partial = currentPartial();
        if (!partial.isEmpty())
            tail << partial;
        while (tail.size() > StderrTailLines)
            tail.removeFirst();
        return tail;
    }

    // Ends the tree at once and reaps the child; for destruction and quitting.
    void killNow()
    {
        QObject::disconnect(&process, nullptr, nullptr, nullptr);
        grace.stop();
        tree->kill();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(s_killWaitMs);
        }
    }
};

ServerProbe::ServerProbe(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<ServerProbeResult>();
    m_limitTimer.setSingleShot(true);
    connect(&m_limitTimer, &QTimer::timeout, this, [this] {
        QString message;
        const QString limit = seconds(m_timeLimitMs);
        if (m_stage == Stage::Tools)
            message = QStringLiteral("The server answered but did not list its tools within %1.").arg(limit);
        else if (m_stage == Stage::Discover)
            message =
                QStringLiteral("The server refused the handshake (%1) and did not answer server/discover within %2.")
                    .arg(m_initializeError, limit);
        else
            message = QStringLiteral("The server did not answer within %1. A first start downloads the server and "
                                     "perhaps a Python, which takes longer on a slow connection; uv keeps what it has "
                                     "downloaded, so testing again continues from there.")
                          .arg(limit);
        const QString last = lastStderrLine();
        if (!last.isEmpty())
            message += QStringLiteral("\nLast line of its standard error: ") + quoted(last, s_stderrLineChars);
        fail(ServerProbeResult::Failure::NoAnswer, message);
    });
    m_tickTimer.setInterval(1000);
    connect(&m_tickTimer, &QTimer::timeout, this, [this] { emit progress(elapsedMs(), lastStderrLine()); });
    // The event loop is about to end: no time is left for a graceful shutdown.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &ServerProbe::killAll);
}

ServerProbe::~ServerProbe()
{
    if (m_server)
        m_server->killNow();
    for (const auto &server : m_closing)
        server->killNow();
}

QStringList ServerProbe::knownProtocolVersions()
{
    return {QStringLiteral("2025-11-25"), QStringLiteral("2025-06-18"), QStringLiteral("2025-03-26"),
            QStringLiteral("2024-11-05")};
}

qint64 ServerProbe::elapsedMs() const
{
    return m_running ? m_clock.elapsed() : m_result.totalMs;
}

QString ServerProbe::lastStderrLine() const
{
    if (!m_server)
        return m_result.stderrTail.isEmpty() ? QString() : m_result.stderrTail.last();
    QString partial = m_server->currentPartial();
    if (!partial.isEmpty())
        return partial;
    return m_server->stderrLines.isEmpty() ? QString() : m_server->stderrLines.last();
}

bool ServerProbe::start(const QString &permissionMode)
{
    if (m_running) {
        m_lastError = QStringLiteral("A server test is already running.");
        return false;
    }
    m_lastError.clear();
    m_running = true;
    m_result = ServerProbeResult();
    m_stage = Stage::Initialize;
    m_stateless = false;
    m_pendingId = 0;
    m_initializeError.clear();
    m_lastCursor.clear();
    m_clock.start();
    m_limitTimer.start(m_timeLimitMs);
    m_tickTimer.start();
    ++m_generation;

    const QString uvx = QStandardPaths::findExecutable(McpServer::program());
    if (uvx.isEmpty()) {
        QString path = qEnvironmentVariable("PATH");
        if (path.isEmpty())
            path = QStringLiteral("(empty)");
        failLater(ServerProbeResult::Failure::NotFound,
                  QStringLiteral("uvx was not found on the PATH. It comes with uv: install uv (see the "
                                 "prerequisites), then test again.\nPATH searched: %1")
                      .arg(path));
        return true;
    }

    m_server = std::make_unique<Server>();
    Server *server = m_server.get();
    QProcess &process = server->process;
    QProcessEnvironment environment = process.processEnvironment(); // holds the tree's mark
    if (environment.isEmpty())
        environment = QProcessEnvironment::systemEnvironment();
    environment.insert(McpServer::modeVariable(), permissionMode);
    process.setProcessEnvironment(environment);
    process.setProgram(uvx);
    process.setArguments({McpServer::name()});

    connect(&process, &QProcess::started, this, [server] { server->startTree(); });
    connect(&process, &QProcess::readyReadStandardOutput, this, [this, server] {
        if (server == m_server.get())
            readStdout();
        else
            server->process.readAllStandardOutput(); // closing: keep its pipe flowing
    });
    connect(&process, &QProcess::readyReadStandardError, this, [server] { server->readStderr(); });
    connect(&process, &QProcess::finished, this, [this, server](int exitCode, QProcess::ExitStatus status) {
        if (server == m_server.get()) {
            onExited(exitCode, status != QProcess::NormalExit);
        } else {
            // Closing: the server is gone, whatever it started goes with it.
            server->grace.stop();
            server->tree->kill();
            release(server);
        }
    });
    connect(&process, &QProcess::errorOccurred, this, [this, server](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || m_starting)
            return;
        if (server == m_server.get())
            fail(ServerProbeResult::Failure::StartFailed, startFailedMessage());
        // No finished signal follows a failed start.
        server->grace.stop();
        release(server);
    });
    connect(&server->grace, &QTimer::timeout, this, [server] {
        // Still running after the end of its input: ask the whole tree to end, then end it. The
        // finished signal then releases it.
        if (server->terminated) {
            server->tree->kill();
        } else {
            server->terminated = true;
            server->tree->terminate();
            server->grace.start(s_terminateGraceMs);
        }
    });

    m_starting = true;
    process.start(QIODevice::ReadWrite);
    m_starting = false;
    if (process.state() == QProcess::NotRunning) { // failed within start(), a fork failure say
        failLater(ServerProbeResult::Failure::StartFailed, startFailedMessage());
        return true;
    }
    // The fork has happened: the group exists from here, so a cancel at once still reaches it.
    server->startTree();

    sendRequest(QStringLiteral("initialize"),
                QJsonObject{{QStringLiteral("protocolVersion"), knownProtocolVersions().first()},
                            {QStringLiteral("capabilities"), QJsonObject()},
                            {QStringLiteral("clientInfo"), clientInfo()}});
    return true;
}

void ServerProbe::cancel()
{
    if (m_running)
        fail(ServerProbeResult::Failure::Cancelled, QStringLiteral("The server test was cancelled."));
}

QJsonObject ServerProbe::clientInfo()
{
    return {{QStringLiteral("name"), QLatin1String(Tavrin::DisplayName)},
            {QStringLiteral("version"), QLatin1String(Tavrin::Version)}};
}

QJsonObject ServerProbe::statelessMeta()
{
    return {{QStringLiteral("io.modelcontextprotocol/protocolVersion"), s_stateless},
            {QStringLiteral("io.modelcontextprotocol/clientInfo"), clientInfo()},
            {QStringLiteral("io.modelcontextprotocol/clientCapabilities"), QJsonObject()}};
}

void ServerProbe::sendTo(const QJsonObject &message)
{
    if (!m_server)
        return;
    // Compact JSON escapes every newline inside strings: one message, one line.
    m_server->process.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

void ServerProbe::sendRequest(const QString &method, const QJsonObject &params)
{
    m_pendingId = m_nextId++;
    sendTo({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
            {QStringLiteral("id"), m_pendingId},
            {QStringLiteral("method"), method},
            {QStringLiteral("params"), params}});
}

void ServerProbe::requestTools(const QString &cursor)
{
    QJsonObject params;
    if (!cursor.isEmpty())
        params.insert(QStringLiteral("cursor"), cursor);
    if (m_stateless)
        params.insert(QStringLiteral("_meta"), statelessMeta());
    m_lastCursor = cursor;
    sendRequest(QStringLiteral("tools/list"), params);
}

void ServerProbe::readStdout()
{
    Server *server = m_server.get();
    const QByteArray chunk = server->process.readAllStandardOutput();
    server->stdoutTotal += chunk.size();
    if (server->stdoutTotal > MaxOutputBytes) {
        fail(ServerProbeResult::Failure::ProtocolError,
             QStringLiteral("The server wrote more than %1 MiB in all to standard output; the test stopped there.")
                 .arg(MaxOutputBytes >> 20));
        return;
    }
    QByteArray &buffer = server->stdoutBuffer;
    buffer += chunk;
    qsizetype start = 0;
    bool oversized = false;
    for (;;) {
        const qsizetype end = buffer.indexOf('\n', server->scanFrom);
        if (end < 0)
            break;
        if (end - start > MaxLineBytes) {
            oversized = true;
            break;
        }
        const QByteArray line = buffer.mid(start, end - start);
        start = end + 1;
        server->scanFrom = start;
        const quint64 generation = m_generation;
        handleLine(line);
        if (!isCurrent(generation))
            return; // the test is over (and another may have started from the finished signal)
    }
    buffer.remove(0, start);
    server->scanFrom = buffer.size();
    if (oversized || buffer.size() > MaxLineBytes)
        fail(ServerProbeResult::Failure::ProtocolError,
             QStringLiteral("The server wrote a line of more than %1 MiB to standard output; the test stopped there.")
                 .arg(MaxLineBytes >> 20));
}

void ServerProbe::handleLine(const QByteArray &raw)
{
    QByteArray line = raw;
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.trimmed().isEmpty())
        return;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    QList<QJsonObject> messages;
    bool valid = parseError.error == QJsonParseError::NoError;
    if (valid && document.isObject()) {
        messages << document.object();
    } else if (valid && document.isArray() && !document.array().isEmpty()) {
        // A batch (allowed by 2025-03-26).
        for (const QJsonValue value : document.array())
            messages << value.toObject();
    } else {
        valid = false;
    }
    for (const QJsonObject &message : std::as_const(messages))
        valid = valid && isJsonRpcMessage(message);
    if (!valid) {
        fail(ServerProbeResult::Failure::NotMcp,
             QStringLiteral("The server wrote a line to standard output that is not an MCP message: %1\n"
                            "An MCP server must write only JSON-RPC messages there and log to standard error; "
                            "AI clients reject such a server too.")
                 .arg(quoted(QString::fromUtf8(line), s_quoteChars)));
        return;
    }
    const quint64 generation = m_generation;
    for (const QJsonObject &message : std::as_const(messages)) {
        handleMessage(message);
        if (!isCurrent(generation))
            return;
    }
}

void ServerProbe::handleMessage(const QJsonObject &message)
{
    const QJsonValue id = message.value(QLatin1String("id"));
    if (message.contains(QLatin1String("method"))) {
        if (!message.contains(QLatin1String("id")))
            return; // a notification: nothing to answer
        // A request of the server's own. The probe offers no capabilities; ping is always answered.
        if (message.value(QLatin1String("method")).toString() == QLatin1String("ping"))
            sendTo({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("result"), QJsonObject()}});
        else
            sendTo({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("error"),
                     QJsonObject{{QStringLiteral("code"), -32601},
                                 {QStringLiteral("message"), QStringLiteral("Method not found")}}}});
        return;
    }

    const QJsonObject error = message.value(QLatin1String("error")).toObject();
    if (id.isNull() && message.contains(QLatin1String("error"))) {
        // The server could not read one of our messages.
        fail(ServerProbeResult::Failure::ProtocolError,
             QStringLiteral("The server rejected a message of the test: %1").arg(describeError(error)));
        return;
    }
    if (!id.isDouble() || id.toInteger() != m_pendingId)
        return; // an answer to nothing we are waiting for
    m_pendingId = 0;
    if (m_result.firstAnswerMs < 0)
        m_result.firstAnswerMs = m_clock.elapsed();
    if (message.contains(QLatin1String("error")))
        handleError(error);
    else if (message.value(QLatin1String("result")).isObject())
        handleResult(message.value(QLatin1String("result")).toObject());
    else
        fail(ServerProbeResult::Failure::ProtocolError,
             QStringLiteral("The server's answer to the test holds no result object."));
}

void ServerProbe::handleResult(const QJsonObject &result)
{
    if (m_stage == Stage::Tools) {
        const QJsonValue tools = result.value(QLatin1String("tools"));
        if (!tools.isArray()) {
            fail(ServerProbeResult::Failure::ProtocolError,
                 QStringLiteral("The server's list of tools is malformed: it holds no “tools” array."));
            return;
        }
        m_result.toolCount += int(tools.toArray().size());
        const QString cursor = result.value(QLatin1String("nextCursor")).toString();
        if (cursor.isEmpty()) {
            succeed();
        } else if (cursor == m_lastCursor) {
            fail(ServerProbeResult::Failure::ProtocolError,
                 QStringLiteral("The server's list of tools never ends: it repeats the page cursor %1.")
                     .arg(quoted(cursor, s_quoteChars)));
        } else {
            requestTools(cursor);
        }
        return;
    }

    if (m_stage == Stage::Initialize) {
        const QString version = result.value(QLatin1String("protocolVersion")).toString();
        if (!knownProtocolVersions().contains(version)) {
            fail(ServerProbeResult::Failure::ProtocolError,
                 QStringLiteral("The server speaks MCP protocol version %1, which Tavrin Desktop does not know (it "
                                "knows %2). Update Tavrin Desktop, or use a version of the server that speaks one "
                                "of these.")
                     .arg(quoted(version.isEmpty() ? QStringLiteral("(none)") : version, s_quoteChars),
                          knownProtocolVersions().join(QStringLiteral(", "))));
            return;
        }
        m_result.protocolVersion = version;
        sendTo({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                {QStringLiteral("method"), QStringLiteral("notifications/initialized")}});
    } else {
        const QJsonArray supported = result.value(QLatin1String("supportedVersions")).toArray();
        if (!supported.isEmpty() && !supported.contains(s_stateless)) {
            QStringList versions;
            for (const QJsonValue value : supported)
                versions << value.toString();
            fail(ServerProbeResult::Failure::ProtocolError,
                 QStringLiteral("The server speaks only MCP protocol versions %1, which Tavrin Desktop does not know.")
                     .arg(versions.join(QStringLiteral(", "))));
            return;
        }
        m_result.protocolVersion = s_stateless;
        m_stateless = true;
    }
    const QJsonObject serverInfo = result.value(QLatin1String("serverInfo")).toObject();
    m_result.serverName = serverInfo.value(QLatin1String("name")).toString();
    m_result.serverVersion = serverInfo.value(QLatin1String("version")).toString();
    m_stage = Stage::Tools;
    requestTools(QString());
}

void ServerProbe::handleError(const QJsonObject &error)
{
    switch (m_stage) {
    case Stage::Initialize:
        // Any refusal may come from a server of the stateless revision, which has no handshake.
        m_initializeError = describeError(error);
        m_stage = Stage::Discover;
        sendRequest(QStringLiteral("server/discover"), {{QStringLiteral("_meta"), statelessMeta()}});
        break;
    case Stage::Discover: {
        QString message = QStringLiteral("The server refused to start a session: %1").arg(m_initializeError);
        const QString discoverError = describeError(error);
        if (discoverError != m_initializeError)
            message += QStringLiteral("; server/discover: ") + discoverError;
        fail(ServerProbeResult::Failure::ProtocolError, message);
        break;
    }
    case Stage::Tools:
        fail(ServerProbeResult::Failure::ProtocolError,
             QStringLiteral("The server could not list its tools: %1").arg(describeError(error)));
        break;
    }
}

void ServerProbe::onExited(int exitCode, bool crashed)
{
    m_server->readStderr();
    m_result.exitCode = crashed ? -1 : exitCode;
    QString message = crashed ? QStringLiteral("The server was ended by a signal")
                              : QStringLiteral("The server exited with code %1").arg(exitCode);
    message += m_result.firstAnswerMs < 0 ? QStringLiteral(" before it answered.")
                                          : QStringLiteral(" before it had listed its tools.");
    const QStringList tail = m_server->stderrTail();
    if (tail.isEmpty())
        message += QStringLiteral(" It wrote nothing to standard error.");
    else
        message += QStringLiteral("\nThe last lines of its standard error:\n") + tail.join(QLatin1Char('\n'));
    fail(ServerProbeResult::Failure::ExitedEarly, message);
}

QString ServerProbe::startFailedMessage() const
{
    return QStringLiteral("uvx was found at %1 but could not be started: %2")
        .arg(m_server->process.program(), m_server->process.errorString());
}

void ServerProbe::succeed()
{
    m_result.success = true;
    QStringList parts;
    parts << QStringLiteral("Started in %1").arg(seconds(m_result.firstAnswerMs));
    parts << (m_result.toolCount == 1 ? QStringLiteral("1 tool") : QStringLiteral("%1 tools").arg(m_result.toolCount));
    parts << QStringLiteral("protocol %1").arg(m_result.protocolVersion);
    const QString server = QStringList{m_result.serverName, m_result.serverVersion}.join(QLatin1Char(' ')).trimmed();
    if (!server.isEmpty())
        parts << server;
    m_result.message = parts.join(QStringLiteral(" · "));
    finish();
}

void ServerProbe::fail(ServerProbeResult::Failure failure, const QString &message)
{
    m_result.success = false;
    m_result.failure = failure;
    m_result.message = message;
    finish();
}

// For outcomes known within start(): reported from the event loop, as every other outcome is.
void ServerProbe::failLater(ServerProbeResult::Failure failure, const QString &message)
{
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, failure, message] {
            if (isCurrent(generation))
                fail(failure, message);
        },
        Qt::QueuedConnection);
}

void ServerProbe::finish()
{
    m_running = false;
    m_limitTimer.stop();
    m_tickTimer.stop();
    m_result.totalMs = m_clock.elapsed();
    if (m_server) {
        m_result.stderrTail = m_server->stderrTail();
        shutDown(std::move(m_server));
    }
    emit finished(m_result);
}

// As MCP asks: the end of its input first, then a grace period, then the whole tree ends.
void ServerProbe::shutDown(std::unique_ptr<Server> server)
{
    Server *raw = server.get();
    m_closing.push_back(std::move(server));
    if (raw->process.state() == QProcess::NotRunning) {
        raw->tree->kill();
        release(raw);
        return;
    }
    raw->process.closeWriteChannel();
    raw->grace.setSingleShot(true);
    raw->grace.start(ShutdownGraceMs);
}

// Deletes a closed server from the event loop: it may be inside one of its process's signals.
void ServerProbe::release(Server *server)
{
    if (server->released)
        return;
    server->released = true;
    QMetaObject::invokeMethod(
        this,
        [this, server] {
            for (auto it = m_closing.begin(); it != m_closing.end(); ++it) {
                if (it->get() == server) {
                    m_closing.erase(it);
                    return;
                }
            }
        },
        Qt::QueuedConnection);
}

void ServerProbe::killAll()
{
    if (m_server)
        m_server->killNow();
    for (const auto &server : m_closing)
        server->killNow();
    if (m_running)
        fail(ServerProbeResult::Failure::Cancelled, QStringLiteral("The server test ended as Tavrin Desktop quit."));
}
