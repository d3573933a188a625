#include "logger.h"
#include "mainwindow.h"
#include "singleinstance.h"
#include "theme.h"
#include "version.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(Tavrin::AppName));
    // Before the log is touched: a second start must not rotate the running copy's log. It asks the
    // running copy to show itself and ends.
    SingleInstance instance;
    if (!instance.claim())
        return 0;
    Logger::install();
    qInfo("%s %s starting", Tavrin::DisplayName, Tavrin::Version);
    if (!instance.lastError().isEmpty())
        qWarning("%s", qPrintable(instance.lastError()));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/branding/tavrin.ico")));
    QApplication::setApplicationVersion(QLatin1String(Tavrin::Version));
    QApplication::setOrganizationName(QLatin1String(Tavrin::OrgName));
    app.setStyleSheet(Theme::STYLE_SHEET);

    MainWindow window;
    QObject::connect(&instance, &SingleInstance::activationRequested, &window, [&window] {
        qInfo("Another start asked for the window; showing it");
        window.bringToFront();
    });
    window.show();
    return QApplication::exec();
}
