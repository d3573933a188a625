#include "base/userfolders.h"

#include <QDir>
#include <QStandardPaths>

namespace {

#ifdef Q_OS_WIN
QString envFolder(const char *name)
{
    return QDir::fromNativeSeparators(qEnvironmentVariable(name));
}
#endif

} // namespace

QString UserFolders::home()
{
#ifdef Q_OS_WIN
    const QString profile = envFolder("USERPROFILE");
    if (!profile.isEmpty())
        return profile;
#endif
    return QDir::homePath();
}

QString UserFolders::data()
{
#ifdef Q_OS_WIN
    const QString local = envFolder("LOCALAPPDATA");
    if (!local.isEmpty())
        return local;
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString UserFolders::config()
{
#ifdef Q_OS_WIN
    return data(); // Qt keeps both in the local application data folder there
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
}

QString UserFolders::downloads()
{
#ifdef Q_OS_WIN
    // The Known Folder may be redirected to another drive; only a profile moved by the environment
    // moves downloads with it.
    if (QDir::cleanPath(home()).compare(QDir::cleanPath(QDir::homePath()), Qt::CaseInsensitive) != 0)
        return home() + QLatin1String("/Downloads");
#endif
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}
