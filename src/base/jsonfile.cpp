#include "base/jsonfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRandomGenerator>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
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

#ifdef Q_OS_WIN

QString lastErrorText()
{
    return qt_error_string(int(GetLastError()));
}

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

// A write in progress holds its temporary file open without sharing, so deleting it fails: only
// files whose writer is gone are removed.
void removeLeftover(const QString &path)
{
    DeleteFileW(native(QDir::toNativeSeparators(path)));
}

bool writeReplacing(const QString &target, const QString &folder, const QString &fileName, const QByteArray &bytes,
                    QString *reason)
{
    const QFileInfo existing(target);
    if (existing.exists() && !existing.isWritable()) {
        *reason = QStringLiteral("the file is read-only");
        return false;
    }
    QString temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = QDir::toNativeSeparators(folder + QLatin1Char('/') + temporaryPrefix(fileName) + randomSuffix());
        handle = CreateFileW(native(temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
            DeleteFileW(native(temporary));
            return false;
        }
        done += written;
    }
    const bool flushed = FlushFileBuffers(handle);
    if (!flushed)
        *reason = lastErrorText();
    CloseHandle(handle);
    // The hidden attribute marked a temporary file; the result is the user's visible file again.
    SetFileAttributesW(native(temporary), FILE_ATTRIBUTE_NORMAL);
    if (!flushed || !MoveFileExW(native(temporary), native(QDir::toNativeSeparators(target)),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (flushed)
            *reason = lastErrorText();
        DeleteFileW(native(temporary));
        return false;
    }
    return true;
}

#else

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A write in progress holds a lock on its temporary file (also against other threads of this
// process: flock locks belong to the open file), so only files whose writer is gone are removed.
void removeLeftover(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
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

bool writeReplacing(const QString &target, const QString &folder, const QString &fileName, const QByteArray &bytes,
                    QString *reason)
{
    const QByteArray targetName = QFile::encodeName(target);
    struct stat existing = {};
    const bool exists = ::stat(targetName.constData(), &existing) == 0;
    if (exists && ::access(targetName.constData(), W_OK) != 0) {
        *reason = QStringLiteral("the file is read-only");
        return false;
    }
    // Never readable by more people than the file it replaces, not even for a moment: created
    // owner-only, then given the old file's exact mode.
    const mode_t createMode = exists ? (existing.st_mode & 0600) : 0666;

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = QFile::encodeName(folder + QLatin1Char('/') + temporaryPrefix(fileName) + randomSuffix());
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
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
    if (fd < 0) {
        *reason = QStringLiteral("no temporary file could be created");
        return false;
    }
    const auto fail = [&](int error) {
        *reason = errnoText(error);
        ::unlink(temporary.constData());
        ::close(fd);
        return false;
    };
    if (exists) {
        if (::fchmod(fd, existing.st_mode & 07777) != 0)
            return fail(errno);
        // Root editing a user's file must not make it root's.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
            (void)!::fchown(fd, existing.st_uid, existing.st_gid);
    }
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        return fail(errno);
    if (::rename(temporary.constData(), targetName.constData()) != 0)
        return fail(errno);
    ::close(fd); // releases the lock only once the file has its final name
    return true;
}

#endif

void removeLeftovers(const QString &folder, const QString &fileName)
{
    const QString prefix = temporaryPrefix(fileName);
    const QRegularExpression exact(QLatin1Char('^') + QRegularExpression::escape(prefix) +
                                   QStringLiteral("[A-Za-z0-9]{%1}$").arg(s_randomLength));
    const QStringList names = QDir(folder).entryList({prefix + QLatin1Char('*')},
                                                     QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (exact.match(name).hasMatch())
            removeLeftover(folder + QLatin1Char('/') + name);
    }
}

} // namespace

ReadResult read(const QString &path)
{
    ReadResult result;
    QFile file(path);
    if (!file.exists()) {
        result.status = ReadStatus::Missing;
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = ReadStatus::Unreadable;
        result.errorDetail = file.errorString();
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.status = ReadStatus::Unreadable;
        result.errorDetail = file.errorString();
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.status = ReadStatus::NotObject;
        result.errorDetail = parseError.errorString();
        return result;
    }
    if (!doc.isObject()) {
        result.status = ReadStatus::NotObject;
        result.errorDetail = QStringLiteral("the top level is not a JSON object");
        return result;
    }
    result.status = ReadStatus::Ok;
    result.object = doc.object();
    return result;
}

bool write(const QString &path, const QJsonObject &object, QString *error)
{
    return writeBytes(path, QJsonDocument(object).toJson(QJsonDocument::Indented), error);
}

bool writeBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    // A linked file (a dotfiles checkout, say) is replaced where it lives; the link stays.
    const QFileInfo link(path);
    const QFileInfo info(link.isSymLink() ? link.symLinkTarget() : link.absoluteFilePath());
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Cannot create folder %1").arg(folder);
        return false;
    }
    removeLeftovers(folder, info.fileName());
    QString reason;
    if (!writeReplacing(info.absoluteFilePath(), folder, info.fileName(), bytes, &reason)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, reason);
        return false;
    }
    return true;
}

} // namespace JsonFile
