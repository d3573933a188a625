#include "cli/clientchange.h"

#include "cli/names.h"

#include "base/jsonfile.h"
#include "cli/unifieddiff.h"
#include "core/backups.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

namespace {

QString commandLine(const QStringList &words)
{
    QStringList quoted;
    for (const QString &word : words) {
        const bool plain = !word.isEmpty() && !word.contains(QLatin1Char(' ')) && !word.contains(QLatin1Char('"'));
        quoted << (plain ? word : QLatin1Char('"') + word + QLatin1Char('"'));
    }
    return quoted.join(QLatin1Char(' '));
}

} // namespace

ClientChange::ClientChange(const ClientInfo &info, bool add, const QString &permissionMode)
    : m_info(info), m_add(add), m_mode(permissionMode)
{
    const ClientCatalogue::Client *client = ClientCatalogue::find(info.id);
    if (!client) {
        m_outcome = Outcome::Failed;
        m_reason = QStringLiteral("Unknown client \"%1\".").arg(info.id);
        return;
    }
    if (!client->usesCli) {
        planFile(*client);
        return;
    }
    m_file = ClientCatalogue::configPath(info.id);
    if (add ? Names::upToDate(info, permissionMode) : !info.configured) {
        m_outcome = Outcome::NothingToDo;
        return;
    }
    if (!info.installed) {
        m_outcome = Outcome::Failed;
        m_reason = QStringLiteral("%1 is not installed: %2 was not found on the PATH.")
                       .arg(info.name, client->executables.first());
        return;
    }
    m_commands = Clients::cliCommandLines(info.id, permissionMode, add);
}

void ClientChange::planFile(const ClientCatalogue::Client &client)
{
    m_file = ClientCatalogue::configPath(client.id);
    // As the edit itself reads it: a FIFO, a folder or a huge file in its place is refused unread.
    QString readError;
    const JsonFile::ReadStatus read = JsonFile::readBytes(m_file, &m_before, &readError);
    m_fileExisted = read != JsonFile::ReadStatus::Missing;
    if (read == JsonFile::ReadStatus::Unreadable) {
        m_outcome = Outcome::Refused;
        m_reason = QStringLiteral("%1 cannot be read (%2).").arg(m_file, readError);
        return;
    }
    // The edit itself, on a copy under the same name.
    const QTemporaryDir scratch;
    const QString copy = scratch.path() + QLatin1Char('/') + QFileInfo(m_file).fileName();
    QFile out(copy);
    if (!scratch.isValid() || (m_fileExisted && (!out.open(QIODevice::WriteOnly) || out.write(m_before) < 0))) {
        m_outcome = Outcome::Failed;
        m_reason = QStringLiteral("Could not prepare the change of %1 in a temporary folder.").arg(m_file);
        return;
    }
    out.close();
    QString error;
    const bool edited = m_add ? Clients::writeFileConfig(client, copy, m_mode, &error)
                              : Clients::removeFileConfig(client, copy, &error);
    if (!edited) {
        // Whatever the edit refuses is about the file's content; the message names the copy.
        m_outcome = Outcome::Refused;
        m_reason = error.replace(copy, m_file);
        return;
    }
    QFile result(copy);
    if (result.open(QIODevice::ReadOnly))
        m_after = result.readAll();
    else if (m_fileExisted)
        m_after = m_before;
    if (m_after == m_before && (m_fileExisted || !QFileInfo::exists(copy)))
        m_outcome = Outcome::NothingToDo;
}

QString ClientChange::diff() const
{
    if (!m_commands.isEmpty()) {
        QStringList lines;
        for (const QStringList &words : m_commands)
            lines << QLatin1String("$ ") + commandLine(words);
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    if (m_outcome != Outcome::Planned)
        return {};
    return UnifiedDiff::make(m_before, m_after, m_fileExisted ? m_file : QStringLiteral("/dev/null"), m_file);
}

ClientChange::Outcome ClientChange::apply()
{
    if (m_outcome != Outcome::Planned)
        return m_outcome;
    const QString changed = ClientCatalogue::configPath(m_info.id);
    Backups backups;
    if (!changed.isEmpty() && !backups.canBackUp(m_info.id, changed)) {
        m_reason = QStringLiteral("%1 was left unchanged because no backup of it can be made: %2")
                       .arg(changed, backups.lastError());
        return m_outcome = Outcome::Refused;
    }
    Clients clients;
    if (m_add ? clients.writeConfig(m_info.id, m_mode) : clients.removeConfig(m_info.id))
        return m_outcome = Outcome::Planned;
    m_reason = clients.lastError();
    return m_outcome = Outcome::Failed;
}

QString ClientChange::outcomeName(Outcome outcome, bool dryRun)
{
    switch (outcome) {
    case Outcome::Planned:
        break;
    case Outcome::NothingToDo:
        return QStringLiteral("unchanged");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::Failed:
        return QStringLiteral("failed");
    }
    return dryRun ? QStringLiteral("would_change") : QStringLiteral("changed");
}

QJsonObject ClientChange::toJson(bool dryRun) const
{
    QJsonObject object{{QStringLiteral("id"), m_info.id},
                       {QStringLiteral("action"), m_add ? QStringLiteral("add") : QStringLiteral("remove")},
                       {QStringLiteral("result"), outcomeName(m_outcome, dryRun)},
                       {QStringLiteral("file"), m_file}};
    if (!m_reason.isEmpty())
        object.insert(QStringLiteral("error"), m_reason);
    if (!m_commands.isEmpty()) {
        QJsonArray commands;
        for (const QStringList &words : m_commands)
            commands.append(QJsonArray::fromStringList(words));
        object.insert(QStringLiteral("commands"), commands);
    } else if (m_outcome == Outcome::Planned) {
        object.insert(QStringLiteral("diff"), diff());
    }
    return object;
}
