#pragma once

#include "core/clientcatalogue.h"

#include <QList>
#include <QObject>
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
    // The file the entry lives in (or would go to): the one we edit, or the one the client's own
    // tool edits. Empty when the catalogue does not know it.
    QString configPath;
    bool configExists = false; // configPath is a file
    int backupCount = 0;       // copies of it kept by Backups
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
    explicit Clients(QObject *parent = nullptr);

    // Detection: one record per catalogue row, in catalogue order. Reads files and runs client
    // tools: for worker threads.
    [[nodiscard]] QList<ClientInfo> detect() const;
    [[nodiscard]] static QString findExecutable(const QString &name);
    // What keeps a configured entry from starting exactly "uvx tavrin" in `permissionMode`, one
    // reason each; empty when it does (or there is no entry).
    [[nodiscard]] static QStringList entryProblems(const ClientInfo &info, const QString &permissionMode);
    [[nodiscard]] QString lastError() const { return m_lastError; }

    // Configuration. Every change first backs up the file it is about to change (for a CLI client,
    // the file its tool edits); a failed backup refuses the change.
    bool writeConfig(const QString &clientId, const QString &permissionMode);
    bool removeConfig(const QString &clientId);
    // The edit of a file client's own file alone, with no backup (the command line's dry run makes
    // it on a copy); a reason in *error (when given) on failure.
    static bool writeFileConfig(const ClientCatalogue::Client &client, const QString &path,
                                const QString &permissionMode, QString *error = nullptr);
    static bool removeFileConfig(const ClientCatalogue::Client &client, const QString &path, QString *error = nullptr);
    // The command lines (program first) an add or a removal runs for a client registered through
    // its own tool, in order; empty for the others.
    [[nodiscard]] static QList<QStringList> cliCommandLines(const QString &clientId, const QString &permissionMode,
                                                            bool add);

private:
    bool runCliAdd(const ClientCatalogue::Client &client, const QString &permissionMode);
    bool runRemove(const ClientCatalogue::Client &client);
    bool backUpCliFile(const ClientCatalogue::Client &client);
    // Runs a client's tool; a failed run whose output `harmless` accepts counts as success.
    bool runTool(const QString &program, const QStringList &args,
                 const std::function<bool(const QString &output)> &harmless = {});

    QString m_lastError;
};
