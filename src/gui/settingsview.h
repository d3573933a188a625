#pragma once

#include <QList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QUrl;
class QVBoxLayout;
class Settings;

// The Settings page: permission mode, update options, where backups are kept, about box and log
// access. Its content is built when the page is first shown, once; refresh() and the settings'
// own signals update it in place.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsView(Settings *settings, QWidget *parent = nullptr);

    // Builds the content if it is not yet built, and shows what the settings hold now.
    void refresh();

signals:
    void showToast(const QString &msg, int type);
    // "Check Now": the main window runs the check, so that it knows the user is waiting for an answer.
    void updateCheckRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    void showMode();
    void openUrl(const QUrl &url, const QString &what);

    Settings *m_settings;
    QScrollArea *m_scroll = nullptr; // null until built
    QList<QPushButton *> m_toggles;  // one per permission mode, in the order of the modes
    QCheckBox *m_autoCheck = nullptr;
    QLabel *m_lastCheck = nullptr;
    QLabel *m_about = nullptr;
};
