#include "cli/commandline.h"
#include "cli/console.h"
#include "version.h"

#include <QCoreApplication>

#include <cstdio>

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
    const int code = commandLine.run(QCoreApplication::arguments());
#ifdef Q_OS_WIN
    // A worker of Qt's thread pool can still be leaving Windows when the command is done, and
    // ExitProcess ends it wherever it is: a lock it held then stops a library's detach code, and
    // the command never exits (one run in three of "status" under Wine). Every file is written and
    // the output flushed by now, so the process ends without the libraries' detach code.
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), UINT(code));
#endif
    return code;
}
