#pragma once

#include <QObject>
#include <QString>

// What a Godot project holds of the editor addon, against the copy shipped beside the executable.
struct AddonStatus
{
    bool installed = false;
    QString installedVersion;
    QString bundledVersion;
    // The installed copy is older than the shipped one, or either version is not a plain version
    // number and the two differ.
    bool updateAvailable = false;
    // The installed copy is newer than the shipped one: nothing to offer.
    bool newerInstalled = false;
};

// Installs, updates and removes the editor addon in a Godot project. Synchronous file work on the
// calling thread; cheap to create, so worker threads make their own instance.
class Addon : public QObject
{
    Q_OBJECT
public:
    explicit Addon(QObject *parent = nullptr);

    // Installs or updates from the shipped copy (installFrom with bundledAddonDir()).
    bool install(const QString &projectPath);
    // All or nothing: the new copy is put together beside the addon, with the files only the
    // installed copy has carried over, and then swapped in.
    bool installFrom(const QString &sourceDir, const QString &projectPath);
    bool uninstall(const QString &projectPath);
    // Reads only: the folder and both plugin.cfg files.
    [[nodiscard]] AddonStatus status(const QString &projectPath) const;
    // Brings the project back to one complete addon (or none) after an install or uninstall that
    // was killed, unless one runs in this process now: a swap cut between its two renames is
    // undone, and our working folders beside the addon go. Renames and deletes whole folders, so
    // it belongs on a worker thread. True when there was something to finish.
    bool finishInterrupted(const QString &projectPath);
    [[nodiscard]] QString bundledVersion() const;
    [[nodiscard]] QString lastError() const { return m_lastError; }

    [[nodiscard]] static QString bundledAddonDir();
    [[nodiscard]] static QString readVersionFromCfg(const QString &dirPath);
    // <0, 0 or >0 as `installed` is older than, the same as or newer than `shipped`. Versions that
    // do not both parse as plain version numbers (an optional leading "v" allowed) are only
    // compared for equality, a difference counting as older.
    [[nodiscard]] static int compareVersions(const QString &installed, const QString &shipped);
    bool copyDir(const QString &sourceDir, const QString &targetDir);
    static bool removeDir(const QString &path);

private:
    bool replaceAddon(const QString &sourceDir, const QString &projectPath);
    bool carryOver(const QString &installedDir, const QString &stagingDir);
    bool swapIn(const QString &projectPath);

    QString m_lastError;
};
