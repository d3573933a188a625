#include "core/clientcatalogue.h"

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
    const QStringList mcpServers{QStringLiteral("mcpServers")};
    const auto json = [&](const char *id, const char *name, const char *icon, auto candidates) {
        Client c;
        c.id = QLatin1String(id);
        c.name = QLatin1String(name);
        c.iconKey = QLatin1String(icon);
        c.format = Format::Json;
        c.serversPath = mcpServers;
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
        c.format = Format::Jsonc;
        c.serversPath = QStringList{QLatin1String(servers)};
        c.candidates = candidates;
        return c;
    };
    const QString tavrin = QStringLiteral("tavrin");
    const QStringList mcp{QStringLiteral("mcp")};

    Client claude;
    claude.id = QStringLiteral("claude-code");
    claude.name = QStringLiteral("Claude Code");
    claude.iconKey = QStringLiteral("terminal");
    claude.executables = QStringList{QStringLiteral("claude")};
    claude.format = Format::Cli;
    claude.serversPath = mcpServers;
    claude.candidates = claudeCode; // read for detection; the tool writes it
    claude.firstExistingFile = true;
    claude.cardWhenAbsent = true;
    claude.startLimitSeconds = 30;
    const QStringList userScope{QStringLiteral("--scope"), QStringLiteral("user")};
    claude.cli.add = mcp + QStringList{QStringLiteral("add"), tavrin} + userScope;
    claude.cli.remove = mcp + QStringList{QStringLiteral("remove"), tavrin} + userScope;
    claude.cli.query = mcp + QStringList{QStringLiteral("get"), tavrin};
    claude.cli.answer = Query::ClaudeText;
    claude.cli.removeBeforeAdd = true;
    claude.cli.absentText = QStringLiteral("No MCP server named \"tavrin\"");

    Client codex;
    codex.id = QStringLiteral("codex");
    codex.name = QStringLiteral("Codex");
    codex.iconKey = QStringLiteral("box");
    codex.executables = QStringList{QStringLiteral("codex")};
    codex.format = Format::Cli;
    codex.cardWhenAbsent = true;
    codex.startLimitSeconds = 10; // startup_timeout_sec
    codex.cli.add = mcp + QStringList{QStringLiteral("add"), tavrin};
    codex.cli.remove = mcp + QStringList{QStringLiteral("remove"), tavrin};
    codex.cli.query = mcp + QStringList{QStringLiteral("get"), tavrin, QStringLiteral("--json")};
    codex.cli.answer = Query::CodexJson;

    Client vs = jsonc("vscode", "VS Code", "editor", {QStringLiteral("code")}, "servers", vscode);
    vs.entry.extras = QJsonObject{{QStringLiteral("type"), QStringLiteral("stdio")}};

    // What "copilot mcp add" writes for a local server. Copilot reads comments and trailing
    // commas too (and drops them when it rewrites the file itself).
    Client copilot =
        jsonc("copilot-cli", "GitHub Copilot CLI", "prompt", {QStringLiteral("copilot")}, "mcpServers", copilotCli);
    copilot.entry.extras = QJsonObject{{QStringLiteral("type"), QStringLiteral("local")},
                                       {QStringLiteral("tools"), QJsonArray{QStringLiteral("*")}}};

    Client open = jsonc("opencode", "opencode", "brackets", {QStringLiteral("opencode")}, "mcp", opencode);
    open.entry.commandArray = true;
    open.entry.envKey = QStringLiteral("environment");
    open.entry.extras =
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
        codex,
        vs,
        copilot,
        jsonc("gemini", "Gemini CLI", "sparkle", {QStringLiteral("gemini")}, "mcpServers", gemini),
        jsonc("qwen", "Qwen Code", "hexagon", {QStringLiteral("qwen")}, "mcpServers", qwen),
        open,
        jsonc("zed", "Zed", "bolt", {QStringLiteral("zed"), QStringLiteral("zeditor")}, "context_servers", zed),
    };
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

QString registrationCommand(const Client &client)
{
    if (client.format != Format::Cli || client.executables.isEmpty())
        return {};
    return client.executables.first() + QLatin1Char(' ') + client.cli.add.join(QLatin1Char(' '));
}

} // namespace ClientCatalogue
