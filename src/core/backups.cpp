#include "core/backups.h"

#include "base/jsonfile.h"
#include "base/userfolders.h"
#include "core/mcpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace {

const QString s_stampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");
// Stamp, optional same-millisecond counter, original file name.
const QRegularExpression
    s_namePattern(QRegularExpression::anchoredPattern(QStringLiteral(R"((\d{8})-(\d{6}-\d{3})(?:\.(\d{2,}))?-(.+))")));

// A file's mode bits. The "user" bits say what this process may do (root may write anything) and
// would turn into owner bits when set on another file.
QFileDevice::Permissions modeOf(const QString &path)
{
    const QFileDevice::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                                          QFile::ExeOther;
    return QFile::permissions(path) & mode;
}

// A backup as the folder holds it. Only whole copies count: a name can hold an empty file (left by
// versions that claimed the name before writing the copy) or something that is no file of ours.
struct Entry
{
    qint64 order = 0;
    QFileInfo info;
};

// The folder's whole backups, newest first. Temporary files of killed backups are removed, and so
// are empty files under a backup name: no copy is ever taken of an empty file, so they hold nothing.
QList<Entry> wholeBackups(const QString &folder)
{
    QList<Entry> entries;
    if (!QFileInfo(folder).isDir())
        return entries;
    JsonFile::removeLeftovers(folder);
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        Entry entry{0, info};
        if (!Backups::parseBackupFileName(info.fileName(), nullptr, &entry.order) || info.isSymLink() || !info.isFile())
            continue;
        if (info.size() == 0) {
            QFile::remove(info.filePath());
            continue;
        }
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.order > b.order; });
    return entries;
}

// Keeps the newest backups in `folder` and the oldest (the file before our first change), and
// always `fresh`: with a clock set back it may look the oldest.
void dropOldest(const QString &folder, const QString &fresh)
{
    QList<Entry> others = wholeBackups(folder);
    others.removeIf([&fresh](const Entry &entry) { return entry.info.fileName() == fresh; });
    for (qsizetype i = Backups::KeptPerClient - 1; i < others.size() - 1; ++i)
        QFile::remove(others.at(i).info.filePath());
}

} // namespace

Backups::Backups(QObject *parent) : QObject(parent) {}

QString Backups::backupsFolder()
{
    return UserFolders::data() + QLatin1String("/Tavrin/backups");
}

bool Backups::isValidClientId(const QString &clientId)
{
    static const QRegularExpression s_id(QRegularExpression::anchoredPattern(QStringLiteral("[a-z0-9-]+")));
    return s_id.match(clientId).hasMatch();
}

QString Backups::clientFolder(const QString &clientId)
{
    return isValidClientId(clientId) ? backupsFolder() + QLatin1Char('/') + clientId : QString();
}

bool Backups::fail(const QString &message)
{
    m_lastError = message;
    return false;
}

bool Backups::prepareFolder(const QString &clientId, QString *folder)
{
    const QString root = backupsFolder();
    *folder = root + QLatin1Char('/') + clientId;
    for (const QString &dir : {root, *folder}) {
        const QFileInfo info(dir);
        if (info.exists() && !info.isDir())
            return fail(
                QStringLiteral("Cannot keep backups in the folder %1: a file of that name is in the way.").arg(dir));
        const QFileDevice::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        if (!info.exists() && !(QDir().mkpath(info.absolutePath()) && QDir().mkdir(dir, ownerOnly)) &&
            !QFileInfo(dir).isDir())
            return fail(QStringLiteral("Cannot create the backups folder %1.").arg(dir));
#ifndef Q_OS_WIN
        // Backups hold what the user had, API keys included: nobody else may look inside. The
        // owner's own bits are left alone, so a folder made read-only stays so (and is reported).
        const QFileDevice::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                                QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        const QFileDevice::Permissions current = modeOf(dir);
        if ((current & others) && !QFile::setPermissions(dir, current & ~others))
            return fail(QStringLiteral("Cannot make the backups folder %1 private to you.").arg(dir));
#endif
    }
    return true;
}

bool Backups::readSource(const QString &filePath, QByteArray *bytes, bool *missing)
{
    QString error;
    const JsonFile::ReadStatus status = JsonFile::readBytes(filePath, bytes, &error);
    *missing = status == JsonFile::ReadStatus::Missing;
    if (status == JsonFile::ReadStatus::Ok || *missing)
        return true;
    return fail(QStringLiteral("Cannot read %1 to back it up: %2.").arg(filePath, error));
}

bool Backups::canBackUp(const QString &clientId, const QString &filePath)
{
    m_lastError.clear();
    if (!isValidClientId(clientId))
        return fail(QStringLiteral("\"%1\" cannot name a backups folder.").arg(clientId));
    // Read as backup() reads it, so that what it would refuse (a FIFO, a folder, a huge file) is
    // refused here too, and a FIFO is never opened in a way that waits for a writer.
    QByteArray bytes;
    bool missing = false;
    if (!readSource(filePath, &bytes, &missing))
        return false;
    if (missing)
        return true;
    QString folder;
    if (!prepareFolder(clientId, &folder))
        return false;
    if (!QFileInfo(folder).isWritable())
        return fail(QStringLiteral("Cannot write backups into the folder %1.").arg(folder));
    return true;
}

bool Backups::backup(const QString &clientId, const QString &filePath, QString *createdPath)
{
    m_lastError.clear();
    if (createdPath)
        createdPath->clear();
    if (!isValidClientId(clientId))
        return fail(QStringLiteral("\"%1\" cannot name a backups folder.").arg(clientId));
    QByteArray bytes;
    bool missing = false;
    if (!readSource(filePath, &bytes, &missing))
        return false;
    if (missing)
        return true; // nothing to lose
    // Nothing to lose either; and an empty copy could not be told from one that was cut short.
    if (bytes.isEmpty())
        return true;
    const QFileDevice::Permissions permissions = modeOf(filePath);

    QString folder;
    if (!prepareFolder(clientId, &folder))
        return false;
    // The newest copy holds this state already (the last change was undone, or a client's tool
    // changed nothing): another would only push an older one out.
    const QList<Entry> existing = wholeBackups(folder);
    if (!existing.isEmpty()) {
        QByteArray newest;
        const QString path = existing.first().info.filePath();
        if (JsonFile::readBytes(path, &newest) == JsonFile::ReadStatus::Ok && newest == bytes &&
            modeOf(path) == permissions)
            return true;
    }

    // The copy takes its name only once it is whole, and never another copy's: two writers at the
    // same moment pick different names.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList taken = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QString path;
    QString error;
    for (;;) {
        const QString name = backupFileName(now, QFileInfo(filePath).fileName(), taken);
        path = folder + QLatin1Char('/') + name;
        bool nameTaken = false;
        if (JsonFile::createNew(path, bytes, permissions, &nameTaken, &error))
            break;
        if (!nameTaken)
            return fail(QStringLiteral("Cannot back up %1 into the folder %2: %3").arg(filePath, folder, error));
        taken.append(name);
    }
    dropOldest(folder, QFileInfo(path).fileName());

    if (createdPath)
        *createdPath = path;
    return true;
}

int Backups::count(const QString &clientId)
{
    const QString folder = clientFolder(clientId);
    if (folder.isEmpty())
        return 0;
    int n = 0;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
        n += parseBackupFileName(info.fileName(), nullptr) && !info.isSymLink() && info.isFile() && info.size() > 0;
    return n;
}

QList<Backups::Backup> Backups::list(const QString &clientId, const ClientCatalogue::FileLayout &layout)
{
    m_lastError.clear();
    QList<Backup> result;
    if (!isValidClientId(clientId)) {
        fail(QStringLiteral("\"%1\" cannot name a backups folder.").arg(clientId));
        return result;
    }
    for (const Entry &entry : wholeBackups(clientFolder(clientId))) {
        Backup item;
        (void)parseBackupFileName(entry.info.fileName(), &item.time);
        item.path = entry.info.filePath();
        item.size = entry.info.size();
        QByteArray bytes;
        ClientEntry::Reading reading;
        if (JsonFile::readBytes(item.path, &bytes) == JsonFile::ReadStatus::Ok)
            reading = ClientEntry::read(bytes, layout);
        item.content = contentOf(reading);
        item.mode = reading.mode;
        item.command = QStringList(QStringList{reading.command} + reading.args).join(QLatin1Char(' ')).trimmed();
        item.summary = describe(item.content, item.mode, item.command, layout.syntax);
        result.append(item);
    }
    if (!result.isEmpty())
        result.last().original = true;
    return result;
}

bool Backups::restore(const QString &clientId, const QString &backupPath, const QString &targetPath)
{
    m_lastError.clear();
    if (!isValidClientId(clientId))
        return fail(QStringLiteral("\"%1\" cannot name a backups folder.").arg(clientId));
    // Only one of this client's backups: a file directly in its folder, also after resolving links.
    const QFileInfo info(backupPath);
    const QString folder = QFileInfo(clientFolder(clientId)).canonicalFilePath();
    if (!info.isFile() || folder.isEmpty() || info.canonicalPath() != folder ||
        !parseBackupFileName(info.fileName(), nullptr))
        return fail(QStringLiteral("%1 is not one of the backups kept for %2.").arg(backupPath, clientId));

    // Read it first: backing up the target may drop this very backup.
    QByteArray bytes;
    QString error;
    if (JsonFile::readBytes(backupPath, &bytes, &error) != JsonFile::ReadStatus::Ok)
        return fail(QStringLiteral("Cannot read the backup %1: %2.").arg(backupPath, error));
    if (bytes.isEmpty())
        return fail(QStringLiteral("The backup %1 is empty: it is not a whole copy of the file.").arg(backupPath));
    const QFileDevice::Permissions permissions = modeOf(backupPath);

    // A target that holds these bytes already needs no copy, and with the same mode no write.
    QByteArray current;
    const bool same = JsonFile::readBytes(targetPath, &current) == JsonFile::ReadStatus::Ok && current == bytes;
    if (same && modeOf(targetPath) == permissions) {
        JsonFile::removeLeftoversOf(targetPath);
        return true;
    }
    if (!same && !backup(clientId, targetPath))
        return false;
    // The file is whole at every moment (or absent, as it was), and gets the backup's mode before
    // it takes the name: the file it replaces keeps its own.
    if (!JsonFile::writeBytesWithMode(targetPath, bytes, permissions, &error))
        return fail(error);
    return true;
}

Backups::Content Backups::contentOf(const ClientEntry::Reading &reading)
{
    if (!reading.readable)
        return Content::Unreadable;
    // Clients ignore an entry that is not an object (null, say).
    if (!reading.valid)
        return Content::NoEntry;
    if (reading.mode.isEmpty())
        return Content::NoMode;
    const QList<McpServer::Mode> &modes = McpServer::modes();
    if (reading.mode == modes.at(0).value)
        return Content::SafeEdit;
    if (reading.mode == modes.at(1).value)
        return Content::FullControl;
    return Content::OtherMode;
}

QString Backups::describe(Content content, const QString &mode, const QString &command, ClientCatalogue::Syntax syntax)
{
    const QString starts = command.isEmpty() ? QStringLiteral("Entry without a command") : command;
    switch (content) {
    case Content::NoEntry:
        return QStringLiteral("No \"%1\" entry").arg(McpServer::name());
    case Content::SafeEdit:
    case Content::FullControl:
        return QStringLiteral("%1 · %2").arg(starts, McpServer::modeName(mode));
    case Content::OtherMode:
        return QStringLiteral("%1 · the mode \"%2\"").arg(starts, mode);
    case Content::NoMode:
        return QStringLiteral("%1 · no permission mode").arg(starts);
    case Content::Unreadable:
        break;
    }
    return syntax == ClientCatalogue::Syntax::Toml ? QStringLiteral("File not readable as TOML")
                                                   : QStringLiteral("File not readable as JSON");
}

QString Backups::backupFileName(const QDateTime &time, const QString &fileName, const QStringList &taken)
{
    const QString stamp = time.toUTC().toString(s_stampFormat);
    // Any backup of the same millisecond, whatever its file, pushes the counter on, so the order
    // of names is the order in which they were taken.
    int counter = -1;
    for (const QString &name : taken) {
        const QRegularExpressionMatch match = s_namePattern.match(name);
        if (match.hasMatch() && match.captured(1) + QLatin1Char('-') + match.captured(2) == stamp)
            counter = std::max(counter, match.captured(3).toInt());
    }
    if (counter < 0)
        return stamp + QLatin1Char('-') + fileName;
    return stamp + QStringLiteral(".%1-").arg(counter + 1, 2, 10, QLatin1Char('0')) + fileName;
}

bool Backups::parseBackupFileName(const QString &name, QDateTime *time, qint64 *order)
{
    const QRegularExpressionMatch match = s_namePattern.match(name);
    if (!match.hasMatch())
        return false;
    const QDate date = QDate::fromString(match.captured(1), QStringLiteral("yyyyMMdd"));
    const QTime clock = QTime::fromString(match.captured(2), QStringLiteral("HHmmss-zzz"));
    if (!date.isValid() || !clock.isValid())
        return false;
    const QDateTime parsed(date, clock, QTimeZone::utc());
    if (time)
        *time = parsed;
    if (order)
        *order = parsed.toMSecsSinceEpoch() * 1000 + std::min(match.captured(3).toInt(), 999);
    return true;
}
