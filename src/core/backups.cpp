#include "core/backups.h"

#include "base/jsoncedit.h"
#include "base/jsonfile.h"
#include "base/tomlreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimeZone>

#include <algorithm>

namespace {

const QString s_serverName = QStringLiteral("tavrin");
const QString s_modeVariable = QStringLiteral("GODOT_MCP_PERMISSION_MODE");
const QString s_stampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");
// Stamp, optional same-millisecond counter, original file name.
const QRegularExpression
    s_namePattern(QRegularExpression::anchoredPattern(QStringLiteral(R"((\d{8})-(\d{6}-\d{3})(?:\.(\d{2,}))?-(.+))")));

bool readAll(const QString &path, QByteArray *bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    return true;
}

// A file's mode bits. The "user" bits say what this process may do (root may write anything) and
// would turn into owner bits when set on another file.
QFileDevice::Permissions modeOf(const QString &path)
{
    const QFileDevice::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                                          QFile::ExeOther;
    return QFile::permissions(path) & mode;
}

// While a file is written: others get no more than `permissions` allows them, and the owner may
// write (the writer refuses to replace a read-only file).
QFileDevice::Permissions whileWriting(QFileDevice::Permissions permissions)
{
    return permissions | QFile::ReadOwner | QFile::WriteOwner;
}

// Replaces `path` atomically with `bytes`. The file carries the new permissions before the new
// content arrives (the writer keeps an existing file's permissions), so a private file's content
// never sits in a file others may read. On failure the old file, or its absence, is left as it was.
bool replaceFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions, QString *error)
{
    const bool existed = QFileInfo::exists(path);
    const QFileDevice::Permissions previous = existed ? modeOf(path) : QFileDevice::Permissions();
    if (existed) {
        QFile::setPermissions(path, whileWriting(permissions));
    } else {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile placeholder(path);
        if (placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            placeholder.setPermissions(whileWriting(permissions));
    }
    if (!JsonFile::writeBytes(path, bytes, error)) {
        if (existed)
            QFile::setPermissions(path, previous);
        else
            QFile::remove(path);
        return false;
    }
    QFile::setPermissions(path, permissions);
    return true;
}

// Keeps the newest backups in `folder`, and always `fresh`: with a clock set back it may look the
// oldest.
void dropOldest(const QString &folder, const QString &fresh)
{
    struct Entry
    {
        qint64 order;
        QString name;
    };
    QList<Entry> others;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        qint64 order = 0;
        if (name != fresh && Backups::parseBackupFileName(name, nullptr, &order))
            others.append({order, name});
    }
    std::sort(others.begin(), others.end(), [](const Entry &a, const Entry &b) { return a.order > b.order; });
    for (qsizetype i = Backups::KeptPerClient - 1; i < others.size(); ++i)
        QFile::remove(folder + QLatin1Char('/') + others.at(i).name);
}

} // namespace

Backups::Backups(QObject *parent) : QObject(parent) {}

QString Backups::backupsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1String("/Tavrin/backups");
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

QString Backups::codexConfigPath(const QProcessEnvironment &env, const QString &home)
{
    QString folder = env.value(QStringLiteral("CODEX_HOME"));
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (folder.isEmpty())
        folder = home + QLatin1String("/.codex");
    return folder == QLatin1String("/") ? QStringLiteral("/config.toml") : folder + QLatin1String("/config.toml");
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

bool Backups::canBackUp(const QString &clientId, const QString &filePath)
{
    m_lastError.clear();
    if (!isValidClientId(clientId))
        return fail(QStringLiteral("\"%1\" cannot name a backups folder.").arg(clientId));
    if (!QFileInfo::exists(filePath))
        return true;
    QFile source(filePath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read %1 to back it up: %2").arg(filePath, source.errorString()));
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
    const QFileInfo source(filePath);
    if (!source.exists())
        return true; // nothing to lose
    QByteArray bytes;
    QString error;
    if (!readAll(filePath, &bytes, &error))
        return fail(QStringLiteral("Cannot read %1 to back it up: %2").arg(filePath, error));
    const QFileDevice::Permissions permissions = modeOf(filePath);

    QString folder;
    if (!prepareFolder(clientId, &folder))
        return false;

    // Claim a free name by creating the file exclusively, so that two writers at the same moment
    // cannot pick the same one.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList taken = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QString path;
    for (;;) {
        const QString name = backupFileName(now, source.fileName(), taken);
        path = folder + QLatin1Char('/') + name;
        QFile claim(path);
        if (claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            claim.setPermissions(whileWriting(permissions));
            break;
        }
        if (!QFileInfo::exists(path))
            return fail(
                QStringLiteral("Cannot back up %1 into the folder %2: %3").arg(filePath, folder, claim.errorString()));
        taken.append(name);
    }
    if (!JsonFile::writeBytes(path, bytes, &error)) {
        QFile::remove(path);
        return fail(QStringLiteral("Cannot back up %1 into the folder %2: %3").arg(filePath, folder, error));
    }
    QFile::setPermissions(path, permissions);

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
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        n += parseBackupFileName(name, nullptr) ? 1 : 0;
    return n;
}

QList<Backups::Backup> Backups::list(const QString &clientId, const FileLayout &layout)
{
    m_lastError.clear();
    QList<Backup> result;
    if (!isValidClientId(clientId)) {
        fail(QStringLiteral("\"%1\" cannot name a backups folder.").arg(clientId));
        return result;
    }
    const QString folder = clientFolder(clientId);
    QList<qint64> orders;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        Backup item;
        qint64 order = 0;
        if (!parseBackupFileName(info.fileName(), &item.time, &order))
            continue;
        item.path = info.filePath();
        item.size = info.size();
        QByteArray bytes;
        QString error;
        EntryReading reading;
        if (readAll(item.path, &bytes, &error))
            reading = layout.reader ? layout.reader(bytes) : readEntry(bytes, layout);
        item.content = contentOf(reading);
        item.mode = reading.mode;
        item.summary = describe(item.content, item.mode, layout.syntax);
        const auto at = std::lower_bound(orders.begin(), orders.end(), order, std::greater<qint64>());
        result.insert(at - orders.begin(), item);
        orders.insert(at, order);
    }
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

    // Read it first: backing up the target may drop this very backup as the oldest.
    QByteArray bytes;
    QString error;
    if (!readAll(backupPath, &bytes, &error))
        return fail(QStringLiteral("Cannot read the backup %1: %2").arg(backupPath, error));
    const QFileDevice::Permissions permissions = modeOf(backupPath);

    if (!backup(clientId, targetPath))
        return false;
    if (!replaceFile(targetPath, bytes, permissions, &error))
        return fail(error);
    return true;
}

Backups::EntryReading Backups::readEntry(const QByteArray &bytes, const FileLayout &layout)
{
    EntryReading reading;
    QJsonObject document;
    if (layout.syntax == Syntax::Toml) {
        if (!TomlReader::parse(bytes, &document))
            return reading;
    } else if (layout.syntax == Syntax::Jsonc) {
        // The same reader the edits go through, so a backup reads as the file did.
        const JsoncEdit::Parsed parsed = JsoncEdit::parse(bytes);
        if (!parsed.ok)
            return reading;
        document = parsed.root;
    } else {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return reading;
        document = doc.object();
    }
    reading.readable = true;
    QJsonObject servers = document;
    for (const QString &key : layout.serversPath)
        servers = servers.value(key).toObject();
    // Clients ignore an entry that is not an object (null, say).
    const QJsonValue entry = servers.value(s_serverName);
    if (!entry.isObject())
        return reading;
    reading.hasEntry = true;
    reading.mode = entry.toObject().value(layout.envKey).toObject().value(s_modeVariable).toString();
    return reading;
}

Backups::Content Backups::contentOf(const EntryReading &reading)
{
    if (!reading.readable)
        return Content::Unreadable;
    if (!reading.hasEntry)
        return Content::NoEntry;
    if (reading.mode.isEmpty())
        return Content::NoMode;
    if (reading.mode == QLatin1String("safe_edit"))
        return Content::SafeEdit;
    if (reading.mode == QLatin1String("full_control"))
        return Content::FullControl;
    return Content::OtherMode;
}

QString Backups::describe(Content content, const QString &mode, Syntax syntax)
{
    switch (content) {
    case Content::NoEntry:
        return QStringLiteral("No \"tavrin\" entry");
    case Content::SafeEdit:
        return QStringLiteral("Entry with Safe Edit");
    case Content::FullControl:
        return QStringLiteral("Entry with Full Control");
    case Content::OtherMode:
        return QStringLiteral("Entry with the mode \"%1\"").arg(mode);
    case Content::NoMode:
        return QStringLiteral("Entry without a permission mode");
    case Content::Unreadable:
        break;
    }
    return syntax == Syntax::Toml ? QStringLiteral("File not readable as TOML")
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
