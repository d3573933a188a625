#pragma once

#include <QList>
#include <QMainWindow>

class QAction;
class QNetworkAccessManager;
class QPushButton;
class QStackedWidget;
class QSystemTrayIcon;
class ProjectView;
class SettingsView;
class Settings;
class SetupModel;
class SetupView;
class Updater;
struct UpdateInfo;

// The one top-level window: owns the settings, the Setup model, the updater and the pages, the
// sidebar, the welcome dialog, the update prompt and the tray icon. The first frame needs only the
// sidebar and the Projects page; the other pages build their content when first shown.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    void switchView(int index);
    void onProjectSelected(const QString &path);
    void showWelcome();
    // Shows, un-minimises, raises and activates the window: from the tray, or for a second start.
    void bringToFront();
    // A check the user asked for always ends in a toast; an automatic one only logs a failure.
    void checkForUpdates(bool manual);

    // Ends the application, as the tray's Quit does.
    void quit();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupTray();
    void buildSidebar(QWidget *sidebar);
    void placeWindow();
    void onUpdateChecked(const UpdateInfo &info);
    void onUpdateCheckFailed(const QString &error);
    void toast(const QString &message, int type);
    // A toast that replaces the earlier one with the same key.
    void keyedToast(const QString &message, int type, const QString &key);
    void setupShortcuts();
    void onActivated();

    QNetworkAccessManager *m_nam = nullptr;
    Settings *m_settings = nullptr;
    SetupModel *m_setupModel = nullptr;
    Updater *m_updater = nullptr;
    QList<QPushButton *> m_navButtons;
    QStackedWidget *m_stack = nullptr;
    ProjectView *m_projectView = nullptr;
    SetupView *m_setupView = nullptr;
    SettingsView *m_settingsView = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QAction *m_quit = nullptr;
    bool m_shownBefore = false;
    bool m_activatedBefore = false;
    bool m_manualCheck = false;
};
