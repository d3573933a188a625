// The compiled fake MCP server of fakeserver.h, for the tests that run on every platform (the
// Python one of the same header needs a Unix shell and python3).
// Usage: fakeserver <state folder> <the server's own arguments...>
// It follows <state>/uvx.scenario, one step per line (without the file: "serve"):
//   stderr <text>          writes the text and a line end to standard error
//   hold                   waits while <state>/hold exists (30 s at most)
//   sleep <seconds>        sleeps
//   exit <code>            ends with that code
//   serve [pages] [tools per page] [protocol]
//                          answers initialize (recording in <state>/seen.json its arguments, the
//                          permission mode of its environment and the parameters), then the pages
//                          of tools/list, then reads until the client closes standard input.
// It keeps its process id in <state>/fakeserver.pid. Unexpected input ends it with exit code 3 and the reason on
// standard error. Its standard streams keep the C runtime's text mode, so on Windows it answers with CR LF line ends as
// a Python server there does.

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

QString s_state;

[[noreturn]] void fail(const QByteArray &why)
{
    std::fprintf(stderr, "fake server: %s\n", why.constData());
    std::fflush(stderr);
    std::exit(3);
}

// One message per line; the end of input ends the server quietly, as a real one does.
QJsonObject receive()
{
    std::string line;
    for (int c = std::getchar(); c != '\n'; c = std::getchar()) {
        if (c == EOF)
            std::exit(0);
        line += char(c);
    }
    QJsonParseError error{};
    const QJsonDocument message = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    if (!message.isObject() || message[QLatin1String("jsonrpc")] != QLatin1String("2.0"))
        fail("not a JSON-RPC message: " + QByteArray::fromStdString(line));
    return message.object();
}

QJsonObject expect(const QString &method)
{
    QJsonObject message = receive();
    if (message.value(QLatin1String("method")).toString() != method)
        fail("expected " + method.toUtf8() + ", got " + QJsonDocument(message).toJson(QJsonDocument::Compact));
    return message;
}

void send(const QJsonObject &request, const QJsonObject &result)
{
    const QJsonObject answer{{QLatin1String("jsonrpc"), QLatin1String("2.0")},
                             {QLatin1String("id"), request.value(QLatin1String("id"))},
                             {QLatin1String("result"), result}};
    std::printf("%s\n", QJsonDocument(answer).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

void serve(const QStringList &arguments, int pages, int perPage, const QString &protocol)
{
    const QJsonObject initialize = expect(QStringLiteral("initialize"));
    QFile seen(s_state + QLatin1String("/seen.json"));
    if (!seen.open(QIODevice::WriteOnly))
        fail("cannot write seen.json");
    seen.write(QJsonDocument(QJsonObject{{QLatin1String("argv"), QJsonArray::fromStringList(arguments)},
                                         {QLatin1String("mode"), qEnvironmentVariable("GODOT_MCP_PERMISSION_MODE")},
                                         {QLatin1String("params"), initialize.value(QLatin1String("params"))}})
                   .toJson());
    seen.close();
    send(initialize, {{QLatin1String("protocolVersion"), protocol},
                      {QLatin1String("capabilities"), QJsonObject{{QLatin1String("tools"), QJsonObject()}}},
                      {QLatin1String("serverInfo"), QJsonObject{{QLatin1String("name"), QLatin1String("tavrin")},
                                                                {QLatin1String("version"), QLatin1String("1.2.0")}}}});
    expect(QStringLiteral("notifications/initialized"));
    for (int page = 0; page < pages; ++page) {
        const QJsonObject request = expect(QStringLiteral("tools/list"));
        const QJsonValue cursor = request.value(QLatin1String("params")).toObject().value(QLatin1String("cursor"));
        if (page > 0 ? cursor != QStringLiteral("page-%1").arg(page) : !cursor.isUndefined())
            fail("unexpected cursor on page " + QByteArray::number(page));
        QJsonArray tools;
        for (int i = 0; i < perPage; ++i)
            tools.append(QJsonObject{
                {QLatin1String("name"), QStringLiteral("t%1_%2").arg(page).arg(i)},
                {QLatin1String("inputSchema"), QJsonObject{{QLatin1String("type"), QLatin1String("object")}}}});
        QJsonObject result{{QLatin1String("tools"), tools}};
        if (page + 1 < pages)
            result.insert(QLatin1String("nextCursor"), QStringLiteral("page-%1").arg(page + 1));
        send(request, result);
    }
    for (;;)
        receive();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty())
        return 2;
    s_state = arguments.takeFirst();
    // For the tests that check that no server outlives its test.
    QFile pid(s_state + QLatin1String("/fakeserver.pid"));
    if (pid.open(QIODevice::WriteOnly))
        pid.write(QByteArray::number(QCoreApplication::applicationPid()));
    pid.close();
    QFile file(s_state + QLatin1String("/uvx.scenario"));
    const QByteArray scenario = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("serve");
    for (const QByteArray &line : scenario.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray step = (space < 0 ? line : line.left(space)).trimmed();
        const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
        const QList<QByteArray> values = rest.split(' ');
        if (step == "stderr") {
            std::fprintf(stderr, "%s\n", rest.constData());
            std::fflush(stderr);
        } else if (step == "hold") {
            for (int i = 0; i < 600 && QFile::exists(s_state + QLatin1String("/hold")); ++i)
                QThread::msleep(50);
        } else if (step == "sleep") {
            QThread::sleep(rest.toULong());
        } else if (step == "exit") {
            return rest.toInt();
        } else if (step == "serve") {
            serve(arguments, rest.isEmpty() ? 1 : values.value(0).toInt(), values.value(1, "3").toInt(),
                  QString::fromUtf8(values.value(2, "2025-11-25")));
        } else if (!step.isEmpty()) {
            fail("unknown step " + step);
        }
    }
    return 0;
}
