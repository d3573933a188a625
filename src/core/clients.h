#pragma once

#include "core/backups.h"
#include "core/clientcatalogue.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

// One AI client as detection sees it, with what its "tavrin" entry carries.
struct ClientInfo
{
    QString id;
    QString name;
    bool usesCli = false;
    bool installed = false;
    bool configured = false; // an entry named "tavrin" exists
    // The entry as found (empty when not configured or not readable).
    QString mode; // its GODOT_MCP_PERMISSION_MODE; empty when unknown or unset
    QString command;
    QStringList args;
    // The entry is an object; a configured client with a null, array or string entry has false.
    bool entryValid = false;
    // The entry starts exactly "uvx tavrin" with the permission mode detection was asked about.
    bool upToDate = false;
    // The file the entry lives in (or would go to); empty when only the client's tool knows.
    QString configPath;
    // Why the client's file could not be read (it is a FIFO, a directory, too large...); the
    // client then counts as not configured. Empty when it was read or is absent.
    QString error;
};

// Detects the AI clients of the catalogue and registers or removes the "tavrin" MCP server entry
// in each: by editing its configuration file or by running its own CLI. Cheap to create, so
// worker threads make their own instance.
class Clients : public QObject
{
    Q_OBJECT
public:
    using Platform = ClientCatalogue::Platform;

    explicit Clients(QObject *parent = nullptr);

    // Detection: one record per catalogue row, in catalogue order. An entry counts as up to date
    // when it carries permissionMode.
    [[nodiscard]] QList<ClientInfo> detect(const QString &permissionMode) const;
    // The configuration file of a client registered by file edit; empty for the others.
    [[nodiscard]] static QString configPathFor(const QString &clientId);
    // The file a change of the client's entry rewrites: the one we edit, or the one its CLI edits.
    // Empty when only the client's tool knows.
    [[nodiscard]] static QString changedFilePath(const QString &clientId);
    // Where our entry sits in that file, for telling what its backups hold.
    [[nodiscard]] static Backups::FileLayout backupLayout(const QString &clientId);
    [[nodiscard]] static QString findExecutable(const QString &name);
    [[nodiscard]] QString lastError() const { return m_lastError; }

    // The catalogue's candidate files of a client for the given folders (pure).
    [[nodiscard]] static QStringList configCandidates(const QString &clientId, Platform platform,
                                                      const QProcessEnvironment &env, const QString &home,
                                                      const QString &dataDir, const QString &configDir);
    // With firstExistingFile, the first candidate that exists as a file. Otherwise, and when none
    // does: the first candidate whose folder exists (wildcards expanded); when none does, the
    // first candidate without a wildcard.
    [[nodiscard]] static QString resolveConfigPath(const QStringList &candidates, bool firstExistingFile = false);
    [[nodiscard]] static Platform currentPlatform();
    // Permission modes go onto CLI command lines (through cmd.exe on Windows), so only
    // lower-case ASCII letters and underscores are let through.
    [[nodiscard]] static bool isValidPermissionMode(const QString &permissionMode);

    // Configuration. Every change first backs up the file it is about to change (for a CLI client,
    // the file its tool edits); a failed backup refuses the change.
    bool writeConfig(const QString &clientId, const QString &permissionMode);
    bool removeConfig(const QString &clientId);
    // Our entry in the common shape, and in a given client's shape.
    [[nodiscard]] static QJsonObject mcpEntry(const QString &permissionMode);
    [[nodiscard]] static QJsonObject mcpEntry(const ClientCatalogue::EntryShape &shape, const QString &permissionMode);
    // The file-level operations leave a reason in *error (when given) on failure. The first two
    // edit a plain JSON file's "mcpServers" object; the others any file client's own file. They
    // take no backup: that is writeConfig's and removeConfig's part.
    static bool writeJsonConfig(const QString &path, const QString &permissionMode, QString *error = nullptr);
    static bool removeJsonConfig(const QString &path, QString *error = nullptr);
    static bool writeFileConfig(const ClientCatalogue::Client &client, const QString &path,
                                const QString &permissionMode, QString *error = nullptr);
    static bool removeFileConfig(const ClientCatalogue::Client &client, const QString &path, QString *error = nullptr);
    // The command lines (program first) an add or a removal runs for a client registered through
    // its own tool, in order; empty for the others. What runCliAdd and runCliRemove run.
    [[nodiscard]] static QList<QStringList> cliCommandLines(const QString &clientId, const QString &permissionMode,
                                                            bool add);
    // Both back up the file the tool edits before running it.
    bool runCliAdd(const QString &clientId, const QString &permissionMode);
    bool runCliRemove(const QString &clientId);
    bool executeCli(const QString &program, const QStringList &args);

signals:
    void configWritten(const QString &clientId, bool success);
    void configRemoved(const QString &clientId, bool success);

private:
    bool runRemove(const ClientCatalogue::Client &client);
    bool backUpCliFile(const ClientCatalogue::Client &client);
    // executeCli, except that a failed run whose output `harmless` accepts counts as success.
    bool runTool(const QString &program, const QStringList &args,
                 const std::function<bool(const QString &output)> &harmless);

    QString m_lastError;
};
