// The fake `claude` and `codex` of fakecli.h: one program for every platform, started by a shell
// wrapper on Unix and by a .cmd shim on Windows, as npm installs the real ones.
// Usage: fakecli <state folder> <tool name> <the tool's own arguments...>
// A copy named godot* is a Godot editor that answers --version with the text of <itself>.version.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

namespace {

QString s_state;
QString s_tool;

QString at(const QString &name)
{
    return s_state + QLatin1Char('/') + name;
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    if (file.open(mode))
        file.write(bytes);
}

void print(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Waits while the hold file is there, 20 s at most.
void hold(const QString &name)
{
    for (int i = 0; i < 400 && QFile::exists(at(QStringLiteral("hold-") + name)); ++i)
        QThread::msleep(50);
}

// The home the real claude uses, and so the app: on Windows that is USERPROFILE, which the tests
// move (QDir::homePath() asks Windows for the real profile there).
QString home()
{
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(qEnvironmentVariable("USERPROFILE"));
#else
    return QDir::homePath();
#endif
}

QByteArray entry(const QByteArray &mode)
{
    return R"({"command":"uvx","args":["tavrin"],"env":{"GODOT_MCP_PERMISSION_MODE":")" + mode + "\"}}";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (QFileInfo(app.applicationFilePath()).fileName().startsWith(QLatin1String("godot"), Qt::CaseInsensitive)) {
        if (args != QStringList{QStringLiteral("--version")})
            return 1;
        print(stdout, read(app.applicationFilePath() + QLatin1String(".version")));
        return 0;
    }
    if (args.size() < 2)
        return 2;
    s_state = args.takeFirst();
    s_tool = args.takeFirst();
    const QString sub = args.value(1);
    const QString calls = at(s_tool + QLatin1String(".calls"));

    QByteArray line;
    if (sub == QLatin1String("get") &&
        !QDir(s_state).entryList({QStringLiteral("*-running")}, QDir::Files | QDir::Hidden).isEmpty())
        line += "<busy>";
    for (const QString &arg : args)
        line += '<' + arg.toUtf8() + '>';
    write(calls, line + '\n', QIODevice::Append);

    if (sub == QLatin1String("get")) {
        print(stderr, "WARNING: proceeding, even though we could not update PATH\n");
        hold(QStringLiteral("get-%1").arg(read(calls).count("<get>")));
        hold(s_tool + QLatin1String("-get"));
    } else {
        const QString running = at(s_tool + QLatin1Char('-') + sub + QLatin1String("-running"));
        write(running, {});
        hold(s_tool + QLatin1Char('-') + sub);
        QFile::remove(running);
    }

    const QString answer = at(s_tool + QLatin1Char('-') + sub);
    if (QFile::exists(answer + QLatin1String(".out"))) {
        print(stdout, read(answer + QLatin1String(".out")));
        print(stderr, read(answer + QLatin1String(".err")));
        const QByteArray code = read(answer + QLatin1String(".code")).trimmed();
        if (code == "hang")
            QThread::sleep(30);
        return code.toInt();
    }

    const QString on = at(s_tool + QLatin1String("-on"));
    if (sub == QLatin1String("get")) {
        if (!QFile::exists(on))
            return 1;
        const QByteArray mode = read(on);
        if (s_tool == QLatin1String("codex"))
            print(stdout, R"({"name":"tavrin","transport":)" + entry(mode) + '}');
        else
            print(stdout, "tavrin:\n  Scope: User config\n  Command: uvx\n  Args: tavrin\n  Environment:\n"
                          "    GODOT_MCP_PERMISSION_MODE=" +
                              mode + '\n');
    } else if (sub == QLatin1String("add") || sub == QLatin1String("remove")) {
        if (QFile::exists(at(s_tool + QLatin1String("-fail")))) {
            print(stdout, "  " + s_tool.toUtf8() + ": " + sub.toUtf8() + " failed  \n");
            return 1;
        }
        QByteArray mode;
        for (const QString &arg : std::as_const(args)) {
            if (arg.startsWith(QLatin1String("GODOT_MCP_PERMISSION_MODE=")))
                mode = arg.section(QLatin1Char('='), 1).toUtf8();
        }
        const bool add = sub == QLatin1String("add");
        if (add)
            write(on, mode);
        else
            QFile::remove(on);
        // The real claude keeps its registrations in ~/.claude.json.
        if (s_tool == QLatin1String("claude"))
            write(home() + QLatin1String("/.claude.json"),
                  add ? R"({"mcpServers":{"tavrin":)" + entry(mode) + "}}" : QByteArray("{}"));
    }
    return 0;
}
