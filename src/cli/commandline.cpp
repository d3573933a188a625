#include "cli/commandline.h"

#include "cli/clientchange.h"
#include "cli/names.h"
#include "cli/projectchange.h"
#include "cli/statusreport.h"
#include "core/backups.h"
#include "core/clientcatalogue.h"
#include "core/clients.h"
#include "core/godoteditors.h"
#include "core/godotproject.h"
#include "core/serverprobe.h"
#include "core/settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QSet>

namespace {

const QString s_program = QStringLiteral("tavrin-cli");
const QStringList s_modes{QStringLiteral("safe_edit"), QStringLiteral("full_control")};

// The options, each defined once.
const QCommandLineOption &jsonOption()
{
    static const QCommandLineOption o(QStringLiteral("json"), QStringLiteral("Print a JSON document instead of text."));
    return o;
}
const QCommandLineOption &dryRunOption()
{
    static const QCommandLineOption o(QStringLiteral("dry-run"),
                                      QStringLiteral("Show exactly what would change, and change nothing."));
    return o;
}
const QCommandLineOption &yesOption()
{
    static const QCommandLineOption o(QStringList{QStringLiteral("y"), QStringLiteral("yes")},
                                      QStringLiteral("Do not ask; required when not run from a terminal."));
    return o;
}
const QCommandLineOption &projectOption()
{
    static const QCommandLineOption o(QStringLiteral("project"), QStringLiteral("The Godot project folder."),
                                      QStringLiteral("DIR"));
    return o;
}
const QCommandLineOption &clientOption()
{
    static const QCommandLineOption o(QStringLiteral("client"),
                                      QStringLiteral("A client identifier (see \"clients list\"); repeatable."),
                                      QStringLiteral("ID"));
    return o;
}
const QCommandLineOption &allOption(bool add)
{
    static const QCommandLineOption installed(QStringLiteral("all"), QStringLiteral("Every installed client."));
    static const QCommandLineOption configured(QStringLiteral("all"),
                                               QStringLiteral("Every client that has the server registered."));
    return add ? installed : configured;
}
const QCommandLineOption &modeOption()
{
    static const QCommandLineOption o(QStringLiteral("mode"),
                                      QStringLiteral("safe_edit or full_control (default: the stored mode)."),
                                      QStringLiteral("MODE"));
    return o;
}
const QCommandLineOption &timeoutOption()
{
    static const QCommandLineOption o(QStringLiteral("timeout"),
                                      QStringLiteral("Give up after this many seconds (default: 300)."),
                                      QStringLiteral("SECONDS"));
    return o;
}
const QCommandLineOption &helpOption()
{
    static const QCommandLineOption o(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Show this help and exit."));
    return o;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// The worst outcome decides the exit code: a refusal over a failure over success.
int exitFor(bool refused, bool failed)
{
    return refused ? Exit::Refused : (failed ? Exit::Failed : Exit::Done);
}

// Where a client's backups find our entry.
ClientCatalogue::FileLayout layoutOf(const QString &id)
{
    const ClientCatalogue::Client *client = ClientCatalogue::find(id);
    return client ? client->file : ClientCatalogue::FileLayout();
}

} // namespace

struct CommandLine::Command
{
    QString words;     // "clients add"
    QString arguments; // the usage after the words and [options]
    QString brief;     // for the list of commands
    QString summary;
    QList<QCommandLineOption> options;
    Handler handler = nullptr;
    int minPositional = 0;
    int maxPositional = 0;
};

const QList<CommandLine::Command> &CommandLine::commands()
{
    static const QList<Command> s_commands{
        {QStringLiteral("status"),
         {},
         QStringLiteral("Is this machine ready for the project?"),
         QStringLiteral("Prerequisites, Godot, the project's addon and plugin, and every client. Exits 0 when "
                        "ready: uvx found, the addon installed and enabled, a client registered in the current "
                        "mode; 1 otherwise, with the reasons on standard error. The project defaults to the "
                        "active one."),
         {projectOption(), jsonOption()},
         &CommandLine::status},
        {QStringLiteral("clients list"),
         {},
         QStringLiteral("The AI clients, with what is detected"),
         QStringLiteral("The AI clients Tavrin knows, with what is detected."),
         {jsonOption()},
         &CommandLine::clientsList},
        {QStringLiteral("clients add"),
         {},
         QStringLiteral("Register the server with clients"),
         QStringLiteral("Register the Tavrin MCP server with clients: --client ID (repeatable) or --all."),
         {clientOption(), allOption(true), modeOption(), dryRunOption(), jsonOption()},
         &CommandLine::clientsAdd},
        {QStringLiteral("clients remove"),
         {},
         QStringLiteral("Remove the server from clients"),
         QStringLiteral("Remove the Tavrin MCP server from clients: --client ID (repeatable) or --all."),
         {clientOption(), allOption(false), dryRunOption(), yesOption(), jsonOption()},
         &CommandLine::clientsRemove},
        {QStringLiteral("mode"),
         QStringLiteral("[safe_edit|full_control]"),
         QStringLiteral("Show or set the permission mode"),
         QStringLiteral("Show the permission mode, or set it and register it again with every client that has "
                        "the server."),
         {dryRunOption(), jsonOption()},
         &CommandLine::mode,
         0,
         1},
        {QStringLiteral("addon install"),
         {},
         QStringLiteral("Install the addon and enable its plugin"),
         QStringLiteral("Install the Godot addon into the project and enable its plugin."),
         {projectOption(), dryRunOption(), jsonOption()},
         &CommandLine::addonInstall},
        {QStringLiteral("addon update"),
         {},
         QStringLiteral("Update the addon in a project"),
         QStringLiteral("Update the installed addon to the one that ships with Tavrin."),
         {projectOption(), dryRunOption(), jsonOption()},
         &CommandLine::addonUpdate},
        {QStringLiteral("addon uninstall"),
         {},
         QStringLiteral("Disable the plugin and remove the addon"),
         QStringLiteral("Disable the plugin and remove the addon from the project."),
         {projectOption(), dryRunOption(), yesOption(), jsonOption()},
         &CommandLine::addonUninstall},
        {QStringLiteral("plugin enable"),
         {},
         QStringLiteral("Enable the plugin in project.godot"),
         QStringLiteral("List the plugin in the project's [editor_plugins]."),
         {projectOption(), dryRunOption(), jsonOption()},
         &CommandLine::pluginEnable},
        {QStringLiteral("plugin disable"),
         {},
         QStringLiteral("Disable the plugin in project.godot"),
         QStringLiteral("Take the plugin off the project's [editor_plugins]."),
         {projectOption(), dryRunOption(), jsonOption()},
         &CommandLine::pluginDisable},
        {QStringLiteral("server test"),
         {},
         QStringLiteral("Start the MCP server and check its handshake"),
         QStringLiteral("Start the MCP server as the clients do (uvx tavrin) and check its handshake; uv's "
                        "progress goes to standard error."),
         {timeoutOption(), jsonOption()},
         &CommandLine::serverTest},
        {QStringLiteral("godot find"),
         {},
         QStringLiteral("The Godot editors found"),
         QStringLiteral("The Godot editors found, and the one in use."),
         {jsonOption()},
         &CommandLine::godotFind},
        {QStringLiteral("projects list"),
         {},
         QStringLiteral("Recent projects and Godot's project list"),
         QStringLiteral("Tavrin's recent projects and the projects in Godot's own list."),
         {jsonOption()},
         &CommandLine::projectsList},
        {QStringLiteral("backups list"),
         {},
         QStringLiteral("A client's backups"),
         QStringLiteral("The backups of a client's configuration file."),
         {clientOption(), jsonOption()},
         &CommandLine::backupsList},
        {QStringLiteral("backups restore"),
         QStringLiteral("NAME"),
         QStringLiteral("Put a client's backup back in place"),
         QStringLiteral("Put a backup (a NAME from \"backups list\") back in place; the file as it is now is "
                        "backed up first."),
         {clientOption(), yesOption()},
         &CommandLine::backupsRestore,
         1,
         1},
    };
    return s_commands;
}

CommandLine::CommandLine(const Console &console) : m_console(console) {}

CommandLine::~CommandLine()
{
    delete m_settings;
}

Settings &CommandLine::settings()
{
    if (!m_settings)
        m_settings = new Settings;
    return *m_settings;
}

QString CommandLine::generalHelp() const
{
    QStringList lines{QStringLiteral("Usage: %1 <command> [options]").arg(s_program), QString(),
                      QStringLiteral("Sets up Godot projects and AI clients for the Tavrin MCP server, as Tavrin "
                                     "Desktop does."),
                      QString(), QStringLiteral("Commands:")};
    for (const Command &command : commands())
        lines << QStringLiteral("  %1%2").arg(
            (command.words + (command.arguments.isEmpty() ? QString() : QLatin1Char(' ') + command.arguments))
                .leftJustified(32),
            command.brief);
    lines << QString() << QStringLiteral("Options:") << QStringLiteral("  -h, --help  Show this help and exit.")
          << QStringLiteral("  --version   Show the version and exit.") << QString()
          << QStringLiteral("\"%1 <command> --help\" describes a command. Exit codes: 0 done (status: ready), 1 "
                            "failed or not ready, 2 usage error, 3 refused to protect your data.")
                 .arg(s_program);
    return lines.join(QLatin1Char('\n'));
}

QString CommandLine::groupHelp(const QString &group) const
{
    QStringList lines{QStringLiteral("Usage: %1 %2 <command> [options]").arg(s_program, group), QString(),
                      QStringLiteral("Commands:")};
    for (const Command &command : commands()) {
        if (command.words.startsWith(group + QLatin1Char(' ')))
            lines << QStringLiteral("  %1%2").arg(command.words.leftJustified(20), command.summary);
    }
    return lines.join(QLatin1Char('\n'));
}

int CommandLine::usageError(const QString &words, const QString &message) const
{
    m_console.err(QStringLiteral("%1: %2").arg(s_program, message));
    m_console.err(QStringLiteral("Try \"%1 %2--help\".").arg(s_program, words.isEmpty() ? QString() : words + ' '));
    return Exit::Usage;
}

int CommandLine::run(const QStringList &arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty())
        return usageError({}, QStringLiteral("no command given."));
    const QString &first = args.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help")) {
        m_console.out(generalHelp());
        return Exit::Done;
    }
    if (first == QLatin1String("--version")) {
        m_console.out(s_program + QLatin1Char(' ') + QCoreApplication::applicationVersion());
        return Exit::Done;
    }
    const Command *command = nullptr;
    bool group = false;
    for (const Command &candidate : commands()) {
        const QStringList words = candidate.words.split(QLatin1Char(' '));
        if (words.first() != first)
            continue;
        group = group || words.size() > 1;
        if (words.size() == 1 || args.value(1) == words.at(1)) {
            command = &candidate;
            break;
        }
    }
    if (!command && group) {
        const QString second = args.value(1);
        if (second == QLatin1String("-h") || second == QLatin1String("--help")) {
            m_console.out(groupHelp(first));
            return Exit::Done;
        }
        m_console.err(groupHelp(first));
        return usageError(first, second.isEmpty() ? QStringLiteral("\"%1\" needs a command.").arg(first)
                                                  : QStringLiteral("unknown command \"%1 %2\".").arg(first, second));
    }
    if (!command)
        return usageError({}, QStringLiteral("unknown command \"%1\".").arg(first));

    m_words = command->words;
    const qsizetype wordCount = command->words.count(QLatin1Char(' ')) + 1;
    QCommandLineParser parser;
    parser.setApplicationDescription(command->summary);
    parser.addOptions(command->options);
    parser.addOption(helpOption());
    if (!command->arguments.isEmpty())
        parser.addPositionalArgument(command->arguments, QString(), command->arguments);
    if (!parser.parse(QStringList{arguments.first()} + args.mid(wordCount)))
        return usageError(m_words, parser.errorText());
    if (parser.isSet(helpOption())) {
        // Qt's help starts with a usage line that knows nothing of command words.
        QStringList help = parser.helpText().split(QLatin1Char('\n'));
        help.first() = QStringLiteral("Usage: %1 %2 [options]%3\n")
                           .arg(s_program, m_words,
                                command->arguments.isEmpty() ? QString() : QLatin1Char(' ') + command->arguments);
        while (!help.isEmpty() && help.last().isEmpty())
            help.removeLast();
        m_console.out(help.join(QLatin1Char('\n')));
        return Exit::Done;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() < command->minPositional || positional.size() > command->maxPositional)
        return usageError(
            m_words, positional.size() > command->maxPositional
                         ? QStringLiteral("unexpected argument \"%1\".").arg(positional.value(command->maxPositional))
                         : QStringLiteral("missing %1.").arg(command->arguments));
    return (this->*command->handler)(parser, positional);
}

QString CommandLine::projectFolder(const QCommandLineParser &parser) const
{
    const QString given = parser.isSet(projectOption()) ? parser.value(projectOption()) : QString();
    if (given.isEmpty())
        return {};
    return QDir::cleanPath(QFileInfo(given).absoluteFilePath());
}

bool CommandLine::confirmed(const QCommandLineParser &parser, const QString &question, int *exitCode) const
{
    if (parser.isSet(yesOption()) || parser.isSet(dryRunOption()))
        return true;
    if (!m_console.interactive()) {
        *exitCode = usageError(m_words, QStringLiteral("this command changes your files; without a terminal to "
                                                       "ask on, add -y to confirm."));
        return false;
    }
    if (m_console.confirm(question))
        return true;
    m_console.err(QStringLiteral("Nothing was changed."));
    *exitCode = Exit::Failed;
    return false;
}

int CommandLine::status(const QCommandLineParser &parser, const QStringList &)
{
    QString project = projectFolder(parser);
    if (project.isEmpty())
        project = settings().activeProject();
    const StatusReport report = StatusReport::gather(project, settings().permissionMode(), settings().godotPath());
    if (parser.isSet(jsonOption()))
        m_console.json(report.toJson());
    else
        m_console.out(report.toText(m_console).join(QLatin1Char('\n')));
    const QStringList reasons = report.notReady();
    for (const QString &reason : reasons)
        m_console.err(QLatin1String("not ready: ") + reason);
    return reasons.isEmpty() ? Exit::Done : Exit::Failed;
}

int CommandLine::clientsList(const QCommandLineParser &parser, const QStringList &)
{
    const QString stored = settings().permissionMode();
    const QList<ClientInfo> infos = Clients().detect();
    if (parser.isSet(jsonOption())) {
        QJsonArray clients;
        for (const ClientInfo &info : infos)
            clients.append(QJsonObject{
                {QStringLiteral("id"), info.id},
                {QStringLiteral("name"), info.name},
                {QStringLiteral("registration"), info.usesCli ? QStringLiteral("cli") : QStringLiteral("file")},
                {QStringLiteral("installed"), info.installed},
                {QStringLiteral("configured"), info.configured},
                {QStringLiteral("mode"), orNull(info.mode)},
                {QStringLiteral("state"), Names::clientState(info, stored)},
                {QStringLiteral("configPath"), orNull(info.configPath)}});
        m_console.json({{QStringLiteral("permissionMode"), stored}, {QStringLiteral("clients"), clients}});
        return Exit::Done;
    }
    m_console.out(QStringLiteral("%1 %2 %3 %4")
                      .arg(QStringLiteral("ID").leftJustified(15), QStringLiteral("NAME").leftJustified(19),
                           QStringLiteral("STATE").leftJustified(15), QStringLiteral("MODE")));
    for (const ClientInfo &info : infos)
        m_console.out(QStringLiteral("%1 %2 %3 %4")
                          .arg(info.id.leftJustified(15), info.name.leftJustified(19),
                               Names::clientState(info, stored).leftJustified(15),
                               info.mode.isEmpty() ? "-" : info.mode));
    return Exit::Done;
}

int CommandLine::clientsAdd(const QCommandLineParser &parser, const QStringList &)
{
    return clientsChange(parser, true);
}

int CommandLine::clientsRemove(const QCommandLineParser &parser, const QStringList &)
{
    return clientsChange(parser, false);
}

int CommandLine::clientsChange(const QCommandLineParser &parser, bool add)
{
    const QStringList ids = parser.values(clientOption());
    const bool all = parser.isSet(allOption(add));
    if (ids.isEmpty() == !all)
        return usageError(m_words, QStringLiteral("give either --client ID (repeatable) or --all."));
    for (const QString &id : ids) {
        if (!ClientCatalogue::find(id)) {
            QStringList known;
            for (const ClientCatalogue::Client &client : ClientCatalogue::all())
                known << client.id;
            return usageError(m_words, QStringLiteral("unknown client \"%1\"; known: %2.").arg(id, known.join(", ")));
        }
    }
    QString mode = settings().permissionMode();
    if (add && parser.isSet(modeOption())) {
        mode = parser.value(modeOption());
        if (!s_modes.contains(mode))
            return usageError(m_words, QStringLiteral("--mode is safe_edit or full_control, not \"%1\".").arg(mode));
        if (mode != settings().permissionMode())
            m_console.err(QStringLiteral("note: the stored mode is %1; \"%2 mode %3\" makes %3 the mode for every "
                                         "client.")
                              .arg(settings().permissionMode(), s_program, mode));
    }
    const bool dryRun = parser.isSet(dryRunOption());
    int code = Exit::Done;
    if (!add && !confirmed(parser,
                           QStringLiteral("Remove the Tavrin MCP server from %1?")
                               .arg(all ? QStringLiteral("every client") : ids.join(", ")),
                           &code))
        return code;

    QList<ClientChange> changes;
    const QSet<QString> wanted(ids.cbegin(), ids.cend());
    for (const ClientInfo &info : Clients().detect()) {
        const bool chosen = all ? (add ? info.installed : info.configured) : wanted.contains(info.id);
        if (chosen)
            changes << ClientChange(info, add, mode);
    }
    if (changes.isEmpty() && all)
        m_console.err(add ? QStringLiteral("No AI client is installed.")
                          : QStringLiteral("No client has the Tavrin MCP server registered."));
    bool refused = false;
    bool failed = false;
    QJsonArray results;
    for (ClientChange &change : changes) {
        if (!dryRun)
            change.apply();
        const ClientChange::Outcome outcome = change.outcome();
        refused = refused || outcome == ClientChange::Outcome::Refused;
        failed = failed || outcome == ClientChange::Outcome::Failed;
        results.append(change.toJson(dryRun));
        if (parser.isSet(jsonOption()))
            continue;
        switch (outcome) {
        case ClientChange::Outcome::Planned:
            if (dryRun)
                m_console.out(change.diff().chopped(1));
            else
                m_console.out(add ? QStringLiteral("%1: registered (%2)").arg(change.clientId(), mode)
                                  : QStringLiteral("%1: removed").arg(change.clientId()));
            break;
        case ClientChange::Outcome::NothingToDo:
            m_console.out(QStringLiteral("%1: nothing to change").arg(change.clientId()));
            break;
        case ClientChange::Outcome::Refused:
        case ClientChange::Outcome::Failed:
            m_console.err(QStringLiteral("%1: %2").arg(change.clientId(), change.reason()));
            break;
        }
    }
    if (parser.isSet(jsonOption()))
        m_console.json({{QStringLiteral("dryRun"), dryRun}, {QStringLiteral("results"), results}});
    return exitFor(refused, failed);
}

int CommandLine::mode(const QCommandLineParser &parser, const QStringList &positional)
{
    if (positional.isEmpty()) {
        if (parser.isSet(jsonOption()))
            m_console.json({{QStringLiteral("permissionMode"), settings().permissionMode()}});
        else
            m_console.out(settings().permissionMode());
        return Exit::Done;
    }
    const QString &mode = positional.first();
    if (!s_modes.contains(mode))
        return usageError(m_words, QStringLiteral("the mode is safe_edit or full_control, not \"%1\".").arg(mode));
    const bool dryRun = parser.isSet(dryRunOption());
    if (!dryRun)
        settings().setPermissionMode(mode);
    // As the Settings page does: every client that has the server gets it again in the new mode.
    bool refused = false;
    bool failed = false;
    QJsonArray results;
    for (const ClientInfo &info : Clients().detect()) {
        if (!info.configured || info.mode == mode)
            continue;
        ClientChange change(info, true, mode);
        if (!dryRun)
            change.apply();
        refused = refused || change.outcome() == ClientChange::Outcome::Refused;
        failed = failed || change.outcome() == ClientChange::Outcome::Failed;
        results.append(change.toJson(dryRun));
        if (parser.isSet(jsonOption()))
            continue;
        if (change.outcome() == ClientChange::Outcome::Refused || change.outcome() == ClientChange::Outcome::Failed)
            m_console.err(QStringLiteral("%1: %2").arg(change.clientId(), change.reason()));
        else if (dryRun)
            m_console.out(change.diff().chopped(1));
        else
            m_console.out(QStringLiteral("%1: registered (%2)").arg(change.clientId(), mode));
    }
    if (parser.isSet(jsonOption()))
        m_console.json({{QStringLiteral("permissionMode"), dryRun ? settings().permissionMode() : mode},
                        {QStringLiteral("dryRun"), dryRun},
                        {QStringLiteral("results"), results}});
    else if (!dryRun)
        m_console.out(QStringLiteral("Permission mode: %1").arg(mode));
    return exitFor(refused, failed);
}

int CommandLine::addonInstall(const QCommandLineParser &parser, const QStringList &)
{
    return projectChange(parser, int(ProjectChange::Action::Install));
}

int CommandLine::addonUpdate(const QCommandLineParser &parser, const QStringList &)
{
    return projectChange(parser, int(ProjectChange::Action::Update));
}

int CommandLine::addonUninstall(const QCommandLineParser &parser, const QStringList &)
{
    return projectChange(parser, int(ProjectChange::Action::Uninstall));
}

int CommandLine::pluginEnable(const QCommandLineParser &parser, const QStringList &)
{
    return projectChange(parser, int(ProjectChange::Action::Enable));
}

int CommandLine::pluginDisable(const QCommandLineParser &parser, const QStringList &)
{
    return projectChange(parser, int(ProjectChange::Action::Disable));
}

int CommandLine::projectChange(const QCommandLineParser &parser, int actionValue)
{
    const auto action = ProjectChange::Action(actionValue);
    const QString project = projectFolder(parser);
    if (project.isEmpty())
        return usageError(m_words, QStringLiteral("--project DIR is required."));
    const bool dryRun = parser.isSet(dryRunOption());
    int code = Exit::Done;
    if (action == ProjectChange::Action::Uninstall &&
        !confirmed(parser, QStringLiteral("Uninstall Tavrin MCP from %1?").arg(native(project)), &code))
        return code;
    ProjectChange change(project, action);
    if (!dryRun)
        change.apply();
    const ProjectChange::Outcome outcome = change.outcome();
    if (parser.isSet(jsonOption())) {
        m_console.json(change.toJson(dryRun));
    } else if (outcome == ProjectChange::Outcome::NothingToDo) {
        m_console.out(QStringLiteral("Nothing to change in %1.").arg(native(project)));
    } else if (outcome == ProjectChange::Outcome::Planned && dryRun) {
        QStringList lines = change.files();
        const QString diff = change.projectDiff();
        if (!diff.isEmpty())
            lines << diff.chopped(1);
        m_console.out(lines.join(QLatin1Char('\n')));
    } else if (outcome == ProjectChange::Outcome::Planned) {
        const QString name = GodotProject::displayName(project);
        switch (action) {
        case ProjectChange::Action::Install:
        case ProjectChange::Action::Update:
            m_console.out(QStringLiteral("Tavrin MCP %1 is installed in %2; plugin %3.")
                              .arg(Addon::readVersionFromCfg(project + QLatin1String("/addons/tavrin_mcp")), name,
                                   Names::pluginState(GodotProject::pluginState(project))));
            break;
        case ProjectChange::Action::Uninstall:
            m_console.out(QStringLiteral("Tavrin MCP was uninstalled from %1.").arg(name));
            break;
        case ProjectChange::Action::Enable:
        case ProjectChange::Action::Disable:
            m_console.out(
                QStringLiteral("Plugin %1 in %2.").arg(Names::pluginState(GodotProject::pluginState(project)), name));
            break;
        }
    }
    if (!change.note().isEmpty())
        m_console.err(QLatin1String("note: ") + change.note());
    if (outcome == ProjectChange::Outcome::Refused || outcome == ProjectChange::Outcome::Failed)
        m_console.err(change.reason());
    // The project worked on becomes a recent one, and the active one when there is none, as
    // opening it on the Projects page would make it.
    if (!dryRun && outcome == ProjectChange::Outcome::Planned && action == ProjectChange::Action::Install) {
        settings().addRecentProject(project, GodotProject::displayName(project));
        if (settings().activeProject().isEmpty())
            settings().setActiveProject(project);
    }
    return exitFor(outcome == ProjectChange::Outcome::Refused, outcome == ProjectChange::Outcome::Failed);
}

int CommandLine::serverTest(const QCommandLineParser &parser, const QStringList &)
{
    ServerProbe probe;
    if (parser.isSet(timeoutOption())) {
        bool ok = false;
        const int seconds = parser.value(timeoutOption()).toInt(&ok);
        if (!ok || seconds <= 0 || seconds > 24 * 3600)
            return usageError(m_words, QStringLiteral("--timeout takes a number of seconds."));
        probe.setTimeLimit(seconds * 1000);
    }
    QEventLoop loop;
    QString shown;
    QObject::connect(&probe, &ServerProbe::progress, &loop, [&](qint64, const QString &line) {
        if (!line.isEmpty() && line != shown)
            m_console.err(shown = line);
    });
    QObject::connect(&probe, &ServerProbe::finished, &loop, &QEventLoop::quit);
    if (!probe.start(settings().permissionMode())) {
        m_console.err(probe.lastError());
        return Exit::Failed;
    }
    loop.exec();
    const ServerProbeResult &result = probe.lastResult();
    if (parser.isSet(jsonOption())) {
        m_console.json({{QStringLiteral("success"), result.success},
                        {QStringLiteral("failure"), Names::probeFailure(result.failure)},
                        {QStringLiteral("firstAnswerMs"), result.firstAnswerMs},
                        {QStringLiteral("totalMs"), result.totalMs},
                        {QStringLiteral("protocolVersion"), orNull(result.protocolVersion)},
                        {QStringLiteral("serverName"), orNull(result.serverName)},
                        {QStringLiteral("serverVersion"), orNull(result.serverVersion)},
                        {QStringLiteral("toolCount"), result.toolCount},
                        {QStringLiteral("message"), result.message}});
    } else if (result.success) {
        m_console.out(result.message);
    }
    if (!result.success) {
        for (const QString &line : result.stderrTail)
            m_console.err(QLatin1String("  ") + line);
        m_console.err(result.message);
    }
    return result.success ? Exit::Done : Exit::Failed;
}

int CommandLine::godotFind(const QCommandLineParser &parser, const QStringList &)
{
    const QString chosen = settings().godotPath();
    const QList<GodotInstall> found = GodotEditors::find();
    const std::optional<GodotInstall> inUse = GodotEditors::inUse(chosen);
    const auto describe = [](const GodotInstall &godot) {
        return QJsonObject{{QStringLiteral("program"), godot.program},
                           {QStringLiteral("arguments"), QJsonArray::fromStringList(godot.arguments)},
                           {QStringLiteral("version"), godot.version.text()},
                           {QStringLiteral("tooOld"), godot.version.tooOld()}};
    };
    if (parser.isSet(jsonOption())) {
        QJsonArray list;
        for (const GodotInstall &godot : found)
            list.append(describe(godot));
        m_console.json({{QStringLiteral("chosen"), orNull(chosen)},
                        {QStringLiteral("inUse"), inUse ? QJsonValue(describe(*inUse)) : QJsonValue()},
                        {QStringLiteral("found"), list}});
    } else {
        for (const GodotInstall &godot : found) {
            const bool used = inUse && inUse->program == godot.program && inUse->arguments == godot.arguments;
            m_console.out(QStringLiteral("%1 %2 %3%4")
                              .arg(used ? QStringLiteral("*") : QStringLiteral(" "),
                                   godot.version.text().leftJustified(10),
                                   native((QStringList{godot.program} + godot.arguments).join(' ')),
                                   godot.version.tooOld() ? QStringLiteral(" (Godot 3: too old)") : QString()));
        }
        if (inUse && std::none_of(found.cbegin(), found.cend(),
                                  [&](const GodotInstall &g) { return g.program == inUse->program; }))
            m_console.out(
                QStringLiteral("* %1 %2").arg(inUse->version.text().leftJustified(10), native(inUse->program)));
    }
    if (!inUse) {
        m_console.err(QStringLiteral("No Godot 4 editor was found."));
        return Exit::Failed;
    }
    return Exit::Done;
}

int CommandLine::projectsList(const QCommandLineParser &parser, const QStringList &)
{
    const QJsonArray recent = settings().recentProjects();
    const QString active = settings().activeProject();
    QStringList recentPaths;
    QJsonArray recentOut;
    for (const QJsonValue value : recent) {
        const QJsonObject project = value.toObject();
        const QString path = project.value(QLatin1String("path")).toString();
        recentPaths << path;
        recentOut.append(QJsonObject{{QStringLiteral("path"), path},
                                     {QStringLiteral("name"), project.value(QLatin1String("name")).toString()},
                                     {QStringLiteral("exists"), GodotProject::isProject(path)},
                                     {QStringLiteral("active"), path == active}});
    }
    const QList<GodotListedProject> listed = GodotEditors::listedProjects(recentPaths);
    if (parser.isSet(jsonOption())) {
        QJsonArray godot;
        for (const GodotListedProject &project : listed)
            godot.append(QJsonObject{{QStringLiteral("path"), project.path},
                                     {QStringLiteral("name"), project.name},
                                     {QStringLiteral("favorite"), project.favorite}});
        m_console.json({{QStringLiteral("active"), orNull(active)},
                        {QStringLiteral("recent"), recentOut},
                        {QStringLiteral("godot"), godot}});
        return Exit::Done;
    }
    for (const QJsonValue value : std::as_const(recentOut)) {
        const QJsonObject project = value.toObject();
        m_console.out(QStringLiteral("%1 %2 %3")
                          .arg(project.value(QLatin1String("active")).toBool() ? "*" : " ",
                               project.value(QLatin1String("name")).toString().leftJustified(24),
                               native(project.value(QLatin1String("path")).toString())));
    }
    for (const GodotListedProject &project : listed)
        m_console.out(
            QStringLiteral("  %1 %2 (Godot's list)").arg(project.name.leftJustified(24), native(project.path)));
    return Exit::Done;
}

int CommandLine::backupsList(const QCommandLineParser &parser, const QStringList &)
{
    const QStringList ids = parser.values(clientOption());
    if (ids.size() != 1 || !ClientCatalogue::find(ids.first()))
        return usageError(m_words, QStringLiteral("give one known client with --client ID."));
    const QString &id = ids.first();
    const QList<Backups::Backup> list = Backups().list(id, layoutOf(id));
    if (parser.isSet(jsonOption())) {
        QJsonArray backups;
        for (const Backups::Backup &backup : list)
            backups.append(QJsonObject{{QStringLiteral("name"), QFileInfo(backup.path).fileName()},
                                       {QStringLiteral("path"), backup.path},
                                       {QStringLiteral("time"), backup.time.toString(Qt::ISODateWithMs)},
                                       {QStringLiteral("size"), backup.size},
                                       {QStringLiteral("content"), Names::backupContent(backup.content)},
                                       {QStringLiteral("mode"), orNull(backup.mode)}});
        m_console.json({{QStringLiteral("client"), id},
                        {QStringLiteral("file"), orNull(ClientCatalogue::configPath(id))},
                        {QStringLiteral("backups"), backups}});
        return Exit::Done;
    }
    if (list.isEmpty())
        m_console.err(QStringLiteral("No backups of %1 yet.").arg(id));
    for (const Backups::Backup &backup : list)
        m_console.out(QStringLiteral("%1  %2").arg(QFileInfo(backup.path).fileName(), backup.summary));
    return Exit::Done;
}

int CommandLine::backupsRestore(const QCommandLineParser &parser, const QStringList &positional)
{
    const QStringList ids = parser.values(clientOption());
    if (ids.size() != 1 || !ClientCatalogue::find(ids.first()))
        return usageError(m_words, QStringLiteral("give one known client with --client ID."));
    // Without a terminal, -y is checked before anything else, so that a script learns it first.
    int code = Exit::Done;
    if (!m_console.interactive() && !confirmed(parser, {}, &code))
        return code;
    const QString &id = ids.first();
    const QString &name = positional.first();
    const QString target = ClientCatalogue::configPath(id);
    Backups backups;
    QString source;
    for (const Backups::Backup &backup : backups.list(id, layoutOf(id))) {
        if (QFileInfo(backup.path).fileName() == name)
            source = backup.path;
    }
    if (source.isEmpty()) {
        m_console.err(QStringLiteral("%1 has no backup named \"%2\" (see \"%3 backups list --client %1\").")
                          .arg(id, name, s_program));
        return Exit::Failed;
    }
    if (target.isEmpty()) {
        m_console.err(QStringLiteral("The file of %1 is not known here, so no backup can be put back.").arg(id));
        return Exit::Failed;
    }
    if (!confirmed(parser, QStringLiteral("Replace %1 with the backup %2?").arg(native(target), name), &code))
        return code;
    if (!backups.canBackUp(id, target)) {
        m_console.err(QStringLiteral("%1 was left unchanged because no backup of it can be made: %2")
                          .arg(native(target), backups.lastError()));
        return Exit::Refused;
    }
    if (!backups.restore(id, source, target)) {
        m_console.err(backups.lastError());
        return Exit::Failed;
    }
    m_console.out(QStringLiteral("%1 was restored from %2.").arg(native(target), name));
    return Exit::Done;
}
