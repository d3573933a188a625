#include "cli/console.h"

#include <QJsonDocument>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#define TAVRIN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define TAVRIN_ISATTY(fd) isatty(fd)
#endif

namespace {

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

Console::Console()
{
#ifdef Q_OS_WIN
    // The same bytes on every platform: a diff or a JSON document keeps its line ends, which a
    // text-mode stream would turn into CR LF. Windows consoles show a bare LF as a line break.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    // https://no-color.org: any value, even empty, turns colour off.
    m_colour = TAVRIN_ISATTY(1) && qgetenv("NO_COLOR").isNull() && qgetenv("TERM") != "dumb";
    m_interactive = TAVRIN_ISATTY(0) && TAVRIN_ISATTY(2);
}

void Console::out(const QString &text) const
{
    write(stdout, text);
}

void Console::err(const QString &text) const
{
    write(stderr, text);
}

void Console::json(QJsonObject document) const
{
    // QJsonDocument sorts members by name; the version goes first by hand so that a reader can
    // check it before anything else.
    document.remove(QStringLiteral("schemaVersion"));
    QByteArray body = QJsonDocument(document).toJson(QJsonDocument::Indented);
    const QByteArray head = QByteArrayLiteral("{\n    \"schemaVersion\": ") + QByteArray::number(SchemaVersion);
    QByteArray members = body.mid(2); // after "{\n"
    while (members.endsWith('\n'))
        members.chop(1);
    body = document.isEmpty() ? head + "\n}" : head + ",\n" + members;
    write(stdout, QString::fromUtf8(body));
}

QString Console::paint(const QString &text, Colour colour) const
{
    if (!m_colour)
        return text;
    const char *code = "";
    switch (colour) {
    case Colour::Green:
        code = "32";
        break;
    case Colour::Yellow:
        code = "33";
        break;
    case Colour::Red:
        code = "31";
        break;
    case Colour::Bold:
        code = "1";
        break;
    }
    return QStringLiteral("\x1b[%1m%2\x1b[0m").arg(QLatin1String(code), text);
}

bool Console::confirm(const QString &question) const
{
    if (!m_interactive)
        return false;
    const QByteArray prompt = (question + QLatin1String(" [y/N] ")).toUtf8();
    std::fwrite(prompt.constData(), 1, size_t(prompt.size()), stderr);
    std::fflush(stderr);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    return line[0] == 'y' || line[0] == 'Y';
}
