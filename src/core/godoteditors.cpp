#include "core/godoteditors.h"

#include "base/toolprocess.h"
#include "base/userfolders.h"
#include "core/godotconfigedit.h"
#include "core/godotproject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#elif defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#endif
#ifdef Q_OS_MACOS
#include <libproc.h>
#endif

namespace {

const QLatin1String s_flatpakApp("org.godotengine.Godot");
constexpr qint64 s_maxProjectList = 16 * 1024 * 1024;

// Godot's executables: godot, godot4, Godot_v4.3-stable_linux.x86_64, Godot (macOS), godot-bin
// (inside the Flatpak), godot.linuxbsd.editor.x86_64 (built from source).
bool namesGodot(QStringView path)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(slash + 1).startsWith(QLatin1String("godot"), Qt::CaseInsensitive);
}

#ifdef Q_OS_LINUX
// A small /proc file, whole, into *bytes (whose memory is reused); false when the process is gone
// or not ours to look into.
bool readProc(const char *path, QByteArray *bytes)
{
    constexpr qsizetype chunk = 4096;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    qsizetype size = 0;
    for (;;) {
        if (bytes->size() < size + chunk)
            bytes->resize(size + chunk);
        const ssize_t got = ::read(fd, bytes->data() + size, chunk);
        if (got <= 0)
            break;
        size += got;
        if (got < chunk) // /proc fills a read unless the file ends
            break;
    }
    ::close(fd);
    bytes->resize(size);
    return size > 0;
}

QString readLink(const char *path)
{
    char buffer[4096];
    const ssize_t got = ::readlink(path, buffer, sizeof buffer);
    return got > 0 ? QFile::decodeName(QByteArray(buffer, got)) : QString();
}

// The project folder a Godot process's arguments name when it runs the editor; empty otherwise.
QString editorProject(const char *pid, const QByteArray &cmdline)
{
    // Most processes are not Godot editors: a look for the arguments that make one comes first.
    const QByteArrayView all(cmdline);
    if (!all.contains(QByteArrayView("\0-e\0", 4)) && !all.contains(QByteArrayView("\0--editor\0", 10)) &&
        !all.contains(QByteArrayView("project.godot\0", 14)))
        return {};
    char link[64];
    QList<QByteArrayView> args;
    for (qsizetype begin = 0; begin < cmdline.size();) {
        qsizetype end = cmdline.indexOf('\0', begin);
        if (end < 0)
            end = cmdline.size();
        args.append(QByteArrayView(cmdline.constData() + begin, end - begin));
        begin = end + 1;
    }
    bool editor = false;
    QByteArrayView path;
    QByteArrayView projectFile;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QByteArrayView arg = args.at(i);
        if (arg == "--" || arg == "++") // the game's own arguments follow
            break;
        if (arg == "--editor-pid") // a game started from the editor
            return {};
        if (arg == "-e" || arg == "--editor")
            editor = true;
        else if (arg == "--path" && i + 1 < args.size())
            path = args.at(++i);
        else if (arg.endsWith("project.godot"))
            projectFile = arg;
    }
    // Godot opens the editor for a project.godot it is given.
    if (args.isEmpty() || (!editor && projectFile.isEmpty()))
        return {};
    std::snprintf(link, sizeof link, "/proc/%s/exe", pid);
    if (!namesGodot(QFile::decodeName(args.first().toByteArray())) && !namesGodot(readLink(link)))
        return {};
    QString dir = QStringLiteral(".");
    if (!path.isEmpty()) {
        dir = QFile::decodeName(path.toByteArray());
    } else if (!projectFile.isEmpty()) {
        const QString file = QFile::decodeName(projectFile.toByteArray());
        const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
        dir = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : file.left(slash);
    }
    if (QDir::isRelativePath(dir)) {
        std::snprintf(link, sizeof link, "/proc/%s/cwd", pid);
        const QString cwd = readLink(link);
        if (cwd.isEmpty())
            return {};
        dir = cwd + QLatin1Char('/') + dir;
    }
    return QDir::cleanPath(dir);
}

QList<qint64> editorsFromProc(const QString &folder)
{
    QList<qint64> pids;
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return pids;
    QByteArray cmdline;
    char path[sizeof(dirent::d_name) + 16]; // room for any name, so that no compiler sees a cut
    while (const dirent *entry = ::readdir(proc)) {
        const char *name = entry->d_name;
        if (*name < '1' || *name > '9' || std::strspn(name, "0123456789") != std::strlen(name) ||
            std::strlen(name) > 20)
            continue;
        std::snprintf(path, sizeof path, "/proc/%s/cmdline", name);
        if (!readProc(path, &cmdline))
            continue;
        const QString dir = editorProject(name, cmdline);
        if (!dir.isEmpty() &&
            (dir == clean || (!canonical.isEmpty() && QFileInfo(dir).canonicalFilePath() == canonical)))
            pids << QByteArray(name).toLongLong();
    }
    ::closedir(proc);
    return pids;
}
#endif

struct Candidate
{
    QString program;
    QStringList arguments;
};

// A downloaded editor: an executable (on Windows the editor's .exe, not its console twin).
bool launchable(const QFileInfo &file)
{
#ifdef Q_OS_WIN
    return file.isFile() && file.suffix().compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0 &&
           !file.completeBaseName().contains(QLatin1String("console"), Qt::CaseInsensitive);
#else
    return file.isFile() && file.isExecutable() && file.suffix() != QLatin1String("zip");
#endif
}

void addDownloads(const QString &folder, QList<Candidate> *list)
{
    const QStringList pattern{QStringLiteral("Godot_v4*")};
    for (const QFileInfo &entry :
         QDir(folder).entryInfoList(pattern, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (launchable(entry)) {
            list->append({entry.absoluteFilePath(), {}});
        } else if (entry.isDir()) {
            // An unpacked archive: the editor sits in a folder of its own name.
            for (const QFileInfo &inner :
                 QDir(entry.absoluteFilePath()).entryInfoList(pattern, QDir::Files, QDir::Name)) {
                if (launchable(inner))
                    list->append({inner.absoluteFilePath(), {}});
            }
        }
    }
}

#ifdef Q_OS_WIN
// Executables named godot* in a folder of links or shims (winget, Scoop).
void addShims(const QString &folder, QList<Candidate> *list)
{
    for (const QFileInfo &entry : QDir(folder).entryInfoList({QStringLiteral("godot*.exe")}, QDir::Files, QDir::Name)) {
        if (!entry.completeBaseName().contains(QLatin1String("console"), Qt::CaseInsensitive))
            list->append({entry.absoluteFilePath(), {}});
    }
}
#endif

QList<Candidate> candidates()
{
    QList<Candidate> list;
    for (const char *name : {"godot", "godot4", "godot-mono", "godot_console"}) {
        const QString path = QStandardPaths::findExecutable(QLatin1String(name));
        if (!path.isEmpty())
            list.append({path, {}});
    }
    addDownloads(UserFolders::downloads(), &list);
    addDownloads(UserFolders::home() + QLatin1String("/Applications"), &list);

    const QString flatpak = QStandardPaths::findExecutable(QStringLiteral("flatpak"));
    const QString userApps = UserFolders::data() + QLatin1String("/flatpak/app/") + s_flatpakApp;
    if (!flatpak.isEmpty() &&
        (QFileInfo(userApps).isDir() || QFileInfo(QLatin1String("/var/lib/flatpak/app/") + s_flatpakApp).isDir()))
        list.append({flatpak, {QStringLiteral("run"), s_flatpakApp}});

#ifdef Q_OS_WIN
    const QString localAppData = QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA"));
    if (!localAppData.isEmpty())
        addShims(localAppData + QLatin1String("/Microsoft/WinGet/Links"), &list);
    const QString scoop = QDir::fromNativeSeparators(qEnvironmentVariable("SCOOP"));
    addShims((scoop.isEmpty() ? UserFolders::home() + QLatin1String("/scoop") : scoop) + QLatin1String("/shims"),
             &list);
#endif
#ifdef Q_OS_MACOS
    for (const QString &root :
         {QStringLiteral("/Applications"), UserFolders::home() + QLatin1String("/Applications")}) {
        for (const QString &app : QDir(root).entryList({QStringLiteral("Godot*.app")}, QDir::Dirs, QDir::Name)) {
            const QString program = root + QLatin1Char('/') + app + QLatin1String("/Contents/MacOS/Godot");
            if (QFileInfo(program).isExecutable())
                list.append({program, {}});
        }
    }
#endif
    return list;
}

bool isPreview(const GodotVersion &version)
{
    return !version.status.isEmpty() && version.status != QLatin1String("stable");
}

} // namespace

QString GodotVersion::text() const
{
    QString text = QStringLiteral("%1.%2").arg(major).arg(minor);
    if (patch != 0)
        text += QStringLiteral(".%1").arg(patch);
    if (isPreview(*this))
        text += QLatin1Char('-') + status;
    return text;
}

QList<qint64> GodotEditors::editorsFor(const QString &folder)
{
    QList<qint64> pids;
    if (folder.isEmpty())
        return pids;
#ifdef Q_OS_LINUX
    pids = editorsFromProc(folder);
#endif
    const std::optional<GodotSession> session = GodotProject::loadedIn(folder);
    if (session && !pids.contains(session->pid))
        pids << session->pid;
    return pids;
}

bool GodotEditors::isGodotProcess(qint64 pid)
{
    if (pid <= 0)
        return false;
#if defined(Q_OS_LINUX)
    const QByteArray dir = "/proc/" + QByteArray::number(pid);
    // A zombie has ended; only its parent has not yet looked.
    QByteArray stat;
    const qsizetype state = readProc((dir + "/stat").constData(), &stat) ? stat.lastIndexOf(')') + 2 : -1;
    if (state <= 1 || state >= stat.size() || stat.at(state) == 'Z')
        return false;
    QByteArray cmdline;
    (void)readProc((dir + "/cmdline").constData(), &cmdline);
    return namesGodot(readLink((dir + "/exe").constData())) ||
           namesGodot(QFile::decodeName(cmdline.left(cmdline.indexOf('\0'))));
#elif defined(Q_OS_WIN)
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return false;
    DWORD exitCode = 0;
    wchar_t image[MAX_PATH * 4];
    DWORD length = MAX_PATH * 4;
    const bool alive = GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    const bool named = QueryFullProcessImageNameW(process, 0, image, &length) &&
                       namesGodot(QString::fromWCharArray(image, static_cast<qsizetype>(length)));
    CloseHandle(process);
    return alive && named;
#elif defined(Q_OS_MACOS)
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)
        return false;
    char path[PROC_PIDPATHINFO_MAXSIZE];
    return proc_pidpath(static_cast<int>(pid), path, sizeof path) > 0 && namesGodot(QFile::decodeName(path));
#else
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

std::optional<GodotVersion> GodotEditors::parseVersion(const QString &output)
{
    static const QRegularExpression s_number(QStringLiteral("^v?(\\d+)\\.(\\d+)(?:\\.(\\d+))?(?=$|[.\\- (])(.*)$"));
    static const QRegularExpression s_separators(QStringLiteral("[.\\-\\s()]+"));
    static const QRegularExpression s_status(QStringLiteral("^(stable|dev|alpha|beta|rc)\\d*$"));
    static const QRegularExpression s_hash(QStringLiteral("^[0-9a-f]{7,}$"));
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = s_number.match(line.trimmed());
        if (!match.hasMatch())
            continue;
        GodotVersion version;
        version.major = match.captured(1).toInt();
        version.minor = match.captured(2).toInt();
        version.patch = match.captured(3).toInt();
        const QStringList words = match.captured(4).split(s_separators, Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < words.size(); ++i) {
            const QString &word = words.at(i);
            if (i == 0 && s_status.match(word).hasMatch())
                version.status = word;
            else if (word == QLatin1String("mono"))
                version.mono = true;
            else if (version.build.isEmpty() && !s_hash.match(word).hasMatch())
                version.build = word;
        }
        return version;
    }
    return std::nullopt;
}

std::optional<GodotInstall> GodotEditors::probe(const QString &program, const QStringList &arguments)
{
    const ToolResult result =
        ToolProcess::run(program, arguments + QStringList{QStringLiteral("--version")}, ProbeLimitMs, ProbeLimitMs);
    if (!result.finished || result.crashed || result.exitCode != 0)
        return std::nullopt;
    const std::optional<GodotVersion> version = parseVersion(QString::fromLocal8Bit(result.output));
    if (!version)
        return std::nullopt;
    return GodotInstall{program, arguments, *version};
}

QList<GodotInstall> GodotEditors::find()
{
    QList<GodotInstall> found;
    QSet<QString> seen;
    for (const Candidate &candidate : candidates()) {
        // The same copy under two names (godot and godot4 linked to one file) is probed once.
        const QString canonical = QFileInfo(candidate.program).canonicalFilePath();
        const QString key = (canonical.isEmpty() ? candidate.program : canonical) + QLatin1Char('\n') +
                            candidate.arguments.join(QLatin1Char('\n'));
        if (seen.contains(key))
            continue;
        seen.insert(key);
        if (std::optional<GodotInstall> install = probe(candidate.program, candidate.arguments))
            found << *install;
    }
    return found;
}

std::optional<GodotInstall> GodotEditors::best(const QList<GodotInstall> &found)
{
    std::optional<GodotInstall> chosen;
    const auto rank = [](const GodotVersion &v) { return std::make_tuple(v.major, v.minor, v.patch, !isPreview(v)); };
    for (const GodotInstall &install : found) {
        if (!install.version.tooOld() && (!chosen || rank(install.version) > rank(chosen->version)))
            chosen = install;
    }
    return chosen;
}

QString GodotEditors::programOf(const QString &chosenPath)
{
    if (chosenPath.endsWith(QLatin1String(".app")) && QFileInfo(chosenPath).isDir())
        return chosenPath + QLatin1String("/Contents/MacOS/Godot");
    return chosenPath;
}

std::optional<GodotInstall> GodotEditors::inUse(const QString &chosenPath)
{
    if (!chosenPath.isEmpty()) {
        std::optional<GodotInstall> chosen = probe(programOf(chosenPath));
        if (chosen && !chosen->version.tooOld())
            return chosen;
    }
    return best(find());
}

bool GodotEditors::open(const std::optional<GodotInstall> &godot, const QString &folder, QString *error)
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!godot)
        return fail(QStringLiteral("No Godot 4 found: choose it in Settings."));
    if (godot->version.tooOld())
        return fail(QStringLiteral("Godot %1 is too old: Tavrin MCP needs Godot 4. Choose another in Settings.")
                        .arg(godot->version.text()));
    if (!GodotProject::isProject(folder))
        return fail(QLatin1String("Godot project not found: ") + folder);
    QProcess process;
    process.setProgram(godot->program);
    process.setArguments(godot->arguments + QStringList{QStringLiteral("--path"), folder, QStringLiteral("--editor")});
    process.setWorkingDirectory(folder);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached())
        return fail(QStringLiteral("Cannot start %1: %2").arg(godot->program, process.errorString()));
    return true;
}

QStringList GodotEditors::projectListFiles()
{
    const QLatin1String file("/projects.cfg");
#if defined(Q_OS_WIN)
    const QString appData = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    return appData.isEmpty() ? QStringList() : QStringList{appData + QLatin1String("/Godot") + file};
#elif defined(Q_OS_MACOS)
    return {UserFolders::data() + QLatin1String("/Godot") + file};
#else
    return {UserFolders::data() + QLatin1String("/godot") + file,
            UserFolders::home() + QLatin1String("/.var/app/") + s_flatpakApp + QLatin1String("/data/godot") + file};
#endif
}

QList<GodotListedProject> GodotEditors::listedProjects(const QStringList &exclude, int limit)
{
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity paths = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity paths = Qt::CaseSensitive;
#endif
    QStringList skip;
    for (const QString &path : exclude)
        skip << QDir::cleanPath(QDir::fromNativeSeparators(path));

    // Each project once, favourites first, in the order of the files.
    QList<GodotListedProject> favourites;
    QList<GodotListedProject> others;
    for (const QString &file : projectListFiles()) {
        QFile list(file);
        if (list.size() > s_maxProjectList || !list.open(QIODevice::ReadOnly))
            continue;
        const GodotConfigEdit::Parsed parsed = GodotConfigEdit::parse(list.readAll());
        if (!parsed.ok)
            continue;
        for (const QString &section : parsed.sections) {
            const QString path = QDir::cleanPath(QDir::fromNativeSeparators(section));
            if (path.isEmpty() || skip.contains(path, paths))
                continue;
            skip << path;
            const bool favorite = parsed.boolean(section + QLatin1String("/favorite")).value_or(false);
            (favorite ? favourites : others).append({path, QString(), favorite});
        }
    }
    QList<GodotListedProject> result;
    for (GodotListedProject project : favourites + others) {
        if (result.size() >= limit)
            break;
        const GodotProjectInfo info = GodotProject::read(project.path);
        if (!GodotProject::isProject(project.path) || info.configVersion < 5) // Godot 4 or newer
            continue;
        const QString name = info.name.simplified();
        project.name = name.isEmpty() ? QDir(project.path).dirName() : name;
        result << project;
    }
    return result;
}
