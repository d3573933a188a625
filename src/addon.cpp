#include "addon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTextStream>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cstdio>
#endif

namespace {

const QLatin1String s_bundledFolder("/bundled_addon");
const QLatin1String s_addonFolder("/tavrin_mcp");
const QLatin1String s_pluginCfg("/plugin.cfg");
const QLatin1String s_projectMarker("/project.godot");
const QLatin1String s_targetFolder("/addons/tavrin_mcp");

// Moves a finished copy over the file it replaces in one step, so the old file stays until the
// new one is complete. QFile::rename refuses to overwrite, hence the system calls.
bool renameOver(const QString &from, const QString &to, QString *error)
{
#ifdef Q_OS_WIN
    const QString nativeFrom = QDir::toNativeSeparators(from);
    const QString nativeTo = QDir::toNativeSeparators(to);
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(nativeFrom.utf16()),
                    reinterpret_cast<const wchar_t *>(nativeTo.utf16()), MOVEFILE_REPLACE_EXISTING))
        return true;
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
#endif
    *error = qt_error_string();
    return false;
}

// Writes the content of `source` to a new temporary file beside `target`. The caller renames it
// into place; until then (and if it is dropped) `target` is untouched.
bool copyToTemporary(const QFileInfo &source, const QString &target, QTemporaryFile &temporary, QString *error)
{
    QFile in(source.absoluteFilePath());
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    temporary.setFileTemplate(target + QLatin1String(".tmp-XXXXXX"));
    if (!temporary.open()) {
        *error = temporary.errorString();
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
        if (temporary.write(buffer.constData(), got) != got) {
            *error = temporary.errorString();
            return false;
        }
    }
    // Same mode bits as the shipped file, as a plain file copy would give.
    if (!temporary.setPermissions(source.permissions()) || !temporary.flush()) {
        *error = temporary.errorString();
        return false;
    }
    temporary.close();
    if (temporary.error() != QFileDevice::NoError) {
        *error = temporary.errorString();
        return false;
    }
    return true;
}

} // namespace

Addon::Addon(QObject *parent) : QObject(parent) {}

bool Addon::install(const QString &projectPath)
{
    m_lastError.clear();
    if (!QFileInfo::exists(projectPath + s_projectMarker)) {
        m_lastError = QLatin1String("Godot project not found: ") + projectPath;
        emit installFinished(false);
        return false;
    }
    const bool result = copyDir(bundledAddonDir(), projectPath + s_targetFolder);
    emit installFinished(result);
    return result;
}

bool Addon::uninstall(const QString &projectPath)
{
    m_lastError.clear();
    if (projectPath.isEmpty() || !QFileInfo::exists(projectPath + s_projectMarker)) {
        m_lastError = QLatin1String("Godot project not found: ") + projectPath;
        emit uninstallFinished(false);
        return false;
    }
    const QString target = projectPath + s_targetFolder;
    const bool result = removeDir(target);
    if (!result)
        m_lastError = QLatin1String("Cannot remove addon directory: ") + target;
    emit uninstallFinished(result);
    return result;
}

AddonStatus Addon::status(const QString &projectPath) const
{
    AddonStatus status;
    status.bundledVersion = bundledVersion();
    const QString target = projectPath + s_targetFolder;
    if (QFileInfo(target).isDir()) {
        status.installed = true;
        status.installedVersion = readVersionFromCfg(target);
        // Versions are only compared for equality: a newer installed copy is also "different".
        status.updateAvailable = !status.installedVersion.isEmpty() && !status.bundledVersion.isEmpty() &&
                                 status.installedVersion != status.bundledVersion;
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
        QTemporaryFile temporary; // removes itself unless it was renamed into place
        QString error;
        if (!copyToTemporary(entry, targetFile, temporary, &error)) {
            m_lastError = QLatin1String("Cannot copy addon file to ") + targetFile + QLatin1String(": ") + error;
            return false;
        }
        if (!renameOver(temporary.fileName(), targetFile, &error)) {
            m_lastError = QLatin1String("Cannot replace addon file ") + targetFile + QLatin1String(": ") + error;
            return false;
        }
        temporary.setAutoRemove(false);
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
