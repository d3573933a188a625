#pragma once

#include <QString>

// What the application reads from a Godot project folder's project.godot.
class GodotProject
{
public:
    // The folder holds a project.godot file.
    [[nodiscard]] static bool isProject(const QString &folder);
    // The project's own name (config/name of its [application] section), else the folder's name.
    [[nodiscard]] static QString displayName(const QString &folder);
    // config/name of the [application] section, unquoted; empty when there is none.
    [[nodiscard]] static QString configName(const QString &folder);
};
