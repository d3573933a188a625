#pragma once

#include "core/backups.h"
#include "core/clients.h"
#include "core/godotproject.h"
#include "core/serverprobe.h"

#include <QString>

// The stable identifiers the command line prints for states, in text and in JSON alike: scripts
// compare them, so they never change with the wording people read.
namespace Names {

// The entry starts exactly "uvx tavrin" in the mode given.
[[nodiscard]] bool upToDate(const ClientInfo &info, const QString &permissionMode);
// "not_installed", "not_configured", "invalid_entry", "needs_update" or "up_to_date".
[[nodiscard]] QString clientState(const ClientInfo &info, const QString &permissionMode);
// "not_installed", "disabled", "enabled", "enabled_missing" or "broken".
[[nodiscard]] QString pluginState(GodotProject::PluginState state);
// "no_entry", "safe_edit", "full_control", "other_mode", "no_mode" or "unreadable".
[[nodiscard]] QString backupContent(Backups::Content content);
// "none", "not_found", "start_failed", "exited_early", "not_mcp", "no_answer", "protocol_error"
// or "cancelled".
[[nodiscard]] QString probeFailure(ServerProbeResult::Failure failure);

} // namespace Names
