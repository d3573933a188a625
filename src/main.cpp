#include "logger.h"
#include "mainwindow.h"
#include "theme.h"
#include "version.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(Tavrin::AppName));
    QGuiApplication::setDesktopFileName(QLatin1String(Tavrin::AppId));
    Logger::install();
    qInfo("%s %s starting", Tavrin::DisplayName, Tavrin::Version);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/branding/tavrin.ico")));
    QApplication::setApplicationVersion(QLatin1String(Tavrin::Version));
    QApplication::setOrganizationName(QLatin1String(Tavrin::OrgName));
    app.setStyleSheet(Theme::STYLE_SHEET);

    MainWindow window;
    window.show();
    return QApplication::exec();
}
