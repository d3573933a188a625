#pragma once

#include <QWidget>

class QScrollArea;
class QUrl;
class QVBoxLayout;
class Settings;
class Updater;

// The Settings page: permission mode, update options, about box and log access.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    SettingsView(Settings *settings, Updater *updater, QWidget *parent = nullptr);

    void buildUI();
    void refresh();

signals:
    void showToast(const QString &msg, int type);
    void permissionModeChanged(const QString &mode);
    // "Check Now": the main window runs the check, so that it knows the user is waiting for an answer.
    void updateCheckRequested();

private:
    void openUrl(const QUrl &url, const QString &what);

    Settings *m_settings;
    Updater *m_updater;
    QVBoxLayout *m_rootLayout = nullptr;
    QScrollArea *m_scroll = nullptr;
};
