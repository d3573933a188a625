#include "cli/statusreport.h"

#include "cli/console.h"
#include "cli/names.h"

#include <QDir>
#include <QJsonArray>
#include <QtConcurrent>

namespace {

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

StatusReport StatusReport::gather(const QString &projectPath, const QString &permissionMode, const QString &godotPath)
{
    StatusReport report;
    report.m_mode = permissionMode;
    report.m_projectPath = projectPath;
    // Each probe starts programs and waits for them; run side by side, they cost the slowest one.
    QFuture<QList<PrereqResult>> prereqs = QtConcurrent::run([] { return Prereqs().check(); });
    QFuture<QList<ClientInfo>> clients = QtConcurrent::run([] { return Clients().detect(); });
    QFuture<std::optional<GodotInstall>> godot =
        QtConcurrent::run([godotPath] { return GodotEditors::inUse(godotPath); });
    if (!projectPath.isEmpty() && GodotProject::isProject(projectPath)) {
        report.m_isProject = true;
        report.m_addon = Addon().status(projectPath);
        report.m_plugin = GodotProject::pluginState(projectPath);
        report.m_pluginProblem = GodotProject::pluginProblem(projectPath);
        report.m_session = GodotProject::loadedIn(projectPath);
        report.m_editors = GodotEditors::editorsFor(projectPath);
    }
    report.m_prereqs = prereqs.result();
    report.m_clients = clients.result();
    report.m_godot = godot.result();
    return report;
}

QStringList StatusReport::notReady() const
{
    QStringList reasons;
    const bool uvx = std::any_of(m_prereqs.cbegin(), m_prereqs.cend(),
                                 [](const PrereqResult &p) { return p.name == QLatin1String("uvx") && p.found; });
    if (!uvx)
        reasons << QStringLiteral("uvx was not found on the PATH (it comes with uv).");
    if (m_projectPath.isEmpty())
        reasons << QStringLiteral("No project: give --project DIR, or choose one in Tavrin Desktop.");
    else if (!m_isProject)
        reasons << QStringLiteral("No Godot project in %1.").arg(m_projectPath);
    else if (!m_addon.installed)
        reasons << QStringLiteral("The addon is not installed in the project (tavrin-cli addon install).");
    else if (m_plugin != GodotProject::PluginState::Enabled)
        reasons << QStringLiteral("The plugin is %1 in the project (tavrin-cli plugin enable).")
                       .arg(Names::pluginState(m_plugin));
    const bool client = std::any_of(m_clients.cbegin(), m_clients.cend(),
                                    [this](const ClientInfo &info) { return Names::upToDate(info, m_mode); });
    if (!client)
        reasons << QStringLiteral("No AI client is registered in the current mode (tavrin-cli clients add).");
    return reasons;
}

QJsonObject StatusReport::toJson() const
{
    QJsonArray prereqs;
    for (const PrereqResult &p : m_prereqs)
        prereqs.append(QJsonObject{{QStringLiteral("name"), p.name},
                                   {QStringLiteral("found"), p.found},
                                   {QStringLiteral("version"), orNull(p.version)}});
    QJsonValue godot;
    if (m_godot)
        godot = QJsonObject{{QStringLiteral("program"), m_godot->program},
                            {QStringLiteral("arguments"), QJsonArray::fromStringList(m_godot->arguments)},
                            {QStringLiteral("version"), m_godot->version.text()}};
    QJsonValue project;
    if (!m_projectPath.isEmpty()) {
        QJsonArray editors;
        for (const qint64 pid : m_editors)
            editors.append(pid);
        QJsonValue loaded;
        if (m_session)
            loaded = QJsonObject{{QStringLiteral("pid"), m_session->pid},
                                 {QStringLiteral("godotVersion"), m_session->godotVersion},
                                 {QStringLiteral("addonVersion"), m_session->addonVersion}};
        project = QJsonObject{
            {QStringLiteral("path"), m_projectPath},
            {QStringLiteral("isProject"), m_isProject},
            {QStringLiteral("name"), m_isProject ? GodotProject::displayName(m_projectPath) : QString()},
            {QStringLiteral("addon"), QJsonObject{{QStringLiteral("installed"), m_addon.installed},
                                                  {QStringLiteral("version"), orNull(m_addon.installedVersion)},
                                                  {QStringLiteral("bundledVersion"), orNull(m_addon.bundledVersion)},
                                                  {QStringLiteral("updateAvailable"), m_addon.updateAvailable}}},
            {QStringLiteral("plugin"), Names::pluginState(m_plugin)},
            {QStringLiteral("pluginProblem"), orNull(m_pluginProblem)},
            {QStringLiteral("editorPids"), editors},
            {QStringLiteral("loadedIn"), loaded}};
    }
    QJsonArray clients;
    for (const ClientInfo &info : m_clients)
        clients.append(QJsonObject{{QStringLiteral("id"), info.id},
                                   {QStringLiteral("name"), info.name},
                                   {QStringLiteral("installed"), info.installed},
                                   {QStringLiteral("configured"), info.configured},
                                   {QStringLiteral("mode"), orNull(info.mode)},
                                   {QStringLiteral("state"), Names::clientState(info, m_mode)}});
    const QStringList reasons = notReady();
    return {{QStringLiteral("ready"), reasons.isEmpty()},
            {QStringLiteral("notReady"), QJsonArray::fromStringList(reasons)},
            {QStringLiteral("permissionMode"), m_mode},
            {QStringLiteral("prerequisites"), prereqs},
            {QStringLiteral("godot"), godot},
            {QStringLiteral("project"), project},
            {QStringLiteral("clients"), clients}};
}

QStringList StatusReport::toText(const Console &console) const
{
    const auto mark = [&console](bool good) {
        return good ? console.paint(QStringLiteral("ok  "), Console::Colour::Green)
                    : console.paint(QStringLiteral("--  "), Console::Colour::Red);
    };
    QStringList lines{console.paint(QStringLiteral("Prerequisites"), Console::Colour::Bold)};
    for (const PrereqResult &p : m_prereqs)
        lines << QStringLiteral("  %1%2 %3").arg(mark(p.found), p.name, p.found ? p.version : p.hint);
    lines << console.paint(QStringLiteral("Godot"), Console::Colour::Bold);
    lines << (m_godot ? QStringLiteral("  %1Godot %2 (%3)")
                            .arg(mark(true), m_godot->version.text(), QDir::toNativeSeparators(m_godot->program))
                      : QStringLiteral("  %1no Godot 4 found").arg(mark(false)));
    lines << console.paint(QStringLiteral("Project"), Console::Colour::Bold);
    if (m_projectPath.isEmpty()) {
        lines << QStringLiteral("  %1none chosen").arg(mark(false));
    } else if (!m_isProject) {
        lines << QStringLiteral("  %1no project.godot in %2").arg(mark(false), QDir::toNativeSeparators(m_projectPath));
    } else {
        lines << QStringLiteral("  %1 (%2)")
                     .arg(GodotProject::displayName(m_projectPath), QDir::toNativeSeparators(m_projectPath));
        QString addon = m_addon.installed ? QStringLiteral("addon %1").arg(m_addon.installedVersion)
                                          : QStringLiteral("addon not_installed");
        if (m_addon.updateAvailable)
            addon += QStringLiteral(" (update to %1 available)").arg(m_addon.bundledVersion);
        lines << QStringLiteral("  %1%2").arg(mark(m_addon.installed), addon);
        lines << QStringLiteral("  %1plugin %2%3")
                     .arg(mark(m_plugin == GodotProject::PluginState::Enabled), Names::pluginState(m_plugin),
                          m_pluginProblem.isEmpty() ? QString() : QLatin1String(": ") + m_pluginProblem);
        if (m_session)
            lines << QStringLiteral("  %1loaded in Godot %2 (pid %3)")
                         .arg(mark(true), m_session->godotVersion)
                         .arg(m_session->pid);
        else if (!m_editors.isEmpty())
            lines << QStringLiteral("      open in Godot (pid %1)").arg(m_editors.first());
    }
    lines << console.paint(QStringLiteral("Clients"), Console::Colour::Bold) + QStringLiteral(" (mode %1)").arg(m_mode);
    for (const ClientInfo &info : m_clients) {
        const QString state = Names::clientState(info, m_mode);
        QString line = QStringLiteral("  %1%2 %3")
                           .arg(mark(state == QLatin1String("up_to_date")), info.id.leftJustified(15), state);
        if (info.configured && !info.mode.isEmpty() && info.mode != m_mode)
            line += QStringLiteral(" (registered with %1)").arg(info.mode);
        lines << line;
    }
    return lines;
}
