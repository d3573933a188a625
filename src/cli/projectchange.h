#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// A change of what a Godot project holds of ours: the addon installed, updated or uninstalled
// (with the plugin listed or unlisted as on the Setup page), or the plugin alone enabled or
// disabled. Worked out first without touching anything, so that --dry-run shows the files that
// would be copied or deleted and the project.godot diff, and the same checks refuse the change.
class ProjectChange
{
public:
    enum class Action { Install, Update, Uninstall, Enable, Disable };
    enum class Outcome { Planned, NothingToDo, Refused, Failed };

    ProjectChange(const QString &projectPath, Action action);

    [[nodiscard]] Outcome outcome() const { return m_outcome; }
    [[nodiscard]] QString reason() const { return m_reason; }
    // Something the user should know that is no failure (the plugin left unlisted while Godot has
    // the project open, say).
    [[nodiscard]] QString note() const { return m_note; }
    // "copy addons/tavrin_mcp/plugin.cfg", "delete addons/tavrin_mcp/...", relative to the project.
    [[nodiscard]] QStringList files() const { return m_files; }
    [[nodiscard]] QString projectDiff() const;

    Outcome apply();
    [[nodiscard]] QJsonObject toJson(bool dryRun) const;
    [[nodiscard]] static QString actionName(Action action);

private:
    void plan(const QString &projectPath, Action action);
    void planAddonFiles();
    void planPluginList(bool enabled);
    void refuse(const QString &message);
    void failWith(const QString &message);

    QString m_project;
    Action m_action;
    Outcome m_outcome = Outcome::Planned;
    QString m_reason;
    QString m_note;
    QStringList m_files;
    QByteArray m_projectBefore;
    QByteArray m_projectAfter;
    bool m_editorOpen = false;
};
