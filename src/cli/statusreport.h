#pragma once

#include "core/addon.h"
#include "core/clients.h"
#include "core/godoteditors.h"
#include "core/godotproject.h"
#include "core/prereqs.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class Console;

// Everything `status` reports: the prerequisites, the Godot in use, the project's addon and
// plugin chain, and every client. The probes run side by side, so gathering takes about as long
// as the slowest of them.
class StatusReport
{
public:
    // `projectPath` empty: no project to report on.
    static StatusReport gather(const QString &projectPath, const QString &permissionMode, const QString &godotPath);

    // Why the machine is not ready for the project; empty when it is: uvx found, the addon
    // installed and enabled, and at least one client configured and up to date.
    [[nodiscard]] QStringList notReady() const;
    [[nodiscard]] QJsonObject toJson() const;
    [[nodiscard]] QStringList toText(const Console &console) const;

private:
    QString m_mode;
    QList<PrereqResult> m_prereqs;
    std::optional<GodotInstall> m_godot;
    QString m_projectPath;
    bool m_isProject = false;
    AddonStatus m_addon;
    GodotProject::PluginState m_plugin = GodotProject::PluginState::NotInstalled;
    QString m_pluginProblem;
    std::optional<GodotSession> m_session;
    QList<qint64> m_editors;
    QList<ClientInfo> m_clients;
};
