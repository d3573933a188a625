#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QWidget>

#include <functional>

class GodotLocator;
class QFrame;
class QJsonObject;
class QLabel;
class QVBoxLayout;
class Settings;
struct GodotListedProject;

// The Projects page: choose a Godot project folder, reopen recent ones or open them in Godot, and
// add projects from Godot's own project list. The list of recent projects is updated in place: a
// card stays the same widget for as long as its project is listed.
class ProjectView : public QWidget
{
    Q_OBJECT
public:
    explicit ProjectView(Settings *settings, QWidget *parent = nullptr);

    // Shows the recent projects as the settings hold them, with each addon as it is now.
    void refresh();
    void selectProject();

    // Asks the user for a folder, starting at the given one; empty when cancelled. By default the
    // folder dialog; tests put their own answers in its place.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &startFolder)>;
    void setFolderChooser(FolderChooser chooser);
    // The Godot editor that "Open in Godot" starts; without one the cards offer no such button.
    void setGodot(GodotLocator *godot);

signals:
    void projectSelected(const QString &path);
    // A recent project was taken off the list with its × button: its entry and place, for an Undo.
    void recentProjectRemoved(const QJsonObject &entry, int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    [[nodiscard]] QFrame *makeCard(const QString &path);
    void showCard(QFrame *card, const QString &storedName);
    void openProject(const QString &path, const QString &name);
    void removeProject(QFrame *card);
    // A card's Godot version badge and its "Open in Godot" button.
    void addGodotControls(QFrame *card);
    void showGodot(QFrame *card);
    // The section of projects from Godot's list: read off the GUI thread, shown when read.
    void buildGodotList(QVBoxLayout *layout);
    void readGodotList();
    void showGodotList(const QList<GodotListedProject> &projects);
    void markActive(QFrame *card);

    Settings *m_settings;
    QVBoxLayout *m_listLayout = nullptr;
    QLabel *m_empty = nullptr;
    QList<QFrame *> m_cards; // in list order
    QPixmap m_folderIcon;
    QPixmap m_removeIcon;
    QIcon m_launchIcon;
    FolderChooser m_chooseFolder;
    GodotLocator *m_godot = nullptr;
    QWidget *m_godotList = nullptr;
    QList<QFrame *> m_godotRows;
    int m_godotListReads = 0; // the newest read of Godot's list; older answers are dropped
};
