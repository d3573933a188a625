#include "mainwindow.h"

#include "settings.h"
#include "version.h"

#include <QCloseEvent>

// Skeleton until the full window lands: identity and geometry only.
MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QLatin1String(Tavrin::AppName));
    setMinimumSize(960, 640);
    resize(1060, 720);
    m_settings = new Settings(this);
}

void MainWindow::switchView(int) {}
void MainWindow::onProjectSelected(const QString &) {}
void MainWindow::showWelcome() {}
void MainWindow::setupTray() {}
void MainWindow::buildSidebar(QWidget *) {}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
}
