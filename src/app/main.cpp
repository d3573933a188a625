#include "app/singleinstance.h"
#include "base/logger.h"
#include "base/toolprocess.h"
#include "core/setupmodel.h"
#include "gui/mainwindow.h"
#include "gui/widgets/theme.h"
#include "version.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QThreadPool>

#include <algorithm>
#include <cstdlib>

namespace {
// How long the way out waits for background work once the window is gone.
constexpr int s_quitWaitMs = 3000;
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(Tavrin::AppName));
    QGuiApplication::setDesktopFileName(QLatin1String(Tavrin::AppId));
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
    app.setStyleSheet(Theme::styleSheet());

    // Quitting (the tray's "Quit", or closing the window without a tray) cancels what workers are
    // waiting for, so that the application, whose end waits for the thread pool, ends promptly.
    ToolProcess::endAllWhenQuitting();
    int code = 0;
    {
        MainWindow window;
        QObject::connect(&instance, &SingleInstance::activationRequested, &window, [&window] {
            qInfo("Another start asked for the window; showing it");
            window.bringToFront();
        });
        window.show();
        code = QApplication::exec();
    }
    // Anything else a worker may be stuck in (a hung network drive, say) must not keep an invisible
    // process alive. Every file we write is replaced atomically and an interrupted addon update is
    // finished by the next operation, so ending here loses nothing.
    QElapsedTimer waited;
    waited.start();
    const bool done =
        SetupModel::workers()->waitForDone(s_quitWaitMs) &&
        QThreadPool::globalInstance()->waitForDone(int(std::max<qint64>(0, s_quitWaitMs - waited.elapsed())));
    if (!done) {
        qWarning("Background work still running %d ms after quitting; ending without waiting for it", s_quitWaitMs);
        std::_Exit(code);
    }
    return code;
}
