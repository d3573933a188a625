#include "core/installation.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

namespace {

// Our package's list is a few dozen lines; a list this large is not ours to trust.
constexpr qint64 s_maxListSize = 4 * 1024 * 1024;

const QLatin1String s_packageName("tavrin-desktop");

bool startsWithAny(const QString &path, std::initializer_list<QLatin1String> prefixes)
{
    for (const QLatin1String prefix : prefixes) {
        if (path.startsWith(prefix))
            return true;
    }
    return false;
}

} // namespace

QString Installation::platform()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("windows");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("macos");
#elif defined(Q_OS_LINUX)
    return QStringLiteral("linux");
#else
    return QSysInfo::productType();
#endif
}

QString Installation::debianArchitecture()
{
    // Qt's names for the build's processor, as Debian names its ports.
    QString cpu = QSysInfo::buildCpuArchitecture();
    if (cpu == QLatin1String("x86_64"))
        return QStringLiteral("amd64");
    if (cpu == QLatin1String("i386"))
        return QStringLiteral("i386");
    if (cpu == QLatin1String("arm64"))
        return QStringLiteral("arm64");
    if (cpu == QLatin1String("arm"))
        return QStringLiteral("armhf");
    if (cpu == QLatin1String("power64"))
        return QStringLiteral("ppc64el");
    return cpu; // riscv64, s390x, mips64el and loongarch64 carry the same name in both
}

bool Installation::listedByDpkg(const QString &executable, const QString &infoDir)
{
    QFile list(infoDir + QLatin1Char('/') + s_packageName + QLatin1String(".list"));
    // Not a FIFO or a device: a plain file, opened without blocking on anything.
    if (!QFileInfo(list.fileName()).isFile() || list.size() > s_maxListSize || !list.open(QIODevice::ReadOnly))
        return false;
    const QFileInfo running(executable);
    const QString canonical = running.canonicalFilePath();
    const QString name = running.fileName();
    while (!list.atEnd()) {
        const QString line = QString::fromUtf8(list.readLine()).trimmed();
        if (line == executable)
            return true;
        // The list names each file once, as dpkg unpacked it: /bin/x and /usr/bin/x are the same
        // file on a merged /usr, so a listed path of the same name is compared where it leads.
        if (!canonical.isEmpty() && line.endsWith(QLatin1Char('/') + name) &&
            QFileInfo(line).canonicalFilePath() == canonical)
            return true;
    }
    return false;
}

Installation::Kind Installation::kind(const QString &platform, const QString &executable, bool fromDebianPackage)
{
    if (platform == QLatin1String("windows"))
        return Kind::WindowsInstaller;
    if (fromDebianPackage)
        return Kind::DebianPackage;
    // /usr/local is where "make install" puts a copy built by hand; the system's own folders,
    // Flatpak, Snap, the Nix and Guix stores and the application folders of macOS belong to
    // packages (or bundles) that someone else made.
    if (executable.startsWith(QLatin1String("/usr/local/")))
        return Kind::SourceBuild;
    if (startsWithAny(executable,
                      {QLatin1String("/usr/"), QLatin1String("/bin/"), QLatin1String("/opt/"), QLatin1String("/app/"),
                       QLatin1String("/snap/"), QLatin1String("/nix/store/"), QLatin1String("/gnu/store/"),
                       QLatin1String("/Applications/"), QLatin1String("/tmp/.mount_")})) // the last: a mounted AppImage
        return Kind::OtherPackage;
    return Kind::SourceBuild;
}
