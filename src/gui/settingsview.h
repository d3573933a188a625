#pragma once

#include <QList>
#include <QWidget>

#include <functional>

class ElidedLabel;
class GodotLocator;
class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QUrl;
class QVBoxLayout;
class Settings;

// The Settings page: permission mode, the Godot editor in use, update options, where backups are
// kept, about box and log access. Its content is built when the page is first shown, once; refresh() and the settings'
// own signals update it in place.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsView(Settings *settings, QWidget *parent = nullptr);

    // Builds the content if it is not yet built, and shows what the settings hold now.
    void refresh();

    // The Godot editor the app uses, which the GODOT EDITOR card shows and changes; before the
    // page is first shown.
    void setGodot(GodotLocator *godot);
    // Asks the user for a program, starting in the given folder; empty when cancelled. By default
    // the file dialog; tests put their own answers in its place.
    using FileChooser = std::function<QString(QWidget *parent, const QString &startFolder)>;
    void setFileChooser(FileChooser chooser);

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
    void buildGodotSection(QVBoxLayout *layout);
    void showGodot();
    void chooseGodot();

    Settings *m_settings;
    QScrollArea *m_scroll = nullptr; // null until built
    QList<QPushButton *> m_toggles;  // one per permission mode, in the order of the modes
    QCheckBox *m_autoCheck = nullptr;
    QCheckBox *m_prereleases = nullptr;
    QLabel *m_lastCheck = nullptr;
    QLabel *m_about = nullptr;
    GodotLocator *m_godot = nullptr;
    FileChooser m_chooseFile;
    QLabel *m_godotName = nullptr;
    ElidedLabel *m_godotProgram = nullptr;
    QLabel *m_godotNote = nullptr;
    QPushButton *m_chooseGodot = nullptr;
    QPushButton *m_detectGodot = nullptr;
};
