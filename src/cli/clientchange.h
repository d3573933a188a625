#pragma once

#include "core/clients.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// One registration or removal of our entry in one client, worked out before anything is touched:
// for a client whose file we edit, the file's bytes before and after (the edit is made on a copy,
// by the same code that makes it for real); for a client with its own tool, the command lines.
// The same plan serves --dry-run and the change itself, so what is shown is what is done.
class ClientChange
{
public:
    enum class Outcome {
        Planned,
        NothingToDo,
        Refused, // the client's file cannot be read or understood: it is left alone
        Failed,
    };

    ClientChange(const ClientInfo &info, bool add, const QString &permissionMode);

    [[nodiscard]] Outcome outcome() const { return m_outcome; }
    [[nodiscard]] QString clientId() const { return m_info.id; }
    [[nodiscard]] QString reason() const { return m_reason; }
    // The change as a unified diff (file clients) or the command lines, one per line (tool clients).
    [[nodiscard]] QString diff() const;

    // Makes the change: refused (Refused) when no backup of the file can be taken first.
    Outcome apply();
    // "result": "changed" ("would_change" on a dry run), "unchanged", "refused" or "failed".
    [[nodiscard]] QJsonObject toJson(bool dryRun) const;
    [[nodiscard]] static QString outcomeName(Outcome outcome, bool dryRun);

private:
    void planFile(const ClientCatalogue::Client &client);

    ClientInfo m_info;
    bool m_add = false;
    QString m_mode;
    Outcome m_outcome = Outcome::Planned;
    QString m_reason;
    QString m_file;
    bool m_fileExisted = false;
    QByteArray m_before;
    QByteArray m_after;
    QList<QStringList> m_commands;
};
