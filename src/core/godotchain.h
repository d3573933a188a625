#pragma once

#include "core/godotproject.h"

#include <QList>
#include <QtGlobal>

#include <optional>

struct AddonStatus;

// How far a project's addon has got on its way into a running Godot editor: what project.godot
// says, whether the plugin is listed, which editors have the project open and whether one has our
// addon loaded. Reading it scans the system's processes, so it is read off the GUI thread.
struct GodotChain
{
    // The one thing the user should know or do next, in the order the links are checked.
    enum class Step {
        Unknown,       // not read yet
        None,          // no addon, nothing listed: installing is the step
        NeedsGodot4,   // a Godot 3 (or older) project
        Unreadable,    // project.godot cannot be read; `info.error` says why
        ListedMissing, // listed in the plugins, but the addon's folder is gone
        Broken,        // installed, but Godot would not load it; `problem` says why
        Enable,        // installed, not listed, no editor open: we can list it
        TickInEditor,  // installed, not listed, an editor has the project open: only it may list it
        Open,          // listed, no editor open: opening the project loads it
        Reopen,        // listed, an editor has the project open without our addon (listed from outside)
        Reload,        // loaded, but an older copy than the one installed now
        Loaded,
    };

    bool known = false;
    QString folder;
    GodotProjectInfo info;
    GodotProject::PluginState plugin = GodotProject::PluginState::NotInstalled;
    QString problem;
    QList<qint64> editors;
    std::optional<GodotSession> session;

    [[nodiscard]] static GodotChain read(const QString &folder);
    [[nodiscard]] Step step(const AddonStatus &addon) const;
    // A message about the project's files with their paths as Godot writes them ("res://…"),
    // short enough for a line on a card.
    [[nodiscard]] QString inProject(const QString &message) const;
    // The editor's Godot version as people write it ("4.3"), from the loaded session.
    [[nodiscard]] QString loadedGodot() const;
};
