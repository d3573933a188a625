#include "cli/names.h"

#include "core/clients.h"

namespace Names {

bool upToDate(const ClientInfo &info, const QString &permissionMode)
{
    return info.configured && Clients::entryProblems(info, permissionMode).isEmpty();
}

QString clientState(const ClientInfo &info, const QString &permissionMode)
{
    if (!info.configured)
        return info.installed ? QStringLiteral("not_configured") : QStringLiteral("not_installed");
    if (!info.entryValid)
        return QStringLiteral("invalid_entry");
    return upToDate(info, permissionMode) ? QStringLiteral("up_to_date") : QStringLiteral("needs_update");
}

QString pluginState(GodotProject::PluginState state)
{
    switch (state) {
    case GodotProject::PluginState::NotInstalled:
        break;
    case GodotProject::PluginState::Disabled:
        return QStringLiteral("disabled");
    case GodotProject::PluginState::Enabled:
        return QStringLiteral("enabled");
    case GodotProject::PluginState::EnabledMissing:
        return QStringLiteral("enabled_missing");
    case GodotProject::PluginState::Broken:
        return QStringLiteral("broken");
    }
    return QStringLiteral("not_installed");
}

QString backupContent(Backups::Content content)
{
    switch (content) {
    case Backups::Content::NoEntry:
        return QStringLiteral("no_entry");
    case Backups::Content::SafeEdit:
        return QStringLiteral("safe_edit");
    case Backups::Content::FullControl:
        return QStringLiteral("full_control");
    case Backups::Content::OtherMode:
        return QStringLiteral("other_mode");
    case Backups::Content::NoMode:
        return QStringLiteral("no_mode");
    case Backups::Content::Unreadable:
        break;
    }
    return QStringLiteral("unreadable");
}

QString probeFailure(ServerProbeResult::Failure failure)
{
    switch (failure) {
    case ServerProbeResult::Failure::None:
        break;
    case ServerProbeResult::Failure::NotFound:
        return QStringLiteral("not_found");
    case ServerProbeResult::Failure::StartFailed:
        return QStringLiteral("start_failed");
    case ServerProbeResult::Failure::ExitedEarly:
        return QStringLiteral("exited_early");
    case ServerProbeResult::Failure::NotMcp:
        return QStringLiteral("not_mcp");
    case ServerProbeResult::Failure::NoAnswer:
        return QStringLiteral("no_answer");
    case ServerProbeResult::Failure::ProtocolError:
        return QStringLiteral("protocol_error");
    case ServerProbeResult::Failure::Cancelled:
        return QStringLiteral("cancelled");
    }
    return QStringLiteral("none");
}

} // namespace Names
