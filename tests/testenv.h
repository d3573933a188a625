#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>

#include <csignal>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Keeps every test away from the real home: HOME, the XDG folders (the profile folders on Windows)
// and PATH point into one temporary folder for the whole process, set before the application object exists.
namespace TestEnv {

inline QTemporaryDir &root()
{
    static QTemporaryDir dir;
    return dir;
}

inline QString home()
{
    return root().path() + QLatin1String("/home");
}
inline QString binDir()
{
    return root().path() + QLatin1String("/bin");
}
inline QString dataHome()
{
    return root().path() + QLatin1String("/data");
}
inline QString configHome()
{
    return root().path() + QLatin1String("/config");
}

inline void isolate(bool gui)
{
    QDir().mkpath(home());
    QDir().mkpath(binDir());
    QDir().mkpath(dataHome());
    QDir().mkpath(configHome());
    QDir().mkpath(root().path() + QLatin1String("/cache"));
    QDir().mkpath(root().path() + QLatin1String("/runtime"));
    QFile::setPermissions(root().path() + QLatin1String("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home().toUtf8());
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    qputenv("XDG_CONFIG_HOME", configHome().toUtf8());
    qputenv("XDG_CACHE_HOME", (root().path() + QLatin1String("/cache")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (root().path() + QLatin1String("/runtime")).toUtf8());
    qputenv("XDG_DOWNLOAD_DIR", (home() + QLatin1String("/Downloads")).toUtf8());
#ifdef Q_OS_WIN
    // Programs the tests start (themselves again, the built application) need Qt's and the
    // compiler's DLLs, and .cmd scripts need cmd.exe: those folders stay on PATH, nothing else.
    QStringList path{QDir::toNativeSeparators(binDir())};
    for (const QString &dir : qEnvironmentVariable("PATH").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QDir folder(dir);
        if (folder.exists("Qt6Core.dll") || folder.exists("libstdc++-6.dll") || folder.exists("libwinpthread-1.dll") ||
            folder.exists("cmd.exe"))
            path << dir;
    }
    qputenv("PATH", path.join(QLatin1Char(';')).toUtf8());
#else
    qputenv("PATH", binDir().toUtf8());
#endif
#ifdef Q_OS_WIN
    // Read by UserFolders before the shell's Known Folders, which no variable redirects.
    qputenv("USERPROFILE", QDir::toNativeSeparators(home()).toUtf8());
    qputenv("APPDATA", QDir::toNativeSeparators(configHome()).toUtf8());
    qputenv("LOCALAPPDATA", QDir::toNativeSeparators(dataHome()).toUtf8());
#endif
    qunsetenv("CLAUDE_CONFIG_DIR");
    qunsetenv("CODEX_HOME");
    // Offscreen, keeping options such as a screen configuration that a test run may pass.
    if (gui && !qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QLatin1String("offscreen")))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Writes an executable shell script onto the temporary PATH. The script sees the system's tool
// folders on its own PATH, so it may call sleep, cat and the like.
inline QString writeTool(const QString &name, const QByteArray &body, const QString &folder = binDir())
{
    QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write("#!/bin/sh\nPATH=/usr/local/bin:/usr/bin:/bin\n");
    file.write(body);
    file.write("\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
    return path;
}

// One row of a data-driven test: its name, then a value for each column in order.
template<typename... T> void row(const char *name, const T &...values)
{
    (QTest::newRow(name) << ... << values);
}

// Removes a tool that writeTool or writeScript wrote.
inline bool removeTool(const QString &name, const QString &folder = binDir())
{
    const QString path = folder + QLatin1Char('/') + name;
#ifdef Q_OS_WIN
    if (QFile::remove(path + QLatin1String(".cmd")))
        return true;
#endif
    return QFile::remove(path);
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

// A script on the test PATH: a .cmd run by cmd.exe on Windows, a shell script elsewhere.
inline QString writeScript(const QString &name, const QByteArray &unixBody, const QByteArray &windowsBody,
                           const QString &folder = binDir())
{
#ifdef Q_OS_WIN
    Q_UNUSED(unixBody)
    const QString path = folder + QLatin1Char('/') + name + QLatin1String(".cmd");
    return writeFile(path, "@echo off\r\n" + windowsBody + "\r\n") ? path : QString();
#else
    Q_UNUSED(windowsBody)
    return writeTool(name, unixBody, folder);
#endif
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// FIFOs, mode bits and symbolic links (QFile::link makes a shortcut file on Windows) are Unix's;
// Windows keeps access in ACLs, which the tests leave alone.
#ifdef Q_OS_UNIX
inline constexpr bool unixFiles = true;
#else
inline constexpr bool unixFiles = false;
#endif

// Whether this Windows program runs under Wine, whose limits some tests allow for.
inline bool underWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// A FIFO (named pipe) at path, its folder made first. Windows has none in the file system: false.
inline bool makeFifo(const QString &path)
{
#ifdef Q_OS_UNIX
    QDir().mkpath(QFileInfo(path).absolutePath());
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
#else
    Q_UNUSED(path)
    return false;
#endif
}

// Every file and folder below `folder` (hidden ones too), by relative path: a file with its bytes,
// a folder as "<dir>", anything else as "<special>". Two snapshots compare equal only when nothing below changed.
inline QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        // A FIFO is never opened: it would wait for a writer.
        entries.insert(QDir(folder).relativeFilePath(path), info.isDir()    ? "<dir>"
                                                            : info.isFile() ? readFile(path)
                                                                            : "<special>");
    }
    return entries;
}

// Whether a process still runs. On Linux a killed process stays a zombie until whoever adopted it
// reaps it, which in a container may take seconds; a zombie counts as gone.
inline bool processAlive(qint64 pid)
{
#if defined(Q_OS_WIN)
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return false;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
#elif defined(Q_OS_LINUX)
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return pid > 0 && !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
#else
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
#endif
}

} // namespace TestEnv

// QTEST_MAIN / QTEST_GUILESS_MAIN with the environment isolated first.
#define TAVRIN_TEST_MAIN(TestObject)                                                                                   \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        TestEnv::isolate(true);                                                                                        \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

#define TAVRIN_TEST_GUILESS_MAIN(TestObject)                                                                           \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        TestEnv::isolate(false);                                                                                       \
        QCoreApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
