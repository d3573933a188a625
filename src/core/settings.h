#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <utility>

// The application's only persistent state: one JSON document in the user's data folder,
// rewritten (atomically) on every change. The command line writes the same file while a window
// may be open, so every change is made to the file as it is then: it is read again first, and
// only the key that changes is replaced.
class Settings : public QObject
{
    Q_OBJECT
public:
    explicit Settings(QObject *parent = nullptr);

    [[nodiscard]] static QString filePath();
    void load();
    void save();
    // Takes over what another process (tavrin-cli) wrote since the file was last read; emits
    // changedElsewhere() when that changed anything, and activeProjectChanged() for a new project.
    void reload();
    [[nodiscard]] QJsonObject toJson() const { return m_data; }

    [[nodiscard]] QString permissionMode() const;
    [[nodiscard]] bool checkUpdates() const;
    [[nodiscard]] QJsonArray recentProjects() const;
    [[nodiscard]] QString activeProject() const;
    [[nodiscard]] bool isFirstRun() const;

    void setPermissionMode(const QString &mode);
    void setCheckUpdates(bool enabled);
    void addRecentProject(const QString &path, const QString &name);
    void removeRecentProject(const QString &path);
    // Puts a removed entry back where it was (an Undo), unless the project is listed again already.
    void restoreRecentProject(const QJsonObject &entry, int index);
    void setActiveProject(const QString &path);
    void markFirstRunDone();

    // The main window's normal (not maximised) geometry at its last close; null when none is stored.
    [[nodiscard]] QRect windowGeometry() const;
    [[nodiscard]] bool windowMaximized() const;
    void setWindowGeometry(const QRect &geometry, bool maximized);
    // Whether the user has been told once that closing the window leaves the app in the tray.
    [[nodiscard]] bool trayNoticeShown() const;
    void markTrayNoticeShown();
    // The last update check: "time" (ISO 8601, local), "result" ("up_to_date", "available" or
    // "failed") and "detail" (the version found, or the reason of the failure).
    [[nodiscard]] QJsonObject lastUpdateCheck() const;
    void setLastUpdateCheck(const QString &result, const QString &detail);
    // How many tools the server listed at the last successful server test; -1 before the first.
    [[nodiscard]] int serverToolCount() const;
    void setServerToolCount(int count);
    // The Godot editor the user chose (a program, or a macOS .app); empty: the best one found.
    [[nodiscard]] QString godotPath() const;
    void setGodotPath(const QString &path);

    // The update checker's memory. The last answer: its time, its ETag and the release it named
    // (in the updater's short form), replaced together so that an ETag never outlives its release.
    [[nodiscard]] QDateTime updateAnsweredAt() const;
    [[nodiscard]] QString updateEtag() const;
    [[nodiscard]] QJsonObject updateRelease() const;
    void setUpdateAnswer(const QDateTime &time, const QString &etag, const QJsonObject &release);
    // A "not modified" answer: the stored release still holds, the time moves on.
    void setUpdateAnsweredAt(const QDateTime &time);
    // No automatic check before this time (the host's rate limit); invalid when none is pending.
    [[nodiscard]] QDateTime updateWaitUntil() const;
    void setUpdateWaitUntil(const QDateTime &time);
    // The version whose automatic announcements stay silent.
    [[nodiscard]] QString skippedVersion() const;
    void setSkippedVersion(const QString &version);
    // Checks read the whole release list and take pre-releases too (off by default).
    [[nodiscard]] bool includePrereleases() const;
    void setIncludePrereleases(bool include);

signals:
    // On every setPermissionMode(), also with the mode already set: choosing a mode again applies
    // it again.
    void permissionModeChanged(const QString &mode);
    void activeProjectChanged(const QString &path);
    void serverToolCountChanged(int count);
    // reload() found values written by another process. A permission mode set there was applied
    // there too: this is news for what is shown, not a change to apply again.
    void changedElsewhere();

private:
    // Replaces (or, with an undefined value, removes) one key in the file as it is now.
    void set(const QString &key, const QJsonValue &value);
    void set(const QList<std::pair<QString, QJsonValue>> &changes);
    void fillDefaults();

    QJsonObject m_data;
    // The file on disk was not a JSON object; it is kept as ".bad" before the first save replaces it.
    bool m_keepDamagedFile = false;
    // The file exists but could not be read at load: it is never written over while that lasts.
    bool m_fileUnreadable = false;
    // Keys changed here whose save failed: they stay ours when the file is read again.
    QStringList m_unsaved;
};
