#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// What a project's project.godot says, read as Godot reads it.
struct GodotProjectInfo
{
    bool readable = false;
    QString error;              // why it is not readable; a parse error names the line
    int configVersion = -1;     // 5: Godot 4, 4: Godot 3, above 5: a newer engine, -1: absent
    QString name;               // application/config/name
    QString lastSavedWith;      // "4.3": the first entry of application/config/features that is a version
    QStringList enabledPlugins; // editor_plugins/enabled, as written
};

// A Godot editor that has our addon loaded, from the record the addon keeps while it runs.
struct GodotSession
{
    qint64 pid = 0;
    QString godotVersion; // as the engine names itself, "4.3-stable (official)"
    QString addonVersion; // the loaded addon's plugin.cfg version
};

// What the application reads from, and changes in, a Godot project folder: its project.godot, and
// the chain that makes our addon work there: installed (addons/tavrin_mcp), enabled (listed in
// [editor_plugins]), loaded (an editor running it). Stateless; every call reads the files afresh,
// so any thread may call it.
class GodotProject
{
public:
    enum class PluginState {
        NotInstalled,
        Disabled,       // installed, not in the list of enabled plugins
        Enabled,        // installed and listed: the editor loads it on opening the project
        EnabledMissing, // listed, but its folder is gone (Godot warns and drops it)
        Broken,         // its plugin.cfg lacks a key Godot requires, or its script
    };

    // How project.godot names our plugin.
    [[nodiscard]] static QString pluginPath();

    // The folder holds a project.godot file.
    [[nodiscard]] static bool isProject(const QString &folder);
    // The project's own name (config/name), else the folder's name.
    [[nodiscard]] static QString displayName(const QString &folder);
    // config/name, unescaped; empty when there is none.
    [[nodiscard]] static QString configName(const QString &folder);
    [[nodiscard]] static GodotProjectInfo read(const QString &folder);
    // config_version 4 or below: a Godot 3 (or older) project, which our addon cannot run in.
    [[nodiscard]] static bool isBeforeGodot4(const GodotProjectInfo &info);

    [[nodiscard]] static PluginState pluginState(const QString &folder);
    // Why Godot would not load the installed addon; empty when it would (or it is not installed).
    [[nodiscard]] static QString pluginProblem(const QString &folder);
    // Lists or unlists our plugin in project.godot, after a backup (id "godot"), replacing the file
    // atomically. Refused while a Godot editor has the project open: it would write its own copy
    // of the settings over ours. Enabling asks for an installed, complete addon. True, with the
    // file untouched, when there is nothing to change.
    static bool setPluginEnabled(const QString &folder, bool enabled, QString *error);

    // The record of our addon loaded in a running Godot editor: only when its process is alive and
    // is Godot; a record left behind by an editor that crashed is ignored.
    [[nodiscard]] static std::optional<GodotSession> loadedIn(const QString &folder);
    // Where the addon keeps that record (in the project's data folder, .godot).
    [[nodiscard]] static QString sessionFile(const QString &folder);
};
