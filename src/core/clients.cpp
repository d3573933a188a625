#include "core/clients.h"

#include "base/jsoncedit.h"
#include "base/jsonfile.h"
#include "base/toolprocess.h"
#include "core/backups.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

using ClientCatalogue::Client;
using ClientCatalogue::EntryShape;
using ClientCatalogue::Format;
using ClientCatalogue::Query;

namespace {

const QString s_serverName = QStringLiteral("tavrin");
const QString s_program = QStringLiteral("uvx");
const QString s_modeVariable = QStringLiteral("GODOT_MCP_PERMISSION_MODE");
const QStringList s_mcpServers{QStringLiteral("mcpServers")};

constexpr int s_detectFinishMs = 15000;
constexpr int s_startMs = 5000;
constexpr int s_finishMs = 30000;
constexpr int s_killMs = 3000;

// What a "tavrin" entry carries.
struct Entry
{
    bool found = false;
    bool valid = false; // an object
    QString command;
    QStringList args;
    QString mode;
};

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

// Never a change without a copy of what was there: a backup that fails refuses the change.
bool backUp(const QString &clientId, const QString &path, QString *error)
{
    Backups backups;
    if (backups.backup(clientId, path))
        return true;
    return fail(error, QStringLiteral("%1 was left unchanged because it could not be backed up first. %2")
                           .arg(path, backups.lastError()));
}

QStringList strings(const QJsonArray &array)
{
    QStringList list;
    for (const QJsonValue value : array)
        list << value.toString();
    return list;
}

Entry readEntry(const EntryShape &shape, const QJsonValue &value)
{
    Entry entry;
    entry.found = true;
    if (!value.isObject())
        return entry;
    entry.valid = true;
    const QJsonObject object = value.toObject();
    if (shape.commandArray) {
        const QStringList words = strings(object.value(QLatin1String("command")).toArray());
        entry.command = words.value(0);
        entry.args = words.mid(1);
    } else {
        entry.command = object.value(QLatin1String("command")).toString();
        entry.args = strings(object.value(QLatin1String("args")).toArray());
    }
    entry.mode = object.value(shape.envKey).toObject().value(s_modeVariable).toString();
    return entry;
}

ClientCatalogue::Places currentPlaces()
{
    return {QProcessEnvironment::systemEnvironment(), QDir::homePath(),
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)};
}

QString resolvedFile(const Client &client)
{
    return Clients::resolveConfigPath(
        ClientCatalogue::candidates(client.id, Clients::currentPlatform(), currentPlaces()), client.firstExistingFile);
}

using JsonFile::ReadStatus;

// What detection says of a file that cannot be read (a FIFO, say, which would hang a plain read).
QString unreadableMessage(const QString &path, const QString &detail)
{
    return QStringLiteral("%1 cannot be read: %2.").arg(path, detail);
}

// The file's top-level object, in the client's dialect; false when there is none to read, with
// *error set when the file is there but cannot be read.
bool readRoot(const Client &client, const QString &path, QJsonObject *root, QString *error)
{
    if (client.format != Format::Jsonc) {
        const JsonFile::ReadResult read = JsonFile::read(path);
        if (read.status == ReadStatus::Unreadable)
            *error = unreadableMessage(path, read.errorDetail);
        *root = read.object;
        return read.status == ReadStatus::Ok;
    }
    QByteArray text;
    QString detail;
    const ReadStatus status = JsonFile::readBytes(path, &text, &detail);
    if (status == ReadStatus::Unreadable)
        *error = unreadableMessage(path, detail);
    if (status != ReadStatus::Ok)
        return false;
    const JsoncEdit::Parsed parsed = JsoncEdit::parse(text);
    *root = parsed.root;
    return parsed.ok;
}

Entry fileEntry(const Client &client, const QString &path, QString *error)
{
    QJsonObject root;
    if (!readRoot(client, path, &root, error))
        return {};
    const Servers servers = serversOf(root, client.serversPath);
    if (!servers.notObject.isEmpty() || !servers.object.contains(s_serverName))
        return {};
    return readEntry(client.entry, servers.object.value(s_serverName));
}

// "claude mcp get tavrin": the entry's lines, indented under its name.
Entry claudeAnswer(const QString &text)
{
    Entry entry;
    if (!text.contains(s_serverName) || !text.contains(QLatin1String("Scope: User config")))
        return entry;
    entry.found = entry.valid = true;
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
        } else if (inEnvironment && line.startsWith(s_modeVariable + QLatin1Char('='))) {
            entry.mode = line.mid(s_modeVariable.size() + 1);
        }
        inEnvironment = inEnvironment && raw.startsWith(QLatin1String("    "));
    }
    return entry;
}

// "codex mcp get tavrin --json": the launch details are under "transport".
Entry codexAnswer(const QByteArray &output)
{
    const QJsonObject object = QJsonDocument::fromJson(output).object();
    if (object.value(QLatin1String("name")).toString() != s_serverName)
        return {};
    return readEntry(EntryShape{}, object.value(QLatin1String("transport")));
}

Entry cliEntry(const Client &client, const QString &exe, QString *configPath, QString *error)
{
    // A client's own file answers without starting the server, which "claude mcp get" does as a
    // health check; the query is the fallback.
    if (client.candidates) {
        const QString path = resolvedFile(client);
        const JsonFile::ReadResult read = JsonFile::read(path);
        // The tool would read it too, and hang on a FIFO as long as we let it.
        if (read.status == ReadStatus::Unreadable) {
            *error = unreadableMessage(path, read.errorDetail);
            return {};
        }
        if (read.status == ReadStatus::Ok) {
            const Servers servers = serversOf(read.object, client.serversPath);
            const QJsonValue value = servers.object.value(s_serverName);
            // The tool itself ignores an entry that is not an object (null, say), and so do we:
            // it neither starts nor removes it.
            if (!value.isObject())
                return {};
            *configPath = path;
            return readEntry(client.entry, value);
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

// Expands '*' in the components of an absolute folder pattern; existing folders only, by name.
QStringList expandFolderPattern(const QString &pattern)
{
    const QStringList parts = pattern.split(QLatin1Char('/'));
    QStringList current{parts.first()};
    for (qsizetype i = 1; i < parts.size() && !current.isEmpty(); ++i) {
        const QString &part = parts.at(i);
        QStringList next;
        for (const QString &base : std::as_const(current)) {
            if (!part.contains(QLatin1Char('*'))) {
                next << base + QLatin1Char('/') + part;
                continue;
            }
            const QDir dir(base.isEmpty() ? QStringLiteral("/") : base + QLatin1Char('/'));
            const QStringList names =
                dir.entryList({part}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
            for (const QString &name : names)
                next << base + QLatin1Char('/') + name;
        }
        current = next;
    }
    QStringList existing;
    for (const QString &folder : std::as_const(current)) {
        if (QFileInfo(folder).isDir())
            existing << folder;
    }
    return existing;
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
    object.insert(s_serverName, Clients::mcpEntry(shape, permissionMode));
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
    if (!servers.object.contains(s_serverName))
        return true;
    servers.object.remove(s_serverName);
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
    const QJsonObject entry = Clients::mcpEntry(client.entry, permissionMode);
    if (status == ReadStatus::Missing)
        return ready(before, error) &&
               JsonFile::write(path, withObjectAt({}, client.serversPath, {{s_serverName, entry}}), error);

    const JsoncEdit::Parsed parsed = JsoncEdit::parse(text);
    if (!parsed.ok)
        return fail(error, QStringLiteral("%1 was left unchanged because its content is not a JSON object (%2).")
                               .arg(path, parsed.error));
    const Servers servers = serversOf(parsed.root, client.serversPath);
    if (!servers.notObject.isEmpty())
        return fail(error, notObjectMessage(path, servers.notObject));
    // A missing or null servers object is set whole, with our entry in it (the editor keeps a
    // null, like any member that is not an object).
    const QStringList &serversPath = client.serversPath;
    const qsizetype at = servers.absentFrom < 0 ? serversPath.size() : servers.absentFrom;
    const QJsonValue value = at == serversPath.size()
                                 ? QJsonValue(entry)
                                 : QJsonValue(withObjectAt({}, serversPath.mid(at + 1), {{s_serverName, entry}}));
    const QString name = at == serversPath.size() ? s_serverName : serversPath.at(at);
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
    if (!serversOf(parsed.root, client.serversPath).object.contains(s_serverName))
        return true;
    QString why;
    if (!JsoncEdit::removeMember(text, client.serversPath, s_serverName, &why))
        return fail(error, QStringLiteral("%1 was left unchanged: %2").arg(path, why));
    return ready(before, error) && JsonFile::writeBytes(path, text, error);
}

bool writeFile(const Client &client, const QString &path, const QString &permissionMode, QString *error,
               const BeforeWrite &before)
{
    if (client.format == Format::Jsonc)
        return writeJsonc(client, path, permissionMode, error, before);
    return writeJson(client.serversPath, client.entry, path, permissionMode, error, before);
}

bool removeFile(const Client &client, const QString &path, QString *error, const BeforeWrite &before)
{
    if (client.format == Format::Jsonc)
        return removeJsonc(client, path, error, before);
    return removeJson(client.serversPath, path, error, before);
}

QStringList cliAddArguments(const Client &client, const QString &permissionMode)
{
    return client.cli.add + QStringList{QStringLiteral("--env"), s_modeVariable + QLatin1Char('=') + permissionMode,
                                        QStringLiteral("--"), s_program, s_serverName};
}

} // namespace

Clients::Clients(QObject *parent) : QObject(parent) {}

QList<ClientInfo> Clients::detect(const QString &permissionMode) const
{
    QList<ClientInfo> result;
    for (const Client &client : ClientCatalogue::all()) {
        ClientInfo info;
        info.id = client.id;
        info.name = client.name;
        info.usesCli = client.format == Format::Cli;
        QString exe;
        for (const QString &name : client.executables) {
            exe = findExecutable(name);
            if (!exe.isEmpty())
                break;
        }
        Entry entry;
        if (info.usesCli) {
            info.installed = !exe.isEmpty();
            if (info.installed)
                entry = cliEntry(client, exe, &info.configPath, &info.error);
        } else {
            info.configPath = resolvedFile(client);
            // Present when its program is on the PATH or its configuration folder exists, with or
            // without the file.
            info.installed = !exe.isEmpty() || QFileInfo(QFileInfo(info.configPath).absolutePath()).isDir();
            entry = fileEntry(client, info.configPath, &info.error);
        }
        info.configured = entry.found;
        info.entryValid = entry.valid;
        info.mode = entry.mode;
        info.command = entry.command;
        info.args = entry.args;
        info.upToDate = entry.valid && entry.command == s_program && entry.args == QStringList{s_serverName} &&
                        entry.mode == permissionMode;
        result << info;
    }
    return result;
}

Clients::Platform Clients::currentPlatform()
{
#if defined(Q_OS_WIN)
    return Platform::Windows;
#elif defined(Q_OS_MACOS)
    return Platform::MacOS;
#else
    return Platform::Linux;
#endif
}

QStringList Clients::configCandidates(const QString &clientId, Platform platform, const QProcessEnvironment &env,
                                      const QString &home, const QString &dataDir, const QString &configDir)
{
    return ClientCatalogue::candidates(clientId, platform, {env, home, dataDir, configDir});
}

QString Clients::resolveConfigPath(const QStringList &candidates, bool firstExistingFile)
{
    if (firstExistingFile) {
        for (const QString &candidate : candidates) {
            if (!candidate.contains(QLatin1Char('*')) && QFileInfo(candidate).isFile())
                return candidate;
        }
    }
    for (const QString &candidate : candidates) {
        const qsizetype slash = candidate.lastIndexOf(QLatin1Char('/'));
        const QString folder = candidate.left(slash);
        if (folder.contains(QLatin1Char('*'))) {
            const QStringList matches = expandFolderPattern(folder);
            if (!matches.isEmpty())
                return matches.first() + candidate.mid(slash);
        } else if (QFileInfo(folder).isDir()) {
            return candidate;
        }
    }
    // Nothing there yet: a concrete location is where a first write would go.
    for (const QString &candidate : candidates) {
        if (!candidate.contains(QLatin1Char('*')))
            return candidate;
    }
    return candidates.value(0);
}

QString Clients::configPathFor(const QString &clientId)
{
    const Client *client = ClientCatalogue::find(clientId);
    if (!client || client->format == Format::Cli)
        return {};
    return resolvedFile(*client);
}

QString Clients::changedFilePath(const QString &clientId)
{
    const Client *client = ClientCatalogue::find(clientId);
    if (!client)
        return {};
    if (client->candidates)
        return resolvedFile(*client);
    if (client->id == QLatin1String("codex"))
        return Backups::codexConfigPath(QProcessEnvironment::systemEnvironment(), QDir::homePath());
    return {};
}

Backups::FileLayout Clients::backupLayout(const QString &clientId)
{
    const Client *client = ClientCatalogue::find(clientId);
    if (!client)
        return {};
    if (client->id == QLatin1String("codex"))
        return {Backups::Syntax::Toml, {QStringLiteral("mcp_servers")}, QStringLiteral("env"), {}};
    const Backups::Syntax syntax = client->format == Format::Jsonc ? Backups::Syntax::Jsonc : Backups::Syntax::Json;
    return {syntax, client->serversPath, client->entry.envKey, {}};
}

QString Clients::findExecutable(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

bool Clients::isValidPermissionMode(const QString &permissionMode)
{
    if (permissionMode.isEmpty())
        return false;
    for (const QChar c : permissionMode) {
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('_')))
            return false;
    }
    return true;
}

bool Clients::writeConfig(const QString &clientId, const QString &permissionMode)
{
    m_lastError.clear();
    const Client *client = ClientCatalogue::find(clientId);
    if (!client)
        return false;
    bool result = false;
    if (client->format == Format::Cli) {
        result = runCliAdd(clientId, permissionMode);
    } else {
        const QString path = configPathFor(clientId);
        if (path.isEmpty())
            return false;
        // The backup is taken only once the edit is known to change the file.
        result = writeFile(*client, path, permissionMode, &m_lastError,
                           [&](QString *error) { return backUp(clientId, path, error); });
    }
    if (!result && m_lastError.isEmpty())
        m_lastError = QStringLiteral("Could not write the client configuration.");
    emit configWritten(clientId, result);
    return result;
}

bool Clients::removeConfig(const QString &clientId)
{
    m_lastError.clear();
    const Client *client = ClientCatalogue::find(clientId);
    if (!client)
        return false;
    bool result = false;
    if (client->format == Format::Cli) {
        result = runCliRemove(clientId);
    } else {
        const QString path = configPathFor(clientId);
        if (path.isEmpty())
            return false;
        result = removeFile(*client, path, &m_lastError, [&](QString *error) { return backUp(clientId, path, error); });
    }
    if (!result && m_lastError.isEmpty())
        m_lastError = QStringLiteral("Could not remove the client configuration.");
    emit configRemoved(clientId, result);
    return result;
}

QJsonObject Clients::mcpEntry(const QString &permissionMode)
{
    return mcpEntry(EntryShape{}, permissionMode);
}

QJsonObject Clients::mcpEntry(const EntryShape &shape, const QString &permissionMode)
{
    QJsonObject entry = shape.extras;
    if (shape.commandArray) {
        entry.insert(QLatin1String("command"), QJsonArray{s_program, s_serverName});
    } else {
        entry.insert(QLatin1String("command"), s_program);
        entry.insert(QLatin1String("args"), QJsonArray{s_serverName});
    }
    entry.insert(shape.envKey, QJsonObject{{s_modeVariable, permissionMode}});
    return entry;
}

bool Clients::writeJsonConfig(const QString &path, const QString &permissionMode, QString *error)
{
    return writeJson(s_mcpServers, EntryShape{}, path, permissionMode, error, {});
}

bool Clients::removeJsonConfig(const QString &path, QString *error)
{
    return removeJson(s_mcpServers, path, error, {});
}

bool Clients::writeFileConfig(const Client &client, const QString &path, const QString &permissionMode, QString *error)
{
    return writeFile(client, path, permissionMode, error, {});
}

bool Clients::removeFileConfig(const Client &client, const QString &path, QString *error)
{
    return removeFile(client, path, error, {});
}

bool Clients::runCliAdd(const QString &clientId, const QString &permissionMode)
{
    const Client *client = ClientCatalogue::find(clientId);
    if (!client || client->format != Format::Cli)
        return false;
    if (!isValidPermissionMode(permissionMode)) {
        m_lastError = QStringLiteral("The permission mode \"%1\" was refused: only lower-case letters and "
                                     "underscores are allowed.")
                          .arg(permissionMode);
        return false;
    }
    const QString &program = client->executables.first();
    if (!backUpCliFile(*client))
        return false;
    // A tool that refuses to overwrite an entry loses the old one first; its absence is fine, any
    // other failure stops here with the tool's own explanation.
    if (client->cli.removeBeforeAdd && !runRemove(*client))
        return false;
    return executeCli(program, cliAddArguments(*client, permissionMode));
}

QList<QStringList> Clients::cliCommandLines(const QString &clientId, const QString &permissionMode, bool add)
{
    const Client *client = ClientCatalogue::find(clientId);
    if (!client || client->format != Format::Cli)
        return {};
    const QString &program = client->executables.first();
    QList<QStringList> lines;
    if (!add || client->cli.removeBeforeAdd)
        lines << QStringList{program} + client->cli.remove;
    if (add)
        lines << QStringList{program} + cliAddArguments(*client, permissionMode);
    return lines;
}

bool Clients::runCliRemove(const QString &clientId)
{
    const Client *client = ClientCatalogue::find(clientId);
    if (!client || client->format != Format::Cli)
        return false;
    return backUpCliFile(*client) && runRemove(*client);
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
    const QString path = changedFilePath(client.id);
    return path.isEmpty() || backUp(client.id, path, &m_lastError);
}

bool Clients::executeCli(const QString &program, const QStringList &args)
{
    return runTool(program, args, {});
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
