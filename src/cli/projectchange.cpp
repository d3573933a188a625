#include "cli/projectchange.h"

#include "cli/unifieddiff.h"
#include "core/addon.h"
#include "core/addonsetup.h"
#include "core/backups.h"
#include "core/godotconfigedit.h"
#include "core/godoteditors.h"
#include "core/godotproject.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

namespace {

const QString s_addonFolder = QStringLiteral("addons/tavrin_mcp");
const QString s_projectFile = QStringLiteral("/project.godot");
// project.godot's backups, as GodotProject keeps them.
const QString s_projectBackups = QStringLiteral("godot");

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below a folder, relative to it, sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

} // namespace

ProjectChange::ProjectChange(const QString &projectPath, Action action) : m_project(projectPath), m_action(action)
{
    plan(projectPath, action);
}

void ProjectChange::plan(const QString &projectPath, Action action)
{
    if (!GodotProject::isProject(projectPath))
        return failWith(QLatin1String("Godot project not found: ") + projectPath);
    const GodotProjectInfo info = GodotProject::read(projectPath);
    if (!info.readable)
        return refuse(QStringLiteral("%1%2 cannot be read as Godot reads it, so it was left alone: %3")
                          .arg(projectPath, s_projectFile, info.error));
    m_projectBefore = contents(projectPath + s_projectFile);
    m_projectAfter = m_projectBefore;
    m_editorOpen = !GodotEditors::editorsFor(projectPath).isEmpty();
    const bool installed = QFileInfo(projectPath + QLatin1Char('/') + s_addonFolder).isDir();
    switch (action) {
    case Action::Install:
    case Action::Update:
        if (GodotProject::isBeforeGodot4(info))
            return failWith(QStringLiteral("%1 is a Godot 3 (or older) project (config_version=%2): the Tavrin MCP "
                                           "addon needs Godot 4.")
                                .arg(GodotProject::displayName(projectPath))
                                .arg(info.configVersion));
        if (action == Action::Update && !installed)
            return failWith(QStringLiteral("Tavrin MCP is not installed in %1: use \"addon install\".")
                                .arg(GodotProject::displayName(projectPath)));
        planAddonFiles();
        if (m_outcome == Outcome::Planned)
            planPluginList(true);
        break;
    case Action::Uninstall:
        if (m_editorOpen)
            return refuse(QStringLiteral("Godot has %1 open. Close the project in Godot first, then uninstall.")
                              .arg(GodotProject::displayName(projectPath)));
        for (const QString &file : filesBelow(projectPath + QLatin1Char('/') + s_addonFolder))
            m_files << QLatin1String("delete ") + s_addonFolder + QLatin1Char('/') + file;
        planPluginList(false);
        break;
    case Action::Enable:
        if (!installed)
            return failWith(QStringLiteral("Tavrin MCP is not installed in %1: install it first.")
                                .arg(GodotProject::displayName(projectPath)));
        if (const QString problem = GodotProject::pluginProblem(projectPath); !problem.isEmpty())
            return failWith(problem + QLatin1String(" Install the addon again."));
        planPluginList(true);
        break;
    case Action::Disable:
        planPluginList(false);
        break;
    }
    if (m_outcome != Outcome::Planned)
        return;
    const bool listChanges = m_projectAfter != m_projectBefore;
    if (listChanges && (action == Action::Enable || action == Action::Disable) && m_editorOpen)
        return refuse(QStringLiteral("Godot has %1 open and would write its own plugin list over the change. Close "
                                     "the project in Godot first, or change the plugin in Project → Project "
                                     "Settings → Plugins there.")
                          .arg(GodotProject::displayName(projectPath)));
    if (m_files.isEmpty() && !listChanges && !(action == Action::Uninstall && installed))
        m_outcome = Outcome::NothingToDo;
}

void ProjectChange::refuse(const QString &message)
{
    m_outcome = Outcome::Refused;
    m_reason = message;
}

void ProjectChange::failWith(const QString &message)
{
    m_outcome = Outcome::Failed;
    m_reason = message;
}

void ProjectChange::planAddonFiles()
{
    const QString source = Addon::bundledAddonDir();
    if (!QFileInfo::exists(source + QLatin1String("/plugin.cfg")))
        return failWith(QStringLiteral("The addon that ships with Tavrin was not found (looked in %1).").arg(source));
    const QString target = m_project + QLatin1Char('/') + s_addonFolder + QLatin1Char('/');
    // Files only the installed copy has are carried over by the install, so none is deleted.
    for (const QString &file : filesBelow(source)) {
        const QString installed = target + file;
        if (!QFileInfo::exists(installed) || contents(installed) != contents(source + QLatin1Char('/') + file))
            m_files << QLatin1String("copy ") + s_addonFolder + QLatin1Char('/') + file;
    }
}

void ProjectChange::planPluginList(bool enabled)
{
    QString error;
    const std::optional<QByteArray> edited =
        GodotConfigEdit::setPluginEnabled(m_projectBefore, GodotProject::pluginPath(), enabled, &error);
    if (!edited)
        return refuse(QStringLiteral("%1%2 cannot be edited: %3").arg(m_project, s_projectFile, error));
    // An install leaves the list alone while Godot has the project open (the editor would write
    // its own over it) and says so; that is no failure of the install.
    if (enabled && m_editorOpen && *edited != m_projectBefore && m_action != Action::Enable) {
        m_note = QStringLiteral("Godot has %1 open, so the plugin is not enabled: tick Tavrin MCP in Project → "
                                "Project Settings → Plugins there.")
                     .arg(GodotProject::displayName(m_project));
        return;
    }
    m_projectAfter = *edited;
}

QString ProjectChange::projectDiff() const
{
    const QString path = m_project + s_projectFile;
    return UnifiedDiff::make(m_projectBefore, m_projectAfter, path, path);
}

ProjectChange::Outcome ProjectChange::apply()
{
    if (m_outcome != Outcome::Planned)
        return m_outcome;
    Backups backups;
    if (m_projectAfter != m_projectBefore && !backups.canBackUp(s_projectBackups, m_project + s_projectFile)) {
        refuse(QStringLiteral("%1%2 was left unchanged because no backup of it can be made: %3")
                   .arg(m_project, s_projectFile, backups.lastError()));
        return m_outcome;
    }
    QString error;
    bool done = false;
    AddonSetup setup;
    switch (m_action) {
    case Action::Install:
    case Action::Update: {
        AddonSetup::Installed installed;
        done = setup.install(m_project, &installed);
        error = setup.lastError();
        if (done && !installed.notEnabled.isEmpty())
            m_note = installed.notEnabled;
        break;
    }
    case Action::Uninstall:
        done = setup.uninstall(m_project);
        error = setup.lastError();
        break;
    case Action::Enable:
    case Action::Disable:
        done = GodotProject::setPluginEnabled(m_project, m_action == Action::Enable, &error);
        break;
    }
    if (!done)
        failWith(error);
    return m_outcome;
}

QString ProjectChange::actionName(Action action)
{
    switch (action) {
    case Action::Install:
        break;
    case Action::Update:
        return QStringLiteral("update");
    case Action::Uninstall:
        return QStringLiteral("uninstall");
    case Action::Enable:
        return QStringLiteral("enable");
    case Action::Disable:
        return QStringLiteral("disable");
    }
    return QStringLiteral("install");
}

QJsonObject ProjectChange::toJson(bool dryRun) const
{
    QString result;
    switch (m_outcome) {
    case Outcome::Planned:
        result = dryRun ? QStringLiteral("would_change") : QStringLiteral("changed");
        break;
    case Outcome::NothingToDo:
        result = QStringLiteral("unchanged");
        break;
    case Outcome::Refused:
        result = QStringLiteral("refused");
        break;
    case Outcome::Failed:
        result = QStringLiteral("failed");
        break;
    }
    QJsonObject object{{QStringLiteral("project"), m_project},
                       {QStringLiteral("action"), actionName(m_action)},
                       {QStringLiteral("dryRun"), dryRun},
                       {QStringLiteral("result"), result},
                       {QStringLiteral("files"), QJsonArray::fromStringList(m_files)},
                       {QStringLiteral("projectDiff"), projectDiff()}};
    if (!m_reason.isEmpty())
        object.insert(QStringLiteral("error"), m_reason);
    if (!m_note.isEmpty())
        object.insert(QStringLiteral("note"), m_note);
    return object;
}
