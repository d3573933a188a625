#include "core/addonsetup.h"

#include "core/addon.h"
#include "core/godotconfigedit.h"
#include "core/godoteditors.h"
#include "core/godotproject.h"

bool AddonSetup::fail(const QString &message)
{
    m_lastError = message;
    return false;
}

bool AddonSetup::install(const QString &projectPath, Installed *installed)
{
    m_lastError.clear();
    Installed result;
    result.projectName = GodotProject::displayName(projectPath);
    const GodotProjectInfo info = GodotProject::read(projectPath);
    if (GodotProject::isBeforeGodot4(info))
        return fail(QStringLiteral("%1 is a %2 project (config_version=%3): the Tavrin MCP addon needs Godot 4.")
                        .arg(result.projectName,
                             info.configVersion == 4 ? QStringLiteral("Godot 3") : QStringLiteral("Godot 2 or older"))
                        .arg(info.configVersion));
    Addon addon;
    if (!addon.install(projectPath))
        return fail(addon.lastError());
    if (!GodotConfigEdit::lists(info.enabledPlugins, GodotProject::pluginPath()))
        result.pluginEnabled = GodotProject::setPluginEnabled(projectPath, true, &result.notEnabled);
    if (installed)
        *installed = result;
    return true;
}

bool AddonSetup::uninstall(const QString &projectPath)
{
    m_lastError.clear();
    if (!GodotProject::isProject(projectPath))
        return fail(QLatin1String("Godot project not found: ") + projectPath);
    if (!GodotEditors::editorsFor(projectPath).isEmpty())
        return fail(QStringLiteral("Godot has %1 open. Close the project in Godot first, then uninstall Tavrin MCP.")
                        .arg(GodotProject::displayName(projectPath)));
    const GodotProjectInfo info = GodotProject::read(projectPath);
    if (!info.readable)
        return fail(info.error + QLatin1String(" Tavrin MCP was left installed, so that no plugin list names a "
                                               "missing addon."));
    QString error;
    if (GodotConfigEdit::lists(info.enabledPlugins, GodotProject::pluginPath()) &&
        !GodotProject::setPluginEnabled(projectPath, false, &error))
        return fail(error);
    Addon addon;
    if (!addon.uninstall(projectPath))
        return fail(addon.lastError());
    return true;
}
