#include "core/clients.h"

#include "base/jsoncedit.h"
#include "base/jsonfile.h"
#include "base/toolprocess.h"
#include "core/backups.h"
#include "core/cliententry.h"
#include "core/mcpserver.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

using ClientCatalogue::Client;
using ClientCatalogue::EntryShape;
using ClientCatalogue::Query;
using ClientCatalogue::Syntax;
using Entry = ClientEntry::Reading;

namespace {

constexpr int s_detectFinishMs = 15000;
constexpr int s_startMs = 5000;
constexpr int s_finishMs = 30000;
constexpr int s_killMs = 3000;

// The servers object along a path of member names. A member that is missing or null on the way
// means no servers yet; one that holds anything else is the user's data, named in notObject.
struct Servers
{
    QJsonObject object;
    qsizetype absentFrom = -1; // index of the first missing or null component, or -1
    QString notObject;
};

Servers serversOf(const QJsonObject &root, const QStringList &path)
{
    Servers servers;
    QJsonObject current = root;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QJsonValue value = current.value(path.at(i));
        if (value.isUndefined() || value.isNull()) {
            servers.absentFrom = i;
            return servers;
        }
        if (!value.isObject()) {
            servers.notObject = path.at(i);
            return servers;
        }
        current = value.toObject();
    }
    servers.object = current;
    return servers;
}

// root with the object at path replaced by value.
QJsonObject withObjectAt(QJsonObject root, const QStringList &path, const QJsonObject &value)
{
    if (path.isEmpty())
        return value;
    const QString &head = path.first();
    root.insert(head, withObjectAt(root.value(head).toObject(), path.mid(1), value));
    return root;
}

QString notObjectMessage(const QString &path, const QString &member)
{
    return QStringLiteral("%1 was left unchanged because its \"%2\" member is not an object.").arg(path, member);
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// Runs just before a file is rewritten; false (with a reason in *error) stops the write.
using BeforeWrite = std::function<bool(QString *error)>;

bool ready(const BeforeWrite &before, QString *error)
{
    return !before || before(error);
}

// Every change that went through clears what killed backups left, also one that needed no backup:
// the next backup is not the only one to look.
void removeBackupLeftovers(const QString &clientId)
{
    const QString folder = Backups::clientFolder(clientId);
    if (QFileInfo(folder).isDir())
        JsonFile::removeLeftovers(folder);
}

// Never a change without a copy of what was there: a backup that fails refuses the change.
bool backUp(const QString &clientId, const QString &path, QString *error)
{
    Backups backups;
    if (backups.backup(clientId, path))
        return true;
    return fail(error, QStringLiteral("%1 was left unchanged because it could not be backed up first. %2")
                           .arg(path, backups.lastError()));
}

using JsonFile::ReadStatus;

// What detection says of a file that cannot be read (a FIFO, say, which would hang a plain read).
QString unreadableMessage(const QString &path, const QString &detail)
{
    return QStringLiteral("%1 cannot be read: %2.").arg(path, detail);
}

// Reads the file whole; one that cannot be read (a FIFO, a folder, too large) leaves *error set.
Entry fileEntry(const Client &client, const QString &path, QString *error)
{
    QByteArray bytes;
    QString detail;
    const ReadStatus status = JsonFile::readBytes(path, &bytes, &detail);
    if (status == ReadStatus::Unreadable)
        *error = unreadableMessage(path, detail);
    if (status != ReadStatus::Ok)
        return {};
    return ClientEntry::read(bytes, client.file);
}

// "claude mcp get tavrin": the entry's lines, indented under its name.
Entry claudeAnswer(const QString &text)
{
    Entry entry;
    if (!text.contains(McpServer::name()) || !text.contains(QLatin1String("Scope: User config")))
        return entry;
    entry.readable = entry.present = entry.valid = true;
    bool inEnvironment = false;
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("Command:"))) {
            entry.command = line.mid(8).trimmed();
        } else if (line.startsWith(QLatin1String("Args:"))) {
            entry.args = line.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        } else if (line == QLatin1String("Environment:")) {
            inEnvironment = true;
            continue;
        } else if (inEnvironment && line.startsWith(McpServer::modeVariable() + QLatin1Char('='))) {
            entry.mode = line.mid(McpServer::modeVariable().size() + 1);
        }
        inEnvironment = inEnvironment && raw.startsWith(QLatin1String("    "));
    }
    return entry;
}

// "codex mcp get tavrin --json": the launch details are under "transport".
Entry codexAnswer(const QByteArray &output)
{
    const QJsonObject object = QJsonDocument::fromJson(output).object();
    if (object.value(QLatin1String("name")).toString() != McpServer::name())
        return {};
    return ClientEntry::fromValue(object.value(QLatin1String("transport")), EntryShape{});
}

Entry cliEntry(const Client &client, const QString &exe, const QString &path, QString *error)
{
    if (client.cli.readFileFirst) {
        QByteArray bytes;
        QString detail;
        const ReadStatus status = JsonFile::readBytes(path, &bytes, &detail);
        // The tool would read it too, and hang on a FIFO as long as we let it.
        if (status == ReadStatus::Unreadable) {
            *error = unreadableMessage(path, detail);
            return {};
        }
        if (status == ReadStatus::Ok) {
            const Entry entry = ClientEntry::read(bytes, client.file);
            // The tool itself ignores an entry that is not an object (null, say), and so do we:
            // it neither starts nor removes it.
            if (entry.readable)
                return entry.valid ? entry : Entry();
        }
    }
    if (client.cli.answer == Query::None)
        return {};
    // Warnings go to standard error even on success; the answer is on standard output.
    const ToolResult result = ToolProcess::run(exe, client.cli.query, ToolProcess::NoStartWait, s_detectFinishMs,
                                               s_killMs, ToolProcess::Channels::Separate);
    if (!result.finished || result.crashed || result.exitCode != 0)
        return {};
    return client.cli.answer == Query::ClaudeText ? claudeAnswer(QString::fromUtf8(result.output))
                                                  : codexAnswer(result.output);
}

// Codex prints a Rust backtrace after its error when RUST_BACKTRACE is set; the user needs the error.
QString failureText(const QByteArray &output)
{
    QString text = QString::fromUtf8(output);
    const qsizetype backtrace = text.indexOf(QLatin1String("Stack backtrace:"));
    if (backtrace >= 0 && (backtrace == 0 || text.at(backtrace - 1) == QLatin1Char('\n')))
        text.truncate(backtrace);
    return text.trimmed();
}

QString unchangedMessage(const QString &path, const JsonFile::ReadResult &read)
{
    const QString why = read.status == JsonFile::ReadStatus::Unreadable
                            ? QStringLiteral("it cannot be read")
                            : QStringLiteral("its content is not a JSON object");
    return QStringLiteral("%1 was left unchanged because %2 (%3).").arg(path, why, read.errorDetail);
}

bool writeJson(const QStringList &serversPath, const EntryShape &shape, const QString &path,
               const QString &permissionMode, QString *error, const BeforeWrite &before)
{
    const JsonFile::ReadResult read = JsonFile::read(path);
    // Rewriting a file we could not understand would throw away the client's settings.
    if (read.status == JsonFile::ReadStatus::Unreadable || read.status == JsonFile::ReadStatus::NotObject)
        return fail(error, unchangedMessage(path, read));
    const Servers servers = serversOf(read.object, serversPath);
    if (!servers.notObject.isEmpty())
        return fail(error, notObjectMessage(path, servers.notObject));
    QJsonObject object = servers.object;
    object.insert(McpServer::name(), ClientEntry::object(shape, permissionMode));
    const QByteArray bytes =
        QJsonDocument(withObjectAt(read.object, serversPath, object)).toJson(QJsonDocument::Indented);
    // The file holds exactly this already: nothing to change, so nothing to back up.
    if (read.status == JsonFile::ReadStatus::Ok && bytes == read.bytes) {
        JsonFile::removeLeftoversOf(path);
        return true;
    }
    return ready(before, error) && JsonFile::writeBytes(path, bytes, error);
}

bool removeJson(const QStringList &serversPath, const QString &path, QString *error, const BeforeWrite &before)
{
    const JsonFile::ReadResult read = JsonFile::read(path);
    switch (read.status) {
    case JsonFile::ReadStatus::Missing:
        return true;
    case JsonFile::ReadStatus::NotObject:
        // Nothing but blanks holds no entry; anything else may hold ours where we cannot see it,
        // and "removed" would be a claim the file does not bear out.
        if (read.bytes.trimmed().isEmpty())
            return true;
        return fail(error, unchangedMessage(path, read));
    case JsonFile::ReadStatus::Unreadable:
        return fail(error, unchangedMessage(path, read));
    case JsonFile::ReadStatus::Ok:
        break;
    }
    Servers servers = serversOf(read.object, serversPath);
    if (!servers.object.contains(McpServer::name()))
        return true;
    servers.object.remove(McpServer::name());
    if (!ready(before, error))
        return false;
    return JsonFile::write(path, withObjectAt(read.object, serversPath, servers.object), error);
}

// Comments, order and spacing are the user's: only our member's text changes.
bool writeJsonc(const Client &client, const QString &path, const QString &permissionMode, QString *error,
                const BeforeWrite &before)
{
    QByteArray text;
    QString detail;
    const ReadStatus status = JsonFile::readBytes(path, &text, &detail);
    if (status == ReadStatus::Unreadable)
        return fail(error, QStringLiteral("%1 was left unchanged because it cannot be read (%2).").arg(path, detail));
    const QJsonObject entry = ClientEntry::object(client.file.entry, permissionMode);
    if (status == ReadStatus::Missing)
        return ready(before, error) &&
               JsonFile::write(path, withObjectAt({}, client.file.serversPath, {{McpServer::name(), entry}}), error);

    const JsoncEdit::Parsed parsed = JsoncEdit::parse(text);
    if (!parsed.ok)
        return fail(error, QStringLiteral("%1 was left unchanged because its content is not a JSON object (%2).")
                               .arg(path, parsed.error));
    const Servers servers = serversOf(parsed.root, client.file.serversPath);
    if (!servers.notObject.isEmpty())
        return fail(error, notObjectMessage(path, servers.notObject));
    // A missing or null servers object is set whole, with our entry in it (the editor keeps a
    // null, like any member that is not an object).
    const QStringList &serversPath = client.file.serversPath;
    const qsizetype at = servers.absentFrom < 0 ? serversPath.size() : servers.absentFrom;
    const QJsonValue value = at == serversPath.size()
                                 ? QJsonValue(entry)
                                 : QJsonValue(withObjectAt({}, serversPath.mid(at + 1), {{McpServer::name(), entry}}));
    const QString name = at == serversPath.size() ? McpServer::name() : serversPath.at(at);
    QString why;
    const QByteArray original = text;
    if (!JsoncEdit::setMember(text, serversPath.mid(0, at), name, value, &why))
        return fail(error, QStringLiteral("%1 was left unchanged: %2").arg(path, why));
    if (text == original) { // our entry stands there already, to the byte
        JsonFile::removeLeftoversOf(path);
        return true;
    }
    return ready(before, error) && JsonFile::writeBytes(path, text, error);
}

bool removeJsonc(const Client &client, const QString &path, QString *error, const BeforeWrite &before)
{
    QByteArray text;
    QString detail;
    switch (JsonFile::readBytes(path, &text, &detail)) {
    case ReadStatus::Missing:
        return true;
    case ReadStatus::Ok:
        break;
    default:
        return fail(error, QStringLiteral("%1 was left unchanged because it cannot be read (%2).").arg(path, detail));
    }
    const JsoncEdit::Parsed parsed = JsoncEdit::parse(text);
    // The client may read an entry where we cannot: refuse rather than claim it is gone.
    if (!parsed.ok)
        return fail(error, QStringLiteral("%1 was left unchanged because its content is not a JSON object (%2).")
                               .arg(path, parsed.error));
    if (!serversOf(parsed.root, client.file.serversPath).object.contains(McpServer::name()))
        return true;
    QString why;
    if (!JsoncEdit::removeMember(text, client.file.serversPath, McpServer::name(), &why))
        return fail(error, QStringLiteral("%1 was left unchanged: %2").arg(path, why));
    return ready(before, error) && JsonFile::writeBytes(path, text, error);
}

bool writeFile(const Client &client, const QString &path, const QString &permissionMode, QString *error,
               const BeforeWrite &before)
{
    if (client.file.syntax == Syntax::Jsonc)
        return writeJsonc(client, path, permissionMode, error, before);
    return writeJson(client.file.serversPath, client.file.entry, path, permissionMode, error, before);
}

bool removeFile(const Client &client, const QString &path, QString *error, const BeforeWrite &before)
{
    if (client.file.syntax == Syntax::Jsonc)
        return removeJsonc(client, path, error, before);
    return removeJson(client.file.serversPath, path, error, before);
}

QStringList cliAddArguments(const Client &client, const QString &permissionMode)
{
    return client.cli.add + QStringList{QStringLiteral("--env"),
                                        McpServer::modeVariable() + QLatin1Char('=') + permissionMode,
                                        QStringLiteral("--"), McpServer::program(), McpServer::name()};
}

} // namespace

Clients::Clients(QObject *parent) : QObject(parent) {}

QList<ClientInfo> Clients::detect() const
{
    QList<ClientInfo> result;
    for (const Client &client : ClientCatalogue::all()) {
        ClientInfo info;
        info.id = client.id;
        info.name = client.name;
        info.usesCli = client.usesCli;
        QString exe;
        for (const QString &name : client.executables) {
            exe = findExecutable(name);
            if (!exe.isEmpty())
                break;
        }
        info.configPath = ClientCatalogue::configPath(client.id);
        Entry entry;
        if (info.usesCli) {
            info.installed = !exe.isEmpty();
            if (info.installed)
                entry = cliEntry(client, exe, info.configPath, &info.error);
        } else {
            // Present when its program is on the PATH or its configuration folder exists, with or
            // without the file.
            info.installed = !exe.isEmpty() || QFileInfo(QFileInfo(info.configPath).absolutePath()).isDir();
            entry = fileEntry(client, info.configPath, &info.error);
        }
        info.configured = entry.present;
        info.entryValid = entry.valid;
        info.mode = entry.mode;
        info.command = entry.command;
        info.args = entry.args;
        info.configExists = !info.configPath.isEmpty() && QFileInfo(info.configPath).isFile();
        info.backupCount = Backups::count(client.id);
        result << info;
    }
    return result;
}

QStringList Clients::entryProblems(const ClientInfo &info, const QString &permissionMode)
{
    if (!info.configured)
        return {};
    if (!info.entryValid)
        return {tr("The entry is not an object")};
    QStringList problems;
    const QString expected = McpServer::command();
    if (info.command != McpServer::program() || info.args != QStringList{McpServer::name()}) {
        const QString actual = (QStringList{info.command} + info.args).join(QLatin1Char(' ')).trimmed();
        problems << (actual.isEmpty() ? tr("Starts no program instead of “%1”").arg(expected)
                                      : tr("Starts “%1” instead of “%2”").arg(actual, expected));
    }
    if (info.mode != permissionMode) {
        const QString wanted = McpServer::modeName(permissionMode);
        problems << (info.mode.isEmpty()
                         ? tr("Registered without a permission mode; Settings say %1").arg(wanted)
                         : tr("Registered with %1; Settings say %2").arg(McpServer::modeName(info.mode), wanted));
    }
    return problems;
}

QString Clients::findExecutable(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

bool Clients::writeConfig(const QString &clientId, const QString &permissionMode)
{
    m_lastError.clear();
    const Client *client = ClientCatalogue::find(clientId);
    if (!client)
        return false;
    bool result = false;
    if (client->usesCli) {
        result = runCliAdd(*client, permissionMode);
    } else {
        const QString path = ClientCatalogue::configPath(clientId);
        // The backup is taken only once the edit is known to change the file.
        result = writeFile(*client, path, permissionMode, &m_lastError,
                           [&](QString *error) { return backUp(clientId, path, error); });
    }
    if (result)
        removeBackupLeftovers(clientId);
    if (!result && m_lastError.isEmpty())
        m_lastError = QStringLiteral("Could not write the client configuration.");
    return result;
}

bool Clients::removeConfig(const QString &clientId)
{
    m_lastError.clear();
    const Client *client = ClientCatalogue::find(clientId);
    if (!client)
        return false;
    bool result = false;
    if (client->usesCli) {
        result = backUpCliFile(*client) && runRemove(*client);
    } else {
        const QString path = ClientCatalogue::configPath(clientId);
        result = removeFile(*client, path, &m_lastError, [&](QString *error) { return backUp(clientId, path, error); });
    }
    if (result)
        removeBackupLeftovers(clientId);
    if (!result && m_lastError.isEmpty())
        m_lastError = QStringLiteral("Could not remove the client configuration.");
    return result;
}

bool Clients::runCliAdd(const Client &client, const QString &permissionMode)
{
    if (!McpServer::isValidMode(permissionMode)) {
        m_lastError = QStringLiteral("The permission mode \"%1\" was refused: only lower-case letters and "
                                     "underscores are allowed.")
                          .arg(permissionMode);
        return false;
    }
    if (!backUpCliFile(client))
        return false;
    // A tool that refuses to overwrite an entry loses the old one first; its absence is fine, any
    // other failure stops here with the tool's own explanation.
    if (client.cli.removeBeforeAdd && !runRemove(client))
        return false;
    return runTool(client.executables.first(), cliAddArguments(client, permissionMode));
}

QList<QStringList> Clients::cliCommandLines(const QString &clientId, const QString &permissionMode, bool add)
{
    const Client *client = ClientCatalogue::find(clientId);
    if (!client || !client->usesCli)
        return {};
    const QString &program = client->executables.first();
    QList<QStringList> lines;
    if (!add || client->cli.removeBeforeAdd)
        lines << QStringList{program} + client->cli.remove;
    if (add)
        lines << QStringList{program} + cliAddArguments(*client, permissionMode);
    return lines;
}

bool Clients::writeFileConfig(const Client &client, const QString &path, const QString &permissionMode, QString *error)
{
    return writeFile(client, path, permissionMode, error, {});
}

bool Clients::removeFileConfig(const Client &client, const QString &path, QString *error)
{
    return removeFile(client, path, error, {});
}

bool Clients::runRemove(const Client &client)
{
    // An entry that is already gone is what the user asked for.
    const QString absent = client.cli.absentText;
    return runTool(client.executables.first(), client.cli.remove,
                   [absent](const QString &output) { return !absent.isEmpty() && output.contains(absent); });
}

bool Clients::backUpCliFile(const Client &client)
{
    // Without the tool nothing runs, so nothing needs a copy; runTool reports the missing tool.
    if (findExecutable(client.executables.first()).isEmpty())
        return true;
    const QString path = ClientCatalogue::configPath(client.id);
    return path.isEmpty() || backUp(client.id, path, &m_lastError);
}

bool Clients::runTool(const QString &program, const QStringList &args,
                      const std::function<bool(const QString &output)> &harmless)
{
    const QString exe = findExecutable(program);
    if (exe.isEmpty()) {
        m_lastError = program + QLatin1String(" executable was not found on PATH.");
        return false;
    }
    const ToolResult result = ToolProcess::run(exe, args, s_startMs, s_finishMs, s_killMs);
    if (!result.started) {
        m_lastError = QLatin1String("Could not start ") + program + QLatin1String(": ") + result.errorString;
        return false;
    }
    if (!result.finished) {
        m_lastError = program + QLatin1String(" configuration timed out.");
        return false;
    }
    if (result.crashed || result.exitCode != 0) {
        const QString text = failureText(result.output);
        if (!result.crashed && harmless && harmless(text))
            return true;
        qWarning().noquote().nospace() << "CLI failed: " << program << ' ' << args.join(QLatin1Char(' '))
                                       << " exit: " << result.exitCode;
        m_lastError = text.isEmpty()
                          ? program + QLatin1String(" exited with code ") + QString::number(result.exitCode) + '.'
                          : text;
        return false;
    }
    return true;
}
