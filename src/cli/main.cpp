#include "cli/commandline.h"
#include "cli/console.h"
#include "version.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char **argv)
{
#ifdef Q_OS_WIN
    // Paths and messages are UTF-8; the console shows them as such.
    SetConsoleOutputCP(CP_UTF8);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(Tavrin::AppName));
    QCoreApplication::setOrganizationName(QLatin1String(Tavrin::OrgName));
    QCoreApplication::setApplicationVersion(QLatin1String(Tavrin::Version));
    const Console console;
    CommandLine commandLine(console);
    return commandLine.run(QCoreApplication::arguments());
}
