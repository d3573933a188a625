#include "core/clientcatalogue.h"

#include "base/userfolders.h"
#include "core/mcpserver.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace ClientCatalogue {

namespace {

const QString s_claudeDesktopFile = QStringLiteral("/claude_desktop_config.json");
const QString s_clineStorage =
    QStringLiteral("/Code/User/globalStorage/saoudrizwan.claude-dev/settings/cline_mcp_settings.json");
const QString s_vscodeFile = QStringLiteral("/Code/User/mcp.json");

// Environment folders arrive with either separator and sometimes a trailing one.
QString normalizedFolder(QString folder)
{
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString envFolder(const Places &places, const char *name, const QString &fallback)
{
    const QString value = normalizedFolder(places.env.value(QLatin1String(name)));
    return value.isEmpty() ? fallback : value;
}

QString home(const Places &places)
{
    return normalizedFolder(places.home);
}

QString appData(const Places &places)
{
    return envFolder(places, "APPDATA", home(places) + QLatin1String("/AppData/Roaming"));
}

QString macSupport(const Places &places)
{
    return home(places) + QLatin1String("/Library/Application Support");
}

// The folder a platform keeps per-user application settings in.
QString settingsFolder(Platform platform, const Places &places)
{
    switch (platform) {
    case Platform::Windows:
        return appData(places);
    case Platform::MacOS:
        return macSupport(places);
    case Platform::Linux:
        break;
    }
    return normalizedFolder(places.config);
}

QStringList claudeCode(Platform, const Places &places)
{
    // The older file name stays in use while it exists.
    const QString dir = envFolder(places, "CLAUDE_CONFIG_DIR", QString());
    return {(dir.isEmpty() ? home(places) + QLatin1String("/.claude") : dir) + QLatin1String("/.config.json"),
            (dir.isEmpty() ? home(places) : dir) + QLatin1String("/.claude.json")};
}

QStringList claudeDesktop(Platform platform, const Places &places)
{
    QStringList list;
    const QString localAppData = envFolder(places, "LOCALAPPDATA", home(places) + QLatin1String("/AppData/Local"));
    switch (platform) {
    case Platform::Windows:
        // The installer's and the Store package's folders come before the classic one.
        list << localAppData + QLatin1String("/Claude-Data/claude*") + s_claudeDesktopFile
             << localAppData + QLatin1String("/Packages/Claude_*/LocalCache/Roaming/Claude") + s_claudeDesktopFile
             << appData(places) + QLatin1String("/Claude") + s_claudeDesktopFile;
        break;
    case Platform::MacOS:
    case Platform::Linux:
        list << settingsFolder(platform, places) + QLatin1String("/Claude") + s_claudeDesktopFile;
        break;
    }
    return list << normalizedFolder(places.data) + QLatin1String("/Claude") + s_claudeDesktopFile;
}

QStringList cursor(Platform, const Places &places)
{
    return {home(places) + QLatin1String("/.cursor/mcp.json")};
}

QStringList windsurf(Platform, const Places &places)
{
    return {home(places) + QLatin1String("/.codeium/windsurf/mcp_config.json")};
}

QStringList cline(Platform platform, const Places &places)
{
    // The standalone CLI's file first, then the VS Code extension's storage.
    return {home(places) + QLatin1String("/.cline/data/settings/cline_mcp_settings.json"),
            settingsFolder(platform, places) + s_clineStorage, normalizedFolder(places.data) + s_clineStorage};
}

QStringList vscode(Platform platform, const Places &places)
{
    QStringList list;
    const QString portable = envFolder(places, "VSCODE_PORTABLE", QString());
    if (!portable.isEmpty())
        list << portable + QLatin1String("/user-data/User/mcp.json");
    return list << settingsFolder(platform, places) + s_vscodeFile;
}

QStringList copilotCli(Platform, const Places &places)
{
    return {envFolder(places, "COPILOT_HOME", home(places) + QLatin1String("/.copilot")) +
            QLatin1String("/mcp-config.json")};
}

QStringList gemini(Platform, const Places &places)
{
    // GEMINI_CLI_HOME stands in for the home folder, which holds .gemini.
    return {envFolder(places, "GEMINI_CLI_HOME", home(places)) + QLatin1String("/.gemini/settings.json")};
}

QStringList qwen(Platform, const Places &places)
{
    QString dir = envFolder(places, "QWEN_HOME", home(places) + QLatin1String("/.qwen"));
    if (dir == QLatin1String("~") || dir.startsWith(QLatin1String("~/")))
        dir = home(places) + dir.mid(1);
    return {dir + QLatin1String("/settings.json")};
}

QStringList opencode(Platform, const Places &places)
{
    // opencode follows the XDG rule on every platform, and edits whichever of its two names exists.
    const QString dir =
        envFolder(places, "XDG_CONFIG_HOME", home(places) + QLatin1String("/.config")) + QLatin1String("/opencode");
    return {dir + QLatin1String("/opencode.json"), dir + QLatin1String("/opencode.jsonc")};
}

QStringList codex(Platform, const Places &places)
{
    const QString dir = envFolder(places, "CODEX_HOME", home(places) + QLatin1String("/.codex"));
    return {(dir == QLatin1String("/") ? QString() : dir) + QLatin1String("/config.toml")};
}

QStringList zed(Platform platform, const Places &places)
{
    switch (platform) {
    case Platform::Windows:
        return {appData(places) + QLatin1String("/Zed/settings.json")};
    case Platform::MacOS:
        return {home(places) + QLatin1String("/.config/zed/settings.json")};
    case Platform::Linux:
        break;
    }
    return {normalizedFolder(places.config) + QLatin1String("/zed/settings.json")};
}

QList<Client> buildTable()
{
    const auto file = [](Syntax syntax, const char *servers) {
        FileLayout layout;
        layout.syntax = syntax;
        layout.serversPath = QStringList{QLatin1String(servers)};
        return layout;
    };
    const auto json = [&](const char *id, const char *name, const char *icon, auto candidates) {
        Client c;
        c.id = QLatin1String(id);
        c.name = QLatin1String(name);
        c.iconKey = QLatin1String(icon);
        c.file = file(Syntax::Json, "mcpServers");
        c.candidates = candidates;
        c.cardWhenAbsent = true;
        return c;
    };
    const auto jsonc = [&](const char *id, const char *name, const char *icon, QStringList executables,
                           const char *servers, auto candidates) {
        Client c;
        c.id = QLatin1String(id);
        c.name = QLatin1String(name);
        c.iconKey = QLatin1String(icon);
        c.executables = std::move(executables);
        c.file = file(Syntax::Jsonc, servers);
        c.candidates = candidates;
        return c;
    };
    const QString &server = McpServer::name();
    const QStringList mcp{QStringLiteral("mcp")};

    Client claude;
    claude.id = QStringLiteral("claude-code");
    claude.name = QStringLiteral("Claude Code");
    claude.iconKey = QStringLiteral("terminal");
    claude.executables = QStringList{QStringLiteral("claude")};
    claude.usesCli = true;
    claude.file = file(Syntax::Json, "mcpServers");
    claude.candidates = claudeCode;
    claude.firstExistingFile = true;
    claude.cardWhenAbsent = true;
    claude.startLimitSeconds = 30;
    const QStringList userScope{QStringLiteral("--scope"), QStringLiteral("user")};
    claude.cli.add = mcp + QStringList{QStringLiteral("add"), server} + userScope;
    claude.cli.remove = mcp + QStringList{QStringLiteral("remove"), server} + userScope;
    claude.cli.query = mcp + QStringList{QStringLiteral("get"), server};
    claude.cli.answer = Query::ClaudeText;
    claude.cli.removeBeforeAdd = true;
    claude.cli.absentText = QStringLiteral("No MCP server named \"%1\"").arg(server);
    // "claude mcp get" starts the server as a health check.
    claude.cli.readFileFirst = true;

    Client codexRow;
    codexRow.id = QStringLiteral("codex");
    codexRow.name = QStringLiteral("Codex");
    codexRow.iconKey = QStringLiteral("box");
    codexRow.executables = QStringList{QStringLiteral("codex")};
    codexRow.usesCli = true;
    codexRow.file = file(Syntax::Toml, "mcp_servers");
    codexRow.candidates = codex;
    codexRow.cardWhenAbsent = true;
    codexRow.startLimitSeconds = 10; // startup_timeout_sec
    codexRow.cli.add = mcp + QStringList{QStringLiteral("add"), server};
    codexRow.cli.remove = mcp + QStringList{QStringLiteral("remove"), server};
    codexRow.cli.query = mcp + QStringList{QStringLiteral("get"), server, QStringLiteral("--json")};
    codexRow.cli.answer = Query::CodexJson;

    Client vs = jsonc("vscode", "VS Code", "editor", {QStringLiteral("code")}, "servers", vscode);
    vs.file.entry.extras = QJsonObject{{QStringLiteral("type"), QStringLiteral("stdio")}};

    // What "copilot mcp add" writes for a local server. Copilot reads comments and trailing
    // commas too (and drops them when it rewrites the file itself).
    Client copilot =
        jsonc("copilot-cli", "GitHub Copilot CLI", "prompt", {QStringLiteral("copilot")}, "mcpServers", copilotCli);
    copilot.file.entry.extras = QJsonObject{{QStringLiteral("type"), QStringLiteral("local")},
                                            {QStringLiteral("tools"), QJsonArray{QStringLiteral("*")}}};

    Client open = jsonc("opencode", "opencode", "brackets", {QStringLiteral("opencode")}, "mcp", opencode);
    open.file.entry.commandArray = true;
    open.file.entry.envKey = QStringLiteral("environment");
    open.file.entry.extras =
        QJsonObject{{QStringLiteral("type"), QStringLiteral("local")}, {QStringLiteral("enabled"), true}};
    open.firstExistingFile = true;

    Client desktop = json("claude-desktop", "Claude Desktop", "monitor", claudeDesktop);
    desktop.startLimitSeconds = 5; // on Windows

    return {
        claude,
        desktop,
        json("cursor", "Cursor", "code", cursor),
        json("windsurf", "Windsurf", "wind", windsurf),
        json("cline", "Cline", "zap", cline),
        codexRow,
        vs,
        copilot,
        jsonc("gemini", "Gemini CLI", "sparkle", {QStringLiteral("gemini")}, "mcpServers", gemini),
        jsonc("qwen", "Qwen Code", "hexagon", {QStringLiteral("qwen")}, "mcpServers", qwen),
        open,
        jsonc("zed", "Zed", "bolt", {QStringLiteral("zed"), QStringLiteral("zeditor")}, "context_servers", zed),
    };
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

} // namespace

const QList<Client> &all()
{
    static const QList<Client> s_table = buildTable();
    return s_table;
}

const Client *find(const QString &id)
{
    for (const Client &client : all()) {
        if (client.id == id)
            return &client;
    }
    return nullptr;
}

QStringList candidates(const QString &id, Platform platform, const Places &places)
{
    const Client *client = find(id);
    if (!client || !client->candidates)
        return {};
    QStringList list = client->candidates(platform, places);
    list.removeDuplicates();
    return list;
}

Platform currentPlatform()
{
#if defined(Q_OS_WIN)
    return Platform::Windows;
#elif defined(Q_OS_MACOS)
    return Platform::MacOS;
#else
    return Platform::Linux;
#endif
}

Places currentPlaces()
{
    return {QProcessEnvironment::systemEnvironment(), UserFolders::home(), UserFolders::data(), UserFolders::config()};
}

QString configPath(const QString &id)
{
    const Client *client = find(id);
    if (!client || !client->candidates)
        return {};
    return resolve(candidates(id, currentPlatform(), currentPlaces()), client->firstExistingFile);
}

QString resolve(const QStringList &candidates, bool firstExistingFile)
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

QString registrationCommand(const Client &client)
{
    if (!client.usesCli || client.executables.isEmpty())
        return {};
    return client.executables.first() + QLatin1Char(' ') + client.cli.add.join(QLatin1Char(' '));
}

} // namespace ClientCatalogue
