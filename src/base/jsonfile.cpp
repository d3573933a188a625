#include "base/jsonfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#endif

namespace JsonFile {

namespace {

// ".<name>.tavrin-write-" and six letters or digits: hidden, and unlike anything a user names a
// copy of their file ("settings.json.backup", "mcp.json.1"), so only our own leftovers match.
const QLatin1String s_temporaryInfix(".tavrin-write-");
constexpr int s_randomLength = 6;

QString temporaryPrefix(const QString &fileName)
{
    return QLatin1Char('.') + fileName + s_temporaryInfix;
}

QString randomSuffix()
{
    static const char s_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < s_randomLength; ++i)
        suffix += QLatin1Char(s_chars[QRandomGenerator::global()->bounded(int(sizeof s_chars) - 1)]);
    return suffix;
}

QString tooLarge(qint64 size)
{
    return QStringLiteral("it is too large (%1 MiB; files over %2 MiB are not read)")
        .arg(double(size) / (1 << 20), 0, 'f', 1)
        .arg(MaxReadBytes >> 20);
}

// How the new file gets its mode: the old file's, or one given.
struct Mode
{
    bool given = false;
    QFileDevice::Permissions permissions;
};

#ifdef Q_OS_WIN

QString lastErrorText()
{
    return qt_error_string(int(GetLastError()));
}

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

// Whether another program holds the file open without delete sharing (an editor, say), which
// is what keeps a replace from going through.
bool heldOpen(const QString &path)
{
    const HANDLE handle = CreateFileW(native(QDir::toNativeSeparators(path)), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

// A write in progress holds its temporary file open without sharing, so deleting it fails: only
// files whose writer is gone are removed.
void removeLeftover(const QString &path)
{
    DeleteFileW(native(QDir::toNativeSeparators(path)));
}

// Writes `bytes` into a new hidden temporary file beside `fileName` in `folder`; the caller moves
// it into place or deletes it.
bool writeTemporary(const QString &folder, const QString &fileName, const QByteArray &bytes, QString *temporary,
                    QString *reason)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        *temporary = QDir::toNativeSeparators(folder + QLatin1Char('/') + temporaryPrefix(fileName) + randomSuffix());
        handle = CreateFileW(native(*temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            *reason = lastErrorText();
            return false;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        *reason = lastErrorText();
        return false;
    }
    qint64 done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = DWORD(qMin<qint64>(bytes.size() - done, 1 << 30));
        if (!WriteFile(handle, bytes.constData() + done, chunk, &written, nullptr) || written == 0) {
            *reason = lastErrorText();
            CloseHandle(handle);
            DeleteFileW(native(*temporary));
            return false;
        }
        done += written;
    }
    const bool flushed = FlushFileBuffers(handle);
    if (!flushed)
        *reason = lastErrorText();
    CloseHandle(handle);
    if (!flushed) {
        DeleteFileW(native(*temporary));
        return false;
    }
    return true;
}

// Windows knows only "read-only" of a mode; the hidden attribute marked a temporary file, and the
// result is the user's visible file again.
void setFinalAttributes(const QString &temporary, const Mode &mode, bool readOnly)
{
    const bool makeReadOnly = mode.given ? !(mode.permissions & QFileDevice::WriteOwner) : readOnly;
    SetFileAttributesW(native(temporary), makeReadOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

bool writeReplacing(const QString &target, const QString &folder, const QString &fileName, const QByteArray &bytes,
                    const Mode &mode, QString *reason)
{
    const QFileInfo existing(target);
    if (existing.exists() && !existing.isWritable()) {
        *reason = QStringLiteral("the file is read-only");
        return false;
    }
    QString temporary;
    if (!writeTemporary(folder, fileName, bytes, &temporary, reason))
        return false;
    setFinalAttributes(temporary, mode, false);
    if (!MoveFileExW(native(temporary), native(QDir::toNativeSeparators(target)),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *reason = lastErrorText();
        if (heldOpen(target))
            *reason = QStringLiteral("another program has it open and does not let it be replaced; close that "
                                     "program and try again");
        SetFileAttributesW(native(temporary), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(native(temporary));
        return false;
    }
    return true;
}

bool writeNew(const QString &target, const QString &folder, const QString &fileName, const QByteArray &bytes,
              const Mode &mode, bool *taken, QString *reason)
{
    QString temporary;
    if (!writeTemporary(folder, fileName, bytes, &temporary, reason))
        return false;
    setFinalAttributes(temporary, mode, false);
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    const bool moved = MoveFileExW(native(temporary), native(QDir::toNativeSeparators(target)), MOVEFILE_WRITE_THROUGH);
    if (!moved) {
        const DWORD error = GetLastError();
        *taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
        *reason = qt_error_string(int(error));
        SetFileAttributesW(native(temporary), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(native(temporary));
    }
    return moved;
}

ReadStatus readFile(const QString &path, QByteArray *bytes, QString *reason)
{
    const QFileInfo info(path);
    if (!info.exists())
        return ReadStatus::Missing;
    if (!info.isFile()) {
        *reason = info.isDir() ? QStringLiteral("it is a directory, not a regular file")
                               : QStringLiteral("it is not a regular file");
        return ReadStatus::Unreadable;
    }
    if (info.size() > MaxReadBytes) {
        *reason = tooLarge(info.size());
        return ReadStatus::Unreadable;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return ReadStatus::Unreadable;
    }
    *bytes = file.read(MaxReadBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return ReadStatus::Unreadable;
    }
    if (bytes->size() > MaxReadBytes) {
        *reason = tooLarge(bytes->size());
        bytes->clear();
        return ReadStatus::Unreadable;
    }
    return ReadStatus::Ok;
}

#else

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

mode_t unixMode(QFileDevice::Permissions p)
{
    mode_t mode = 0;
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR}, {QFileDevice::WriteOwner, S_IWUSR}, {QFileDevice::ExeOwner, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP}, {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH}, {QFileDevice::WriteOther, S_IWOTH}, {QFileDevice::ExeOther, S_IXOTH}};
    for (const auto &[flag, bit] : bits) {
        if (p.testFlag(flag))
            mode |= bit;
    }
    return mode;
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("it is a directory, not a regular file");
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a FIFO (named pipe), not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device, not a regular file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a regular file");
    return QStringLiteral("it is not a regular file");
}

// A write in progress holds a lock on its temporary file (also against other threads of this
// process: flock locks belong to the open file), so only files whose writer is gone are removed.
void removeLeftover(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(name.constData());
    ::close(fd);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(qMin<qint64>(left, 1 << 30)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

// A temporary file beside `fileName` in `folder`, created with `createMode` and locked; the lock
// holds until the descriptor is closed, once the file has its final name (or is gone).
struct Temporary
{
    QByteArray name;
    int fd = -1;

    bool create(const QString &folder, const QString &fileName, mode_t createMode, QString *reason)
    {
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            name = QFile::encodeName(folder + QLatin1Char('/') + temporaryPrefix(fileName) + randomSuffix());
            fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
            if (fd < 0 && errno != EEXIST) {
                *reason = errnoText(errno);
                return false;
            }
            if (fd < 0)
                continue;
            // Another writer's clean-up may have taken the file between its creation and the lock.
            struct stat mine = {};
            if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &mine) != 0 || mine.st_nlink == 0) {
                ::close(fd);
                fd = -1;
            }
        }
        if (fd < 0)
            *reason = QStringLiteral("no temporary file could be created");
        return fd >= 0;
    }
    // With a mode (null: the one it was created with), the content, on disk.
    bool fill(const QByteArray &bytes, const mode_t *mode, QString *reason)
    {
        if ((!mode || ::fchmod(fd, *mode) == 0) && writeAll(fd, bytes) && ::fsync(fd) == 0)
            return true;
        return fail(errno, reason);
    }
    bool fail(int error, QString *reason)
    {
        *reason = errnoText(error);
        ::unlink(name.constData());
        ::close(fd);
        return false;
    }
};

bool writeReplacing(const QString &target, const QString &folder, const QString &fileName, const QByteArray &bytes,
                    const Mode &mode, QString *reason)
{
    const QByteArray targetName = QFile::encodeName(target);
    struct stat existing = {};
    const bool exists = ::stat(targetName.constData(), &existing) == 0;
    if (exists && ::access(targetName.constData(), W_OK) != 0) {
        *reason = QStringLiteral("the file is read-only");
        return false;
    }
    // Never readable by more people than the file it replaces or the mode asked for, not even for
    // a moment: created owner-only, then given its final mode while nobody knows its name. A new
    // file without a given mode gets the usual one (the umask's).
    const bool chmod = mode.given || exists;
    const mode_t finalMode = mode.given ? unixMode(mode.permissions) : existing.st_mode & 07777;
    const mode_t createMode = !chmod ? 0666 : finalMode & (exists ? existing.st_mode & 0600 : 0600);
    Temporary temporary;
    if (!temporary.create(folder, fileName, createMode, reason))
        return false;
    // Root editing a user's file must not make it root's.
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()))
        (void)!::fchown(temporary.fd, existing.st_uid, existing.st_gid);
    if (!temporary.fill(bytes, chmod ? &finalMode : nullptr, reason))
        return false;
    if (::rename(temporary.name.constData(), targetName.constData()) != 0)
        return temporary.fail(errno, reason);
    ::close(temporary.fd); // releases the lock only once the file has its final name
    return true;
}

// Gives the temporary file the name `target` unless something has it already.
int placeWithoutReplacing(const QByteArray &temporary, const QByteArray &target)
{
#if defined(Q_OS_LINUX) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    // Not every file system knows the flag; a hard link does the same in two steps.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
#endif
    if (::link(temporary.constData(), target.constData()) != 0)
        return errno;
    ::unlink(temporary.constData());
    return 0;
}

bool writeNew(const QString &target, const QString &folder, const QString &fileName, const QByteArray &bytes,
              const Mode &mode, bool *taken, QString *reason)
{
    Temporary temporary;
    const mode_t finalMode = unixMode(mode.permissions);
    if (!temporary.create(folder, fileName, finalMode & 0600, reason) || !temporary.fill(bytes, &finalMode, reason))
        return false;
    const int error = placeWithoutReplacing(temporary.name, QFile::encodeName(target));
    if (error != 0) {
        *taken = error == EEXIST;
        return temporary.fail(error, reason);
    }
    ::close(temporary.fd);
    return true;
}

ReadStatus readFile(const QString &path, QByteArray *bytes, QString *reason)
{
    const QByteArray name = QFile::encodeName(path);
    // Looked at before it is opened: opening a FIFO waits for a writer, opening a device may do
    // something.
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return ReadStatus::Missing;
        *reason = errnoText(errno);
        return ReadStatus::Unreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        *reason = kindOf(info.st_mode);
        return ReadStatus::Unreadable;
    }
    if (info.st_size > MaxReadBytes) {
        *reason = tooLarge(info.st_size);
        return ReadStatus::Unreadable;
    }
    // Non-blocking, and looked at again once open: it may have been swapped for a FIFO meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return ReadStatus::Missing;
        *reason = errnoText(error);
        return ReadStatus::Unreadable;
    }
    const auto refuse = [&](const QString &why) {
        *reason = why;
        bytes->clear();
        ::close(fd);
        return ReadStatus::Unreadable;
    };
    if (::fstat(fd, &info) != 0)
        return refuse(errnoText(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(kindOf(info.st_mode));
    // The size only guides the buffer: the file may grow while it is read.
    bytes->resize(qMin<qint64>(info.st_size, MaxReadBytes) + 1);
    qint64 done = 0;
    for (;;) {
        if (done == bytes->size()) {
            if (done > MaxReadBytes)
                return refuse(tooLarge(done));
            bytes->resize(qMin<qint64>(done * 2, MaxReadBytes + 1));
        }
        const ssize_t got = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return refuse(errnoText(errno));
        if (got == 0)
            break;
        done += got;
    }
    ::close(fd);
    bytes->resize(done);
    return ReadStatus::Ok;
}

#endif

void removeLeftoversMatching(const QString &folder, const QString &prefix, const QString &middle)
{
    const QRegularExpression exact(QLatin1Char('^') + QRegularExpression::escape(prefix) + middle +
                                   QRegularExpression::escape(s_temporaryInfix) +
                                   QStringLiteral("[A-Za-z0-9]{%1}$").arg(s_randomLength));
    const QStringList names = QDir(folder).entryList({prefix + QLatin1Char('*')},
                                                     QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (exact.match(name).hasMatch())
            removeLeftover(folder + QLatin1Char('/') + name);
    }
}

// The folder and file name a write of `path` goes to: a link is followed, so that a linked file (a
// dotfiles checkout, say) is replaced where it lives and the link stays.
QFileInfo resolvedTarget(const QString &path)
{
    const QFileInfo link(path);
    return QFileInfo(link.isSymLink() ? link.symLinkTarget() : link.absoluteFilePath());
}

bool replace(const QString &path, const QByteArray &bytes, const Mode &mode, QString *error)
{
    const QFileInfo info = resolvedTarget(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Cannot create folder %1").arg(folder);
        return false;
    }
    removeLeftoversMatching(folder, QLatin1Char('.') + info.fileName(), QString());
    QString reason;
    if (!writeReplacing(info.absoluteFilePath(), folder, info.fileName(), bytes, mode, &reason)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, reason);
        return false;
    }
    return true;
}

} // namespace

ReadStatus readBytes(const QString &path, QByteArray *bytes, QString *error)
{
    bytes->clear();
    QString reason;
    const ReadStatus status = readFile(path, bytes, &reason);
    if (error)
        *error = reason;
    return status;
}

namespace {

// Where strict JSON went wrong, in terms a person can act on in an editor: a line and column, and
// the usual cause (a comment or a trailing comma, which Qt reports as "unterminated object" or
// the like a few characters later) where there is one before the point Qt stopped at.
QString parseErrorText(const QByteArray &bytes, const QJsonParseError &error)
{
    const qsizetype stop = std::min<qsizetype>(bytes.size(), error.offset + 1);
    qsizetype at = error.offset;
    QString what = error.errorString();
    bool inString = false;
    for (qsizetype i = 0; i < stop; ++i) {
        const char c = bytes.at(i);
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '/' && i + 1 < bytes.size() && (bytes.at(i + 1) == '/' || bytes.at(i + 1) == '*')) {
            at = i;
            what = QStringLiteral("a comment, which JSON does not allow,");
            break;
        } else if (c == ',') {
            qsizetype next = i + 1;
            while (next < bytes.size() && QByteArrayView(" \t\r\n").contains(bytes.at(next)))
                ++next;
            if (next < bytes.size() && (bytes.at(next) == '}' || bytes.at(next) == ']')) {
                at = i;
                what = QStringLiteral("a comma after the last item, which JSON does not allow,");
                break;
            }
        }
    }
    if (at == error.offset && bytes.mid(at).trimmed().isEmpty())
        what = QStringLiteral("unexpected end of the text");
    const QByteArray before = bytes.left(at);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    qsizetype column = 1;
    for (qsizetype i = lineStart; i < before.size(); ++i)
        column += (uchar(before.at(i)) & 0xC0) != 0x80; // characters, not UTF-8 bytes
    return QStringLiteral("%1 at line %2, column %3").arg(what).arg(before.count('\n') + 1).arg(column);
}

} // namespace

ReadResult read(const QString &path)
{
    ReadResult result;
    result.status = readBytes(path, &result.bytes, &result.errorDetail);
    if (result.status != ReadStatus::Ok)
        return result;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(result.bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.status = ReadStatus::NotObject;
        result.errorDetail = parseErrorText(result.bytes, parseError);
        return result;
    }
    if (!doc.isObject()) {
        result.status = ReadStatus::NotObject;
        result.errorDetail = QStringLiteral("the top level is not a JSON object");
        return result;
    }
    result.object = doc.object();
    return result;
}

bool write(const QString &path, const QJsonObject &object, QString *error)
{
    return writeBytes(path, QJsonDocument(object).toJson(QJsonDocument::Indented), error);
}

bool writeBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    return replace(path, bytes, Mode{}, error);
}

bool writeBytesWithMode(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                        QString *error)
{
    return replace(path, bytes, Mode{true, permissions}, error);
}

bool createNew(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions, bool *taken,
               QString *error)
{
    *taken = false;
    const QFileInfo info(path);
    QString reason;
    if (!writeNew(info.absoluteFilePath(), info.absolutePath(), info.fileName(), bytes, Mode{true, permissions}, taken,
                  &reason)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, reason);
        return false;
    }
    return true;
}

void removeLeftoversOf(const QString &path)
{
    const QFileInfo info = resolvedTarget(path);
    removeLeftoversMatching(info.absolutePath(), QLatin1Char('.') + info.fileName(), QString());
}

void removeLeftovers(const QString &folder)
{
    removeLeftoversMatching(folder, QStringLiteral("."), QStringLiteral(".+"));
}

} // namespace JsonFile
