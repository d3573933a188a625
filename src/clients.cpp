#include "clients.h"

#include "jsonfile.h"
#include "toolprocess.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {

const QString s_serverName = QStringLiteral("tavrin");
const QString s_claudeCode = QStringLiteral("claude-code");
const QString s_codex = QStringLiteral("codex");
const QString s_modeVariable = QStringLiteral("GODOT_MCP_PERMISSION_MODE");
const QString s_clineStorage =
    QStringLiteral("/Code/User/globalStorage/saoudrizwan.claude-dev/settings/cline_mcp_settings.json");
const QString s_claudeDesktopFile = QStringLiteral("/claude_desktop_config.json");

constexpr int s_detectFinishMs = 15000;
constexpr int s_startMs = 5000;
constexpr int s_finishMs = 30000;
constexpr int s_killMs = 3000;

struct ClientRow
{
    const char *id;
    const char *name;
    const char *executable; // null for the JSON-file clients
};

constexpr ClientRow s_clients[] = {
    {"claude-code", "Claude Code", "claude"},
    {"claude-desktop", "Claude Desktop", nullptr},
    {"cursor", "Cursor", nullptr},
    {"windsurf", "Windsurf", nullptr},
    {"cline", "Cline", nullptr},
    {"codex", "Codex", "codex"},
};

// Environment folders arrive with either separator and sometimes a trailing one.
QString normalizedFolder(QString folder)
{
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString envFolder(const QProcessEnvironment &env, const QString &name, const QString &fallback)
{
    const QString value = normalizedFolder(env.value(name));
    return value.isEmpty() ? fallback : value;
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

bool claudeSaysNotFound(const QString &output)
{
    return output.contains(QLatin1String("No MCP server named \"tavrin\""));
}

bool isCliClient(const QString &clientId)
{
    return clientId == s_claudeCode || clientId == s_codex;
}

bool jsonConfigured(const QString &path)
{
    const JsonFile::ReadResult read = JsonFile::read(path);
    return read.status == JsonFile::ReadStatus::Ok &&
           read.object.value(QLatin1String("mcpServers")).toObject().contains(s_serverName);
}

bool claudeConfigured(const QString &exe)
{
    // Claude Code's own user config answers without starting the server, which "claude mcp get"
    // does as a health check; the query is only the fallback.
    const JsonFile::ReadResult read =
        JsonFile::read(Clients::claudeUserConfigPath(QProcessEnvironment::systemEnvironment(), QDir::homePath()));
    if (read.status == JsonFile::ReadStatus::Ok) {
        // Claude Code itself ignores an entry that is not an object (null, say).
        return read.object.value(QLatin1String("mcpServers")).toObject().value(s_serverName).isObject();
    }
    const ToolResult result = ToolProcess::run(exe, {QStringLiteral("mcp"), QStringLiteral("get"), s_serverName},
                                               ToolProcess::NoStartWait, s_detectFinishMs, s_killMs);
    if (!result.finished || result.crashed || result.exitCode != 0)
        return false;
    const QString text = QString::fromUtf8(result.output);
    return text.contains(s_serverName) && text.contains(QLatin1String("Scope: User config"));
}

bool codexConfigured(const QString &exe)
{
    // Codex writes warnings to standard error even on success; the JSON is on standard output.
    const ToolResult result =
        ToolProcess::run(exe, {QStringLiteral("mcp"), QStringLiteral("get"), s_serverName, QStringLiteral("--json")},
                         ToolProcess::NoStartWait, s_detectFinishMs, s_killMs, ToolProcess::Channels::Separate);
    if (!result.finished || result.crashed || result.exitCode != 0)
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(result.output);
    return doc.isObject() && doc.object().value(QLatin1String("name")).toString() == s_serverName;
}

} // namespace

Clients::Clients(QObject *parent) : QObject(parent) {}

QList<ClientInfo> Clients::detect(const QString &permissionMode) const
{
    Q_UNUSED(permissionMode) // presence and entry only; the entry's mode is not compared
    QList<ClientInfo> result;
    for (const ClientRow &row : s_clients) {
        ClientInfo info;
        info.id = QLatin1String(row.id);
        info.name = QLatin1String(row.name);
        info.usesCli = row.executable != nullptr;
        if (info.usesCli) {
            const QString exe = findExecutable(QLatin1String(row.executable));
            info.installed = !exe.isEmpty();
            if (info.installed)
                info.configured = info.id == s_claudeCode ? claudeConfigured(exe) : codexConfigured(exe);
        } else {
            const QString path = configPathFor(info.id);
            info.installed = QFileInfo(QFileInfo(path).absolutePath()).isDir();
            info.configured = jsonConfigured(path);
        }
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
                                      const QString &homeFolder, const QString &dataFolder, const QString &configFolder)
{
    const QString home = normalizedFolder(homeFolder);
    const QString data = normalizedFolder(dataFolder);
    const QString config = normalizedFolder(configFolder);
    const QString localAppData = envFolder(env, QStringLiteral("LOCALAPPDATA"), home + QLatin1String("/AppData/Local"));
    const QString appData = envFolder(env, QStringLiteral("APPDATA"), home + QLatin1String("/AppData/Roaming"));
    const QString macSupport = home + QLatin1String("/Library/Application Support");

    QStringList candidates;
    if (clientId == QLatin1String("claude-desktop")) {
        switch (platform) {
        case Platform::Windows:
            candidates << localAppData + QLatin1String("/Claude-Data/claude*") + s_claudeDesktopFile
                       << localAppData + QLatin1String("/Packages/Claude_*/LocalCache/Roaming/Claude") +
                              s_claudeDesktopFile
                       << appData + QLatin1String("/Claude") + s_claudeDesktopFile;
            break;
        case Platform::MacOS:
            candidates << macSupport + QLatin1String("/Claude") + s_claudeDesktopFile;
            break;
        case Platform::Linux:
            candidates << config + QLatin1String("/Claude") + s_claudeDesktopFile;
            break;
        }
        candidates << data + QLatin1String("/Claude") + s_claudeDesktopFile;
    } else if (clientId == QLatin1String("cursor")) {
        candidates << home + QLatin1String("/.cursor/mcp.json");
    } else if (clientId == QLatin1String("windsurf")) {
        candidates << home + QLatin1String("/.codeium/windsurf/mcp_config.json");
    } else if (clientId == QLatin1String("cline")) {
        candidates << home + QLatin1String("/.cline/data/settings/cline_mcp_settings.json");
        switch (platform) {
        case Platform::Windows:
            candidates << appData + s_clineStorage;
            break;
        case Platform::MacOS:
            candidates << macSupport + s_clineStorage;
            break;
        case Platform::Linux:
            candidates << config + s_clineStorage;
            break;
        }
        candidates << data + s_clineStorage;
    }
    candidates.removeDuplicates();
    return candidates;
}

QString Clients::resolveConfigPath(const QStringList &candidates)
{
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
    const QStringList candidates =
        configCandidates(clientId, currentPlatform(), QProcessEnvironment::systemEnvironment(), QDir::homePath(),
                         QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                         QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    if (candidates.isEmpty())
        return {};
    return resolveConfigPath(candidates);
}

QString Clients::claudeUserConfigPath(const QProcessEnvironment &env, const QString &home)
{
    // Claude Code keeps using its older file name when that file exists.
    const QString configDir = normalizedFolder(env.value(QStringLiteral("CLAUDE_CONFIG_DIR")));
    const QString legacy =
        (configDir.isEmpty() ? home + QLatin1String("/.claude") : configDir) + QLatin1String("/.config.json");
    if (QFileInfo::exists(legacy))
        return legacy;
    return (configDir.isEmpty() ? home : configDir) + QLatin1String("/.claude.json");
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
    bool result = false;
    if (isCliClient(clientId)) {
        result = runCliAdd(clientId, permissionMode);
    } else {
        const QString path = configPathFor(clientId);
        if (path.isEmpty())
            return false;
        result = writeJsonConfig(path, permissionMode, &m_lastError);
    }
    if (!result && m_lastError.isEmpty())
        m_lastError = QStringLiteral("Could not write the client configuration.");
    emit configWritten(clientId, result);
    return result;
}

bool Clients::removeConfig(const QString &clientId)
{
    m_lastError.clear();
    bool result = false;
    if (isCliClient(clientId)) {
        result = runCliRemove(clientId);
    } else {
        const QString path = configPathFor(clientId);
        if (path.isEmpty())
            return false;
        result = removeJsonConfig(path, &m_lastError);
    }
    if (!result && m_lastError.isEmpty())
        m_lastError = QStringLiteral("Could not remove the client configuration.");
    emit configRemoved(clientId, result);
    return result;
}

QJsonObject Clients::mcpEntry(const QString &permissionMode)
{
    return QJsonObject{
        {QStringLiteral("command"), QStringLiteral("uvx")},
        {QStringLiteral("args"), QJsonArray{s_serverName}},
        {QStringLiteral("env"), QJsonObject{{s_modeVariable, permissionMode}}},
    };
}

bool Clients::writeJsonConfig(const QString &path, const QString &permissionMode, QString *error)
{
    const JsonFile::ReadResult read = JsonFile::read(path);
    // Rewriting a file we could not understand would throw away the client's settings.
    if (read.status == JsonFile::ReadStatus::Unreadable || read.status == JsonFile::ReadStatus::NotObject) {
        if (error) {
            const QString why = read.status == JsonFile::ReadStatus::Unreadable
                                    ? QStringLiteral("it cannot be read")
                                    : QStringLiteral("its content is not a JSON object");
            *error = QStringLiteral("%1 was left unchanged because %2 (%3).").arg(path, why, read.errorDetail);
        }
        return false;
    }
    QJsonObject root = read.object;
    QJsonObject servers = root.value(QLatin1String("mcpServers")).toObject();
    servers.insert(s_serverName, mcpEntry(permissionMode));
    root.insert(QLatin1String("mcpServers"), servers);
    return JsonFile::write(path, root, error);
}

bool Clients::removeJsonConfig(const QString &path, QString *error)
{
    const JsonFile::ReadResult read = JsonFile::read(path);
    switch (read.status) {
    case JsonFile::ReadStatus::Missing:
    case JsonFile::ReadStatus::NotObject:
        return true;
    case JsonFile::ReadStatus::Unreadable:
        if (error)
            *error =
                QStringLiteral("%1 was left unchanged because it cannot be read (%2).").arg(path, read.errorDetail);
        return false;
    case JsonFile::ReadStatus::Ok:
        break;
    }
    QJsonObject root = read.object;
    QJsonObject servers = root.value(QLatin1String("mcpServers")).toObject();
    if (!servers.contains(s_serverName))
        return true;
    servers.remove(s_serverName);
    root.insert(QLatin1String("mcpServers"), servers);
    return JsonFile::write(path, root, error);
}

bool Clients::runCliAdd(const QString &clientId, const QString &permissionMode)
{
    QStringList args{QStringLiteral("mcp"), QStringLiteral("add"), s_serverName};
    if (clientId == s_claudeCode)
        args << QStringLiteral("--scope") << QStringLiteral("user");
    else if (clientId != s_codex)
        return false;
    if (!isValidPermissionMode(permissionMode)) {
        m_lastError = QStringLiteral("The permission mode \"%1\" was refused: only lower-case letters and "
                                     "underscores are allowed.")
                          .arg(permissionMode);
        return false;
    }
    args << QStringLiteral("--env") << s_modeVariable + QLatin1Char('=') + permissionMode << QStringLiteral("--")
         << QStringLiteral("uvx") << s_serverName;
    if (clientId == s_claudeCode) {
        // "claude mcp add" refuses to overwrite an existing entry, so the old one goes first;
        // its absence is fine, any other failure stops here with the tool's own explanation.
        if (!runTool(QStringLiteral("claude"),
                     {QStringLiteral("mcp"), QStringLiteral("remove"), s_serverName, QStringLiteral("--scope"),
                      QStringLiteral("user")},
                     claudeSaysNotFound))
            return false;
        return executeCli(QStringLiteral("claude"), args);
    }
    return executeCli(QStringLiteral("codex"), args);
}

bool Clients::runCliRemove(const QString &clientId)
{
    QStringList args{QStringLiteral("mcp"), QStringLiteral("remove"), s_serverName};
    if (clientId == s_claudeCode) {
        args << QStringLiteral("--scope") << QStringLiteral("user");
        // An entry that is already gone is what the user asked for ("codex mcp remove" agrees).
        return runTool(QStringLiteral("claude"), args, claudeSaysNotFound);
    }
    if (clientId != s_codex)
        return false;
    return executeCli(QStringLiteral("codex"), args);
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
