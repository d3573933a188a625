#pragma once

#include "core/clientcatalogue.h"
#include "core/cliententry.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Keeps a copy of a client's config file (and of a project's project.godot, under "godot") before
// every change we make to it (or let its CLI make), and puts a copy back on request. Copies live
// in <app data>/Tavrin/backups/<client id>/, named after the UTC time they were taken, readable by
// the user only; the newest ones per client are kept, and the oldest (the file before our first
// change). A name there always holds a whole copy: a copy is written under a temporary name and
// takes its own only once complete. Knows nothing about particular clients: callers say where our
// entry sits in a file. Cheap to create, so worker threads make their own instance.
class Backups : public QObject
{
    Q_OBJECT
public:
    static constexpr int KeptPerClient = 20;

    // What a file holds of ours.
    enum class Content {
        NoEntry,
        SafeEdit,
        FullControl,
        OtherMode, // a permission mode we do not know (see Backup::mode)
        NoMode,    // our entry, without a permission mode
        Unreadable,
    };

    struct Backup
    {
        QString path;
        QDateTime time; // UTC
        qint64 size = 0;
        Content content = Content::Unreadable;
        QString mode;          // the mode as written, for OtherMode
        QString command;       // what the entry starts, with its arguments: "uvx tavrin"
        QString summary;       // for people: "uvx tavrin · Safe Edit", "No \"tavrin\" entry", ...
        bool original = false; // the oldest copy: the file as it was before our first change
    };

    explicit Backups(QObject *parent = nullptr);

    [[nodiscard]] static QString backupsFolder();
    // Empty for an identifier that is not lower-case letters, digits and '-'.
    [[nodiscard]] static QString clientFolder(const QString &clientId);
    [[nodiscard]] static bool isValidClientId(const QString &clientId);

    // Copies the file's bytes and permissions into the client's folder, then drops the copies
    // beyond the newest KeptPerClient, except the oldest. A missing or empty file needs no copy, nor
    // one that the newest copy holds already: true, *createdPath empty. Anything but a regular file
    // of at most JsonFile::MaxReadBytes is refused.
    bool backup(const QString &clientId, const QString &filePath, QString *createdPath = nullptr);
    // Whether backup() of that file could keep a copy now: backup() could read the file (or there is
    // none), and the client's folder exists or can be made, and takes new files. For refusing a
    // change up front.
    [[nodiscard]] bool canBackUp(const QString &clientId, const QString &filePath);
    // How many backups of the client there are, without reading them.
    [[nodiscard]] static int count(const QString &clientId);
    // The client's backups, newest first, each read for what it holds of ours where `layout` says;
    // the last is the original. Removes what killed backups left behind.
    [[nodiscard]] QList<Backup> list(const QString &clientId, const ClientCatalogue::FileLayout &layout);
    // Backs up the target (unless it holds the backup's bytes already), then replaces it
    // atomically with the backup's bytes and permissions.
    bool restore(const QString &clientId, const QString &backupPath, const QString &targetPath);

    [[nodiscard]] QString lastError() const { return m_lastError; }

    // The naming of copies, public for its tests.
    // "<yyyyMMdd-HHmmss-zzz>-<file name>", with ".NN" after the milliseconds when a name of the
    // same millisecond is taken, so that names sort by time.
    [[nodiscard]] static QString backupFileName(const QDateTime &time, const QString &fileName,
                                                const QStringList &taken);
    // False when the name is not one backupFileName makes. `order` grows with time and counter.
    [[nodiscard]] static bool parseBackupFileName(const QString &name, QDateTime *time, qint64 *order = nullptr);

private:
    [[nodiscard]] static Content contentOf(const ClientEntry::Reading &reading);
    // Entries are told apart by what they start as well as by their mode.
    [[nodiscard]] static QString describe(Content content, const QString &mode, const QString &command,
                                          ClientCatalogue::Syntax syntax);
    bool fail(const QString &message);
    bool prepareFolder(const QString &clientId, QString *folder);
    // The file's bytes for a copy: true with *missing set when there is no file; false (lastError
    // set) for anything backup() refuses to read.
    bool readSource(const QString &filePath, QByteArray *bytes, bool *missing);

    QString m_lastError;
};
