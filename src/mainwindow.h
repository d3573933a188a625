#pragma once

#include <QList>
#include <QMainWindow>

class QNetworkAccessManager;
class QPushButton;
class QStackedWidget;
class QSystemTrayIcon;
class Addon;
class Clients;
class Prereqs;
class ProjectView;
class SettingsView;
class Settings;
class SetupView;
class Updater;
struct UpdateInfo;

// The one top-level window: owns the services and pages, the sidebar, the welcome dialog,
// the update prompt and the tray icon.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    void switchView(int index);
    void onProjectSelected(const QString &path);
    void showWelcome();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setupTray();
    void buildSidebar(QWidget *sidebar);
    void onUpdateChecked(const UpdateInfo &info);

    QNetworkAccessManager *m_nam = nullptr;
    Settings *m_settings = nullptr;
    Addon *m_addon = nullptr;
    Clients *m_clients = nullptr;
    Prereqs *m_prereqs = nullptr;
    Updater *m_updater = nullptr;
    QList<QPushButton *> m_navButtons;
    QStackedWidget *m_stack = nullptr;
    ProjectView *m_projectView = nullptr;
    SetupView *m_setupView = nullptr;
    SettingsView *m_settingsView = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
};
