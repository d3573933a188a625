#pragma once

#include <QString>

// How the running copy came onto this machine, which decides what an update can offer: the
// Windows installer, our Debian package, or only the release page for everything else.
class Installation
{
public:
    enum class Kind {
        WindowsInstaller, // Windows: our installer is the only way we ship there
        DebianPackage,    // dpkg's file list of our package holds the running executable
        OtherPackage,     // a system location no package of ours installed (another distribution's, a bundle)
        SourceBuild,      // a build folder, or a "make install" into /usr/local or a home folder
    };

    // Where dpkg keeps the file lists of installed packages.
    [[nodiscard]] static QString dpkgInfoDir() { return QStringLiteral("/var/lib/dpkg/info"); }

    // "windows", "linux" or "macos"; another system's own name otherwise.
    [[nodiscard]] static QString platform();
    // The Debian architecture this binary was built for ("amd64", "arm64", ...).
    [[nodiscard]] static QString debianArchitecture();

    // Whether our package's file list in dpkgInfoDir names the executable. Every link to it counts
    // (/bin is /usr/bin on a merged system), and a missing or unreadable database means "no".
    [[nodiscard]] static bool listedByDpkg(const QString &executable, const QString &infoDir = dpkgInfoDir());

    [[nodiscard]] static Kind kind(const QString &platform, const QString &executable, bool fromDebianPackage);
};
