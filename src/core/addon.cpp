#include "core/addon.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTextStream>
#include <QVersionNumber>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cstdio>
#include <fcntl.h>
#endif

namespace {

const QLatin1String s_bundledFolder("/bundled_addon");
const QLatin1String s_addonFolder("/tavrin_mcp");
const QLatin1String s_pluginCfg("/plugin.cfg");
const QLatin1String s_projectMarker("/project.godot");
const QLatin1String s_targetFolder("/addons/tavrin_mcp");
// Our working folders beside the addon: dot-names, which the Godot editor does not scan.
const QLatin1String s_stagingFolder("/addons/.tavrin_mcp.staging");   // the new copy being put together
const QLatin1String s_oldFolder("/addons/.tavrin_mcp.old");           // the replaced copy, between two renames
const QLatin1String s_removingFolder("/addons/.tavrin_mcp.removing"); // an uninstall in progress

// Installs and uninstalls in this process, one at a time; finishInterrupted() only tidies up when
// none runs, so it never takes a staging folder from under an install.
QMutex s_operation;

// Moves an entry to a name that must be free; false with the system's reason otherwise.
bool renameEntry(const QString &from, const QString &to, QString *error)
{
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                    reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()), 0))
        return true;
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
#endif
    *error = qt_error_string();
    return false;
}

// Swaps two entries in one step, where the system offers that: the addon folder is then never
// absent, not even between two renames.
bool exchangeEntries(const QString &first, const QString &second)
{
#if defined(Q_OS_LINUX) && defined(RENAME_EXCHANGE)
    return ::renameat2(AT_FDCWD, QFile::encodeName(first).constData(), AT_FDCWD, QFile::encodeName(second).constData(),
                       RENAME_EXCHANGE) == 0;
#else
    Q_UNUSED(first)
    Q_UNUSED(second)
    return false;
#endif
}

#ifdef Q_OS_WIN
// A folder cannot be renamed while a program holds a file in it open without delete sharing (the
// editor with a loaded library, say). Opening each file for deletion finds the one in the way.
QString lockedFileIn(const QString &folder)
{
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_SHARING_VIOLATION)
                return path;
            continue;
        }
        CloseHandle(handle);
    }
    return {};
}
#endif

// Why the installed addon could not be moved aside; names the file that is in use where it can.
QString moveFailure(const QString &target, const QString &error)
{
#ifdef Q_OS_WIN
    const QString locked = lockedFileIn(target);
    if (!locked.isEmpty())
        return QStringLiteral("%1 is in use by another program (the Godot editor?). Close it and try again; the "
                              "installed addon was left unchanged.")
            .arg(QDir::toNativeSeparators(locked));
#endif
    return QStringLiteral("Cannot replace addon directory %1: %2. The installed addon was left unchanged.")
        .arg(target, error);
}

bool copyFile(const QFileInfo &source, const QString &target, QString *error)
{
    QFile in(source.absoluteFilePath());
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = out.errorString();
        return false;
    }
    // Chunked rather than readAll: an addon may carry large assets.
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(buffer.data(), buffer.size());
        if (got < 0) {
            *error = in.errorString();
            return false;
        }
        if (got == 0)
            break;
        if (out.write(buffer.constData(), got) != got) {
            *error = out.errorString();
            return false;
        }
    }
    out.close();
    // Same mode bits as the source, as a plain file copy would give.
    if (out.error() != QFileDevice::NoError || !out.setPermissions(source.permissions())) {
        *error = out.errorString();
        return false;
    }
    return true;
}

bool exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Undoes a swap cut between its two renames and removes our working folders; true when there was
// anything to do. The caller holds s_operation.
bool tidyUp(const QString &projectPath)
{
    const QString target = projectPath + s_targetFolder, old = projectPath + s_oldFolder;
    bool found = false;
    QString ignored;
    if (!exists(target) && exists(old)) {
        found = true;
        (void)renameEntry(old, target, &ignored);
    }
    for (const QLatin1String folder : {s_stagingFolder, s_oldFolder, s_removingFolder}) {
        if (exists(projectPath + folder)) {
            found = true;
            Addon::removeDir(projectPath + folder);
        }
    }
    return found;
}

} // namespace

Addon::Addon(QObject *parent) : QObject(parent) {}

bool Addon::install(const QString &projectPath)
{
    return installFrom(bundledAddonDir(), projectPath);
}

bool Addon::installFrom(const QString &sourceDir, const QString &projectPath)
{
    m_lastError.clear();
    if (!QFileInfo::exists(projectPath + s_projectMarker)) {
        m_lastError = QLatin1String("Godot project not found: ") + projectPath;
        return false;
    }
    const QMutexLocker lock(&s_operation);
    return replaceAddon(sourceDir, projectPath);
}

bool Addon::replaceAddon(const QString &sourceDir, const QString &projectPath)
{
    if (!QFileInfo(sourceDir).isDir()) {
        m_lastError = QLatin1String("Bundled addon directory not found: ") + sourceDir;
        return false;
    }
    tidyUp(projectPath);
    const QString target = projectPath + s_targetFolder, staging = projectPath + s_stagingFolder;
    if (!copyDir(sourceDir, staging) || (QFileInfo(target).isDir() && !carryOver(target, staging))) {
        // The messages name the files where the user will look for them.
        m_lastError.replace(staging, target);
        removeDir(staging);
        return false;
    }
    return swapIn(projectPath);
}

// Copies what only the installed copy has (the user's own files, Godot's .uid and .import files,
// hidden ones included) into the new copy, which wins wherever both have an entry.
bool Addon::carryOver(const QString &installedDir, const QString &stagingDir)
{
    const QFileInfoList entries =
        QDir(installedDir)
            .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        const QString target = stagingDir + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() && !entry.isSymLink()) {
            const QFileInfo present(target);
            if (exists(target) && (!present.isDir() || present.isSymLink()))
                continue;
            if (!exists(target) && !QDir().mkpath(target)) {
                m_lastError = QLatin1String("Cannot create addon directory: ") + target;
                return false;
            }
            if (!carryOver(entry.absoluteFilePath(), target))
                return false;
            continue;
        }
        if (exists(target))
            continue;
        QString error;
        const bool copied =
            entry.isSymLink() ? QFile::link(entry.symLinkTarget(), target) : copyFile(entry, target, &error);
        if (!copied) {
            m_lastError = QLatin1String("Cannot copy addon file to ") + target + QLatin1String(": ") + error;
            return false;
        }
    }
    return true;
}

bool Addon::swapIn(const QString &projectPath)
{
    const QString stagingDir = projectPath + s_stagingFolder, target = projectPath + s_targetFolder,
                  old = projectPath + s_oldFolder;
    QString error;
    if (!exists(target)) {
        if (renameEntry(stagingDir, target, &error))
            return true;
        m_lastError = QLatin1String("Cannot create addon directory: ") + target + QLatin1String(": ") + error;
        removeDir(stagingDir);
        return false;
    }
    // In one step where the system can; after it the staging name holds the old copy.
    if (exchangeEntries(stagingDir, target)) {
        removeDir(stagingDir);
        return true;
    }
    // Otherwise two renames; an interruption between them is undone by finishInterrupted().
    if (!renameEntry(target, old, &error)) {
        m_lastError = moveFailure(target, error);
        removeDir(stagingDir);
        return false;
    }
    if (!renameEntry(stagingDir, target, &error)) {
        QString ignored;
        (void)renameEntry(old, target, &ignored);
        m_lastError = moveFailure(target, error);
        removeDir(stagingDir);
        return false;
    }
    removeDir(old);
    return true;
}

bool Addon::uninstall(const QString &projectPath)
{
    m_lastError.clear();
    if (projectPath.isEmpty() || !QFileInfo::exists(projectPath + s_projectMarker)) {
        m_lastError = QLatin1String("Godot project not found: ") + projectPath;
        return false;
    }
    const QString target = projectPath + s_targetFolder, removing = projectPath + s_removingFolder;
    bool result = true;
    {
        const QMutexLocker lock(&s_operation);
        tidyUp(projectPath);
        // Out of the editor's sight in one step, then deleted: never half an addon in its place.
        const QFileInfo info(target);
        QString error;
        if (info.isSymLink() || info.isJunction() || !exists(target)) {
            result = removeDir(target);
        } else if (!renameEntry(target, removing, &error)) {
            m_lastError = moveFailure(target, error);
            return false;
        } else {
            result = removeDir(removing);
        }
    }
    if (!result)
        m_lastError = QLatin1String("Cannot remove addon directory: ") + target;
    return result;
}

bool Addon::finishInterrupted(const QString &projectPath)
{
    if (projectPath.isEmpty() || !s_operation.tryLock())
        return false;
    const bool found = tidyUp(projectPath);
    s_operation.unlock();
    return found;
}

AddonStatus Addon::status(const QString &projectPath) const
{
    AddonStatus status;
    status.bundledVersion = bundledVersion();
    const QString target = projectPath + s_targetFolder;
    if (QFileInfo(target).isDir()) {
        status.installed = true;
        status.installedVersion = readVersionFromCfg(target);
        if (!status.installedVersion.isEmpty() && !status.bundledVersion.isEmpty()) {
            const int order = compareVersions(status.installedVersion, status.bundledVersion);
            status.updateAvailable = order < 0;
            status.newerInstalled = order > 0;
        }
    }
    return status;
}

QString Addon::bundledVersion() const
{
    return readVersionFromCfg(bundledAddonDir());
}

QString Addon::bundledAddonDir()
{
    // Beside the executable first (a build folder, a Windows install), then the data folder of the
    // prefix the executable is installed in (/usr/bin -> /usr/share), then the standard data folders.
    const QString appDir = QCoreApplication::applicationDirPath();
    QStringList roots{appDir + s_bundledFolder,
                      QDir::cleanPath(appDir + QLatin1String("/../share/tavrin/bundled_addon"))};
    roots += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("tavrin/bundled_addon"),
                                       QStandardPaths::LocateDirectory);
    // A root holds the addon's files directly (it has plugin.cfg) or in its tavrin_mcp sub-folder.
    for (const QString &root : std::as_const(roots)) {
        if (QFileInfo::exists(root + s_pluginCfg))
            return root;
        if (QFileInfo(root + s_addonFolder).isDir())
            return root + s_addonFolder;
    }
    // Nothing shipped: the first place searched, which the copy's error message then names.
    return roots.constFirst() + s_addonFolder;
}

QString Addon::readVersionFromCfg(const QString &dirPath)
{
    QFile file(dirPath + s_pluginCfg);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream stream(&file);
    QString line;
    while (stream.readLineInto(&line)) {
        line = line.trimmed();
        if (!line.startsWith(QLatin1String("version=")) && !line.startsWith(QLatin1String("version =")))
            continue;
        QString value = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

int Addon::compareVersions(const QString &installed, const QString &shipped)
{
    const auto parse = [](QString text, bool *ok) {
        if (text.startsWith(QLatin1Char('v')))
            text.remove(0, 1);
        qsizetype suffix = 0;
        const QVersionNumber number = QVersionNumber::fromString(text, &suffix);
        *ok = !number.isNull() && suffix == text.size();
        return number.normalized();
    };
    bool installedOk = false;
    bool shippedOk = false;
    const QVersionNumber a = parse(installed, &installedOk);
    const QVersionNumber b = parse(shipped, &shippedOk);
    if (installedOk && shippedOk)
        return QVersionNumber::compare(a, b);
    return installed == shipped ? 0 : -1;
}

bool Addon::copyDir(const QString &sourceDir, const QString &targetDir)
{
    const QDir source(sourceDir);
    if (!source.exists()) {
        m_lastError = QLatin1String("Bundled addon directory not found: ") + sourceDir;
        return false;
    }
    if (!QDir().mkpath(targetDir)) {
        m_lastError = QLatin1String("Cannot create addon directory: ") + targetDir;
        return false;
    }

    const QFileInfoList files = source.entryInfoList(QDir::Files, QDir::Unsorted);
    for (const QFileInfo &entry : files) {
        const QString targetFile = targetDir + QLatin1Char('/') + entry.fileName();
        QString error;
        if (!copyFile(entry, targetFile, &error)) {
            m_lastError = QLatin1String("Cannot copy addon file to ") + targetFile + QLatin1String(": ") + error;
            return false;
        }
    }

    const QFileInfoList folders = source.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : folders) {
        if (!copyDir(entry.absoluteFilePath(), targetDir + QLatin1Char('/') + entry.fileName()))
            return false;
    }
    return true;
}

bool Addon::removeDir(const QString &path)
{
    // A linked addon folder (a developer's checkout, say) goes as a link: deleting "everything
    // below it" would empty the folder it points to.
    const QFileInfo info(path);
    if (info.isSymbolicLink() || info.isJunction())
        return QFile::remove(path) || QDir().rmdir(path);
    return QDir(path).removeRecursively();
}
