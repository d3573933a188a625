#pragma once

#include <QString>

// The addon's way into and out of a project as the user sees it: installed and enabled in one
// step, and taken off the plugin list before its files go. Shared by the Setup page's workers and
// the command line, so that both follow the same order and refuse the same things. Addon copies
// files and GodotProject edits project.godot; this class only decides when each may run. Cheap to
// create on any thread.
class AddonSetup
{
public:
    struct Installed
    {
        bool pluginEnabled = false; // this install listed the plugin in project.godot
        QString projectName;
        QString notEnabled; // why the plugin could not be listed; empty when it was, or already was
    };

    // Refuses a Godot 3 project. After the addon is in place, lists the plugin in project.godot
    // unless a Godot editor has the project open; failing that is no failure of the install.
    bool install(const QString &projectPath, Installed *installed = nullptr);
    // Takes the plugin off the list (after a backup), then removes the addon. Refused while a Godot
    // editor has the project open, and when project.godot cannot be read.
    bool uninstall(const QString &projectPath);
    [[nodiscard]] QString lastError() const { return m_lastError; }

private:
    bool fail(const QString &message);

    QString m_lastError;
};
