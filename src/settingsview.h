#pragma once

#include <QWidget>

class QScrollArea;
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

private:
    Settings *m_settings;
    Updater *m_updater;
    QVBoxLayout *m_rootLayout = nullptr;
    QScrollArea *m_scroll = nullptr;
};
